// Options by name: recorded in the job's default objects and replayed onto every input and
// output opened afterwards.

#include <algorithm>
#include <cctype>

#include "engine/job.h"
#include "engine/text_format.h"
#include "medialib/log_levels.h"
#include "medialib/media_functions.h"
#include "medialib/media_owners.h"

namespace kelvaro {
namespace {

bool IsBlank(const std::string& text)
{
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isspace(c) || std::iscntrl(c); });
}

// Options the presets and older option texts still use under the names the library had
// then. Each becomes the option the library has now, so that its value takes effect.
struct LegacyOption {
    std::string name;
    std::string value;
};

LegacyOption CurrentOption(const std::string& name, const std::string& value)
{
    if (name == "gop")
        return {"g", value};
    // The scan offset flag moved from the generic flags into the MPEG-2 encoder.
    if (name == "flags") {
        std::string lowered = value;
        std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (lowered == "+scan_offset" || lowered == "scan_offset")
            return {"scan_offset", "1"};
    }
    return {name, value};
}

// The media types' option masks: video, audio, data, subtitle, attachment.
constexpr int kKindMasks[5] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                               AV_OPT_FLAG_SUBTITLE_PARAM, 0};

// Sets a generic option on `object`; the option's own name when it took the value.
const char* SetOn(void* object, const char* name, const char* value)
{
    if (!object)
        return nullptr;
    const AVOption* option = avutil.av_opt_find(object, name, nullptr, 0, 0);
    if (!option || avutil.av_opt_set(object, name, value, 0) < 0)
        return nullptr;
    return option->name;
}

// Whether an option of `optionClass` takes `value`: the value is set on a scratch object of
// that class, zero-filled and large enough for every option the class has, so the option's
// own parser judges it.
bool TakesValue(const AVClass* optionClass, const char* name, const char* value)
{
    size_t size = sizeof(const AVClass*);
    for (const AVOption* option = nullptr;
         (option = avutil.av_opt_next(&optionClass, option)) != nullptr;)
        size = std::max(size, static_cast<size_t>(option->offset) + 64);
    AvMemoryPtr<void> scratch(avutil.av_mallocz(size));
    if (!scratch)
        return false;
    *static_cast<const AVClass**>(scratch.get()) = optionClass;
    const bool taken = avutil.av_opt_set(scratch.get(), name, value, 0) >= 0;
    avutil.av_opt_free(scratch.get());  // texts, lists and layouts the value allocated
    return taken;
}

// The option of that name among those private to some codec (or muxer) that takes `value`,
// found through the classes of every codec (or format); none for a generic option, and none
// when no class that has the option takes the value.
const AVOption* FindPrivate(const AVClass* rootClass, const char* name, const char* value)
{
    if (avutil.av_opt_find(&rootClass, name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
        return nullptr;
    void* iterator = nullptr;
    for (const AVClass* child = nullptr;
         (child = avutil.av_opt_child_class_iterate(rootClass, &iterator)) != nullptr;) {
        const AVOption* option =
            avutil.av_opt_find(&child, name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
        if (option && TakesValue(child, name, value))
            return option;
    }
    return nullptr;
}

}  // namespace

bool TCustomFFmpegHlpr::SetOption(const std::string& givenName, const std::string& givenValue)
{
    if (IsBlank(givenName) || IsBlank(givenValue))
        return false;
    const LegacyOption current = CurrentOption(Trimmed(givenName), Trimmed(givenValue));
    const char* name = current.name.c_str();
    const char* value = current.value.c_str();

    // All codec contexts share one option table, so the video entry answers for all; a mask
    // of 0 lets a codec option reach the data and attachment entries too.
    const char* found = nullptr;
    for (int kind = 0; kind < 5; ++kind) {
        const int mask = kKindMasks[kind];
        if (avutil.av_opt_find(DefaultCodecContexts[mkVideo].get(), name, nullptr, mask, mask)) {
            if (const char* set = SetOn(DefaultCodecContexts[kind].get(), name, value))
                found = set;
        }
    }
    if (!found)
        found = SetOn(DefaultFormatContext.get(), name, value);
    if (!found)
        found = SetOn(DefaultScalerContext.get(), name, value);
    if (!found && current.name.size() > 1) {
        const char* rest = name + 1;
        switch (name[0]) {
        case 'a':
            found = SetOn(DefaultCodecContexts[mkAudio].get(), rest, value);
            break;
        case 'v':
            found = SetOn(DefaultCodecContexts[mkVideo].get(), rest, value);
            break;
        case 's':
            found = SetOn(DefaultCodecContexts[mkSubtitle].get(), rest, value);
            break;
        }
    }
    if (found) {
        OptionNames.emplace_back(found);
    } else if (!SetPrivateOption(current.name, current.value)) {
        return false;
    }

    if (DefaultCodecContexts[mkVideo] && DefaultCodecContexts[mkVideo]->debug != 0)
        SetLogLevel(2);
    return true;
}

bool TCustomFFmpegHlpr::SetPrivateOption(const std::string& name, const std::string& value)
{
    const AVOption* option = FindPrivate(avcodec.avcodec_get_class(), name.c_str(), value.c_str());
    bool ofFormat = false;
    if (!option) {
        option = FindPrivate(avformat.avformat_get_class(), name.c_str(), value.c_str());
        ofFormat = true;
    }
    if (!option)
        return false;
    // A later value for the same option replaces the earlier one.
    std::erase_if(PrivateOptions, [&](const TPrivateOption& o) { return o.Name == name; });
    PrivateOptions.push_back({name, value, option->flags, ofFormat});
    OptionNames.push_back(name);
    return true;
}

bool TCustomFFmpegHlpr::SetOptionText(const std::string& name, const std::string& value)
{
    return SetOption(name, value);
}

bool TCustomFFmpegHlpr::SetOptionInt(const std::string& name, int32_t value)
{
    return SetOption(name, std::to_string(value));
}

void TCustomFFmpegHlpr::ApplyRecordedOptions(void* target, void* source, int requiredFlags,
                                             Dictionary* privateOptions)
{
    if (!target || !source)
        return;
    for (const std::string& name : OptionNames) {
        const AVOption* option = avutil.av_opt_find(source, name.c_str(), nullptr, 0, 0);
        if (!option || (option->flags & requiredFlags) != requiredFlags)
            continue;
        uint8_t* text = nullptr;
        if (avutil.av_opt_get(source, name.c_str(), 0, &text) >= 0 && text)
            avutil.av_opt_set(target, name.c_str(), reinterpret_cast<char*>(text),
                              AV_OPT_SEARCH_CHILDREN);
        avutil.av_free(text);
    }
    if (!privateOptions)
        return;
    // The object's own private options exist only once it knows its codec or format.
    const bool formatTarget = source == DefaultFormatContext.get();
    for (const TPrivateOption& option : PrivateOptions)
        if (option.OfFormat == formatTarget && (option.Flags & requiredFlags) == requiredFlags)
            avutil.av_dict_set(privateOptions->Address(), option.Name.c_str(),
                               option.Value.c_str(), 0);
}

bool TCustomFFmpegHlpr::FindCodecId(const std::string& name, TMediaKind kind, bool encoder,
                                    AVCodecID& id)
{
    if (name.empty()) {
        id = AV_CODEC_ID_NONE;
        return true;
    }
    const AVCodec* codec = encoder ? avcodec.avcodec_find_encoder_by_name(name.c_str())
                                   : avcodec.avcodec_find_decoder_by_name(name.c_str());
    const char* word = encoder ? "encoder" : "decoder";
    if (!codec) {
        LastError = Format("Unknown %s '%s'", word, name.c_str());
        return false;
    }
    if (codec->type != static_cast<AVMediaType>(kind)) {
        LastError = Format("Invalid %s type '%s'", word, name.c_str());
        return false;
    }
    id = codec->id;
    return true;
}

}  // namespace kelvaro
