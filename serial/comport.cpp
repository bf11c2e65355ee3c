// The COM port driver: portable logic over the platform's serial calls (serial/serial_os.h).
#include "serial/comport.h"

#include "serial/port_names.h"
#include "serial/port_state.h"
#include "serial/serial_os.h"

#include <QCoreApplication>
#include <array>
#include <chrono>
#include <string>
#include <utility>

PortRecord PortTable[kPortCount];

std::int16_t SelectedPortIndex = 0;
// One below the selection, so that the first OpenSelectedPort opens the port; start-up sets
// both from the settings.
std::int16_t OpenPortIndex = -1;
std::int32_t BaudRate = 115200;
bool PortHeldBySession = false;

namespace {

// Per port: the OS's words for the vanishing of its device since it was last opened.
std::array<std::string, kPortCount> LostReasons;

// Line of the session port: 8 data bits, no parity, two stop bits (codes of LineSettings).
constexpr std::uint8_t kParityNone = 0;
constexpr std::uint8_t kTwoStopBits = 2;
constexpr std::uint8_t kDataBits = 8;

// A write may take this long plus so much per byte before it counts as failed.
constexpr std::chrono::milliseconds kWriteTimeoutConstant{1000};
constexpr std::chrono::milliseconds kWriteTimeoutPerByte{10};
// How long a write or drain waits at a time before the window's events are processed.
constexpr std::chrono::milliseconds kLiveSlice{5};

using Clock = std::chrono::steady_clock;

bool InRange(int index) {
    return index >= 0 && index < kPortCount;
}

// The record of an open port, or nullptr when the index is out of range or the port closed.
PortRecord* OpenRecord(int index) {
    if (!InRange(index) || !PortTable[index].open)
        return nullptr;
    return &PortTable[index];
}

PortOpenResult Failed(PortFailure failure, serial_os::Status os) {
    return {nullptr, failure, std::move(os), {}};
}

// A port whose device vanished is closed, so that FlushPort tells the session at once instead
// of every later reply wait running out its time.
void CloseIfGone(int index, const serial_os::Status& status) {
    if (status.error != serial_os::Error::kGone)
        return;
    if (OpenRecord(index) != nullptr && LostReasons[index].empty())
        LostReasons[index] = status.text;
    ClosePort(index);
}

// After a slice of a write or drain that did not finish: true to go on waiting, with the
// window's events processed once so that Stop and the close box keep working. False once the
// write has failed: the device vanished, or it has not taken the bytes by the deadline. What
// it left queued is discarded then, so no fragment of the frame reaches the board later.
bool StillWaiting(int index, const serial_os::Status& status, Clock::time_point deadline) {
    if (status.error != serial_os::Error::kTimedOut) {
        CloseIfGone(index, status);
        return false;
    }
    if (Clock::now() >= deadline) {
        if (PortRecord* record = OpenRecord(index))
            serial_os::DiscardOutput(record->handle);
        return false;
    }
    QCoreApplication::processEvents();
    return true;
}

} // namespace

PortOpenResult OpenPort(int index, int baud, std::uint8_t parityCode, std::uint8_t stopBitCode,
                        std::uint8_t dataBits) {
    if (!InRange(index))
        return Failed(PortFailure::kNoDevice, {serial_os::Error::kAbsent, "no device path"});
    PortRecord& record = PortTable[index];
    ClosePort(index); // a re-open never leaks the old handle
    LostReasons[index].clear();

    const std::string path = ComDevicePath(index);
    if (path.empty())
        return Failed(PortFailure::kNoDevice, {serial_os::Error::kAbsent, "no device path"});
    serial_os::Handle handle = serial_os::kNoHandle;
    if (serial_os::Status opened = serial_os::Open(path, handle); !opened.ok())
        return Failed(PortFailure::kOpenRefused, std::move(opened));

    // Output an earlier holder left queued is not ours to send.
    serial_os::DiscardOutput(handle);

    if (serial_os::Status queried = serial_os::QueryLine(handle); !queried.ok()) {
        serial_os::Close(handle);
        return Failed(PortFailure::kNotSerial, std::move(queried));
    }

    const serial_os::LineSettings line{baud, dataBits, parityCode, stopBitCode};
    if (serial_os::Status configured = serial_os::ConfigureLine(handle, line); !configured.ok()) {
        serial_os::Close(handle);
        return Failed(PortFailure::kLineRefused, std::move(configured));
    }

    // Driver queue sizes (32768 bytes in, 9216 out): the Windows layer sets them as it opens
    // the device; the Linux tty layer sizes its buffers itself and offers no call for it.

    if (serial_os::Status timed = serial_os::SetReadsReturnAtOnce(handle); !timed.ok()) {
        serial_os::Close(handle);
        return Failed(PortFailure::kTimeoutsRefused, std::move(timed));
    }

    record.handle = handle;
    record.open = true;
    return {&record, PortFailure::kNone, {}, {}};
}

void ClosePort(int index) {
    PortRecord* record = OpenRecord(index);
    if (record == nullptr)
        return;
    record->open = false; // closed first: nothing may use the handle once its close has begun
    const serial_os::Handle handle = record->handle;
    record->handle = serial_os::kNoHandle;
    serial_os::Close(handle);
}

bool WritePort(int index, const std::uint8_t* bytes, int count) {
    PortRecord* record = OpenRecord(index);
    if (record == nullptr || count < 0 || (bytes == nullptr && count > 0))
        return false;
    const Clock::time_point deadline =
        Clock::now() + kWriteTimeoutConstant + kWriteTimeoutPerByte * count;
    std::size_t done = 0;
    const auto total = static_cast<std::size_t>(count);
    while (done < total) {
        std::size_t written = 0;
        const serial_os::Status status =
            serial_os::Write(record->handle, bytes + done, total - done, kLiveSlice, written);
        done += written;
        if (!status.ok() && !StillWaiting(index, status, deadline))
            return false;
        record = OpenRecord(index); // the events processed meanwhile may have closed it
        if (record == nullptr)
            return false;
    }
    // The bytes must be on the line before the caller starts its reply wait.
    for (;;) {
        const serial_os::Status status = serial_os::Drain(record->handle, kLiveSlice);
        if (status.ok())
            return true;
        if (!StillWaiting(index, status, deadline))
            return false;
        record = OpenRecord(index);
        if (record == nullptr)
            return false;
    }
}

std::int16_t FlushPort(std::int16_t index) {
    PortRecord* record = OpenRecord(index);
    if (record == nullptr)
        return -2;
    serial_os::Status status = serial_os::CheckConnected(record->handle);
    const Clock::time_point deadline = Clock::now() + kWriteTimeoutConstant;
    while (status.ok()) {
        status = serial_os::Drain(record->handle, kLiveSlice);
        if (status.ok() || !StillWaiting(index, status, deadline))
            break;
        record = OpenRecord(index);
        if (record == nullptr)
            return -2;
    }
    CloseIfGone(index, status);
    if (OpenRecord(index) == nullptr)
        return -2;
    return 0;
}

void ClearModemLines(int index) {
    for (const serial_os::ModemLine line :
         {serial_os::ModemLine::kDtr, serial_os::ModemLine::kRts}) {
        PortRecord* record = OpenRecord(index);
        if (record == nullptr)
            return;
        const serial_os::Status status = serial_os::ClearModemLine(record->handle, line);
        // A line without modem control (a pseudo-terminal, some USB adapters) has nothing to
        // clear. Any other failure leaves DTR or RTS in an unknown state, and boards that wire
        // them to reset or boot-select pins may then be held in reset: the port is not used.
        if (!status.ok() && status.error != serial_os::Error::kUnsupported)
            ClosePort(index);
    }
}

PortOpenResult OpenSelectedPort() {
    if (OpenPortIndex == SelectedPortIndex)
        return {}; // taken as open already, even when the earlier open failed
    const int previous = OpenPortIndex;
    OpenPortIndex = SelectedPortIndex; // before trying: a failed open is not retried
    // Nothing uses the earlier port any more; release it so that other programs can.
    ClosePort(previous);
    ClosePort(SelectedPortIndex);
    PortOpenResult result =
        OpenPort(SelectedPortIndex, BaudRate, kParityNone, kTwoStopBits, kDataBits);
    ClearModemLines(SelectedPortIndex);
    if (FlushPort(SelectedPortIndex) >= 0)
        return result;
    // Opened but lost at once (unplugged, modem lines refused): look at the port as it is.
    const bool opened = result.failure == PortFailure::kNone;
    if (opened)
        result = Failed(PortFailure::kLost, {});
    result.port = opened ? CheckComPort(SelectedPortIndex)
                         : StateOfFailedOpen(result.os, ComDevicePath(SelectedPortIndex));
    if (result.port.state == PortState::kFree)
        result.port = {PortState::kFailed, std::nullopt, "the device stopped answering"};
    return result;
}

std::string PortLostReason(int index) {
    return InRange(index) ? LostReasons[index] : std::string();
}

int ReadPort(int index, std::uint8_t* buffer, int capacity) {
    PortRecord* record = OpenRecord(index);
    if (record == nullptr || capacity < 0 || (buffer == nullptr && capacity > 0))
        return -1;
    std::size_t count = 0;
    const serial_os::Status status =
        serial_os::Read(record->handle, buffer, static_cast<std::size_t>(capacity), count);
    if (!status.ok()) {
        CloseIfGone(index, status);
        return -1;
    }
    return static_cast<int>(count);
}
