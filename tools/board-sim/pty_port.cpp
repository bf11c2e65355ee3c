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
    master_ = -1;
    slave_ = -1;
}

int PtyPort::unreadByHost() const {
    int count = 0;
    if (slave_ < 0 || ::ioctl(slave_, FIONREAD, &count) != 0)
        return -1;
    return count;
}

} // namespace boardsim
