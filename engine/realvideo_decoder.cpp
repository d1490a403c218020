#include "engine/realvideo_decoder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <vector>

namespace kelvaro {
namespace {

uint32_t ReadBigEndian32(const uint8_t* bytes)
{
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

uint32_t ReadLittleEndian32(const uint8_t* bytes)
{
    return uint32_t{bytes[3]} << 24 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[1]} << 8 | bytes[0];
}

// The stream's size travels in 16-bit fields, and two pictures of it are held at once.
bool SupportedSize(int width, int height)
{
    return width >= 2 && height >= 2 && width <= UINT16_MAX && height <= UINT16_MAX &&
           (int64_t{width} + 128) * (height + 128) < INT_MAX / 8;
}

size_t PictureBytes(int width, int height)
{
    return size_t(width) * size_t(height) * 3 / 2;
}

struct Plane {
    size_t offset;
    int width;
    int height;
};

// Plane 0, 1 or 2 (luma, U, V) of a packed width x height picture.
Plane PlaneOf(int plane, int width, int height)
{
    const size_t area = size_t(width) * size_t(height);
    if (plane == 0)
        return {0, width, height};
    return {plane == 1 ? area : area + area / 4, width / 2, height / 2};
}

// Resamples `inCount` samples, `inStride` apart, to `outCount` samples, `outStride` apart
// (both counts at least 1).
void ResampleLine(const uint8_t* in, int inCount, int inStride, uint8_t* out, int outCount,
                  int outStride)
{
    // 16.16 fixed point: each output sample mixes the two input samples around its position.
    const uint32_t step = uint32_t(inCount) * 65536u / uint32_t(outCount);
    for (int k = 0; k + 1 < outCount; ++k) {
        const uint32_t position = uint32_t(k) * step;
        const int i = int(position >> 16);
        const uint32_t fraction = position & 0xFFFF;
        const uint32_t here = in[size_t(i) * inStride];
        const uint32_t next = i + 1 < inCount ? in[size_t(i + 1) * inStride] : here;
        out[size_t(k) * outStride] =
            static_cast<uint8_t>((fraction * next + (65535 - fraction) * here + 32767) >> 16);
    }
    out[size_t(outCount - 1) * outStride] = in[size_t(inCount - 1) * inStride];
}

void RowPass(const uint8_t* in, int inWidth, uint8_t* out, int outWidth, int rows)
{
    for (int row = 0; row < rows; ++row) {
        const uint8_t* from = in + size_t(row) * inWidth;
        uint8_t* to = out + size_t(row) * outWidth;
        if (inWidth == outWidth)
            std::memcpy(to, from, size_t(inWidth));
        else
            ResampleLine(from, inWidth, 1, to, outWidth, 1);
    }
}

void ColumnPass(const uint8_t* in, int inHeight, uint8_t* out, int outHeight, int columns)
{
    if (inHeight == outHeight) {
        std::memcpy(out, in, size_t(columns) * size_t(inHeight));
        return;
    }
    for (int column = 0; column < columns; ++column)
        ResampleLine(in + column, inHeight, columns, out + column, outHeight, columns);
}

// Enlarges the w x h picture in `output` to W x H (w <= W, h <= H, not both equal, w and h at
// least 2), through `spare`; both hold W x H pictures. Answers the buffer holding the result.
uint8_t* Enlarge(uint8_t* output, uint8_t* spare, int w, int h, int W, int H)
{
    if (W > w) {
        for (int p = 0; p < 3; ++p) {
            const Plane from = PlaneOf(p, w, h);
            const Plane to = PlaneOf(p, W, h);
            RowPass(output + from.offset, from.width, spare + to.offset, to.width, from.height);
        }
        if (H == h)
            return spare;
        for (int p = 0; p < 3; ++p) {
            const Plane from = PlaneOf(p, W, h);
            const Plane to = PlaneOf(p, W, H);
            ColumnPass(spare + from.offset, from.height, output + to.offset, to.height, from.width);
        }
        return output;
    }
    for (int p = 0; p < 3; ++p) {
        const Plane from = PlaneOf(p, w, h);
        const Plane to = PlaneOf(p, w, H);
        ColumnPass(output + from.offset, from.height, spare + to.offset, to.height, from.width);
    }
    return spare;
}

// The RealVideo 3 decoders learn the picture sizes a stream may switch between (listed in
// its extradata) from this message; RealVideo 4 streams code their sizes in the pictures.
constexpr uint32_t kPictureSizesMessage = 0x24;
constexpr uint32_t kFirstFormatWithPictureSizes = 0x20200002;

bool NeedsPictureSizes(uint32_t codecTag, uint32_t format)
{
    // The tag compares as the little-endian number it is in the file: RealVideo 3 and older.
    return codecTag <= MKTAG('R', 'V', '3', '0') && format >= kFirstFormatWithPictureSizes;
}

}  // namespace

const AVClass* TRealVideoDecoder::LogClass()
{
    static const AVClass logClass = [] {
        AVClass record{};
        record.class_name = "RealVideo bridge";
        record.item_name = [](void* context) { return static_cast<LogContext*>(context)->name; };
        record.version = LIBAVUTIL_VERSION_INT;
        return record;
    }();
    return &logClass;
}

TRealVideoDecoder::TRealVideoDecoder(AVCodecContext& context, const RealVideoFunctions& functions)
    : log_{LogClass(), context.codec_id == AV_CODEC_ID_RV30 ? "lumorv30" : "lumorv40"},
      context_(context),
      functions_(functions)
{
}

int TRealVideoDecoder::Open()
{
    const AVCodecContext& c = context_;
    if (c.codec_id != AV_CODEC_ID_RV30 && c.codec_id != AV_CODEC_ID_RV40)
        return AVERROR_DECODER_NOT_FOUND;
    if (!functions_.CustomMessage || !functions_.Free || !functions_.Init || !functions_.Transform)
        return AVERROR_DECODER_NOT_FOUND;
    if (!c.extradata || c.extradata_size < 8) {
        avutil.av_log(&log_, AV_LOG_ERROR,
                      "RealVideo stream has %d bytes of extradata; its decoder needs 8\n",
                      c.extradata ? c.extradata_size : 0);
        return AVERROR_INVALIDDATA;
    }
    if (!SupportedSize(c.width, c.height)) {
        avutil.av_log(&log_, AV_LOG_ERROR, "RealVideo picture size %dx%d is not supported\n",
                      c.width, c.height);
        return AVERROR_INVALIDDATA;
    }

    const int result = StartDecoder(ReadBigEndian32(c.extradata), ReadBigEndian32(c.extradata + 4));
    if (result < 0)
        return result;

    const size_t size = PictureBytes(c.width, c.height);
    output_.reset(static_cast<uint8_t*>(avutil.av_malloc(size)));
    spare_.reset(static_cast<uint8_t*>(avutil.av_malloc(size)));
    decoded_.reset(avutil.av_frame_alloc());
    if (!output_ || !spare_ || !decoded_)
        return AVERROR(ENOMEM);
    // Black, for whatever part of a picture the outside decoder does not draw.
    const size_t luma = size_t(c.width) * size_t(c.height);
    for (uint8_t* buffer : {output_.get(), spare_.get()}) {
        std::memset(buffer, 0, luma);
        std::memset(buffer + luma, 128, size - luma);
    }
    context_.pix_fmt = AV_PIX_FMT_YUV420P;
    context_.has_b_frames = 1;
    open_ = true;
    return result;
}

int TRealVideoDecoder::StartDecoder(uint32_t subFormat, uint32_t format)
{
    const AVCodecContext& c = context_;
    // The stream's own size, then the other sizes it lists, 4 pixels to the unit.
    std::vector<uint32_t> sizes;
    const uint32_t count = ((subFormat >> 16) & 7) + 1;
    if (NeedsPictureSizes(c.codec_tag, format)) {
        const int listed = static_cast<int>(2 * count - 2);
        if (c.extradata_size - 8 < listed) {
            avutil.av_log(&log_, AV_LOG_ERROR,
                          "RealVideo extradata of %d bytes lacks the %u picture sizes it "
                          "announces\n",
                          c.extradata_size, count);
            return AVERROR_INVALIDDATA;
        }
        sizes = {uint32_t(c.width), uint32_t(c.height)};
        for (int k = 0; k < listed; ++k)
            sizes.push_back(uint32_t{c.extradata[8 + k]} * 4);
    }

    RealVideoInitRecord record;
    record.Width = static_cast<uint16_t>(c.width);
    record.Height = static_cast<uint16_t>(c.height);
    record.SubFormat = subFormat;
    record.Format = format;
    if (functions_.Init(&record, &handle_) < 0) {
        handle_ = nullptr;  // a failed start leaves nothing of the library's to free
        return AVERROR_EXTERNAL;
    }
    if (sizes.empty())
        return 0;
    RealVideoMessage message{kPictureSizesMessage, count, sizes.data()};
    return functions_.CustomMessage(&message, handle_) < 0 ? AVERROR_EXTERNAL : 0;
}

int TRealVideoDecoder::SendPacket(const AVPacket* packet)
{
    if (!open_ || draining_)
        return AVERROR_EOF;
    if (!packet) {
        draining_ = true;
        return 0;
    }
    if (hasFrame_)
        return AVERROR(EAGAIN);
    if (packet->size <= 0)
        return 0;
    const int result = Decode(*packet);
    if (!hasFrame_)
        avutil.av_frame_unref(decoded_.get());
    return result;
}

int TRealVideoDecoder::Decode(const AVPacket& packet)
{
    const uint8_t* data = packet.data;
    const int size = packet.size;
    // The segment table: its length comes from the packet's first byte, so a hostile packet
    // may claim more than it holds, or segments beyond its end.
    const int segments = data[0] + 1;
    const int header = 1 + 8 * segments;
    if (size < 9) {
        avutil.av_log(&log_, AV_LOG_ERROR,
                      "RealVideo packet of %d bytes is shorter than its header\n", size);
        return AVERROR_INVALIDDATA;
    }
    if (size < header) {
        avutil.av_log(&log_, AV_LOG_ERROR,
                      "RealVideo packet of %d bytes is too short for its %d segments\n", size,
                      segments);
        return AVERROR_INVALIDDATA;
    }
    const uint32_t payloadLength = static_cast<uint32_t>(size - header);
    for (int segment = 0; segment < segments; ++segment) {
        if (ReadLittleEndian32(data + 1 + 8 * segment + 4) > payloadLength) {
            avutil.av_log(&log_, AV_LOG_ERROR,
                          "RealVideo segment %d of %d starts past the end of its packet\n",
                          segment + 1, segments);
            return AVERROR_INVALIDDATA;
        }
    }

    RealVideoInputRecord input;
    input.PayloadLength = payloadLength;
    input.LastSegment = data[0];
    input.Segments = data + 1;
    const int64_t time = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    const AVRational timeBase = context_.pkt_timebase;
    if (time != AV_NOPTS_VALUE && timeBase.num > 0 && timeBase.den > 0)
        input.Timestamp = static_cast<uint32_t>(avutil.av_rescale_q(time, timeBase, {1, 1000}));
    RealVideoOutputRecord result;

    AVFrame* frame = decoded_.get();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = context_.width;
    frame->height = context_.height;
    if (avutil.av_frame_get_buffer(frame, 0) < 0) {
        avutil.av_log(&log_, AV_LOG_ERROR, "get_buffer() failed\n");
        return AVERROR(ENOMEM);
    }

    // Only a C++ exception can leave the outside library; a fault inside it is a fault of
    // the process, which no handler could recover from safely.
    int transformed;
    try {
        transformed = functions_.Transform(data + header, output_.get(), &input, &result, handle_);
    } catch (const std::exception& exception) {
        avutil.av_log(&log_, AV_LOG_ERROR, "RVTransform() Exception: %s\n", exception.what());
        return AVERROR_EXTERNAL;
    } catch (...) {
        avutil.av_log(&log_, AV_LOG_ERROR, "RVTransform() Exception\n");
        return AVERROR_EXTERNAL;
    }
    if (transformed < 0)
        return AVERROR_EXTERNAL;

    const int width = context_.width;
    const int height = context_.height;
    if (result.Width == 0 || result.Height == 0)
        return 0;  // the decoder drew nothing this time
    if (result.Width < 2 || result.Height < 2 || result.Width > uint32_t(width) ||
        result.Height > uint32_t(height)) {
        avutil.av_log(&log_, AV_LOG_ERROR,
                      "RealVideo decoded a %ux%u picture that does not fit the stream's %dx%d\n",
                      result.Width, result.Height, width, height);
        return AVERROR_INVALIDDATA;
    }
    const uint8_t* picture = output_.get();
    if (int(result.Width) != width || int(result.Height) != height)
        picture = Enlarge(output_.get(), spare_.get(), int(result.Width), int(result.Height), width,
                          height);
    CopyToFrame(picture);
    frame->pts = packet.pts;
    frame->pkt_dts = packet.dts;
    frame->best_effort_timestamp = time;
    frame->pkt_duration = packet.duration;
    frame->key_frame = (packet.flags & AV_PKT_FLAG_KEY) != 0;
    frame->sample_aspect_ratio = context_.sample_aspect_ratio;
    hasFrame_ = true;
    return 0;
}

void TRealVideoDecoder::CopyToFrame(const uint8_t* picture)
{
    AVFrame* frame = decoded_.get();
    for (int p = 0; p < 3; ++p) {
        const Plane plane = PlaneOf(p, frame->width, frame->height);
        // The frame's chroma planes round odd sizes up; the last column and row repeat.
        const int rows = p == 0 ? frame->height : (frame->height + 1) / 2;
        const int columns = p == 0 ? frame->width : (frame->width + 1) / 2;
        for (int row = 0; row < rows; ++row) {
            const uint8_t* from =
                picture + plane.offset + size_t(std::min(row, plane.height - 1)) * plane.width;
            uint8_t* to = frame->data[p] + size_t(row) * frame->linesize[p];
            std::memcpy(to, from, size_t(plane.width));
            if (columns > plane.width)
                to[plane.width] = from[plane.width - 1];
        }
    }
}

int TRealVideoDecoder::ReceiveFrame(AVFrame* frame)
{
    if (hasFrame_) {
        avutil.av_frame_move_ref(frame, decoded_.get());
        hasFrame_ = false;
        return 0;
    }
    return draining_ || !open_ ? AVERROR_EOF : AVERROR(EAGAIN);
}

int TRealVideoDecoder::DecodeSubtitle(const AVPacket*, AVSubtitle*, int* got)
{
    *got = 0;
    return AVERROR(EINVAL);
}

void TRealVideoDecoder::Flush()
{
    if (decoded_)
        avutil.av_frame_unref(decoded_.get());
    hasFrame_ = false;
    draining_ = false;
}

void TRealVideoDecoder::Close()
{
    open_ = false;
    if (handle_)
        functions_.Free(handle_);
    handle_ = nullptr;
    output_.reset();
    spare_.reset();
    decoded_.reset();
    hasFrame_ = false;
}

}  // namespace kelvaro
