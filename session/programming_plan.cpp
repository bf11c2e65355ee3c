#include "session/programming_plan.h"

#include "catalogue/catalogue.h"
#include "session/chip_families.h"
#include "session/protocol.h"

#include <algorithm>
#include <utility>

namespace {

// Command, address (high byte first) and the length field: one byte when blocks hold 255 bytes
// or less, else two, high first.
std::vector<std::uint8_t> BlockHeader(const RunLayout& layout, std::int32_t address,
                                      std::int32_t length) {
    std::vector<std::uint8_t> header = {kCmdWriteFlashBlock,
                                        static_cast<std::uint8_t>(address >> 8),
                                        static_cast<std::uint8_t>(address)};
    if (layout.blockSize > 255)
        header.push_back(static_cast<std::uint8_t>(length >> 8));
    header.push_back(static_cast<std::uint8_t>(length));
    return header;
}

bool EndsInProtectedRange(const RunLayout& layout, std::int32_t end) {
    return layout.skipStart != 0 && layout.skipStart <= end &&
           end <= layout.skipStart + layout.skipLength;
}

PlannedFrame FlashBlock(const RunLayout& layout, const ImageDescriptor& image, std::int32_t first,
                        std::int32_t count, FrameKind kind) {
    const std::int32_t address = first / layout.addressUnit;
    const std::int32_t end = (first + count) / layout.addressUnit;
    PlannedFrame frame{kind, address, end, false, BlockHeader(layout, address, count)};
    frame.bytes.insert(frame.bytes.end(), image.FlashData + first, image.FlashData + first + count);
    if (kind == FrameKind::kFullBlock)
        frame.skipped = EndsInProtectedRange(layout, end);
    return frame;
}

// The fix bytes fill the last FixSize data positions; the positions before them keep the fill,
// the complement of the key (0xFF when the images are stored plain).
PlannedFrame FixBlock(const RunLayout& layout, const ImageDescriptor& image) {
    std::vector<std::uint8_t> bytes = BlockHeader(layout, layout.programLimit, layout.blockSize);
    const int header = static_cast<int>(bytes.size());
    bytes.resize(static_cast<std::size_t>(header + layout.blockSize),
                 static_cast<std::uint8_t>(~layout.fixKey));
    for (int j = 0; j < image.FixSize; ++j) {
        const int position = header + layout.blockSize - image.FixSize + j;
        if (position >= 0)
            bytes[static_cast<std::size_t>(position)] = image.FixData[j] ^ layout.fixKey;
    }
    return {FrameKind::kFixBlock, layout.programLimit, layout.programLimit, false,
            std::move(bytes)};
}

PlannedFrame EepromFrame(const ImageDescriptor& image, std::int32_t index) {
    return {FrameKind::kEepromByte,
            index,
            index,
            false,
            {kCmdWriteEepromByte, static_cast<std::uint8_t>(index), image.EepromData[index], 0x01,
             0x00}};
}

} // namespace

RunLayout ChipRunLayout(const ChipFamily& family, std::int32_t addressUnit,
                        std::int32_t bootAreaSize, std::int32_t largeBootAreaSize,
                        std::int32_t flashSize) {
    RunLayout layout;
    layout.addressUnit = addressUnit;
    layout.blockSize = BlockSizeOf(family.code);
    layout.programLimit = ProgramLimitOf(family, bootAreaSize, largeBootAreaSize);
    layout.programLength = family.code == kChip24HJ64 ? flashSize // refused, not cut, when too long
                                                      : std::min(flashSize, layout.programLimit);
    return layout;
}

std::vector<PlannedFrame> PlanProgramming(const RunLayout& layout, const ImageDescriptor& image) {
    std::vector<PlannedFrame> plan;
    // Full blocks as long as image bytes follow them; what is left, a whole block at most, is
    // the last block, which is never skipped.
    std::int32_t first = 0;
    for (; layout.programLength - first > layout.blockSize; first += layout.blockSize)
        plan.push_back(FlashBlock(layout, image, first, layout.blockSize, FrameKind::kFullBlock));
    if (first < layout.programLength)
        plan.push_back(
            FlashBlock(layout, image, first, layout.programLength - first, FrameKind::kLastBlock));
    plan.push_back(FixBlock(layout, image));
    for (std::int32_t j = 0; j < image.EepromSize; ++j)
        plan.push_back(EepromFrame(image, j));
    return plan;
}
