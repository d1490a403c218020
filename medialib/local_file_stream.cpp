#include "medialib/local_file_stream.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace kelvaro {
namespace {

constexpr int kBufferSize = 65536;
constexpr int kStopPollMs = 100;

struct LocalFile {
    int Descriptor = -1;
    bool Regular = false;
    const std::atomic<bool>* Stop = nullptr;
    ~LocalFile()
    {
        if (Descriptor >= 0)
            close(Descriptor);
    }
};

// Waits until the file has data, or the stop is asked for. Regular files always have.
int WaitForData(const LocalFile& file)
{
    if (file.Regular)
        return 0;
    for (;;) {
        if (file.Stop->load())
            return AVERROR_EXIT;
        pollfd wanted{file.Descriptor, POLLIN, 0};
        const int ready = poll(&wanted, 1, kStopPollMs);
        if (ready > 0)
            return 0;
        if (ready < 0 && errno != EINTR)
            return AVERROR(errno);
    }
}

int ReadLocalFile(void* opaque, uint8_t* buffer, int size)
{
    const LocalFile& file = *static_cast<const LocalFile*>(opaque);
    for (;;) {
        if (file.Stop->load())
            return AVERROR_EXIT;
        if (const int waited = WaitForData(file); waited < 0)
            return waited;
        const ssize_t count = read(file.Descriptor, buffer, static_cast<size_t>(size));
        if (count > 0)
            return static_cast<int>(count);
        if (count == 0)
            return AVERROR_EOF;
        if (errno != EINTR && errno != EAGAIN)
            return AVERROR(errno);
    }
}

int64_t SeekLocalFile(void* opaque, int64_t offset, int whence)
{
    const LocalFile& file = *static_cast<const LocalFile*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat status {};
        if (fstat(file.Descriptor, &status) < 0)
            return AVERROR(errno);
        return status.st_size;
    }
    const off_t position = lseek(file.Descriptor, offset, whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : position;
}

}  // namespace

AVIOContext* OpenLocalFileStream(const std::string& path, const std::atomic<bool>& stop, int& error)
{
    auto file = std::make_unique<LocalFile>();
    file->Stop = &stop;
    // Not blocking: opening a pipe must not wait for a writer, and reads wait in poll, where
    // a stop can end them.
    file->Descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file->Descriptor < 0) {
        error = AVERROR(errno);
        return nullptr;
    }
    struct stat status {};
    if (fstat(file->Descriptor, &status) < 0) {
        error = AVERROR(errno);
        return nullptr;
    }
    if (S_ISDIR(status.st_mode)) {
        error = AVERROR(EISDIR);
        return nullptr;
    }
    file->Regular = S_ISREG(status.st_mode);

    auto* buffer = static_cast<unsigned char*>(avutil.av_malloc(kBufferSize));
    if (!buffer) {
        error = AVERROR(ENOMEM);
        return nullptr;
    }
    AVIOContext* stream =
        avformat.avio_alloc_context(buffer, kBufferSize, 0, file.get(), &ReadLocalFile, nullptr,
                                    file->Regular ? &SeekLocalFile : nullptr);
    if (!stream) {
        avutil.av_free(buffer);
        error = AVERROR(ENOMEM);
        return nullptr;
    }
    file.release();  // owned by the stream from here on
    error = 0;
    return stream;
}

void CloseLocalFileStream(AVIOContext* stream)
{
    if (!stream || stream->read_packet != &ReadLocalFile)
        return;
    const std::unique_ptr<LocalFile> file(static_cast<LocalFile*>(stream->opaque));
    avutil.av_freep(&stream->buffer);  // the library may have replaced the one given
    avformat.avio_context_free(&stream);
}

}  // namespace kelvaro
