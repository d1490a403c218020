#pragma once
// A byte stream over one local file, for the demuxers. The name is opened as a path and never
// parsed as a URL, and a read that waits for data (a pipe, a terminal, a socket) gives up
// within a tenth of a second once `stop` is set.

#include <atomic>
#include <string>

#include "medialib/media_functions.h"

namespace kelvaro {

// The stream, or none with a library error code in `error`. `stop` must outlive the stream.
// The stream owns the file: CloseLocalFileStream releases both.
AVIOContext* OpenLocalFileStream(const std::string& path, const std::atomic<bool>& stop,
                                 int& error);
// Releases a stream made by OpenLocalFileStream; leaves any other stream alone.
void CloseLocalFileStream(AVIOContext* stream);

}  // namespace kelvaro
