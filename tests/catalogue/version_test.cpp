// The device list dialog, against catalogue states installed entry by entry.
#include "catalogue/catalogue.h"
#include "catalogue/version.h"
#include "shell/clickable_label.h"
#include "shell/quillet.h"
#include "shell/status.h"
#include "support/temp_env.h"

#include <QFontInfo>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <gtest/gtest.h>
#include <ostream>

namespace {

const QString kHeading = QStringLiteral("Device - Print          - Preparation");
const QString kRule = QStringLiteral("-------------------------------------");

// Images of our own, big enough for the header bytes of every slot.
constexpr int kImageSize = 1100;
std::uint8_t Images[24][kImageSize];

class DeviceListTest : public ::testing::Test {
protected:
    void SetUp() override { BuildImageCatalogue(); }
    void TearDown() override { BuildImageCatalogue(); }

    // Puts an image carrying the given codes (stored scrambled) into one catalogue entry.
    void Install(int row, int slot, std::uint8_t board, std::uint8_t preparation) {
        ASSERT_LT(used_, 24);
        std::uint8_t* image = Images[used_++];
        const int offset = slot == 6 ? 1024 : 14;
        const std::uint8_t key = ImageKey(0, ImagesScrambled);
        image[offset] = static_cast<std::uint8_t>(board ^ key);
        image[offset + 1] = static_cast<std::uint8_t>(preparation ^ key);
        ImageCatalogue[row][slot].FlashData = image;
        ImageCatalogue[row][slot].FlashSize = kImageSize;
    }
    static void Remove(int row, int slot) { ImageCatalogue[row][slot].FlashSize = 1; }

    // The lines the dialog lists when it is shown.
    QStringList Shown() {
        dialog_.show();
        QStringList lines;
        for (int i = 0; i < dialog_.ListBox1->count(); ++i)
            lines << dialog_.ListBox1->item(i)->text();
        dialog_.hide();
        return lines;
    }

    TForm4 dialog_;
    int used_ = 0;
};

TEST_F(DeviceListTest, ThisReleaseListsItsOneImage) {
    EXPECT_EQ(Shown(), (QStringList{kHeading, kRule,
                                    QStringLiteral("24HJ64 - KJL_R02[16PIN] -    [Code:02]")}));
}

TEST_F(DeviceListTest, WithoutImagesOnlyTheHeadingAndTheRuleAreListed) {
    Remove(16, 6);
    EXPECT_EQ(Shown(), (QStringList{kHeading, kRule}));
    EXPECT_EQ(kRule.size(), kHeading.size());
}

TEST_F(DeviceListTest, ShowingTwiceGivesTheSameLines) {
    const QStringList first = Shown();
    EXPECT_EQ(Shown(), first);
    EXPECT_EQ(first.size(), 3);
}

TEST_F(DeviceListTest, ADefaultEntryHidesTheBoardEntriesOfItsGroupOnly) {
    Install(0, 6, 5, 0x04);
    Install(5, 6, 6, 0x04); // hidden by the default entry of slot 6
    Install(2, 1, 7, 0x05); // another group, still listed
    EXPECT_EQ(Shown(), (QStringList{kHeading, kRule,
                                    QStringLiteral("24HJ64 - KJB_R01[16PIN] - CAN   [Code:04]"),
                                    QStringLiteral("2580   - KJD_R01[16PIN] - SRV   [Code:05]")}));
}

TEST_F(DeviceListTest, EntriesAreListedInTheFixedOrder) {
    Remove(16, 6);
    // Installed out of order; entries outside the listing never show.
    Install(0, 5, 3, 0x01);
    Install(19, 6, 19, 0x01);
    Install(0, 2, 3, 0x01);
    Install(6, 0, 6, 0x01);
    Install(5, 6, 5, 0x01);
    Install(4, 1, 4, 0x01);
    Install(0, 4, 3, 0x01);
    Install(11, 6, 11, 0x01);
    Install(0, 3, 3, 0x01);
    Install(9, 6, 9, 0x01); // board 9 has no place in the listing
    Install(3, 2, 3, 0x01); // nor have board entries of slots 2 to 5
    Install(0, 7, 3, 0x01); // nor column 7
    Install(2, 0, 2, 0x01);
    EXPECT_EQ(Shown(),
              (QStringList{kHeading, kRule,
                           QStringLiteral("24HJ64 - KJB_R01[16PIN] - CAN+SPI   [Code:01]"),
                           QStringLiteral("24HJ64 - KJH_R02[16PIN] - CAN+SPI   [Code:01]"),
                           QStringLiteral("24HJ64 - KJP_R0x[16PIN] - CAN+SPI   [Code:01]"),
                           QStringLiteral("2580   - KJA_R04[16PIN] - CAN+SPI   [Code:01]"),
                           QStringLiteral("258    - KJA_R02[14PIN] - CAN+SPI   [Code:01]"),
                           QStringLiteral("258    - KJC_R01[16PIN] - CAN+SPI   [Code:01]"),
                           QStringLiteral("2480   - KJA_R03[16PIN] - CAN+SPI   [Code:01]"),
                           QStringLiteral("248    - KJA_R03[16PIN] - CAN+SPI   [Code:01]"),
                           QStringLiteral("2320   - KJA_R03[16PIN] - CAN+SPI   [Code:01]"),
                           QStringLiteral("24J10  - KJA_R03[16PIN] - CAN+SPI   [Code:01]")}));
}

TEST_F(DeviceListTest, OutOfRangeBoardsFallBackByRowNumber) {
    Remove(16, 6);
    for (const int row : {5, 6, 7, 8, 11, 16, 19})
        Install(row, 6, 0, 0x83);
    Install(2, 1, 24, 0x83);
    Install(0, 2, 200, 0x83);
    const QString early = QStringLiteral("KJA_R02[14PIN] - UNKNOWN   [Code:83]");
    const QString late = QStringLiteral("UNK[16PIN] - UNKNOWN   [Code:83]");
    EXPECT_EQ(Shown(), (QStringList{kHeading, kRule, "24HJ64 - " + early, "24HJ64 - " + early,
                                    "24HJ64 - " + early, "24HJ64 - " + early, "24HJ64 - " + early,
                                    "24HJ64 - " + early, "24HJ64 - " + late, "2580   - " + late,
                                    "2480   - " + late}));
}

struct LineCase {
    std::uint8_t board;
    std::uint8_t preparation;
    const char* line; // the 2480 default entry's line
};
void PrintTo(const LineCase& c, std::ostream* os) {
    *os << "board " << int{c.board} << ", preparation " << int{c.preparation};
}

class DeviceLineTest : public DeviceListTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(DeviceLineTest, FormatsBoardAndPreparation) {
    Remove(16, 6);
    Install(0, 2, GetParam().board, GetParam().preparation);
    const QStringList lines = Shown();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[2], QString::fromLatin1(GetParam().line));
}

INSTANTIATE_TEST_SUITE_P(
    Codes, DeviceLineTest,
    ::testing::Values(LineCase{23, 0x04, "2480   - 574747_R01[16PIN] - CAN   [Code:04]"},
                      LineCase{1, 0x0A, "2480   - UNK[UNK] - ETH0   [Code:0a]"},
                      LineCase{14, 0x09, "2480   - XYA_R03[DB9] - SIO/NOK.   [Code:09]"},
                      LineCase{24, 0x04, "2480   - KJA_R02[14PIN] - UNKNOWN   [Code:04]"},
                      LineCase{0, 0x04, "2480   - KJA_R02[14PIN] - UNKNOWN   [Code:04]"},
                      LineCase{127, 0x04, "2480   - KJA_R02[14PIN] - UNKNOWN   [Code:04]"},
                      LineCase{128, 0x84, "2480   - KJA_R02[14PIN] - UNKNOWN   [Code:84]"},
                      LineCase{0xFF, 0x04, "2480   - KJA_R02[14PIN] - UNKNOWN   [Code:04]"},
                      LineCase{5, 0x00, "2480   - KJB_R01[16PIN] - UNKNOWN   [Code:00]"},
                      LineCase{5, 0x10, "2480   - KJB_R01[16PIN] - UNKNOWN   [Code:10]"},
                      LineCase{5, 0x80, "2480   - KJB_R01[16PIN] - UNKNOWN  RES[Code:80]"},
                      LineCase{5, 0x82, "2480   - KJB_R01[16PIN] -   RES[Code:82]"},
                      LineCase{5, 0x02, "2480   - KJB_R01[16PIN] -    [Code:02]"},
                      LineCase{5, 0x0B, "2480   - KJB_R01[16PIN] - UNKNOWN   [Code:0b]"},
                      LineCase{5, 0x0C, "2480   - KJB_R01[16PIN] - UNKNOWN   [Code:0c]"},
                      LineCase{5, 0x0D, "2480   - KJB_R01[16PIN] - UNKNOWN   [Code:0d]"},
                      LineCase{5, 0x0E, "2480   - KJB_R01[16PIN] - UNKNOWN   [Code:0e]"},
                      LineCase{5, 0x0F, "2480   - KJB_R01[16PIN] - UNKNOWN   [Code:0f]"},
                      LineCase{5, 0x14, "2480   - KJB_R01[16PIN] - CAN   [Code:14]"},
                      LineCase{5, 0x6A, "2480   - KJB_R01[16PIN] - UNKNOWN   [Code:6a]"},
                      LineCase{5, 0xE6, "2480   - KJB_R01[16PIN] - UNKNOWN  RES[Code:e6]"},
                      LineCase{5, 0x9A, "2480   - KJB_R01[16PIN] - ETH0  RES[Code:9a]"}));

TEST_F(DeviceListTest, TheListIsInAFixedPitchFont) {
    const QFontInfo font(dialog_.ListBox1->font());
    EXPECT_TRUE(font.fixedPitch()) << font.family().toStdString();
    EXPECT_EQ(font.pixelSize(), 11);
    const QFontMetrics metrics(dialog_.ListBox1->font());
    EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("i")),
              metrics.horizontalAdvance(QStringLiteral("W")));
}

TEST_F(DeviceListTest, OkHidesTheModelessDialog) {
    EXPECT_EQ(dialog_.windowTitle(), QStringLiteral("Version .."));
    EXPECT_EQ(dialog_.Button1->text(), QStringLiteral("&Ok"));
    dialog_.show();
    EXPECT_FALSE(dialog_.isModal());
    QTest::mouseClick(dialog_.Button1, Qt::LeftButton);
    EXPECT_FALSE(dialog_.isVisible());
}

TEST_F(DeviceListTest, DoubleClickOnTheProductLabelShowsTheListAndBringsItToTheFront) {
    TempEnvironment environment;
    TForm1 window;
    Form4 = &dialog_;
    window.show();
    QTest::mouseDClick(window.Label1, Qt::LeftButton);
    EXPECT_TRUE(dialog_.isVisible());
    EXPECT_EQ(dialog_.windowTitle(),
              window.Label1->text() + QStringLiteral("   [ 17:52:32 - Feb 18 2011 ]"));
    ASSERT_EQ(dialog_.ListBox1->count(), 3);
    EXPECT_EQ(dialog_.ListBox1->item(2)->text(),
              QStringLiteral("24HJ64 - KJL_R02[16PIN] -    [Code:02]"));

    // Asked for again while it is open, behind the main window.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::mouseDClick(window.Label1, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog_));
}

} // namespace
