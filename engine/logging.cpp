#include "engine/logging.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>

#include "medialib/log_levels.h"
#include "medialib/media_functions.h"

namespace kelvaro {

uint32_t CurrentThreadId()
{
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

void TConverterRegistry::Add(TLogDispatcher* component)
{
    std::lock_guard lock(mutex_);
    components_.push_back(component);
}

void TConverterRegistry::Remove(TLogDispatcher* component)
{
    std::lock_guard lock(mutex_);
    std::erase(components_, component);
}

namespace {

struct TSharedLogLevels {
    std::mutex Mutex;
    std::map<const void*, int> Levels;  // of every job that set one
};

TSharedLogLevels& SharedLogLevels()
{
    static TSharedLogLevels levels;
    return levels;
}

// Under the levels' lock.
void ApplySharedLevel(const std::map<const void*, int>& levels, int fallback)
{
    int level = fallback;
    if (!levels.empty())
        level = std::max_element(levels.begin(), levels.end(), [](const auto& a, const auto& b) {
                    return a.second < b.second;
                })->second;
    if (avutil.av_log_set_level)
        avutil.av_log_set_level(LibraryLevelFromLevel(level));
    LogThreshold = level;
}

}  // namespace

void ShareJobLogLevel(const void* job, int level)
{
    TSharedLogLevels& shared = SharedLogLevels();
    std::lock_guard lock(shared.Mutex);
    shared.Levels[job] = level;
    ApplySharedLevel(shared.Levels, level);
}

void ForgetJobLogLevel(const void* job)
{
    TSharedLogLevels& shared = SharedLogLevels();
    std::lock_guard lock(shared.Mutex);
    // The last job gone leaves the level as it was.
    if (shared.Levels.erase(job) > 0 && !shared.Levels.empty())
        ApplySharedLevel(shared.Levels, 0);
}

TConverterRegistry& ConverterRegistry()
{
    static TConverterRegistry registry;
    return registry;
}

TLogItem& TLogList::ItemOfThread(uint32_t threadId)
{
    if (first_.ThreadId == 0 || first_.ThreadId == threadId) {
        first_.ThreadId = threadId;
        return first_;
    }
    for (TLogItem* item = first_.Next.get(); item; item = item->Next.get())
        if (item->ThreadId == threadId)
            return *item;
    auto item = std::make_unique<TLogItem>();
    item->ThreadId = threadId;
    item->Next = std::move(first_.Next);
    first_.Next = std::move(item);
    return *first_.Next;
}

void TLogList::Clear()
{
    std::lock_guard lock(mutex_);
    first_.ThreadId = 0;
    first_.Pending.clear();
    // Unlink one by one: a long chain must not recurse through the destructors.
    while (first_.Next)
        first_.Next = std::move(first_.Next->Next);
}

TLogList& LogItems()
{
    static TLogList items;
    return items;
}

namespace {

constexpr size_t kLineBufferSize = 2048;

// "[name @ ADDRESS]" with the class record's address in upper-case hexadecimal, as wide as a
// pointer.
int WritePrefix(char* buffer, size_t size, void* context, const AVClass* record)
{
    const char* name = record->item_name ? record->item_name(context) : record->class_name;
    const int written = std::snprintf(buffer, size, "[%s @ %0*" PRIXPTR "]", name ? name : "",
                                      static_cast<int>(sizeof(void*) * 2),
                                      reinterpret_cast<uintptr_t>(record));
    return std::clamp(written, 0, static_cast<int>(size) - 1);
}

}  // namespace

namespace {

void DispatchLibraryLine(void* context, int libraryLevel, const char* format, va_list arguments)
{
    const int level = LevelFromLibrary(libraryLevel);
    if (LogThreshold.load(std::memory_order_relaxed) < level)
        return;

    std::lock_guard registryLock(ConverterRegistry().Mutex());
    const AVClass* record = context ? *static_cast<const AVClass* const*>(context) : nullptr;
    const uint32_t threadId = CurrentThreadId();

    std::vector<std::string> lines;
    {
        TLogList& items = LogItems();
        std::lock_guard itemsLock(items.Mutex());
        TLogItem& item = items.ItemOfThread(threadId);

        char buffer[kLineBufferSize] = {};
        size_t used = 0;
        if (record && item.Pending.empty()) {
            used = static_cast<size_t>(WritePrefix(buffer, sizeof buffer, context, record));
        } else if (!item.Pending.empty()) {
            used = std::min(item.Pending.size(), sizeof buffer - 1);
            std::memcpy(buffer, item.Pending.data(), used);
        }
        va_list copy;
        va_copy(copy, arguments);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        std::vsnprintf(buffer + used, sizeof buffer - used, format, copy);
#pragma GCC diagnostic pop
        va_end(copy);

        std::string_view text(buffer, strnlen(buffer, sizeof buffer));
        for (size_t feed = text.find('\n'); feed != std::string_view::npos;
             feed = text.find('\n')) {
            lines.emplace_back(text.substr(0, feed));
            text.remove_prefix(feed + 1);
        }
        // A rest that fills the whole buffer was cut: hand it on as a line of its own, or
        // this thread's later messages would find no room at all.
        if (text.size() == sizeof buffer - 1) {
            lines.emplace_back(text);
            text = {};
        }
        item.Pending.assign(text);
    }

    for (const std::string& line : lines)
        ConverterRegistry().ForEach(
            [&](TLogDispatcher& component) { component.DispatchLog(threadId, level, line); });
}

}  // namespace

void LibraryLogCallback(void* context, int libraryLevel, const char* format,
                        va_list arguments) noexcept
{
    // The library's C code cannot be unwound: whatever a handler (or an allocation) throws
    // ends here, and is told on the standard error stream rather than lost.
    try {
        DispatchLibraryLine(context, libraryLevel, format, arguments);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kelvaro: a library log line was lost: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "kelvaro: a library log line was lost\n");
    }
}

}  // namespace kelvaro
