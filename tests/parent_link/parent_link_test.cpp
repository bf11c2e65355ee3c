// The parent-program link over real UDP sockets on the loopback: the test plays the parent on
// port 3000. The ports are fixed, so this executable must never run beside another that uses
// them.
#include "parent_link/udp_test_socket.h"

#include "shell/identity.h"
#include "shell/mhead.h"
#include "shell/parent_link.h"
#include "shell/quillet.h"
#include "shell/startup.h"
#include "shell/status.h"
#include "support/temp_env.h"

#include <QEvent>
#include <QLabel>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

namespace {

class ParentLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        EndParentLink();
        ASSERT_TRUE(parent_.Bind(kParentPort)) << "port 3000 is taken by another program";
    }
    void TearDown() override {
        EndParentLink();
        ProgramArguments.clear();
    }
    static void StartWith(std::vector<std::string> arguments) {
        ProgramArguments = std::move(arguments);
        StartParentLink();
    }

    UdpTestSocket parent_;
};

struct SwitchCase {
    std::vector<std::string> arguments;
    bool linkOn;
};
void PrintTo(const SwitchCase& c, std::ostream* os) {
    for (const auto& argument : c.arguments)
        *os << '"' << argument << "\" ";
}

class ParentSwitchTest : public ParentLinkTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(ParentSwitchTest, OnlyAFirstArgumentBackslashPTurnsTheLinkOn) {
    StartWith(GetParam().arguments);
    EXPECT_EQ(Notifier != nullptr, GetParam().linkOn);
    // With the link off no socket exists, so port 3004 stays free for anyone.
    EXPECT_EQ(PortIsFree(kNotifierPort), !GetParam().linkOn);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ParentSwitchTest,
    ::testing::Values(SwitchCase{{"quillet"}, false}, SwitchCase{{"quillet", "\\P"}, true},
                      SwitchCase{{"quillet", "\\p"}, true},
                      SwitchCase{{"quillet", "\\P", "COM3", "x"}, true},
                      SwitchCase{{"quillet", "/P"}, false}, SwitchCase{{"quillet", "-P"}, false},
                      SwitchCase{{"quillet", "P"}, false}, SwitchCase{{"quillet", "\\PP"}, false},
                      SwitchCase{{"quillet", "\\"}, false}, SwitchCase{{"quillet", ""}, false},
                      SwitchCase{{"quillet", "x", "\\P"}, false}));

TEST_F(ParentLinkTest, EachCodeTravelsAsTwelveBytesFromPort3004) {
    StartWith({"quillet", "\\P"});
    NotifyParent(1);
    NotifyParent(0);

    const auto success = parent_.Receive(2s);
    ASSERT_TRUE(success.has_value());
    EXPECT_EQ(success->bytes, kSuccessDatagram);
    EXPECT_EQ(success->sourcePort, kNotifierPort);
    EXPECT_EQ(success->sourceAddress, "127.0.0.1");
    const auto failure = parent_.Receive(2s);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->bytes, kFailureDatagram);
    EXPECT_EQ(failure->sourcePort, kNotifierPort);
    EXPECT_FALSE(parent_.Pending(200ms)) << "one datagram per call";
}

TEST_F(ParentLinkTest, WithoutTheSwitchNothingIsSent) {
    StartWith({"quillet", "/P"});
    ShowResult(QStringLiteral(" Program Ok "), kColorGreen, 1);
    NotifyParent(0);
    EXPECT_FALSE(parent_.Pending(300ms));
}

TEST_F(ParentLinkTest, ADatagramSentToTheNotifierChangesNothing) {
    StartWith({"quillet", "\\P"});
    StatusNotifier* const notifier = Notifier;
    UdpTestSocket stranger;
    ASSERT_TRUE(stranger.SendTo(kNotifierPort, {}));
    ASSERT_TRUE(stranger.SendTo(kNotifierPort, kSuccessDatagram));
    ASSERT_TRUE(stranger.SendTo(kNotifierPort, std::vector<std::uint8_t>(65507, 0xA5)));

    // The listener reads them: the socket's receive queue empties without our help.
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (QueuedBytesOnPort(kNotifierPort) != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(QueuedBytesOnPort(kNotifierPort), 0);

    EXPECT_FALSE(stranger.Pending(200ms)) << "nothing is answered";
    EXPECT_FALSE(parent_.Pending(0ms)) << "nothing goes to the parent";
    EXPECT_EQ(Notifier, notifier);
    EXPECT_FALSE(Notifier->Busy.load());
    NotifyParent(1);
    const auto datagram = parent_.Receive(2s);
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(datagram->bytes, kSuccessDatagram);
}

TEST_F(ParentLinkTest, ASecondStartKeepsTheNotifierThatExists) {
    StartWith({"quillet", "\\P"});
    StatusNotifier* const first = Notifier;
    ASSERT_NE(first, nullptr);
    EXPECT_NO_THROW(StartParentLink());
    EXPECT_EQ(Notifier, first);
    NotifyParent(1);
    const auto datagram = parent_.Receive(2s);
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(datagram->sourcePort, kNotifierPort);
    EXPECT_FALSE(parent_.Pending(200ms));
}

TEST_F(ParentLinkTest, APortHeldByAnotherProgramIsNamedInTheError) {
    {
        UdpTestSocket holder;
        ASSERT_TRUE(holder.Bind(kNotifierPort, true));
        ProgramArguments = {"quillet", "\\P"};
        try {
            StartParentLink();
            ADD_FAILURE() << "binding a held port succeeded";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find("3004"), std::string::npos) << error.what();
        }
        EXPECT_EQ(Notifier, nullptr);
    }
    // Once the port is free again the link starts.
    StartParentLink();
    EXPECT_NE(Notifier, nullptr);
}

TEST_F(ParentLinkTest, TheListenerStopsAndFreesThePortWhenTheLinkEnds) {
    StartWith({"quillet", "\\P"});
    UdpTestSocket stranger;
    ASSERT_TRUE(stranger.SendTo(kNotifierPort, kSuccessDatagram));
    const auto started = std::chrono::steady_clock::now();
    EndParentLink();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_EQ(Notifier, nullptr);
    EXPECT_TRUE(PortIsFree(kNotifierPort));
    NotifyParent(1);
    EXPECT_FALSE(parent_.Pending(200ms));
}

// The windows read and write the settings; each test gets its own store.
class ParentLinkWindowTest : public ParentLinkTest {
protected:
    void SetUp() override {
        ParentLinkTest::SetUp();
        // The full window leads in this release, so results show on its labels.
        ASSERT_FALSE(UsesCompactLayout(QString::fromLatin1(ProductString())));
        ProgramArguments = {"quillet", "\\P"};
    }
    void TearDown() override {
        Form1 = nullptr;
        Form5 = nullptr;
        ChipPanelIndex = 2;
        ParentLinkTest::TearDown();
    }
    TempEnvironment environment_;
};

// Notes, at the first change the result line reports, whether the datagram had already gone.
class FirstChangeWatcher : public QObject {
public:
    explicit FirstChangeWatcher(UdpTestSocket& parent) : parent_(parent) {}
    bool changed = false;
    bool datagramWasOut = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto type = event->type();
        if (!changed && (type == QEvent::PaletteChange || type == QEvent::Show)) {
            changed = true;
            // The GUI thread is held here, so nothing can be sent while we wait.
            datagramWasOut = parent_.Pending(500ms);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    UdpTestSocket& parent_;
};

TEST_F(ParentLinkWindowTest, ShowResultSendsBeforeItDisplays) {
    TForm1 window;
    Form1 = &window;
    window.show();
    ASSERT_NE(Notifier, nullptr) << "the window's construction starts the link";
    FirstChangeWatcher watcher(parent_);
    window.Label2->installEventFilter(&watcher);

    ShowResult(QStringLiteral(" Program Ok "), kColorGreen, 1);

    window.Label2->removeEventFilter(&watcher);
    EXPECT_TRUE(watcher.changed);
    EXPECT_TRUE(watcher.datagramWasOut);
    EXPECT_EQ(window.Label2->text(), QStringLiteral(" Program Ok "));
    const auto datagram = parent_.Receive(2s);
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(datagram->bytes, kSuccessDatagram);
    EXPECT_EQ(datagram->sourcePort, kNotifierPort);
    EXPECT_FALSE(parent_.Pending(200ms));
}

TEST_F(ParentLinkWindowTest, TheCompactLayoutStartsWithTheSwitch) {
    // Both main windows are constructed; each starts the link.
    std::unique_ptr<TForm5> compact;
    std::unique_ptr<TForm1> full;
    ASSERT_NO_THROW(compact = std::make_unique<TForm5>());
    StatusNotifier* const notifier = Notifier;
    ASSERT_NE(notifier, nullptr);
    ASSERT_NO_THROW(full = std::make_unique<TForm1>());
    EXPECT_EQ(Notifier, notifier);
    Form5 = compact.get();
    Form1 = full.get();
    ShowResult(QStringLiteral(" CHK Error !! "), kColorRed, 0);
    const auto datagram = parent_.Receive(2s);
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(datagram->bytes, kFailureDatagram);
    EXPECT_FALSE(parent_.Pending(200ms));
}

} // namespace
