#pragma once
// The program's stand-in for the system's device-change message: the port
// watcher's descriptors (udev monitor, virtual-port directory) are watched
// from the GUI thread's event loop, and every notice about a port runs the
// callback there.
#include <QObject>
#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace kelm {

class PortChangeWatcher;

class DeviceChangeNotifier : public QObject {
    Q_OBJECT
  public:
    explicit DeviceChangeNotifier(std::function<void()> onDeviceChange, QObject* parent = nullptr);
    ~DeviceChangeNotifier() override;

    // Whether any source could be watched (none in a bare container).
    bool Watching() const { return !notifiers_.empty(); }

  private:
    void onReadable();

    std::unique_ptr<PortChangeWatcher> watcher_;
    std::vector<QSocketNotifier*> notifiers_;
    std::function<void()> onDeviceChange_;
};

}  // namespace kelm
