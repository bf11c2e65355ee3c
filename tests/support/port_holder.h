// Processes for port tests: another program holding a device, and a check run as a user
// without rights to the test's devices (so that "no permission" holds when the tests run as
// root).
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>

// Another process that opens the device at path and keeps it until destroyed, with TIOCEXCL
// and an exclusive flock as a serial program takes it, only the flock, or only open. A name
// given is the command name /proc shows for it.
class HeldPort {
public:
    enum class Hold { kLocked, kFlockOnly, kOpenOnly };
    explicit HeldPort(const std::string& path, Hold hold = Hold::kLocked,
                      const std::string& name = {});
    ~HeldPort();
    HeldPort(const HeldPort&) = delete;
    HeldPort& operator=(const HeldPort&) = delete;

    bool holding() const { return holding_; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int release_ = -1; // closing it lets the process end
    bool holding_ = false;
};

// Runs fn in a child process and returns what it returned. A root test drops to the user and
// group "nobody" (65534) first.
std::string RunAsUnprivileged(const std::function<std::string()>& fn);

// For its lifetime, a root test acts with the effective user and group "nobody" (65534), so
// that a device without rights for the user is denied to it too. Does nothing for other users.
class UnprivilegedScope {
public:
    UnprivilegedScope();
    ~UnprivilegedScope();
    UnprivilegedScope(const UnprivilegedScope&) = delete;
    UnprivilegedScope& operator=(const UnprivilegedScope&) = delete;

private:
    bool dropped_ = false;
};

// The command name of this process, as /proc shows it to others.
std::string OwnCommandName();
