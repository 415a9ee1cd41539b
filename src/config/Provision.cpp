#include "config/Provision.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace kelm::config {

namespace {

std::string Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return std::string(s);
}

std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::optional<long> Number(const std::string& s) {
    if (s.empty() || s.size() > 9) return std::nullopt;
    long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

}  // namespace

std::optional<std::vector<std::string>> SplitCsvLine(std::string_view line) {
    std::vector<std::string> out;
    std::string field;
    bool quoted = false;
    bool wasQuoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < line.size() && line[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
            wasQuoted = true;
        } else if (c == ',') {
            out.push_back(wasQuoted ? field : Trim(field));
            field.clear();
            wasQuoted = false;
        } else {
            field += c;
        }
    }
    if (quoted) return std::nullopt;
    out.push_back(wasQuoted ? field : Trim(field));
    return out;
}

std::string CsvField(std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(field);
    std::string out = "\"";
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::optional<std::vector<PlanRow>> ParsePlan(std::string_view text, std::string* error) {
    auto fail = [&](int n, const std::string& what) {
        if (error) *error = "line " + std::to_string(n) + ", " + what;
        return std::nullopt;
    };
    std::vector<PlanRow> rows;
    std::set<int> addresses;
    int n = 0;
    bool first = true;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        std::string_view raw = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        ++n;
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        if (Trim(raw).empty() || Trim(raw)[0] == '#') continue;
        auto fields = SplitCsvLine(raw);
        if (!fields) return fail(n, "a quote is not closed");
        if (first && Lower((*fields)[0]) == "address") {
            first = false;
            continue;
        }
        first = false;
        if (fields->size() < 4 || fields->size() > 6)
            return fail(n,
                        "expected address, baud, parity, protocol[, configuration file[, "
                        "label]] (" +
                            std::to_string(fields->size()) + " fields)");
        fields->resize(6);
        PlanRow row;
        row.lineNumber = n;
        const auto address = Number((*fields)[0]);
        if (!address || *address < 1 || *address > 247)
            return fail(n, "address: \"" + (*fields)[0] + "\" is not an address 1-247");
        row.address = static_cast<int>(*address);
        if (!addresses.insert(row.address).second)
            return fail(n, "address: " + (*fields)[0] + " is already given to another module");
        const auto baud = Number((*fields)[1]);
        row.line.baud = baud ? static_cast<std::uint32_t>(*baud) : 0;
        if (!bus::FormatCodeOf(row.line))
            return fail(n, "baud: \"" + (*fields)[1] +
                               "\" is not a baud rate the modules have (1200-115200)");
        const auto parity = Lower((*fields)[2]);
        if (parity != "none" && parity != "even")
            return fail(n, "parity: \"" + (*fields)[2] + "\" is not none or even");
        row.line.evenParity = parity == "even";
        const auto protocol = Lower((*fields)[3]);
        if (protocol != "rtu" && protocol != "ascii")
            return fail(n, "protocol: \"" + (*fields)[3] + "\" is not rtu or ascii");
        row.line.protocol = protocol == "ascii" ? bus::WireProtocol::Ascii : bus::WireProtocol::Rtu;
        row.configFile = (*fields)[4];
        row.label = (*fields)[5];
        rows.push_back(std::move(row));
    }
    if (rows.empty()) {
        if (error) *error = "the plan has no module rows";
        return std::nullopt;
    }
    return rows;
}

std::string ReportHeader() {
    return "time,label,model,hardware,software,old settings,new settings,result";
}

std::string FormatReportLine(const ReportLine& r) {
    std::string out;
    for (const std::string* f : {&r.time, &r.label, &r.model, &r.hardware, &r.software,
                                 &r.oldSettings, &r.newSettings, &r.result}) {
        if (!out.empty()) out += ',';
        out += CsvField(*f);
    }
    return out;
}

}  // namespace kelm::config
