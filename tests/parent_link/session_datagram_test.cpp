// Whole sessions against the simulated board with the parent link on: what the parent on
// port 3000 receives for each way a session ends.
#include "parent_link/udp_test_socket.h"

#include "shell/parent_link.h"
#include "shell/startup.h"
#include "shell/status.h"
#include "support/board_session.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// Notes, whenever the result line reports a change while showing `text`, whether a datagram
// had already reached the parent. The GUI thread waits here, so nothing is sent meanwhile.
class LineWatcher : public QObject {
public:
    LineWatcher(UdpTestSocket& parent, QString text) : parent_(parent), text_(std::move(text)) {}
    // One entry per change reported: whether a datagram was already out.
    std::vector<bool> datagramWasOut;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto type = event->type();
        const auto* line = static_cast<QLabel*>(watched);
        if ((type == QEvent::PaletteChange || type == QEvent::Show) && line->text() == text_) {
            datagramWasOut.push_back(parent_.Pending(500ms));
        }
        return QObject::eventFilter(watched, event);
    }

private:
    UdpTestSocket& parent_;
    QString text_;
};

class SessionDatagramTest : public ::testing::Test {
protected:
    void SetUp() override {
        EndParentLink();
        ASSERT_TRUE(parent_.Bind(kParentPort)) << "port 3000 is taken by another program";
        ProgramArguments = {"quillet", "\\P"};
    }
    void TearDown() override {
        EndParentLink();
        ProgramArguments.clear();
    }
    static void PressUpdate(BoardSession& s) {
        ASSERT_TRUE(s.sim.ready()) << s.sim.error();
        QTest::mouseClick(s.window->Button1, Qt::LeftButton);
    }
    // Everything the parent received, waiting a little for stragglers.
    std::vector<std::vector<std::uint8_t>> Received() {
        std::vector<std::vector<std::uint8_t>> datagrams;
        while (const auto datagram = parent_.Receive(300ms)) {
            EXPECT_EQ(datagram->sourcePort, kNotifierPort);
            datagrams.push_back(datagram->bytes);
        }
        return datagrams;
    }

    UdpTestSocket parent_;
};

TEST_F(SessionDatagramTest, ASuccessfulUpdateSendsOneCodeOneBeforeProgramOkShows) {
    BoardSession s({});
    LineWatcher programming(parent_, QStringLiteral(" Programming... "));
    LineWatcher success(parent_, QStringLiteral(" Program Ok "));
    s.window->Label2->installEventFilter(&programming);
    s.window->Label2->installEventFilter(&success);
    PressUpdate(s);
    s.window->Label2->removeEventFilter(&programming);
    s.window->Label2->removeEventFilter(&success);

    ASSERT_EQ(s.resultLine(), QStringLiteral(" Program Ok "));
    ASSERT_FALSE(programming.datagramWasOut.empty());
    for (const bool out : programming.datagramWasOut)
        EXPECT_FALSE(out) << "the working line sends nothing";
    ASSERT_FALSE(success.datagramWasOut.empty());
    for (const bool out : success.datagramWasOut)
        EXPECT_TRUE(out);
    EXPECT_EQ(Received(), (std::vector<std::vector<std::uint8_t>>{kSuccessDatagram}));
}

TEST_F(SessionDatagramTest, AStoppedUpdateSendsOneCodeZero) {
    // Stopped while programming, and in the programming-mode wait before any frame.
    for (const char* where : {"Program ", "Entry in PrgMode"}) {
        SCOPED_TRACE(where);
        BoardSession s({"--progmode-reply", "none"});
        QTimer stop;
        QObject::connect(&stop, &QTimer::timeout, [&s, &stop, where] {
            if (s.panel(StatusPanelIndex).startsWith(QLatin1String(where)) &&
                s.window->Button2->isVisible()) {
                s.window->Button2->click();
                stop.stop();
            }
        });
        stop.start(1);
        PressUpdate(s);
        ASSERT_EQ(s.resultLine(), QStringLiteral(" User Abort !! "));
        EXPECT_EQ(Received(), (std::vector<std::vector<std::uint8_t>>{kFailureDatagram}));
    }
}

TEST_F(SessionDatagramTest, ARefusedBoardSendsOneCodeZero) {
    BoardSession s({"--board", "7"});
    PressUpdate(s);
    ASSERT_FALSE(s.resultLine().isEmpty());
    EXPECT_EQ(Received(), (std::vector<std::vector<std::uint8_t>>{kFailureDatagram}));
}

TEST_F(SessionDatagramTest, DeviceNotFoundSendsNothing) {
    BoardSession s({"--nak-probes"});
    PressUpdate(s);
    ASSERT_EQ(s.panel(StatusPanelIndex), QStringLiteral("Device not Found"));
    EXPECT_TRUE(Received().empty());
}

} // namespace
