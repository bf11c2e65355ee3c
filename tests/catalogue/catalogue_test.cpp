// The release's catalogue, look-ups with their fallbacks, the key routine and the name tables.
#include "catalogue/catalogue.h"
#include "catalogue/release_data.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>
#include <string>

namespace {

class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override { BuildImageCatalogue(); }
    void TearDown() override { BuildImageCatalogue(); }
};

TEST_F(CatalogueTest, OnlyBoard16WithChip24HJ64CarriesAnImage) {
    SelectImage(0xFE, 16);
    EXPECT_EQ(SelectedImage.FlashSize, 46435);
    EXPECT_EQ(SelectedImage.FixSize, 8);
    EXPECT_EQ(SelectedImage.EepromSize, 0);
    // Every other chip and board ends on a placeholder of row 0.
    for (int chip : {int{'B'}, int{'C'}, int{'D'}, int{'E'}, int{'F'}, 0xC7, 0x00, 0x7A}) {
        for (int board : {0, 2, 5, 16, 23, 254, 255}) {
            SelectImage(static_cast<std::uint8_t>(chip), static_cast<std::uint8_t>(board));
            EXPECT_EQ(SelectedImage.FlashSize, 1) << chip << " " << board;
        }
    }
    for (int board : {0, 5, 7, 17, 254, 255}) {
        SelectImage(0xFE, static_cast<std::uint8_t>(board));
        EXPECT_EQ(SelectedImage.FlashSize, 1) << board;
    }
}

TEST_F(CatalogueTest, ReleaseImageCarriesItsBoardAndPreparationInItsHeader) {
    SelectImage(0xFE, 16);
    const std::uint8_t key = ImageKey(0, ImagesScrambled);
    EXPECT_EQ(SelectedImage.FlashData[1024] ^ key, 16);
    EXPECT_EQ(SelectedImage.FlashData[1025] ^ key, 0x02);
}

TEST_F(CatalogueTest, ChipSlots) {
    EXPECT_EQ(ChipSlot('B'), 0);
    EXPECT_EQ(ChipSlot('F'), 4);
    EXPECT_EQ(ChipSlot(0xC7), 5);
    EXPECT_EQ(ChipSlot(0xFE), 6);
    EXPECT_EQ(ChipSlot('A'), 0);
    EXPECT_EQ(ChipSlot(0xFF), 0);
}

TEST_F(CatalogueTest, BoardEntryWithoutImageFallsBackToRowZeroOfTheSameSlot) {
    static std::uint8_t flash[64] = {1, 2, 3};
    static std::uint8_t defaultFlash[64] = {9};
    ImageCatalogue[0][2] = ImageDescriptor{nullptr, 0, defaultFlash, 64, nullptr, 0};
    ImageCatalogue[9][2] = ImageDescriptor{nullptr, 0, flash, 64, nullptr, 0};
    ImageCatalogue[10][2].FlashSize = 1; // a placeholder
    SelectImage('D', 9);
    EXPECT_EQ(SelectedImage.FlashData, flash);
    SelectImage('D', 10);
    EXPECT_EQ(SelectedImage.FlashData, defaultFlash);
    SelectImage('D', 77); // never filled
    EXPECT_EQ(SelectedImage.FlashData, defaultFlash);
    SelectImage('D', 255); // no row at all
    EXPECT_EQ(SelectedImage.FlashData, defaultFlash);
}

TEST_F(CatalogueTest, RebuildingGivesTheSameCatalogue) {
    static std::uint8_t flash[64];
    ImageCatalogue[3][0] = ImageDescriptor{nullptr, 0, flash, 64, nullptr, 0};
    BuildImageCatalogue();
    EXPECT_EQ(ImageCatalogue[3][0].FlashSize, 0);
    int images = 0;
    int placeholders = 0;
    for (const auto& row : ImageCatalogue) {
        for (const auto& entry : row) {
            images += entry.FlashSize > 1;
            placeholders += entry.FlashSize == 1;
        }
    }
    EXPECT_EQ(images, 1);
    EXPECT_EQ(placeholders, 21);
}

TEST(ImageKeyTest, WrapsModulo256AndIsZeroForPlainImages) {
    EXPECT_EQ(ImageKey(0, 1), 0x6B);
    EXPECT_EQ(ImageKey(0x80, 1), 0xEB);
    EXPECT_EQ(ImageKey(0x95, 1), 0x00);
    EXPECT_EQ(ImageKey(0xFF, 1), 0x6A);
    EXPECT_EQ(ImageKey(0xFF, 7), 0x6A);
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(ImageKey(static_cast<std::uint8_t>(v), 0), 0);
}

TEST(NameTables, BoardNameBoundsAndTheEmptyPreparationName) {
    EXPECT_STREQ(BoardName(0), "KJA_R02");
    EXPECT_STREQ(BoardName(1), "UNK");
    EXPECT_STREQ(BoardName(16), "KJL_R02");
    EXPECT_STREQ(BoardName(23), "574747_R01");
    EXPECT_STREQ(BoardName(24), "KJA_R02");
    EXPECT_STREQ(BoardName(-1), "KJA_R02");
    EXPECT_STREQ(PreparationNames[2], "");
    EXPECT_STREQ(PreparationNames[10], "ETH0");
    EXPECT_STREQ(ConnectorNames[14], "DB9");
}

std::string Sha256(const std::uint8_t* data, int size) {
    return QCryptographicHash::hash(QByteArrayView(data, size), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

// The release built from its description and HEX file stores exactly the bytes that the
// hand-declared arrays of earlier builds held.
TEST_F(CatalogueTest, RepositoryReleaseStoresTheBytesOfEarlierBuilds) {
    SelectImage(0xFE, 16);
    EXPECT_EQ(Sha256(SelectedImage.FlashData, SelectedImage.FlashSize),
              "22b3310c7175c906527d0d4b5ba75a17accedbe109dae5ad3c65fa98bc4fc1b0");
    EXPECT_EQ(Sha256(SelectedImage.FixData, SelectedImage.FixSize),
              "e1c832c44d85f25aa9022323bf0fd9a03eebddd5aa05637e731e8f9e67339321");
    // Placeholders: one byte 0x00 behind all three pointers, every size 1.
    SelectImage('C', 5);
    EXPECT_EQ(SelectedImage.FlashData, ImageCatalogue[0][1].FlashData);
    EXPECT_EQ(SelectedImage.FlashData[0], 0x00);
    EXPECT_EQ(SelectedImage.FixData, SelectedImage.EepromData);
    EXPECT_EQ(SelectedImage.FixSize + SelectedImage.EepromSize, 2);
}

} // namespace
