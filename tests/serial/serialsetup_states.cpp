// The "Setup" dialog tells usable ports from unusable ones, and follows ports that appear
// while it is shown: real pseudo-terminals behind a COM directory, one held by another
// process, one the user may not open.
#include "serial/comport.h"
#include "serial/port_state.h"
#include "serial/serialsetup.h"
#include "support/port_holder.h"
#include "support/pty.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QTest>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class SetupDialogStates : public ::testing::Test {
protected:
    void SetUp() override {
        // Another user (the tests as root act as "nobody" below) must reach the entries, and
        // a test adds one while that user is in effect.
        ASSERT_EQ(::chmod(env_.comDir().toLocal8Bit().constData(), 0777), 0);
        SelectedPortIndex = 0;
        OpenPortIndex = 0;
    }

    // COM<n> leading to pty; mode is the device node's.
    void Link(int n, const Pty& pty, mode_t mode) const {
        ASSERT_FALSE(pty.slavePath().empty());
        ASSERT_EQ(::chmod(pty.slavePath().c_str(), mode), 0);
        const std::string entry = env_.comDir().toStdString() + "/COM" + std::to_string(n);
        ASSERT_EQ(::symlink(pty.slavePath().c_str(), entry.c_str()), 0) << entry;
    }

    PortState StateAt(int position) const {
        return static_cast<PortState>(dialog_.ComboBox1->itemData(position).toInt());
    }

    TempEnvironment env_;
    TForm3 dialog_;
};

TEST_F(SetupDialogStates, EachPortShowsWhetherItCanBeOpened) {
    Pty free;
    Pty busy;
    Pty denied;
    Link(1, free, 0666);
    Link(2, busy, 0666);
    Link(3, denied, 0);
    HeldPort held(busy.slavePath());
    ASSERT_TRUE(held.holding());
    const UnprivilegedScope unprivileged;

    dialog_.show();
    ASSERT_EQ(dialog_.ComboBox1->count(), 3);
    EXPECT_EQ(StateAt(0), PortState::kFree);
    EXPECT_EQ(StateAt(1), PortState::kBusy);
    EXPECT_EQ(StateAt(2), PortState::kDenied);
    const QString holder =
        QStringLiteral("%1 (pid %2)").arg(QString::fromStdString(OwnCommandName())).arg(held.pid());
    EXPECT_TRUE(dialog_.ComboBox1->itemText(0).endsWith(QStringLiteral(" \u2013 free")));
    EXPECT_TRUE(dialog_.ComboBox1->itemText(1).endsWith(QStringLiteral(" \u2013 busy: ") + holder))
        << dialog_.ComboBox1->itemText(1).toStdString();
    EXPECT_TRUE(dialog_.ComboBox1->itemText(2).endsWith(QStringLiteral(" \u2013 no permission")));

    // The chosen port's state in full, with what to do about it.
    EXPECT_EQ(dialog_.Label3->text(), QString());
    dialog_.ComboBox1->setCurrentIndex(1);
    EXPECT_EQ(dialog_.Label3->text(), QStringLiteral("in use by ") + holder);
    dialog_.ComboBox1->setCurrentIndex(2);
    EXPECT_TRUE(dialog_.Label3->text().contains(QStringLiteral("'dialout' group")));
}

TEST_F(SetupDialogStates, APortCreatedWhileShownAppearsAndTheChoiceStays) {
    Pty first;
    Pty second;
    Link(1, first, 0666);
    dialog_.show();
    ASSERT_EQ(dialog_.ComboBox1->count(), 1);
    dialog_.ComboBox1->setCurrentIndex(0);

    Link(4, second, 0666);
    ASSERT_TRUE(QTest::qWaitFor([this] { return dialog_.ComboBox2->count() == 2; }, 5000));
    EXPECT_EQ(dialog_.ComboBox2->itemText(1), QStringLiteral("COM4"));
    EXPECT_EQ(StateAt(1), PortState::kFree);
    EXPECT_EQ(dialog_.ComboBox1->currentIndex(), 0);

    ASSERT_TRUE(QFile::remove(env_.comDir() + QStringLiteral("/COM1")));
    ASSERT_TRUE(QTest::qWaitFor([this] { return dialog_.ComboBox2->count() == 1; }, 5000));
    EXPECT_EQ(dialog_.ComboBox2->itemText(0), QStringLiteral("COM4"));
}

} // namespace
