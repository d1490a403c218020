#include "realvideo_standin.h"

#include <cstring>
#include <stdexcept>

using kelvaro::RealVideoInitRecord;
using kelvaro::RealVideoInputRecord;
using kelvaro::RealVideoMessage;
using kelvaro::RealVideoOutputRecord;

namespace {

RealVideoStandInState state;

struct Handle {
    int width = 0;
    int height = 0;
};
Handle handles[64];

int32_t CustomMessage(int prefix, RealVideoMessage* message, void*)
{
    state.prefix = prefix;
    ++state.messages;
    state.message = *message;
    const uint32_t count = message->Count * 2 < 16 ? message->Count * 2 : 16;
    std::memcpy(state.messageValues, message->Values, count * sizeof(uint32_t));
    state.message.Values = state.messageValues;
    return state.messageResult;
}

int32_t Free(int prefix, void* handle)
{
    state.prefix = prefix;
    state.frees += handle != nullptr;
    return 0;
}

int32_t Init(int prefix, RealVideoInitRecord* record, void** handle)
{
    state.prefix = prefix;
    state.init = *record;
    Handle& made = handles[state.inits++ % 64];
    made = Handle{record->Width, record->Height};
    *handle = &made;
    return state.initResult;
}

[[maybe_unused]] int32_t Transform(int prefix, const uint8_t* payload, uint8_t* output,
                                   RealVideoInputRecord* input, RealVideoOutputRecord* result,
                                   void* handle)
{
    state.prefix = prefix;
    ++state.transforms;
    state.input = *input;
    state.payloadOffset = payload - input->Segments;
    const uint32_t length = input->PayloadLength;
    if (length == 0)
        return 0;
    if (payload[0] == 1)
        return -1;
    if (payload[0] == 2)
        throw std::runtime_error("stand-in refused the payload");
    if (length < 8)
        return -1;
    const int width = payload[4] | payload[5] << 8;
    const int height = payload[6] | payload[7] << 8;
    result->Width = static_cast<uint32_t>(width);
    result->Height = static_cast<uint32_t>(height);
    const Handle& started = *static_cast<Handle*>(handle);
    if (width > started.width || height > started.height || length == 8)
        return 0;
    const size_t area = size_t(width) * size_t(height);
    const size_t chroma = size_t(width / 2) * size_t(height / 2);
    const size_t planes[3][2] = {{0, area}, {area, chroma}, {area + area / 4, chroma}};
    size_t next = 0;
    for (const auto& [offset, size] : planes)
        for (size_t i = 0; i < size; ++i)
            output[offset + i] = payload[8 + next++ % (length - 8)];
    return 0;
}

}  // namespace

extern "C" RealVideoStandInState* RealVideoStandIn()
{
    return &state;
}

// Each name set: absent (0), complete (1), or without its transform function (2).
#define KELVARO_STANDIN_NAMES(prefix, number, complete)                               \
    extern "C" int32_t prefix##CustomMessage(RealVideoMessage* message, void* handle) \
    {                                                                                 \
        return CustomMessage(number, message, handle);                                \
    }                                                                                 \
    extern "C" int32_t prefix##Free(void* handle)                                     \
    {                                                                                 \
        return Free(number, handle);                                                  \
    }                                                                                 \
    extern "C" int32_t prefix##HiveMessage(void*, void*)                              \
    {                                                                                 \
        return 0;                                                                     \
    }                                                                                 \
    extern "C" int32_t prefix##Init(RealVideoInitRecord* record, void** handle)       \
    {                                                                                 \
        return Init(number, record, handle);                                          \
    }                                                                                 \
    KELVARO_STANDIN_TRANSFORM(complete, prefix, number)
#define KELVARO_STANDIN_TRANSFORM(complete, prefix, number) \
    KELVARO_STANDIN_TRANSFORM_OF(complete, prefix, number)
#define KELVARO_STANDIN_TRANSFORM_OF(complete, prefix, number) \
    KELVARO_STANDIN_TRANSFORM_##complete(prefix, number)
#define KELVARO_STANDIN_TRANSFORM_1(prefix, number)                                   \
    extern "C" int32_t prefix##Transform(const uint8_t* payload, uint8_t* output,     \
                                         RealVideoInputRecord* input,                 \
                                         RealVideoOutputRecord* result, void* handle) \
    {                                                                                 \
        return Transform(number, payload, output, input, result, handle);             \
    }
#define KELVARO_STANDIN_TRANSFORM_2(prefix, number)

#if STANDIN_RV40
KELVARO_STANDIN_NAMES(RV40toYUV420, 40, STANDIN_RV40)
#endif
#if STANDIN_RV20
KELVARO_STANDIN_NAMES(RV20toYUV420, 20, STANDIN_RV20)
#endif
