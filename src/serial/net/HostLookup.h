#pragma once
// Host name lookup within a time limit. The system's resolver (getaddrinfo)
// may block for as long as its DNS servers take, far beyond the time a
// connect is allowed; it cannot be interrupted either. So the lookup runs on
// a worker thread of its own, and the caller waits for it at most the time
// it was given. A lookup that is still running then is abandoned: its
// worker finishes on its own, writes its result into the state it shares
// with the caller (and nothing else) and ends.
//
// Synchronisation: the caller and the worker share one PendingLookup by
// shared_ptr; its mutex guards the result and the done/cancelled flags, its
// condition variable signals a change of either. HostLookupCancel has a mutex
// of its own for the lookup it may end; it never holds it while it takes the
// lookup's mutex, so the two are never held together.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kelm::net {

struct HostLookupResult {
    int error = 0;                       // 0, or an errno-style code
    std::string reason;                  // why it failed, in words
    std::vector<std::string> addresses;  // numeric, in the order to try them
};

// A lookup as the system does it: blocking, no time limit.
using HostLookupFn = std::function<HostLookupResult(const std::string& host, uint16_t port)>;

// The system's lookup, from the backend of this platform: the numeric
// addresses of host for a TCP connection.
HostLookupResult SystemHostLookup(const std::string& host, uint16_t port);

// Abandoned lookups still running at most; beyond it a new lookup is
// refused at once rather than adding another stuck thread.
inline constexpr int kMaxPendingLookups = 8;

namespace detail {
struct PendingLookup;
}

// Lets another thread end a LookUpWithin that waits (Close during Open).
class HostLookupCancel {
  public:
    // Ends the current wait, and every later one until Reset().
    void Cancel();
    void Reset();

  private:
    friend HostLookupResult LookUpWithin(const HostLookupFn&, const std::string&, uint16_t, int,
                                         HostLookupCancel*);
    std::mutex mutex_;
    bool cancelled_ = false;
    std::shared_ptr<detail::PendingLookup> current_;
};

// Runs lookup(host, port) on a worker thread and waits for it at most
// timeoutMs. Failures: the lookup's own; ETIMEDOUT ("looking up host "x"
// took longer than 3 s"); ECANCELED when cancel was used; EAGAIN when too
// many earlier lookups are still stuck. A lookup that finds no address is
// reported as an unknown host.
HostLookupResult LookUpWithin(const HostLookupFn& lookup, const std::string& host, uint16_t port,
                              int timeoutMs, HostLookupCancel* cancel = nullptr);

// Lookups started by LookUpWithin whose worker has not finished yet
// (abandoned ones included).
int PendingLookups();

}  // namespace kelm::net
