// The release's image sets as the console names them: catalogue row, family and the SHA-256 of
// the stored image, the fix bytes and the EEPROM bytes.
#pragma once

#include <QJsonObject>
#include <QString>
#include <vector>

struct ImageSetInfo {
    int row = -1; // catalogue row (board code); -1: no image
    int chipSlot = 0;
    QString family; // "24HJ64"
    QString imageSha256;
    QString fixSha256;    // empty when the set has no fix bytes
    QString eepromSha256; // empty when the set has no EEPROM bytes
};

// Hashes every image set of the catalogue as the release stores it. Called once at start,
// before any run writes the reset patch into an image.
void RememberStoredImageSets();
// Every image set of the release, by row and slot.
const std::vector<ImageSetInfo>& StoredImageSets();
// The set a run selected for (chip, board): the board's own row or the row-0 fallback, as
// SelectImage chooses; row -1 when there is none.
ImageSetInfo ImageSetFor(std::uint8_t chipCode, std::uint8_t boardCode);

QJsonObject ImageSetJson(const ImageSetInfo& set);
