// The state of a port, looked at without opening it, on real pseudo-terminals and files: free,
// held by another process (locked, or only open), no permission, vanished, not a serial line.
// The texts a failed open shows in the window are tested in port_failure_window_test.cpp.
#include "serial/port_state.h"
#include "support/port_holder.h"
#include "support/pty.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <sys/stat.h>

namespace {

TEST(PortStateCheck, EachStateAndItsLabel) {
    Pty free, locked, open, denied;
    HeldPort lockHolder(locked.slavePath());
    HeldPort openHolder(open.slavePath(), HeldPort::Hold::kOpenOnly);
    ASSERT_TRUE(lockHolder.holding() && openHolder.holding());
    ASSERT_EQ(::chmod(denied.slavePath().c_str(), 0), 0);
    QTemporaryDir dir;
    const std::string plain = dir.filePath("plain").toStdString();
    std::ofstream(plain) << "x";
    const std::string holder = "busy: " + OwnCommandName() + " (pid ";

    struct Case {
        std::string path;
        PortState state;
        std::string label;
    };
    const Case cases[] = {
        {free.slavePath(), PortState::kFree, "free"},
        {locked.slavePath(), PortState::kBusy, holder + std::to_string(lockHolder.pid()) + ")"},
        {open.slavePath(), PortState::kBusy, holder + std::to_string(openHolder.pid()) + ")"},
        {dir.filePath("COM3").toStdString(), PortState::kGone, "gone"},
        {plain, PortState::kNotSerial, "not a serial port"},
        {"/dev/null", PortState::kNotSerial, "not a serial port"},
    };
    for (const Case& c : cases) {
        const PortCheck check = CheckPortState(c.path);
        EXPECT_EQ(check.state, c.state) << c.path;
        EXPECT_EQ(PortStateLabel(check).toStdString(), c.label) << c.path;
    }
    // Root may open anything: the user without rights is played by "nobody".
    EXPECT_EQ(RunAsUnprivileged(
                  [&] { return PortStateLabel(CheckPortState(denied.slavePath())).toStdString(); }),
              "no permission");
}

TEST(PortStateCheck, BusyWithoutAVisibleHolderSaysAnotherProgram) {
    const serial_os::Status busy{serial_os::Error::kBusy, "Device or resource busy"};
    EXPECT_EQ(PortFailureReason(StateOfFailedOpen(busy, "/nonexistent")).toStdString(),
              "in use by another program");
}

} // namespace
