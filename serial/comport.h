// The COM port driver: a fixed table of port records indexed by port number (0 = COM1),
// operations to open, configure, write, flush and close a port, the operation that makes the
// user's chosen port the open one, and the cooperative wait every session pause is made of.
// Everything runs on the GUI thread; there is no reader thread and no read queue.
#pragma once

#include "serial/port_state.h"
#include "serial/serial_os.h"

#include <chrono>
#include <cstdint>
#include <string>

struct PortRecord {
    bool open = false; // while the record holds an open, configured handle
    int handle = -1;   // the OS handle (a file descriptor on POSIX); valid only while open
};

// Why a port could not be made usable. The driver shows nothing itself: whoever asked for the
// port reports this to the user through the status operations.
enum class PortFailure : std::uint8_t {
    kNone,
    kNoDevice,        // index outside 0..256, or no device name for it
    kOpenRefused,     // the device could not be opened: absent, in use or no rights (see os)
    kNotSerial,       // its line settings cannot be read: no serial line
    kLineRefused,     // the line settings were not taken
    kTimeoutsRefused, // reads could not be made to return at once
    kLost,            // opened, then lost: a modem line could not be cleared, or it hung up
};

struct PortOpenResult {
    PortRecord* record = nullptr; // the open record; nullptr when the port is not usable
    PortFailure failure = PortFailure::kNone;
    serial_os::Status os; // the OS's own words for the step that failed
    PortCheck port;       // OpenSelectedPort, port not usable: its state, to tell the user why
};

inline constexpr int kPortCount = 257; // indices 0..256: COM1..COM257
extern PortRecord PortTable[kPortCount];

extern std::int16_t SelectedPortIndex; // the user's choice; negative: no valid port
extern std::int16_t OpenPortIndex;     // the index OpenSelectedPort last acted on
extern std::int32_t BaudRate;          // 115200
// True while an update runs on the open port. Every byte of a session goes to the port its
// search opened, so the port choice refuses to switch ports meanwhile.
extern bool PortHeldBySession;

// Opens and configures a port (exclusive, raw, non-blocking reads, DTR/RTS not driven by the
// driver). Returns the record, or on failure the reason (the record then stays closed).
// Shows nothing.
PortOpenResult OpenPort(int index, int baud, std::uint8_t parityCode, std::uint8_t stopBitCode,
                        std::uint8_t dataBits);
// Marks the record closed, then closes the handle. Closed or out-of-range indices are ignored.
void ClosePort(int index);
// Writes all bytes and waits until they are on the line, processing the window's events
// meanwhile. False when the port is not open or the write failed or timed out (1000 ms + 10 ms
// a byte for writing and sending together; what was left unsent is discarded). A vanished
// device closes the record.
bool WritePort(int index, const std::uint8_t* bytes, int count);
// -2 when the port is not open (or out of range), else 0 after flushing: waiting up to 1000 ms,
// window live, for written bytes to leave, and discarding them if they do not. A device found
// to have vanished (hang-up) is closed here and reported as -2.
std::int16_t FlushPort(std::int16_t index);
// Clears DTR, then RTS, when the port is open.
void ClearModemLines(int index);
// Makes SelectedPortIndex the open port and returns why it cannot be used (kNone when it can).
// Does nothing and returns kNone when OpenPortIndex already equals SelectedPortIndex: a failed
// port is reported once. Shows nothing; the caller passes the result to ShowPortOpenFailure.
PortOpenResult OpenSelectedPort();
// Why the port's device vanished while it was open (the OS's words: an unplugged USB adapter
// answers "Input/output error"), or empty when it has not since the port was last opened. The
// session sees such a port as closed and ends as for a missing reply; this says why.
std::string PortLostReason(int index);
// One non-blocking read of what is queued: the count read (0 when nothing is queued), or -1
// when the port is not open or the read failed. A hang-up closes the record.
int ReadPort(int index, std::uint8_t* buffer, int capacity);

// The cycle of every wait: one sleep, then one pass over the pending window events.
inline constexpr std::chrono::milliseconds kPumpCycle{5};
// Sleeps 5 ms and processes pending window events once, per 5 ms of ms (rounded up).
void PumpDelay(int ms);
