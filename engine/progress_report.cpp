// Progress of a running job at the report interval and once at the end, and the final
// statistics; also the per-frame video statistics file.

#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "engine/job.h"
#include "engine/text_format.h"
#include "engine/transcode_state.h"
#include "medialib/media_functions.h"
#include "medialib/media_helpers.h"

namespace kelvaro {
namespace {

// The report line: every piece goes into what is left of one fixed buffer.
class ReportLine final {
public:
    void Append(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        va_list arguments;
        va_start(arguments, format);
        const int written = std::vsnprintf(text_ + used_, sizeof text_ - used_, format, arguments);
        va_end(arguments);
        if (written > 0)
            used_ = std::min(used_ + static_cast<size_t>(written), sizeof text_ - 1);
    }
    const char* Text() const { return text_; }

private:
    char text_[1024] = {};
    size_t used_ = 0;
};

double Psnr(double ratio)
{
    return -10.0 * std::log10(ratio);
}

float StreamQuality(const TOutputStreamState& output)
{
    if (output.Setup->StreamCopy || !output.HasCodedFrame)
        return -1.0f;
    return static_cast<float>(output.CodedQuality) / FF_QP2LAMBDA;
}

}  // namespace

void TCustomFFmpegHlpr::ProgressReport(bool last)
{
    // The file's size lags the bytes written by up to the I/O buffer: take the larger.
    int64_t totalSize = 0;
    if (AVIOContext* io = OutputFiles[0].Context->pb) {
        const int64_t size = avformat.avio_size(io);
        const int64_t position = avformat.avio_seek(io, 0, SEEK_CUR);
        totalSize = std::max<int64_t>({size, position, 0});
    }

    ReportLine line;
    double time = 1e10;
    int32_t frameNumber = -1;
    int32_t fps = -1;
    float quality = -1.0f;
    bool videoReported = false;
    for (const auto& outputPointer : OutputStreams) {
        TOutputStreamState& output = *outputPointer;
        const AVCodecContext* encoder = output.Encoder();
        const bool video = encoder->codec_type == AVMEDIA_TYPE_VIDEO;
        if (videoReported && video)
            line.Append("q=%2.1f ", static_cast<double>(StreamQuality(output)));
        if (!videoReported && video) {
            const float elapsed = static_cast<float>(avutil.av_gettime() - RunStartTime) / 1000000.0f;
            frameNumber = output.FrameNumber;
            if (frameNumber < 1)
                return;  // nothing to say before the first picture
            fps = elapsed > 1.0f ? static_cast<int32_t>(frameNumber / elapsed + 0.5f) : 0;
            quality = StreamQuality(output);
            line.Append("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, static_cast<double>(quality));
            if (last)
                line.Append("L");
            if (HistogramEnabled && output.HasCodedFrame) {
                const int q = static_cast<int>(std::lrint(output.CodedQuality / double(FF_QP2LAMBDA)));
                if (q >= 0 && q < static_cast<int>(QualityHistogram.size()))
                    ++QualityHistogram[q];
                for (int j = 0; j < 32; ++j)
                    line.Append("%X", static_cast<int>(std::lrint(std::log2(QualityHistogram[j] + 1.0))));
            }
            if (encoder->flags & AV_CODEC_FLAG_PSNR) {
                line.Append("PSNR=");
                double errorSum = 0, scaleSum = 0;
                for (int plane = 0; plane < 3; ++plane) {
                    const double error = last ? static_cast<double>(encoder->error[plane])
                                              : static_cast<double>(output.CodedErrors[plane]);
                    double scale = double(encoder->width) * encoder->height * 255.0 * 255.0;
                    if (last)
                        scale *= frameNumber;
                    if (plane > 0)
                        scale /= 4;
                    errorSum += error;
                    scaleSum += scale;
                    line.Append("%c:%2.2f ", "YUV"[plane], Psnr(error / scale));
                }
                line.Append("*:%2.2f ", Psnr(errorSum / scaleSum));
            }
            videoReported = true;
        }
        const int64_t end = avformat.av_stream_get_end_pts(output.Stream);
        if (end != AV_NOPTS_VALUE) {
            const double seconds = end * RationalToDouble(output.Stream->time_base);
            if (seconds < time && seconds > 0)
                time = seconds;
        }
    }
    // Before any stream has a positive time there is no position to report.
    const int32_t durationMs =
        time >= 1e10 ? 0 : static_cast<int32_t>(std::min(time * 1000, double(INT32_MAX)));
    if (time < 0.01)
        time = 0.01;

    if (ProgressHandler || JobLogLevel > 0 || last) {
        const double bitRate = totalSize * 8 / time / 1000;
        line.Append("size=%8.0fkB time=%0.1f bitrate=%6.1fkbits/s", totalSize / 1024.0, time,
                    bitRate);
        if (JobLogLevel > 1)
            line.Append(" dup=%d drop=%d", DupFrames, DropFrames);
        if (ProgressHandler)
            ProgressHandler(*this, frameNumber, fps, durationMs, quality,
                            static_cast<float>(bitRate), totalSize, TotalDurationMs);
        else if (JobLogLevel >= 0)
            Log(1, line.Text());
    }

    if (last && JobLogLevel >= 0 && LogHandler) {
        const int64_t raw = VideoBytesWritten + AudioBytesWritten + HeaderBytesWritten;
        // With nothing written there is no overhead to speak of.
        const double overhead = raw > 0 ? (totalSize - raw) * 100.0 / raw : 0.0;
        Log(1, Format("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %.2f%%\r\n",
                      VideoBytesWritten / 1024.0, AudioBytesWritten / 1024.0,
                      HeaderBytesWritten / 1024.0, overhead));
    }
}

void TCustomFFmpegHlpr::WriteVideoStatistics(TOutputStreamState& output, int frameSize)
{
    if (!VideoStatsFile) {
        VideoStatsFile.reset(std::fopen(VideoStatsFileName.c_str(), "w"));
        if (!VideoStatsFile)
            throw FFMpegException("fopen fail: " + VideoStatsFileName);
    }
    const AVCodecContext* encoder = output.Encoder();
    if (encoder->codec_type != AVMEDIA_TYPE_VIDEO)
        return;
    FILE* file = VideoStatsFile.get();
    std::fprintf(file, "frame= %5d q= %2.1f ", output.FrameNumber,
                 output.CodedQuality / double(FF_QP2LAMBDA));
    if (encoder->flags & AV_CODEC_FLAG_PSNR)
        std::fprintf(file, "PSNR= %6.2f ",
                     Psnr(output.CodedErrors[0] /
                          (double(encoder->width) * encoder->height * 255.0 * 255.0)));
    std::fprintf(file, "f_size= %6d ", frameSize);
    const double timeBase = RationalToDouble(encoder->time_base);
    const double time = std::max(output.OutputClock * timeBase, 0.01);
    const double bitRate = frameSize * 8 / timeBase / 1000;
    const double averageBitRate = VideoBytesWritten * 8 / time / 1000;
    std::fprintf(file, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                 VideoBytesWritten / 1024.0, time, bitRate, averageBitRate);
    std::fprintf(file, "type= %c\n",
                 avutil.av_get_picture_type_char(static_cast<AVPictureType>(output.CodedPictureType)));
}

}  // namespace kelvaro
