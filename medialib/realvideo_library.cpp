#include "medialib/realvideo_library.h"

namespace kelvaro {

RealVideoFunctions realvideo;

namespace {

std::vector<FunctionSlot> SlotsWithPrefix(const char* const (&names)[5])
{
    return {MakeSlot(names[0], realvideo.CustomMessage), MakeSlot(names[1], realvideo.Free),
            MakeSlot(names[2], realvideo.HiveMessage), MakeSlot(names[3], realvideo.Init),
            MakeSlot(names[4], realvideo.Transform)};
}

constexpr const char* kRv40Names[5] = {"RV40toYUV420CustomMessage", "RV40toYUV420Free",
                                       "RV40toYUV420HiveMessage", "RV40toYUV420Init",
                                       "RV40toYUV420Transform"};
constexpr const char* kRv20Names[5] = {"RV20toYUV420CustomMessage", "RV20toYUV420Free",
                                       "RV20toYUV420HiveMessage", "RV20toYUV420Init",
                                       "RV20toYUV420Transform"};

}  // namespace

MediaLibrary& RealVideoLibrary()
{
    static MediaLibrary library = MediaLibrary::WithFixedName(
        "drvc.so", SlotsWithPrefix(kRv40Names), SlotsWithPrefix(kRv20Names));
    return library;
}

}  // namespace kelvaro
