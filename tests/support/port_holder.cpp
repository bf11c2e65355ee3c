#include "support/port_holder.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr uid_t kNobody = 65534;
}

HeldPort::HeldPort(const std::string& path, Hold hold, const std::string& name) {
    int ready[2];
    int release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return;
    if (::pipe2(release, O_CLOEXEC) != 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        // Only the device and the two pipe ends: inherited descriptors of the test's other
        // devices would make them look held by this process too.
        const unsigned int low = static_cast<unsigned int>(std::min(ready[1], release[0]));
        const unsigned int high = static_cast<unsigned int>(std::max(ready[1], release[0]));
        ::close_range(3, low - 1, 0);
        ::close_range(low + 1, high - 1, 0);
        ::close_range(high + 1, ~0U, 0);
        if (!name.empty())
            ::prctl(PR_SET_NAME, name.c_str());
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        bool ok = fd >= 0;
        if (ok && hold == Hold::kLocked)
            ok = ::ioctl(fd, TIOCEXCL) == 0;
        if (ok && hold != Hold::kOpenOnly)
            ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        const char answer = ok ? '1' : '0';
        if (::write(ready[1], &answer, 1) != 1)
            ::_exit(1);
        char byte;
        while (::read(release[0], &byte, 1) > 0) {
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char answer = '0';
    holding_ = pid_ > 0 && ::read(ready[0], &answer, 1) == 1 && answer == '1';
    ::close(ready[0]);
}

HeldPort::~HeldPort() {
    if (release_ >= 0)
        ::close(release_);
    if (pid_ > 0)
        ::waitpid(pid_, nullptr, 0);
}

std::string RunAsUnprivileged(const std::function<std::string()>& fn) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return "pipe failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(2);
        const std::string text = fn();
        const bool written =
            ::write(out[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::_exit(written ? 0 : 1);
    }
    ::close(out[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child failed";
    return text;
}

UnprivilegedScope::UnprivilegedScope() {
    if (::geteuid() != 0)
        return;
    dropped_ = ::setegid(kNobody) == 0 && ::seteuid(kNobody) == 0;
}

UnprivilegedScope::~UnprivilegedScope() {
    if (dropped_ && (::seteuid(0) != 0 || ::setegid(0) != 0))
        std::abort(); // the rest of the run would test something else
}

std::string OwnCommandName() {
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}
