// The receiving half of the bootloader protocol: one parser with persistent state fed with
// whatever the session port has queued, and the timed wait every exchange rests on.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kRxBufferSize = 3072; // one read takes at most this many bytes

// Results of WaitReply.
inline constexpr std::int16_t kWaitAccepted = 1; // 'K'
inline constexpr std::int16_t kWaitNoReply = 0;  // nothing within the time
inline constexpr std::int16_t kWaitRefused = -1; // 'N'
inline constexpr std::int16_t kWaitStopped = -2; // the user pressed Stop (the request is cleared)

// Parses bytes from the bootloader into the session state; a reply may be split anywhere.
void ParseReplyBytes(const std::uint8_t* bytes, std::size_t count);

// Reads and discards everything queued on the session port.
void DrainInput();
// Before a command is written: discards what has arrived since the last wait (the tail of a late
// reply, a cut-off text block) and forgets any record left half-parsed, so that only bytes that
// come after the write can answer it.
void DiscardStaleInput();
// After a frame that drew no reply in time: waits until the line has been quiet for quietMs (at
// most limitMs in all), parsing what comes. True when a late 'K' came in that time; the flags are
// cleared first. Ends early on a Stop request, which it leaves set for the next wait.
bool SettleAfterSilence(int quietMs, int limitMs);
// One read of the session port, parsed.
void PollReplies();
// Waits ms / 5 pump cycles for a reply; returns one of the results above, a Stop request first,
// then 'K', then 'N'. Clears neither reply flag: the sender does that before it writes.
std::int16_t WaitReply(int ms);
// Zeroes the committed identity and forgets any identity record still being received.
void ClearDeviceInfo();
