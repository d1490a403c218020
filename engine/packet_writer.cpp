// Where packets leave the engine: through the output stream's bitstream filters to the
// interleaving muxer. Also the subtitle path, which re-encodes one decoded subtitle.

#include "engine/job.h"
#include "engine/media_error.h"
#include "engine/text_format.h"
#include "engine/transcode_state.h"
#include "medialib/media_functions.h"
#include "medialib/media_helpers.h"

namespace kelvaro {
namespace {

constexpr int kSubtitleBufferSize = 65536;

}  // namespace

void TCustomFFmpegHlpr::WritePacket(TOutputStreamState& output, AVPacket* packet)
{
    FilterAndWrite(output, 0, packet);
}

void TCustomFFmpegHlpr::FilterAndWrite(TOutputStreamState& output, size_t filterIndex,
                                       AVPacket* packet)
{
    if (filterIndex == output.BitstreamFilters.size()) {
        KeepTimestampsRising(output, *packet);
        TOutputFile& file = OutputFiles[output.FileIndex];
        const int result = avformat.av_interleaved_write_frame(file.Context.get(), packet);
        if (result < 0)
            throw FFMpegException(MediaErrorText("av_interleaved_write_frame()", result));
        file.WroteMedia = true;
        return;
    }
    AVBSFContext* filter = output.BitstreamFilters[filterIndex].get();
    auto reportFailure = [&](int code) {
        if (!LogHandler)
            return;
        const AVCodecContext* encoder = output.Encoder();
        const char* codec = encoder && encoder->codec ? encoder->codec->name : "copy";
        Log(0, MediaErrorText(Format("%s failed for stream %d, codec %s", filter->filter->name,
                                     packet->stream_index, codec),
                              code));
    };
    // The filter takes the packet over; keep it to pass on unfiltered when the filter fails.
    PacketPtr input(avcodec.av_packet_alloc());
    int result = input ? avcodec.av_packet_ref(input.get(), packet) : AVERROR(ENOMEM);
    if (result >= 0)
        result = avcodec.av_bsf_send_packet(filter, input.get());
    if (result < 0) {
        reportFailure(result);
        FilterAndWrite(output, filterIndex + 1, packet);
        return;
    }
    bool filtered = false;
    PacketPtr out(avcodec.av_packet_alloc());
    while ((result = avcodec.av_bsf_receive_packet(filter, out.get())) >= 0) {
        filtered = true;
        FilterAndWrite(output, filterIndex + 1, out.get());
        avcodec.av_packet_unref(out.get());
    }
    if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) {
        reportFailure(result);
        if (!filtered)
            FilterAndWrite(output, filterIndex + 1, packet);
    }
}

void TCustomFFmpegHlpr::KeepTimestampsRising(TOutputStreamState& output, AVPacket& packet)
{
    if (packet.dts != AV_NOPTS_VALUE)
        packet.dts += output.TimestampShift;
    if (packet.pts != AV_NOPTS_VALUE)
        packet.pts += output.TimestampShift;
    // The muxer takes the presentation time when no decoding time is given.
    int64_t& stamp = packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
    if (stamp == AV_NOPTS_VALUE)
        return;
    // Most muxers refuse a time that does not rise (subtitles may repeat one); whatever the
    // input's timestamps did, the output goes on from where it was.
    const bool subtitle = output.Stream->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE;
    if (output.LastDts != AV_NOPTS_VALUE &&
        (stamp < output.LastDts || (stamp == output.LastDts && !subtitle))) {
        const int64_t step = output.LastDts + (subtitle ? 0 : 1) - stamp;
        output.TimestampShift += step;
        if (&stamp == &packet.dts && packet.pts != AV_NOPTS_VALUE)
            packet.pts += step;
        stamp += step;
        if (packet.pts != AV_NOPTS_VALUE && packet.pts < packet.dts)
            packet.pts = packet.dts;
        if (JobLogLevel >= 0)
            Log(1, Format("Timestamps of output stream #%d.%d went back by %.3f s; corrected",
                          output.FileIndex, output.StreamIndex,
                          step * RationalToDouble(output.Stream->time_base)));
    }
    output.LastDts = stamp;
}

void TCustomFFmpegHlpr::DoSubtitleOutput(TOutputStreamState& output, TInputStreamState& input,
                                         AVSubtitle& subtitle, int64_t pts)
{
    if (pts == AV_NOPTS_VALUE) {
        Log(0, "Subtitle packets must have a pts");
        return;
    }
    if (SubtitleBuffer.empty())
        SubtitleBuffer.resize(kSubtitleBufferSize);
    AVCodecContext* encoder = output.Encoder();
    const bool dvb = encoder->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    PacketPtr packet(avcodec.av_packet_alloc());
    if (!packet)
        throw FFMpegException("av_mallocz fail");
    for (int copy = 0; copy < (dvb ? 2 : 1); ++copy) {
        const int size = avcodec.avcodec_encode_subtitle(encoder, SubtitleBuffer.data(),
                                                         kSubtitleBufferSize, &subtitle);
        if (size < 0)
            throw FFMpegException("Subtitle encoding failed");
        avcodec.av_packet_unref(packet.get());
        packet->data = SubtitleBuffer.data();
        packet->size = size;
        packet->stream_index = output.StreamIndex;
        packet->pts = avutil.av_rescale_q(pts, input.Stream->time_base, output.Stream->time_base);
        if (dvb)
            packet->pts +=
                90 * (copy == 0 ? subtitle.start_display_time : subtitle.end_display_time);
        else if (subtitle.end_display_time > subtitle.start_display_time)
            packet->duration =
                avutil.av_rescale_q(subtitle.end_display_time - subtitle.start_display_time,
                                    AVRational{1, 1000}, output.Stream->time_base);
        packet->dts = packet->pts;
        WritePacket(output, packet.get());
    }
}

}  // namespace kelvaro
