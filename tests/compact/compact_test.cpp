// The same updater built for a compact-layout product ("KFN" in its product string): the
// compact window leads, the full one is built but stays hidden.
#include "catalogue/catalogue.h"
#include "serial/comport.h"
#include "session/search.h"
#include "session/session_state.h"
#include "shell/identity.h"
#include "shell/mhead.h"
#include "shell/panel_status_bar.h"
#include "shell/quillet.h"
#include "shell/status.h"
#include "support/board_session.h"
#include "support/sim_board.h"
#include "support/temp_env.h"

#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <set>

namespace {

// Both windows constructed in start-up order, the compact one first.
struct CompactUpdater {
    TempEnvironment env;
    SimBoard sim;
    std::unique_ptr<TForm5> compact;
    std::unique_ptr<TForm1> full;

    explicit CompactUpdater(std::vector<std::string> simArgs)
        : sim(std::move(simArgs), env.comDir().toStdString()) {
        env.writeComSetting(QStringLiteral("0"));
        compact = std::make_unique<TForm5>();
        Form5 = compact.get();
        full = std::make_unique<TForm1>();
        Form1 = full.get();
        compact->show();
    }
    ~CompactUpdater() {
        full.reset();
        compact.reset();
        ResetUpdaterState();
    }
    QString panel(int index) const { return compact->StatusBar1->panelText(index); }
};

TEST(CompactLayout, ThisReleaseUsesTheCompactWindow) {
    EXPECT_TRUE(UsesCompactLayout(QString::fromLatin1(ProductString())));
    CompactUpdater u({});
    EXPECT_EQ(u.compact->windowTitle(), BuildCompactTitle());
    EXPECT_TRUE(BuildCompactTitle().startsWith(QStringLiteral("Upgrade 1.0 -   KFN")));
    EXPECT_EQ(ChipPanelIndex, -2);
    EXPECT_EQ(u.compact->StatusBar1->panelCount(), 5);
    EXPECT_EQ(u.panel(PortPanelIndex), QStringLiteral("COM1"));
    EXPECT_FALSE(u.full->isVisible());
    EXPECT_EQ(ProbeByte(), 0xC5);
}

TEST(CompactLayout, ResultsGoToTheStatusPanelOnly) {
    CompactUpdater u({});
    u.compact->Button1->setVisible(false);
    u.compact->Button2->setVisible(true);
    ShowResult(QStringLiteral(" CHK Error !! "), kColorRed, 0);
    EXPECT_EQ(u.panel(StatusPanelIndex), QStringLiteral(" CHK Error !! "));
    EXPECT_TRUE(u.full->Label2->isHidden());
    EXPECT_TRUE(u.compact->Button2->isVisible()); // buttons untouched
    ShowStatus(QStringLiteral(" Programming... "), kColorButtonFace);
    EXPECT_EQ(u.panel(StatusPanelIndex), QStringLiteral(" Programming... "));
}

TEST(CompactLayout, AFailedPortSaysWhyInTheFreeChipPanel) {
    CompactUpdater u({});
    SelectedPortIndex = 6; // COM7: nothing there
    OpenPortIndex = 5;
    ShowPortOpenFailure(OpenSelectedPort());
    EXPECT_EQ(u.panel(StatusPanelIndex), QStringLiteral("Invalid Port Com"));
    EXPECT_EQ(u.panel(2), QStringLiteral("COM7: no device on this port (unplugged?)"));
    ShowStatus(QStringLiteral(" Programming... "), kColorButtonFace);
    EXPECT_EQ(u.panel(2), QString());
}

TEST(CompactLayout, StopButtonBringsStartBack) {
    CompactUpdater u({});
    u.compact->Button1->setVisible(false);
    u.compact->Button2->setVisible(true);
    u.compact->Button2->click();
    EXPECT_TRUE(u.compact->Button1->isVisible());
    EXPECT_FALSE(u.compact->Button2->isVisible());
    EXPECT_EQ(AbortRequested, 1);
    AbortRequested = 0;
}

TEST(CompactLayout, WholeUpdateEndsWithProgramOkInThePanel) {
    CompactUpdater u({"--answer-from", "3"});
    ASSERT_TRUE(u.sim.ready()) << u.sim.error();
    std::set<int> searchProgress;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (u.panel(StatusPanelIndex) == QStringLiteral("Search Device"))
            searchProgress.insert(u.compact->ProgressBar1->value());
    });
    watch.start(1);
    QTest::mouseClick(u.compact->Button1, Qt::LeftButton);
    watch.stop();

    EXPECT_EQ(u.panel(StatusPanelIndex), QStringLiteral("Program OK"));
    EXPECT_TRUE(u.panel(ChipPanelIndex).isEmpty()); // no chip texts in this layout
    EXPECT_TRUE(u.panel(ImagePanelIndex).isEmpty());
    EXPECT_TRUE(u.full->Label2->text().isEmpty()); // success is not a ShowResult here
    EXPECT_TRUE(u.compact->Button1->isVisible());
    EXPECT_FALSE(u.compact->Button2->isVisible());
    EXPECT_EQ(u.compact->ProgressBar1->value(), 0);
    // The probe counts down from 100 while it searches.
    EXPECT_TRUE(searchProgress.count(100) && searchProgress.count(97)) << searchProgress.size();
    const auto lines = u.sim.logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.front().find("byte=C5"), std::string::npos) << lines.front();
    std::size_t frames = 0;
    for (const auto& line : lines)
        frames += line.rfind("FRAME ", 0) == 0;
    EXPECT_EQ(frames, 183u);
}

// The release's command line searches as its window does: with the compact probe.
TEST(CompactLayout, CommandLineProbesWithTheCompactByte) {
    TempEnvironment env;
    SimBoard sim({}, env.comDir().toStdString());
    ASSERT_TRUE(sim.ready()) << sim.error();
    QProcess cli;
    cli.start(QStringLiteral(QUILLET_CLI_PATH), {QStringLiteral("--port"), QStringLiteral("COM1")});
    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    const auto lines = sim.logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.front().find("byte=C5"), std::string::npos) << lines.front();
}

TEST(CompactLayout, MissingImageStopsWithoutAnyMessage) {
    CompactUpdater u({"--board", "7"});
    ASSERT_TRUE(u.sim.ready()) << u.sim.error();
    QTest::mouseClick(u.compact->Button1, Qt::LeftButton);
    EXPECT_TRUE(u.full->Label2->text().isEmpty());
    EXPECT_NE(u.panel(StatusPanelIndex), QStringLiteral("Program OK"));
    EXPECT_NE(u.panel(StatusPanelIndex), QStringLiteral(" No Hex inside !! "));
}

} // namespace
