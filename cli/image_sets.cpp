#include "cli/image_sets.h"

#include "catalogue/catalogue.h"
#include "catalogue/device_listing.h"

#include <QCryptographicHash>

namespace {

std::vector<ImageSetInfo> Sets;

// Empty when the set has no such bytes: the hash of nothing would pass for stored bytes.
QString Sha256(const std::uint8_t* data, std::int32_t size) {
    if (data == nullptr || size <= 0)
        return {};
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArrayView(data, size), QCryptographicHash::Sha256).toHex());
}

} // namespace

void RememberStoredImageSets() {
    Sets.clear();
    for (int row = 0; row < kCatalogueRows; ++row) {
        for (int slot = 0; slot < kChipFamilyCount; ++slot) {
            const ImageDescriptor& entry = ImageCatalogue[row][slot];
            if (entry.FlashSize <= 1)
                continue;
            Sets.push_back({row, slot, QString::fromLatin1(ChipFamilyNames[slot]).trimmed(),
                            Sha256(entry.FlashData, entry.FlashSize),
                            Sha256(entry.FixData, entry.FixSize),
                            Sha256(entry.EepromData, entry.EepromSize)});
        }
    }
}

const std::vector<ImageSetInfo>& StoredImageSets() {
    return Sets;
}

ImageSetInfo ImageSetFor(std::uint8_t chipCode, std::uint8_t boardCode) {
    const int slot = ChipSlot(chipCode);
    const auto find = [slot](int row) -> const ImageSetInfo* {
        for (const ImageSetInfo& set : Sets)
            if (set.row == row && set.chipSlot == slot)
                return &set;
        return nullptr;
    };
    const ImageSetInfo* set = boardCode < kCatalogueRows ? find(boardCode) : nullptr;
    if (set == nullptr)
        set = find(0);
    return set != nullptr ? *set : ImageSetInfo{};
}

QJsonObject ImageSetJson(const ImageSetInfo& set) {
    if (set.row < 0)
        return {};
    const auto hash = [](const QString& sha) {
        return sha.isEmpty() ? QJsonValue() : QJsonValue(sha);
    };
    return {{QStringLiteral("row"), set.row},
            {QStringLiteral("family"), set.family},
            {QStringLiteral("image_sha256"), hash(set.imageSha256)},
            {QStringLiteral("fix_sha256"), hash(set.fixSha256)},
            {QStringLiteral("eeprom_sha256"), hash(set.eepromSha256)}};
}
