// Whole updates against the simulated board: what arrives on the board, and what the window
// shows at the end.
#include "catalogue/catalogue.h"
#include "serial/comport.h"
#include "session/programming.h"
#include "session/session_state.h"
#include "shell/panel_status_bar.h"
#include "shell/quillet.h"
#include "shell/status.h"
#include "support/board_session.h"
#include "support/test_images.h"

#include <QCryptographicHash>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

std::string Hex4(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

// Presses "&Update" as a user would; the whole session runs inside the click.
void PressUpdate(BoardSession& s) {
    ASSERT_TRUE(s.sim.ready()) << s.sim.error();
    QTest::mouseClick(s.window->Button1, Qt::LeftButton);
}

// Presses "&Stop" once the status panel shows `text`.
struct StopWhen {
    QTimer timer;
    StopWhen(BoardSession& s, const QString& text) {
        QObject::connect(&timer, &QTimer::timeout, [&s, text, this] {
            if (s.panel(StatusPanelIndex) == text && s.window->Button2->isVisible()) {
                s.window->Button2->click();
                timer.stop();
            }
        });
        timer.start(1);
    }
};

TEST(Programming, ReleaseImageArrivesWholeThroughTheWindow) {
    BoardSession s({"--text", "KJL unit 7"});
    PressUpdate(s);
    TForm1& w = *s.window;

    EXPECT_EQ(s.resultLine(), QStringLiteral(" Program Ok "));
    EXPECT_EQ(w.Label2->palette().color(QPalette::Window), QColor(0, 128, 0));
    EXPECT_EQ(w.Label2->palette().color(QPalette::WindowText), QColor(255, 255, 255));
    EXPECT_TRUE(w.Button1->isVisible());
    EXPECT_FALSE(w.Button2->isVisible());
    EXPECT_EQ(w.focusWidget(), w.Button1);
    EXPECT_EQ(w.ProgressBar1->value(), 0);
    EXPECT_EQ(s.panel(ImagePanelIndex), QStringLiteral("Loaded 23217 bytes (0000 to 5AB1)"));
    EXPECT_EQ(s.panel(ChipPanelIndex), QStringLiteral("Found 24HJ64"));
    EXPECT_EQ(s.panel(StatusPanelIndex), QStringLiteral("Fix Program"));
    EXPECT_EQ(w.Label3->text(), QStringLiteral("BIOS:12 - KJL_R02 - Preparation02"));
    EXPECT_EQ(w.Label4->text(), QStringLiteral("KJL unit 7"));
    EXPECT_EQ(s.log("PROGMODE").size(), 1u);

    // 181 full blocks, the last block of 99 bytes, the fix block, each sent once; no EEPROM.
    // (Their addresses and length fields are the plan's, checked in its table tests.)
    const auto frames = s.log("FRAME");
    ASSERT_EQ(frames.size(), 183u);
    for (const std::string& f : frames)
        EXPECT_EQ(BoardSession::field(f, "send"), "1") << f;
    EXPECT_EQ(BoardSession::field(frames[181], "len"), "99");
    EXPECT_EQ(BoardSession::field(frames[182], "addr"), "A780");

    // On the wire: the stored image, reset patch included, and the fix block, byte for byte
    // what the board received from builds before the release description.
    SelectImage(0xFE, 16);
    const std::vector<std::uint8_t> wire = s.sim.wireFlash();
    EXPECT_EQ(QCryptographicHash::hash(QByteArrayView(wire.data(), wire.size()),
                                       QCryptographicHash::Sha256)
                  .toHex()
                  .toStdString(),
              "3efa98fe2849a209e80c939cb7e4dbf1717a61736a522e2d06b368df327cd3c8");
    const std::vector<std::uint8_t> image(SelectedImage.FlashData,
                                          SelectedImage.FlashData + SelectedImage.FlashSize);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), wire.begin()));

    // What the board keeps: the image unscrambled with the key of 0, the plain reset patch,
    // nothing between the image and the fix block, and the fix block unscrambled with the key
    // of its address: 0xFF fill, the release's plain fix bytes at its end.
    const std::vector<std::uint8_t> flash = s.sim.flash();
    ASSERT_EQ(flash.size(), static_cast<std::size_t>(0xA780 * 2 + 256));
    for (std::size_t i = 8; i < image.size(); ++i)
        ASSERT_EQ(flash[i], image[i] ^ 0x6B) << i;
    const std::uint8_t patch[8] = {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_TRUE(std::equal(patch, patch + 8, flash.begin()));
    EXPECT_EQ(flash[46435], 0xFF);
    const std::size_t fix = 0xA780 * 2;
    for (std::size_t j = 0; j < 248; ++j)
        ASSERT_EQ(flash[fix + j], 0xFF) << j;
    ASSERT_EQ(SelectedImage.FixSize, 8);
    EXPECT_TRUE(
        std::equal(SelectedImage.FixData, SelectedImage.FixData + 8, flash.begin() + fix + 248));
}

struct ChipBCase {
    int bios;
    int programLimit;
    std::uint8_t firstPatchByte;
    std::size_t progModeEntries;
};

class ChipBVersionTest : public ::testing::TestWithParam<ChipBCase> {};

TEST_P(ChipBVersionTest, ImageLongerThanTheLimitIsCutAndVersionSetsTheBootArea) {
    const ChipBCase c = GetParam();
    BoardSession s(
        {"--chip", "B", "--board", "5", "--prep", "4", "--bios", std::to_string(c.bios)});
    TestImage image = MakeTestImage(0, 0x8000 + 100, 5, 4, 6);
    InstallTestImage(5, 0, image);
    PressUpdate(s);

    EXPECT_EQ(s.resultLine(), QStringLiteral(" Program Ok "));
    EXPECT_EQ(ProgramLimit, c.programLimit);
    EXPECT_EQ(ProgramLength, c.programLimit);
    EXPECT_EQ(s.panel(ChipPanelIndex), QStringLiteral("Found 258"));
    EXPECT_EQ(s.log("PROGMODE").size(), c.progModeEntries);
    const auto frames = s.log("FRAME");
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(c.programLimit / 64 + 1));
    // The limit is a whole number of blocks: the last image block is full.
    EXPECT_EQ(BoardSession::field(frames[frames.size() - 2], "len"), "64");
    EXPECT_EQ(BoardSession::field(frames.back(), "addr"), Hex4(c.programLimit));
    const std::vector<std::uint8_t> wire = s.sim.wireFlash();
    ASSERT_GT(wire.size(), static_cast<std::size_t>(c.programLimit));
    EXPECT_EQ(wire[0] ^ 0x6B, c.firstPatchByte);
    EXPECT_TRUE(std::equal(image.flash.begin() + 4, image.flash.begin() + c.programLimit,
                           wire.begin() + 4));
    // The board keeps the plain fix bytes at the end of the fix block, on either generation:
    // the run scrambles them with the key of the block's address, the board unscrambles them.
    const std::vector<std::uint8_t> flash = s.sim.flash();
    ASSERT_EQ(flash.size(), static_cast<std::size_t>(c.programLimit + 64));
    EXPECT_TRUE(std::equal(image.fix.rbegin(), image.fix.rend(), flash.rbegin()));
    EXPECT_EQ(flash[static_cast<std::size_t>(c.programLimit)], 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Versions, ChipBVersionTest,
                         ::testing::Values(ChipBCase{4, 0x7EC0, 0x80, 0},
                                           ChipBCase{5, 0x7E40, 0x40, 1}));

TEST(Programming, TooBigImageForChip24HJ64IsRefusedBeforeAnythingIsWritten) {
    BoardSession s({});
    TestImage image = MakeTestImage(6, 2 * 0xA780 + 2, 16, 2);
    InstallTestImage(16, 6, image);
    PressUpdate(s);
    EXPECT_EQ(s.resultLine(), QStringLiteral(" Hex too Big !! "));
    EXPECT_EQ(s.panel(ChipPanelIndex), QStringLiteral("Warning"));
    EXPECT_TRUE(s.log("FRAME").empty());
    EXPECT_TRUE(s.log("PROGMODE").empty());
}

TEST(Programming, BoardWithoutImageIsRefused) {
    BoardSession s({"--board", "7"});
    PressUpdate(s);
    EXPECT_EQ(s.resultLine(), QStringLiteral(" No Hex inside !! "));
    EXPECT_TRUE(s.log("FRAME").empty());
}

TEST(Programming, UnknownChipIsRefused) {
    BoardSession s({"--chip", "Z"});
    PressUpdate(s);
    EXPECT_EQ(s.resultLine(), QStringLiteral(" Error !! "));
    EXPECT_EQ(s.panel(ChipPanelIndex), QStringLiteral("Unknow Device"));
    EXPECT_TRUE(s.log("FRAME").empty());
}

TEST(Programming, UnsuitablePreparationIsRefusedBeforeAnythingIsWritten) {
    BoardSession s({"--prep", "0x12"});
    PressUpdate(s);
    EXPECT_EQ(s.resultLine(), QStringLiteral("KJL_R02 - Preparation2"));
    EXPECT_EQ(s.panel(ChipPanelIndex), QStringLiteral("Warning!!"));
    EXPECT_EQ(s.panel(ImagePanelIndex), QStringLiteral("not suitable apparatus"));
    EXPECT_TRUE(s.log("FRAME").empty());
    EXPECT_TRUE(s.log("PROGMODE").empty());
}

TEST(BoardCheck, PreparationRules) {
    struct Case {
        int deviceBoard, devicePrep, imageBoard, imagePrep, mask;
    };
    const Case cases[] = {
        {16, 0x01, 16, 0x01, 0}, {16, 0x01, 16, 0x04, 0}, {16, 0x01, 16, 0x02, 2},
        {16, 0x02, 16, 0x01, 0}, {16, 0x02, 16, 0x04, 0}, {16, 0x02, 16, 0x05, 2},
        {16, 0x03, 16, 0x80, 0}, {16, 0x03, 16, 0x81, 0}, {16, 0x03, 16, 0x04, 2},
        {16, 0x05, 16, 0x04, 0}, {16, 0x05, 16, 0x85, 0}, {16, 0x05, 16, 0x06, 2},
        {16, 0x82, 16, 0x85, 0}, {16, 0x12, 16, 0x02, 2}, {16, 0x12, 16, 0x12, 0},
        {16, 0x06, 16, 0x16, 0}, {16, 0x16, 16, 0x06, 2}, {16, 0x07, 16, 0x27, 2},
        {5, 0x02, 16, 0x02, 1},  {5, 0x12, 16, 0x02, 3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BoardCheckMask(static_cast<std::uint8_t>(c.deviceBoard),
                                 static_cast<std::uint8_t>(c.devicePrep),
                                 static_cast<std::uint8_t>(c.imageBoard),
                                 static_cast<std::uint8_t>(c.imagePrep)),
                  c.mask)
            << c.deviceBoard << " " << c.devicePrep << " " << c.imageBoard << " " << c.imagePrep;
}

// The board's protected range, from its text block, reaches the run; which blocks it skips is
// the plan's (table tests).
TEST(Programming, BlocksEndingInTheBoardsProtectedRangeAreSkipped) {
    BoardSession s({"--protected-start", "256", "--protected-length", "128"});
    PressUpdate(s);
    EXPECT_EQ(s.resultLine(), QStringLiteral(" Program Ok "));
    const auto frames = s.log("FRAME");
    ASSERT_EQ(frames.size(), 181u);
    EXPECT_EQ(BoardSession::field(frames[1], "addr"), "0180");
}

TEST(Programming, FullBlockWithoutReplyIsPassedOverButTheLastOneIsNot) {
    {
        BoardSession s({"--silent", "3"});
        PressUpdate(s);
        EXPECT_EQ(s.resultLine(), QStringLiteral(" Program Ok "));
        const auto frames = s.log("FRAME");
        ASSERT_EQ(frames.size(), 183u); // block 3 sent once, not repeated
        EXPECT_EQ(BoardSession::field(frames[3], "reply"), "none");
    }
    {
        BoardSession s({"--silent", "181"});
        PressUpdate(s);
        EXPECT_EQ(s.resultLine(), QStringLiteral(" not Response "));
        EXPECT_EQ(s.log("FRAME").size(), 182u); // no fix block after it
    }
}

TEST(Programming, FiveRefusalsEndTheRunWithChecksumError) {
    BoardSession s({"--nak", "5:9"});
    PressUpdate(s);
    EXPECT_EQ(s.resultLine(), QStringLiteral(" CHK Error !! "));
    const auto frames = s.log("FRAME");
    ASSERT_EQ(frames.size(), 10u); // frames 0..4, then five sends of frame 5
    EXPECT_EQ(BoardSession::field(frames.back(), "n"), "5");
    EXPECT_TRUE(s.window->Button1->isVisible());
}

TEST(Programming, StopDuringProgrammingIsUserAbort) {
    BoardSession s({});
    StopWhen stop(s, QStringLiteral("Program 01280 (00500)"));
    PressUpdate(s);
    EXPECT_EQ(s.resultLine(), QStringLiteral(" User Abort !! "));
    EXPECT_LT(s.log("FRAME").size(), 20u);
    EXPECT_NE(s.window->ProgressBar1->value(), 0); // stays where the run stopped
}

// A Stop in the waits before the first frame ends the run there: the board gets nothing more.
TEST(Programming, StopBeforeTheFirstFrameWritesNothing) {
    {
        // The programming-mode wait of a board that does not answer 0xCC (2 s).
        BoardSession s({"--progmode-reply", "none"});
        StopWhen stop(s, QStringLiteral("Entry in PrgMode"));
        PressUpdate(s);
        EXPECT_EQ(s.resultLine(), QStringLiteral(" User Abort !! "));
        EXPECT_EQ(s.log("PROGMODE").size(), 1u);
        EXPECT_TRUE(s.log("FRAME").empty());
        EXPECT_TRUE(s.window->Button1->isVisible());
    }
    {
        // The text-block wait after an identity whose text block is cut off (1.25 s).
        BoardSession s({"--bios", "12", "--cut-identity", "19:1", "--chip", "C"});
        QTimer stop;
        QObject::connect(&stop, &QTimer::timeout, [&s, &stop] {
            if (AckReceived != 0 && s.window->Button2->isVisible()) {
                s.window->Button2->click();
                stop.stop();
            }
        });
        stop.start(1);
        PressUpdate(s);
        EXPECT_EQ(s.resultLine(), QStringLiteral(" User Abort !! "));
        EXPECT_TRUE(s.log("PROGMODE").empty());
        EXPECT_TRUE(s.log("FRAME").empty());
    }
}

// A reply that comes after its frame's wait must not be taken for the next frame's, and a block
// that drew no reply is named.
TEST(Programming, LateAndMissingRepliesAreNotTakenForTheNextFrame) {
    {
        // The last full block's 'K' comes 100 ms after its wait; the last block gets none.
        BoardSession s({"--late-reply", "180:1100", "--silent", "181"});
        PressUpdate(s);
        EXPECT_EQ(s.resultLine(), QStringLiteral(" not Response "));
        EXPECT_EQ(s.log("FRAME").size(), 182u);
        EXPECT_TRUE(UnansweredBlocks.empty()); // block 180 was answered, late
    }
    {
        BoardSession s({"--silent", "3"});
        PressUpdate(s);
        EXPECT_EQ(s.resultLine(), QStringLiteral(" Program Ok "));
        EXPECT_EQ(UnansweredBlocks, std::vector<std::int32_t>{3 * 128});
    }
    {
        // Boards that answer every block: silence ends the run, nothing follows the block.
        BoardSession s({"--silent", "3"});
        PassOverSilentBlocks = 0;
        PressUpdate(s);
        EXPECT_EQ(s.resultLine(), QStringLiteral(" not Response "));
        EXPECT_EQ(s.log("FRAME").size(), 4u);
    }
}

TEST(Programming, VanishedDeviceEndsTheRunAtOnce) {
    BoardSession s({"--hangup-after", "10"});
    PressUpdate(s);
    EXPECT_EQ(s.resultLine(), QStringLiteral(" not Response "));
    EXPECT_FALSE(PortTable[0].open);
}

TEST(Programming, EepromBytesFollowTheFixBlock) {
    BoardSession s({"--chip", "F", "--board", "9", "--prep", "1", "--bios", "5"});
    TestImage image = MakeTestImage(4, 300, 9, 4, 4, 20);
    InstallTestImage(9, 4, image);
    QTimer watch;
    int eepromMaximum = 0;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (s.panel(StatusPanelIndex).startsWith(QStringLiteral("Program EEP")))
            eepromMaximum = s.window->ProgressBar1->maximum();
    });
    watch.start(1);
    PressUpdate(s);
    EXPECT_EQ(s.resultLine(), QStringLiteral(" Program Ok "));
    EXPECT_EQ(eepromMaximum, 20);
    EXPECT_EQ(s.panel(StatusPanelIndex), QStringLiteral("Program EEP 19"));
    const auto frames = s.log("FRAME");
    ASSERT_EQ(frames.size(), 4u + 1u + 1u + 20u); // 4 full, last 44 bytes, fix, 20 EEPROM
    EXPECT_EQ(BoardSession::field(frames[4], "len"), "44");
    EXPECT_EQ(BoardSession::field(frames[5], "addr"), "1E40");
    EXPECT_EQ(BoardSession::field(frames[6], "cmd"), "40");
    const std::vector<std::uint8_t> eeprom = s.sim.wireEeprom();
    ASSERT_EQ(eeprom.size(), 256u);
    EXPECT_TRUE(std::equal(image.eeprom.begin(), image.eeprom.end(), eeprom.begin()));
    EXPECT_EQ(eeprom[20], 0xFF);
}

TEST(Programming, ClosingTheWindowStopsTheSessionFirst) {
    BoardSession s({});
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&s, &watch] {
        if (s.panel(StatusPanelIndex) == QStringLiteral("Program 00640 (00280)")) {
            s.window->close();
            watch.stop();
        }
    });
    watch.start(1);
    PressUpdate(s);
    EXPECT_EQ(s.resultLine(), QStringLiteral(" User Abort !! "));
    EXPECT_FALSE(s.window->isVisible()); // closed once the session had ended
    EXPECT_LT(s.log("FRAME").size(), 20u);
    EXPECT_EQ(s.env.readComSetting(), QStringLiteral("0"));
}

} // namespace
