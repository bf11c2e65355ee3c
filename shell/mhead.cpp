#include "shell/mhead.h"

#include "catalogue/catalogue.h"
#include "serial/serialsetup.h"
#include "session/session_state.h"
#include "shell/fonts.h"
#include "shell/identity.h"
#include "shell/panel_status_bar.h"
#include "shell/parent_link.h"
#include "shell/startup.h"
#include "shell/status.h"
#include "shell/update.h"
#include "ui_mhead.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>

TForm5::TForm5(QWidget* parent) : QMainWindow(parent), ui_(std::make_unique<Ui::TForm5>()) {
    ui_->setupUi(this);
    Button1 = ui_->Button1;
    Button2 = ui_->Button2;
    ProgressBar1 = ui_->ProgressBar1;
    StatusBar1 = ui_->StatusBar1;
    SerialPort1 = ui_->SerialPort1;

    SetFontPixels(Button1, 33, true);
    SetFontPixels(Button2, 33, true);
    StatusBar1->setPanelWidths({50, 130, 130, 140, 20});
    StatusBar1->setFixedHeight(29);

    connect(Button1, &QPushButton::clicked, this, &TForm5::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm5::Button2Click);
    connect(SerialPort1, &QAction::triggered, this, &TForm5::SerialPort1Click);

    // Construction steps, in their order.
    StartParentLink();
    setWindowTitle(BuildCompactTitle());
    // The window's hint is kept, not shown: as a tooltip it would pop up over every control.
    setAccessibleDescription(windowTitle());
    QApplication::setApplicationName(QString::fromLatin1(ProductString()));
    LoadSettings();
    BuildImageCatalogue();
    ShowPortPanel(StatusBar1);
    ChipPanelIndex = -2; // the compact layout shows no chip texts

    // Fixed size (this window keeps its minimise and maximise boxes).
    setFixedSize(606, 181 + menuBar()->sizeHint().height());
}

TForm5::~TForm5() = default;

void TForm5::Button1Click() {
    RunUpdate(ProgressBar1, StatusBar1, this);
}

void TForm5::Button2Click() {
    Button2->setVisible(false);
    Button1->setVisible(true);
    AbortRequested = 1;
}

void TForm5::SerialPort1Click() {
    if (Form3 != nullptr) {
        Form3->show();
        Form3->raise();
        Form3->activateWindow();
    }
}

void TForm5::FormClose() {
    SaveSettingsOnClose();
}

void TForm5::closeEvent(QCloseEvent* event) {
    if (DeferCloseWhileSessionRuns(this)) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
    QApplication::quit(); // the main window ends the program
}
