#include "session/search.h"

#include "catalogue/catalogue.h"
#include "catalogue/product.h"
#include "serial/comport.h"
#include "session/framing.h"
#include "session/protocol.h"
#include "session/receiver.h"
#include "session/session_state.h"
#include "shell/status.h"

#include <optional>

std::uint8_t ProbeByte() {
    // The release decides, not the front end: a release with the compact window probes with
    // its byte from the command line too.
    return UsesCompactLayout(QString::fromLatin1(ProductString())) ? kCmdProbeCompact : kCmdProbe;
}

std::int16_t SearchDevice(ProgressDisplay* progressBar, PanelDisplay* statusBar) {
    UnansweredBlocks.clear(); // of the board before: every run starts with a search
    // A port that failed to open earlier is tried again: the adapter may have been plugged in
    // since, and otherwise every press would silently do nothing.
    if (OpenPortIndex == SelectedPortIndex && FlushPort(SelectedPortIndex) < 0)
        OpenPortIndex = static_cast<std::int16_t>(SelectedPortIndex - 1);
    ShowPortOpenFailure(OpenSelectedPort());
    ShowPortPanel(statusBar);
    ShowRunningButtons();
    ShowProgress(progressBar, 0);
    if (FlushPort(SelectedPortIndex) < 0) {
        ShowIdleButtons();
        return kSearchPortUnusable;
    }

    BlockState = 0;
    DeviceText[0] = '\0';
    ProtectedStart = 0;
    ProtectedLength = 0;
    SkipStart = 0;
    SkipLength = 0;
    ClearDeviceInfo();
    AbortRequested = 0; // a Stop pressed while no session ran must not end this one

    CommandBuffer[0] = ProbeByte();
    SetProgressRange(progressBar, 100);
    bool found = false;
    for (int attempt = 0; attempt < kSearchAttempts && !found; ++attempt) {
        DrainInput(); // a late answer to the previous probe is not this probe's answer
        ClearDeviceInfo();
        if (CompactLayout()) {
            ShowProgress(progressBar, 100 - attempt);
            ShowPanelText(statusBar, StatusPanelIndex, QStringLiteral("Search Device"));
        } else {
            ShowPanelText(statusBar, StatusPanelIndex, QStringLiteral("Try %1").arg(attempt));
        }
        AckReceived = 0;
        NakReceived = 0;
        WritePort(SelectedPortIndex, CommandBuffer, 1);
        switch (WaitReply(static_cast<int>(kProbeReplyWait.count()))) {
        case kWaitStopped:
            ReportSessionError(kExchangeStopped);
            ShowProgress(progressBar, 0);
            return kSearchStopped;
        case kWaitAccepted:
            found = true;
            break;
        default:
            break; // silence or 'N': probe again
        }
    }
    ShowProgress(progressBar, 0);
    if (!found) {
        ShowPanelText(statusBar, StatusPanelIndex, QStringLiteral("Device not Found"));
        ShowIdleButtons();
        return kSearchNotFound;
    }
    return kSearchFound;
}

void ShowDeviceInfo() {
    if (!IdentityLinesShown())
        return;
    const bool fromRecord = VersionRecordSeen != 0;
    const std::uint8_t board = fromRecord ? DeviceInfo.BoardCode : ImageBoardCode;
    const std::uint8_t preparation = fromRecord ? DeviceInfo.PreparationCode : ImagePreparationCode;
    const QString line = QString::asprintf("BIOS:%02d - %s - Preparation%02x",
                                           DeviceInfo.BiosVersion, BoardName(board), preparation);
    std::optional<QString> boardText;
    if (IsTextBlockVersion(DeviceInfo.BiosVersion)) {
        if (static_cast<std::uint8_t>(DeviceText[0]) == 0xFF)
            DeviceText[0] = '\0'; // an erased text area on the board
        boardText = QString::fromLatin1(DeviceText);
    }
    ShowIdentityLines(line, boardText);
}
