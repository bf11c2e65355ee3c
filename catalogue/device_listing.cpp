#include "catalogue/device_listing.h"

#include "catalogue/catalogue.h"
#include "catalogue/listing_order.h"

const char* const ChipFamilyNames[kChipFamilyCount] = {
    "258   ", "2580  ", "2480  ", "248   ", "2320  ", "24J10 ", "24HJ64",
};

namespace {

bool HoldsImage(const ImageDescriptor& entry) {
    return entry.FlashSize > 1;
}

} // namespace

std::vector<ListedImage> ListedImages() {
    std::vector<ListedImage> listed;
    for (const ListingGroup& group : kListingOrder) {
        const ImageDescriptor& defaultEntry = ImageCatalogue[0][group.chipSlot];
        if (HoldsImage(defaultEntry)) {
            listed.push_back({0, group.chipSlot, &defaultEntry});
            continue;
        }
        for (int i = 0; i < group.boardRowCount; ++i) {
            const int row = group.boardRows[i];
            const ImageDescriptor& entry = ImageCatalogue[row][group.chipSlot];
            if (HoldsImage(entry))
                listed.push_back({row, group.chipSlot, &entry});
        }
    }
    return listed;
}

QStringList DeviceListingLines() {
    QStringList lines{QStringLiteral("Device - Print          - Preparation"),
                      QStringLiteral("-------------------------------------")};
    std::int16_t row = 0;
    // Only the image's own two header bytes are unscrambled; the release data guarantees that
    // every image holding more than one byte reaches past them.
    const std::uint8_t key = ImageKey(0, ImagesScrambled);
    for (const ListedImage& listed : ListedImages()) {
        const int offset = ImageBoardCodeOffset(listed.chipSlot);
        const std::uint8_t* data = listed.image->FlashData;
        lines.append(DeviceLine(row, ChipFamilyNames[listed.chipSlot],
                                static_cast<std::uint8_t>(data[offset] ^ key),
                                static_cast<std::uint8_t>(data[offset + 1] ^ key)));
        ++row;
    }
    return lines;
}

QString DeviceLine(std::int16_t row, const char* family, std::uint8_t boardCode,
                   std::uint8_t preparationCode) {
    const auto board = static_cast<std::int8_t>(boardCode);
    const char* boardName;
    const char* connector;
    const char* resetFlag = " ";
    const char* preparation = "UNKNOWN";
    if (board > 0 && board < BoardNameCount) {
        boardName = BoardNames[board];
        connector = ConnectorNames[board];
        if ((preparationCode & 0x80) != 0)
            resetFlag = "RES";
        // Bit 4 takes no part in the name: 0x14 reads as 0x04.
        const int preparationIndex = preparationCode & 0x6F;
        if (preparationIndex > 0 && preparationIndex < PreparationNameCount)
            preparation = PreparationNames[preparationIndex];
    } else if (static_cast<std::int8_t>(row) < 6) {
        boardName = BoardNames[2];
        connector = ConnectorNames[2];
    } else {
        boardName = BoardNames[0];
        connector = ConnectorNames[3];
    }
    return QString::asprintf("%s - %s[%s] - %s  %s[Code:%02x]", family, boardName, connector,
                             preparation, resetFlag, static_cast<unsigned>(preparationCode));
}
