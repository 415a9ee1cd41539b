#include "serial/EnumWatcher.h"

#include <libudev.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/VirtualPortDir.h"

namespace kelm {

PortChangeWatcher::PortChangeWatcher() : dir_(VirtualPortDir::Path()) {
    udev_ = udev_new();
    if (udev_) {
        // Without a udev daemon (containers) nobody forwards the "udev"
        // events; the kernel's own uevents still describe added and removed
        // ttys where the process may receive them.
        struct stat st {};
        const bool daemon = ::stat("/run/udev/control", &st) == 0;
        monitor_ = udev_monitor_new_from_netlink(udev_, daemon ? "udev" : "kernel");
        if (monitor_ &&
            (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) < 0 ||
             udev_monitor_enable_receiving(monitor_) < 0)) {
            udev_monitor_unref(monitor_);
            monitor_ = nullptr;
        }
    }
    inotifyFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ArmDirectoryWatch();
}

PortChangeWatcher::~PortChangeWatcher() {
    if (inotifyFd_ >= 0) ::close(inotifyFd_);
    if (monitor_) udev_monitor_unref(monitor_);
    if (udev_) udev_unref(udev_);
}

void PortChangeWatcher::ArmDirectoryWatch() {
    if (inotifyFd_ < 0) return;
    VirtualPortDir::Ensure();
    watch_ = ::inotify_add_watch(inotifyFd_, dir_.c_str(),
                                 IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                                     IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
}

std::vector<int> PortChangeWatcher::Fds() const {
    std::vector<int> fds;
    if (monitor_) fds.push_back(udev_monitor_get_fd(monitor_));
    if (inotifyFd_ >= 0) fds.push_back(inotifyFd_);
    return fds;
}

bool PortChangeWatcher::Drain() {
    bool changed = false;
    if (monitor_) {
        const int fd = udev_monitor_get_fd(monitor_);
        // Each receive consumes one message (a filtered-out one yields null);
        // the bound keeps a flood from holding the caller's thread.
        for (int i = 0; i < 1000; ++i) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) break;
            udev_device* dev = udev_monitor_receive_device(monitor_);
            if (!dev) continue;
            const char* action = udev_device_get_action(dev);
            // "change" and "bind" events do not make or remove a port.
            if (action && (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0)) {
                changed = true;
            }
            udev_device_unref(dev);
        }
    }
    if (inotifyFd_ >= 0) {
        alignas(inotify_event) char buf[4096];
        bool rearm = false;
        for (;;) {
            const ssize_t n = ::read(inotifyFd_, buf, sizeof buf);
            if (n <= 0) {
                if (n < 0 && errno == EINTR) continue;
                break;
            }
            for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
                inotify_event ev;
                std::memcpy(&ev, buf + off, sizeof ev);
                const ssize_t next = off + static_cast<ssize_t>(sizeof(inotify_event)) + ev.len;
                if (next > n) break;
                std::string name;
                if (ev.len > 0)
                    name.assign(buf + off + sizeof(inotify_event),
                                strnlen(buf + off + sizeof(inotify_event), ev.len));
                if (ev.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_Q_OVERFLOW)) {
                    changed = true;
                    if (ev.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) rearm = true;
                } else if (VirtualPortDir::NumberOfName(name)) {
                    // Our own temporary names (".COM9.tmp...") are not ports.
                    changed = true;
                }
                off = next;
            }
        }
        if (rearm) {
            // The directory itself went away: watch its successor.
            if (watch_ >= 0) ::inotify_rm_watch(inotifyFd_, watch_);
            watch_ = -1;
            ArmDirectoryWatch();
        }
    }
    return changed;
}

bool PortChangeWatcher::Wait(int timeoutMs) {
    std::vector<pollfd> fds;
    for (int fd : Fds()) fds.push_back(pollfd{fd, POLLIN, 0});
    if (fds.empty()) return false;
    const int r = ::poll(fds.data(), fds.size(), timeoutMs);
    if (r <= 0) return false;
    return Drain();
}

}  // namespace kelm
