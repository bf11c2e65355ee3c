// A port that cannot be opened says why in the main window, beside "Invalid Port Com": the
// driver's own open of a real pseudo-terminal or file behind a COM directory entry.
#include "serial/comport.h"
#include "shell/quillet.h"
#include "shell/status.h"
#include "support/plain_text.h"
#include "support/port_holder.h"
#include "support/pty.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class Setup { kHeldElsewhere, kNoPermission, kVanished, kPlainFile };

struct Case {
    const char* name;
    Setup setup;
    std::string reason;      // after "COM3: "; a held port adds its holder
    std::string holder = {}; // the holder's command name; empty: this test's own
};

class PortFailureShown : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        ASSERT_EQ(::chmod(env_.comDir().toLocal8Bit().constData(), 0755), 0);
        Form1 = &window_;
        StartingUp = false;
        SelectedPortIndex = 2;
        OpenPortIndex = 1;
    }
    void TearDown() override {
        Form1 = nullptr;
        for (int index = 0; index < kPortCount; ++index)
            ClosePort(index);
    }
    std::string entry() const { return env_.comDir().toStdString() + "/COM3"; }

    TempEnvironment env_;
    TForm1 window_;
};

TEST_P(PortFailureShown, BesideInvalidPortCom) {
    const Case& c = GetParam();
    Pty pty;
    std::unique_ptr<HeldPort> held;
    std::optional<UnprivilegedScope> unprivileged;
    std::string expected = "COM3: " + c.reason;
    switch (c.setup) {
    case Setup::kHeldElsewhere:
        held = std::make_unique<HeldPort>(pty.slavePath(), HeldPort::Hold::kLocked, c.holder);
        ASSERT_TRUE(held->holding());
        expected += (c.holder.empty() ? OwnCommandName() : c.holder) + " (pid " +
                    std::to_string(held->pid()) + ")";
        ASSERT_EQ(::symlink(pty.slavePath().c_str(), entry().c_str()), 0);
        break;
    case Setup::kNoPermission:
        ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0), 0);
        ASSERT_EQ(::symlink(pty.slavePath().c_str(), entry().c_str()), 0);
        unprivileged.emplace();
        break;
    case Setup::kVanished:
        ASSERT_EQ(::symlink("/dev/pts/no-such-terminal", entry().c_str()), 0);
        break;
    case Setup::kPlainFile:
        std::ofstream(entry()) << "not a tty";
        break;
    }

    ShowPortOpenFailure(OpenSelectedPort());
    unprivileged.reset();
    EXPECT_FALSE(PortTable[2].open);
    EXPECT_EQ(window_.Label2->text(), QStringLiteral("Invalid Port Com"));
    EXPECT_FALSE(window_.Label5->isHidden());
    EXPECT_EQ(window_.Label5->text().toStdString(), expected);
    EXPECT_TRUE(ShowsPlainText(*window_.Label5));

    // The next line written takes the reason away with the failure it explained, and so
    // does "Change port", which clears the result line.
    ShowStatus(QStringLiteral(" Searching... "), kColorButtonFace);
    EXPECT_TRUE(window_.Label5->isHidden());
    ShowPortFailure(QStringLiteral("again"));
    window_.S1Click();
    EXPECT_TRUE(window_.Label5->isHidden());
}

INSTANTIATE_TEST_SUITE_P(
    States, PortFailureShown,
    ::testing::Values(Case{"HeldElsewhere", Setup::kHeldElsewhere, "in use by "},
                      // Any local user names a process as they like.
                      Case{"HeldByMarkupName", Setup::kHeldElsewhere, "in use by ", "<b>x</b>"},
                      Case{"NoPermission", Setup::kNoPermission,
                           "no permission: add your user to the 'dialout' group and log in again"},
                      Case{"Vanished", Setup::kVanished, "no device on this port (unplugged?)"},
                      Case{"PlainFile", Setup::kPlainFile, "not a serial device"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

} // namespace
