// kelm watch: reads what is named again and again, one line per reading
// with its time, as text, JSON lines or CSV rows; Ctrl-C ends it after the
// last complete line.
#include <chrono>
#include <csignal>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

#include "Items.h"

namespace kelm::cli {

namespace m = kelm::models;

namespace {

struct WatchOptions {
    LineOptions line;
    std::string model;
    std::vector<std::string> names;
    int intervalMs = 0;
    long long count = 0;
    std::string csv;
};

volatile std::sig_atomic_t g_stop = 0;
extern "C" void OnStopSignal(int) {
    g_stop = 1;
}

// "2026-12-09T19:45:01.123Z"
std::string IsoTime(std::chrono::system_clock::time_point t) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
#ifdef _WIN32
    gmtime_s(&tm, &secs);
#else
    gmtime_r(&secs, &tm);
#endif
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms % 1000));
    return buf;
}

struct Column {
    const m::Item* item;
    int channel;
};

std::vector<Column> ColumnsOf(const std::vector<Selection>& sel) {
    std::vector<Column> cols;
    for (const auto& s : sel) {
        if (s.channel >= 0) {
            cols.push_back({s.item, s.channel});
        } else {
            for (int ch = 0; ch < s.item->channels; ++ch) cols.push_back({s.item, ch});
        }
    }
    return cols;
}

const bus::ChannelValue& ValueOf(const std::vector<bus::ItemReading>& readings, const Column& c) {
    for (const auto& r : readings) {
        if (r.item == c.item) return r.channels.at(static_cast<std::size_t>(c.channel));
    }
    throw Failure{kExitModule, "no reading of " + std::string(c.item->key)};
}

std::string CsvField(const std::string& s) {
    if (s.find_first_of(",\"\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char ch : s) {
        if (ch == '"') out += '"';
        out += ch;
    }
    return out + "\"";
}

// Waits until `until` or a stop signal, in short steps so that Ctrl-C ends
// the wait at once.
void WaitUntil(std::chrono::steady_clock::time_point until) {
    while (!g_stop && std::chrono::steady_clock::now() < until) {
        const auto left = until - std::chrono::steady_clock::now();
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(20)));
    }
}

}  // namespace

Command AddWatchCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "watch",
        "read the items named again and again, one line per reading with its ISO 8601 time "
        "(UTC), as text, JSON lines (--json) or CSV rows appended to a file (--csv); Ctrl-C "
        "ends it after the last complete line");
    auto o = std::make_shared<WatchOptions>();
    AddLineOptions(cmd, o->line, true);
    AddModelOption(cmd, o->model);
    cmd->add_option("items", o->names,
                    "items to read (di, ai, do3, ai2, di_count, ...); all when none is named");
    cmd->add_option("--interval", o->intervalMs,
                    "milliseconds from the start of one reading to the next (default 0: as "
                    "fast as the line allows)")
        ->check(CLI::Range(0, 86400000));
    cmd->add_option("--count", o->count, "stop after this many readings (default 0: until Ctrl-C)")
        ->check(CLI::Range(0LL, 1000000000000LL));
    cmd->add_option("--csv", o->csv,
                    "append one CSV row per reading to FILE (with a header of channel names and "
                    "units when the file is new or empty), flushed row by row");
    return {
        cmd, [o]() {
            if (!o->model.empty()) {
                const m::Model* given = ModelByName(o->model);
                if (!given)
                    throw Failure{kExitUsage,
                                  "no model \"" + o->model + "\" (" + ModelNames() + ")"};
                SelectionsOf(*given, o->names);
            }
            std::ofstream csv;
            if (!o->csv.empty()) {
                csv.open(o->csv, std::ios::app | std::ios::binary);
                if (!csv) throw Failure{kExitUsage, "cannot open " + o->csv + " for appending"};
            }
            bus::BusClient client;
            OpenLine(client, o->line);
            const m::Model& model = ResolveModel(client, o->line, o->model);
            const auto sel = SelectionsOf(model, o->names);
            const auto cols = ColumnsOf(sel);
            bus::ItemIo io(client, model, static_cast<std::uint8_t>(o->line.address),
                           RequestOf(o->line, 1));

            // The modes that convert analog values are read once, not
            // with every reading.
            std::optional<bus::Modes> modes;
            bool analog = false;
            for (const auto& s : sel) analog = analog || s.item->key == model.valueKey;
            if (analog && !model.modeKey.empty()) {
                const m::Item* modeItem = m::FindItem(model, model.modeKey);
                const m::Item* items[] = {modeItem};
                std::vector<bus::ItemReading> r;
                const bus::IoStatus s = io.Read(items, r);
                if (!s.ok()) ThrowIo(s);
                bus::Modes ms;
                for (const auto& v : r[0].channels) ms.push_back(modeItem->ChoiceIndex(v.raw));
                modes = ms;
            }

            g_stop = 0;
            std::signal(SIGINT, OnStopSignal);
            std::signal(SIGTERM, OnStopSignal);
            const auto interval = std::chrono::milliseconds(o->intervalMs);
            bool headerDone = false;
            long long n = 0;
            auto next = std::chrono::steady_clock::now();
            while (!g_stop && (o->count == 0 || n < o->count)) {
                if (n > 0 && o->intervalMs > 0) WaitUntil(next);
                if (g_stop) break;
                next = std::chrono::steady_clock::now() + interval;
                const auto when = std::chrono::system_clock::now();
                const auto readings = ReadSelections(io, sel, modes);
                const std::string time = IsoTime(when);
                if (csv.is_open()) {
                    if (!headerDone) {
                        csv.seekp(0, std::ios::end);
                        if (csv.tellp() == std::streampos(0)) {
                            std::string h = "time";
                            for (const auto& c : cols) {
                                const std::string unit = UnitText(*c.item, ValueOf(readings, c));
                                h += "," + CsvField(ChannelKey(*c.item, c.channel) +
                                                    (unit.empty() ? "" : " [" + unit + "]"));
                            }
                            csv << h << '\n';
                        }
                        headerDone = true;
                    }
                    std::string row = time;
                    for (const auto& c : cols)
                        row += "," + CsvField(ValueText(*c.item, ValueOf(readings, c)));
                    csv << row << '\n';
                    csv.flush();
                    if (!csv) throw Failure{kExitPort, "cannot write to " + o->csv};
                }
                if (o->line.json) {
                    std::cout << ReadingsJson(sel, readings, Json{{"time", time}}).dump() << '\n';
                } else if (!csv.is_open()) {
                    std::string line = time;
                    for (const auto& c : cols) {
                        const auto& v = ValueOf(readings, c);
                        const std::string unit = UnitText(*c.item, v);
                        line += '\t' + ChannelKey(*c.item, c.channel) + '=' +
                                ValueText(*c.item, v) + (unit.empty() ? "" : " " + unit);
                    }
                    std::cout << line << '\n';
                }
                std::cout.flush();
                ++n;
            }
            return kExitOk;
        }};
}

}  // namespace kelm::cli
