#include "cli/release_info.h"

#include "catalogue/catalogue.h"
#include "shell/identity.h"

#include <QCryptographicHash>

namespace {

QJsonObject Release;

void AddText(QCryptographicHash& hash, const char* text) {
    const QByteArray bytes(text);
    hash.addData(QByteArray::number(bytes.size()) + ':' + bytes);
}

void AddBytes(QCryptographicHash& hash, const std::uint8_t* data, std::int32_t size) {
    const std::int32_t n = data != nullptr && size > 0 ? size : 0;
    hash.addData(QByteArray::number(n) + ':');
    if (n > 0)
        hash.addData(QByteArrayView(data, n));
}

} // namespace

void RememberRelease() {
    // Length-prefixed fields, so that no two releases hash alike by shifting bytes between them.
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const char* text : {ProductString(), kProgramVersionText, kCompactVersionText, kBuildDate,
                             kCompactBuildDate, kBuildTime})
        AddText(hash, text);
    hash.addData(QByteArray::number(ImagesScrambled) + ';');
    for (int row = 0; row < kCatalogueRows; ++row) {
        for (int slot = 0; slot < kCatalogueColumns; ++slot) {
            const ImageDescriptor& entry = ImageCatalogue[row][slot];
            if (entry.FlashSize <= 1)
                continue;
            hash.addData(QByteArray::number(row) + ',' + QByteArray::number(slot) + ';');
            AddBytes(hash, entry.FlashData, entry.FlashSize);
            AddBytes(hash, entry.FixData, entry.FixSize);
            AddBytes(hash, entry.EepromData, entry.EepromSize);
        }
    }
    Release = {{QStringLiteral("product"), QString::fromLatin1(ProductString())},
               {QStringLiteral("version"), QString::fromLatin1(kProgramVersionText)},
               {QStringLiteral("compact_version"), QString::fromLatin1(kCompactVersionText)},
               {QStringLiteral("date"), QString::fromLatin1(kBuildDate)},
               {QStringLiteral("compact_date"), QString::fromLatin1(kCompactBuildDate)},
               {QStringLiteral("build_time"), QString::fromLatin1(kBuildTime)},
               {QStringLiteral("sha256"), QString::fromLatin1(hash.result().toHex())}};
}

const QJsonObject& ReleaseJson() {
    return Release;
}

QStringList ReleaseLines() {
    const auto text = [](const char* key) { return Release.value(QLatin1String(key)).toString(); };
    return {QStringLiteral("release  %1").arg(text("product")),
            QStringLiteral("version  %1 (%2), %3 (%4), built %5")
                .arg(text("version"), text("date"), text("compact_version"), text("compact_date"),
                     text("build_time")),
            QStringLiteral("sha256   %1").arg(text("sha256"))};
}
