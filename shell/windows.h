// The windows of the process and what the window side of the status operations shares.
#pragma once

#include "shell/status.h"

#include <QColor>
#include <QProgressBar>

class QLabel;
class TForm1;
class TForm3;
class TForm4;
class TForm5;

// The windows of the process; a null pointer means that window does not exist.
extern TForm1* Form1;
extern TForm5* Form5; // the compact main window, only for "HGJ"/"KFN" products
extern TForm3* Form3;
extern TForm4* Form4;

// True until the full main window has been constructed; ShowResult leaves the buttons alone.
extern bool StartingUp;

QColor ToQColor(ColorValue value);
// Writes a line in its colours and shows it.
void ShowColouredLine(QLabel* line, const QString& text, ColorValue background,
                      ColorValue foreground);

// The main windows' progress bar, as the session reports on it.
class SessionProgressBar : public QProgressBar, public ProgressDisplay {
    Q_OBJECT
public:
    explicit SessionProgressBar(QWidget* parent = nullptr) : QProgressBar(parent) {}
    void setMaximum(int maximum) override { QProgressBar::setMaximum(maximum); }
    void setValue(int position) override { QProgressBar::setValue(position); }
};
