// The frames of a programming run as a table: sizes by chip family, block order, addresses,
// length fields, the protected range, the fix block and the EEPROM frames. No port needed.
#include "catalogue/catalogue.h"
#include "session/chip_families.h"
#include "session/programming.h"
#include "session/programming_plan.h"
#include "support/test_images.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace {

ImageDescriptor Describe(TestImage& image) {
    return {image.fix.data(),    static_cast<std::int32_t>(image.fix.size()),
            image.flash.data(),  static_cast<std::int32_t>(image.flash.size()),
            image.eeprom.data(), static_cast<std::int32_t>(image.eeprom.size())};
}

RunLayout Layout(std::int32_t addressUnit, std::int32_t blockSize, std::int32_t programLimit,
                 std::int32_t programLength) {
    RunLayout layout;
    layout.addressUnit = addressUnit;
    layout.blockSize = blockSize;
    layout.programLimit = programLimit;
    layout.programLength = programLength;
    return layout;
}

// The length field of a block frame: one byte for blocks of up to 255 bytes, else two.
int LengthField(const PlannedFrame& frame, const RunLayout& layout) {
    if (layout.blockSize <= 255)
        return frame.bytes[3];
    return frame.bytes[3] << 8 | frame.bytes[4];
}

std::vector<int> Addresses(const std::vector<PlannedFrame>& plan, FrameKind kind) {
    std::vector<int> addresses;
    for (const PlannedFrame& frame : plan)
        if (frame.kind == kind)
            addresses.push_back(frame.address);
    return addresses;
}

struct ChipCase {
    const char* name;
    std::uint8_t chip;
    std::uint8_t bios;
    std::int32_t flashSize;
    std::int32_t addressUnit, blockSize, programLimit, programLength;
};

class ChipLayoutTest : public ::testing::TestWithParam<ChipCase> {};

TEST_P(ChipLayoutTest, SizesFollowTheFamilyAndTheBootloaderVersion) {
    const ChipCase& c = GetParam();
    const ChipFamily* family = FindChipFamily(c.chip);
    ASSERT_NE(family, nullptr);
    SetupChipParameters(c.chip, c.bios);
    const RunLayout layout =
        ChipRunLayout(*family, AddressUnit, BootAreaSize, LargeBootAreaSize, c.flashSize);
    EXPECT_EQ(layout.addressUnit, c.addressUnit);
    EXPECT_EQ(layout.blockSize, c.blockSize);
    EXPECT_EQ(layout.programLimit, c.programLimit);
    EXPECT_EQ(layout.programLength, c.programLength);
}

// Images longer than the programmable area are cut, except on 0xFE (refused by the run).
INSTANTIATE_TEST_SUITE_P(
    Families, ChipLayoutTest,
    ::testing::Values(ChipCase{"B_Bios4Cut", 'B', 4, 0x9000, 1, 64, 0x7EC0, 0x7EC0},
                      ChipCase{"B_Bios5", 'B', 5, 100, 1, 64, 0x7E40, 100},
                      ChipCase{"C_Bios4", 'C', 4, 100, 1, 64, 0x7EC0, 100},
                      ChipCase{"D_Bios4", 'D', 4, 100, 1, 64, 0x3EC0, 100},
                      ChipCase{"E_Bios5Cut", 'E', 5, 0x4000, 1, 64, 0x3E40, 0x3E40},
                      ChipCase{"F_Bios4", 'F', 4, 100, 1, 64, 0x1EC0, 100},
                      ChipCase{"F_Bios5", 'F', 5, 100, 1, 64, 0x1E40, 100},
                      ChipCase{"C7_Bios4", 0xC7, 4, 0x4000, 1, 64, 0x3BC0, 0x3BC0},
                      ChipCase{"C7_Bios5", 0xC7, 5, 100, 1, 64, 0x3BC0, 100},
                      ChipCase{"FE_Release", 0xFE, 12, 46435, 2, 256, 0xA780, 46435},
                      ChipCase{"FE_TooLongIsNotCut", 0xFE, 4, 0x20000, 2, 256, 0xA780, 0x20000}),
    [](const ::testing::TestParamInfo<ChipCase>& info) { return info.param.name; });

TEST(ChipLayout, UnknownChipHasNoFamily) {
    EXPECT_EQ(FindChipFamily('Z'), nullptr);
    EXPECT_EQ(FindChipFamily(0x00), nullptr);
}

TEST(ProgrammingPlan, ReleaseImageOf24HJ64) {
    TestImage image = MakeTestImage(6, 46435, 16, 2);
    const RunLayout layout = Layout(2, 256, 0xA780, 46435);
    const std::vector<PlannedFrame> plan = PlanProgramming(layout, Describe(image));
    ASSERT_EQ(plan.size(), 183u);

    // 181 full blocks of 128 address units, each the image's bytes behind a five-byte header.
    for (int k = 0; k < 181; ++k) {
        const PlannedFrame& frame = plan[static_cast<std::size_t>(k)];
        ASSERT_EQ(frame.kind, FrameKind::kFullBlock);
        EXPECT_EQ(frame.address, k * 128);
        EXPECT_EQ(frame.end, k * 128 + 128);
        EXPECT_FALSE(frame.skipped);
        ASSERT_EQ(frame.bytes.size(), 5u + 256u);
        EXPECT_EQ(frame.bytes[0], 0x00);
        EXPECT_EQ(frame.bytes[1] << 8 | frame.bytes[2], k * 128);
        EXPECT_EQ(LengthField(frame, layout), 256);
        EXPECT_TRUE(
            std::equal(frame.bytes.begin() + 5, frame.bytes.end(), image.flash.begin() + k * 256));
    }
    // The last block holds the 99 bytes left, its length field rewritten to 0x00 0x63.
    const PlannedFrame& last = plan[181];
    EXPECT_EQ(last.kind, FrameKind::kLastBlock);
    EXPECT_EQ(last.address, 0x5A80);
    EXPECT_EQ(std::vector<std::uint8_t>(last.bytes.begin(), last.bytes.begin() + 5),
              (std::vector<std::uint8_t>{0x00, 0x5A, 0x80, 0x00, 0x63}));
    EXPECT_TRUE(std::equal(last.bytes.begin() + 5, last.bytes.end(), image.flash.end() - 99));
    EXPECT_EQ(last.bytes.size(), 5u + 99u);
    // The fix block at the limit.
    EXPECT_EQ(plan[182].kind, FrameKind::kFixBlock);
    EXPECT_EQ(std::vector<std::uint8_t>(plan[182].bytes.begin(), plan[182].bytes.begin() + 5),
              (std::vector<std::uint8_t>{0x00, 0xA7, 0x80, 0x01, 0x00}));
}

TEST(ProgrammingPlan, ImageOfExactlyOneBlockIsOneLastBlockAtFullLength) {
    TestImage image = MakeTestImage(0, 64, 5, 4);
    const RunLayout layout = Layout(1, 64, 0x7E40, 64);
    const std::vector<PlannedFrame> plan = PlanProgramming(layout, Describe(image));
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[0].kind, FrameKind::kLastBlock);
    EXPECT_EQ(plan[0].address, 0);
    EXPECT_EQ(LengthField(plan[0], layout), 64);
    EXPECT_EQ(plan[0].bytes.size(), 4u + 64u);
    EXPECT_EQ(plan[1].kind, FrameKind::kFixBlock);
}

struct SkipCase {
    const char* name;
    std::int32_t skipStart, skipLength;
    std::vector<int> skippedAddresses;
};

class SkipRangeTest : public ::testing::TestWithParam<SkipCase> {};

// Blocks of 128 address units: a full block is skipped when the unit just past it lies in
// skipStart..skipStart + skipLength, both ends included. The last block (at 0x5A80) never is.
TEST_P(SkipRangeTest, FullBlocksEndingInTheRangeAreNotSent) {
    const SkipCase& c = GetParam();
    TestImage image = MakeTestImage(6, 46435, 16, 2);
    RunLayout layout = Layout(2, 256, 0xA780, 46435);
    layout.skipStart = c.skipStart;
    layout.skipLength = c.skipLength;
    std::vector<int> skipped;
    for (const PlannedFrame& frame : PlanProgramming(layout, Describe(image)))
        if (frame.skipped)
            skipped.push_back(frame.address);
    EXPECT_EQ(skipped, c.skippedAddresses);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, SkipRangeTest,
    ::testing::Values(SkipCase{"BothEndsIncluded", 256, 128, {128, 256}},
                      SkipCase{"OneUnitBeforeAnEnd", 255, 0, {}},
                      SkipCase{"EndsExactlyOnAStart", 128, 0, {0}},
                      SkipCase{"StartZeroSkipsNothing", 0, 4000, {}},
                      SkipCase{"LastBlockIsNeverSkipped", 0x5A00, 0x1000, {0x5980, 0x5A00}}),
    [](const ::testing::TestParamInfo<SkipCase>& info) { return info.param.name; });

TEST(ProgrammingPlan, FixBytesFillTheEndOfTheFixBlockForEveryFixSize) {
    const std::uint8_t fixKey = ImageKey(static_cast<std::uint8_t>(0x1E40), 1);
    for (int fixSize = 0; fixSize <= 64; ++fixSize) {
        TestImage image = MakeTestImage(4, 300, 9, 4, fixSize);
        RunLayout layout = Layout(1, 64, 0x1E40, 300);
        layout.fixKey = fixKey;
        const PlannedFrame fix = PlanProgramming(layout, Describe(image)).back();
        ASSERT_EQ(fix.kind, FrameKind::kFixBlock);
        ASSERT_EQ(fix.bytes.size(), 4u + 64u) << fixSize;
        EXPECT_EQ(std::vector<std::uint8_t>(fix.bytes.begin(), fix.bytes.begin() + 4),
                  (std::vector<std::uint8_t>{0x00, 0x1E, 0x40, 64}));
        for (int j = 0; j < 64; ++j) {
            const int fixIndex = j - (64 - fixSize);
            const std::uint8_t expected =
                fixIndex < 0 ? static_cast<std::uint8_t>(~fixKey)
                             : image.fix[static_cast<std::size_t>(fixIndex)] ^ fixKey;
            ASSERT_EQ(fix.bytes[static_cast<std::size_t>(4 + j)], expected)
                << "fix size " << fixSize << ", data position " << j;
        }
    }
}

TEST(ProgrammingPlan, PlainImagesFillTheFixBlockWithFF) {
    TestImage image = MakeTestImage(4, 300, 9, 4, 2);
    RunLayout layout = Layout(1, 64, 0x1E40, 300);
    layout.fixKey = ImageKey(0x40, 0);
    const PlannedFrame fix = PlanProgramming(layout, Describe(image)).back();
    EXPECT_EQ(fix.bytes[4], 0xFF);
    EXPECT_EQ(fix.bytes[4 + 62], image.fix[0]);
}

TEST(ProgrammingPlan, EepromBytesFollowTheFixBlockOneFrameEach) {
    TestImage image = MakeTestImage(4, 300, 9, 4, 4, 3);
    const std::vector<PlannedFrame> plan =
        PlanProgramming(Layout(1, 64, 0x1E40, 300), Describe(image));
    EXPECT_EQ(Addresses(plan, FrameKind::kFullBlock), (std::vector<int>{0, 64, 128, 192}));
    EXPECT_EQ(Addresses(plan, FrameKind::kLastBlock), std::vector<int>{256});
    ASSERT_EQ(plan.size(), 4u + 1u + 1u + 3u);
    EXPECT_EQ(plan[5].kind, FrameKind::kFixBlock);
    for (std::uint8_t j = 0; j < 3; ++j) {
        const PlannedFrame& frame = plan[6u + j];
        EXPECT_EQ(frame.kind, FrameKind::kEepromByte);
        EXPECT_EQ(frame.bytes, (std::vector<std::uint8_t>{0x40, j, image.eeprom[j], 0x01, 0x00}));
    }
}

} // namespace
