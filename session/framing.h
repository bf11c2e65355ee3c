// The sending half of the bootloader protocol: checksummed frames with resends.
#pragma once

#include <cstdint>

// Exchange results.
inline constexpr std::int16_t kExchangeAccepted = 0;
inline constexpr std::int16_t kExchangeNoReply = -1;
inline constexpr std::int16_t kExchangeStopped = -2;
inline constexpr std::int16_t kExchangeRefused = -3; // refused five times in a row

// The byte that makes the 8-bit sum of the n command bytes and itself 0.
std::uint8_t FrameChecksum(const std::uint8_t* bytes, int n);
// Appends the checksum at buffer[n], sends the n + 1 bytes and waits for the reply,
// resending after 'N' (five sends at most). Returns one of the exchange results.
std::int16_t SendFrame(std::uint8_t* buffer, int n);
// Shows the error word of -1, -2 or -3 in red; nothing for any other code.
void ReportSessionError(std::int16_t code);
