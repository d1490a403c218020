#pragma once
// The --report file: one tab-separated line per file, written as each file ends, for
// scripts and for batches spread over several runs or machines.

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/batch_progress.h"

namespace kelvaro::cli {

// The first line of every report.
inline constexpr char kReportHeader[] =
    "input\toutput\tstatus\taudio_seconds\tseconds_taken\treason";

// A field with its tabs, line breaks and backslashes written as \t, \n, \r and \\, so that
// every file stays one line of six fields.
std::string ReportField(std::string_view text);
// input, output, status (done, warning for a file done with one, failed, stopped or
// skipped), seconds of audio converted, seconds the conversion took, reason (or warning);
// without the line break.
std::string ReportLine(const TFileStatus& status, bool interrupted);

class TRunReport final {
public:
    // Creates or empties `path` and writes the header: std::runtime_error with the reason
    // when it cannot.
    explicit TRunReport(const std::string& path);

    // The line of file `file`, once.
    void Write(int file, const TFileStatus& status, bool interrupted = false);
    // The lines of the files not written yet; then closes the file. False with the reason
    // in `error` when a write failed.
    bool Finish(const std::vector<TFileStatus>& files, bool interrupted, std::string& error);

private:
    struct CloseFile {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::string path_;
    std::unique_ptr<std::FILE, CloseFile> file_;
    std::vector<bool> written_;
};

}  // namespace kelvaro::cli
