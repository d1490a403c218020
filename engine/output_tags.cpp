#include "engine/output_tags.h"

#include <sys/stat.h>
#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/asftag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <string_view>

#include "medialib/media_functions.h"

namespace kelvaro {
namespace {

// A FLAC metadata block counts its length in 24 bits.
constexpr unsigned kFlacBlockLimit = (1u << 24) - 1;

struct TCover {
    TagLib::ByteVector Data;
    std::string MimeType;  // empty: the bytes are no picture a tag may name
};

// The picture type by its first bytes: demuxers take a tag's word for it.
std::string PictureMimeType(const TagLib::ByteVector& data)
{
    if (data.startsWith(TagLib::ByteVector("\xFF\xD8\xFF", 3)))
        return "image/jpeg";
    if (data.startsWith(TagLib::ByteVector("\x89PNG\r\n\x1A\n", 8)))
        return "image/png";
    if (data.startsWith("GIF8"))
        return "image/gif";
    if (data.startsWith("BM"))
        return "image/bmp";
    if (data.startsWith("RIFF") && data.mid(8, 4) == "WEBP")
        return "image/webp";
    return {};
}

std::optional<TCover> FirstCover(const AVFormatContext& input)
{
    for (unsigned i = 0; i < input.nb_streams; ++i) {
        const AVStream* stream = input.streams[i];
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) || stream->attached_pic.size <= 0)
            continue;
        TagLib::ByteVector data(reinterpret_cast<const char*>(stream->attached_pic.data),
                                static_cast<unsigned>(stream->attached_pic.size));
        std::string mimeType = PictureMimeType(data);
        return TCover{std::move(data), std::move(mimeType)};
    }
    return std::nullopt;
}

// The library's tag names are lower case and partly its own; TagLib's are the common ones.
TagLib::String PropertyName(std::string name)
{
    static const std::pair<const char*, const char*> kRenamed[] = {{"album_artist", "ALBUMARTIST"},
                                                                   {"track", "TRACKNUMBER"},
                                                                   {"disc", "DISCNUMBER"},
                                                                   {"publisher", "LABEL"},
                                                                   {"encoded_by", "ENCODEDBY"}};
    for (const auto& [from, to] : kRenamed)
        if (name == from)
            return to;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return TagLib::String(name, TagLib::String::UTF8);
}

void AddDictionary(TagLib::PropertyMap& properties, const AVDictionary* tags)
{
    // What a container says of itself, and what made the input, say nothing of the recording.
    static const std::string_view kContainerFields[] = {
        "major_brand", "minor_version", "compatible_brands", "creation_time", "handler_name",
        "vendor_id",   "encoder",       "duration",          "language"};
    for (const AVDictionaryEntry* entry = nullptr;
         (entry = avutil.av_dict_get(tags, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr;) {
        const TagLib::String name = PropertyName(entry->key);
        if (std::find(std::begin(kContainerFields), std::end(kContainerFields), entry->key) !=
                std::end(kContainerFields) ||
            properties.contains(name))
            continue;
        properties.insert(name, TagLib::String(entry->value, TagLib::String::UTF8));
    }
}

// The input's tags as TagLib reads its file, which knows every format's own names for them
// (TXXX frames, free-form atoms, ASF attributes); else as its demuxer read them. Only a
// regular file is opened again: a FIFO would wait for a writer.
TagLib::PropertyMap InputProperties(const AVFormatContext& input)
{
    std::string path = input.url ? input.url : "";
    if (path.starts_with("file:"))
        path.erase(0, 5);
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
        const TagLib::FileRef file(path.c_str(), false);
        if (!file.isNull() && file.file()->isValid())
            return file.file()->properties();
    }
    TagLib::PropertyMap properties;
    AddDictionary(properties, input.metadata);
    for (unsigned i = 0; i < input.nb_streams; ++i)
        if (input.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            AddDictionary(properties, input.streams[i]->metadata);
            break;
        }
    return properties;
}

// What TagLib's property names do not cover still has a place of its own in MP4 (a free-form
// atom, as the common taggers write them) and ASF (an attribute of its name); elsewhere
// every name has one. What has none.
TagLib::PropertyMap KeepUnnamed(TagLib::Tag&, const TagLib::PropertyMap& refused)
{
    return refused;
}

TagLib::PropertyMap KeepUnnamed(TagLib::MP4::Tag& tag, const TagLib::PropertyMap& refused)
{
    for (const auto& [name, values] : refused)
        tag.setItem("----:com.apple.iTunes:" + name, TagLib::MP4::Item(values));
    return {};
}

TagLib::PropertyMap KeepUnnamed(TagLib::ASF::Tag& tag, const TagLib::PropertyMap& refused)
{
    for (const auto& [name, values] : refused)
        for (const TagLib::String& value : values)
            tag.addAttribute(name, TagLib::ASF::Attribute(value));
    return {};
}

// The output's own tags (the job's, and those the muxer copied), then the input's others.
// TagLib 1's Tag dispatches properties to no derived tag: each kind is called as itself.
template <typename TTag>
void AddMissing(TTag& tag, const TagLib::PropertyMap& input, const char* format,
                std::vector<std::string>& warnings)
{
    TagLib::PropertyMap merged = tag.properties();
    for (const auto& [name, values] : input)
        if (!merged.contains(name))
            merged.insert(name, values);
    const TagLib::PropertyMap refused = KeepUnnamed(tag, tag.setProperties(merged));
    if (refused.isEmpty())
        return;
    std::string names;
    for (const auto& [name, values] : refused)
        names += (names.empty() ? "" : ", ") + name.to8Bit(true);
    warnings.push_back(std::string("the tags ") + names + " have no place in " + format +
                       " and were left out");
}

std::unique_ptr<TagLib::FLAC::Picture> FlacPicture(const TCover& cover)
{
    auto picture = std::make_unique<TagLib::FLAC::Picture>();
    picture->setType(TagLib::FLAC::Picture::FrontCover);
    picture->setMimeType(cover.MimeType);
    picture->setData(cover.Data);
    return picture;
}

// Each writer adds the cover only where the output has none; TagLib takes ownership of
// the frames and pictures it is handed.
bool WriteMp3(const std::string& path, const TagLib::PropertyMap& input,
              const std::optional<TCover>& cover, std::vector<std::string>& warnings)
{
    TagLib::MPEG::File file(path.c_str(), false);
    TagLib::ID3v2::Tag* tag = file.isValid() ? file.ID3v2Tag(true) : nullptr;
    if (!tag)
        return false;
    AddMissing(*tag, input, "MP3", warnings);
    if (cover && tag->frameListMap()["APIC"].isEmpty()) {
        auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
        frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        frame->setMimeType(cover->MimeType);
        frame->setPicture(cover->Data);
        tag->addFrame(frame.release());
    }
    // The muxer writes ID3v2.4 and nothing else; so does this.
    return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4);
}

bool WriteFlac(const std::string& path, const TagLib::PropertyMap& input,
               const std::optional<TCover>& cover, std::vector<std::string>& warnings)
{
    TagLib::FLAC::File file(path.c_str(), false);
    TagLib::Ogg::XiphComment* tag = file.isValid() ? file.xiphComment(true) : nullptr;
    if (!tag)
        return false;
    AddMissing(*tag, input, "FLAC", warnings);
    if (cover && file.pictureList().isEmpty()) {
        if (cover->Data.size() > kFlacBlockLimit - 1024)
            warnings.push_back("the cover (" + std::to_string(cover->Data.size()) +
                               " bytes) is larger than FLAC holds and was left out");
        else
            file.addPicture(FlacPicture(*cover).release());
    }
    return file.save();
}

template <typename OggFile>
bool WriteOgg(const std::string& path, const TagLib::PropertyMap& input,
              const std::optional<TCover>& cover, const char* format,
              std::vector<std::string>& warnings)
{
    OggFile file(path.c_str(), false);
    TagLib::Ogg::XiphComment* tag = file.isValid() ? file.tag() : nullptr;
    if (!tag)
        return false;
    AddMissing(*tag, input, format, warnings);
    if (cover && tag->pictureList().isEmpty())
        tag->addPicture(FlacPicture(*cover).release());
    return file.save();
}

bool WriteMp4(const std::string& path, const TagLib::PropertyMap& input,
              const std::optional<TCover>& cover, std::vector<std::string>& warnings)
{
    TagLib::MP4::File file(path.c_str(), false);
    TagLib::MP4::Tag* tag = file.isValid() ? file.tag() : nullptr;
    if (!tag)
        return false;
    AddMissing(*tag, input, "MP4", warnings);
    if (cover && !tag->contains("covr")) {
        static const std::pair<const char*, TagLib::MP4::CoverArt::Format> kFormats[] = {
            {"image/jpeg", TagLib::MP4::CoverArt::JPEG},
            {"image/png", TagLib::MP4::CoverArt::PNG},
            {"image/gif", TagLib::MP4::CoverArt::GIF},
            {"image/bmp", TagLib::MP4::CoverArt::BMP}};
        const auto known =
            std::find_if(std::begin(kFormats), std::end(kFormats),
                         [&](const auto& entry) { return cover->MimeType == entry.first; });
        if (known == std::end(kFormats)) {
            warnings.push_back("the cover (" + cover->MimeType +
                               ") is not a kind of picture MP4 holds and was left out");
        } else {
            TagLib::MP4::CoverArtList covers;
            covers.append(TagLib::MP4::CoverArt(known->second, cover->Data));
            tag->setItem("covr", covers);
        }
    }
    return file.save();
}

bool WriteAsf(const std::string& path, const TagLib::PropertyMap& input,
              const std::optional<TCover>& cover, std::vector<std::string>& warnings)
{
    TagLib::ASF::File file(path.c_str(), false);
    TagLib::ASF::Tag* tag = file.isValid() ? file.tag() : nullptr;
    if (!tag)
        return false;
    AddMissing(*tag, input, "WMA", warnings);
    if (cover && !tag->contains("WM/Picture")) {
        TagLib::ASF::Picture picture;
        picture.setType(TagLib::ASF::Picture::FrontCover);
        picture.setMimeType(cover->MimeType);
        picture.setPicture(cover->Data);
        tag->setAttribute("WM/Picture", TagLib::ASF::Attribute(picture));
    }
    return file.save();
}

}  // namespace

std::vector<std::string> CarryTags(const AVFormatContext& input, const std::string& outputFile,
                                   const std::string& muxerName)
{
    using TWriter = bool (*)(const std::string&, const TagLib::PropertyMap&,
                             const std::optional<TCover>&, std::vector<std::string>&);
    static const std::pair<const char*, TWriter> kWriters[] = {
        {"mp3", WriteMp3},
        {"flac", WriteFlac},
        {"ipod", WriteMp4},
        {"mp4", WriteMp4},
        {"asf", WriteAsf},
        {"ogg",
         [](const std::string& path, const TagLib::PropertyMap& tags,
            const std::optional<TCover>& cover, std::vector<std::string>& warnings) {
             return WriteOgg<TagLib::Ogg::Vorbis::File>(path, tags, cover, "Ogg Vorbis", warnings);
         }},
        {"opus",
         [](const std::string& path, const TagLib::PropertyMap& tags,
            const std::optional<TCover>& cover, std::vector<std::string>& warnings) {
             return WriteOgg<TagLib::Ogg::Opus::File>(path, tags, cover, "Opus", warnings);
         }},
    };
    const auto writer = std::find_if(std::begin(kWriters), std::end(kWriters),
                                     [&](const auto& entry) { return muxerName == entry.first; });
    if (writer == std::end(kWriters))
        return {};

    std::vector<std::string> warnings;
    std::optional<TCover> cover = FirstCover(input);
    if (cover && cover->MimeType.empty()) {
        warnings.push_back(
            "the cover is not a JPEG, PNG, GIF, BMP or WebP picture and was left out");
        cover.reset();
    }
    if (!writer->second(outputFile, InputProperties(input), cover, warnings))
        warnings.push_back("the tags and the cover could not be written into the output");
    return warnings;
}

}  // namespace kelvaro
