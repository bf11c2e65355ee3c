// The operating system's serial calls, one per step of the COM port driver (serial/comport.cpp).
// One implementation per platform beside this header (serial_posix.cpp, serial_win.cpp), chosen
// by the build.
//
// Contract, for every call:
// - It never blocks longer than it says, never shows anything and never throws.
// - It reports one of the small error codes below with the OS's own words; the errno (or
//   Windows error) is turned into a code in exactly one place of the implementation.
// - kGone means the device vanished (USB adapter pulled, far end of a pseudo-terminal closed);
//   the handle is still open and the caller is expected to close it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace serial_os {

// A file descriptor on POSIX; on Windows the HANDLE as HandleToLong gives it.
using Handle = int;
inline constexpr Handle kNoHandle = -1;

enum class Error : std::uint8_t {
    kNone,
    kAbsent,      // no such device
    kBusy,        // held by another program, or by another port record of ours
    kDenied,      // no rights to the device
    kUnsupported, // not a serial line; for ClearModemLine: the line has no modem control
    kRefused,     // the driver does not accept a setting (a baud rate it cannot make, ...)
    kTimedOut,    // a write did not complete within its time bound
    kGone,        // the device vanished; it will not come back on this handle
    kOther,
};

struct Status {
    Error error = Error::kNone;
    std::string text; // the OS's description of the failure; empty on success
    bool ok() const { return error == Error::kNone; }
};

// The line as the driver asks for it.
struct LineSettings {
    int baud = 115200;
    std::uint8_t dataBits = 8;    // 5 to 8
    std::uint8_t parityCode = 0;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stopBitCode = 2; // 0 one, 1 one and a half, 2 two
};

enum class ModemLine : std::uint8_t { kDtr, kRts };

// Opens the device for reading and writing, exclusively: no other program (and no other
// handle of ours) can use it until Close. Never makes it the controlling terminal. On failure
// nothing is left open.
Status Open(const std::string& path, Handle& handle);
// Reads the current line settings; fails when the handle is no serial line.
Status QueryLine(Handle handle);
// Sets the line: raw bytes in both directions (no translation, no echo, no signals), the
// receiver on, modem status lines ignored, no hardware or software flow control, and the
// given baud rate and framing. Everything else is left as it was. kRefused when the driver
// does not take the settings as asked.
Status ConfigureLine(Handle handle, const LineSettings& line);
// Makes every Read return at once with whatever is queued, possibly nothing.
Status SetReadsReturnAtOnce(Handle handle);
// Writes as many of the bytes as the driver takes within `bound`; `written` tells how many.
// kTimedOut when some are left once `bound` has passed. Does not wait for the bytes to leave
// the line (Drain does). Callers keep `bound` short and loop, so the window stays live while a
// device that stopped reading lets nothing through.
Status Write(Handle handle, const std::uint8_t* bytes, std::size_t count,
             std::chrono::milliseconds bound, std::size_t& written);
// Waits up to `bound` until every byte written has left the driver's queue; kTimedOut when
// some are still queued then (a device that stopped reading holds them for ever).
Status Drain(Handle handle, std::chrono::milliseconds bound);
// Throws away whatever is written but not yet sent, so no fragment of a failed write goes out
// later and a close never waits for it.
Status DiscardOutput(Handle handle);
// Reads what is queued, at most `capacity` bytes, without waiting; `count` 0 when nothing is.
// Queued bytes are delivered before a hang-up is reported as kGone.
Status Read(Handle handle, std::uint8_t* buffer, std::size_t capacity, std::size_t& count);
// Clears (de-asserts) one modem control line. kUnsupported on a line without modem control.
Status ClearModemLine(Handle handle, ModemLine line);
// kGone when the device has hung up; otherwise success. Does not wait.
Status CheckConnected(Handle handle);
// Closes the handle without waiting for queued output, which is discarded; the exclusive hold
// ends with it, for every later open of the device.
void Close(Handle handle);

} // namespace serial_os
