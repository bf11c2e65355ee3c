#include "serial/serialsetup.h"

#include "serial/comport.h"
#include "serial/port_discovery.h"
#include "shell/fonts.h"
#include "ui_serialsetup.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

#include <cstdint>
#include <string>

namespace {
// Longest friendly name a list entry takes; longer ones are cut.
constexpr int kListTextMaxLength = 199;
} // namespace

TForm3::TForm3(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TForm3>()) {
    ui_->setupUi(this);
    Label1 = ui_->Label1;
    ComboBox1 = ui_->ComboBox1;
    ComboBox2 = ui_->ComboBox2;
    Button1 = ui_->Button1;
    Button2 = ui_->Button2;
    Label2 = ui_->Label2;
    Label2->setStyleSheet(QStringLiteral("color: #c00000"));

    SetFontPixels(this, 11, false);
    // The label sizes itself to its caption from its designed top-left corner.
    Label1->adjustSize();
    setFixedSize(456, 94);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
    // The title-bar close box (and Escape) ends in QDialog::reject(), which only hides.
}

TForm3::~TForm3() = default;

void TForm3::showEvent(QShowEvent* event) {
    // Spontaneous show events come from the window system (restoring a minimised window);
    // the lists are rebuilt only when the program shows the dialog.
    if (!event->spontaneous())
        FormShow();
    QDialog::showEvent(event);
}

void TForm3::FillPortLists() {
    ComboBox1->clear();
    ComboBox2->clear();
    std::unique_ptr<PortDeviceSet> devices = OpenPortDevices();
    std::string portName;
    std::string friendlyName;
    while (NextComPort(devices.get(), &portName, &friendlyName) == 1) {
        ComboBox1->addItem(QString::fromStdString(friendlyName).left(kListTextMaxLength));
        ComboBox2->addItem(QString::fromStdString(portName));
    }
    ClosePortDevices(std::move(devices));
}

int TForm3::FindPortEntry(int n) {
    const QString wanted = QStringLiteral("COM%1").arg(n + 1);
    for (int position = 0; position < ComboBox2->count(); ++position) {
        ComboBox2->setCurrentIndex(position);
        if (ComboBox2->currentText().compare(wanted, Qt::CaseInsensitive) == 0)
            return position;
    }
    return 0;
}

int TForm3::PortNumberOfEntry(int position) {
    ComboBox2->setCurrentIndex(position);
    const std::string text = ComboBox2->currentText().toStdString();
    if (text.empty())
        return 0;
    const std::size_t digits = text.find_first_not_of("COM");
    if (digits == std::string::npos)
        return 0;
    return LeadingDecimal(text.substr(digits)) - 1;
}

void TForm3::FormShow() {
    FillPortLists();
    ComboBox1->setCurrentIndex(FindPortEntry(SelectedPortIndex));
    Label2->setVisible(PortHeldBySession);
}

void TForm3::Button1Click() {
    const int n = PortNumberOfEntry(ComboBox1->currentIndex());
    if (n != SelectedPortIndex) {
        // Switching now would send the rest of the running update to another device, without
        // its probe. The dialog stays open with the reason; Ok works again once it has ended.
        if (PortHeldBySession) {
            Label2->setVisible(true);
            return;
        }
        SelectedPortIndex = static_cast<std::int16_t>(n);
        OpenSelectedPort();
    }
    Label2->setVisible(false);
    hide();
}

void TForm3::Button2Click() {
    ComboBox1->setCurrentIndex(FindPortEntry(SelectedPortIndex));
    Label2->setVisible(false);
    hide();
}
