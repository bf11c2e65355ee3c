// The "Setup" dialog with real widgets (offscreen) over a COM directory of links to real
// pseudo-terminals: what it lists, what it selects, and what "&Ok" does to the session port.
#include "serial/comport.h"
#include "serial/serialsetup.h"
#include "session/search.h"
#include "shell/panel_status_bar.h"
#include "shell/quillet.h"
#include "shell/status.h"
#include "support/board_session.h"
#include "support/sim_board.h"
#include "support/temp_env.h"

#include "support/pty.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <climits>
#include <pty.h>
#include <string>
#include <unistd.h>

namespace {
QStringList Entries(const QComboBox* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->itemText(i);
    return texts;
}

class SetupDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(pty_.slavePath().empty());
        SelectedPortIndex = 0;
        OpenPortIndex = -1;
    }
    void TearDown() override {
        for (int index = 0; index < kPortCount; ++index)
            ClosePort(index);
    }

    // COM<n> in the COM directory, leading to the test's pseudo-terminal.
    void Link(int n) const {
        const std::string entry = env_.comDir().toStdString() + "/COM" + std::to_string(n);
        ASSERT_EQ(::symlink(pty_.slavePath().c_str(), entry.c_str()), 0) << entry;
    }
    void Unlink(int n) const {
        ::unlink((env_.comDir().toStdString() + "/COM" + std::to_string(n)).c_str());
    }

    TempEnvironment env_;
    Pty pty_;
    TForm3 dialog_;
};

TEST_F(SetupDialog, NoPortPresentOkTakesCom1) {
    SelectedPortIndex = 4;
    OpenPortIndex = 4;
    dialog_.show();
    EXPECT_EQ(dialog_.ComboBox1->count(), 0);
    EXPECT_EQ(dialog_.ComboBox1->currentIndex(), -1);

    QTest::mouseClick(dialog_.Button1, Qt::LeftButton);
    EXPECT_EQ(SelectedPortIndex, 0);
    EXPECT_EQ(OpenPortIndex, 0); // OpenSelectedPort acted on COM1 (absent here)
    EXPECT_FALSE(PortTable[0].open);
    EXPECT_TRUE(dialog_.isHidden());
}

TEST_F(SetupDialog, AbsentSelectedPortSelectsTheFirstEntryAndOkSwitchesToIt) {
    Link(5);
    Link(3);
    SelectedPortIndex = 7; // COM8, not present
    OpenPortIndex = 7;
    dialog_.show();
    EXPECT_EQ(Entries(dialog_.ComboBox2), (QStringList{"COM3", "COM5"}));
    EXPECT_EQ(dialog_.ComboBox1->currentIndex(), 0);

    QTest::mouseClick(dialog_.Button1, Qt::LeftButton);
    EXPECT_EQ(SelectedPortIndex, 2);
    EXPECT_TRUE(PortTable[2].open); // opened at once, not at the next search
    EXPECT_TRUE(dialog_.isHidden());
}

TEST_F(SetupDialog, ChoosingAPortOpensItAtOnce) {
    Link(3);
    Link(4);
    SelectedPortIndex = 2;
    OpenPortIndex = 2;
    dialog_.show();
    dialog_.activateWindow(); // mnemonics act in the active window only
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog_));
    ASSERT_EQ(dialog_.ComboBox1->currentIndex(), 0);
    dialog_.ComboBox1->setFocus();
    QTest::keyClick(dialog_.ComboBox1, Qt::Key_Down);
    ASSERT_EQ(dialog_.ComboBox1->currentIndex(), 1);

    QTest::keyClick(dialog_.ComboBox1, Qt::Key_O, Qt::AltModifier); // "&Ok"
    // A mnemonic presses the button visibly and clicks it a moment later.
    ASSERT_TRUE(QTest::qWaitFor([this] { return dialog_.isHidden(); }, 2000));
    EXPECT_EQ(SelectedPortIndex, 3);
    EXPECT_EQ(OpenPortIndex, 3);
    EXPECT_TRUE(PortTable[3].open);
}

TEST_F(SetupDialog, OkOnThePortInUseDoesNotReopenIt) {
    Link(3);
    SelectedPortIndex = 2;
    OpenPortIndex = 1; // as after start-up: COM3 chosen, not opened yet
    dialog_.show();
    QTest::mouseClick(dialog_.Button1, Qt::LeftButton);
    EXPECT_EQ(SelectedPortIndex, 2);
    EXPECT_EQ(OpenPortIndex, 1);
    EXPECT_FALSE(PortTable[2].open);
    EXPECT_TRUE(dialog_.isHidden());
}

TEST_F(SetupDialog, IdenticalFriendlyNamesLeadToTheirOwnPorts) {
    Link(3);
    Link(12); // the same pseudo-terminal, so the same friendly name
    SelectedPortIndex = 2;
    OpenPortIndex = 2;
    dialog_.show();
    ASSERT_EQ(dialog_.ComboBox1->count(), 2);
    ASSERT_EQ(dialog_.ComboBox1->itemText(0), dialog_.ComboBox1->itemText(1));

    dialog_.ComboBox1->setCurrentIndex(1);
    QTest::mouseClick(dialog_.Button1, Qt::LeftButton);
    EXPECT_EQ(SelectedPortIndex, 11);
    EXPECT_TRUE(PortTable[11].open);
}

TEST_F(SetupDialog, ThreeDigitPortsAreListedAndCom1000EndsTheListing) {
    Link(10);
    Link(999);
    Link(1000);
    SelectedPortIndex = 998;
    dialog_.show();
    EXPECT_EQ(Entries(dialog_.ComboBox2), (QStringList{"COM10", "COM999"}));
    EXPECT_EQ(dialog_.ComboBox1->currentIndex(), 1);
    EXPECT_EQ(dialog_.PortNumberOfEntry(0), 9);
    EXPECT_EQ(dialog_.PortNumberOfEntry(1), 998);
}

TEST_F(SetupDialog, PortNumberOfEntryReadsTheNumberAfterTheLetters) {
    dialog_.ComboBox2->addItems({"COM3", "COM12", "", "COM", "MOC7", "com3", "COMX"});
    EXPECT_EQ(dialog_.PortNumberOfEntry(0), 2);
    EXPECT_EQ(dialog_.PortNumberOfEntry(1), 11);
    EXPECT_EQ(dialog_.PortNumberOfEntry(2), 0);  // empty entry
    EXPECT_EQ(dialog_.PortNumberOfEntry(3), 0);  // nothing after the letters
    EXPECT_EQ(dialog_.PortNumberOfEntry(4), 6);  // C, O and M in any order
    EXPECT_EQ(dialog_.PortNumberOfEntry(5), -1); // only capitals are skipped: no number
    EXPECT_EQ(dialog_.PortNumberOfEntry(6), -1);
    EXPECT_EQ(dialog_.PortNumberOfEntry(-1), 0); // no entry
}

TEST_F(SetupDialog, CancelShowsThePortInUseAgainAndChangesNothing) {
    Link(3);
    Link(5);
    SelectedPortIndex = 4;
    OpenPortIndex = 3;
    dialog_.show();
    ASSERT_EQ(dialog_.ComboBox1->currentIndex(), 1);
    dialog_.ComboBox1->setCurrentIndex(0);

    QTest::mouseClick(dialog_.Button2, Qt::LeftButton);
    EXPECT_EQ(dialog_.ComboBox1->currentIndex(), 1);
    EXPECT_EQ(SelectedPortIndex, 4);
    EXPECT_EQ(OpenPortIndex, 3);
    EXPECT_TRUE(dialog_.isHidden());
}

TEST_F(SetupDialog, CloseBoxOnlyHides) {
    Link(3);
    Link(5);
    SelectedPortIndex = 4;
    OpenPortIndex = 3;
    dialog_.show();
    dialog_.ComboBox1->setCurrentIndex(0);
    dialog_.close();
    EXPECT_TRUE(dialog_.isHidden());
    EXPECT_EQ(dialog_.ComboBox1->currentIndex(), 0); // not reselected
    EXPECT_EQ(SelectedPortIndex, 4);
    EXPECT_EQ(OpenPortIndex, 3);
}

TEST_F(SetupDialog, EachShowingListsThePortsPresentThen) {
    Link(3);
    dialog_.show();
    EXPECT_EQ(Entries(dialog_.ComboBox2), (QStringList{"COM3"}));
    dialog_.hide();

    Unlink(3);
    Link(7);
    dialog_.show();
    EXPECT_EQ(Entries(dialog_.ComboBox2), (QStringList{"COM7"}));
    EXPECT_EQ(Entries(dialog_.ComboBox1).size(), 1);
}

// Makes a main window the one the status operations write to, for one test.
class MainWindowInUse {
public:
    explicit MainWindowInUse(TForm1* window) : startingUp_(StartingUp) {
        Form1 = window;
        StartingUp = false;
    }
    ~MainWindowInUse() {
        Form1 = nullptr;
        StartingUp = startingUp_;
    }
    MainWindowInUse(const MainWindowInUse&) = delete;
    MainWindowInUse& operator=(const MainWindowInUse&) = delete;

private:
    bool startingUp_;
};

// The whole road: the simulated board's port chosen in the dialog is where the next search
// probes and finds the bootloader.
TEST(SetupDialogWithBoard, NextSearchProbesOnTheChosenPort) {
    TempEnvironment env;
    SimBoard board({"--com", "6"}, env.comDir().toStdString());
    ASSERT_TRUE(board.ready()) << board.error();
    TForm1 window;
    MainWindowInUse inUse(&window);
    TForm3 dialog;
    SelectedPortIndex = 0;
    OpenPortIndex = 0;

    dialog.show();
    ASSERT_EQ(Entries(dialog.ComboBox2), (QStringList{"COM6"}));
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
    ASSERT_TRUE(PortTable[5].open);

    EXPECT_EQ(SearchDevice(window.ProgressBar1, window.StatusBar1), kSearchFound);
    EXPECT_TRUE(board.waitForLog("PROBE", 1));
    ClosePort(5);
}

// A port chosen in the middle of an update is refused with its reason shown: every frame goes
// to the board the search found, and the choice can be made again once the update has ended.
TEST(SetupDialogWithBoard, PortChangeDuringAnUpdateIsRefused) {
    BoardSession s({});
    ASSERT_TRUE(s.sim.ready()) << s.sim.error();
    SimBoard other({"--com", "2"}, s.env.comDir().toStdString());
    ASSERT_TRUE(other.ready()) << other.error();
    TForm3 dialog;
    Form3 = &dialog;
    bool refusedOnScreen = false;
    QTimer midRun;
    QObject::connect(&midRun, &QTimer::timeout, [&] {
        if (!s.panel(StatusPanelIndex).startsWith(QStringLiteral("Program ")))
            return;
        midRun.stop();
        s.window->S1Click(); // "&Change port"
        dialog.ComboBox1->setCurrentIndex(dialog.FindPortEntry(1));
        QTest::mouseClick(dialog.Button1, Qt::LeftButton);
        refusedOnScreen = dialog.isVisible() && dialog.Label2->isVisible();
    });
    midRun.start(1);
    QTest::mouseClick(s.window->Button1, Qt::LeftButton);
    Form3 = nullptr;

    EXPECT_TRUE(refusedOnScreen);
    EXPECT_EQ(s.resultLine().toStdString(), " Program Ok ");
    EXPECT_EQ(SelectedPortIndex, 0);
    EXPECT_TRUE(other.logLines().empty()) << other.logLines().front();

    QTest::mouseClick(dialog.Button1, Qt::LeftButton); // the update has ended
    EXPECT_EQ(SelectedPortIndex, 1);
    EXPECT_FALSE(dialog.isVisible());
}
} // namespace
