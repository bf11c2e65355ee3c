#include "serial/port_watch.h"

#include "serial/port_names.h"

#include <QFileSystemWatcher>
#include <chrono>

namespace {
// A plugged adapter raises its events within a few milliseconds; one refresh covers them.
constexpr std::chrono::milliseconds kSettleTime{100};
} // namespace

PortWatch::PortWatch(QObject* parent) : QObject(parent) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleTime);
    connect(&settle_, &QTimer::timeout, this, &PortWatch::portsChanged);
    devices_ = WatchSerialDevices([this] { changed(); });
    const std::string dir = ComDirectory();
    if (!dir.empty()) {
        comDir_ = new QFileSystemWatcher(this);
        comDir_->addPath(QString::fromStdString(dir));
        connect(comDir_, &QFileSystemWatcher::directoryChanged, this, &PortWatch::changed);
    }
}

PortWatch::~PortWatch() = default;

void PortWatch::changed() {
    settle_.start();
}
