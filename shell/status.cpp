#include "shell/status.h"

#include "serial/comport.h"
#include "shell/mhead.h"
#include "shell/panel_status_bar.h"
#include "shell/parent_link.h"
#include "shell/quillet.h"
#include "shell/windows.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <utility>

TForm1* Form1 = nullptr;
TForm5* Form5 = nullptr;
TForm3* Form3 = nullptr;
TForm4* Form4 = nullptr;
bool StartingUp = true;

std::int32_t PortPanelIndex = 0;
std::int32_t StatusPanelIndex = 1;
std::int32_t ChipPanelIndex = 2;
std::int32_t ImagePanelIndex = 3;

QColor ToQColor(ColorValue value) {
    if (value & 0x80000000u) {
        // System colours: only the button face is used; anything else takes the window colour.
        const QPalette palette = QApplication::palette();
        return (value & 0xFFu) == 0x0F ? palette.color(QPalette::Button)
                                       : palette.color(QPalette::Window);
    }
    return QColor(static_cast<int>(value & 0xFFu), static_cast<int>((value >> 8) & 0xFFu),
                  static_cast<int>((value >> 16) & 0xFFu));
}

void ShowColouredLine(QLabel* line, const QString& text, ColorValue background,
                      ColorValue foreground) {
    line->setText(text);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, ToQColor(background));
    palette.setColor(QPalette::WindowText, ToQColor(foreground));
    line->setPalette(palette);
    line->setAutoFillBackground(true);
    line->setVisible(true);
}

namespace {
// The compact layout shows no chip texts, so that panel is free for the port's failure.
constexpr int kCompactReasonPanel = 2;

void ClearCompactPortFailure() {
    Form5->StatusBar1->setPanelText(kCompactReasonPanel, QString());
    Form5->StatusBar1->setToolTip(QString());
}
} // namespace

void ShowResult(const QString& text, ColorValue colour, ResultCode code) {
    NotifyParent(code); // before anything is displayed
    if (Form5 != nullptr) {
        ClearCompactPortFailure();
        Form5->StatusBar1->setPanelText(StatusPanelIndex, text);
        return;
    }
    if (Form1 == nullptr)
        return;
    Form1->Label5->setVisible(false);
    ShowColouredLine(Form1->Label2, text, colour, kColorWhite);
    if (!StartingUp) {
        Form1->S1->setEnabled(true);
        Form1->Button2->setVisible(false);
        Form1->Button1->setVisible(true);
        Form1->Button1->setFocus();
    }
}

void ShowStatus(const QString& text, ColorValue colour) {
    if (Form5 != nullptr) {
        ClearCompactPortFailure();
        Form5->StatusBar1->setPanelText(StatusPanelIndex, text);
        return;
    }
    if (Form1 != nullptr) {
        Form1->Label5->setVisible(false);
        ShowColouredLine(Form1->Label2, text, colour, kColorBlack);
    }
}

void ShowPortFailure(const QString& reason) {
    if (Form5 != nullptr) {
        // The tip holds the whole text where the panel cuts it.
        Form5->StatusBar1->setPanelText(kCompactReasonPanel, reason);
        Form5->StatusBar1->setToolTip(reason);
        return;
    }
    if (Form1 == nullptr)
        return;
    // The identity lines belong to a board this port no longer reaches.
    Form1->Label3->setVisible(false);
    Form1->Label4->setVisible(false);
    Form1->Label5->setText(reason);
    Form1->Label5->setVisible(true);
    Form1->Label5->repaint();
}

bool CompactLayout() {
    return Form5 != nullptr;
}

bool IdentityLinesShown() {
    return Form1 != nullptr;
}

void ShowPortPanel(PanelDisplay* statusBar) {
    const QString text = SelectedPortIndex < 0 ? QStringLiteral("-----")
                                               : QStringLiteral("COM%1").arg(SelectedPortIndex + 1);
    statusBar->setPanelText(PortPanelIndex, text);
}

void ShowPortOpenFailure(const PortOpenResult& result) {
    const char* box = nullptr;
    if (result.failure == PortFailure::kLineRefused)
        box = "Unable to configure the serial port";
    else if (result.failure == PortFailure::kTimeoutsRefused)
        box = "Unable to set the time-out parameters";
    if (box != nullptr) {
        QMessageBox message(QMessageBox::NoIcon, QStringLiteral("Error"), QString::fromLatin1(box),
                            QMessageBox::Ok);
        message.exec();
    }
    if (result.failure == PortFailure::kNone)
        return;
    ShowResult(QStringLiteral("Invalid Port Com"), kColorRed, 0);
    ShowPortFailure(QStringLiteral("COM%1: ").arg(SelectedPortIndex + 1) +
                    PortFailureReason(result.port));
}

namespace {
// The start/stop pair of the window in use (start first), or nothing without a window.
std::pair<QPushButton*, QPushButton*> SessionButtons() {
    if (Form5 != nullptr)
        return {Form5->Button1, Form5->Button2};
    if (Form1 != nullptr)
        return {Form1->Button1, Form1->Button2};
    return {nullptr, nullptr};
}
} // namespace

namespace {
// The stop button first, then the start button in its place; an idle start button takes the
// focus.
void ShowSessionButtons(bool running) {
    const auto [start, stop] = SessionButtons();
    if (start == nullptr)
        return;
    stop->setVisible(running);
    start->setVisible(!running);
    if (!running)
        start->setFocus();
}
} // namespace

void ShowIdleButtons() {
    ShowSessionButtons(false);
}

void ShowRunningButtons() {
    ShowSessionButtons(true);
}

PanelDisplay* MainStatusBar() {
    return Form1 != nullptr ? Form1->StatusBar1 : nullptr;
}

PanelDisplay* CompactStatusBar() {
    return Form5 != nullptr ? Form5->StatusBar1 : nullptr;
}

void ShowPanelText(PanelDisplay* statusBar, std::int32_t index, const QString& text) {
    if (statusBar != nullptr)
        statusBar->setPanelText(index, text); // ignores indices outside its panels
}

void SetProgressRange(ProgressDisplay* progressBar, int maximum) {
    progressBar->setMaximum(maximum);
}

void ShowProgress(ProgressDisplay* progressBar, int position) {
    progressBar->setValue(position);
}

void ShowIdentityLines(const QString& device, const std::optional<QString>& boardText) {
    if (Form1 == nullptr)
        return;
    ShowColouredLine(Form1->Label3, device, kColorButtonFace, kColorBlack);
    Form1->Label3->repaint();
    if (boardText) {
        ShowColouredLine(Form1->Label4, *boardText, kColorButtonFace, kColorBlack);
        Form1->Label4->repaint();
    } else {
        Form1->Label4->setVisible(false);
    }
}
