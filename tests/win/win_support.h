// Helpers of the Windows layer's tests.
#pragma once

#include "serial/serial_os.h"

#include <windows.h>

#include <ostream>
#include <string>

namespace serial_os {
// Error codes by number in test messages.
inline void PrintTo(Error error, std::ostream* out) {
    *out << "serial_os::Error " << static_cast<int>(error);
}
} // namespace serial_os

// The test executable run as a second process: "--try-instance-guard NAME" takes the guard
// of that name and ends with one of these codes.
inline constexpr const char* kTryGuardSwitch = "--try-instance-guard";
inline constexpr int kGuardAcquired = 0;
inline constexpr int kGuardHeldElsewhere = 3;
// "--list-ports": lists the ports and ends with kPlantedDllLoaded when a cfgmgr32.dll from
// beside the executable was loaded meanwhile, else 0.
inline constexpr const char* kListPortsSwitch = "--list-ports";
inline constexpr int kPlantedDllLoaded = 3;

// True under Wine, which some checks cannot be made on.
inline bool UnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// An environment variable, or an empty text.
inline std::string Environment(const char* name) {
    char value[256] = {};
    const DWORD size = ::GetEnvironmentVariableA(name, value, sizeof value);
    return size > 0 && size < sizeof value ? std::string(value, size) : std::string();
}
