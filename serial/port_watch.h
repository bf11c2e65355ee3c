// Tells when serial ports appear or disappear, so that a port list can refresh itself while
// it is shown: the system's device notifications (udev on Linux) and, with QUILLET_COM_DIR
// set, changes of that directory. Event-driven: nothing polls.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class QFileSystemWatcher;

class PortWatch : public QObject {
    Q_OBJECT
public:
    explicit PortWatch(QObject* parent = nullptr);
    ~PortWatch() override;

    // Whether the system's device notifications are being received (false where the platform
    // offers none, or in a container without udev).
    bool watchingDevices() const { return devices_ != nullptr; }

signals:
    // Once after a burst of changes (a plugged adapter raises several events).
    void portsChanged();

private:
    void changed();

    std::unique_ptr<QObject> devices_;
    QFileSystemWatcher* comDir_ = nullptr;
    QTimer settle_;
};

// Platform part: starts the device notifications, calling onChange for each; nullptr when
// there are none. The returned object ends them when destroyed.
std::unique_ptr<QObject> WatchSerialDevices(const std::function<void()>& onChange);
