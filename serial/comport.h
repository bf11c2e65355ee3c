// The COM port driver: a fixed table of port records indexed by port number (0 = COM1),
// operations to open, configure, write, flush and close a port, the operation that makes the
// user's chosen port the open one, and the cooperative wait every session pause is made of.
// Everything runs on the GUI thread; there is no reader thread and no read queue.
#pragma once

#include <cstdint>

struct PortRecord {
    std::int32_t open = 0; // 1 while the record holds an open, configured handle
    int handle = -1;       // the OS handle (a file descriptor on POSIX); valid only while open
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
// driver). Returns the record, or nullptr on failure (the record then stays closed).
// A refused line configuration is shown as "Unable to configure the serial port".
PortRecord* OpenPort(int index, int baud, std::uint8_t parityCode, std::uint8_t stopBitCode,
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
// Makes SelectedPortIndex the open port; shows "Invalid Port Com" when it cannot be used.
// Does nothing when OpenPortIndex already equals SelectedPortIndex.
void OpenSelectedPort();
// One non-blocking read of what is queued: the count read (0 when nothing is queued), or -1
// when the port is not open or the read failed. A hang-up closes the record.
int ReadPort(int index, std::uint8_t* buffer, int capacity);

// Sleeps 5 ms and processes pending window events once, per 5 ms of ms (rounded up).
void PumpDelay(int ms);
