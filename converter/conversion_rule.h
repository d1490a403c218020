#pragma once
// How a front end turns one picked file into a job of the component: the rule the main
// window and the command line share, so that both name and encode outputs alike.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "converter/ffmpeg_hlpr.h"
#include "converter/option_records.h"

namespace kelvaro {

enum class TTargetFormat { Wma, Wav };

// ".wma" or ".wav".
std::string TargetExtension(TTargetFormat format);

// What follows the last '/' of `path`: the file's own name.
std::string FileNamePart(const std::string& path);

// `folder` with a trailing '/' added when it has none; an empty folder stays empty.
std::string FolderWithSeparator(const std::string& folder);

// Output folder (already ending in '/') + the input's name without its last extension +
// `extension`: archive.tar.gz becomes archive.tar.wav, README becomes README.wma.
std::string OutputFileName(const std::string& folder, const std::string& inputFileName,
                           const std::string& extension);

// Forces the "mpeg" demuxer for ".dat" files (video disc program streams), in any case.
TInputOptions ConversionInputOptions(const std::string& inputFileName);

// Video dropped; WMA as wmav2 at 128000 bit/s, WAV through the wav muxer's own encoder.
// Sample rate and channels follow `input`, except that WMA takes at most 2 channels and
// 48000 Hz: more channels are mixed down to 2, higher rates resampled to 48000.
TOutputOptions ConversionOutputOptions(TTargetFormat format, const std::string& outputFileName,
                                       const TInputDescription& input);

// Opens, on the thread that runs the job, `inputFileName` and then its output
// `outputFileName` under the rule (for AddJob). `extraOptions` ("name=value" lines) go
// before the rule's own settings, which therefore win.
TJobSetUp ConversionSetUp(const std::string& inputFileName, TTargetFormat format,
                          const std::string& outputFileName, const std::string& extraOptions = {});

// Keeps a batch from destroying data: no two jobs may write one file, and no job may write
// over a file that another entry of the batch reads. Names are compared as the files they
// lead to, so "out/../a.wav" and "a.wav" are one file. Not thread-safe.
class TOutputClaims final {
public:
    TOutputClaims() = default;
    // `inputs`: every file of the batch, also those that will never get a job.
    explicit TOutputClaims(const std::vector<std::string>& inputs);

    // One more file of the batch. Every input is added before the first Claim, so that no
    // job writes over a file listed after it.
    void AddInput(const std::string& input);

    // Empty when `input` may write `output`, which is then claimed for it; otherwise why it
    // may not, and nothing is claimed.
    std::string Claim(const std::string& input, const std::string& output);

private:
    std::map<std::string, std::string> inputs_;   // file -> the entry first naming it
    std::map<std::string, std::string> writers_;  // output file -> the input writing it
};

}  // namespace kelvaro
