// The serial calls of the COM port driver on the Win32 communications API.
//
// A handle of this layer is the HANDLE as HandleToLong gives it: 64-bit Windows keeps kernel
// handles within 32 bits (so that 32- and 64-bit programs can share them), and
// INVALID_HANDLE_VALUE becomes -1, which is kNoHandle.
#include "serial/serial_os.h"

#include "serial/pump_os.h"

#include <windows.h>

#include <algorithm>
#include <system_error>

namespace serial_os {
namespace {

// Driver queue sizes, in and out.
constexpr DWORD kInputQueueSize = 32768;
constexpr DWORD kOutputQueueSize = 9216;

// The COM port driver's write time-out, a constant plus so much per byte: set with the reads,
// until a Write sets the bound of its own call.
constexpr DWORD kWriteTimeoutConstantMs = 1000;
constexpr DWORD kWriteTimeoutPerByteMs = 10;

// Whether an error comes from opening the device or from using an open handle: the same code
// means "held by another program" at the open and "the device went away" afterwards.
enum class Step : std::uint8_t { kOpening, kUsing };

// The one place where a Windows error becomes an error code of this layer.
Status FromWin32(DWORD err, Step step = Step::kUsing) {
    Error error = Error::kOther;
    switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        error = Error::kAbsent;
        break;
    case ERROR_SHARING_VIOLATION:
        error = Error::kBusy;
        break;
    // A COM port another program holds answers ERROR_ACCESS_DENIED at the open. Some USB
    // adapters' drivers (FTDI's among them) answer the same on an open handle once unplugged.
    case ERROR_ACCESS_DENIED:
        error = step == Step::kOpening ? Error::kBusy : Error::kGone;
        break;
    case ERROR_INVALID_FUNCTION: // not a communications device, or a call the driver lacks
    case ERROR_NOT_SUPPORTED:    // Wine's answer to modem-line calls on a pseudo-terminal
        error = Error::kUnsupported;
        break;
    case ERROR_INVALID_PARAMETER:
        error = Error::kRefused;
        break;
    case ERROR_SEM_TIMEOUT:
        error = Error::kTimedOut;
        break;
    // What the drivers of pulled USB adapters answer (usbser.sys ERROR_BAD_COMMAND, others
    // ERROR_GEN_FAILURE or ERROR_DEVICE_NOT_CONNECTED, aborted I/O on removal), and what Wine
    // answers once the far end of a pseudo-terminal has closed (ERROR_NOT_READY).
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEV_NOT_EXIST:
        error = Error::kGone;
        break;
    default:
        break;
    }
    return {error, std::system_category().message(static_cast<int>(err))};
}

Status LastError(Step step = Step::kUsing) {
    return FromWin32(::GetLastError(), step);
}

HANDLE ToWin32(Handle handle) {
    return ::LongToHandle(handle);
}

bool ReadLine(HANDLE handle, DCB& dcb) {
    dcb = DCB{};
    dcb.DCBlength = sizeof dcb;
    return ::GetCommState(handle, &dcb) != 0;
}

// Reads that return at once with what is queued, possibly nothing: MAXDWORD with 0 and 0.
COMMTIMEOUTS ReadsAtOnce() {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    return timeouts;
}

} // namespace

Status Open(const std::string& path, Handle& handle) {
    handle = kNoHandle;
    // Share mode 0: no other handle, ours or another program's, while this one is open.
    const HANDLE device = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return LastError(Step::kOpening);
    // The driver's queues are sized once, right after the open; a driver that refuses leaves
    // the port unusable, like one whose line settings cannot be read.
    if (::SetupComm(device, kInputQueueSize, kOutputQueueSize) == 0) {
        const Status status = LastError();
        ::CloseHandle(device);
        return status;
    }
    handle = ::HandleToLong(device);
    return {};
}

Status QueryLine(Handle handle) {
    DCB dcb;
    return ReadLine(ToWin32(handle), dcb) ? Status{} : LastError();
}

Status ConfigureLine(Handle handle, const LineSettings& line) {
    const HANDLE device = ToWin32(handle);
    if (line.baud <= 0)
        return FromWin32(ERROR_INVALID_PARAMETER);
    DCB dcb;
    if (!ReadLine(device, dcb))
        return LastError();
    dcb.BaudRate = static_cast<DWORD>(line.baud);
    dcb.ByteSize = line.dataBits;
    dcb.Parity = line.parityCode;
    dcb.StopBits = line.stopBitCode;
    // Raw bytes, no parity check, no flow control of any kind, no byte replaced or dropped,
    // no abort on a line error; DTR and RTS are left to the caller. The XON/XOFF limits and
    // characters and the error, end-of-file and event characters stay as the driver has them.
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    if (::SetCommState(device, &dcb) == 0)
        return LastError();

    // A driver may keep what it cannot make without failing the call: see what it took.
    DCB actual;
    if (!ReadLine(device, actual))
        return LastError();
    if (actual.BaudRate != dcb.BaudRate || actual.ByteSize != dcb.ByteSize ||
        actual.Parity != dcb.Parity || actual.StopBits != dcb.StopBits || actual.fOutxCtsFlow ||
        actual.fOutX || actual.fInX)
        return {Error::kRefused, "the driver did not take the line settings"};
    return {};
}

Status SetReadsReturnAtOnce(Handle handle) {
    const HANDLE device = ToWin32(handle);
    COMMTIMEOUTS timeouts{};
    if (::GetCommTimeouts(device, &timeouts) == 0)
        return LastError();
    // The write time-out of the COM port driver until the first Write sets its own bound.
    COMMTIMEOUTS wanted = ReadsAtOnce();
    wanted.WriteTotalTimeoutMultiplier = kWriteTimeoutPerByteMs;
    wanted.WriteTotalTimeoutConstant = kWriteTimeoutConstantMs;
    if (::SetCommTimeouts(device, &wanted) == 0)
        return LastError();
    return {};
}

Status Write(Handle handle, const std::uint8_t* bytes, std::size_t count,
             std::chrono::milliseconds bound, std::size_t& written) {
    written = 0;
    const HANDLE device = ToWin32(handle);
    // The driver keeps the bound: a synchronous WriteFile ends when its write time-out runs
    // out, successfully, with fewer bytes written. Total time-outs of 0 would mean no limit.
    COMMTIMEOUTS timeouts = ReadsAtOnce();
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant =
        static_cast<DWORD>(std::clamp<std::chrono::milliseconds::rep>(bound.count(), 1, MAXDWORD));
    if (::SetCommTimeouts(device, &timeouts) == 0)
        return LastError();
    const DWORD asked = count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count);
    DWORD taken = 0;
    const BOOL done = ::WriteFile(device, bytes, asked, &taken, nullptr);
    written = taken;
    if (done == 0)
        return LastError();
    if (written < count)
        return {Error::kTimedOut, "the write timed out"};
    return {};
}

Status Drain(Handle handle, std::chrono::milliseconds bound) {
    // Not FlushFileBuffers: it waits without limit, and a USB device whose firmware hangs
    // while USB stays up never takes its bytes. The driver's output queue is watched instead,
    // asleep for about as long as what it holds takes on the line, then looked at again.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + bound;
    DCB line;
    const DWORD baud = ReadLine(ToWin32(handle), line) && line.BaudRate > 0 ? line.BaudRate : 9600;
    for (;;) {
        DWORD lineErrors = 0;
        COMSTAT status{};
        if (::ClearCommError(ToWin32(handle), &lineErrors, &status) == 0)
            return LastError();
        if (status.cbOutQue == 0)
            return {};
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return {Error::kTimedOut, "the device did not take the bytes written"};
        // Ten bits a byte (start, eight data, stop) at the least: an early look, never a late
        // one. The pump's sleep ends on time, where Sleep() would wait for the next 15.6 ms tick.
        const auto onTheLine =
            std::chrono::milliseconds(std::uint64_t{status.cbOutQue} * 10 * 1000 / baud);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        pump_os::Sleep(std::clamp(onTheLine, std::chrono::milliseconds(1), left));
    }
}

Status DiscardOutput(Handle handle) {
    return ::PurgeComm(ToWin32(handle), PURGE_TXABORT | PURGE_TXCLEAR) != 0 ? Status{}
                                                                            : LastError();
}

Status Read(Handle handle, std::uint8_t* buffer, std::size_t capacity, std::size_t& count) {
    count = 0;
    const DWORD asked = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
    DWORD received = 0;
    if (::ReadFile(ToWin32(handle), buffer, asked, &received, nullptr) == 0)
        return LastError();
    if (received > 0) {
        count = received;
        return {}; // queued bytes first; a vanished device shows on the next read
    }
    // Nothing queued: a pulled adapter fails the read itself, but Wine reports a closed
    // pseudo-terminal as an empty read; the communications status tells the two apart.
    return CheckConnected(handle);
}

Status ClearModemLine(Handle handle, ModemLine line) {
    const DWORD function = line == ModemLine::kDtr ? CLRDTR : CLRRTS;
    return ::EscapeCommFunction(ToWin32(handle), function) != 0 ? Status{} : LastError();
}

Status CheckConnected(Handle handle) {
    DWORD lineErrors = 0;
    COMSTAT status{};
    // Also clears a pending line error (framing, overrun), which would otherwise go unseen.
    return ::ClearCommError(ToWin32(handle), &lineErrors, &status) != 0 ? Status{} : LastError();
}

void Close(Handle handle) {
    // A close would otherwise wait for queued output; nothing of an ended session must go out.
    ::PurgeComm(ToWin32(handle), PURGE_TXABORT | PURGE_TXCLEAR);
    ::CloseHandle(ToWin32(handle));
}

} // namespace serial_os
