// An exclusive flock: the kernel drops it when the holder dies, so a crashed instance never
// leaves a stale lock behind (a plain lock file would).
#include "shell/instance_guard.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
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
    const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return true;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool heldElsewhere = errno == EWOULDBLOCK;
        close(fd);
        return !heldElsewhere;
    }
    fd_ = fd;
    return true;
}
