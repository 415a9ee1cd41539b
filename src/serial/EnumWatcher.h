#pragma once
// Device-change notices for the port list: a udev monitor on the "tty"
// subsystem (a serial adaptor plugged in or pulled out) and an inotify watch
// on the virtual-port directory (a simulated port published or removed).
//
// The watcher owns non-blocking file descriptors that a caller's event loop
// watches for readability (the application uses QSocketNotifier); when one
// becomes readable the caller calls Drain(), which empties every descriptor
// and tells whether a port may have come or gone. Where udev is absent
// (containers) the watcher works with inotify alone.
//
// Not thread-safe: one thread owns the watcher and calls all its members.
#include <string>
#include <vector>

struct udev;
struct udev_monitor;

namespace kelm {

class PortChangeWatcher {
  public:
    // Creates the virtual-port directory when missing so that it can be
    // watched. Nothing here throws: a source that cannot be opened is left
    // out (see HasUdev, HasDirectoryWatch).
    PortChangeWatcher();
    ~PortChangeWatcher();
    PortChangeWatcher(const PortChangeWatcher&) = delete;
    PortChangeWatcher& operator=(const PortChangeWatcher&) = delete;

    // The descriptors to watch for readability (zero, one or two).
    std::vector<int> Fds() const;

    // Reads everything pending on every descriptor without blocking. True
    // when at least one notice concerned a tty or a virtual-port link.
    bool Drain();

    // Waits up to timeoutMs for a notice, then drains. For tools and tests
    // without an event loop of their own.
    bool Wait(int timeoutMs);

    bool HasUdev() const { return monitor_ != nullptr; }
    bool HasDirectoryWatch() const { return inotifyFd_ >= 0 && watch_ >= 0; }
    // The directory being watched.
    const std::string& Directory() const { return dir_; }

  private:
    void ArmDirectoryWatch();

    ::udev* udev_ = nullptr;
    ::udev_monitor* monitor_ = nullptr;
    int inotifyFd_ = -1;
    int watch_ = -1;
    std::string dir_;
};

}  // namespace kelm
