// Linux: the present serial ports, named by the driver's COM mapping (serial/port_names.h), so
// that the name the dialog hands back opens that very device.
//
// With QUILLET_COM_DIR set the ports are that directory's entries "COM<n>" and nothing else,
// as for the driver: the simulated board shows up and a test never sees the machine's ports.
// Otherwise Qt Serial Port enumerates (udev, or sysfs without it) and the fixed mapping names
// what it finds.
#include "serial/port_discovery.h"
#include "serial/port_names.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QString>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <utility>

namespace {
// Display text of a device node when the system knows nothing better.
QString GenericDescription(const QString& node) {
    if (node.startsWith(QLatin1String("ttyUSB")))
        return QStringLiteral("USB serial port");
    if (node.startsWith(QLatin1String("ttyACM")))
        return QStringLiteral("USB ACM serial port");
    return QStringLiteral("Serial port");
}

// The product string a USB serial device reports ("FT232R USB UART"), read from sysfs: Qt
// takes it from udev's database, which a system without udevd (a container, a minimal
// install) does not have. Empty for other ports, or when there is none.
QString UsbProductOf(const QString& node) {
    if (!node.startsWith(QLatin1String("ttyUSB")) && !node.startsWith(QLatin1String("ttyACM")))
        return {};
    // The tty's device is the port (ttyUSB) or the interface (ttyACM); the USB device that
    // holds "product" is at most two levels above it.
    const QString device =
        QFileInfo(QStringLiteral("/sys/class/tty/") + node + QStringLiteral("/device"))
            .canonicalFilePath();
    if (device.isEmpty())
        return {};
    QDir dir(device);
    for (int level = 0; level < 3; ++level) {
        QFile product(dir.filePath(QStringLiteral("product")));
        if (product.open(QIODevice::ReadOnly))
            return QString::fromUtf8(product.readAll()).trimmed();
        if (!dir.cdUp())
            break;
    }
    return {};
}

// "FT232R USB UART (ttyUSB0)": what the device calls itself, else its maker, and the node.
std::string FriendlyName(const QSerialPortInfo& info) {
    QString text = info.description();
    if (text.isEmpty())
        text = info.manufacturer();
    if (text.isEmpty())
        text = UsbProductOf(info.portName());
    if (text.isEmpty())
        text = GenericDescription(info.portName());
    return (text + QStringLiteral(" (") + info.portName() + QLatin1Char(')')).toStdString();
}

// A legacy 8250 port without a UART behind it: the kernel creates ttyS0..ttySn whatever the
// hardware, and reports type 0 (PORT_UNKNOWN) in sysfs for those where it probed none.
// Reading sysfs opens no device: opening /dev/ttyS0 may disturb a console on it.
bool IsEmptyLegacyPort(const QSerialPortInfo& info) {
    if (!info.portName().startsWith(QLatin1String("ttyS")))
        return false;
    QFile type(QStringLiteral("/sys/class/tty/") + info.portName() + QStringLiteral("/type"));
    if (!type.open(QIODevice::ReadOnly))
        return false; // cannot tell: list it
    return type.readAll().trimmed() == "0";
}

// "COM<n>" with n >= 1 written without leading zeros: the names the driver opens.
bool IsComEntryName(const std::string& name) {
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0 || name[3] == '0')
        return false;
    return name.find_first_not_of("0123456789", 3) == std::string::npos;
}

// What a COM directory entry leads to, for a person: a pseudo-terminal (the simulated board,
// or a test's) or a real device the system may describe.
std::string DescribeComEntry(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
        return {};
    const QString target = QFile::decodeName(resolved);
    std::free(resolved);
    if (target.startsWith(QLatin1String("/dev/pts/")))
        return (QStringLiteral("Pseudo-terminal (") + target.mid(5) + QLatin1Char(')'))
            .toStdString();
    if (target.startsWith(QLatin1String("/dev/"))) {
        const QSerialPortInfo info(target.mid(5));
        if (!info.isNull())
            return FriendlyName(info);
        return (GenericDescription(target.mid(5)) + QStringLiteral(" (") + target.mid(5) +
                QLatin1Char(')'))
            .toStdString();
    }
    return (QStringLiteral("Serial device (") + target + QLatin1Char(')')).toStdString();
}

PortDeviceSet ListComDirectory(const std::string& dir) {
    PortDeviceSet set;
    DIR* stream = ::opendir(dir.c_str());
    if (stream == nullptr) {
        set.obtained = false;
        return set;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(stream)) {
        const std::string name = entry->d_name;
        struct stat info {};
        // Only entries that lead to a character device now: a link left behind by a stopped
        // board is no present port.
        if (IsComEntryName(name) && ::stat((dir + "/" + name).c_str(), &info) == 0 &&
            S_ISCHR(info.st_mode))
            names.push_back(name);
    }
    ::closedir(stream);
    // By COM number; without leading zeros the longer name is the larger number.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    for (const std::string& name : names)
        set.devices.push_back(PortDevice{name, DescribeComEntry(dir + "/" + name)});
    return set;
}

PortDeviceSet ListSystemPorts() {
    std::vector<std::pair<int, PortDevice>> found;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const std::optional<int> index = ComIndexOfDevice(info.systemLocation().toStdString());
        if (!index || IsEmptyLegacyPort(info))
            continue; // no COM number the driver could open it by, or no hardware behind it
        found.emplace_back(*index,
                           PortDevice{"COM" + std::to_string(*index + 1), FriendlyName(info)});
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    PortDeviceSet set;
    for (auto& entry : found)
        set.devices.push_back(std::move(entry.second));
    return set;
}
} // namespace

PortDeviceSet ListPortDevices() {
    // Set but empty is not set, as for the driver.
    if (const std::string dir = ComDirectory(); !dir.empty())
        return ListComDirectory(dir);
    return ListSystemPorts();
}
