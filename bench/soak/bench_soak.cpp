// Soak benchmark: the real main window (offscreen) polls the simulator's demo
// bus on a pseudo-terminal for a given time, module after module, with the
// requests the module panels send, as fast as the end-of-frame silence
// allows, and checks every reply against what the simulator holds.
//
//   bench-soak [--seconds N] [--ascii]    (default 60 s, RTU)
//
// With --ascii the demo bus and the host speak Modbus ASCII.
//
// Prints key=value lines:
//   soak_requests   requests handed to the serial component
//   soak_replies    replies that reached the model's reply handler
//   soak_lost       requests without a valid reply within 1 s
//   soak_bad        replies that did not match the simulator (rule below)
//   rss_start_kb, rss_end_kb   resident memory after the first round over
//                   the bus (warm) and at the end of polling
//   fds_start, fds_end, threads_start, threads_end
//                   with the port closed, before the first open and after
//                   the last close (Qt's paint thread pool emptied first, and
//                   up to 10 s for threads on their way out)
//   cpu_ms          processor time of the process while polling, without the
//                   in-process simulator's thread (it stands in for hardware)
//                   and without the judging of replies below (both shares go
//                   to stderr, with the latency split into its two parts)
//   reply_p50_ms, reply_p99_ms
//                   from the request being handed to the component to its
//                   reply reaching the handler; the simulator answers with
//                   no delay of its own
//
// The rule for a good reply. The address, function code, byte count and
// length must be those of the request, and a write must be echoed exactly
// and must have landed in the simulated module. Every value a read carries
// is compared with the module's state, sampled every millisecond from the
// moment the request was handed over to the moment the reply reached the
// handler (the module answered somewhere in between): it must lie within the
// values the samples took, widened by the largest change between two
// neighbouring samples, so that a signal that moved between samples still
// matches. Values that do not move (identity, written registers, modes,
// coils, stopped counters) collapse to one sample value and are compared
// exactly; a register or coil this program wrote must in addition read back
// as written. Moving values are the digital inputs (square waves), the input
// counters once started, and the analog counts (slow sines).
#include <time.h>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "ProcStats.h"
#include "RestingCounts.h"
#include "app/TFMmain.h"
#include "gui/MessageBoxes.h"
#include "host/Pnl_comset.h"
#include "kelm-sim/Options.h"
#include "kelm-sim/PtyServer.h"
#include "modbus/ModbusMaster.h"
#include "modbus/Models.h"
#include "serial/VirtualPortDir.h"
#include "serial/ksComm.h"

namespace {

using namespace kelm;
using sim::SimTime;

constexpr unsigned kCom = 7;
constexpr int kLostAfterMs = 1000;

// Latencies in 0.1 ms bins up to 5 s: fixed memory, so that the figures do
// not grow the memory they measure.
class Histogram {
  public:
    void Add(double ms) {
        const auto bin = static_cast<std::size_t>(std::clamp(ms * 10.0, 0.0, kBins - 1.0));
        ++bins_[bin];
        ++count_;
    }
    double Percentile(double p) const {
        if (count_ == 0) return 0;
        const auto want = static_cast<unsigned long long>(p / 100.0 * (count_ - 1)) + 1;
        unsigned long long seen = 0;
        for (std::size_t i = 0; i < kBins; ++i) {
            seen += bins_[i];
            if (seen >= want) return (i + 0.5) / 10.0;
        }
        return (kBins - 1) / 10.0;
    }

  private:
    static constexpr std::size_t kBins = 50000;
    std::vector<unsigned> bins_ = std::vector<unsigned>(kBins, 0);
    unsigned long long count_ = 0;
};

// One request as a panel sends it.
struct Step {
    std::uint8_t fc = 3;
    std::uint16_t reg = 0;
    std::uint16_t word = 0;             // quantity of a read, value of FC 05 / 06
    std::vector<std::uint16_t> values;  // FC 16
};

Step Read(std::uint8_t fc, std::uint16_t reg, std::uint16_t qty) {
    return Step{fc, reg, qty, {}};
}
Step Write6(std::uint16_t reg, std::uint16_t value) {
    return Step{6, reg, value, {}};
}
Step Write16(std::uint16_t reg, std::vector<std::uint16_t> values) {
    return Step{16, reg, static_cast<std::uint16_t>(values.size()), std::move(values)};
}

// What this program has written, to be read back exactly.
struct Written {
    std::map<std::pair<int, int>, std::uint16_t> regs;  // (address, register)
    std::map<std::pair<int, int>, bool> coils;          // (address, coil)
};

// The requests of one round on a module, varied by the round number k so
// that over a run many values are written and read back.
std::vector<Step> Plan(std::uint8_t type, std::uint8_t address, unsigned k, const Written& w) {
    auto toggle = [&](unsigned ch) {
        const auto it = w.coils.find({address, static_cast<int>(ch)});
        const bool on = it == w.coils.end() ? true : !it->second;
        return Step{
            5, static_cast<std::uint16_t>(ch), static_cast<std::uint16_t>(on ? 0xFF00 : 0), {}};
    };
    const auto filter = static_cast<std::uint16_t>(100 + (k * 131u) % 9901u);  // 100-10000
    const auto pulse = static_cast<std::uint16_t>(2 + (k * 977u) % 65534u);    // 2-65535
    const auto counting = static_cast<std::uint16_t>(k % 2 == 0 ? 0x31 : 0x30);
    std::vector<Step> s{Read(3, 0, 3)};  // identity, first on every panel
    switch (type) {
        case 10:  // KELM-8I8T
            s.insert(s.end(),
                     {Read(2, 0, 8), toggle(k % 8), Read(1, 0, 8),
                      Write6(6, static_cast<std::uint16_t>((k * 37u) & 0xFF)), Read(3, 6, 2),
                      Write6(static_cast<std::uint16_t>(8 + k % 8), pulse), Read(3, 8, 16),
                      Write6(static_cast<std::uint16_t>(48 + k % 8), filter), Read(3, 48, 8),
                      Write6(static_cast<std::uint16_t>(56 + k % 8), counting), Read(3, 56, 24),
                      Read(3, 24, 24)});
            break;
        case 11:  // KELM-16I
            s.insert(s.end(),
                     {Read(2, 0, 16), Write6(static_cast<std::uint16_t>(6 + k % 16), filter),
                      Read(3, 6, 16), Write6(static_cast<std::uint16_t>(22 + k % 16), counting),
                      Read(3, 22, 48)});
            break;
        case 12:  // KELM-16T
            s.insert(s.end(),
                     {toggle(k % 16), Read(1, 0, 16),
                      Write6(6, static_cast<std::uint16_t>((k * 4099u) & 0xFFFF)), Read(3, 6, 2),
                      Write6(static_cast<std::uint16_t>(24 + k % 16), pulse), Read(3, 8, 32),
                      Read(3, 40, 48)});
            break;
        case 13:  // KELM-8RY
            s.insert(s.end(),
                     {toggle(k % 8), Read(1, 0, 8),
                      Write6(6, static_cast<std::uint16_t>((k * 53u) & 0xFF)), Read(3, 6, 1)});
            break;
        case 14:    // KELM-8AS
        case 15: {  // KELM-8ASP
            std::vector<std::uint16_t> modes(8);
            for (unsigned ch = 0; ch < 8; ++ch)
                modes[ch] = static_cast<std::uint16_t>(0x30 + ((k >> ch) & 1u));
            s.insert(s.end(), {Write16(6, modes), Read(3, 6, 8), Read(4, 0, 8)});
            break;
        }
        case 16: {  // KELM-8AD
            std::vector<std::uint16_t> modes(8);
            for (unsigned ch = 0; ch < 8; ++ch)
                modes[ch] = static_cast<std::uint16_t>(0x30 + (k + ch) % 8);
            s.insert(s.end(), {Write16(6, modes), Read(3, 6, 8), Read(4, 0, 12)});
            break;
        }
        case 17: {  // KELM-2AO
            const auto a = static_cast<std::uint16_t>(4000 + (k * 161u) % 16001u);
            const auto b = static_cast<std::uint16_t>((k * 313u) % 10001u);
            s.insert(s.end(), {Write16(6, {static_cast<std::uint16_t>(0x30 + k % 2),
                                           static_cast<std::uint16_t>(0x30 + (k / 2) % 2)}),
                               Write16(8, {a, b}), Read(3, 6, 4),
                               Write6(static_cast<std::uint16_t>(8 + k % 2),
                                      static_cast<std::uint16_t>(a / 2 + 1000)),
                               Read(3, 6, 4)});
            break;
        }
        default:
            break;
    }
    return s;
}

// The values a read carries: bits, registers, or (KELM-8AD analog data)
// 24-bit counts.
std::vector<std::int64_t> DecodeValues(std::uint8_t type, const Step& st,
                                       const std::vector<std::uint8_t>& data) {
    std::vector<std::int64_t> v;
    if (st.fc == 1 || st.fc == 2) {
        for (unsigned i = 0; i < st.word; ++i)
            v.push_back(i / 8 < data.size() ? (data[i / 8] >> (i % 8)) & 1 : -1);
    } else if (st.fc == 4 && type == 16) {
        for (std::size_t i = 0; i + 2 < data.size(); i += 3)
            v.push_back((data[i] << 16) | (data[i + 1] << 8) | data[i + 2]);
    } else {
        for (std::size_t i = 0; i + 1 < data.size(); i += 2)
            v.push_back((data[i] << 8) | data[i + 1]);
    }
    return v;
}

// The data bytes the module's state gives for a read at time t.
std::vector<std::uint8_t> StateData(const sim::SimModule& m, const Step& st, SimTime t) {
    std::vector<std::uint8_t> d;
    if (st.fc == 1 || st.fc == 2) {
        d.assign((st.word + 7u) / 8u, 0);
        for (unsigned i = 0; i < st.word; ++i) {
            const bool on = st.fc == 1 ? m.Coil(st.reg + i, t) : m.DiscreteInput(st.reg + i, t);
            if (on) d[i / 8] = static_cast<std::uint8_t>(d[i / 8] | (1u << (i % 8)));
        }
    } else {
        for (unsigned i = 0; i < st.word; ++i) {
            const std::uint16_t r =
                st.fc == 3 ? m.HoldingRegister(st.reg + i, t) : m.InputRegister(st.reg + i, t);
            d.push_back(static_cast<std::uint8_t>(r >> 8));
            d.push_back(static_cast<std::uint8_t>(r & 0xFF));
        }
    }
    return d;
}

double ThisThreadCpuMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

ByteString Echo(std::uint8_t address, const Step& st) {
    const std::uint16_t last = st.fc == 16 ? static_cast<std::uint16_t>(st.values.size()) : st.word;
    return {address,
            st.fc,
            static_cast<std::uint8_t>(st.reg >> 8),
            static_cast<std::uint8_t>(st.reg & 0xFF),
            static_cast<std::uint8_t>(last >> 8),
            static_cast<std::uint8_t>(last & 0xFF)};
}

std::string Hex(const ByteString& b) {
    std::string s;
    char buf[4];
    for (std::uint8_t c : b) {
        std::snprintf(buf, sizeof buf, "%02X ", c);
        s += buf;
    }
    return s;
}

struct Module {
    std::uint8_t type;
    std::uint8_t address;
    QTreeWidgetItem* node;
};

class Soak {
  public:
    Soak(TFMmain& w, sim::PtyServer& server, std::vector<Module> modules, double seconds,
         bool ascii)
        : w_(w), server_(server), modules_(std::move(modules)), seconds_(seconds), ascii_(ascii) {
        lostTimer_.setSingleShot(true);
        QObject::connect(&lostTimer_, &QTimer::timeout, [this] { OnLost(); });
        // Every reply handler is wrapped: the reply is judged here, then the
        // model's panel handles it as it would.
        for (ModulePanel* p : w_.Modules().All()) {
            if (!p) continue;
            w_.Master().SetReplyHandler(p->HandlerName(),
                                        [this, p](std::uint16_t Command, const Frame& Pbuf) {
                                            const bool answered = OnReply(Command, Pbuf);
                                            p->Event(Command, Pbuf);
                                            if (answered) AfterPanel();
                                        });
        }
    }

    // Notes when reply bytes arrive, then hands them on as the window does.
    void WatchDeliveries() {
        TOnReceived original = w_.ksComm1().OnAfterReceive();
        w_.ksComm1().SetOnAfterReceive(
            [this, original](TksBaseIO* Com, const std::uint8_t* Buffer, std::uint32_t Received) {
                const SimTime now = sim::PtyServer::Now();
                if (pending_ && firstRx_.count() == 0) firstRx_ = now;
                lastRx_ = now;
                if (original) original(Com, Buffer, Received);
            });
    }

    void Start() {
        WatchDeliveries();
        start_ = std::chrono::steady_clock::now();
        lastReport_ = start_;
        NextModule();
        QTimer::singleShot(0, [this] { SendNext(); });
    }

    bool Done() const { return done_; }
    // Called once the time is up.
    std::function<void()> onDone;
    bool WarmedUp() const { return rounds_ > 0; }

    long requests = 0, replies = 0, lost = 0, bad = 0, unsolicited = 0, followups = 0;
    Histogram latency;
    // The two parts of it: request handed over to the first reply bytes
    // delivered (line, module, component), and last bytes delivered to the
    // handler (the receiver's silence).
    Histogram toFirstBytes, silence;
    // Processor time spent judging replies (the benchmark's, not the program's).
    double judgeCpuMs = 0;
    std::optional<long> rssWarm;

  private:
    void NextModule() {
        if (!modules_.empty() && moduleIndex_ + 1 >= modules_.size()) {
            ++rounds_;
            if (!rssWarm) rssWarm = bench::RssKb();
        }
        moduleIndex_ = (moduleIndex_ + 1) % modules_.size();
        const Module& m = modules_[moduleIndex_];
        // Selecting the node is how the user steers: address, model, reset.
        w_.TreeView1->setCurrentItem(m.node);
        steps_ = Plan(m.type, m.address, rounds_, written_);
        stepIndex_ = 0;
    }

    void SendNext() {
        const auto now = std::chrono::steady_clock::now();
        if (std::chrono::duration<double>(now - start_).count() >= seconds_) {
            done_ = true;
            if (onDone) onDone();
            return;
        }
        if (now - lastReport_ >= std::chrono::seconds(60)) {
            lastReport_ = now;
            std::fprintf(stderr,
                         "[%.0f s] requests=%ld replies=%ld lost=%ld bad=%ld rss_kb=%ld "
                         "p99_ms=%.1f\n",
                         std::chrono::duration<double>(now - start_).count(), requests, replies,
                         lost, bad, bench::RssKb(), latency.Percentile(99));
        }
        if (stepIndex_ >= steps_.size()) NextModule();
        pending_ = steps_[stepIndex_++];
        sentAt_ = sim::PtyServer::Now();
        firstRx_ = SimTime{0};
        ++requests;
        ModbusMaster& master = w_.Master();
        if (pending_->fc == 16) {
            ByteString data;
            for (std::uint16_t v : pending_->values) {
                data.push_back(static_cast<std::uint8_t>(v >> 8));
                data.push_back(static_cast<std::uint8_t>(v & 0xFF));
            }
            master.Modbus_Send_Buf(16, pending_->reg,
                                   static_cast<std::uint8_t>(pending_->values.size()),
                                   static_cast<std::uint8_t>(data.size()), data);
        } else {
            master.Modbus_Send_oneWord(pending_->fc, pending_->reg, pending_->word);
        }
        expectRegAddr_ = master.State().Modbus_Reg_Addr;
        lostTimer_.start(kLostAfterMs);
    }

    void OnLost() {
        if (!pending_) return;
        ++lost;
        const Module& m = modules_[moduleIndex_];
        if (lost <= 20)
            std::fprintf(stderr, "lost: module %u FC %02u @%u\n", m.address, pending_->fc,
                         pending_->reg);
        pending_.reset();
        SendNext();
    }

    // Judges a reply; false when it answers no request of ours.
    bool OnReply(std::uint16_t Command, const Frame& Pbuf) {
        const SimTime heardAt = sim::PtyServer::Now();
        if (!pending_) {
            ++unsolicited;
            ++bad;
            std::fprintf(stderr, "unsolicited reply: %s\n", Hex(Pbuf.bytes()).c_str());
            return false;
        }
        lostTimer_.stop();
        ++replies;
        using Ms = std::chrono::duration<double, std::milli>;
        latency.Add(Ms(heardAt - sentAt_).count());
        if (firstRx_.count() != 0) {
            toFirstBytes.Add(Ms(firstRx_ - sentAt_).count());
            silence.Add(Ms(heardAt - lastRx_).count());
        }
        const Module& m = modules_[moduleIndex_];
        std::string why;
        const double cpu0 = ThisThreadCpuMs();
        const bool good = Judge(m, *pending_, Command, Pbuf, heardAt, &why);
        judgeCpuMs += ThisThreadCpuMs() - cpu0;
        if (!good) {
            ++bad;
            if (bad <= 20)
                std::fprintf(stderr, "bad reply from %u to FC %02u @%u: %s (%s)\n", m.address,
                             pending_->fc, pending_->reg, why.c_str(), Hex(Pbuf.bytes()).c_str());
        }
        pending_.reset();
        return true;
    }

    void AfterPanel() {
        // A panel that sent a request of its own from its handler would make
        // its reply collide with the next one of ours; say so.
        if (w_.Master().State().Modbus_Reg_Addr != expectRegAddr_) ++followups;
        QTimer::singleShot(0, [this] { SendNext(); });
    }

    bool Judge(const Module& m, const Step& st, std::uint16_t Command, const Frame& Pbuf,
               SimTime heardAt, std::string* why) {
        if (Command != st.fc || Pbuf[0] != m.address) {
            *why = "address or function code";
            return false;
        }
        const std::size_t checkPlace = ascii_ ? 1 : 0;
        if (checkPlace != 0 && Pbuf[Pbuf.size() - 1] != 0) {
            *why = "the check's place is not 0";
            return false;
        }
        if (st.fc == 5 || st.fc == 6 || st.fc == 16) {
            const ByteString echo = Echo(m.address, st);
            if (Pbuf.size() != echo.size() + checkPlace ||
                !std::equal(echo.begin(), echo.end(), Pbuf.bytes().begin())) {
                *why = "echo";
                return false;
            }
            return Landed(m, st, heardAt, why);
        }
        const std::size_t count = st.fc <= 2 ? (st.word + 7u) / 8u : 2u * st.word;
        if (Pbuf[2] != count || Pbuf.size() != 3 + count + checkPlace) {
            *why = "byte count or length";
            return false;
        }
        const std::vector<std::uint8_t> data(Pbuf.bytes().begin() + 3,
                                             Pbuf.bytes().begin() + 3 + static_cast<long>(count));
        const std::vector<std::int64_t> got = DecodeValues(m.type, st, data);
        // The module's state over the time the reply can have been made in.
        std::vector<std::vector<std::int64_t>> samples;
        server_.WithBus([&](sim::SimBus& bus) {
            const sim::SimModule* mod = bus.Find(m.address);
            if (!mod) return;
            for (SimTime t = sentAt_;; t += SimTime{1000}) {
                if (t > heardAt) t = heardAt;
                samples.push_back(DecodeValues(m.type, st, StateData(*mod, st, t)));
                if (t == heardAt) break;
            }
        });
        if (samples.empty()) {
            *why = "no such module";
            return false;
        }
        for (std::size_t i = 0; i < got.size(); ++i) {
            std::int64_t lo = samples[0][i], hi = lo, step = 0;
            for (std::size_t s = 1; s < samples.size(); ++s) {
                lo = std::min(lo, samples[s][i]);
                hi = std::max(hi, samples[s][i]);
                step = std::max<std::int64_t>(step, std::llabs(samples[s][i] - samples[s - 1][i]));
            }
            if (got[i] < lo - step || got[i] > hi + step) {
                *why = "value " + std::to_string(i) + " is " + std::to_string(got[i]) +
                       ", the module held " + std::to_string(lo) + ".." + std::to_string(hi);
                return false;
            }
            // What this program wrote reads back as written.
            if (st.fc == 3) {
                const auto it = written_.regs.find({m.address, st.reg + static_cast<int>(i)});
                if (it != written_.regs.end() && got[i] != it->second) {
                    *why = "register " + std::to_string(st.reg + i) + " reads " +
                           std::to_string(got[i]) + ", written " + std::to_string(it->second);
                    return false;
                }
            } else if (st.fc == 1) {
                const auto it = written_.coils.find({m.address, st.reg + static_cast<int>(i)});
                if (it != written_.coils.end() && got[i] != (it->second ? 1 : 0)) {
                    *why = "coil " + std::to_string(st.reg + i) + " reads back wrong";
                    return false;
                }
            }
        }
        return true;
    }

    // A confirmed write must be what the module now holds.
    bool Landed(const Module& m, const Step& st, SimTime at, std::string* why) {
        std::vector<std::pair<int, std::uint16_t>> regs;
        if (st.fc == 6) regs.push_back({st.reg, st.word});
        if (st.fc == 16)
            for (std::size_t i = 0; i < st.values.size(); ++i)
                regs.push_back({st.reg + static_cast<int>(i), st.values[i]});
        bool ok = true;
        server_.WithBus([&](sim::SimBus& bus) {
            const sim::SimModule* mod = bus.Find(m.address);
            if (!mod) {
                ok = false;
                return;
            }
            if (st.fc == 5) {
                const bool on = st.word == 0xFF00;
                ok = mod->Coil(st.reg, at) == on;
                written_.coils[{m.address, st.reg}] = on;
                return;
            }
            for (const auto& [reg, value] : regs) {
                if (mod->HoldingRegister(static_cast<unsigned>(reg), at) != value) ok = false;
                written_.regs[{m.address, reg}] = value;
            }
        });
        if (!ok) *why = "the write did not land";
        return ok;
    }

    TFMmain& w_;
    sim::PtyServer& server_;
    std::vector<Module> modules_;
    double seconds_;
    // An ASCII reply reaches the handler with the LRC's position as a 0 byte.
    bool ascii_;
    std::size_t moduleIndex_ = static_cast<std::size_t>(-1);
    std::vector<Step> steps_;
    std::size_t stepIndex_ = 0;
    unsigned rounds_ = 0;
    Written written_;
    std::optional<Step> pending_;
    SimTime sentAt_{0};
    SimTime firstRx_{0};
    SimTime lastRx_{0};
    std::uint16_t expectRegAddr_ = 0;
    QTimer lostTimer_;
    std::chrono::steady_clock::time_point start_, lastReport_;
    bool done_ = false;
};

void RunUntil(const std::function<bool()>& cond, int timeoutMs) {
    bench::RunUntil(cond, timeoutMs, 50);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 60;
    bool ascii = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--ascii") == 0) {
            ascii = true;
        } else {
            std::fprintf(stderr, "usage: bench-soak [--seconds N] [--ascii]\n");
            return 2;
        }
    }
    if (seconds <= 0) seconds = 60;
    bench::WindowRun run(argc, argv);
    if (!run.Valid()) return 1;

    std::vector<sim::ModuleConfig> bus = sim::DemoModules();
    if (ascii)
        for (sim::ModuleConfig& c : bus) c.protocol = sim::Protocol::Ascii;
    auto server = bench::PublishedBus("bench-soak", kCom, bus, std::chrono::milliseconds(0));
    if (!server) return 1;
    // The simulator's loop on a thread of ours, so its processor time can be
    // told apart from the program's.
    std::thread simThread([&] { server->Run(); });

    int rc = 0;
    {
        // Write confirmations pop up information boxes: counted, answered OK.
        bench::CountingBoxes boxes(/*answer=*/true);
        TFMmain w(&boxes, /*watchDevices=*/true);
        w.show();
        QTreeWidgetItem* port = bench::PortNode("bench-soak", w, kCom);
        if (!port) {
            server->Stop();
            simThread.join();
            return 1;
        }
        // The demo bus as a scan lists it.
        const std::vector<QTreeWidgetItem*> nodes =
            bench::AddModuleNodes(port, bus, /*withChannels=*/true);
        std::vector<Module> modules;
        for (std::size_t i = 0; i < bus.size(); ++i)
            if (nodes[i]) modules.push_back({bus[i].typeCode, bus[i].address, nodes[i]});
        w.TreeView1->setCurrentItem(port);
        if (ascii) {
            // Chosen as the user does, so the data bits follow.
            w.PnlComset()->Cmb_comXY->setCurrentIndex(1);
            emit w.PnlComset()->Cmb_comXY->activated(1);
        }
        QCoreApplication::processEvents();
        const auto start = bench::RestingCounts::Take();
        const int fdsStart = start.fds;
        const int threadsStart = start.threads;

        w.PnlComset()->Sbtn_com_open->click();
        if (!w.ksComm1().Active()) {
            std::fprintf(stderr, "bench-soak: COM%u did not open\n", kCom);
            server->Stop();
            simThread.join();
            return 1;
        }
        const double cpu0 = bench::ProcessCpuMs();
        const double sim0 = bench::ThreadCpuMs(simThread.native_handle());
        Soak soak(w, *server, modules, seconds, ascii);
        QEventLoop polling;
        soak.onDone = [&] { polling.quit(); };
        soak.Start();
        polling.exec();
        const long rssEnd = bench::RssKb();
        const double cpu = bench::ProcessCpuMs() - cpu0;
        const double simCpu = bench::ThreadCpuMs(simThread.native_handle()) - sim0;

        w.TreeView1->setCurrentItem(port);
        w.PnlComset()->Sbtn_com_open->click();  // close
        RunUntil([] { return false; }, 300);
        const auto end = bench::RestingCounts::Settled(start, 10000);
        const int fdsEnd = end.fds;
        const int threadsEnd = end.threads;
        if (fdsEnd != fdsStart || threadsEnd != threadsStart)
            std::fprintf(stderr, "left after the close:\n%s",
                         end.snapshot.DiffFrom(start.snapshot).c_str());

        bench::Put("soak_requests", soak.requests);
        bench::Put("soak_replies", soak.replies);
        bench::Put("soak_lost", soak.lost);
        bench::Put("soak_bad", soak.bad);
        bench::Put("rss_start_kb", soak.rssWarm.value_or(rssEnd));
        bench::Put("rss_end_kb", rssEnd);
        bench::Put("fds_start", fdsStart);
        bench::Put("fds_end", fdsEnd);
        bench::Put("threads_start", threadsStart);
        bench::Put("threads_end", threadsEnd);
        bench::Put("cpu_ms", cpu - simCpu - soak.judgeCpuMs, 0);
        bench::Put("reply_p50_ms", soak.latency.Percentile(50), 1);
        bench::Put("reply_p99_ms", soak.latency.Percentile(99), 1);
        std::fprintf(stderr,
                     "to_first_bytes_p50_ms=%.1f to_first_bytes_p99_ms=%.1f "
                     "silence_p50_ms=%.1f silence_p99_ms=%.1f\n",
                     soak.toFirstBytes.Percentile(50), soak.toFirstBytes.Percentile(99),
                     soak.silence.Percentile(50), soak.silence.Percentile(99));
        std::fprintf(
            stderr,
            "sim_cpu_ms=%.0f judge_cpu_ms=%.0f boxes=%ld unsolicited=%ld panel_followups=%ld "
            "dropped_frames=%llu unrouted_frames=%llu\n",
            simCpu, soak.judgeCpuMs, boxes.shown, soak.unsolicited, soak.followups,
            static_cast<unsigned long long>(w.Master().DroppedFrames()),
            static_cast<unsigned long long>(w.Master().UnroutedFrames()));
        if (soak.lost != 0 || soak.bad != 0) rc = 3;
    }
    server->Stop();
    simThread.join();
    VirtualPortDir::Unpublish(kCom);
    return rc;
}
