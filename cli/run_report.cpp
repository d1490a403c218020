#include "cli/run_report.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "cli/summary.h"
#include "engine/text_format.h"

namespace kelvaro::cli {
namespace {

// A file done with a reason was done with a warning.
const char* StatusWord(TFileState state, bool warning)
{
    switch (state) {
        case TFileState::Done:
            return warning ? "warning" : "done";
        case TFileState::Skipped:
            return "skipped";
        case TFileState::Stopped:
            return "stopped";
        default:
            return "failed";
    }
}

}  // namespace

std::string ReportField(std::string_view text)
{
    std::string field;
    field.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '\t':
                field += "\\t";
                break;
            case '\n':
                field += "\\n";
                break;
            case '\r':
                field += "\\r";
                break;
            case '\\':
                field += "\\\\";
                break;
            default:
                field += c;
        }
    }
    return field;
}

std::string ReportLine(const TFileStatus& status, bool interrupted)
{
    const TFileState state = FinalState(status, interrupted);
    double taken = 0;
    if (status.Started && status.EndTime > status.StartTime)
        taken = std::chrono::duration<double>(status.EndTime - status.StartTime).count();
    const std::string reason = state == TFileState::Failed    ? FailureReason(status)
                               : state == TFileState::Stopped ? std::string()
                                                              : status.Reason;
    return ReportField(status.Input) + "\t" + ReportField(status.Output) + "\t" +
           StatusWord(state, !status.Reason.empty()) + "\t" +
           Format("%.3f", status.PositionMs / 1000.0) + "\t" + Format("%.3f", taken) + "\t" +
           ReportField(reason);
}

TRunReport::TRunReport(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "w"))
{
    if (!file_)
        throw std::runtime_error("cannot write the report " + path + ": " + std::strerror(errno));
    std::fprintf(file_.get(), "%s\n", kReportHeader);
}

void TRunReport::Write(int file, const TFileStatus& status, bool interrupted)
{
    const auto index = static_cast<size_t>(file);
    if (index >= written_.size())
        written_.resize(index + 1, false);
    if (written_[index])
        return;
    written_[index] = true;
    std::fprintf(file_.get(), "%s\n", ReportLine(status, interrupted).c_str());
    // A run killed later still leaves the lines of the files it finished.
    std::fflush(file_.get());
}

bool TRunReport::Finish(const std::vector<TFileStatus>& files, bool interrupted, std::string& error)
{
    for (size_t i = 0; i < files.size(); ++i)
        Write(static_cast<int>(i), files[i], interrupted);
    const bool failed = std::ferror(file_.get()) != 0;
    const bool closed = std::fclose(file_.release()) == 0;
    if (failed || !closed)
        error = "cannot write the report " + path_ + ": " + std::strerror(errno);
    return !failed && closed;
}

}  // namespace kelvaro::cli
