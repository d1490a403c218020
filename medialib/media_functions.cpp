#include "medialib/media_functions.h"

namespace kelvaro {

#define KELVARO_SLOT_ENTRY(name) MakeSlot(#name, name),

std::vector<FunctionSlot> AvUtilFunctions::Slots()
{
    return {KELVARO_AVUTIL_FUNCTIONS(KELVARO_SLOT_ENTRY)};
}

std::vector<FunctionSlot> AvCodecFunctions::Slots()
{
    return {KELVARO_AVCODEC_FUNCTIONS(KELVARO_SLOT_ENTRY)};
}

std::vector<FunctionSlot> AvFormatFunctions::Slots()
{
    return {KELVARO_AVFORMAT_FUNCTIONS(KELVARO_SLOT_ENTRY)};
}

std::vector<FunctionSlot> SwScaleFunctions::Slots()
{
    return {KELVARO_SWSCALE_FUNCTIONS(KELVARO_SLOT_ENTRY)};
}

std::vector<FunctionSlot> SwResampleFunctions::Slots()
{
    return {KELVARO_SWRESAMPLE_FUNCTIONS(KELVARO_SLOT_ENTRY)};
}

AvUtilFunctions avutil;
AvCodecFunctions avcodec;
AvFormatFunctions avformat;
SwScaleFunctions swscale;
SwResampleFunctions swresample;

}  // namespace kelvaro
