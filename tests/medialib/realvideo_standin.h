#pragma once
// A stand-in for the outside RealVideo decoder library, built by the test suite under either
// name prefix (or with names missing). It records what it was handed, for the tests to read
// through RealVideoStandIn(), and answers each packet by the first byte of its payload's
// first word (a word whose other bytes are 0 reads as an intra picture at time 0 to the
// library's frame parser, which then leaves the file's timestamps alone):
//   0  a picture: bytes 4-5 its width, 6-7 its height (little-endian), then sample bytes,
//      repeated over the luma, U and V planes in turn; a picture larger than the size the
//      decoder was started with is announced but not written;
//   1  a failure (-1);
//   2  a C++ exception, std::runtime_error("stand-in refused the payload").
// An empty payload draws nothing (a 0 x 0 picture).

#include <cstddef>
#include <cstdint>

#include "medialib/realvideo_library.h"

struct RealVideoStandInState {
    int prefix = 0;  // 40 or 20: the names called last
    int inits = 0;
    int frees = 0;
    int messages = 0;
    int transforms = 0;
    int32_t initResult = 0;  // what Init and CustomMessage answer
    int32_t messageResult = 0;
    kelvaro::RealVideoInitRecord init;
    kelvaro::RealVideoMessage message;  // Values points at messageValues
    uint32_t messageValues[16] = {};
    kelvaro::RealVideoInputRecord input;  // Segments as handed over, valid during the call only
    ptrdiff_t payloadOffset = 0;          // of the payload from the segment table
};

extern "C" RealVideoStandInState* RealVideoStandIn();

#include <dlfcn.h>

#include <string>

// The state of the stand-in loaded from `path`, which must be loaded already.
inline RealVideoStandInState* RealVideoStandInLoadedFrom(const std::string& path)
{
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!library)
        return nullptr;
    auto* state =
        reinterpret_cast<RealVideoStandInState* (*)()>(dlsym(library, "RealVideoStandIn"))();
    dlclose(library);  // the binding keeps its own reference
    return state;
}
