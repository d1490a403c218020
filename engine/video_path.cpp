// The video output path: decides from the clocks how often a decoded picture is written
// (dropped when the output runs ahead, repeated when it lags), crops, scales and pads it into
// the output's geometry, and encodes each copy.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/job.h"
#include "engine/text_format.h"
#include "engine/transcode_state.h"
#include "medialib/media_functions.h"

namespace kelvaro {
namespace {

// The encoder flags under which the field order of a picture matters.
constexpr int kInterlacedCoding = AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;

int PlaneShift(int plane, int chromaShift)
{
    return plane == 1 || plane == 2 ? chromaShift : 0;
}

// Rows or columns of a plane, rounded up as the library sizes its planes.
int PlaneSize(int size, int shift)
{
    return -((-size) >> shift);
}

}  // namespace

void TCustomFFmpegHlpr::DoVideoOutput(TOutputStreamState& output, TInputStreamState& input,
                                      const AVFrame& decoded)
{
    const int64_t room = int64_t{MaxFrames[mkVideo]} - output.FrameNumber;
    const int copies = static_cast<int>(std::min<int64_t>(VideoCopies(output), room));
    if (copies <= 0)
        return;
    AVFrame* picture = FormatPicture(output, decoded);
    if (!picture)
        return;

    picture->interlaced_frame = decoded.interlaced_frame;
    const AVCodecContext* videoOptions = DefaultCodecContexts[mkVideo].get();
    if (videoOptions && (videoOptions->flags & kInterlacedCoding))
        picture->top_field_first = TopFieldFirst == -1 ? decoded.top_field_first : TopFieldFirst;
    picture->quality =
        static_cast<int>(std::lrint(MatchDecoderQuality ? input.Quality : output.Setup->Quality));
    if (MeThreshold == 0)
        picture->pict_type = AV_PICTURE_TYPE_NONE;  // the encoder chooses
    for (int copy = 0; copy < copies; ++copy) {
        picture->pts = output.OutputClock++;
        // Counted before the encoder answers: the statistics of the packets it releases
        // name the pictures handed to it so far.
        ++output.FrameNumber;
        SendToEncoder(output, picture);
    }
    avutil.av_frame_unref(picture);
}

int TCustomFFmpegHlpr::VideoCopies(TOutputStreamState& output)
{
    const AVRational timeBase = output.Encoder()->time_base;
    // The sync clock in frames, straight from microseconds: a clock of 4.1 s at 1/25 is
    // exactly 102.5, as the rounding below needs.
    const double clock = static_cast<double>(output.SyncStream->Pts - StartTime) * timeBase.den /
                         (1e6 * timeBase.num);
    const int64_t next = output.OutputClock;
    int copies = 1;
    if (VideoSyncMode == 0) {
        output.OutputClock = std::llrint(clock);
    } else {
        const double delta = clock - static_cast<double>(output.OutputClock);
        if (delta < -1.1)
            copies = 0;
        else if (VideoSyncMode == 2)
            output.OutputClock = std::llrint(clock);
        else if (delta > 1.1)
            copies = static_cast<int>(std::lrint(std::min(delta, double{INT32_MAX})));
        // A gap longer than a timestamp jump is no pause to fill but times the input never
        // meant (damaged, or streams hours apart): copies across it would be hours of
        // pictures. The picture follows the one before instead.
        if (copies > 1 && !KeepTimestamps &&
            delta > TimestampJumpThreshold * timeBase.den / timeBase.num)
            copies = 1;
    }
    // A stamp the encoder has already had would make it fail: such a picture comes too late.
    if (copies > 0 && output.FrameNumber > 0 && output.OutputClock < next) {
        output.OutputClock = next;
        copies = 0;
    }
    if (copies == 0) {
        ++DropFrames;
        if (JobLogLevel > 2)
            Log(1, "*** drop!");
    } else if (copies > 1) {
        DupFrames += copies - 1;
        if (JobLogLevel > 2)
            Log(1, Format("*** %d dup!", copies - 1));
    }
    return copies;
}

AVFrame* TCustomFFmpegHlpr::FormatPicture(TOutputStreamState& output, const AVFrame& decoded)
{
    const AVCodecContext* encoder = output.Encoder();
    AVFrame* picture = output.Picture.get();
    avutil.av_frame_unref(picture);
    if (avutil.av_frame_ref(picture, &decoded) < 0)
        throw FFMpegException("av_mallocz fail");
    if (output.VideoCrop) {
        picture->crop_top = static_cast<size_t>(output.CropTop);
        picture->crop_bottom = static_cast<size_t>(output.CropBottom);
        picture->crop_left = static_cast<size_t>(output.CropLeft);
        picture->crop_right = static_cast<size_t>(output.CropRight);
        if (avutil.av_frame_apply_cropping(picture, AV_FRAME_CROP_UNALIGNED) < 0) {
            Log(0, "error cropping picture");
            avutil.av_frame_unref(picture);
            return nullptr;
        }
    }

    const int innerWidth = encoder->width - output.PadLeft - output.PadRight;
    const int innerHeight = encoder->height - output.PadTop - output.PadBottom;
    // Decoded pictures may change size or format mid-stream; each is scaled from its own.
    const bool fits = picture->width == innerWidth && picture->height == innerHeight &&
                      picture->format == encoder->pix_fmt;
    output.VideoResample = !fits;
    if (fits && !output.VideoPad)
        return picture;
    if (!fits)
        PrepareScaler(output, picture->width, picture->height, picture->format);
    PrepareWorkPicture(output);

    AVFrame* work = output.WorkPicture.get();
    uint8_t* inner[4] = {};
    int lines[4] = {};
    int hShift = 0, vShift = 0;
    if (output.VideoPad &&
        avutil.av_pix_fmt_get_chroma_sub_sample(encoder->pix_fmt, &hShift, &vShift) < 0) {
        Log(0, "error padding picture");
        avutil.av_frame_unref(picture);
        return nullptr;
    }
    for (int plane = 0; plane < 4 && work->data[plane]; ++plane) {
        lines[plane] = work->linesize[plane];
        inner[plane] = work->data[plane] +
                       static_cast<ptrdiff_t>(output.PadTop >> PlaneShift(plane, vShift)) *
                           work->linesize[plane] +
                       (output.PadLeft >> PlaneShift(plane, hShift));
    }
    if (fits)
        avutil.av_image_copy(inner, lines, const_cast<const uint8_t**>(picture->data),
                             picture->linesize, encoder->pix_fmt, innerWidth, innerHeight);
    else
        swscale.sws_scale(output.ScaleContext.get(), picture->data, picture->linesize, 0,
                          output.ScalerInputHeight, inner, lines);

    if (output.VideoPad) {
        const int colours[3] = {PadColorY, PadColorU, PadColorV};
        for (int plane = 0; plane < 3; ++plane) {
            const int hs = PlaneShift(plane, hShift), vs = PlaneShift(plane, vShift);
            const int width = PlaneSize(work->width, hs);
            const int height = PlaneSize(work->height, vs);
            const int top = output.PadTop >> vs, bottom = output.PadBottom >> vs;
            const int left = output.PadLeft >> hs, right = output.PadRight >> hs;
            const auto colour = static_cast<uint8_t>(colours[plane]);
            for (int y = 0; y < height; ++y) {
                uint8_t* row =
                    work->data[plane] + static_cast<ptrdiff_t>(y) * work->linesize[plane];
                if (y < top || y >= height - bottom) {
                    std::memset(row, colour, static_cast<size_t>(width));
                } else {
                    std::memset(row, colour, static_cast<size_t>(left));
                    std::memset(row + width - right, colour, static_cast<size_t>(right));
                }
            }
        }
    }
    avutil.av_frame_unref(picture);
    if (avutil.av_frame_ref(picture, work) < 0)
        throw FFMpegException("av_mallocz fail");
    return picture;
}

void TCustomFFmpegHlpr::PrepareScaler(TOutputStreamState& output, int width, int height, int format)
{
    if (output.ScaleContext && output.ScalerInputWidth == width &&
        output.ScalerInputHeight == height && output.ScalerInputFormat == format)
        return;
    const AVCodecContext* encoder = output.Encoder();
    // The scaler aborts the process on a format it has no description of.
    if (width <= 0 || height <= 0 ||
        !avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format)) ||
        !avutil.av_pix_fmt_desc_get(encoder->pix_fmt))
        throw FFMpegException("Cannot get resampling context");
    output.ScaleContext.reset(
        swscale.sws_getContext(width, height, static_cast<AVPixelFormat>(format),
                               encoder->width - output.PadLeft - output.PadRight,
                               encoder->height - output.PadTop - output.PadBottom, encoder->pix_fmt,
                               ScalerFlags, nullptr, nullptr, nullptr));
    if (!output.ScaleContext)
        throw FFMpegException("Cannot get resampling context");
    output.ScalerInputWidth = width;
    output.ScalerInputHeight = height;
    output.ScalerInputFormat = format;
}

void TCustomFFmpegHlpr::PrepareWorkPicture(TOutputStreamState& output)
{
    if (!output.WorkPicture)
        output.WorkPicture.reset(avutil.av_frame_alloc());
    AVFrame* work = output.WorkPicture.get();
    // The encoder may still hold the last picture written here: then a fresh buffer takes
    // its place rather than a copy of it.
    if (work && work->buf[0] && avutil.av_frame_is_writable(work))
        return;
    const AVCodecContext* encoder = output.Encoder();
    if (work) {
        avutil.av_frame_unref(work);
        work->format = encoder->pix_fmt;
        work->width = encoder->width;
        work->height = encoder->height;
    }
    if (!work || avutil.av_frame_get_buffer(work, 0) < 0)
        throw FFMpegException(output.VideoResample ? "Cannot allocate temp picture, check pix fmt"
                                                   : "avpicture_alloc fail");
}

}  // namespace kelvaro
