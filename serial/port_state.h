// Whether a port can be opened now, and if not, why: told to the user beside "Invalid Port Com"
// and in the "Setup" dialog's list.
//
// Two ways to learn the state:
// - CheckPortState looks without opening the device. Opening a serial tty raises DTR and RTS,
//   and many boards wire those to their reset or boot-select pins, so a look at the port list
//   must never open one. It reads the node's metadata, the kernel's tty driver table, the lock
//   table and the open descriptors of the processes this user may see.
// - StateOfFailedOpen turns the error the driver got from an open into the same terms and looks
//   up who holds a busy port.
// The platform part (port_state_linux.cpp) does the looking; the texts are portable.
#pragma once

#include "serial/serial_os.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <string>

enum class PortState : std::uint8_t {
    kFree,      // can be opened now
    kBusy,      // another program has it open or locked
    kDenied,    // this user has no rights to it
    kGone,      // no device there (unplugged, or claimed by another driver)
    kNotSerial, // something there, but no serial line
    kFailed,    // the open failed for another reason (the OS text says which)
};

// A process holding a port, as /proc shows it.
struct PortHolder {
    int pid = 0;
    std::string name; // the process's command name
};

struct PortCheck {
    PortState state = PortState::kFree;
    std::optional<PortHolder> holder; // who keeps a busy port, when this user may see it
    std::string osText;               // the OS's words for kFailed
};

// Platform part. Never opens the device at path (a COM directory link is followed).
PortCheck CheckPortState(const std::string& path);
// Another process that has the device at path locked or open; this process does not count.
std::optional<PortHolder> FindPortHolder(const std::string& path);

// The state of port index n (0 = COM1) without opening it; kGone when it has no device path.
PortCheck CheckComPort(int index);
// The state behind a failed open of the device at path, with the holder of a busy one.
PortCheck StateOfFailedOpen(const serial_os::Status& status, const std::string& path);

// A few words for the port list: "free", "busy: minicom (pid 812)", "no permission", ...
QString PortStateLabel(const PortCheck& check);
// Why a port cannot be used and, where the user can act, what to do; shown beside
// "Invalid Port Com".
QString PortFailureReason(const PortCheck& check);
