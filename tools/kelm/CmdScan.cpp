// kelm scan: polls every address of a range with an identity read.
#include <iostream>
#include <memory>
#include <string>

#include "Common.h"
#include "modbus/Models.h"

namespace kelm::cli {

namespace {

struct ScanOptions {
    LineOptions line;
    int from = 1;
    int to = 247;
};

// One line on stderr, redrawn in place: "[#####.....] 123/247  2 found".
void DrawProgress(int done, int total, int found) {
    constexpr int kWidth = 30;
    const int filled = total > 0 ? done * kWidth / total : kWidth;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), '.');
    std::cerr << "\r[" << bar << "] " << done << '/' << total << "  " << found << " found"
              << std::flush;
}

void ClearProgress() {
    std::cerr << "\r\033[K" << std::flush;
}

}  // namespace

Command AddScanCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "scan",
        "find the modules on the line: an identity read of every address from --from "
        "to --to");
    auto o = std::make_shared<ScanOptions>();
    AddLineOptions(cmd, o->line, false);
    cmd->add_option("--from", o->from, "first address (default 1)")->check(CLI::Range(1, 247));
    cmd->add_option("--to", o->to, "last address (default 247)")->check(CLI::Range(1, 247));
    return {cmd, [o]() {
                if (o->from > o->to) {
                    throw Failure{kExitUsage, "--from " + std::to_string(o->from) +
                                                  " is above --to " + std::to_string(o->to)};
                }
                bus::BusClient client;
                OpenLine(client, o->line);
                const auto req = RequestOf(o->line, 0);
                const bool progress = StderrIsTerminal();
                const int total = o->to - o->from + 1;
                Json modules = Json::array();
                int found = 0;
                for (int a = o->from; a <= o->to; ++a) {
                    if (progress) DrawProgress(a - o->from, total, found);
                    const auto body = ReadRegistersBody(static_cast<std::uint8_t>(a), 0, 3);
                    const auto r = client.Transact(body, req);
                    if (r.outcome == bus::Outcome::PortLost) {
                        if (progress) ClearProgress();
                        RequireReply(r, "", client.Line());
                    }
                    if (r.outcome == bus::Outcome::Exception) {
                        if (progress) ClearProgress();
                        std::cerr << "kelm: address " << a << " answered with exception "
                                  << Hex2(r.exceptionCode) << " (" << ExceptionText(r.exceptionCode)
                                  << ")\n";
                        continue;
                    }
                    if (r.outcome != bus::Outcome::Reply) continue;
                    const auto regs = RegistersOf(r.body);
                    const int type = regs.size() > 0 ? regs[0] & 0xFF : 0;
                    if (!IsPlausibleTypeCode(type)) {
                        if (progress) ClearProgress();
                        std::cerr << "kelm: address " << a << " answered with type code " << type
                                  << ", which no module has; left out\n";
                        continue;
                    }
                    ++found;
                    const int hw = regs.size() > 1 ? regs[1] & 0xFF : 0;
                    const int sw = regs.size() > 2 ? regs[2] & 0xFF : 0;
                    const std::string model = ModelName(type);
                    if (o->line.json) {
                        Json m;
                        m["address"] = a;
                        m["model"] = model.empty() ? Json(nullptr) : Json(model);
                        m["type"] = type;
                        m["hardware"] = Hex2(hw);
                        m["software"] = Hex2(sw);
                        modules.push_back(std::move(m));
                    } else {
                        if (progress) ClearProgress();
                        std::cout << a << '\t' << (model.empty() ? "unknown" : model) << '\t'
                                  << type << '\t' << Hex2(hw) << '\t' << Hex2(sw) << std::endl;
                    }
                }
                if (progress) ClearProgress();
                if (o->line.json) {
                    Json out;
                    out["modules"] = std::move(modules);
                    std::cout << out.dump() << '\n';
                }
                if (found == 0) {
                    throw Failure{kExitNoReply, "no module answered at " +
                                                    DescribeLine(client.Line()) + " (addresses " +
                                                    std::to_string(o->from) + "-" +
                                                    std::to_string(o->to) + ")"};
                }
                return kExitOk;
            }};
}

}  // namespace kelm::cli
