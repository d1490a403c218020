#pragma once
// The per-file and per-stream records of one transcode: built by the set-up, read by the
// main loop, the output paths and the progress report, released when the transcode ends.
// Used only on the thread that runs the job.

#include <cstdint>
#include <vector>

#include "engine/decoder.h"
#include "engine/job.h"
#include "medialib/media_owners.h"

namespace kelvaro {

struct TInputFileState {
    int32_t EofReached = 0;        // reading failed: the file no longer takes part
    int32_t FirstStreamIndex = 0;  // index in InputStreams of the file's first stream
    int32_t StreamCount = 0;       // packets of higher stream numbers are dropped
    int32_t ReadError = 0;         // why reading ended, when not at the end of the file
    // Microseconds, in the file's own time: the end of the furthest packet read.
    int64_t ReachedTime = AV_NOPTS_VALUE;
};

struct TInputStreamState {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    AVStream* Stream = nullptr;
    // The job's decoder context for the stream (owned by the input), and its owner slot,
    // through which the decoder is closed.
    CodecContextPtr* DecoderSlot = nullptr;
    TDecoderChoice DecoderChoice = TDecoderChoice::Library;
    AVCodecContext* Decoder() const { return DecoderSlot ? DecoderSlot->get() : nullptr; }
    // What the loop decodes through once the decoder is open; the job owns it (OpenedDecoders).
    TDecoder* OpenedDecoder = nullptr;
    Dictionary* DecoderOptions = nullptr;
    int32_t Discard = 1;         // no output takes this stream: drop its packets
    int32_t DecodingNeeded = 0;  // a re-encoded output takes it
    bool RateEmulation = false;
    int64_t RateEmuStart = 0;    // microseconds, wall clock
    int32_t FrameCount = 0;      // frames through rate emulation
    int64_t NextPts = AV_NOPTS_VALUE;  // microseconds: predicted time of the next data
    int64_t Pts = 0;                   // microseconds: time of the data being decoded
    int32_t AudioStartPending = 1;
    int64_t DecodedBytes = 0;  // decoded audio handed to the outputs
    float Quality = 0;  // of the last decoded picture
    // An audio decoder may take several packets before its first frame (the WMA decoders
    // do): its frames are as much later than the packets that release them. Microseconds,
    // unknown until the first packet and the first frame.
    int64_t FirstPacketTime = AV_NOPTS_VALUE;
    int64_t DecoderDelay = AV_NOPTS_VALUE;

    // Decoded audio travels to the outputs as interleaved signed 16-bit samples, or 32-bit
    // ones when an output's encoder keeps more than 16 bits (24-bit WAV), so that what a
    // 24-bit source holds reaches it whole. SampleBytes: one sample of one channel.
    AVSampleFormat SampleFormat = AV_SAMPLE_FMT_S16;
    int32_t SampleBytes = 2;
    // Decoded audio leaves the decoder in its own sample format; this converts it to
    // SampleFormat, interleaved, at the same rate and channel count.
    SwrContextPtr ToInterleaved;
    int ToInterleavedFormat = -1;
    int ToInterleavedRate = 0;
    int ToInterleavedChannels = 0;
};

struct TOutputStreamState {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    int32_t SourceIndex = 0;  // in InputStreams
    AVStream* Stream = nullptr;
    TOutputStreamSetup* Setup = nullptr;  // the encoder context and its options
    AVCodecContext* Encoder() const { return Setup->Encoder.get(); }
    int32_t EncodingNeeded = 0;
    int32_t FrameNumber = 0;  // video frames (and copied packets) written
    TInputStreamState* SyncStream = nullptr;
    int64_t OutputClock = 0;  // in encoder time-base units: frames for video, samples for audio

    // Video: crop, pad and scale. WorkPicture receives the scaled or padded picture; Picture
    // holds a reference to what the encoder gets next.
    int32_t VideoResample = 0;
    FramePtr WorkPicture;
    FramePtr Picture;
    SwsContextPtr ScaleContext;
    int32_t ScalerInputWidth = 0;  // what ScaleContext was made for
    int32_t ScalerInputHeight = 0;
    int32_t ScalerInputFormat = -1;
    int32_t VideoCrop = 0, CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
    int32_t VideoPad = 0, PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;

    // Audio: the resampler between the decoded and the encoded rate and channels, the FIFO
    // of interleaved samples (in the source's SampleFormat) that frames are cut from, and the
    // conversion from those samples to the encoder's own sample format.
    AVSampleFormat SampleFormat = AV_SAMPLE_FMT_S16;
    int32_t SampleBytes = 2;
    int32_t AudioResample = 0;
    SwrContextPtr ResampleContext;
    int32_t ResampleInputRate = 0;  // what ResampleContext was made for
    int32_t ResampleInputChannels = 0;
    // Frames into and out of the resampler: its drain may give a few frames more than the
    // input's length at the new rate, which would lengthen the output.
    int64_t ResampledIn = 0;
    int64_t ResampledOut = 0;
    FifoPtr Fifo;
    SwrContextPtr ToEncoderFormat;
    bool AudioReceived = false;  // some decoded audio reached this stream

    // The muxer's last timestamp, and what is added to every later one so that they never
    // go back (in the stream's time base).
    int64_t LastDts = AV_NOPTS_VALUE;
    int64_t TimestampShift = 0;

    FilePtr LogFile;  // two-pass statistics, pass 1
    std::vector<BsfContextPtr> BitstreamFilters;

    // What the encoder said about its last coded frame (quality in lambda units, picture
    // type, per-plane errors); the packets carry it now.
    bool HasCodedFrame = false;
    int32_t CodedQuality = 0;
    int32_t CodedPictureType = 0;
    uint64_t CodedErrors[3] = {};
};

}  // namespace kelvaro
