#pragma once
// One dynamically loaded library and the function slots bound from it.

#include <string>
#include <vector>

namespace kelvaro {

// A name the loader resolves and the slot that receives its address. The slot is a typed
// function pointer written through void** (the POSIX dlsym idiom).
struct FunctionSlot {
    const char* name;
    void** target;
};

template <class Fn>
FunctionSlot MakeSlot(const char* name, Fn*& slot)
{
    return FunctionSlot{name, reinterpret_cast<void**>(&slot)};
}

// Not thread-safe: loading happens on the main thread before any job exists.
class MediaLibrary final {
public:
    // A library named "lib<stem>.so.<major>" (versioned) or "lib<stem>.so" (plain).
    MediaLibrary(std::string stem, int major, std::vector<FunctionSlot> slots);
    // A library with one fixed file name, whatever the versioned-name switch says. When the
    // slots cannot all be bound, the fallback names are tried for the same slots.
    static MediaLibrary WithFixedName(std::string fileName, std::vector<FunctionSlot> slots,
                                      std::vector<FunctionSlot> fallback = {});

    MediaLibrary(const MediaLibrary&) = delete;
    MediaLibrary& operator=(const MediaLibrary&) = delete;
    // The moved-from library no longer owns the mapping, so Unload runs once per mapping.
    MediaLibrary(MediaLibrary&& other) noexcept;
    ~MediaLibrary() = default;  // libraries stay mapped until Unload, by design

    void SetVersioned(bool versioned) { versioned_ = versioned; }
    std::string FileName() const;
    // Where Load will look: folder/FileName() when that file exists, else the bare name
    // for the dynamic linker's normal search.
    std::string PathIn(const std::string& folder) const;
    bool IsInFolder(const std::string& folder) const;

    bool Load(const std::string& folder);
    // Loads, then resolves every name of the list in order. The first name that does not
    // resolve fails the bind; the library stays loaded until Unload.
    bool Bind(const std::string& folder);
    void Unload();

    bool IsLoaded() const { return handle_ != nullptr; }
    // The file the dynamic linker actually mapped; empty while not loaded.
    std::string LoadedPath() const;
    bool IsBound() const { return bound_; }
    const std::string& ErrorText() const { return error_; }

private:
    std::string stem_;
    int major_ = 0;
    bool fixedName_ = false;
    bool versioned_ = true;
    bool BindFunctions(const std::vector<FunctionSlot>& slots);
    void ClearSlots();

    std::vector<FunctionSlot> slots_;
    std::vector<FunctionSlot> fallback_;
    void* handle_ = nullptr;
    bool bound_ = false;
    std::string error_;
};

}  // namespace kelvaro
