#include "shell/quillet.h"

#include "catalogue/catalogue.h"
#include "catalogue/version.h"
#include "serial/serialsetup.h"
#include "session/session_state.h"
#include "shell/fonts.h"
#include "shell/identity.h"
#include "shell/parent_link.h"
#include "shell/startup.h"
#include "shell/status.h"
#include "shell/update.h"
#include "ui_quillet.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>

// The pictures live in the core library's resources, which a static library must register.
static void InitResources() {
    Q_INIT_RESOURCE(resources);
}

TForm1::TForm1(QWidget* parent) : QMainWindow(parent), ui_(std::make_unique<Ui::TForm1>()) {
    InitResources();
    ui_->setupUi(this);
    Button1 = ui_->Button1;
    Button2 = ui_->Button2;
    Image1 = ui_->Image1;
    Image2 = ui_->Image2;
    Label1 = ui_->Label1;
    Label2 = ui_->Label2;
    Label3 = ui_->Label3;
    Label4 = ui_->Label4;
    Label5 = ui_->Label5;
    ProgressBar1 = ui_->ProgressBar1;
    StatusBar1 = ui_->StatusBar1;
    S1 = ui_->S1;

    SetFontPixels(Label1, 40, true, "Times");
    SetFontPixels(Label2, 24, true);
    SetFontPixels(Label3, 24, true);
    SetFontPixels(Label4, 16, true);
    SetFontPixels(Label5, 13, true);
    Label5->setStyleSheet(QStringLiteral("color: #c00000"));
    StatusBar1->setPanelWidths({50, 130, 100, 50});
    StatusBar1->setFixedHeight(19);

    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(S1, &QAction::triggered, this, &TForm1::S1Click);
    connect(Label1, &ClickableLabel::doubleClicked, this, &TForm1::Label1DblClick);
    connect(Image1, &ClickableLabel::doubleClicked, this, &TForm1::Image1DblClick);

    // Construction steps, in their order.
    StartParentLink();
    const PictureChoice pictures = ChoosePictures(QString::fromLatin1(ProductString()));
    Image1->setVisible(pictures.image1Visible);
    Image2->setVisible(pictures.image2Visible);
    setWindowTitle(BuildMainTitle());
    // The window's hint is kept, not shown: as a tooltip it would pop up over every control.
    setAccessibleDescription(windowTitle());
    QApplication::setApplicationDisplayName(QString());
    QApplication::setApplicationName(QString::fromLatin1(ProductString()));
    Label1->setText(QString::fromLatin1(ProductString()));
    LoadSettings();
    BuildImageCatalogue();
    ShowPortPanel(StatusBar1);
    StartingUp = false;

    // Fixed size: client area 511 x 265 below the menu bar.
    setFixedSize(511, 265 + menuBar()->sizeHint().height());
}

TForm1::~TForm1() = default;

void TForm1::Button1Click() {
    RunUpdate(ProgressBar1, StatusBar1, this);
}

void TForm1::Button2Click() {
    Button2->setVisible(false);
    AbortRequested = 1;
}

void TForm1::S1Click() {
    Label2->setVisible(false);
    Label2->repaint();
    Label5->setVisible(false); // the reason goes with the result line it explained
    Label5->repaint();
    Label3->setVisible(false);
    Label3->repaint();
    if (Form3 != nullptr) {
        Form3->show();
        Form3->raise();
        Form3->activateWindow();
    }
}

void TForm1::Label1DblClick() {
    if (Form4 == nullptr)
        return;
    Form4->setWindowTitle(Label1->text() + QStringLiteral("   [ ") +
                          QString::fromLatin1(kBuildTime) + QStringLiteral(" - ") +
                          QString::fromLatin1(kBuildDate) + QStringLiteral(" ]"));
    Form4->show();
    Form4->raise(); // already open: to the front
    Form4->activateWindow();
}

void TForm1::Image1DblClick() {}

void TForm1::FormShow() {}

void TForm1::FormClose() {
    SaveSettingsOnClose();
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    FormShow();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (DeferCloseWhileSessionRuns(this)) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
    if (Form5 == nullptr)
        QApplication::quit(); // the main window ends the program
}
