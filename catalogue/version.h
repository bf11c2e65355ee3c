// The device list dialog: which images this release carries, one line per image.
#pragma once

#include "catalogue/device_listing.h"

#include <QDialog>
#include <cstdint>
#include <memory>

namespace Ui {
class TForm4;
}
class QListWidget;
class QPushButton;
class QShowEvent;

class TForm4 : public QDialog {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);
    ~TForm4() override;

    // Controls, named as in the window design.
    QPushButton* Button1;
    QListWidget* ListBox1;

    void Button1Click();
    // Empties the list and writes it again from the catalogue.
    void FormShow();
    // The heading, the rule and one line per listed image.
    void BuildDeviceListing();
    // Formats one image line for the given row number, family and the image's own codes.
    void AddDeviceLine(std::int16_t row, const char* family, std::uint8_t boardCode,
                       std::uint8_t preparationCode);

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::TForm4> ui_;
};
