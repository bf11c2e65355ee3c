#include "serial/port_state.h"

#include "serial/port_names.h"

PortCheck CheckComPort(int index) {
    const std::string path = ComDevicePath(index);
    if (path.empty())
        return {PortState::kGone, std::nullopt, {}};
    return CheckPortState(path);
}

PortCheck StateOfFailedOpen(const serial_os::Status& status, const std::string& path) {
    PortCheck check;
    switch (status.error) {
    case serial_os::Error::kNone:
        break;
    case serial_os::Error::kBusy:
        check.state = PortState::kBusy;
        check.holder = FindPortHolder(path);
        break;
    case serial_os::Error::kDenied:
        check.state = PortState::kDenied;
        break;
    case serial_os::Error::kAbsent:
    case serial_os::Error::kGone:
        check.state = PortState::kGone;
        break;
    case serial_os::Error::kUnsupported:
        check.state = PortState::kNotSerial;
        break;
    case serial_os::Error::kRefused:
    case serial_os::Error::kTimedOut:
    case serial_os::Error::kOther:
        check.state = PortState::kFailed;
        check.osText = status.text;
        break;
    }
    return check;
}

namespace {
QString HolderText(const PortHolder& holder) {
    return QStringLiteral("%1 (pid %2)").arg(QString::fromStdString(holder.name)).arg(holder.pid);
}
} // namespace

QString PortStateLabel(const PortCheck& check) {
    switch (check.state) {
    case PortState::kFree:
        return QStringLiteral("free");
    case PortState::kBusy:
        return check.holder ? QStringLiteral("busy: ") + HolderText(*check.holder)
                            : QStringLiteral("busy");
    case PortState::kDenied:
        return QStringLiteral("no permission");
    case PortState::kGone:
        return QStringLiteral("gone");
    case PortState::kNotSerial:
        return QStringLiteral("not a serial port");
    case PortState::kFailed:
        break;
    }
    return QStringLiteral("unusable");
}

QString PortFailureReason(const PortCheck& check) {
    switch (check.state) {
    case PortState::kFree:
        return {};
    case PortState::kBusy:
        return check.holder ? QStringLiteral("in use by ") + HolderText(*check.holder)
                            : QStringLiteral("in use by another program");
    case PortState::kDenied:
        return QStringLiteral(
            "no permission: add your user to the 'dialout' group and log in again");
    case PortState::kGone:
        return QStringLiteral("no device on this port (unplugged?)");
    case PortState::kNotSerial:
        return QStringLiteral("not a serial device");
    case PortState::kFailed:
        break;
    }
    return QStringLiteral("cannot open: ") + QString::fromStdString(check.osText);
}
