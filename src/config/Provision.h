#pragma once
// The provisioning plan (one CSV row per module to commission) and the CSV
// report lines. No I/O.
//
// Plan columns: address, baud, parity (none|even), protocol (rtu|ascii),
// configuration file (may be empty), label (may be empty). A first row whose
// first field is "address" is a header; empty rows and rows starting with
// "#" are skipped. Fields may be quoted ("a, b" and "" for a quote).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bus/BusClient.h"

namespace kelm::config {

struct PlanRow {
    int lineNumber = 0;  // in the file, for messages
    int address = 1;
    bus::LineSettings line;
    std::string configFile;
    std::string label;
};

// The fields of one CSV line; nullopt for an unterminated quote.
std::optional<std::vector<std::string>> SplitCsvLine(std::string_view line);
// A field as CSV writes it: quoted when it holds a comma, a quote or a line
// break.
std::string CsvField(std::string_view field);

// nullopt with *error ("line 3, baud: ...") for a row the modules cannot
// take, or two rows with one address.
std::optional<std::vector<PlanRow>> ParsePlan(std::string_view text, std::string* error);

// The report's columns.
std::string ReportHeader();
struct ReportLine {
    std::string time;
    std::string label;
    std::string model;
    std::string hardware;  // "A1"
    std::string software;
    std::string oldSettings;  // "address 1, 9600/8/2/None RTU"
    std::string newSettings;
    std::string result;  // "ok" or what failed
};
std::string FormatReportLine(const ReportLine& r);

}  // namespace kelm::config
