// PumpDelay, the one waiting primitive: its cycles and the window events run inside them.
#include "serial/comport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QPushButton>
#include <gtest/gtest.h>

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Counts the passes over pending events: it always has one event posted, and an event posted
// while the queue is being worked off waits for the next pass.
class PassCounter : public QObject {
public:
    PassCounter() { post(); }
    ~PassCounter() override { QCoreApplication::removePostedEvents(this); }
    int passes = 0;

protected:
    bool event(QEvent* e) override {
        if (e->type() != kPassEvent)
            return QObject::event(e);
        ++passes;
        post();
        return true;
    }

private:
    static constexpr QEvent::Type kPassEvent = QEvent::User;
    void post() { QCoreApplication::postEvent(this, new QEvent(kPassEvent)); }
};

struct CycleCase {
    const char* name;
    int ms;
    int cycles;
};

class PumpDelayCycles : public ::testing::TestWithParam<CycleCase> {};

TEST_P(PumpDelayCycles, SleepsAndPumpsOncePerFiveMillisecondsRoundedUp) {
    const CycleCase& c = GetParam();
    PassCounter counter;
    const Clock::time_point start = Clock::now();
    PumpDelay(c.ms);
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(counter.passes, c.cycles);
    EXPECT_GE(elapsed, milliseconds(5 * c.cycles));
    EXPECT_LT(elapsed, milliseconds(5 * c.cycles + 1000));
}

INSTANTIATE_TEST_SUITE_P(Requests, PumpDelayCycles,
                         ::testing::Values(CycleCase{"Zero", 0, 0}, CycleCase{"Negative", -5, 0},
                                           CycleCase{"One", 1, 1}, CycleCase{"Five", 5, 1},
                                           CycleCase{"Seven", 7, 2}, CycleCase{"Twelve", 12, 3},
                                           CycleCase{"Hundred", 100, 20}),
                         [](const ::testing::TestParamInfo<CycleCase>& info) {
                             return info.param.name;
                         });

TEST(PumpDelay, AButtonClickedDuringTheWaitIsHandledInsideIt) {
    QPushButton stop(QStringLiteral("&Stop"));
    bool waiting = false;
    bool handledWhileWaiting = false;
    QObject::connect(&stop, &QPushButton::clicked, [&] { handledWhileWaiting = waiting; });
    // The click is queued, as a press of the user's is, until somebody pumps events.
    QMetaObject::invokeMethod(&stop, &QPushButton::click, Qt::QueuedConnection);

    waiting = true;
    PumpDelay(20);
    waiting = false;
    EXPECT_TRUE(handledWhileWaiting);
}

TEST(PumpDelay, NoEventsAreHandledWithoutAWait) {
    bool handled = false;
    QObject receiver;
    QMetaObject::invokeMethod(
        &receiver, [&] { handled = true; }, Qt::QueuedConnection);
    PumpDelay(0);
    PumpDelay(-5);
    EXPECT_FALSE(handled);
    PumpDelay(5);
    EXPECT_TRUE(handled);
}

} // namespace
