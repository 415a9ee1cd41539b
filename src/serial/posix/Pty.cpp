#include "serial/posix/Pty.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace kelm::posix {

namespace {
[[noreturn]] void ThrowErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}
}  // namespace

bool MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

Pty::Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) ThrowErrno("posix_openpt");
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        const int e = errno;
        ::close(master_);
        master_ = -1;
        throw std::system_error(e, std::generic_category(), "grantpt/unlockpt");
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        const int e = errno;
        ::close(master_);
        master_ = -1;
        throw std::system_error(e, std::generic_category(), "ptsname");
    }
    slavePath_ = name;
    // Raw on the master so that nothing written by a peer is translated.
    MakeRaw(master_);
    SetMasterBlocking(false);
}

Pty::~Pty() {
    Close();
}

Pty::Pty(Pty&& other) noexcept
    : master_(std::exchange(other.master_, -1)),
      heldSlave_(std::exchange(other.heldSlave_, -1)),
      slavePath_(std::move(other.slavePath_)) {}

Pty& Pty::operator=(Pty&& other) noexcept {
    if (this != &other) {
        Close();
        master_ = std::exchange(other.master_, -1);
        heldSlave_ = std::exchange(other.heldSlave_, -1);
        slavePath_ = std::move(other.slavePath_);
    }
    return *this;
}

void Pty::SetMasterBlocking(bool blocking) {
    if (master_ < 0) return;
    const int flags = fcntl(master_, F_GETFL);
    if (flags < 0) return;
    fcntl(master_, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
}

void Pty::HoldSlaveOpen() {
    if (heldSlave_ >= 0 || slavePath_.empty()) return;
    heldSlave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (heldSlave_ < 0) ThrowErrno("open pty slave");
    MakeRaw(heldSlave_);
}

void Pty::CloseMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

void Pty::Close() {
    CloseMaster();
    if (heldSlave_ >= 0) {
        ::close(heldSlave_);
        heldSlave_ = -1;
    }
}

int Pty::ReleaseMaster() {
    return std::exchange(master_, -1);
}

}  // namespace kelm::posix
