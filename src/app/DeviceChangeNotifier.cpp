#include "app/DeviceChangeNotifier.h"

#include <QSocketNotifier>

#include "serial/EnumWatcher.h"

namespace kelm {

DeviceChangeNotifier::DeviceChangeNotifier(std::function<void()> onDeviceChange, QObject* parent)
    : QObject(parent),
      watcher_(std::make_unique<PortChangeWatcher>()),
      onDeviceChange_(std::move(onDeviceChange)) {
    for (int fd : watcher_->Fds()) {
        auto* n = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(n, &QSocketNotifier::activated, this, &DeviceChangeNotifier::onReadable);
        notifiers_.push_back(n);
    }
}

DeviceChangeNotifier::~DeviceChangeNotifier() {
    // The notifiers must go before the descriptors they watch are closed.
    for (auto* n : notifiers_) delete n;
    notifiers_.clear();
}

void DeviceChangeNotifier::onReadable() {
    // Drain everything pending first: the callback may show a modal box, and
    // a still-readable descriptor would fire again inside it.
    if (watcher_->Drain() && onDeviceChange_) onDeviceChange_();
}

}  // namespace kelm
