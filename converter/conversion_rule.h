#pragma once
// How a front end turns one picked file into a job of the component: the rule the main
// window and the command line share, so that both name and encode outputs alike.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "converter/ffmpeg_hlpr.h"
#include "converter/name_case.h"
#include "converter/option_records.h"
#include "converter/target_formats.h"

namespace kelvaro {

// The format's extension: ".wma", ".wav", ".mp3", ".m4a" (AAC and ALAC), ".opus", ".ogg", ".flac".
std::string TargetExtension(TTargetFormat format);

// What follows the last '/' of `path`: the file's own name.
std::string FileNamePart(const std::string& path);

// `folder` with a trailing '/' added when it has none; an empty folder stays empty.
std::string FolderWithSeparator(const std::string& folder);

// Output folder (already ending in '/') + the input's name without its last extension +
// `extension`: archive.tar.gz becomes archive.tar.wav, README becomes README.wma.
std::string OutputFileName(const std::string& folder, const std::string& inputFileName,
                           const std::string& extension);

// What the wmav2 encoder takes: its floor of bit rate, and at most 2 channels and 48000 Hz.
inline constexpr int32_t kWmaMinBitRate = 24000;
inline constexpr int32_t kWmaMaxChannels = 2;
inline constexpr int32_t kWmaMaxSampleRate = 48000;

// A video disc or tape target instead of an audio format: the target preset's muxer, codecs,
// picture size, rates and buffers, and video inputs keep their picture.
enum class TVideoTarget { None, Vcd, Svcd, Dvd, Dv, Dv50 };
// The television norm of a target; Guess takes it from the input's frame rate.
enum class TTargetNorm { Guess, Pal, Ntsc, Film };

// What a front end may choose beyond the rule; -1 leaves the rule's own choice. The front
// end checks the values against the format (see the constants above).
struct TConversionSettings {
    int32_t BitRate = -1;     // WMA, AAC, Opus, and MP3 at a constant bit rate: bit/s
    int32_t SampleRate = -1;  // Hz
    int32_t Channels = -1;
    int32_t Bits = -1;  // WAV, FLAC and ALAC: 16 or 24 bits per sample
    // MP3 (0 best to 9) and Vorbis (-1 to 10); unset, the format's default. MP3 with a
    // BitRate writes at that constant rate instead.
    std::optional<double> Quality;
    int32_t Compression = -1;  // FLAC: 0 to 8
    // Replaces the audio format when set; the audio choices above then do not apply.
    TVideoTarget Target = TVideoTarget::None;
    TTargetNorm Norm = TTargetNorm::Guess;
};

// The outputs' extension: the format's, or ".mpg" for the MPEG disc targets and ".dv" for
// the DV ones.
std::string OutputExtension(TTargetFormat format, const TConversionSettings& settings);

// Forces the "mpeg" demuxer for ".dat" files (video disc program streams), in any case.
TInputOptions ConversionInputOptions(const std::string& inputFileName);

// Video dropped; WMA as wmav2 at 128000 bit/s, WAV through the wav muxer's own encoder
// (16-bit PCM), the other formats through their encoders at their default bit rates.
// Sample rate and channels follow `input` where the format holds them (see FormatInfo):
// more channels are mixed down, other rates resampled to the nearest it takes. `settings`
// replace these choices where set; a video target replaces the format, keeps the video and
// leaves every choice to its preset. The quality, compression and sample size that the
// record has no field for are set by ConversionSetUp.
TOutputOptions ConversionOutputOptions(TTargetFormat format, const std::string& outputFileName,
                                       const TInputDescription& input,
                                       const TConversionSettings& settings = {});

// Opens, on the thread that runs the job, `inputFileName` and then its output
// `outputFileName` under the rule (for AddJob). `extraOptions` ("name=value" lines) go
// before the rule's own settings, which therefore win. A bit rate the WMA encoder would not
// write at the file's rate and channels fails the job, with the reason, before its output
// is opened.
// Folders between an existing `outputRoot` and the output are made as needed; none is made
// without a root, nor when the root is gone.
TJobSetUp ConversionSetUp(const std::string& inputFileName, TTargetFormat format,
                          const std::string& outputFileName, const std::string& extraOptions = {},
                          const TConversionSettings& settings = {},
                          const std::string& outputRoot = {});

// How an output made under the rule takes the library option `name`=`value` of its extra
// option text (names and values trimmed as the engine trims them).
enum class TOptionUse {
    Taken,
    NotTaken,  // nothing in such an output has an option of that name
    BadValue,  // the option exists but refuses the value
    // The rule's own setting replaces the option's value.
    BitRateFixed,
    SampleRateFixed,
    ChannelsFixed,
    SampleFormatFixed,
};
// Needs the media libraries loaded.
TOptionUse ConversionOptionUse(TTargetFormat format, const TConversionSettings& settings,
                               const std::string& name, const std::string& value);

// Keeps a batch from destroying data: no two jobs may write one file, and no job may write
// over a file that another entry of the batch reads. Names are compared as the files they
// lead to, so "out/../a.wav" and "a.wav" are one file, and "Song.wma" and "song.wma" are one
// where the folder's file system ignores case (as `ignoresCase` answers, once per folder).
// Not thread-safe.
class TOutputClaims final {
public:
    explicit TOutputClaims(TFolderCaseQuery ignoresCase = FolderIgnoresCase);
    // `inputs`: every file of the batch, also those that will never get a job.
    explicit TOutputClaims(const std::vector<std::string>& inputs);

    // One more file of the batch. Every input known at once is added before the first
    // Claim, so that no job writes over a file listed after it. An input added later (a
    // list read while the batch runs) may already be claimed as the output of an earlier
    // entry, which is written or being written: then why it must not be read, and it is
    // not added; empty otherwise.
    std::string AddInput(const std::string& input);
    // Whether `file` is claimed as the output of an entry.
    bool IsClaimedOutput(const std::string& file) const;

    // Empty when `input` may write `output`, which is then claimed for it; otherwise why it
    // may not, and nothing is claimed.
    std::string Claim(const std::string& input, const std::string& output);

private:
    std::string FileKey(const std::string& path) const;

    TFolderCaseQuery ignoresCase_ = FolderIgnoresCase;
    mutable std::map<std::string, bool> folderIgnoresCase_;
    std::map<std::string, std::string> inputs_;   // file -> the entry first naming it
    std::map<std::string, std::string> writers_;  // output file -> the input writing it
};

}  // namespace kelvaro
