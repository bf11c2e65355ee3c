// A named mutex, owned from its creation: the system destroys it with the last handle, so a
// crashed instance never leaves it behind. The "path" of the guard is the mutex's name, and
// fd_ holds the mutex HANDLE as HandleToLong gives it (kernel handles fit in 32 bits).
#include "shell/instance_guard.h"

#include <windows.h>

#include <utility>

std::string InstanceGuard::DefaultPath() {
    // No "Global\" prefix: one instance per logon session, as with a per-user lock on POSIX.
    return "QUILLET.MUTEX";
}

InstanceGuard::InstanceGuard(std::string path) : path_(std::move(path)) {}

InstanceGuard::~InstanceGuard() {
    if (fd_ != -1) {
        const HANDLE mutex = ::LongToHandle(fd_);
        ::ReleaseMutex(mutex);
        ::CloseHandle(mutex);
    }
}

bool InstanceGuard::Acquire() {
    if (fd_ != -1)
        return true;
    const HANDLE mutex = ::CreateMutexA(nullptr, TRUE, path_.c_str());
    if (mutex == nullptr) {
        // The mutex exists but its owner's security (another user's, or an elevated
        // instance's) keeps us from opening it: held elsewhere all the same. Any other failure
        // does not stop the updater from running.
        return ::GetLastError() != ERROR_ACCESS_DENIED;
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex); // not owned: the first instance still holds it
        return false;
    }
    fd_ = ::HandleToLong(mutex);
    return true;
}
