#pragma once
// The live view's log file: CSV in UTF-8, a header row with the channel names
// and units, then one row per reading round with an ISO 8601 time and the
// values. Rows are appended and flushed one by one, so a crash loses at most
// the row being written. An existing file is continued; a header row is
// written whenever the channels differ from the file's last header.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace kelm {

// "2026-12-09T18:50:01.123+01:00": local time, milliseconds, UTC offset.
std::string IsoTimeLocal(std::int64_t unixMs);
// A field quoted as CSV needs it (commas, quotes, line breaks).
std::string CsvField(std::string_view text);
// A value as the log writes it; empty for a missing value (NaN).
std::string CsvValue(double v);

class CsvLog {
  public:
    CsvLog() = default;
    ~CsvLog();
    CsvLog(const CsvLog&) = delete;
    CsvLog& operator=(const CsvLog&) = delete;

    // Opens (creating or continuing) the file at the UTF-8 path. On failure
    // returns false with the reason in *error and stays closed.
    bool Open(const std::string& path, std::string* error);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }
    const std::string& Path() const { return path_; }

    // One round. `columns` are the header's channel columns ("name [unit]");
    // a header row goes first when they differ from the last one written.
    // Returns false with the reason when the row could not be written (the
    // file then stays open: a full disk may have room again later).
    bool WriteRow(const std::vector<std::string>& columns, std::int64_t unixMs,
                  const std::vector<double>& values, std::string* error);
    std::uint64_t RowsWritten() const { return rows_; }

  private:
    bool Put(const std::string& line, std::string* error);

    std::FILE* file_ = nullptr;
    std::string path_;
    std::string lastHeader_;
    std::uint64_t rows_ = 0;
};

}  // namespace kelm
