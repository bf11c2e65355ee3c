// Every test executable runs with a real (offscreen) QApplication, so windows, timers and
// the event pump behave as in the updater. Each test starts from the process state of a freshly
// started updater, so that no test depends on the ones run before it.
#include "support/board_session.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {
class FreshUpdaterState : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { ResetUpdaterState(); }
};
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshUpdaterState);
    return RUN_ALL_TESTS();
}
