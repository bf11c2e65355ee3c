#include "support/test_images.h"

#include "catalogue/catalogue.h"

TestImage MakeTestImage(int chipSlot, int size, std::uint8_t board, std::uint8_t preparation,
                        int fixSize, int eepromSize) {
    TestImage image;
    const std::uint8_t key = ImageKey(0, ImagesScrambled);
    image.flash.resize(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i)
        image.flash[static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>((i * 7 + (i >> 8)) & 0xFF);
    const std::size_t header = static_cast<std::size_t>(ImageBoardCodeOffset(chipSlot));
    if (header + 1 < image.flash.size()) {
        image.flash[header] = board ^ key;
        image.flash[header + 1] = preparation ^ key;
    }
    for (int i = 0; i < fixSize; ++i)
        image.fix.push_back(static_cast<std::uint8_t>(0xA0 + i));
    for (int i = 0; i < eepromSize; ++i)
        image.eeprom.push_back(static_cast<std::uint8_t>(0x30 + i));
    return image;
}

void InstallTestImage(int board, int chipSlot, TestImage& image) {
    ImageCatalogue[board][chipSlot] =
        ImageDescriptor{image.fix.data(),    static_cast<std::int32_t>(image.fix.size()),
                        image.flash.data(),  static_cast<std::int32_t>(image.flash.size()),
                        image.eeprom.data(), static_cast<std::int32_t>(image.eeprom.size())};
}
