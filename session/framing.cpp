#include "session/framing.h"

#include "serial/comport.h"
#include "session/protocol.h"
#include "session/receiver.h"
#include "session/session_state.h"
#include "shell/status.h"

std::uint8_t FrameChecksum(const std::uint8_t* bytes, int n) {
    std::uint8_t sum = 0;
    for (int i = 0; i < n; ++i)
        sum = static_cast<std::uint8_t>(sum - bytes[i]);
    return sum;
}

std::int16_t SendFrame(std::uint8_t* buffer, int n) {
    buffer[n] = FrameChecksum(buffer, n);
    for (int attempt = 0;; ++attempt) {
        // A Stop that came since the last wait ends the run before the board gets another frame.
        if (AbortRequested != 0) {
            AbortRequested = 0;
            return kExchangeStopped;
        }
        DiscardStaleInput();
        AckReceived = 0;
        NakReceived = 0;
        if (!WritePort(SelectedPortIndex, buffer, n + 1)) {
            // A frame that did not go out whole gets no answer: the device has gone, or it
            // stopped reading. A Stop pressed while the write waited still counts as a Stop.
            if (AbortRequested != 0) {
                AbortRequested = 0;
                return kExchangeStopped;
            }
            return kExchangeNoReply;
        }
        switch (WaitReply(static_cast<int>(kFrameReplyWait.count()))) {
        case kWaitAccepted:
            return kExchangeAccepted;
        case kWaitNoReply:
            return kExchangeNoReply; // no resend after silence
        case kWaitStopped:
            return kExchangeStopped;
        default:
            break; // kWaitRefused: resend the same bytes at once
        }
        // Always the main window's bar, also while the compact window is the one on screen.
        ShowPanelText(MainStatusBar(), StatusPanelIndex, QString::asprintf("Resend %d", attempt));
        if (attempt >= kMaxResends)
            return kExchangeRefused;
    }
}

void ReportSessionError(std::int16_t code) {
    switch (code) {
    case kExchangeNoReply:
        ShowResult(QStringLiteral(" not Response "), kColorRed, 0);
        break;
    case kExchangeStopped:
        ShowResult(QStringLiteral(" User Abort !! "), kColorRed, 0);
        break;
    case kExchangeRefused:
        ShowResult(QStringLiteral(" CHK Error !! "), kColorRed, 0);
        break;
    default:
        break;
    }
}
