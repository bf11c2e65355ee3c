// The bootloader wire protocol as one table of constants.
#pragma once

#include <chrono>
#include <cstdint>

// Host to device.
inline constexpr std::uint8_t kCmdProbe = 0xC2; // search probe from the full window
inline constexpr std::uint8_t kCmdProbeCompact =
    0xC5; // search probe when the compact window exists
inline constexpr std::uint8_t kCmdEnterProgramMode =
    0xCC; // bare; bootloaders 5 and up with a V record
inline constexpr std::uint8_t kCmdWriteFlashBlock =
    0x00; // addr hi, addr lo, length (1 or 2 bytes), data
inline constexpr std::uint8_t kCmdWriteEepromByte = 0x40; // addr, data, 0x01, 0x00

// Device to host.
inline constexpr std::uint8_t kReplyAck = 'K'; // accepted; also ends an identity record
inline constexpr std::uint8_t kReplyNak = 'N'; // frame refused (checksum): resend it
inline constexpr std::uint8_t kReplyVersion =
    'V'; // identity record: version, chip, board, preparation
inline constexpr std::uint8_t kReplyTextBlock = 'R'; // text block: length, spare, data, 'K'

// Bootloader versions 8 to 31 send a text block after their identity.
inline constexpr bool IsTextBlockVersion(std::uint8_t version) {
    return version >= 8 && version <= 31;
}

// Reply waits; each is made of pump cycles (kPumpCycle, serial/comport.h).
inline constexpr std::chrono::milliseconds kProbeReplyWait{100};
inline constexpr std::chrono::milliseconds kFrameReplyWait{1000};
inline constexpr std::chrono::milliseconds kProgramModeReplyWait{2000};
// After a full block that drew no reply: the line must stay quiet this long before the next
// frame goes out, so that a late 'K' is not taken for the next frame's; a line that never goes
// quiet is given up on after the limit.
inline constexpr std::chrono::milliseconds kSilenceSettleQuiet{150};
inline constexpr std::chrono::milliseconds kSilenceSettleLimit{600};

inline constexpr int kSearchAttempts = 100;
inline constexpr int kMaxResends = 4; // a frame is sent at most 1 + 4 times
