// kelm backup, restore, clone and provision: a module's configuration into
// a file and back, from one module into another, and the commissioning of
// new modules from a plan. Communication parameters are written last and
// only after every other setting was read back equal.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "Common.h"
#include "config/ConfigFile.h"
#include "config/ModuleIo.h"
#include "config/Provision.h"
#include "modbus/CommFormats.h"

namespace kelm::cli {

namespace {

using config::ModuleConfig;

std::string UtcNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
#ifdef _WIN32
    gmtime_s(&tm, &t);
#else
    gmtime_r(&t, &tm);
#endif
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

bool StdinIsTerminal() {
#ifdef _WIN32
    return _isatty(0) != 0;
#else
    return ::isatty(0) != 0;
#endif
}

int StatusOf(config::IoFailure f) {
    switch (f) {
        case config::IoFailure::NoReply:
            return kExitNoReply;
        case config::IoFailure::PortLost:
            return kExitPort;
        default:
            return kExitModule;
    }
}

ModuleConfig ReadModule(bus::BusClient& client, int address, const bus::RequestOptions& req) {
    config::IoError error;
    auto c = config::ReadConfig(client, address, req, UtcNow(), &error);
    if (!c) throw Failure{StatusOf(error.failure), error.message};
    return std::move(*c);
}

// Writes the file whole or not at all: a failed write leaves no half file.
void WriteFileAtomically(const std::string& path, const std::string& text) {
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            std::error_code ec;
            std::filesystem::remove(tmp, ec);
            throw Failure{kExitUsage, "cannot write " + path};
        }
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    if (ec) {
        std::filesystem::remove(tmp, ec);
        throw Failure{kExitUsage, "cannot write " + path + ": " + ec.message()};
    }
}

ModuleConfig LoadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure{kExitUsage, path + ": cannot be read"};
    std::ostringstream text;
    text << in.rdbuf();
    std::string error;
    auto c = config::ParseConfig(text.str(), &error);
    if (!c) throw Failure{kExitUsage, path + ": " + error + "; nothing was sent"};
    return std::move(*c);
}

void RequireSameModel(const ModuleConfig& module, const ModuleConfig& wanted, int address,
                      const std::string& source) {
    if (module.model != wanted.model) {
        throw Failure{kExitUsage, source + ": model: the configuration is for " +
                                      std::string(wanted.model->name) + ", the module at address " +
                                      std::to_string(address) + " is a " +
                                      std::string(module.model->name) + "; nothing was written"};
    }
}

void PrintDiff(std::ostream& out, const ModuleConfig& current, const ModuleConfig& wanted,
               bool withComm, const char* commNote = "[not written without --with-comm]") {
    const auto changes = config::Diff(current, wanted);
    if (changes.empty()) {
        out << "no differences\n";
        return;
    }
    for (const auto& c : changes) {
        out << "change " << config::DescribeChange(c);
        if (config::IsCommItem(*c.item) && !withComm) out << ' ' << commNote;
        out << '\n';
    }
}

// Runs the plan and reports; throws the failure with what was and was not
// written.
config::RestoreResult RunRestore(bus::BusClient& client, int address, const ModuleConfig& current,
                                 const ModuleConfig& wanted, bool withComm,
                                 const bus::RequestOptions& req) {
    std::string error;
    auto plan = config::PlanRestore(current, wanted, withComm, &error);
    if (!plan) throw Failure{kExitUsage, error + "; nothing was written"};
    auto result = config::ExecuteRestore(client, address, wanted, *plan, req);
    std::cout << config::DescribeResult(result, wanted);
    if (!result.ok) {
        int verified = 0;
        int other = 0;
        for (const auto& s : result.steps) {
            (s.state == config::StepState::Verified ? verified : other)++;
        }
        throw Failure{StatusOf(result.error.failure),
                      result.error.message + "; " + std::to_string(verified) +
                          " write(s) verified, " + std::to_string(other) +
                          " not (see the list above); the communication parameters were " +
                          (std::any_of(result.steps.begin(), result.steps.end(),
                                       [](const auto& s) {
                                           return s.step.comm &&
                                                  s.state != config::StepState::NotWritten;
                                       })
                               ? "sent"
                               : "not written")};
    }
    return result;
}

struct BackupOptions {
    LineOptions line;
    std::string output;
};

struct RestoreOptions {
    LineOptions line;
    std::string file;
    bool dryRun = false;
    bool withComm = false;
};

struct CloneOptions {
    LineOptions line;
    int to = 0;
    std::string output;
    bool dryRun = false;
};

struct ProvisionOptions {
    LineOptions line;
    std::string plan;
    std::string report;
    bool yes = false;
    int waitSeconds = 600;
};

std::string SettingsText(int address, int format, int letter) {
    const bool ascii = letter == kProtocolLetterAscii;
    return "address " + std::to_string(address) + ", " + CommFormatLabel(format, ascii) + " " +
           (ascii ? "ASCII" : "RTU");
}

// A module found at setting: its address and line.
struct Found {
    int address = 0;
    bus::LineSettings line;
};

// How long a reply's end is watched for a second module's reply.
constexpr std::chrono::milliseconds kSecondReplyWait{60};

// Looks once for a module at the factory setting (the line and address of
// the options). Throws when more than one answers.
std::optional<Found> LookAtFactory(bus::BusClient& client, const LineOptions& o,
                                   const bus::RequestOptions& req) {
    client.SetLine(LineOf(o));
    const auto r =
        client.Transact(ReadRegistersBody(static_cast<std::uint8_t>(o.address), 3, 3), req);
    if (r.outcome == bus::Outcome::PortLost) RequireReply(r, "", client.Line());
    bool several = r.strayBytes > 0;
    if (r.outcome == bus::Outcome::Reply) {
        // A second module at the same address answers too: on a wire the
        // replies garble each other (stray bytes), on a line that keeps them
        // apart the second one follows the first.
        const auto before = client.DiscardedBytes();
        client.Settle(kSecondReplyWait);
        several = r.extraBytes > 0 || client.DiscardedBytes() > before;
        if (!several) return Found{o.address, client.Line()};
    }
    if (r.outcome == bus::Outcome::Exception) RequireReply(r, "the new module", client.Line());
    if (several) {
        throw Failure{kExitModule, "more than one module answers at address " +
                                       std::to_string(o.address) + ", " +
                                       DescribeLine(client.Line()) +
                                       ": connect the new modules one at a time"};
    }
    return std::nullopt;
}

// The link check: with the module alone on the line, every format in both
// protocols through the broadcast read of registers 3-5.
std::optional<Found> LinkCheck(bus::BusClient& client, const LineOptions& o,
                               const bus::RequestOptions& req) {
    const auto body = ReadRegistersBody(0, 3, 3);
    for (auto p : {bus::WireProtocol::Rtu, bus::WireProtocol::Ascii}) {
        for (int code = 0; code < kCommFormatCount; ++code) {
            auto line = *bus::LineOfFormatCode(code, p);
            line.rs485 = o.rs485;
            client.SetLine(line);
            const auto r = client.Transact(body, req);
            if (r.outcome == bus::Outcome::PortLost) RequireReply(r, "", line);
            if (r.outcome == bus::Outcome::Timeout && r.strayBytes > 0) {
                throw Failure{kExitModule, "more than one module answers at " + DescribeLine(line) +
                                               ": connect the new modules one at a time"};
            }
            if (r.outcome != bus::Outcome::Reply) continue;
            const auto regs = RegistersOf(r.body);
            if (regs.size() < 3 || regs[1] < 1 || regs[1] > 247) continue;
            return Found{regs[1], line};
        }
    }
    return std::nullopt;
}

void AppendReport(const std::string& path, const config::ReportLine& line) {
    if (path.empty()) return;
    std::error_code ec;
    const bool fresh =
        !std::filesystem::exists(path, ec) || std::filesystem::file_size(path, ec) == 0;
    std::ofstream out(path, std::ios::binary | std::ios::app);
    if (fresh) out << config::ReportHeader() << '\n';
    out << config::FormatReportLine(line) << '\n';
    out.flush();
    if (!out) std::cerr << "kelm: cannot append to the report " << path << '\n';
}

}  // namespace

Command AddBackupCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "backup", "read a module's configuration into a file (standard output without -o)");
    auto o = std::make_shared<BackupOptions>();
    AddLineOptions(cmd, o->line, true);
    cmd->add_option("-o,--output", o->output, "the configuration file to write");
    return {cmd, [o]() {
                bus::BusClient client;
                OpenLine(client, o->line);
                const auto c = ReadModule(client, o->line.address, RequestOf(o->line, 1));
                const auto text = config::ToJson(c);
                if (o->output.empty()) {
                    std::cout << text;
                } else {
                    WriteFileAtomically(o->output, text);
                    std::cerr << "kelm: " << c.model->name << " at address " << o->line.address
                              << " saved to " << o->output << '\n';
                }
                return kExitOk;
            }};
}

Command AddRestoreCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "restore",
        "write a configuration file into a module of the same model: prints what changes, "
        "writes the channel settings, reads them back, and with --with-comm writes the "
        "communication parameters last");
    auto o = std::make_shared<RestoreOptions>();
    AddLineOptions(cmd, o->line, true);
    cmd->add_option("FILE", o->file, "the configuration file")->required();
    cmd->add_flag("--dry-run", o->dryRun, "print what would change and stop");
    cmd->add_flag("--with-comm", o->withComm,
                  "also write the file's address, serial format and protocol (last)");
    return {cmd, [o]() {
                const auto wanted = LoadFile(o->file);
                bus::BusClient client;
                OpenLine(client, o->line);
                const auto req = RequestOf(o->line, 1);
                const auto current = ReadModule(client, o->line.address, req);
                RequireSameModel(current, wanted, o->line.address, o->file);
                PrintDiff(std::cout, current, wanted, o->withComm);
                if (o->dryRun) return kExitOk;
                RunRestore(client, o->line.address, current, wanted, o->withComm, req);
                return kExitOk;
            }};
}

Command AddCloneCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "clone",
        "copy the configuration of the module at --address into the module at --to on the "
        "same line (the target keeps its own address, serial format and protocol)");
    auto o = std::make_shared<CloneOptions>();
    AddLineOptions(cmd, o->line, true);
    cmd->add_option("--to", o->to, "the address of the module to configure, 1-247")
        ->required()
        ->check(CLI::Range(1, 247));
    cmd->add_option("-o,--output", o->output, "also save the source's configuration here");
    cmd->add_flag("--dry-run", o->dryRun, "print what would change and stop");
    return {cmd, [o]() {
                if (o->to == o->line.address)
                    throw Failure{kExitUsage, "--to names the source module itself"};
                bus::BusClient client;
                OpenLine(client, o->line);
                const auto req = RequestOf(o->line, 1);
                const auto source = ReadModule(client, o->line.address, req);
                if (!o->output.empty()) WriteFileAtomically(o->output, config::ToJson(source));
                const auto target = ReadModule(client, o->to, req);
                RequireSameModel(target, source, o->to,
                                 "module " + std::to_string(o->line.address));
                PrintDiff(std::cout, target, source, false, "[the target keeps its own]");
                if (o->dryRun) return kExitOk;
                RunRestore(client, o->to, target, source, false, req);
                return kExitOk;
            }};
}

Command AddProvisionCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "provision",
        "commission new modules one after another from a CSV plan (address, baud, parity, "
        "protocol, configuration file, label): find each at the factory setting, write its "
        "row, verify, report");
    auto o = std::make_shared<ProvisionOptions>();
    AddLineOptions(cmd, o->line, true);
    cmd->get_option("--address")->description("the new modules' address (factory setting 1)");
    cmd->add_option("PLAN", o->plan, "the plan, one CSV row per module")->required();
    cmd->add_option("--report", o->report, "append one CSV line per module to this file");
    cmd->add_flag("-y,--yes", o->yes,
                  "do not ask: wait for each new module to answer at the factory setting");
    cmd->add_option("--wait", o->waitSeconds,
                    "with --yes: how long to wait for each module, in seconds (default 600)")
        ->check(CLI::Range(1, 86400));
    return {cmd, [o]() {
                std::ifstream in(o->plan, std::ios::binary);
                if (!in) throw Failure{kExitUsage, o->plan + ": cannot be read"};
                std::ostringstream text;
                text << in.rdbuf();
                std::string error;
                const auto rows = config::ParsePlan(text.str(), &error);
                if (!rows) throw Failure{kExitUsage, o->plan + ": " + error + "; nothing was sent"};
                // Every file is checked before the first module is touched.
                std::vector<std::optional<ModuleConfig>> files;
                const auto planDir = std::filesystem::path(o->plan).parent_path();
                for (const auto& row : *rows) {
                    if (row.configFile.empty()) {
                        files.emplace_back();
                        continue;
                    }
                    auto path = std::filesystem::path(row.configFile);
                    if (path.is_relative() && !std::filesystem::exists(path)) path = planDir / path;
                    files.emplace_back(LoadFile(path.string()));
                }
                if (!o->yes && !StdinIsTerminal())
                    throw Failure{kExitUsage,
                                  "provision asks for each module on a terminal; give --yes to "
                                  "wait for each one instead; nothing was sent"};
                bus::BusClient client;
                OpenLine(client, o->line);
                const auto req = RequestOf(o->line, 1);
                auto quick = req;
                quick.retries = 0;
                int done = 0;
                for (std::size_t i = 0; i < rows->size(); ++i) {
                    const auto& row = (*rows)[i];
                    const std::string name =
                        row.label.empty() ? "address " + std::to_string(row.address) : row.label;
                    std::optional<Found> found;
                    if (o->yes) {
                        std::cerr << "kelm: waiting for the module for " << name << " at "
                                  << DescribeLine(LineOf(o->line)) << ", address "
                                  << o->line.address << '\n';
                        const auto deadline =
                            std::chrono::steady_clock::now() + std::chrono::seconds(o->waitSeconds);
                        while (!(found = LookAtFactory(client, o->line, quick))) {
                            if (std::chrono::steady_clock::now() > deadline)
                                throw Failure{kExitNoReply,
                                              "no new module appeared for " + name + " (row " +
                                                  std::to_string(row.lineNumber) + "); " +
                                                  std::to_string(done) + " module(s) done"};
                            client.Settle(std::chrono::milliseconds(200));
                        }
                    } else {
                        std::cerr << "Connect the module for " << name
                                  << " alone (or as the only new one), then press Enter: "
                                  << std::flush;
                        std::string answer;
                        if (!std::getline(std::cin, answer))
                            throw Failure{kExitUsage, "stopped before " + name + "; " +
                                                          std::to_string(done) + " module(s) done"};
                        found = LookAtFactory(client, o->line, req);
                        if (!found) found = LinkCheck(client, o->line, quick);
                        if (!found)
                            throw Failure{kExitNoReply,
                                          "no module answers, neither at the factory setting "
                                          "nor in any format; " +
                                              std::to_string(done) + " module(s) done"};
                    }
                    client.SetLine(found->line);
                    config::ReportLine report;
                    report.label = row.label;
                    try {
                        const auto current = ReadModule(client, found->address, req);
                        report.model = std::string(current.model->name);
                        report.hardware = Hex2(current.identity.hardware);
                        report.software = Hex2(current.identity.software);
                        report.oldSettings =
                            SettingsText(current.identity.address, current.identity.format,
                                         current.identity.protocolLetter);
                        ModuleConfig wanted = files[i] ? *files[i] : current;
                        if (files[i])
                            RequireSameModel(current, wanted, found->address, row.configFile);
                        const int format = *bus::FormatCodeOf(row.line);
                        const int letter = row.line.protocol == bus::WireProtocol::Ascii
                                               ? kProtocolLetterAscii
                                               : kProtocolLetterRtu;
                        report.newSettings = SettingsText(row.address, format, letter);
                        auto put = [&](std::string_view key, std::uint32_t v) {
                            for (auto& s : wanted.settings) {
                                if (s.item->key == key) {
                                    s.values = {v};
                                    return;
                                }
                            }
                            wanted.settings.push_back({models::FindIdentityItem(key), {v}});
                        };
                        put("com_format", static_cast<std::uint32_t>(format));
                        put("address", static_cast<std::uint32_t>(row.address));
                        put("protocol", static_cast<std::uint32_t>(letter));
                        std::cout << "module for " << name << ": " << current.model->name << ' '
                                  << report.hardware << '/' << report.software << ", "
                                  << report.oldSettings << " -> " << report.newSettings << '\n';
                        RunRestore(client, found->address, current, wanted, true, req);
                    } catch (const Failure& f) {
                        report.time = UtcNow();
                        report.result = "failed: " + f.message;
                        AppendReport(o->report, report);
                        throw Failure{f.status, "module for " + name + ": " + f.message + "; " +
                                                    std::to_string(done) +
                                                    " earlier module(s) done, the rest not "
                                                    "started"};
                    }
                    report.time = UtcNow();
                    report.result = "ok";
                    AppendReport(o->report, report);
                    ++done;
                    std::cout << "module for " << name << ": done\n";
                }
                return kExitOk;
            }};
}

}  // namespace kelm::cli
