#include "support/board_session.h"

#include "catalogue/catalogue.h"
#include "serial/comport.h"
#include "session/programming.h"
#include "session/session_state.h"
#include "shell/panel_status_bar.h"
#include "shell/startup.h"
#include "shell/status.h"

#include <QLabel>
#include <algorithm>
#include <iterator>

void ResetUpdaterState() {
    for (int i = 0; i < kPortCount; ++i)
        ClosePort(i);
    ResetSessionState();
    BuildImageCatalogue();
    SelectedImage = ImageDescriptor{};
    ImagesScrambled = 1;
    SelectedPortIndex = 0;
    OpenPortIndex = -1;
    PortHeldBySession = false;
    SessionRunning = false;
    // The chip parameters and sizes of the last run.
    AddressUnit = 1;
    BootAreaSize = 320;
    LargeBootAreaSize = 1088;
    std::fill(std::begin(ResetPatch), std::end(ResetPatch), std::uint8_t{0});
    ResetPatchLength = 4;
    BlockSize = 64;
    ProgramLimit = 0;
    ProgramLength = 0;
    // The windows and the status panels.
    PortPanelIndex = 0;
    StatusPanelIndex = 1;
    ChipPanelIndex = 2;
    ImagePanelIndex = 3;
    StartingUp = true;
    Form1 = nullptr;
    Form3 = nullptr;
    Form4 = nullptr;
    Form5 = nullptr;
}

BoardSession::BoardSession(std::vector<std::string> simArgs)
    : sim(std::move(simArgs), env.comDir().toStdString()) {
    env.writeComSetting(QStringLiteral("0"));
    window = std::make_unique<TForm1>();
    Form1 = window.get();
    window->show();
}

BoardSession::~BoardSession() {
    window.reset();
    ResetUpdaterState();
}

QString BoardSession::panel(int index) const {
    return window->StatusBar1->panelText(index);
}

QString BoardSession::resultLine() const {
    return window->Label2->isHidden() ? QString() : window->Label2->text();
}

std::vector<std::string> BoardSession::log(const std::string& kind) const {
    std::vector<std::string> lines;
    for (const std::string& line : sim.logLines())
        if (line.rfind(kind + " ", 0) == 0)
            lines.push_back(line);
    return lines;
}

std::string BoardSession::field(const std::string& line, const std::string& key) {
    return SimBoard::logField(line, key);
}
