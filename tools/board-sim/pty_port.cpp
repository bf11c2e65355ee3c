#include "pty_port.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif

namespace boardsim {

namespace {

std::string systemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

PtyPort::~PtyPort() {
    unpublish();
    hangUp();
}

std::string PtyPort::open() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        return systemError("posix_openpt");
    if (grantpt(master_) != 0)
        return systemError("grantpt");
    if (unlockpt(master_) != 0)
        return systemError("unlockpt");
    const char* name = ptsname(master_);
    if (name == nullptr)
        return systemError("ptsname");
    slavePath_ = name;

    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0)
        return systemError(slavePath_.c_str());
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0)
        return systemError("tcgetattr");
    cfmakeraw(&tio);
    tio.c_cflag |= CSTOPB | CLOCAL | CREAD;
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    if (tcsetattr(slave_, TCSANOW, &tio) != 0)
        return systemError("tcsetattr");

#ifdef __linux__
    // Every open and close of the slave by anyone else is reported here (ours came before).
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ < 0 || inotify_add_watch(watch_, slavePath_.c_str(),
                                        IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
        return systemError("inotify");
#endif

    const int flags = fcntl(master_, F_GETFL);
    if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0)
        return systemError("fcntl");
    return {};
}

std::string PtyPort::publish(const std::string& dir, int com) {
    const std::string link = dir + "/COM" + std::to_string(com);
    // Link under a temporary name and rename over, so a stale link from a killed run is
    // replaced and no reader ever sees the name missing or half made.
    const std::string temp = link + ".tmp" + std::to_string(getpid());
    ::unlink(temp.c_str());
    if (::symlink(slavePath_.c_str(), temp.c_str()) != 0)
        return systemError(temp.c_str());
    if (::rename(temp.c_str(), link.c_str()) != 0) {
        const std::string error = systemError(link.c_str());
        ::unlink(temp.c_str());
        return error;
    }
    linkPath_ = link;
    return {};
}

void PtyPort::unpublish() {
    if (linkPath_.empty())
        return;
    // Leave the name alone if another simulator has taken it over meanwhile.
    char target[PATH_MAX];
    const ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == slavePath_)
        ::unlink(linkPath_.c_str());
    linkPath_.clear();
}

void PtyPort::hangUp() {
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    if (watch_ >= 0)
        ::close(watch_);
    master_ = -1;
    slave_ = -1;
    watch_ = -1;
}

void PtyPort::hostOpenedOrClosed() {
#ifdef __linux__
    alignas(inotify_event) char buf[4096];
    ssize_t n;
    while ((n = ::read(watch_, buf, sizeof buf)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buf + at);
            if (event->mask & IN_OPEN)
                ++hostOpens_;
            if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE))
                hostOpens_ = hostOpens_ > 0 ? hostOpens_ - 1 : 0;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (hostOpens_ == 0 && slave_ >= 0)
        ::ioctl(slave_, TIOCNXCL);
#endif
}

int PtyPort::unreadByHost() const {
    int count = 0;
    if (slave_ < 0 || ::ioctl(slave_, FIONREAD, &count) != 0)
        return -1;
    return count;
}

} // namespace boardsim
