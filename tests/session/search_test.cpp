// Framing, resends and the device search against the simulated board on a pseudo-terminal.
#include "serial/comport.h"
#include "session/framing.h"
#include "session/search.h"
#include "session/session_state.h"
#include "shell/panel_status_bar.h"
#include "shell/quillet.h"
#include "shell/status.h"
#include "support/board_session.h"
#include "support/plain_text.h"
#include "support/test_images.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

std::int16_t Search(BoardSession& s) {
    return SearchDevice(s.window->ProgressBar1, s.window->StatusBar1);
}

// Sends one EEPROM-style frame after a successful search.
std::int16_t SendTestFrame() {
    const std::uint8_t bytes[] = {0x40, 0x10, 0xAA, 0x01, 0x00};
    std::copy(std::begin(bytes), std::end(bytes), CommandBuffer);
    return SendFrame(CommandBuffer, 5);
}

TEST(Checksum, MakesTheFrameSumToZero) {
    const std::uint8_t a[] = {0x40, 0x10, 0xAA, 0x01, 0x00};
    const std::uint8_t b[] = {0x00, 0x01, 0x02};
    const std::uint8_t c[] = {0x80, 0x80};
    EXPECT_EQ(FrameChecksum(a, 5), 0x05);
    EXPECT_EQ(FrameChecksum(b, 3), 0xFD);
    EXPECT_EQ(FrameChecksum(c, 2), 0x00);
    EXPECT_EQ(FrameChecksum(a, 0), 0x00);
}

TEST(Search, BoardAnsweringTheThirdProbeIsFoundAndIdentified) {
    BoardSession s(
        {"--answer-from", "2", "--chip", "B", "--bios", "12", "--board", "5", "--prep", "0x83"});
    ASSERT_TRUE(s.sim.ready()) << s.sim.error();
    EXPECT_EQ(Search(s), kSearchFound);
    EXPECT_EQ(s.panel(StatusPanelIndex), QStringLiteral("Try 2"));
    EXPECT_EQ(s.panel(PortPanelIndex), QStringLiteral("COM1"));
    EXPECT_EQ(s.log("PROBE").size(), 3u);
    EXPECT_EQ(BoardSession::field(s.log("PROBE").front(), "byte"), "C2");
    EXPECT_EQ(DeviceInfo.BiosVersion, 12);
    EXPECT_EQ(DeviceInfo.ChipCode, 'B');
    EXPECT_EQ(DeviceInfo.BoardCode, 5);
    EXPECT_EQ(DeviceInfo.PreparationCode, 0x83);
    EXPECT_EQ(s.window->ProgressBar1->value(), 0);
    // Found: the session goes on, so Stop stays offered.
    EXPECT_TRUE(s.window->Button2->isVisible());
    EXPECT_FALSE(s.window->Button1->isVisible());
}

TEST(Search, OlderBootloaderIsFoundWithoutRecord) {
    BoardSession s({"--old-identity", "--chip", "F"});
    ASSERT_TRUE(s.sim.ready()) << s.sim.error();
    EXPECT_EQ(Search(s), kSearchFound);
    EXPECT_EQ(DeviceInfo.ChipCode, 'F');
    EXPECT_EQ(DeviceInfo.BiosVersion, 0);
    EXPECT_EQ(VersionRecordSeen, 0);
}

// Two sessions: a board cut off in the middle of its identity record, then a board with an
// older bootloader on the same port. The second board is identified on its own answer alone.
TEST(Search, RecordCutOffInOneSessionDoesNotIdentifyTheNextBoard) {
    BoardSession s({"--cut-identity", "2"}); // 'V', version 12, then nothing
    ASSERT_TRUE(s.sim.ready()) << s.sim.error();
    QTimer stop;
    QObject::connect(&stop, &QTimer::timeout, [&s] {
        if (s.panel(StatusPanelIndex) == QStringLiteral("Try 1"))
            s.window->Button2->click();
    });
    stop.start(1);
    EXPECT_EQ(Search(s), kSearchStopped);
    stop.stop();
    s.sim.stop();

    TestImage image = MakeTestImage(6, 2048, 2, 0x02);
    InstallTestImage(2, 6, image); // board code 2: what a board without a record is taken for
    SimBoard older({"--old-identity"}, s.env.comDir().toStdString());
    ASSERT_TRUE(older.ready()) << older.error();
    QTest::mouseClick(s.window->Button1, Qt::LeftButton);

    EXPECT_EQ(VersionRecordSeen, 0);
    EXPECT_TRUE(s.window->Label3->text().startsWith(QStringLiteral("BIOS:00 - ")))
        << s.window->Label3->text().toStdString();
    // Only board 2's image fits the board; a stale record would have selected row 0.
    EXPECT_EQ(s.resultLine().toStdString(), " Program Ok ");
    for (const std::string& line : older.logLines())
        EXPECT_NE(line.rfind("PROGMODE", 0), 0u) << "0xCC sent to an older bootloader";
}

TEST(Search, RefusedProbesAreRetriedAndNeverFound) {
    BoardSession s({"--nak-probes"});
    ASSERT_TRUE(s.sim.ready()) << s.sim.error();
    EXPECT_EQ(Search(s), kSearchNotFound);
    EXPECT_EQ(s.log("PROBE").size(), 100u);
}

// The one full-length search: 100 silent probes of 100 ms each.
TEST(Search, NoAnswerInAHundredProbesIsDeviceNotFound) {
    BoardSession s({"--answer-from", "1000"});
    ASSERT_TRUE(s.sim.ready()) << s.sim.error();
    EXPECT_EQ(Search(s), kSearchNotFound);
    EXPECT_EQ(s.panel(StatusPanelIndex), QStringLiteral("Device not Found"));
    EXPECT_EQ(s.log("PROBE").size(), 100u);
    EXPECT_TRUE(s.resultLine().isEmpty()); // no result line, no datagram
    EXPECT_TRUE(s.window->Button1->isVisible());
    EXPECT_FALSE(s.window->Button2->isVisible());
}

TEST(Search, StopDuringTheSearchIsUserAbort) {
    BoardSession s({"--answer-from", "1000"});
    ASSERT_TRUE(s.sim.ready()) << s.sim.error();
    QTimer::singleShot(30, s.window.get(), [&s] { s.window->Button2->click(); });
    EXPECT_EQ(Search(s), kSearchStopped);
    EXPECT_EQ(s.resultLine(), QStringLiteral(" User Abort !! "));
    EXPECT_EQ(AbortRequested, 0);
    EXPECT_TRUE(s.window->Button1->isVisible());
}

TEST(Search, StaleStopFromBeforeTheSearchIsDiscarded) {
    BoardSession s({});
    ASSERT_TRUE(s.sim.ready()) << s.sim.error();
    AbortRequested = 1; // "&Stop" pressed while nothing ran
    EXPECT_EQ(Search(s), kSearchFound);
}

TEST(Search, AbsentPortIsReportedAndRetriedOnTheNextPress) {
    BoardSession s({});
    ASSERT_TRUE(s.sim.ready()) << s.sim.error();
    SelectedPortIndex = 4; // COM5: nothing there
    OpenPortIndex = 3;
    EXPECT_EQ(Search(s), kSearchPortUnusable);
    EXPECT_EQ(s.resultLine(), QStringLiteral("Invalid Port Com"));
    EXPECT_TRUE(s.window->Button1->isVisible());
    EXPECT_FALSE(s.window->Button2->isVisible());

    // The adapter is plugged in afterwards: the next press opens it.
    ASSERT_EQ(::symlink(s.sim.slavePath().c_str(), (s.sim.comDir() + "/COM5").c_str()), 0);
    EXPECT_EQ(Search(s), kSearchFound);
    EXPECT_TRUE(PortTable[4].open);
}

class FramingTest : public ::testing::Test {
protected:
    void expectSends(const BoardSession& s, std::size_t sends) const {
        const auto frames = s.log("FRAME");
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(BoardSession::field(frames.back(), "send"), std::to_string(sends));
        EXPECT_EQ(frames.size(), sends);
    }
};

TEST_F(FramingTest, FourRefusalsThenAcceptedAfterFiveSends) {
    BoardSession s({"--nak", "0:4"});
    ASSERT_TRUE(s.sim.ready()) << s.sim.error();
    ASSERT_EQ(Search(s), kSearchFound);
    EXPECT_EQ(SendTestFrame(), kExchangeAccepted);
    EXPECT_EQ(CommandBuffer[5], 0x05);
    EXPECT_EQ(s.panel(StatusPanelIndex), QStringLiteral("Resend 3"));
    expectSends(s, 5);
}

TEST_F(FramingTest, FiveRefusalsAreAChecksumError) {
    BoardSession s({"--nak", "0:9"});
    ASSERT_TRUE(s.sim.ready()) << s.sim.error();
    ASSERT_EQ(Search(s), kSearchFound);
    EXPECT_EQ(SendTestFrame(), kExchangeRefused);
    EXPECT_EQ(s.panel(StatusPanelIndex), QStringLiteral("Resend 4"));
    expectSends(s, 5);
    ReportSessionError(kExchangeRefused);
    EXPECT_EQ(s.resultLine(), QStringLiteral(" CHK Error !! "));
}

TEST_F(FramingTest, SilenceIsNoReplyWithoutResend) {
    BoardSession s({"--silent", "0"});
    ASSERT_TRUE(s.sim.ready()) << s.sim.error();
    ASSERT_EQ(Search(s), kSearchFound);
    EXPECT_EQ(SendTestFrame(), kExchangeNoReply);
    expectSends(s, 1);
}

TEST_F(FramingTest, StopInTheThirdWaitEndsAfterExactlyThreeSends) {
    BoardSession s({"--nak", "0:9", "--reply-delay", "60"});
    ASSERT_TRUE(s.sim.ready()) << s.sim.error();
    ASSERT_EQ(Search(s), kSearchFound);
    // "Resend 1" is written right before the third send; press Stop as soon as it shows.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&s] {
        if (s.panel(StatusPanelIndex) == QStringLiteral("Resend 1"))
            AbortRequested = 1;
    });
    watch.start(1);
    EXPECT_EQ(SendTestFrame(), kExchangeStopped);
    watch.stop();
    ASSERT_TRUE(s.sim.waitForLog("FRAME", 3));
    expectSends(s, 3);
}

TEST_F(FramingTest, ReportSessionErrorIgnoresOtherCodes) {
    BoardSession s({});
    ReportSessionError(0);
    ReportSessionError(1);
    EXPECT_TRUE(s.resultLine().isEmpty());
    ReportSessionError(kExchangeNoReply);
    EXPECT_EQ(s.resultLine(), QStringLiteral(" not Response "));
}

class DeviceInfoTest : public ::testing::Test {
protected:
    TempEnvironment env;
    std::unique_ptr<TForm1> window;
    void SetUp() override {
        window = std::make_unique<TForm1>();
        Form1 = window.get();
        window->show();
        ResetSessionState();
    }
    void TearDown() override {
        window.reset();
        ResetUpdaterState();
    }
};

TEST_F(DeviceInfoTest, LinesForRecordVersions) {
    VersionRecordSeen = 1;
    DeviceInfo = DeviceIdentity{'B', 12, 5, 0x0A};
    std::strcpy(DeviceText, "Board text");
    ShowDeviceInfo();
    EXPECT_EQ(window->Label3->text(), QStringLiteral("BIOS:12 - KJB_R01 - Preparation0a"));
    EXPECT_TRUE(window->Label4->isVisible());
    EXPECT_EQ(window->Label4->text(), QStringLiteral("Board text"));
    EXPECT_EQ(window->Label3->palette().color(QPalette::WindowText), QColor(0, 0, 0));

    // Version 8 is the first with a board text, 31 the last.
    for (std::uint8_t version : {7, 8, 31, 32}) {
        DeviceInfo.BiosVersion = version;
        ShowDeviceInfo();
        EXPECT_EQ(window->Label4->isVisible(), version == 8 || version == 31) << int{version};
    }

    DeviceInfo.BiosVersion = 3;
    ShowDeviceInfo();
    EXPECT_EQ(window->Label3->text(), QStringLiteral("BIOS:03 - KJB_R01 - Preparation0a"));
}

TEST_F(DeviceInfoTest, BoardTextThatLooksLikeMarkupShowsAsItIs) {
    VersionRecordSeen = 1;
    DeviceInfo = DeviceIdentity{0xFE, 12, 16, 2};
    std::strcpy(DeviceText, "<h1>big</h1>");
    ShowDeviceInfo();
    EXPECT_EQ(window->Label4->text(), QStringLiteral("<h1>big</h1>"));
    EXPECT_TRUE(ShowsPlainText(*window->Label4));
}

TEST_F(DeviceInfoTest, OlderBootloaderShowsTheImagesCodes) {
    VersionRecordSeen = 0;
    DeviceInfo = DeviceIdentity{'F', 0, 5, 0x0A};
    ImageBoardCode = 16;
    ImagePreparationCode = 0x84;
    ShowDeviceInfo();
    EXPECT_EQ(window->Label3->text(), QStringLiteral("BIOS:00 - KJL_R02 - Preparation84"));
}

TEST_F(DeviceInfoTest, ErasedBoardTextShowsEmptyAndStaysEmpty) {
    VersionRecordSeen = 1;
    DeviceInfo = DeviceIdentity{0xFE, 12, 16, 2};
    DeviceText[0] = static_cast<char>(0xFF);
    DeviceText[1] = static_cast<char>(0xFF);
    ShowDeviceInfo();
    EXPECT_TRUE(window->Label4->isVisible());
    EXPECT_TRUE(window->Label4->text().isEmpty());
    EXPECT_EQ(DeviceText[0], '\0');
}

} // namespace
