#include "session/receiver.h"

#include "serial/comport.h"
#include "session/protocol.h"
#include "session/session_state.h"

namespace {
std::uint8_t RxBuffer[kRxBufferSize];

bool SessionPortOpen() {
    return SelectedPortIndex >= 0 && SelectedPortIndex < kPortCount &&
           PortTable[SelectedPortIndex].open;
}
} // namespace

void DrainInput() {
    while (ReadPort(SelectedPortIndex, RxBuffer, kRxBufferSize) > 0) {
    }
}

void DiscardStaleInput() {
    DrainInput();
    // Nothing the bootloader sends during programming opens a text block or an identity record;
    // one left open would take the coming 'K' for its data.
    BlockState = 0;
    InfoPosition = kNoInfoRecord;
}

bool SettleAfterSilence(int quietMs, int limitMs) {
    AckReceived = 0;
    NakReceived = 0;
    const int cycle = static_cast<int>(kPumpCycle.count());
    int quiet = 0;
    for (int waited = 0; quiet < quietMs && waited < limitMs && !AbortRequested; waited += cycle) {
        PumpDelay(cycle);
        const int count = ReadPort(SelectedPortIndex, RxBuffer, kRxBufferSize);
        if (count > 0) {
            ParseReplyBytes(RxBuffer, static_cast<std::size_t>(count));
            quiet = 0;
        } else {
            quiet += cycle;
        }
    }
    return AckReceived != 0;
}

void PollReplies() {
    const int count = ReadPort(SelectedPortIndex, RxBuffer, kRxBufferSize);
    if (count > 0)
        ParseReplyBytes(RxBuffer, static_cast<std::size_t>(count));
}

std::int16_t WaitReply(int ms) {
    const bool portWasOpen = SessionPortOpen();
    for (int cycle = 0; cycle < ms / kPumpCycle.count(); ++cycle) {
        PumpDelay(static_cast<int>(kPumpCycle.count()));
        PollReplies();
        // A device that vanished during the wait (its record was closed) will not answer.
        if (portWasOpen && !SessionPortOpen() && !AckReceived && !NakReceived && !AbortRequested)
            return kWaitNoReply;
        if (AbortRequested) {
            AbortRequested = 0;
            return kWaitStopped;
        }
        if (AckReceived)
            return kWaitAccepted;
        if (NakReceived)
            return kWaitRefused;
    }
    return kWaitNoReply;
}

void ClearDeviceInfo() {
    DeviceInfo = DeviceIdentity{};
    // An identity record cut off earlier (board unplugged mid-answer, line noise) must not
    // lend its bytes to the next answer: an older bootloader's chip code would land in the
    // record and the board be taken for a newer one.
    PendingInfo = DeviceIdentity{};
    InfoPosition = kNoInfoRecord;
    VersionRecordSeen = 0;
}
