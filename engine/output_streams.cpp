// Creating the video, audio and subtitle streams of an output from the job's pending
// settings. Each stream gets an encoder context of its own, which the transcode opens.

#include <charconv>
#include <cstring>
#include <functional>
#include <optional>

#include "engine/job.h"
#include "medialib/media_functions.h"
#include "medialib/media_helpers.h"

namespace kelvaro {
namespace {

// Adds a stream to the output; `clearPending` drops the kind's pending settings when it
// cannot be added.
AVStream* NewStream(AVFormatContext* context, const std::function<void()>& clearPending)
{
    AVStream* stream = context->nb_streams < kMaxStreams
                           ? avformat.avformat_new_stream(context, nullptr)
                           : nullptr;
    if (!stream) {
        clearPending();
        throw FFMpegException("Could not alloc stream");
    }
    return stream;
}

CodecContextPtr NewEncoderContext(AVCodecID id, AVMediaType type)
{
    const AVCodec* codec = id != AV_CODEC_ID_NONE ? avcodec.avcodec_find_encoder(id) : nullptr;
    CodecContextPtr context(avcodec.avcodec_alloc_context3(codec));
    if (!context)
        throw FFMpegException("Could not alloc stream");
    context->codec_type = type;
    context->codec_id = id;
    return context;
}

// Reads one decimal integer that must be followed by one more character (its separator).
std::optional<int> ReadNumberBeforeSeparator(std::string_view& text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() + text.size())
        return std::nullopt;
    text.remove_prefix(static_cast<size_t>(end - text.data()) + 1);
    return value;
}

// "start,end,q/start,end,q/...": q > 0 is a quantiser, otherwise -q is a quality factor in
// percent.
std::vector<RcOverride> ParseRateControlOverrides(const std::string& text)
{
    std::vector<RcOverride> entries;
    std::string_view rest(text);
    while (!rest.empty()) {
        const std::optional<int> start = ReadNumberBeforeSeparator(rest);
        const std::optional<int> end = start ? ReadNumberBeforeSeparator(rest) : std::nullopt;
        if (!end)
            throw FFMpegException("error parsing rc_override");
        int q = 0;
        const auto [qEnd, qError] = std::from_chars(rest.data(), rest.data() + rest.size(), q);
        (void)qError;  // q is not checked: a missing number counts as 0
        RcOverride entry{};
        entry.start_frame = *start;
        entry.end_frame = *end;
        if (q > 0) {
            entry.qscale = q;
            entry.quality_factor = 1.0f;
        } else {
            entry.qscale = 0;
            entry.quality_factor = -q / 100.0f;
        }
        entries.push_back(entry);
        rest.remove_prefix(static_cast<size_t>(qEnd - rest.data()));
        const size_t slash = rest.find('/');
        if (slash == std::string_view::npos)
            break;
        rest.remove_prefix(slash + 1);
    }
    return entries;
}

// The codec's listed frame rate nearest to `rate`; the first of equally near ones.
AVRational NearestSupportedRate(const AVRational* rates, AVRational rate)
{
    AVRational best = rates[0];
    AVRational bestDifference{0, 0};
    for (const AVRational* candidate = rates; candidate->num || candidate->den; ++candidate) {
        AVRational difference = SubtractRational(*candidate, rate);
        difference.num = std::abs(difference.num);
        if (bestDifference.den == 0 || CompareRational(difference, bestDifference) < 0) {
            best = *candidate;
            bestDifference = difference;
        }
    }
    return best;
}

// 16-bit samples where the encoder takes them (an encoder that also keeps 24 bits, FLAC
// or ALAC, writes 16 unless asked for more), 32-bit ones for `bits` above 16.
AVSampleFormat PreferredSampleFormat(const AVCodec* codec, int32_t bits)
{
    if (!codec || !codec->sample_fmts)
        return AV_SAMPLE_FMT_S16;
    const AVSampleFormat wanted[2][2] = {{AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16P},
                                         {AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P}};
    for (const AVSampleFormat candidate : wanted[bits > 16 ? 1 : 0])
        for (const AVSampleFormat* format = codec->sample_fmts; *format != AV_SAMPLE_FMT_NONE;
             ++format)
            if (*format == candidate)
                return *format;
    return codec->sample_fmts[0];
}

void SetLanguage(AVStream* stream, std::string& language)
{
    if (language.empty())
        return;
    avutil.av_dict_set(&stream->metadata, "language", language.substr(0, 3).c_str(), 0);
    language.clear();
}

}  // namespace

void TCustomFFmpegHlpr::AddVideoStream(TOutputFile& output)
{
    AVFormatContext* context = output.Context.get();
    AVStream* stream = NewStream(context, [this] { VideoCodecName.clear(); });
    BitstreamFilters[OutputFileCount][stream->index] = std::move(PendingVideoBitstreamFilters);
    PendingVideoBitstreamFilters.clear();

    AVCodecID id = AV_CODEC_ID_NONE;
    if (!VideoCopy) {
        if (!VideoCodecName.empty()) {
            if (!FindCodecId(VideoCodecName, mkVideo, true, id)) {
                VideoCodecName.clear();
                throw FFMpegException(LastError);
            }
        } else {
            id = avformat.av_guess_codec(context->oformat, nullptr, context->url, nullptr,
                                         AVMEDIA_TYPE_VIDEO);
        }
    }
    TOutputStreamSetup setup;
    setup.Encoder = NewEncoderContext(id, AVMEDIA_TYPE_VIDEO);
    AVCodecContext* c = setup.Encoder.get();
    AVCodecContext* videoDefaults = DefaultCodecContexts[mkVideo].get();
    c->thread_count = ThreadCount;
    if (VideoCodecTag != 0)
        c->codec_tag = static_cast<unsigned>(VideoCodecTag);
    if ((VideoGlobalHeader & 1) ||
        (VideoGlobalHeader == 0 && (context->oformat->flags & AVFMT_GLOBALHEADER))) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        videoDefaults->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (VideoGlobalHeader & 2) {
        c->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        videoDefaults->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }

    if (VideoCopy) {
        setup.StreamCopy = true;
    } else {
        const AVCodec* codec = c->codec_id != AV_CODEC_ID_NONE
                                   ? avcodec.avcodec_find_encoder(c->codec_id)
                                   : nullptr;
        const AVRational fps = FrameRate.num != 0 ? FrameRate : AVRational{25, 1};
        ApplyRecordedOptions(c, videoDefaults, AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM,
                             &setup.EncoderOptions);
        AVRational rate = fps;
        if (codec && codec->supported_framerates)
            rate = NearestSupportedRate(codec->supported_framerates, fps);
        c->time_base = AVRational{rate.den, rate.num};
        c->framerate = rate;
        c->width = FrameWidth + PadLeft + PadRight;
        c->height = FrameHeight + PadTop + PadBottom;
        c->sample_aspect_ratio =
            c->width > 0 ? DoubleToRational(FrameAspectRatio * c->height / c->width, 255)
                         : AVRational{0, 1};
        c->pix_fmt = static_cast<AVPixelFormat>(FramePixelFormat);
        if (codec && codec->pix_fmts) {
            bool listed = false;
            for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
                listed = listed || *f == c->pix_fmt;
            if (!listed)
                c->pix_fmt = codec->pix_fmts[0];
        }
        if (IntraOnly)
            c->gop_size = 0;
        if (VideoQScale != 0 || MatchDecoderQuality) {
            c->flags |= AV_CODEC_FLAG_QSCALE;
            setup.Quality = FF_QP2LAMBDA * VideoQScale;
            c->global_quality = static_cast<int>(setup.Quality);
        }
        // The codec context frees its matrices: it gets copies of the job's.
        if (IntraMatrix)
            c->intra_matrix = static_cast<uint16_t*>(
                avutil.av_memdup(IntraMatrix.get(), 64 * sizeof(uint16_t)));
        if (InterMatrix)
            c->inter_matrix = static_cast<uint16_t*>(
                avutil.av_memdup(InterMatrix.get(), 64 * sizeof(uint16_t)));
        c->max_qdiff = VideoMaxQDiff;
        c->thread_count = ThreadCount;
        std::vector<::RcOverride> overrides;
        try {
            overrides = ParseRateControlOverrides(RcOverride);
        } catch (const FFMpegException&) {
            VideoCodecName.clear();
            throw;
        }
        if (!overrides.empty()) {
            const size_t bytes = overrides.size() * sizeof(::RcOverride);
            c->rc_override = static_cast<::RcOverride*>(avutil.av_malloc(bytes));
            if (c->rc_override)
                std::memcpy(c->rc_override, overrides.data(), bytes);
        }
        c->rc_override_count = c->rc_override ? static_cast<int>(overrides.size()) : 0;
        if (c->rc_initial_buffer_occupancy == 0)
            c->rc_initial_buffer_occupancy = c->rc_buffer_size * 3 / 4;
        c->intra_dc_precision = IntraDcPrecision - 8;
        c->strict_std_compliance = StrictCompliance;
        if (ComputePsnr)
            c->flags |= AV_CODEC_FLAG_PSNR;
        if (PassNumber == 1)
            c->flags |= AV_CODEC_FLAG_PASS1;
        else if (PassNumber != 0)
            c->flags |= AV_CODEC_FLAG_PASS2;
    }
    output.Streams.push_back(std::move(setup));
    VideoDisable = 0;
    VideoCodecName.clear();
    VideoCopy = 0;
}

void TCustomFFmpegHlpr::AddAudioStream(TOutputFile& output)
{
    AVFormatContext* context = output.Context.get();
    AVStream* stream = NewStream(context, [this] {
        AudioCodecName.clear();
        AudioLanguage.clear();
    });
    BitstreamFilters[OutputFileCount][stream->index] = std::move(PendingAudioBitstreamFilters);
    PendingAudioBitstreamFilters.clear();

    AVCodecID id = AV_CODEC_ID_NONE;
    if (!AudioCopy) {
        id = avformat.av_guess_codec(context->oformat, nullptr, context->url, nullptr,
                                     AVMEDIA_TYPE_AUDIO);
        if (!AudioCodecName.empty() && !FindCodecId(AudioCodecName, mkAudio, true, id))
            throw FFMpegException(LastError);
    }
    TOutputStreamSetup setup;
    setup.Encoder = NewEncoderContext(id, AVMEDIA_TYPE_AUDIO);
    AVCodecContext* c = setup.Encoder.get();
    c->thread_count = ThreadCount;
    c->strict_std_compliance = StrictCompliance;
    if (AudioCodecTag != 0)
        c->codec_tag = static_cast<unsigned>(AudioCodecTag);
    if (context->oformat->flags & AVFMT_GLOBALHEADER) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        DefaultCodecContexts[mkAudio]->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (AudioCopy) {
        setup.StreamCopy = true;
    } else {
        ApplyRecordedOptions(c, DefaultCodecContexts[mkAudio].get(),
                             AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM,
                             &setup.EncoderOptions);
        if (AudioQScale > -99999.0f) {
            c->flags |= AV_CODEC_FLAG_QSCALE;
            setup.Quality = FF_QP2LAMBDA * AudioQScale;
            c->global_quality = static_cast<int>(setup.Quality);
        }
        c->sample_fmt = PreferredSampleFormat(c->codec, AudioSampleBits);
        if (AudioSampleBits > 16 && avutil.av_get_bytes_per_sample(c->sample_fmt) == 4)
            c->bits_per_raw_sample = AudioSampleBits;
    }
    avutil.av_channel_layout_uninit(&c->ch_layout);
    avutil.av_channel_layout_default(&c->ch_layout, AudioChannels);
    c->sample_rate = AudioSampleRate;
    c->time_base = AVRational{1, AudioSampleRate};
    // Unless a setting chose them since, these are the last audio stream's values; the
    // stream that feeds this one is known only to the transcode.
    setup.FollowSourceRate = AudioSampleRateChosenAt != InputFileCount;
    setup.FollowSourceChannels = AudioChannelsChosenAt != InputFileCount;
    SetLanguage(stream, AudioLanguage);
    output.Streams.push_back(std::move(setup));
    AudioDisable = 0;
    AudioCodecName.clear();
    AudioCopy = 0;
}

void TCustomFFmpegHlpr::AddSubtitleStream(TOutputFile& output)
{
    AVFormatContext* context = output.Context.get();
    AVStream* stream = NewStream(context, [this] {
        SubtitleCodecName.clear();
        SubtitleLanguage.clear();
    });
    BitstreamFilters[OutputFileCount][stream->index] = std::move(PendingSubtitleBitstreamFilters);
    PendingSubtitleBitstreamFilters.clear();

    AVCodecID id = AV_CODEC_ID_NONE;
    if (!SubtitleCopy) {
        if (!FindCodecId(SubtitleCodecName, mkSubtitle, true, id))
            throw FFMpegException(LastError);
        // Nothing sets a subtitle encoder by name; without one the output's own subtitle
        // codec serves, so that subtitles can be carried over at all.
        if (id == AV_CODEC_ID_NONE)
            id = avformat.av_guess_codec(context->oformat, nullptr, context->url, nullptr,
                                         AVMEDIA_TYPE_SUBTITLE);
    }
    TOutputStreamSetup setup;
    setup.Encoder = NewEncoderContext(id, AVMEDIA_TYPE_SUBTITLE);
    if (SubtitleCopy)
        setup.StreamCopy = true;
    else
        ApplyRecordedOptions(setup.Encoder.get(), DefaultCodecContexts[mkSubtitle].get(),
                             AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM,
                             &setup.EncoderOptions);
    // Subtitle encoders refuse to open without a time base.
    setup.Encoder->time_base = AVRational{1, 1000};
    SetLanguage(stream, SubtitleLanguage);
    output.Streams.push_back(std::move(setup));
    SubtitleDisable = 0;
    SubtitleCodecName.clear();
    SubtitleCopy = 0;
}

}  // namespace kelvaro
