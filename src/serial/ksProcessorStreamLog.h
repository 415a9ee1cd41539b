#pragma once
// A log sink that writes the component's log lines to a stream or a file,
// one line each:  2026-12-09 08:40:05.123 [detail] ksComm: The port ... opened
// For the simulator and for diagnosing a line.
//
// Thread-safe: one mutex guards the stream, the level filter and the line
// count, so the component's worker threads and the GUI thread may log at the
// same time without interleaving within a line.
#include <fstream>
#include <mutex>
#include <ostream>
#include <string>

#include "serial/ksProcessor.h"

namespace kelm {

class TksStreamLog : public TksCustomLogFile {
  public:
    // Writes to a stream the caller owns and keeps alive.
    explicit TksStreamLog(std::ostream& out);
    // Appends to a file, created when missing. A file that cannot be opened
    // is a fatal error (code 1, detail 0, "Cannot open the log file <path>"):
    // onFatalError, which becomes the sink's OnFatalError, is told first and
    // may clear the raise flag; otherwise the constructor throws EksError.
    // A sink whose file could not be opened writes nothing.
    explicit TksStreamLog(const std::string& path, TOnFatalErrorEvent onFatalError = {});

    // Lines above this level are left out (dlDebug: everything).
    TDetailLevel MaxLevel() const;
    void SetMaxLevel(TDetailLevel level);
    // Lines written so far.
    unsigned long Lines() const;

    void Save() override;   // flushes
    void Clear() override;  // a file starts empty; a stream loses its error state
    void Add(const std::string& s) override;
    void AddFmt(const std::string& Format, const std::vector<TksFmtArg>& Args) override;
    void AddSysInfo() override;
    void AddLog(TDetailLevel l, const std::string& s) override;
    void AddLogFmt(TDetailLevel l, const std::string& Format,
                   const std::vector<TksFmtArg>& Args) override;

  private:
    void WriteLine(const std::string& level, const std::string& text);

    mutable std::mutex mutex_;
    std::ofstream file_;
    std::string path_;
    std::ostream* out_;
    TDetailLevel maxLevel_ = TDetailLevel::dlDebug;
    unsigned long lines_ = 0;
};

}  // namespace kelm
