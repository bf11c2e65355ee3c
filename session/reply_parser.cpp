// The reply parser: a plain function over bytes with its state in the session variables, so a
// reply may arrive split across any number of reads. No I/O here.
#include "session/protocol.h"
#include "session/receiver.h"
#include "session/session_state.h"

namespace {

void ParseIdle(std::uint8_t b) {
    if (b == kReplyTextBlock && IsTextBlockVersion(DeviceInfo.BiosVersion)) {
        BlockPosition = 0;
        BlockState = 1;
    } else if (b == kReplyAck) {
        DeviceInfo = PendingInfo; // the 'K' commits the identity record
        AckReceived = 1;
    } else if (b == kReplyNak) {
        NakReceived = 1;
    } else if (b == kReplyVersion) {
        VersionRecordSeen = 1;
        PendingInfo.BiosVersion = 1;
        InfoPosition = 0;
        BlockComplete = 0;
    } else {
        // The identity bytes of a V record, in the order they arrive.
        std::uint8_t* const record[] = {&PendingInfo.BiosVersion, &PendingInfo.ChipCode,
                                        &PendingInfo.BoardCode, &PendingInfo.PreparationCode};
        if (InfoPosition < 4) {
            *record[InfoPosition] = b;
            InfoPosition =
                InfoPosition == 3 ? kNoInfoRecord : static_cast<std::uint8_t>(InfoPosition + 1);
        } else {
            // An older bootloader answers with its chip code alone.
            VersionRecordSeen = 0;
            PendingInfo.BiosVersion = 0;
            PendingInfo.ChipCode = b;
        }
    }
}

void ParseBlockData(std::uint8_t b) {
    if (BlockPosition < BlockLength) {
        if (BlockPosition < kDeviceTextLength) {
            DeviceText[BlockPosition] = static_cast<char>(b);
            DeviceText[BlockPosition + 1] = '\0';
        } else if (BlockPosition == 24) {
            ProtectedStart = b;
        } else if (BlockPosition == 25) {
            ProtectedStart = static_cast<std::uint16_t>(ProtectedStart | (b << 8));
        } else if (BlockPosition == 26) {
            ProtectedLength = b;
        } else if (BlockPosition == 27) {
            ProtectedLength = static_cast<std::uint16_t>(ProtectedLength | (b << 8));
        }
        ++BlockPosition;
        return;
    }
    // All data bytes are in: only the closing 'K' matters; it neither acknowledges nor commits.
    if (b == kReplyAck) {
        BlockComplete = 1;
        BlockState = 0;
    }
}

} // namespace

void ParseReplyBytes(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        switch (BlockState) {
        case 0:
            ParseIdle(b);
            break;
        case 1:
            BlockLength = b;
            BlockPosition = 0;
            BlockState = 2;
            break;
        case 2:
            BlockState = 3;
            break; // spare byte
        default:
            ParseBlockData(b);
            break;
        }
    }
}
