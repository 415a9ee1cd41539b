#include "live/CsvLog.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace kelm {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kTimeColumn = "时间";

std::FILE* OpenForAppend(const std::string& path) {
#ifdef _WIN32
    const std::filesystem::path p(std::u8string(path.begin(), path.end()));
    return _wfopen(p.c_str(), L"ab+");
#else
    return std::fopen(path.c_str(), "ab+");
#endif
}

std::string ErrnoText(int e) {
    return std::strerror(e);
}

// The last header row of an existing log: the last line that starts with
// the time column's name (after a byte-order mark).
std::string LastHeaderOf(std::FILE* f) {
    std::string last;
    std::rewind(f);
    std::string line;
    int ch;
    while ((ch = std::fgetc(f)) != EOF) {
        if (ch == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::string_view v(line);
            if (v.substr(0, kBom.size()) == kBom) v.remove_prefix(kBom.size());
            if (v.substr(0, kTimeColumn.size()) == kTimeColumn) last = std::string(v);
            line.clear();
        } else {
            line.push_back(static_cast<char>(ch));
        }
    }
    std::fseek(f, 0, SEEK_END);
    return last;
}

}  // namespace

std::string IsoTimeLocal(std::int64_t unixMs) {
    const std::time_t secs =
        static_cast<std::time_t>(unixMs >= 0 ? unixMs / 1000 : (unixMs - 999) / 1000);
    const int ms = static_cast<int>(unixMs - static_cast<std::int64_t>(secs) * 1000);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &secs);
#else
    localtime_r(&secs, &tm);
#endif
    char base[32];
    std::strftime(base, sizeof base, "%Y-%m-%dT%H:%M:%S", &tm);
    char zone[8];
    std::strftime(zone, sizeof zone, "%z", &tm);  // +0100
    std::string z(zone);
    if (z.size() == 5) z.insert(3, ":");
    char out[64];
    std::snprintf(out, sizeof out, "%s.%03d%s", base, ms, z.c_str());
    return out;
}

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string CsvValue(double v) {
    if (std::isnan(v)) return {};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

CsvLog::~CsvLog() {
    Close();
}

bool CsvLog::Open(const std::string& path, std::string* error) {
    Close();
    errno = 0;
    std::FILE* f = OpenForAppend(path);
    if (f == nullptr) {
        if (error) *error = ErrnoText(errno != 0 ? errno : EIO);
        return false;
    }
    file_ = f;
    path_ = path;
    rows_ = 0;
    std::error_code ec;
    const bool regular = std::filesystem::is_regular_file(
        std::filesystem::path(std::u8string(path.begin(), path.end())), ec);
    // Only a file can be read back (a device may never end).
    lastHeader_ = regular ? LastHeaderOf(f) : std::string();
    // A new file starts with a byte-order mark: spreadsheet programs then
    // read the Chinese names as UTF-8.
    if (regular && std::ftell(f) == 0 && !Put(std::string(kBom), error)) {
        Close();
        return false;
    }
    return true;
}

void CsvLog::Close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

bool CsvLog::Put(const std::string& line, std::string* error) {
    errno = 0;
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) {
        if (error) *error = ErrnoText(errno != 0 ? errno : EIO);
        std::clearerr(file_);
        return false;
    }
    return true;
}

bool CsvLog::WriteRow(const std::vector<std::string>& columns, std::int64_t unixMs,
                      const std::vector<double>& values, std::string* error) {
    if (file_ == nullptr) {
        if (error) *error = "log file not open";
        return false;
    }
    std::string header(kTimeColumn);
    for (const std::string& c : columns) header += "," + CsvField(c);
    if (header != lastHeader_) {
        if (!Put(header + "\r\n", error)) return false;
        lastHeader_ = header;
    }
    std::string row = IsoTimeLocal(unixMs);
    for (std::size_t i = 0; i < columns.size(); ++i)
        row += "," + (i < values.size() ? CsvValue(values[i]) : std::string());
    if (!Put(row + "\r\n", error)) return false;
    ++rows_;
    return true;
}

}  // namespace kelm
