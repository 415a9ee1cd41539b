#include "serial/posix/TtyCalls.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace kelm::posix {

int TtyCalls::Ioctl(int fd, unsigned long request, void* arg) {
    return ::ioctl(fd, request, arg);
}

ssize_t TtyCalls::Write(int fd, const void* buf, size_t n) {
    return ::write(fd, buf, n);
}

int TtyCalls::Tcdrain(int fd) {
    return ::tcdrain(fd);
}

int TtyCalls::Tcflow(int fd, int action) {
    return ::tcflow(fd, action);
}

int TtyCalls::Tcgetattr(int fd, termios* t) {
    return ::tcgetattr(fd, t);
}

int TtyCalls::Tcsetattr(int fd, int when, const termios* t) {
    return ::tcsetattr(fd, when, t);
}

std::shared_ptr<TtyCalls> SystemTtyCalls() {
    static const auto calls = std::make_shared<TtyCalls>();
    return calls;
}

}  // namespace kelm::posix
