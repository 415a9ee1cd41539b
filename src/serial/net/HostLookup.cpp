#include "serial/net/HostLookup.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <system_error>
#include <thread>

namespace kelm::net {

namespace detail {
struct PendingLookup {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;        // mutex
    bool cancelled = false;   // mutex
    HostLookupResult result;  // mutex; written once by the worker
};
}  // namespace detail

namespace {

std::atomic<int> g_pending{0};

std::string DurationText(int ms) {
    if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
    return std::to_string(ms) + " ms";
}

HostLookupResult Failure(int error, std::string reason) {
    HostLookupResult r;
    r.error = error;
    r.reason = std::move(reason);
    return r;
}

}  // namespace

void HostLookupCancel::Cancel() {
    std::shared_ptr<detail::PendingLookup> p;
    {
        std::lock_guard g(mutex_);
        cancelled_ = true;
        p = current_;
    }
    if (!p) return;
    {
        std::lock_guard g(p->mutex);
        p->cancelled = true;
    }
    p->changed.notify_all();
}

void HostLookupCancel::Reset() {
    std::lock_guard g(mutex_);
    cancelled_ = false;
}

int PendingLookups() {
    return g_pending.load();
}

HostLookupResult LookUpWithin(const HostLookupFn& lookup, const std::string& host, uint16_t port,
                              int timeoutMs, HostLookupCancel* cancel) {
    const std::string quoted = "\"" + host + "\"";
    auto pending = std::make_shared<detail::PendingLookup>();
    if (cancel) {
        std::lock_guard g(cancel->mutex_);
        if (cancel->cancelled_) return Failure(ECANCELED, "cancelled");
        cancel->current_ = pending;
    }
    // Leaves the cancel object without a lookup to end, whatever the way out.
    struct Unregister {
        HostLookupCancel* cancel;
        ~Unregister() {
            if (!cancel) return;
            std::lock_guard g(cancel->mutex_);
            cancel->current_.reset();
        }
    } unregister{cancel};

    if (g_pending.fetch_add(1) >= kMaxPendingLookups) {
        g_pending.fetch_sub(1);
        return Failure(EAGAIN, "looking up host " + quoted +
                                   " is not possible now: earlier lookups are still waiting "
                                   "for the name servers");
    }
    try {
        // The worker owns copies of everything it uses; the caller may be
        // gone when it finishes.
        std::thread([pending, lookup, host, port] {
            HostLookupResult r;
            try {
                r = lookup(host, port);
            } catch (const std::exception& e) {
                r = Failure(EFAULT, std::string("the lookup failed: ") + e.what());
            } catch (...) {
                r = Failure(EFAULT, "the lookup failed");
            }
            {
                std::lock_guard g(pending->mutex);
                pending->result = std::move(r);
                pending->done = true;
            }
            pending->changed.notify_all();
            g_pending.fetch_sub(1);
        }).detach();
    } catch (const std::system_error& e) {
        g_pending.fetch_sub(1);
        return Failure(EAGAIN,
                       "looking up host " + quoted + " is not possible now (" + e.what() + ")");
    }

    std::unique_lock g(pending->mutex);
    const bool finished =
        pending->changed.wait_for(g, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                                  [&] { return pending->done || pending->cancelled; });
    if (pending->done) {
        HostLookupResult r = std::move(pending->result);
        if (r.error == 0 && r.addresses.empty())
            return Failure(EADDRNOTAVAIL, "unknown host " + quoted);
        if (r.error != 0 && r.reason.empty()) r.reason = "unknown host " + quoted;
        return r;
    }
    if (finished) return Failure(ECANCELED, "cancelled");
    return Failure(ETIMEDOUT,
                   "looking up host " + quoted + " took longer than " + DurationText(timeoutMs));
}

}  // namespace kelm::net
