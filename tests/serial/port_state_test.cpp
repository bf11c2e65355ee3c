// The state of a port, looked at without opening it and learned from a failed open, on real
// pseudo-terminals and files: free, held by another process, no permission, vanished, and not
// a serial device.
#include "serial/port_state.h"
#include "support/port_holder.h"
#include "support/pty.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <memory>
#include <sys/stat.h>

namespace {

// What the user is told about the device at path: the list's label from a look that does not
// open it, and the reason beside "Invalid Port Com" from an open that failed.
struct Seen {
    PortState looked;
    std::string label;
    std::string reason; // empty when the open succeeded
};

Seen Observe(const std::string& path) {
    const PortCheck look = CheckPortState(path);
    serial_os::Handle handle = serial_os::kNoHandle;
    const serial_os::Status status = serial_os::Open(path, handle);
    if (status.ok())
        serial_os::Close(handle);
    return {look.state, PortStateLabel(look).toStdString(),
            PortFailureReason(StateOfFailedOpen(status, path)).toStdString()};
}

TEST(PortStateCheck, FreePseudoTerminalOpens) {
    Pty pty;
    const Seen seen = Observe(pty.slavePath());
    EXPECT_EQ(seen.looked, PortState::kFree);
    EXPECT_EQ(seen.label, "free");
    EXPECT_EQ(seen.reason, "");
}

TEST(PortStateCheck, HeldByAnotherProcessNamesIt) {
    const std::string holder = OwnCommandName() + " (pid ";
    for (const HeldPort::Hold hold : {HeldPort::Hold::kLocked, HeldPort::Hold::kOpenOnly}) {
        Pty pty;
        HeldPort held(pty.slavePath(), hold);
        ASSERT_TRUE(held.holding());
        const PortCheck look = CheckPortState(pty.slavePath());
        EXPECT_EQ(look.state, PortState::kBusy);
        ASSERT_TRUE(look.holder.has_value());
        EXPECT_EQ(look.holder->pid, held.pid());
        const std::string pid = std::to_string(held.pid()) + ")";
        EXPECT_EQ(PortStateLabel(look).toStdString(), "busy: " + holder + pid);
        if (hold == HeldPort::Hold::kLocked) { // only a lock keeps our open out
            EXPECT_EQ(Observe(pty.slavePath()).reason, "in use by " + holder + pid);
        }
    }
}

TEST(PortStateCheck, BusyWithoutAVisibleHolderSaysAnotherProgram) {
    const serial_os::Status busy{serial_os::Error::kBusy, "Device or resource busy"};
    EXPECT_EQ(PortFailureReason(StateOfFailedOpen(busy, "/nonexistent")).toStdString(),
              "in use by another program");
}

TEST(PortStateCheck, NoPermissionNamesTheFix) {
    Pty pty;
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0), 0);
    const std::string seen = RunAsUnprivileged([&] {
        const Seen s = Observe(pty.slavePath());
        return s.label + "|" + s.reason;
    });
    EXPECT_EQ(seen, "no permission|no permission: add your user to the 'dialout' group and log "
                    "in again");
}

TEST(PortStateCheck, VanishedPathIsGone) {
    QTemporaryDir dir;
    const std::string link = dir.filePath("COM3").toStdString();
    {
        Pty pty;
        ASSERT_EQ(::symlink(pty.slavePath().c_str(), link.c_str()), 0);
    } // both sides closed: the kernel removes the node
    const Seen seen = Observe(link);
    EXPECT_EQ(seen.looked, PortState::kGone);
    EXPECT_EQ(seen.label, "gone");
    EXPECT_EQ(seen.reason, "no device on this port (unplugged?)");
}

TEST(PortStateCheck, NotASerialDevice) {
    QTemporaryDir dir;
    const std::string file = dir.filePath("plain").toStdString();
    std::ofstream(file) << "x";
    for (const std::string& path : {file, std::string("/dev/null")}) {
        const Seen seen = Observe(path);
        EXPECT_EQ(seen.looked, PortState::kNotSerial) << path;
        EXPECT_EQ(seen.label, "not a serial port") << path;
        EXPECT_EQ(seen.reason, "not a serial device") << path;
    }
}

} // namespace
