// An exclusive flock: the kernel drops it when the holder dies, so a crashed instance never
// leaves a stale lock behind (a plain lock file would).
#include "shell/instance_guard.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

std::string InstanceGuard::DefaultPath() {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir != nullptr && *runtimeDir != '\0')
        return std::string(runtimeDir) + "/QUILLET.MUTEX";
    return "/tmp/QUILLET.MUTEX-" + std::to_string(getuid());
}

InstanceGuard::InstanceGuard(std::string path) : path_(std::move(path)) {}

InstanceGuard::~InstanceGuard() {
    if (fd_ >= 0) {
        flock(fd_, LOCK_UN);
        close(fd_);
    }
}

bool InstanceGuard::Acquire() {
    if (fd_ >= 0)
        return true;
    // The fallback path lies in /tmp, where anyone can make it first. A link is not followed,
    // and a file that is not this user's own is not used: another user could hold its lock
    // and keep the updater from ever starting. Without a usable lock the updater still runs.
    const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == ELOOP)
            std::fprintf(stderr, "%s is a link; running without the single-instance lock\n",
                         path_.c_str());
        return true;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
        std::fprintf(stderr,
                     "%s is not this user's own file; running without the single-instance "
                     "lock\n",
                     path_.c_str());
        close(fd);
        return true;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool heldElsewhere = errno == EWOULDBLOCK;
        close(fd);
        return !heldElsewhere;
    }
    fd_ = fd;
    return true;
}
