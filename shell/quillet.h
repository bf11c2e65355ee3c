// The full main window.
#pragma once

#include "shell/windows.h"

#include <QMainWindow>
#include <memory>

namespace Ui {
class TForm1;
}
class QCloseEvent;
class QLabel;
class QPushButton;
class QAction;
class ClickableLabel;
class PanelStatusBar;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, named as in the window design.
    QPushButton* Button1;
    QPushButton* Button2;
    ClickableLabel* Image1;
    QLabel* Image2;
    ClickableLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5; // why the port cannot be used, above "Invalid Port Com"; hidden otherwise
    SessionProgressBar* ProgressBar1;
    PanelStatusBar* StatusBar1;
    QAction* S1;

    void Button1Click();
    void Button2Click();
    void S1Click();
    void Label1DblClick();
    void Image1DblClick();
    void FormShow();
    void FormClose();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::TForm1> ui_;
};
