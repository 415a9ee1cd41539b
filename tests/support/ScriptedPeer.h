#pragma once
// A scripted Modbus slave on the master side of a pseudo-terminal: it reads
// request frames (RTU by their length, ASCII up to CR LF) on a thread of its
// own and answers each with whatever the script returns (nothing: silence).
// Everything it received is kept for byte-exact checks.
//
// Synchronisation: mutex_ guards script_, received_ and requests_; the
// script runs with it released, on the peer's thread.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "modbus/Bytes.h"
#include "serial/posix/Pty.h"

namespace kelm::test {

class ScriptedPeer {
  public:
    // The reply to one request frame (as received, check included);
    // nullopt for none.
    using Script = std::function<std::optional<ByteString>(const ByteString& request)>;

    explicit ScriptedPeer(bool ascii = false) : ascii_(ascii) {
        pty_.HoldSlaveOpen();
        thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedPeer() {
        stop_ = true;
        thread_.join();
    }

    const std::string& SlavePath() const { return pty_.SlavePath(); }
    int MasterFd() const { return pty_.MasterFd(); }
    void SetScript(Script s) {
        std::lock_guard lock(mutex_);
        script_ = std::move(s);
    }
    // Writes bytes to the line now, as a slave would.
    void Write(const ByteString& bytes) {
        std::size_t off = 0;
        while (off < bytes.size()) {
            const ssize_t n = ::write(pty_.MasterFd(), bytes.data() + off, bytes.size() - off);
            if (n > 0) off += static_cast<std::size_t>(n);
        }
    }
    ByteString Received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    std::vector<ByteString> Requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    // Waits (bounded) until n requests have come in.
    bool WaitRequests(std::size_t n, std::chrono::seconds limit = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] { return requests_.size() >= n; });
    }

  private:
    // Length of the request frame at the start of buf, 0 while incomplete.
    std::size_t FrameLength(const ByteString& buf) const {
        if (ascii_) {
            for (std::size_t i = 1; i < buf.size(); ++i) {
                if (buf[i - 1] == '\r' && buf[i] == '\n') return i + 1;
            }
            return 0;
        }
        if (buf.size() < 2) return 0;
        std::size_t len = 8;
        if (buf[1] == 15 || buf[1] == 16) {
            if (buf.size() < 7) return 0;
            len = 9 + buf[6];
        }
        return buf.size() >= len ? len : 0;
    }

    void Run() {
        ByteString pending;
        while (!stop_) {
            pollfd p{pty_.MasterFd(), POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            std::uint8_t chunk[512];
            const ssize_t n = ::read(pty_.MasterFd(), chunk, sizeof chunk);
            if (n <= 0) continue;
            pending.insert(pending.end(), chunk, chunk + n);
            {
                std::lock_guard lock(mutex_);
                received_.insert(received_.end(), chunk, chunk + n);
            }
            while (std::size_t len = FrameLength(pending)) {
                const ByteString request(pending.begin(),
                                         pending.begin() + static_cast<std::ptrdiff_t>(len));
                pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(len));
                Script script;
                {
                    std::lock_guard lock(mutex_);
                    script = script_;
                }
                std::optional<ByteString> reply;
                if (script) reply = script(request);
                if (reply) Write(*reply);
                {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(request);
                }
                cv_.notify_all();
            }
        }
    }

    const bool ascii_;
    posix::Pty pty_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    Script script_;
    ByteString received_;
    std::vector<ByteString> requests_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace kelm::test
