// Everything the transcode does before the first packet is read: the stream records, the
// binding of output streams to input streams, stream copy and re-encode preparation, the
// codecs and the output headers.

#include <cstring>

#include "engine/job.h"
#include "engine/media_error.h"
#include "engine/text_format.h"
#include "engine/transcode_state.h"
#include "medialib/media_functions.h"
#include "medialib/media_helpers.h"

namespace kelvaro {
namespace {

// The time base a stream's decoder would report: one sample for audio, one frame for video.
AVRational DecoderTimeBase(const AVStream* stream)
{
    const AVCodecParameters* parameters = stream->codecpar;
    if (parameters->codec_type == AVMEDIA_TYPE_AUDIO && parameters->sample_rate > 0)
        return AVRational{1, parameters->sample_rate};
    if (parameters->codec_type == AVMEDIA_TYPE_VIDEO && stream->r_frame_rate.num > 0 &&
        stream->r_frame_rate.den > 0)
        return AVRational{stream->r_frame_rate.den, stream->r_frame_rate.num};
    return AVRational{0, 1};
}

// Whether pad bands can be painted plane by plane, in one colour value per plane: 8-bit
// planar YUV without alpha.
bool CanPaintPadBands(AVPixelFormat format)
{
    const AVPixFmtDescriptor* descriptor = avutil.av_pix_fmt_desc_get(format);
    return descriptor && descriptor->nb_components == 3 &&
           (descriptor->flags & AV_PIX_FMT_FLAG_PLANAR) &&
           !(descriptor->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) &&
           descriptor->comp[0].depth == 8 && descriptor->comp[1].plane == 1 &&
           descriptor->comp[2].plane == 2;
}

const char* PixelFormatName(AVPixelFormat format)
{
    const char* name = avutil.av_get_pix_fmt_name(format);
    return name ? name : "none";
}

const char* Language(const AVStream* stream)
{
    const AVDictionaryEntry* entry = avutil.av_dict_get(stream->metadata, "language", nullptr, 0);
    return entry ? entry->value : nullptr;
}

// What a header may claim and still be converted: beyond these, a crafted or broken file
// would cost minutes and gigabytes in resamplers and buffers before failing anyway.
constexpr int kMaxSampleRate = 768000;
constexpr int kMaxChannels = 64;  // also the resampler's limit
constexpr int kMaxAudioBlockBytes = 1 << 20;

// Refuses audio parameters that cannot be true; `what` names the stream in the message.
void CheckAudioBounds(const std::string& what, int sampleRate, int channels, int blockBytes)
{
    if (sampleRate < 1 || sampleRate > kMaxSampleRate)
        throw FFMpegException(
            Format("%s has a sample rate of %d Hz; only 1 to %d Hz can be converted", what.c_str(),
                   sampleRate, kMaxSampleRate));
    if (channels < 1 || channels > kMaxChannels)
        throw FFMpegException(Format("%s has %d channels; only 1 to %d can be converted",
                                     what.c_str(), channels, kMaxChannels));
    if (blockBytes < 0 || blockBytes > kMaxAudioBlockBytes)
        throw FFMpegException(Format("%s has audio blocks of %d bytes, which cannot be true",
                                     what.c_str(), blockBytes));
}

// The tags a recording is known by, under the library's names; after each, other names
// it may come under. Lookups ignore case, so Vorbis comments' upper-case names match too.
struct TCopiedTag {
    const char* Name;
    const char* Aliases[2];
};
constexpr TCopiedTag kCopiedTags[] = {
    {"title", {}},
    {"artist", {"author"}},
    {"album", {}},
    {"album_artist", {"albumartist", "album artist"}},
    {"date", {"year"}},
    {"track", {"tracknumber"}},
    {"disc", {"discnumber"}},
    {"genre", {}},
    {"composer", {}},
    {"comment", {"description"}},
    {"copyright", {}},
};

const char* FindTag(const AVDictionary* tags, const TCopiedTag& tag)
{
    if (const AVDictionaryEntry* entry = avutil.av_dict_get(tags, tag.Name, nullptr, 0))
        return entry->value;
    for (const char* alias : tag.Aliases)
        if (alias)
            if (const AVDictionaryEntry* entry = avutil.av_dict_get(tags, alias, nullptr, 0))
                return entry->value;
    return nullptr;
}

// Copies an input's tags into an output's, without replacing the tags the job set itself.
// Formats that keep their tags on the stream (Ogg) have them on the first audio stream.
void CopyTags(const AVFormatContext* input, AVDictionary** output)
{
    const AVDictionary* streamTags = nullptr;
    for (unsigned i = 0; i < input->nb_streams && !streamTags; ++i)
        if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            streamTags = input->streams[i]->metadata;
    for (const TCopiedTag& tag : kCopiedTags) {
        const char* value = FindTag(input->metadata, tag);
        if (!value)
            value = FindTag(streamTags, tag);
        if (value)
            avutil.av_dict_set(output, tag.Name, value, AV_DICT_DONT_OVERWRITE);
    }
}

}  // namespace

void TCustomFFmpegHlpr::Transcode()
{
    try {
        SetUpTranscode();
        RunMainLoop();
    } catch (...) {
        ReleaseTranscodeState();
        throw;
    }
    ReleaseTranscodeState();
}

void TCustomFFmpegHlpr::AddStreamMap(int32_t file, int32_t stream, int32_t syncFile,
                                     int32_t syncStream)
{
    if (StreamMapCount >= kMaxFiles)
        throw FFMpegException(Format("Too many stream maps (at most %d)", kMaxFiles));
    if (syncFile < 0 || syncStream < 0) {
        syncFile = file;
        syncStream = stream;
    }
    StreamMaps[StreamMapCount++] = TStreamMap{file, stream, syncFile, syncStream};
}

void TCustomFFmpegHlpr::AddStreamMap(const std::string& text)
{
    int file = 0, stream = 0, syncFile = -1, syncStream = -1, consumed = 0;
    const int fields = std::sscanf(text.c_str(), "%d.%d%n:%d.%d%n", &file, &stream, &consumed,
                                   &syncFile, &syncStream, &consumed);
    if (fields != 2 && fields != 4)
        throw FFMpegException(Format("Invalid stream map '%s'", text.c_str()));
    if (static_cast<size_t>(consumed) != text.size())
        throw FFMpegException(Format("Invalid stream map '%s'", text.c_str()));
    AddStreamMap(file, stream, syncFile, syncStream);
}

void TCustomFFmpegHlpr::AddTagCopyMap(int32_t outputFile, int32_t inputFile)
{
    if (TagCopyMapCount >= kMaxFiles)
        throw FFMpegException(Format("Too many metadata maps (at most %d)", kMaxFiles));
    TagCopyMaps[TagCopyMapCount++] = TTagCopyMap{outputFile, inputFile};
}

void TCustomFFmpegHlpr::AddBitstreamFilter(TMediaKind kind, const std::string& name)
{
    std::string& chain = kind == mkVideo   ? PendingVideoBitstreamFilters
                         : kind == mkAudio ? PendingAudioBitstreamFilters
                                           : PendingSubtitleBitstreamFilters;
    chain += chain.empty() ? name : "," + name;
}

void TCustomFFmpegHlpr::SetUpTranscode()
{
    TranscodeWarning.clear();
    // Input files and their streams, file 0's streams first.
    for (int file = 0; file < InputFileCount; ++file) {
        auto state = std::make_unique<TInputFileState>();
        state->FirstStreamIndex = static_cast<int32_t>(InputStreams.size());
        AVFormatContext* context = InputFiles[file].Context.get();
        state->StreamCount = static_cast<int32_t>(context->nb_streams);
        for (unsigned i = 0; i < context->nb_streams; ++i) {
            auto stream = std::make_unique<TInputStreamState>();
            stream->FileIndex = file;
            stream->StreamIndex = static_cast<int32_t>(i);
            stream->Stream = context->streams[i];
            stream->DecoderSlot = &InputFiles[file].Decoders[i];
            stream->DecoderChoice = InputFiles[file].DecoderChoices[i];
            stream->DecoderOptions = &InputFiles[file].DecoderOptions[i];
            stream->RateEmulation = InputFiles[file].RateEmulation;
            if (stream->RateEmulation)
                stream->RateEmuStart = avutil.av_gettime();
            InputStreams.push_back(std::move(stream));
        }
        InputFileStates.push_back(std::move(state));
    }

    int outputStreamCount = 0;
    for (int file = 0; file < OutputFileCount; ++file) {
        if (OutputFiles[file].Context->nb_streams == 0)
            throw FFMpegException("Output file does not contain any stream");
        outputStreamCount += static_cast<int>(OutputFiles[file].Context->nb_streams);
    }
    if (StreamMapCount > 0 && StreamMapCount != outputStreamCount)
        throw FFMpegException("Number of stream maps must match number of output streams");
    auto streamExists = [this](int file, int stream) {
        return file >= 0 && file < InputFileCount && stream >= 0 &&
               stream < InputFileStates[file]->StreamCount;
    };
    for (int i = 0; i < StreamMapCount; ++i) {
        const TStreamMap& map = StreamMaps[i];
        if (!streamExists(map.FileIndex, map.StreamIndex))
            throw FFMpegException(
                Format("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex));
        if (!streamExists(map.SyncFileIndex, map.SyncStreamIndex))
            throw FFMpegException(Format("Could not find sync stream #%d.%d", map.SyncFileIndex,
                                         map.SyncStreamIndex));
    }

    for (int file = 0; file < OutputFileCount; ++file) {
        for (unsigned i = 0; i < OutputFiles[file].Context->nb_streams; ++i) {
            auto stream = std::make_unique<TOutputStreamState>();
            stream->FileIndex = file;
            stream->StreamIndex = static_cast<int32_t>(i);
            stream->Stream = OutputFiles[file].Context->streams[i];
            stream->Setup = &OutputFiles[file].Streams[i];
            OutputStreams.push_back(std::move(stream));
        }
    }

    // Source choice.
    for (size_t n = 0; n < OutputStreams.size(); ++n) {
        TOutputStreamState& output = *OutputStreams[n];
        const AVMediaType type = output.Encoder()->codec_type;
        int source = -1;
        if (StreamMapCount > 0) {
            const TStreamMap& map = StreamMaps[n];
            source = InputFileStates[map.FileIndex]->FirstStreamIndex + map.StreamIndex;
            if (InputStreams[source]->Stream->codecpar->codec_type != type)
                throw FFMpegException(Format("Codec type mismatch for mapping #%d.%d -> #%d.%d",
                                             map.FileIndex, map.StreamIndex, output.FileIndex,
                                             output.StreamIndex));
        } else if (ProgramId != 0) {
            for (int file = 0; file < InputFileCount && source < 0; ++file) {
                const AVFormatContext* context = InputFiles[file].Context.get();
                for (unsigned p = 0; p < context->nb_programs && source < 0; ++p) {
                    const AVProgram* program = context->programs[p];
                    if (program->id != ProgramId)
                        continue;
                    for (unsigned k = 0; k < program->nb_stream_indexes && source < 0; ++k) {
                        const int candidate = InputFileStates[file]->FirstStreamIndex +
                                              static_cast<int>(program->stream_index[k]);
                        const TInputStreamState& input = *InputStreams[candidate];
                        if (input.Discard && input.Stream->codecpar->codec_type == type)
                            source = candidate;
                    }
                }
            }
        } else {
            for (size_t k = 0; k < InputStreams.size() && source < 0; ++k)
                if (InputStreams[k]->Discard && InputStreams[k]->Stream->codecpar->codec_type == type)
                    source = static_cast<int>(k);
            // Every stream of the kind is taken: share the last one.
            if (source < 0)
                for (size_t k = InputStreams.size(); k-- > 0 && source < 0;)
                    if (InputStreams[k]->Stream->codecpar->codec_type == type)
                        source = static_cast<int>(k);
        }
        if (source < 0)
            throw FFMpegException(Format("Could not find input stream matching output stream #%d.%d",
                                         output.FileIndex, output.StreamIndex));
        output.SourceIndex = source;
        InputStreams[source]->Discard = 0;
        if (StreamMapCount > 0) {
            const TStreamMap& map = StreamMaps[n];
            output.SyncStream =
                InputStreams[InputFileStates[map.SyncFileIndex]->FirstStreamIndex +
                             map.SyncStreamIndex]
                    .get();
        } else {
            output.SyncStream = InputStreams[source].get();
        }
    }

    // Sanity bounds, before any resampler or buffer is sized from them.
    for (const auto& output : OutputStreams) {
        const AVCodecParameters* source = InputStreams[output->SourceIndex]->Stream->codecpar;
        if (source->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        const TInputStreamState& input = *InputStreams[output->SourceIndex];
        CheckAudioBounds(Format("Input stream #%d.%d", input.FileIndex, input.StreamIndex),
                         source->sample_rate, source->ch_layout.nb_channels, source->block_align);
        if (!output->Setup->StreamCopy)
            CheckAudioBounds(Format("Output stream #%d.%d", output->FileIndex, output->StreamIndex),
                             output->Encoder()->sample_rate,
                             output->Encoder()->ch_layout.nb_channels, 0);
    }

    // Stream parameters.
    for (size_t n = 0; n < OutputStreams.size(); ++n) {
        TOutputStreamState& output = *OutputStreams[n];
        TInputStreamState& input = *InputStreams[output.SourceIndex];
        if (!Language(output.Stream))
            if (const char* language = Language(input.Stream))
                avutil.av_dict_set(&output.Stream->metadata, "language", language, 0);
        output.Stream->disposition = input.Stream->disposition;
        if (output.Setup->StreamCopy)
            PrepareStreamCopy(output, input);
        else
            PrepareReEncode(output, input);
        if (output.EncodingNeeded)
            OpenTwoPassStatistics(output, static_cast<int>(n));
        const AVCodecParameters* parameters = output.Setup->StreamCopy
                                                  ? output.Stream->codecpar
                                                  : nullptr;
        const int width = parameters ? parameters->width : output.Encoder()->width;
        const int height = parameters ? parameters->height : output.Encoder()->height;
        if (output.Encoder()->codec_type == AVMEDIA_TYPE_VIDEO &&
            int64_t{4} * width * height > EncodeBufferSize)
            EncodeBufferSize = 4 * width * height;
    }
    // Describe the outputs as they are configured (the muxer reads the stream parameters).
    for (const auto& output : OutputStreams)
        if (!output->Setup->StreamCopy)
            avcodec.avcodec_parameters_from_context(output->Stream->codecpar, output->Encoder());
    for (int file = 0; file < OutputFileCount; ++file)
        avformat.av_dump_format(OutputFiles[file].Context.get(), file,
                                OutputFiles[file].Context->url, 1);

    if (JobLogLevel >= 0) {
        Log(1, "Stream mapping:");
        for (const auto& output : OutputStreams) {
            const TInputStreamState& source = *InputStreams[output->SourceIndex];
            Log(1, Format("  Stream #%d.%d -> #%d.%d", source.FileIndex, source.StreamIndex,
                          output->FileIndex, output->StreamIndex));
            if (output->SyncStream != &source)
                Log(1, Format(" [sync #%d.%d]", output->SyncStream->FileIndex,
                              output->SyncStream->StreamIndex));
        }
    }

    OpenCodecs();

    for (const auto& input : InputStreams) {
        input->Pts = 0;
        input->NextPts = AV_NOPTS_VALUE;
        input->AudioStartPending = 1;
    }

    for (int i = 0; i < TagCopyMapCount; ++i) {
        const TTagCopyMap& map = TagCopyMaps[i];
        if (map.OutputFile < 0 || map.OutputFile >= OutputFileCount)
            throw FFMpegException(Format("Invalid output file index %d map_meta_data(%d,%d)",
                                         map.OutputFile, map.OutputFile, map.InputFile));
        if (map.InputFile < 0 || map.InputFile >= InputFileCount)
            throw FFMpegException(Format("Invalid input file index %d map_meta_data(%d,%d)",
                                         map.InputFile, map.OutputFile, map.InputFile));
        CopyTags(InputFiles[map.InputFile].Context.get(),
                 &OutputFiles[map.OutputFile].Context->metadata);
    }

    WriteHeaders();
    RunStartTime = avutil.av_gettime();
}

void TCustomFFmpegHlpr::PrepareStreamCopy(TOutputStreamState& output, TInputStreamState& input)
{
    AVCodecParameters* target = output.Stream->codecpar;
    const AVCodecParameters* source = input.Stream->codecpar;
    const unsigned forcedTag = output.Encoder()->codec_tag;
    if (avcodec.avcodec_parameters_copy(target, source) < 0)
        throw FFMpegException("av_mallocz fail");
    // Keep the source's tag only where the output format can carry it.
    const AVCodecTag* const* tags = OutputFiles[output.FileIndex].Context->oformat->codec_tag;
    if (forcedTag != 0) {
        target->codec_tag = forcedTag;
    } else if (tags && avformat.av_codec_get_id(tags, source->codec_tag) == AV_CODEC_ID_NONE &&
               avformat.av_codec_get_tag(tags, source->codec_id) != 0) {
        target->codec_tag = 0;
    }

    const AVRational decoderBase = DecoderTimeBase(input.Stream);
    const AVRational streamBase = input.Stream->time_base;
    output.Stream->time_base =
        decoderBase.num > 0 && CompareRational(decoderBase, streamBase) > 0 &&
                CompareRational(streamBase, AVRational{1, 1000}) < 0
            ? decoderBase
            : streamBase;

    switch (source->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        if (target->block_align == 1 && target->codec_id == AV_CODEC_ID_MP3)
            target->block_align = 0;
        break;
    case AVMEDIA_TYPE_VIDEO:
        if (VideoHookUsed)
            throw FFMpegException(
                "-vcodec copy and -vhook are incompatible (frames are not decoded)");
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        break;
    default:
        throw FFMpegException("invalid codec_type of output stream");
    }
}

void TCustomFFmpegHlpr::PrepareReEncode(TOutputStreamState& output, TInputStreamState& input)
{
    AVCodecContext* encoder = output.Encoder();
    const AVCodecParameters* source = input.Stream->codecpar;
    switch (encoder->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        output.Fifo.reset(avutil.av_fifo_alloc2(1024, 1, 0));
        if (!output.Fifo)
            throw FFMpegException("av_fifo_init fail");
        if (output.Setup->FollowSourceRate && source->sample_rate > 0) {
            encoder->sample_rate = source->sample_rate;
            encoder->time_base = AVRational{1, source->sample_rate};
        }
        if (output.Setup->FollowSourceChannels && source->ch_layout.nb_channels > 0) {
            avutil.av_channel_layout_uninit(&encoder->ch_layout);
            avutil.av_channel_layout_default(&encoder->ch_layout, source->ch_layout.nb_channels);
        }
        output.AudioResample = encoder->sample_rate != source->sample_rate || AudioSyncMode > 1;
        break;
    case AVMEDIA_TYPE_VIDEO: {
        output.VideoCrop = CropTop + CropBottom + CropLeft + CropRight != 0;
        output.VideoPad = PadTop + PadBottom + PadLeft + PadRight != 0;
        const int width = source->width - CropLeft - CropRight;
        const int height = source->height - CropTop - CropBottom;
        output.VideoResample =
            !(width + PadLeft + PadRight == encoder->width &&
              height + PadTop + PadBottom == encoder->height && source->format == encoder->pix_fmt);
        if (output.VideoCrop) {
            output.CropTop = CropTop;
            output.CropBottom = CropBottom;
            output.CropLeft = CropLeft;
            output.CropRight = CropRight;
        }
        if (output.VideoPad) {
            if (!CanPaintPadBands(encoder->pix_fmt))
                throw FFMpegException(Format("Pictures of pixel format %s cannot be padded",
                                             PixelFormatName(encoder->pix_fmt)));
            output.PadTop = PadTop;
            output.PadBottom = PadBottom;
            output.PadLeft = PadLeft;
            output.PadRight = PadRight;
        }
        output.Picture.reset(avutil.av_frame_alloc());
        if (!output.Picture)
            throw FFMpegException("av_mallocz fail");
        if (output.VideoPad || output.VideoResample)
            PrepareWorkPicture(output);
        if (output.VideoResample) {
            int64_t flags = ScalerFlags;
            avutil.av_opt_get_int(DefaultScalerContext.get(), "sws_flags", 0, &flags);
            ScalerFlags = static_cast<int32_t>(flags);
            // A stream whose pictures the probe could not size gets its scaler from the first
            // picture decoded.
            if (avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(source->format)) &&
                source->width > 0 && source->height > 0)
                PrepareScaler(output, width, height, source->format);
        }
        if (Deinterlace && JobLogLevel >= 0)
            Log(0, "Deinterlacing is not available: pictures are encoded as they are decoded");
        break;
    }
    case AVMEDIA_TYPE_SUBTITLE:
        break;
    default:
        throw FFMpegException("invalid codec_type of output stream");
    }
    input.DecodingNeeded = 1;
    output.EncodingNeeded = 1;
}

void TCustomFFmpegHlpr::OpenTwoPassStatistics(TOutputStreamState& output, int globalIndex)
{
    AVCodecContext* encoder = output.Encoder();
    if (!(encoder->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)))
        return;
    std::string name = Format("%s-%d.log",
                              PassLogBaseName.empty() ? "ffmpeg2pass" : PassLogBaseName.c_str(),
                              globalIndex)
                           .substr(0, 1023);
    if (encoder->flags & AV_CODEC_FLAG_PASS1) {
        output.LogFile.reset(std::fopen(name.c_str(), "w"));
        if (!output.LogFile)
            throw FFMpegException("creat file fail: " + name);
        return;
    }
    FilePtr file(std::fopen(name.c_str(), "r"));
    if (!file)
        throw FFMpegException("creat open fail: " + name);
    std::fseek(file.get(), 0, SEEK_END);
    const long size = std::ftell(file.get());
    std::fseek(file.get(), 0, SEEK_SET);
    char* text = static_cast<char*>(avutil.av_malloc(static_cast<size_t>(size < 0 ? 0 : size) + 1));
    if (!text)
        throw FFMpegException("Could not allocate log buffer");
    const size_t read = std::fread(text, 1, static_cast<size_t>(size < 0 ? 0 : size), file.get());
    text[read] = '\0';
    avutil.av_freep(&encoder->stats_in);
    encoder->stats_in = text;  // freed with the encoder context
}

void TCustomFFmpegHlpr::OpenCodecs()
{
    for (const auto& output : OutputStreams) {
        if (!output->EncodingNeeded)
            continue;
        AVCodecContext* encoder = output->Encoder();
        const AVCodec* codec = avcodec.avcodec_find_encoder(encoder->codec_id);
        if (!codec)
            throw FFMpegException(Format("Unsupported codec for output stream #%d.%d",
                                         output->FileIndex, output->StreamIndex));
        Dictionary options;
        avutil.av_dict_copy(options.Address(), output->Setup->EncoderOptions.Get(), 0);
        int result;
        {
            std::lock_guard lock(*CodecLock);
            result = avcodec.avcodec_open2(encoder, codec, options.Address());
        }
        if (result < 0)
            throw FFMpegException(
                Format("Error while opening codec for output stream #%d.%d - maybe incorrect "
                       "parameters such as bit_rate, rate, width or height: %s",
                       output->FileIndex, output->StreamIndex, ErrorReason(result).c_str()));
        OpenedEncoders.push_back(&output->Setup->Encoder);
        // The muxer reads only the stream's parameters, and what the encoder says of its
        // output beside them (the MPEG muxers size their buffers from the coded picture
        // buffer the encoder announces).
        avcodec.avcodec_parameters_from_context(output->Stream->codecpar, encoder);
        for (int i = 0; i < encoder->nb_coded_side_data; ++i) {
            const AVPacketSideData& side = encoder->coded_side_data[i];
            uint8_t* copy = avformat.av_stream_new_side_data(output->Stream, side.type, side.size);
            if (!copy)
                throw FFMpegException("av_mallocz fail");
            std::memcpy(copy, side.data, side.size);
        }
        output->Stream->time_base = encoder->time_base;
        if (encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
            output->Stream->avg_frame_rate = encoder->framerate;
            output->Stream->sample_aspect_ratio = encoder->sample_aspect_ratio;
        }
        HeaderBytesWritten += encoder->extradata_size;
    }

    // An encoder that keeps more than 16 bits gets its source's samples at 32 bits; outputs
    // fed by the same source that keep 16 convert them down as they always did.
    for (const auto& output : OutputStreams) {
        const AVCodecContext* encoder = output->Encoder();
        if (output->EncodingNeeded && encoder->codec_type == AVMEDIA_TYPE_AUDIO &&
            (encoder->sample_fmt == AV_SAMPLE_FMT_S32 ||
             encoder->sample_fmt == AV_SAMPLE_FMT_S32P)) {
            InputStreams[output->SourceIndex]->SampleFormat = AV_SAMPLE_FMT_S32;
            InputStreams[output->SourceIndex]->SampleBytes = 4;
        }
    }
    for (const auto& output : OutputStreams) {
        output->SampleFormat = InputStreams[output->SourceIndex]->SampleFormat;
        output->SampleBytes = InputStreams[output->SourceIndex]->SampleBytes;
    }

    for (size_t i = 0; i < InputStreams.size(); ++i) {
        TInputStreamState& input = *InputStreams[i];
        if (!input.DecodingNeeded)
            continue;
        Dictionary options;
        avutil.av_dict_copy(options.Address(), input.DecoderOptions->Get(), 0);
        std::unique_ptr<TDecoder> decoder =
            OpenDecoder(*input.DecoderSlot, options.Address(), *CodecLock, input.FileIndex,
                        input.StreamIndex, input.DecoderChoice);
        input.OpenedDecoder = decoder.get();
        OpenedDecoders.push_back(std::move(decoder));
    }
}

void TCustomFFmpegHlpr::SetUpBitstreamFilters(TOutputStreamState& output)
{
    const std::string& chain = BitstreamFilters[output.FileIndex][output.StreamIndex];
    size_t start = 0;
    while (start < chain.size()) {
        const size_t comma = chain.find(',', start);
        const std::string name =
            chain.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? chain.size() : comma + 1;
        const AVBitStreamFilter* filter = avcodec.av_bsf_get_by_name(name.c_str());
        AVBSFContext* context = nullptr;
        if (!filter || avcodec.av_bsf_alloc(filter, &context) < 0)
            throw FFMpegException(Format("Unknown bitstream filter %s", name.c_str()));
        BsfContextPtr owner(context);
        if (avcodec.avcodec_parameters_copy(context->par_in, output.Stream->codecpar) < 0)
            throw FFMpegException("av_mallocz fail");
        context->time_base_in = output.Stream->time_base;
        if (avcodec.av_bsf_init(context) < 0)
            throw FFMpegException(Format("%s cannot filter output stream #%d.%d", name.c_str(),
                                         output.FileIndex, output.StreamIndex));
        // A filter may change what the stream carries; the muxer must see its result.
        if (avcodec.avcodec_parameters_copy(output.Stream->codecpar, context->par_out) < 0)
            throw FFMpegException("av_mallocz fail");
        output.BitstreamFilters.push_back(std::move(owner));
    }
}

void TCustomFFmpegHlpr::WriteHeaders()
{
    for (const auto& output : OutputStreams)
        SetUpBitstreamFilters(*output);
    bool allRtp = OutputFileCount > 0;
    for (int file = 0; file < OutputFileCount; ++file) {
        TOutputFile& output = OutputFiles[file];
        Dictionary options;
        avutil.av_dict_copy(options.Address(), output.MuxerOptions.Get(), 0);
        if (const int written =
                avformat.avformat_write_header(output.Context.get(), options.Address());
            written < 0)
            throw FFMpegException(Format(
                "Could not write header for output file #%d (incorrect codec parameters ?): %s",
                file, ErrorReason(written).c_str()));
        allRtp = allRtp && std::strcmp(output.Context->oformat->name, "rtp") == 0;
    }
    if (allRtp && LogHandler) {
        std::vector<AVFormatContext*> contexts;
        for (int file = 0; file < OutputFileCount; ++file)
            contexts.push_back(OutputFiles[file].Context.get());
        char text[2048] = {};
        avformat.av_sdp_create(contexts.data(), OutputFileCount, text, sizeof text);
        std::string sdp(text);
        while (!sdp.empty() && std::isspace(static_cast<unsigned char>(sdp.back())))
            sdp.pop_back();
        Log(1, "SDP: " + sdp);
    }
}

void TCustomFFmpegHlpr::ReleaseTranscodeState()
{
    InputFileStates.clear();
    InputStreams.clear();
    // Streams' files, FIFOs, pictures, scalers and resamplers go with their records; the
    // codecs are closed by the loop's end or by Run.
    OutputStreams.clear();
}

}  // namespace kelvaro
