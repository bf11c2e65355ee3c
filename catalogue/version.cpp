#include "catalogue/version.h"

#include "catalogue/catalogue.h"
#include "catalogue/listing_order.h"
#include "ui_version.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QListWidget>
#include <QPushButton>

const char* const ChipFamilyNames[kChipFamilyCount] = {
    "258   ", "2580  ", "2480  ", "248   ", "2320  ", "24J10 ", "24HJ64",
};

namespace {

bool HoldsImage(const ImageDescriptor& entry) {
    return entry.FlashSize > 1;
}

// The list lines up only in a fixed-pitch font; "Courier" is what the design names, and the
// system's fixed font stands in where no fixed-pitch face answers to that name.
QFont ListingFont() {
    QFont font(QStringLiteral("Courier"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(11);
    if (!QFontInfo(font).fixedPitch()) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(11);
    }
    return font;
}

} // namespace

TForm4::TForm4(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TForm4>()) {
    ui_->setupUi(this);
    Button1 = ui_->Button1;
    ListBox1 = ui_->ListBox1;
    ListBox1->setFont(ListingFont());
    connect(Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
}

TForm4::~TForm4() = default;

void TForm4::Button1Click() {
    hide();
}

void TForm4::FormShow() {
    ListBox1->clear();
    BuildDeviceListing();
}

void TForm4::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TForm4::BuildDeviceListing() {
    ListBox1->addItem(QStringLiteral("Device - Print          - Preparation"));
    ListBox1->addItem(QStringLiteral("-------------------------------------"));
    std::int16_t row = 0;
    // Only the image's own two header bytes are unscrambled; the release data guarantees that
    // every image holding more than one byte reaches past them.
    const auto writeLine = [this, &row](int chipSlot, const ImageDescriptor& entry) {
        const int offset = ImageBoardCodeOffset(chipSlot);
        const std::uint8_t key = ImageKey(0, ImagesScrambled);
        AddDeviceLine(row, ChipFamilyNames[chipSlot],
                      static_cast<std::uint8_t>(entry.FlashData[offset] ^ key),
                      static_cast<std::uint8_t>(entry.FlashData[offset + 1] ^ key));
        ++row;
    };
    for (const ListingGroup& group : kListingOrder) {
        const ImageDescriptor& defaultEntry = ImageCatalogue[0][group.chipSlot];
        if (HoldsImage(defaultEntry)) {
            writeLine(group.chipSlot, defaultEntry);
            continue;
        }
        for (int i = 0; i < group.boardRowCount; ++i) {
            const ImageDescriptor& entry = ImageCatalogue[group.boardRows[i]][group.chipSlot];
            if (HoldsImage(entry))
                writeLine(group.chipSlot, entry);
        }
    }
}

void TForm4::AddDeviceLine(std::int16_t row, const char* family, std::uint8_t boardCode,
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
    ListBox1->addItem(QString::asprintf("%s - %s[%s] - %s  %s[Code:%02x]", family, boardName,
                                        connector, preparation, resetFlag,
                                        static_cast<unsigned>(preparationCode)));
}
