// Linux: udev's monitor for the tty subsystem. The "udev" source reports a device after its
// rules ran, so the node's permissions (uaccess, the dialout group) are already in place when
// the list looks at it.
#include "serial/port_watch.h"

#include <QSocketNotifier>
#include <libudev.h>

namespace {
class UdevTtyMonitor : public QObject {
public:
    UdevTtyMonitor(udev* context, udev_monitor* monitor, std::function<void()> onChange)
        : context_(context), monitor_(monitor), onChange_(std::move(onChange)),
          notifier_(udev_monitor_get_fd(monitor), QSocketNotifier::Read) {
        connect(&notifier_, &QSocketNotifier::activated, this, &UdevTtyMonitor::receive);
    }
    ~UdevTtyMonitor() override {
        notifier_.setEnabled(false);
        udev_monitor_unref(monitor_);
        udev_unref(context_);
    }
    UdevTtyMonitor(const UdevTtyMonitor&) = delete;
    UdevTtyMonitor& operator=(const UdevTtyMonitor&) = delete;

private:
    void receive() {
        // The socket is non-blocking: take every queued event, then tell once.
        bool any = false;
        while (udev_device* device = udev_monitor_receive_device(monitor_)) {
            udev_device_unref(device);
            any = true;
        }
        if (any)
            onChange_();
    }

    udev* context_;
    udev_monitor* monitor_;
    std::function<void()> onChange_;
    QSocketNotifier notifier_;
};
} // namespace

std::unique_ptr<QObject> WatchSerialDevices(const std::function<void()>& onChange) {
    udev* context = udev_new();
    if (context == nullptr)
        return nullptr;
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    if (monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        if (monitor != nullptr)
            udev_monitor_unref(monitor);
        udev_unref(context);
        return nullptr;
    }
    return std::make_unique<UdevTtyMonitor>(context, monitor, onChange);
}
