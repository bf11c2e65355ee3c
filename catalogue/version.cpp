#include "catalogue/version.h"

#include "catalogue/catalogue.h"
#include "catalogue/device_listing.h"
#include "ui_version.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QListWidget>
#include <QPushButton>

namespace {

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
    ListBox1->addItems(DeviceListingLines());
}

void TForm4::AddDeviceLine(std::int16_t row, const char* family, std::uint8_t boardCode,
                           std::uint8_t preparationCode) {
    ListBox1->addItem(DeviceLine(row, family, boardCode, preparationCode));
}
