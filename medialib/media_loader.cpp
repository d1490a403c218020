#include "medialib/media_loader.h"

#include <unistd.h>

#include <filesystem>

#include "medialib/fpu_control.h"
#include "medialib/log_levels.h"
#include "medialib/media_functions.h"
#include "medialib/realvideo_library.h"

namespace kelvaro {
namespace {

// Lives for the whole run of any program that links the loader.
struct FloatingPointGuard final {
    FloatingPointGuard() : previous(MaskFloatingPointExceptions()) {}
    ~FloatingPointGuard() { RestoreFloatingPointControl(previous); }
    unsigned previous;
};
const FloatingPointGuard floatingPointGuard;

// Makes the library folder the current directory for the duration of a load, as the
// Windows loader needed; a failure to change it is ignored.
class CurrentDirectoryChange final {
public:
    explicit CurrentDirectoryChange(const std::string& folder)
    {
        if (folder.empty())
            return;
        std::error_code error;
        previous_ = std::filesystem::current_path(error);
        if (!error)
            changed_ = chdir(folder.c_str()) == 0;
    }
    ~CurrentDirectoryChange()
    {
        std::error_code ignored;  // nothing sensible is left to do when it cannot go back
        if (changed_)
            std::filesystem::current_path(previous_, ignored);
    }
    CurrentDirectoryChange(const CurrentDirectoryChange&) = delete;
    CurrentDirectoryChange& operator=(const CurrentDirectoryChange&) = delete;

private:
    std::filesystem::path previous_;
    bool changed_ = false;
};

std::string AbsoluteFolder(const std::string& folder)
{
    if (folder.empty())
        return folder;
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(folder, ignored);
    std::string text = absolute.empty() ? folder : absolute.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

bool LoadAndBind(MediaLibrarySet& set, const std::string& folder)
{
    // Presence, in bind order: a library outside the folder is loaded at once through the
    // normal search; one in the folder waits for the dependency-ordered pass below.
    for (MediaLibrary* library : set.bindOrder) {
        if (!library->IsInFolder(folder) && !library->Load(folder)) {
            set.loadError = library->ErrorText();
            return false;
        }
    }
    // The folder's files, dependencies first, so that each library's own dependencies resolve
    // to the folder's copies rather than to the system's.
    for (MediaLibrary* library : set.dependencyOrder) {
        if (!library->Load(folder)) {
            set.loadError = library->ErrorText();
            return false;
        }
    }
    for (MediaLibrary* library : set.bindOrder) {
        if (!library->Bind(folder)) {
            set.loadError = library->ErrorText();
            return false;
        }
    }
    return true;
}

}  // namespace

bool LoadMediaLibraries(MediaLibrarySet& set, const std::string& folder, bool versioned)
{
    if (set.loaded)
        return true;
    for (MediaLibrary* library : set.versionedNames)
        library->SetVersioned(versioned);
    set.loadError.clear();

    const std::string absolute = AbsoluteFolder(folder);
    {
        CurrentDirectoryChange change(absolute);
        set.loaded = LoadAndBind(set, absolute);
        if (set.loaded) {
            for (MediaLibrary* library : set.optional)
                library->Bind(absolute);
        }
    }
    if (!set.loaded) {
        UnloadMediaLibraries(set);
        return false;
    }
    if (set.onLoaded)
        set.onLoaded();
    return true;
}

void UnloadMediaLibraries(MediaLibrarySet& set)
{
    set.loaded = false;
    for (MediaLibrary* library : set.bindOrder)
        library->Unload();
    for (MediaLibrary* library : set.optional)
        library->Unload();
}

MediaLibrarySet& DefaultMediaLibraries()
{
    static MediaLibrary util("avutil", LIBAVUTIL_VERSION_MAJOR, avutil.Slots());
    static MediaLibrary codec("avcodec", LIBAVCODEC_VERSION_MAJOR, avcodec.Slots());
    static MediaLibrary format("avformat", LIBAVFORMAT_VERSION_MAJOR, avformat.Slots());
    static MediaLibrary scale("swscale", LIBSWSCALE_VERSION_MAJOR, swscale.Slots());
    static MediaLibrary resample("swresample", LIBSWRESAMPLE_VERSION_MAJOR, swresample.Slots());
    static MediaLibrarySet set = [] {
        MediaLibrarySet s;
        s.bindOrder = {&codec, &format, &util, &scale, &resample};
        s.dependencyOrder = {&util, &resample, &scale, &codec, &format};
        s.versionedNames = s.bindOrder;
        s.optional = {&RealVideoLibrary()};
        s.onLoaded = [] { LogThreshold = LevelFromLibrary(avutil.av_log_get_level()); };
        return s;
    }();
    return set;
}

bool LoadMediaLibraries(const std::string& folder, bool versioned)
{
    return LoadMediaLibraries(DefaultMediaLibraries(), folder, versioned);
}

void UnloadMediaLibraries()
{
    UnloadMediaLibraries(DefaultMediaLibraries());
}

bool MediaLibrariesLoaded()
{
    return DefaultMediaLibraries().loaded;
}

const std::string& LoadError()
{
    return DefaultMediaLibraries().loadError;
}

std::string ProgramFolder()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return "./";
    return program.parent_path().string() + "/";
}

std::string ProgramLibraryFolder()
{
    return KELVARO_PRIVATE_LIB_FOLDER ? ProgramFolder() + "Lib" : std::string();
}

}  // namespace kelvaro
