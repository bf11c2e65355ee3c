// Single-instance guard "QUILLET.MUTEX": held for the whole life of the first instance.
#pragma once

#include <string>

class InstanceGuard {
public:
    // Path of the lock for this user: $XDG_RUNTIME_DIR/QUILLET.MUTEX, else a per-user file in /tmp.
    // On Windows the name of the mutex, "QUILLET.MUTEX".
    static std::string DefaultPath();

    explicit InstanceGuard(std::string path = DefaultPath());
    ~InstanceGuard();
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    // True when this process now holds the lock; false when another instance holds it.
    // A lock file that cannot be created at all does not stop the updater from running.
    bool Acquire();

private:
    std::string path_;
    int fd_ = -1; // the lock's descriptor; on Windows the mutex HANDLE (HandleToLong)
};
