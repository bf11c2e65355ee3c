// Windows: no device notifications yet; the list is rebuilt each time the dialog is shown.
#include "serial/port_watch.h"

std::unique_ptr<QObject> WatchSerialDevices(const std::function<void()>&) {
    return nullptr;
}
