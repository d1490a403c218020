#pragma once
// The optional outside RealVideo 3/4 decoder library, "drvc.so" in the library folder. It
// exports five functions under the prefix "RV40toYUV420" or, in older builds, "RV20toYUV420".
// Its absence never fails loading; the bridge decoders are then simply not available.
//
// The records below are the library's own: plain C structures, laid out as a C compiler lays
// out these fields in this order (the pointers take their natural size and alignment).

#include <cstdint>

#include "medialib/media_library.h"

namespace kelvaro {

// Handed to Init. The fixed values mean something to the library only.
struct RealVideoInitRecord {
    uint16_t Fixed11 = 11;
    uint16_t Width = 0;
    uint16_t Height = 0;
    uint16_t Fixed0 = 0;
    uint32_t Reserved = 0;
    uint32_t SubFormat = 0;  // the stream's first extradata word, big-endian
    uint32_t Fixed1 = 1;
    uint32_t Format = 0;  // the second extradata word
};

// Handed to Transform with each packet: the payload's length and the segment table that
// precedes it (8 bytes per segment: a little-endian flag, then the segment's offset).
struct RealVideoInputRecord {
    uint32_t PayloadLength = 0;
    uint32_t Reserved1 = 0;
    uint32_t LastSegment = 0;  // the number of segments - 1
    const uint8_t* Segments = nullptr;
    uint32_t Reserved2 = 0;
    uint32_t Timestamp = 0;  // milliseconds
};

// Filled by Transform: the size of the picture it wrote.
struct RealVideoOutputRecord {
    uint32_t Unread[3] = {};
    uint32_t Width = 0;
    uint32_t Height = 0;
};

// Handed to CustomMessage.
struct RealVideoMessage {
    uint32_t Id = 0;
    uint32_t Count = 0;
    uint32_t* Values = nullptr;
};

struct RealVideoFunctions {
    using CustomMessageFn = int32_t (*)(RealVideoMessage* message, void* handle);
    using FreeFn = int32_t (*)(void* handle);
    using HiveMessageFn = int32_t (*)(void* message, void* handle);
    using InitFn = int32_t (*)(RealVideoInitRecord* record, void** handle);
    // Writes a planar 4:2:0 picture into `output`: luma, then U, then V, each plane packed.
    using TransformFn = int32_t (*)(const uint8_t* payload, uint8_t* output,
                                    RealVideoInputRecord* input, RealVideoOutputRecord* result,
                                    void* handle);

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
