#pragma once
// A pseudo-terminal pair for tests, the simulator and tools: a real kernel tty
// (the slave, opened by path like any serial port) driven from the master fd.
// The master is in raw mode and close-on-exec. Closing the master hangs up
// the slave: that is how a test pulls the plug on an open port.
#include <string>

namespace kelm::posix {

class Pty {
  public:
    // Creates the pair (posix_openpt, grantpt, unlockpt, ptsname). Throws
    // std::system_error when the system refuses.
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    Pty(Pty&& other) noexcept;
    Pty& operator=(Pty&& other) noexcept;

    // The master fd, or -1 once closed. Non-blocking unless
    // SetMasterBlocking(true) was called.
    int MasterFd() const { return master_; }
    // The slave's path, for example "/dev/pts/7".
    const std::string& SlavePath() const { return slavePath_; }

    void SetMasterBlocking(bool blocking);

    // Opens the slave once and keeps it open until Close(). While some slave
    // fd is open, reads on the master do not fail with EIO between the
    // component's closes and reopens.
    void HoldSlaveOpen();

    // Closes the master (hanging up the slave side) and the held slave fd.
    void Close();
    // Closes only the master.
    void CloseMaster();
    // Gives up ownership of the master fd and returns it.
    int ReleaseMaster();

  private:
    int master_ = -1;
    int heldSlave_ = -1;
    std::string slavePath_;
};

// Puts any tty fd into raw 8-bit mode (no echo, no line discipline
// processing). Returns false when tcgetattr/tcsetattr fail.
bool MakeRaw(int fd);

}  // namespace kelm::posix
