#pragma once
// The system calls the Linux backend makes on an open tty, behind one seam.
// The backend makes every tty call through it, so a test can answer some of
// them as a particular driver does (a 16550 UART reads its RS-485 settings
// but refuses to set them) and see the order in which they were made.
#include <sys/types.h>
#include <termios.h>

#include <memory>

namespace kelm::posix {

class TtyCalls {
  public:
    virtual ~TtyCalls() = default;
    // ioctl(fd, request, arg); arg may be nullptr for requests without one.
    virtual int Ioctl(int fd, unsigned long request, void* arg);
    virtual ssize_t Write(int fd, const void* buf, size_t n);
    virtual int Tcdrain(int fd);
    virtual int Tcflow(int fd, int action);
    virtual int Tcgetattr(int fd, termios* t);
    virtual int Tcsetattr(int fd, int when, const termios* t);
};

// The calls as the system makes them.
std::shared_ptr<TtyCalls> SystemTtyCalls();

}  // namespace kelm::posix
