#pragma once
// An output written under a temporary name beside its final one. A job that fails, is
// refused, is stopped without keeping its file, or never runs leaves no partial file under
// the final name and leaves an earlier file of that name exactly as it was; the final name
// is taken, replacing that earlier file, only by Commit.
//
// The temporary file is locked (flock) for as long as its owner lives, so a temporary file
// that can be locked belongs to a process that died (a crash, kill -9, a power cut):
// SweepAbandonedOutputs removes those. Names: ".<final name>.<random>.kelvaro-part".
//
// Thread-safe: objects are used by one thread; the sweep guards its own state.

#include <optional>
#include <string>

namespace kelvaro {

inline constexpr char kTemporaryOutputSuffix[] = ".kelvaro-part";

class TTemporaryOutput final {
public:
    // Creates and locks the temporary file for `finalName`, first removing what dead
    // processes abandoned in its folder (once per folder and process). nullopt with the
    // system's reason in `reason` when the folder cannot take it, or when its file system
    // could not give the file its final name (too long), so that nothing is converted for it.
    static std::optional<TTemporaryOutput> Create(const std::string& finalName,
                                                  std::string& reason);

    TTemporaryOutput(TTemporaryOutput&& other) noexcept;
    TTemporaryOutput& operator=(TTemporaryOutput&& other) noexcept;
    TTemporaryOutput(const TTemporaryOutput&) = delete;
    TTemporaryOutput& operator=(const TTemporaryOutput&) = delete;
    // Removes the temporary file unless it was committed.
    ~TTemporaryOutput();

    const std::string& TemporaryName() const { return temporaryName_; }
    const std::string& FinalName() const { return finalName_; }
    // Whether nothing was written to it; asked of the open file, whose name may be gone.
    bool IsEmpty() const;

    // Flushes the file to disk and gives it its final name. False with the system's reason.
    bool Commit(std::string& reason);
    // The same under PartialOutputName(FinalName()), for an output that holds less than it
    // should: the file under the final name stays as it was.
    bool CommitAsPartial(std::string& reason);

private:
    bool CommitAs(const std::string& name, std::string& reason);
    TTemporaryOutput(std::string finalName, std::string temporaryName, int lockDescriptor);
    void Discard();

    std::string finalName_;
    std::string temporaryName_;
    int lockDescriptor_ = -1;
    bool committed_ = false;
};

// The name an incomplete output is kept under, one that says so and that no complete output
// takes: "song.partial.wma" for "song.wma".
std::string PartialOutputName(const std::string& finalName);

// Removes the temporary files of dead processes from `folder`, at most once per process.
void SweepAbandonedOutputs(const std::string& folder);

}  // namespace kelvaro
