#include "serial/serialsetup.h"

#include "serial/comport.h"
#include "serial/port_discovery.h"
#include "serial/port_state.h"
#include "serial/port_watch.h"
#include "shell/status.h"
#include "ui_serialsetup.h"

#include <QComboBox>
#include <QFont>
#include <QHideEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>

#include <cstdint>
#include <string>

namespace {
// Longest friendly name a list entry takes; longer ones are cut.
constexpr int kListTextMaxLength = 199;

// A dot before each entry: green for a port that can be opened now, red for one that cannot.
QIcon StateDot(PortState state) {
    QPixmap dot(10, 10);
    dot.fill(Qt::transparent);
    QPainter painter(&dot);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(state == PortState::kFree ? QColor(0x2e, 0x9e, 0x3c)
                                               : QColor(0xd0, 0x30, 0x30));
    painter.drawEllipse(1, 1, 8, 8);
    return QIcon(dot);
}

// The port index a listed port name ("COM3") stands for.
int IndexOfPortName(const std::string& portName) {
    return LeadingDecimal(portName.substr(3)) - 1;
}
} // namespace

TForm3::TForm3(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TForm3>()) {
    ui_->setupUi(this);
    Label1 = ui_->Label1;
    Label3 = ui_->Label3;
    ComboBox1 = ui_->ComboBox1;
    ComboBox2 = ui_->ComboBox2;
    Button1 = ui_->Button1;
    Button2 = ui_->Button2;
    Label2 = ui_->Label2;
    Label2->setStyleSheet(QStringLiteral("color: #c00000"));

    QFont face = font();
    face.setPixelSize(11);
    face.setBold(false);
    setFont(face);
    // The label sizes itself to its caption from its designed top-left corner.
    Label1->adjustSize();
    setFixedSize(456, 94);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TForm3::ShowChosenPortState);
    // The title-bar close box (and Escape) ends in QDialog::reject(), which only hides.
}

TForm3::~TForm3() = default;

void TForm3::showEvent(QShowEvent* event) {
    // Spontaneous show events come from the window system (restoring a minimised window);
    // the lists are rebuilt only when the program shows the dialog.
    if (!event->spontaneous()) {
        // Watching first: a port that appears while the lists are being filled is not missed.
        watch_ = std::make_unique<PortWatch>();
        connect(watch_.get(), &PortWatch::portsChanged, this, &TForm3::RefreshPortLists);
        FormShow();
    }
    QDialog::showEvent(event);
}

void TForm3::hideEvent(QHideEvent* event) {
    if (!event->spontaneous())
        watch_.reset();
    QDialog::hideEvent(event);
}

void TForm3::FillPortLists() {
    ComboBox1->clear();
    ComboBox2->clear();
    std::unique_ptr<PortDeviceSet> devices = OpenPortDevices();
    std::string portName;
    std::string friendlyName;
    while (NextComPort(devices.get(), &portName, &friendlyName) == 1) {
        const PortCheck check = CheckComPort(IndexOfPortName(portName));
        ComboBox1->addItem(StateDot(check.state),
                           QString::fromStdString(friendlyName).left(kListTextMaxLength) +
                               QStringLiteral(" – ") + PortStateLabel(check),
                           static_cast<int>(check.state));
        ComboBox1->setItemData(ComboBox1->count() - 1, PortFailureReason(check), Qt::ToolTipRole);
        ComboBox2->addItem(QString::fromStdString(portName));
    }
    ClosePortDevices(std::move(devices));
    ShowChosenPortState();
}

void TForm3::RefreshPortLists() {
    if (!isVisible())
        return;
    const int chosen = ComboBox1->currentIndex() >= 0 ? PortNumberOfEntry(ComboBox1->currentIndex())
                                                      : static_cast<int>(SelectedPortIndex);
    FillPortLists();
    ComboBox1->setCurrentIndex(FindPortEntry(chosen));
}

void TForm3::ShowChosenPortState() {
    const int position = ComboBox1->currentIndex();
    Label3->setText(position >= 0 ? ComboBox1->itemData(position, Qt::ToolTipRole).toString()
                                  : QString());
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
        ShowPortOpenFailure(OpenSelectedPort());
    }
    Label2->setVisible(false);
    hide();
}

void TForm3::Button2Click() {
    ComboBox1->setCurrentIndex(FindPortEntry(SelectedPortIndex));
    Label2->setVisible(false);
    hide();
}
