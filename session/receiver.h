// The receiving half of the bootloader protocol: one parser with persistent state fed with
// whatever the session port has queued, and the timed wait every exchange rests on.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kRxBufferSize = 3072; // one read takes at most this many bytes

// Parses bytes from the bootloader into the session state; a reply may be split anywhere.
void ParseReplyBytes(const std::uint8_t* bytes, std::size_t count);

// Reads and discards everything queued on the session port.
void DrainInput();
// One read of the session port, parsed.
void PollReplies();
// Waits ms / 5 cycles of 5 ms: 1 on 'K', -1 on 'N', -2 on a Stop request (cleared), 0 on time-out.
std::int16_t WaitReply(int ms);
// Zeroes the committed identity and forgets any identity record still being received.
void ClearDeviceInfo();
