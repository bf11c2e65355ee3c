// The serial calls of the COM port driver on POSIX termios (Linux first).
#include "serial/serial_os.h"

#include <cerrno>
#include <fcntl.h>
#ifdef __linux__
#include <linux/serial.h>
#endif
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace serial_os {
namespace {

// The one place where an errno becomes an error code of this layer.
Status FromErrno(int err) {
    Error error = Error::kOther;
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        error = Error::kAbsent;
        break;
    case EBUSY:
    case EWOULDBLOCK:
        error = Error::kBusy;
        break; // EWOULDBLOCK: flock held elsewhere
    case EACCES:
    case EPERM:
    case EROFS:
        error = Error::kDenied;
        break;
    // A pseudo-terminal and many USB adapters without modem control answer the modem-line
    // ioctls with ENOTTY; so does any file that is no tty at all.
    case ENOTTY:
        error = Error::kUnsupported;
        break;
    case EINVAL:
        error = Error::kRefused;
        break;
    // The node is there but the device behind it is not (any more): an unplugged USB adapter
    // leaves its open handles hung up, and they answer EIO; a port without hardware answers
    // ENXIO or ENODEV at open.
    case EIO:
    case ENXIO:
    case ENODEV:
        error = Error::kGone;
        break;
    case ETIMEDOUT:
        error = Error::kTimedOut;
        break;
    default:
        break;
    }
    return {error, std::system_category().message(err)};
}

Status HungUp() {
    return {Error::kGone, "the device hung up"};
}

// POLLHUP and POLLERR: a hung-up tty (device unplugged, or carrier lost without CLOCAL) or a
// pseudo-terminal whose master side was closed. POLLNVAL: the descriptor is no longer open.
constexpr short kHangUpEvents = POLLHUP | POLLERR | POLLNVAL;

constexpr std::chrono::microseconds kDrainCheckInterval{250};

// Poll without waiting (timeout 0) or for up to `timeoutMs`. Returns revents, or -1 with errno.
int PollOnce(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    int result;
    do {
        result = ::poll(&entry, 1, timeoutMs);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? -1 : entry.revents;
}

struct BaudEntry {
    int baud;
    speed_t speed;
};
constexpr BaudEntry kBaudRates[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool SpeedOf(int baud, speed_t& speed) {
    for (const BaudEntry& entry : kBaudRates) {
        if (entry.baud == baud) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

bool SizeOf(std::uint8_t dataBits, tcflag_t& size) {
    switch (dataBits) {
    case 5:
        size = CS5;
        return true;
    case 6:
        size = CS6;
        return true;
    case 7:
        size = CS7;
        return true;
    case 8:
        size = CS8;
        return true;
    default:
        return false;
    }
}

// Mark and space parity ("stick" parity) are a Linux extension of termios.
#ifdef CMSPAR
constexpr tcflag_t kStickParity = CMSPAR;
#else
constexpr tcflag_t kStickParity = 0;
#endif

bool ParityOf(std::uint8_t parityCode, tcflag_t& parity) {
    switch (parityCode) {
    case 0:
        parity = 0;
        return true;
    case 1:
        parity = PARENB | PARODD;
        return true;
    case 2:
        parity = PARENB;
        return true;
    case 3:
        parity = PARENB | PARODD | kStickParity;
        return kStickParity != 0; // bit always 1
    case 4:
        parity = PARENB | kStickParity;
        return kStickParity != 0; // bit always 0
    default:
        return false;
    }
}

// USB serial chips hold received bytes until their latency timer runs out (FTDI: 16 ms by
// default), so a one-byte reply may arrive that much late; on a whole update that is seconds.
// Low-latency mode makes the driver pass bytes on at once. Drivers that do not know the call
// (pseudo-terminals, many USB chips) or refuse it are left as they are.
void RequestLowLatency(int fd) {
#ifdef __linux__
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0)
        return;
    info.flags |= ASYNC_LOW_LATENCY;
    static_cast<void>(::ioctl(fd, TIOCSSERIAL, &info));
#else
    static_cast<void>(fd);
#endif
}

// The bits ConfigureLine sets on c_cflag; read back to see that the driver took them.
constexpr tcflag_t kFramingBits = CSIZE | CSTOPB | PARENB | PARODD | kStickParity | CRTSCTS;

} // namespace

Status Open(const std::string& path, Handle& handle) {
    handle = kNoHandle;
    // O_NONBLOCK: neither the open (carrier detect) nor any later read or write may wait.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return FromErrno(errno);
    // TIOCEXCL refuses further opens of the tty, but not to root; the flock is the guard root
    // (and a second record of ours, which opens the same device by another name) runs into.
    // The flag belongs to the tty and outlives this descriptor: a failed open clears it again,
    // unless the holder had set it itself.
    int wasExclusive = 0;
    ::ioctl(fd, TIOCGEXCL, &wasExclusive);
    if (::ioctl(fd, TIOCEXCL) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const Status status = FromErrno(errno);
        if (wasExclusive == 0)
            ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return status;
    }
    RequestLowLatency(fd);
    handle = fd;
    return {};
}

Status QueryLine(Handle handle) {
    termios tio{};
    if (::tcgetattr(handle, &tio) != 0)
        return FromErrno(errno);
    return {};
}

Status ConfigureLine(Handle handle, const LineSettings& line) {
    termios tio{};
    if (::tcgetattr(handle, &tio) != 0)
        return FromErrno(errno);

    speed_t speed = B0;
    tcflag_t size = 0;
    tcflag_t parity = 0;
    // POSIX has no one and a half stop bits.
    if (!SpeedOf(line.baud, speed) || !SizeOf(line.dataBits, size) ||
        !ParityOf(line.parityCode, parity) || (line.stopBitCode != 0 && line.stopBitCode != 2))
        return FromErrno(EINVAL);

    // Raw bytes: no break or parity marking, no stripping, no CR/NL mapping, no software flow
    // control, no output processing, no echo, no canonical lines, no signal characters.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP |
                                          INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    // Receiver on; CLOCAL: the modem status lines neither gate the open nor hang the line up.
    tio.c_cflag &= ~kFramingBits;
    tio.c_cflag |= size | parity | CREAD | CLOCAL;
    if (line.stopBitCode == 2)
        tio.c_cflag |= CSTOPB;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0)
        return FromErrno(errno);
    if (::tcsetattr(handle, TCSANOW, &tio) != 0)
        return FromErrno(errno);

    // tcsetattr succeeds when any one of the changes was made; see that all of them were.
    termios actual{};
    if (::tcgetattr(handle, &actual) != 0)
        return FromErrno(errno);
    if ((actual.c_cflag & kFramingBits) != (tio.c_cflag & kFramingBits) ||
        ::cfgetospeed(&actual) != speed || ::cfgetispeed(&actual) != speed)
        return {Error::kRefused, "the driver did not take the line settings"};
    return {};
}

Status SetReadsReturnAtOnce(Handle handle) {
    termios tio{};
    if (::tcgetattr(handle, &tio) != 0)
        return FromErrno(errno);
    // VMIN 0 and VTIME 0: a read takes what is queued and does not wait for more.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(handle, TCSANOW, &tio) != 0)
        return FromErrno(errno);
    const int flags = ::fcntl(handle, F_GETFL);
    if (flags < 0 || ::fcntl(handle, F_SETFL, flags | O_NONBLOCK) != 0)
        return FromErrno(errno);
    return {};
}

Status Write(Handle handle, const std::uint8_t* bytes, std::size_t count,
             std::chrono::milliseconds bound, std::size_t& written) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + bound;
    written = 0;
    while (written < count) {
        const ssize_t n = ::write(handle, bytes + written, count - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return FromErrno(errno);
        // The driver's output buffer is full: wait for room, but not past the deadline.
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return {Error::kTimedOut, "the write timed out"};
        const int revents = PollOnce(handle, POLLOUT, static_cast<int>(left));
        if (revents < 0)
            return FromErrno(errno);
        if ((revents & kHangUpEvents) != 0)
            return HungUp();
    }
    return {};
}

Status Drain(Handle handle, std::chrono::milliseconds bound) {
    // Not tcdrain: it waits without limit, and a USB device whose firmware hangs while USB
    // stays up never takes its bytes. The queue is watched instead; bytes already in the
    // UART's own FIFO are not counted, but they leave within a few milliseconds.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + bound;
    for (;;) {
        int queued = 0;
        if (::ioctl(handle, TIOCOUTQ, &queued) != 0)
            return FromErrno(errno);
        if (queued <= 0)
            return {};
        if ((PollOnce(handle, 0, 0) & kHangUpEvents) != 0)
            return HungUp();
        if (Clock::now() >= deadline)
            return {Error::kTimedOut, "the device did not take the bytes written"};
        // A byte takes about 95 us at 115200 8N2: a short nap adds no noticeable delay.
        std::this_thread::sleep_for(kDrainCheckInterval);
    }
}

Status DiscardOutput(Handle handle) {
    return ::tcflush(handle, TCOFLUSH) == 0 ? Status{} : FromErrno(errno);
}

Status Read(Handle handle, std::uint8_t* buffer, std::size_t capacity, std::size_t& count) {
    count = 0;
    // A non-blocking read gives 0 both when nothing is queued and on a hung-up tty; only
    // poll can tell the two apart.
    const int revents = PollOnce(handle, POLLIN, 0);
    if (revents < 0)
        return FromErrno(errno);
    if ((revents & POLLNVAL) != 0)
        return HungUp();
    ssize_t n;
    do {
        n = ::read(handle, buffer, capacity);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        count = static_cast<std::size_t>(n);
        return {}; // queued bytes first; a hang-up shows on the next read
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        return FromErrno(errno);
    if ((revents & kHangUpEvents) != 0)
        return HungUp();
    return {};
}

Status ClearModemLine(Handle handle, ModemLine line) {
    int bits = line == ModemLine::kDtr ? TIOCM_DTR : TIOCM_RTS;
    if (::ioctl(handle, TIOCMBIC, &bits) != 0)
        return FromErrno(errno);
    return {};
}

Status CheckConnected(Handle handle) {
    // No events asked for: poll reports the hang-up conditions regardless.
    const int revents = PollOnce(handle, 0, 0);
    if (revents < 0)
        return FromErrno(errno);
    return (revents & kHangUpEvents) != 0 ? HungUp() : Status{};
}

void Close(Handle handle) {
    // The exclusive flag belongs to the tty, not to the descriptor: a pseudo-terminal (or a
    // port made by socat or ser2net) keeps it after our close while its master stays open,
    // and a normal user could then never open that port again.
    ::ioctl(handle, TIOCNXCL);
    // The tty's close waits up to 30 s for queued output to leave; nothing of a session that
    // has ended needs to go out.
    ::tcflush(handle, TCOFLUSH);
    // Not retried on EINTR: Linux has released the descriptor by then.
    ::close(handle);
}

} // namespace serial_os
