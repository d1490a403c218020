#include "medialib/media_library.h"

#include <utility>

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

namespace kelvaro {

MediaLibrary::MediaLibrary(std::string stem, int major, std::vector<FunctionSlot> slots)
    : stem_(std::move(stem)), major_(major), slots_(std::move(slots))
{
}

MediaLibrary::MediaLibrary(MediaLibrary&& other) noexcept
    : stem_(std::move(other.stem_)),
      major_(other.major_),
      fixedName_(other.fixedName_),
      versioned_(other.versioned_),
      slots_(std::move(other.slots_)),
      fallback_(std::move(other.fallback_)),
      handle_(std::exchange(other.handle_, nullptr)),
      bound_(std::exchange(other.bound_, false)),
      error_(std::move(other.error_))
{
}

MediaLibrary MediaLibrary::WithFixedName(std::string fileName, std::vector<FunctionSlot> slots,
                                         std::vector<FunctionSlot> fallback)
{
    MediaLibrary library(std::move(fileName), 0, std::move(slots));
    library.fixedName_ = true;
    library.fallback_ = std::move(fallback);
    return library;
}

std::string MediaLibrary::FileName() const
{
    if (fixedName_)
        return stem_;
    std::string name = "lib" + stem_ + ".so";
    if (versioned_)
        name += "." + std::to_string(major_);
    return name;
}

bool MediaLibrary::IsInFolder(const std::string& folder) const
{
    return !folder.empty() && access((folder + "/" + FileName()).c_str(), F_OK) == 0;
}

std::string MediaLibrary::PathIn(const std::string& folder) const
{
    return IsInFolder(folder) ? folder + "/" + FileName() : FileName();
}

bool MediaLibrary::Load(const std::string& folder)
{
    if (handle_)
        return true;
    handle_ = dlopen(PathIn(folder).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* reason = dlerror();
        error_ = "Load libraray " + FileName() + " error: " + (reason ? reason : "unknown error");
    }
    return handle_ != nullptr;
}

bool MediaLibrary::BindFunctions(const std::vector<FunctionSlot>& slots)
{
    for (const FunctionSlot& slot : slots) {
        dlerror();  // a stale error must not be mistaken for this lookup's
        void* address = dlsym(handle_, slot.name);
        if (!address) {
            const char* reason = dlerror();
            error_ = std::string("Load function ") + slot.name + "@" + FileName() + " error: " +
                     (reason ? reason : "symbol is null");
            return false;
        }
        *slot.target = address;
    }
    return true;
}

bool MediaLibrary::Bind(const std::string& folder)
{
    if (!Load(folder) || bound_)
        return IsLoaded();
    bound_ = BindFunctions(slots_) || (!fallback_.empty() && BindFunctions(fallback_));
    if (!bound_)
        ClearSlots();
    return bound_;
}

std::string MediaLibrary::LoadedPath() const
{
    link_map* map = nullptr;
    if (!handle_ || dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name)
        return {};
    return map->l_name;
}

void MediaLibrary::ClearSlots()
{
    // A slot must never point into a library that may be unmapped, nor hold half a name set.
    for (const FunctionSlot& slot : slots_)
        *slot.target = nullptr;
}

void MediaLibrary::Unload()
{
    if (handle_)
        dlclose(handle_);
    handle_ = nullptr;
    bound_ = false;
    ClearSlots();
}

}  // namespace kelvaro
