#pragma once
// The optional outside RealVideo 3/4 decoder library, "drvc.so" in the library folder. It
// exports five functions under the prefix "RV40toYUV420" or, in older builds, "RV20toYUV420".
// Its absence never fails loading; the bridge decoders are then simply not available.

#include <cstdint>

#include "medialib/media_library.h"

namespace kelvaro {

struct RealVideoFunctions {
    using CustomMessageFn = int32_t (*)(void* message, void* handle);
    using FreeFn = int32_t (*)(void* handle);
    using HiveMessageFn = int32_t (*)(void* message, void* handle);
    using InitFn = int32_t (*)(void* initRecord, void** handle);
    using TransformFn = int32_t (*)(const uint8_t* payload, uint8_t* output, void* inputRecord,
                                    void* outputRecord, void* handle);

    CustomMessageFn CustomMessage = nullptr;
    FreeFn Free = nullptr;
    HiveMessageFn HiveMessage = nullptr;  // bound for completeness, never called
    InitFn Init = nullptr;
    TransformFn Transform = nullptr;
};

extern RealVideoFunctions realvideo;

// The process-wide binding of "drvc.so".
MediaLibrary& RealVideoLibrary();

}  // namespace kelvaro
