// The lines of the device list: which images this release carries, one line per image, as the
// device list dialog and the console's image listing show them.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

struct ImageDescriptor;

// Family names per chip slot, each six characters wide like the heading "Device", so the
// columns of the listing line up in a fixed-pitch font.
inline constexpr int kChipFamilyCount = 7;
extern const char* const ChipFamilyNames[kChipFamilyCount];

// One listed image: where it sits in the catalogue.
struct ListedImage {
    int boardRow;
    int chipSlot;
    const ImageDescriptor* image;
};

// The catalogue entries the listing shows, in its order.
std::vector<ListedImage> ListedImages();
// The heading, the rule and one line per listed image.
QStringList DeviceListingLines();
// One image line for the given row number, family and the image's own codes.
QString DeviceLine(std::int16_t row, const char* family, std::uint8_t boardCode,
                   std::uint8_t preparationCode);
