#pragma once
// One engine job: one conversion of a set of opened inputs into a set of outputs, with every
// setting the transcode needs.
//
// Threads: the job is configured and started on the main thread; Run runs on the job's
// worker thread (threaded start) or on the caller's. The handlers are called on the thread
// that runs the job. StopRequested, Running and Finished cross threads; the component reads
// InputFiles[0] while the job runs (valid until Cleanup at the end of Run). Destroying a job
// stops it and waits for its worker.

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/decoder.h"
#include "engine/ffmpeg_exception.h"
#include "engine/job_thread.h"
#include "engine/temporary_output.h"
#include "medialib/media_owners.h"

namespace kelvaro {

class TCustomFFmpegHlpr;
struct TInputFileState;
struct TInputStreamState;
struct TOutputStreamState;

// The media library's limit on streams per file, and the engine's on files and maps.
inline constexpr int kMaxFiles = 20;
inline constexpr int kMaxStreams = 20;

// Media types as the library numbers them.
enum TMediaKind : int32_t {
    mkVideo = 0,
    mkAudio = 1,
    mkData = 2,
    mkSubtitle = 3,
    mkAttachment = 4
};

struct TStreamMap {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    int32_t SyncFileIndex = 0;
    int32_t SyncStreamIndex = 0;
};

struct TTagCopyMap {
    int32_t OutputFile = 0;
    int32_t InputFile = 0;
};

// An opened input: its demuxer context and one decoder context per stream, made from the
// stream's parameters (streams carry parameters, not codec contexts).
struct TInputFile {
    InputContextPtr Context;
    std::vector<CodecContextPtr> Decoders;
    // Per decoder: who decodes the stream, decided once when the input opened.
    std::vector<TDecoderChoice> DecoderChoices;
    // Per decoder: options private to the decoder, applied when it is opened.
    std::vector<Dictionary> DecoderOptions;
    // Read this input at its native rate (live sources, streaming tests).
    bool RateEmulation = false;
};

// An output stream as the job created it. The encoder context stays unopened until the
// transcode opens it and copies its parameters to the stream.
struct TOutputStreamSetup {
    CodecContextPtr Encoder;
    bool StreamCopy = false;
    float Quality = 0;          // in lambda units, as the encoder sees it
    Dictionary EncoderOptions;  // options private to the encoder, applied when it is opened
    // Audio: no setting chose the rate (channel count) after the input opened, so the
    // stream takes its source's, once the transcode knows which stream that is.
    bool FollowSourceRate = false;
    bool FollowSourceChannels = false;
};

struct TOutputFile {
    OutputContextPtr Context;
    std::vector<TOutputStreamSetup> Streams;
    Dictionary MuxerOptions;  // options private to the muxer, applied with the header
    // Where the bytes go until the job ends with a valid file; none for outputs written in
    // place (devices, FIFOs, URLs, muxers that open their own files).
    std::optional<TTemporaryOutput> Temporary;
    bool WroteMedia = false;  // a packet reached the muxer
};

struct CloseFile {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, CloseFile>;

using TLogHandler =
    std::function<void(TCustomFFmpegHlpr& sender, int level, const std::string& msg)>;
using TProgressHandler = std::function<void(
    TCustomFFmpegHlpr& sender, int32_t frameNumber, int32_t fps, int32_t durationTime,
    float quality, float bitRate, int64_t currentSize, int32_t totalDuration)>;
using TTerminateHandler = std::function<void(TCustomFFmpegHlpr& sender)>;

// Every field that LoadDefaults puts back to its default. Pending fields are consumed (and
// cleared) by the next input opened or the next output stream created that uses them.
struct TJobState {
    // --- Files, maps and filters.
    std::array<TInputFile, kMaxFiles> InputFiles;
    std::array<int64_t, kMaxFiles> InputTimeOffsets{};  // microseconds
    int32_t InputFileCount = 0;
    std::array<TOutputFile, kMaxFiles> OutputFiles;
    int32_t OutputFileCount = 0;
    std::array<TStreamMap, kMaxFiles> StreamMaps{};
    int32_t StreamMapCount = 0;
    std::array<TTagCopyMap, kMaxFiles> TagCopyMaps{};
    int32_t TagCopyMapCount = 0;
    // Filter chains as text ("name1,name2"); pending until the next stream of that kind.
    std::string PendingVideoBitstreamFilters;
    std::string PendingAudioBitstreamFilters;
    std::string PendingSubtitleBitstreamFilters;
    std::array<std::array<std::string, kMaxStreams>, kMaxFiles> BitstreamFilters;

    // --- Formats and video frame.
    const AVInputFormat* ForcedInputFormat = nullptr;
    const AVOutputFormat* ForcedOutputFormat = nullptr;
    int32_t FrameWidth = 0;
    int32_t FrameHeight = 0;
    float FrameAspectRatio = 0;
    int32_t FramePixelFormat = -1;
    AVRational FrameRate{0, 0};
    int32_t PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
    int32_t PadColorY = 16, PadColorU = 128, PadColorV = 128;
    int32_t CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
    std::array<int32_t, 4> MaxFrames{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX};

    // --- Video encoding (consumed by the next video output stream).
    std::string VideoCodecName;
    int32_t VideoCopy = 0;
    int32_t VideoDisable = 0;
    int32_t VideoDiscard = 0;
    int32_t VideoCodecTag = 0;
    float VideoQScale = 0;
    int32_t MatchDecoderQuality = 0;
    int32_t VideoMaxQDiff = 3;
    AvMemoryPtr<uint16_t> IntraMatrix;
    AvMemoryPtr<uint16_t> InterMatrix;
    std::string RcOverride;
    int32_t StrictCompliance = 0;
    int32_t TopFieldFirst = -1;
    int32_t MeThreshold = 0;
    int32_t IntraDcPrecision = 8;
    int32_t IntraOnly = 0;
    int32_t VideoGlobalHeader = 0;
    int32_t ComputePsnr = 0;
    int32_t PassNumber = 0;
    std::string PassLogBaseName;
    int32_t VideoSyncMode = 1;

    // --- Audio and subtitles.
    std::string AudioCodecName;
    int32_t AudioCopy = 0;
    int32_t AudioDisable = 0;
    int32_t AudioCodecTag = 0;
    int32_t AudioSampleRate = 44100;
    int32_t AudioChannels = 2;
    // InputFileCount when a setting last chose the rate (channel count), -1 if none did: a
    // choice made before the last input opened gave way to that input's values.
    int32_t AudioSampleRateChosenAt = -1;
    int32_t AudioChannelsChosenAt = -1;
    float AudioQScale = -99999.0f;
    bool RealVideoFromLibrary = true;  // this job's RealVideo choice
    int32_t AudioSampleBits = 0;  // 0: 16 where the encoder takes it, else its first format
    std::string AudioLanguage;
    int32_t AudioVolume = 256;
    int32_t AudioSyncMode = 0;
    float AudioDriftThreshold = 0.1f;
    std::string SubtitleCodecName;
    int32_t SubtitleCopy = 0;
    int32_t SubtitleDisable = 0;
    std::string SubtitleLanguage;

    // --- Input, timing and muxing.
    int32_t ProgramId = 0;
    int32_t RateEmulation = 0;
    int32_t VideoChannel = 0;
    std::string VideoStandard;
    int32_t LoopInput = 0;
    int32_t LoopOutput = -1;
    int64_t StartTime = 0;        // microseconds
    int64_t RecordingTime = 0;    // microseconds; 0 = no limit
    int64_t InputTimeOffset = 0;  // microseconds
    bool KeepTimestamps = false;
    int64_t RecordTimestamp = 0;  // seconds since 1970-01-01 UTC
    float MuxPreload = 0.5f;      // seconds
    float MuxMaxDelay = 0.7f;     // seconds
    std::string Title, Author, Copyright, Comment, Album, Genre;
    int32_t Year = 0;
    int32_t Track = 0;
    float TimestampJumpThreshold = 10.0f;  // seconds
    int32_t ThreadCount = 1;
    int32_t JobLogLevel = 1;  // -1 quiet .. 3 all
    int32_t PgmYuvRequested = 0;
    int32_t ScalerFlags = 4;  // bicubic

    // --- Transcode switches and counters.
    int32_t InputSync = 0, Shortest = 0, PacketDump = 0, HexDump = 0, Deinterlace = 0;
    int32_t VideoHookUsed = 0;
    int64_t FileSizeLimit = 0;  // bytes; 0 = none
    int64_t VideoBytesWritten = 0, AudioBytesWritten = 0, HeaderBytesWritten = 0;
    int32_t DupFrames = 0, DropFrames = 0;
    int64_t RunStartTime = 0;  // microseconds
    std::string VideoStatsFileName;
    FilePtr VideoStatsFile;
    int32_t HistogramEnabled = 0;
    std::array<uint32_t, 52> QualityHistogram{};  // per job: jobs run side by side
    int32_t EncodeBufferSize = 262144;
    int32_t TotalDurationMs = -1;
    // When an output's interrupt callback first saw the stop request (microseconds, the
    // library's monotonic clock); 0 before. Used on the thread that writes.
    int64_t OutputStopSeenAt = 0;
};

class TCustomFFmpegHlpr : public TJobState {
public:
    // `lock` is the converter component's codec lock, shared by all of its jobs; it must
    // outlive the job. Creates no library object (the libraries may not be loaded yet).
    explicit TCustomFFmpegHlpr(std::mutex& lock);
    virtual ~TCustomFFmpegHlpr();
    TCustomFFmpegHlpr(const TCustomFFmpegHlpr&) = delete;
    TCustomFFmpegHlpr& operator=(const TCustomFFmpegHlpr&) = delete;

    // --- Lifecycle.
    // Prepares a fresh job; does nothing at all while the media libraries are not loaded.
    void Reset();
    // Starts the transcode in a worker thread (threaded) or runs it here. Returns the id of
    // the thread that runs it, or 0 when the job has already run or was asked to stop. A job
    // without an output or input is reported as ended, then FFMpegException is raised.
    uint32_t StartTranscode(bool threaded, TConvertPriority priority);
    // Asks a running transcode to stop; returns at once.
    void RequestStop();
    // The media library's interrupt callback: non-zero once the job (`job`) is asked to stop,
    // so that a read or write that waits gives up.
    static int StopWasRequested(void* job);
    // The same for outputs, once the stop has waited half a second: a stopped job still
    // drains its encoders and writes its trailers, which only a stalled write may cut short.
    static int StopWasRequestedLongAgo(void* job);
    // The run itself: the worker's body, or called by a synchronous start.
    void Run();
    // Asks the job to stop and waits until its worker has ended. Derived classes whose
    // members the worker uses call it first in their destructor.
    void StopAndWait();
    // Closes the job's files (an output not yet written is removed) and releases its library
    // objects, so that a job waiting for its turn holds nothing. Not while it runs.
    void ReleaseFiles();

    // --- Logging.
    // Sets JobLogLevel, the library's level and the process-wide threshold.
    void SetLogLevel(int level);
    // Hands a complete text to the log handler, when one is assigned.
    void Log(int level, const std::string& text);

    // --- Settings. Each validates its value and raises FFMpegException with a fixed text
    // when it rejects it; an empty text or a value marked "not set" changes nothing.
    void SetInputFormat(const std::string& name);
    void SetOutputFormat(const std::string& name);
    void SetFrameRate(const std::string& text);
    void SetFrameSize(const std::string& text);
    void SetCropTop(int32_t pixels);
    void SetCropBottom(int32_t pixels);
    void SetCropLeft(int32_t pixels);
    void SetCropRight(int32_t pixels);
    void SetPadTop(int32_t pixels);
    void SetPadBottom(int32_t pixels);
    void SetPadLeft(int32_t pixels);
    void SetPadRight(int32_t pixels);
    // Red in the low byte, then green, then blue.
    void SetPadColor(uint32_t rgb);
    // "list" writes the table of pixel formats to the log instead.
    void SetPixelFormat(const std::string& name);
    void SetAspectRatio(const std::string& text);
    void SetAudioSampleRate(int32_t hertz);
    void SetAudioChannels(int32_t channels);
    // A variable-rate encoder's quality in its own scale (lame's -V, Vorbis' -q); the bit
    // rate then does not apply.
    void SetAudioQuality(float quality);
    // 16 or 24: the sample size of an encoder that can keep either (FLAC, ALAC).
    void SetAudioSampleBits(int32_t bits);
    // "copy" copies the stream instead of naming an encoder.
    void SetVideoCodec(const std::string& name);
    void SetAudioCodec(const std::string& name);
    void SetAudioVolume(int32_t volume);
    void SetMuxPreload(float seconds);
    void SetMuxMaxDelay(float seconds);
    // Also positions the inputs already open.
    void SetStartTime(int32_t milliseconds);
    void SetRecordingTime(int32_t milliseconds);
    // 0 stamps the current time; negative changes nothing.
    void SetRecordTimestamp(int64_t seconds);
    void SetTitle(const std::string& text);
    void SetAuthor(const std::string& text);
    void SetCopyright(const std::string& text);
    void SetComment(const std::string& text);
    void SetAlbum(const std::string& text);
    void SetGenre(const std::string& text);
    void SetYear(int32_t year);
    void SetTrack(int32_t track);
    // Process-wide: which decoders serve RealVideo 3 and 4 in jobs made or reset afterwards.
    static void SelectRealVideoDecoder(bool useLibraryDecoders);
    static bool UseLibraryRealVideoDecoders();
    // This job's own choice, for the inputs it opens afterwards; another job's choice does
    // not change it.
    void SetRealVideoDecoder(bool useLibraryDecoders) { RealVideoFromLibrary = useLibraryDecoders; }

    // --- Options by name, for the media library's codec, format and scaler options. False
    // (never an exception) when no option of that name takes the value.
    bool SetOption(const std::string& name, const std::string& value);
    bool SetOptionText(const std::string& name, const std::string& value);
    bool SetOptionInt(const std::string& name, int32_t value);
    // Copies every recorded option whose flags include `requiredFlags` from `source` (one of
    // the default objects) to `target`; options private to a codec or muxer, which no
    // default object can hold, go into `privateOptions` for the open call.
    void ApplyRecordedOptions(void* target, void* source, int requiredFlags,
                              Dictionary* privateOptions = nullptr);
    // The codec id for a name (0 for none). False with the reason in LastError when the
    // name is unknown or names a codec of another kind.
    bool FindCodecId(const std::string& name, TMediaKind kind, bool encoder, AVCodecID& id);

    // --- Target presets: "vcd", "svcd", "dvd", "dv", "dv50"; norm "pal", "ntsc", "film" or
    // anything else to guess it, `defaultNorm` when the guess finds nothing.
    void SetTarget(const std::string& target, const std::string& norm,
                   const std::string& defaultNorm);

    // --- Files. False with the reason in LastError; nothing of a failed open stays.
    bool OpenInputFile(const std::string& fileName);
    bool OpenOutputFile(const std::string& fileName);

    // --- Explicit stream mapping, read by the transcode: output stream n takes map n. The
    // sync stream defaults to the source. At most 20 of each; raise FFMpegException.
    void AddStreamMap(int32_t file, int32_t stream, int32_t syncFile = -1, int32_t syncStream = -1);
    // "file.stream" or "file.stream:syncfile.syncstream".
    void AddStreamMap(const std::string& text);
    // Copies the metadata of an input file to an output file.
    void AddTagCopyMap(int32_t outputFile, int32_t inputFile);
    // A bitstream filter for the next created stream of that kind; several form a chain.
    void AddBitstreamFilter(TMediaKind kind, const std::string& name);

    // --- Run state and events.
    std::mutex* CodecLock;
    std::atomic<bool> Running{false};
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> Finished{false};
    std::string LastError;
    // The failure that ended the last run, empty when it ended normally.
    std::string TranscodeError;
    // Why a run that delivered its output is not a plain success (the input ended early,
    // decoding errors); empty otherwise. Left by the transcode, read with Finished.
    std::string TranscodeWarning;
    int64_t ReportInterval = 500000;  // microseconds between progress reports
    // Whether an output that holds less than it should (its job was stopped, or its input
    // ended early where an earlier file has the output's name) is kept, valid up to where it
    // ends, under its partial name (PartialOutputName). It never takes the final name:
    // when not kept it is removed, and an earlier file of that name stays either way.
    bool KeepStoppedOutputs = true;
    // Whether an opened input is described to the library's log; off while a job opens again
    // an input it has described once.
    bool DescribeOpenedInputs = true;
    // The last run was stopped and an output of it was kept under its partial name.
    std::atomic<bool> StoppedOutputKept{false};
    // The partial name an output of the last run was kept under; empty when none was. Left
    // by the run, read with Finished.
    std::string KeptPartialOutput;
    // The last run's input ended before the length it announced.
    bool InputEndedEarly = false;
    TLogHandler LogHandler;
    TProgressHandler ProgressHandler;
    TTerminateHandler TerminateHandler;
    // Encoder contexts the transcode opened, and the decoders it opened over the inputs'
    // decoder contexts; closed under CodecLock by Run (an encoder context is freed).
    std::vector<CodecContextPtr*> OpenedEncoders;
    std::vector<std::unique_ptr<TDecoder>> OpenedDecoders;

    // --- Library option defaults: collect options by name for later inputs and outputs.
    std::array<CodecContextPtr, 5> DefaultCodecContexts;
    OutputContextPtr DefaultFormatContext;
    SwsContextPtr DefaultScalerContext;
    std::vector<std::string> OptionNames;
    // Options that only a particular codec or muxer knows: recorded by name and value, and
    // handed to the open call of every object whose option flags match.
    struct TPrivateOption {
        std::string Name;
        std::string Value;
        int Flags = 0;
        bool OfFormat = false;
    };
    std::vector<TPrivateOption> PrivateOptions;

    // --- The transcode's records, alive while Transcode runs (transcode_state.h).
    std::vector<std::unique_ptr<TInputFileState>> InputFileStates;
    std::vector<std::unique_ptr<TInputStreamState>> InputStreams;
    std::vector<std::unique_ptr<TOutputStreamState>> OutputStreams;

protected:
    // The conversion itself; runs in Run. A seam: tests drive the lifecycle with their own.
    virtual void Transcode();
    // A job may keep its files closed until it runs: it opens them here, on the thread that
    // runs it, before Transcode (raising FFMpegException with the reason), and counts them
    // in the two below so that a start is refused only for a job that will have none.
    virtual void OpenFilesToRun() {}
    virtual int32_t OutputsToRun() const { return OutputFileCount; }
    virtual int32_t InputsToRun() const { return InputFileCount; }
    // Cleanup, then every setting back to its default with fresh option objects; what
    // describes the run (stop request, report interval, handlers, log level) stays.
    void ReloadDefaults();

    // --- The transcode's pieces, on the thread that runs the job.
    void SetUpTranscode();
    void RunMainLoop();
    // Decodes one packet of a stream (none: drain) and hands what it gives to every output
    // stream fed by it. 0, or -1 when decoding failed.
    int DecodePacket(int inputStreamIndex, const AVPacket* packet);
    void DoAudioOutput(TOutputStreamState& output, TInputStreamState& input, const uint8_t* data,
                       int size);
    // Writes a decoded picture as many times as the sync clock asks (none: dropped), cropped,
    // scaled and padded into the output's geometry.
    void DoVideoOutput(TOutputStreamState& output, TInputStreamState& input,
                       const AVFrame& decoded);
    void DoSubtitleOutput(TOutputStreamState& output, TInputStreamState& input,
                          AVSubtitle& subtitle, int64_t pts);
    // Every packet leaves the engine here: through the stream's filters to the muxer.
    void WritePacket(TOutputStreamState& output, AVPacket* packet);
    void ProgressReport(bool last);
    void WriteVideoStatistics(TOutputStreamState& output, int frameSize);
    void ReleaseTranscodeState();
    // Called with the worker's id after its creation and before it runs anything, so that a
    // derived job can record it before the worker's first log line.
    virtual void WorkerThreadCreated(uint32_t threadId);

private:
    // Transcode internals.
    void PrepareStreamCopy(TOutputStreamState& output, TInputStreamState& input);
    void PrepareReEncode(TOutputStreamState& output, TInputStreamState& input);
    void OpenTwoPassStatistics(TOutputStreamState& output, int globalIndex);
    void OpenCodecs();
    void SetUpBitstreamFilters(TOutputStreamState& output);
    void WriteHeaders();
    void CopyPacket(TOutputStreamState& output, TInputStreamState& input, const AVPacket& packet);
    void FilterAndWrite(TOutputStreamState& output, size_t filterIndex, AVPacket* packet);
    // Takes a packet's presentation time as unknown when it lies further from its own
    // decoding time than any reordering explains.
    void ForgetImpossiblePts(int inputFileIndex, AVPacket& packet);
    // Shifts a packet's timestamps so that the stream's never go back, and logs each shift.
    void KeepTimestampsRising(TOutputStreamState& output, AVPacket& packet);
    // Sends one packet (none: the drain) to the stream's decoder and hands every frame it
    // releases to `take`, which says whether it could use it. 0, or -1 when decoding failed.
    int DecodeFrames(TInputStreamState& input, const AVPacket* packet,
                     const std::function<bool(AVFrame&)>& take);
    int DecodeAudio(int inputStreamIndex, const AVPacket* packet);
    int DecodeVideo(int inputStreamIndex, const AVPacket* packet);
    int DecodeSubtitle(int inputStreamIndex, const AVPacket* packet);
    const uint8_t* ConvertToInterleaved(TInputStreamState& input, const AVFrame& frame, int& size);
    // Hands decoded audio (data, size), a picture or a subtitle to every re-encoded output
    // stream fed by the input stream.
    void DispatchDecoded(int inputStreamIndex, const uint8_t* data, int size,
                         const AVFrame* picture, AVSubtitle* subtitle, int64_t packetPts);
    void EmulateRate(TInputStreamState& input);
    // Before the first samples: what the encoder needs ahead of them to give them back.
    void PrimeEncoder(TOutputStreamState& output);
    void EncodeAudioSamples(TOutputStreamState& output, const uint8_t* samples, int bytes);
    // Sends `frames` interleaved 16-bit sample frames, in the encoder's own format, stamped
    // with the output clock, which they advance.
    void SendSamples(TOutputStreamState& output, const uint8_t* samples, int frames);
    // Encodes one frame (none: the drain) and writes every packet the encoder releases.
    void SendToEncoder(TOutputStreamState& output, const AVFrame* frame);
    // How many times the picture at the sync clock is written: 0 drops it. May re-stamp
    // OutputClock.
    int VideoCopies(TOutputStreamState& output);
    // The picture to encode: `decoded` cropped, scaled and padded into the output's
    // geometry; none when it could not be made (logged).
    AVFrame* FormatPicture(TOutputStreamState& output, const AVFrame& decoded);
    // Makes the scaler for pictures of that geometry, unless the stream already has it.
    void PrepareScaler(TOutputStreamState& output, int width, int height, int format);
    // Gives the stream a work picture in the encoder's geometry that nothing else holds.
    void PrepareWorkPicture(TOutputStreamState& output);
    // Puts what the resampler still holds through to the encoder.
    void FlushResampler(TOutputStreamState& output);
    void DrainAudioEncoder(TOutputStreamState& output);
    void DrainOutputStreams(int inputStreamIndex);

    // Work buffers of this job's transcode; jobs running at once never share them.
    std::vector<uint8_t> DecodeBuffer;       // decoded audio, interleaved 16-bit
    std::vector<uint8_t> AudioSampleBuffer;  // resampled audio, then one encoder frame
    std::vector<uint8_t> SilenceBuffer;      // silence followed by the input samples
    std::vector<uint8_t> SubtitleBuffer;     // one encoded subtitle
    FramePtr DecodedFrame;
    FramePtr EncoderFrame;
    PacketPtr EncodedPacket;

    // Output stream creation; each adds one stream or raises FFMpegException.
    void AddVideoStream(TOutputFile& output);
    void AddAudioStream(TOutputFile& output);
    void AddSubtitleStream(TOutputFile& output);
    struct TStreamKinds {
        bool Video = false, Audio = false, Subtitle = false;
    };
    TStreamKinds CheckInputStreamKinds() const;
    void ClearPendingInputSettings();
    bool FailInputOpen(const std::string& reason);
    int64_t SeekToStartTime(AVFormatContext* input) const;
    void SetCrop(int32_t pixels, int32_t& band, int32_t& dimension, const char* side,
                 bool vertical);
    void SetPad(int32_t pixels, int32_t& band, const char* side);
    bool SetPrivateOption(const std::string& name, const std::string& value);

    void LoadDefaults();
    void AllocateDefaultObjects();
    void Cleanup();
    // After a transcode that ended without failure: every output's file is closed and, when
    // it is to be kept, given its final name. Raises FFMpegException when one cannot be.
    void CommitOutputs();
    // The tags and cover of the input a tag copy map names for this output, into its
    // temporary file; what was left out goes to the warning.
    void CarryInputTags(int outputIndex);
    void Finish();
    void CloseOpenedCodecs();
    void ReleaseWorker();

    std::unique_ptr<TFFmpegThread> worker_;
    std::unique_ptr<TFFmpegThread> retiredWorker_;  // ended on its own thread; joined later
    // Set while a threaded run is in progress; cleared by Finish.
    std::atomic<TFFmpegThread*> WorkerThread{nullptr};
};

}  // namespace kelvaro
