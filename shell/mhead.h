// The compact main window: one big START/STOP pair, a progress bar and a five-panel status bar.
#pragma once

#include "shell/windows.h"

#include <QMainWindow>
#include <memory>

namespace Ui {
class TForm5;
}
class QAction;
class QPushButton;
class PanelStatusBar;

class TForm5 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);
    ~TForm5() override;

    QPushButton* Button1;
    QPushButton* Button2;
    SessionProgressBar* ProgressBar1;
    PanelStatusBar* StatusBar1;
    QAction* SerialPort1;

    void Button1Click();
    void Button2Click();
    void SerialPort1Click();
    void FormClose();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::TForm5> ui_;
};
