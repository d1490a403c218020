#include "engine/logging.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <mutex>
#include <thread>

#include "engine/job.h"
#include "engine/media_error.h"
#include "medialib/log_levels.h"
#include "medialib/media_functions.h"
#include "support/test_support.h"

namespace kelvaro {
namespace {

struct Line {
    uint32_t threadId;
    int level;
    std::string text;
};

// Stands in for a converter component in the registry.
class RecordingComponent final : public TLogDispatcher {
public:
    RecordingComponent() { ConverterRegistry().Add(this); }
    ~RecordingComponent() { ConverterRegistry().Remove(this); }
    void DispatchLog(uint32_t threadId, int level, const std::string& line) override
    {
        std::lock_guard lock(mutex_);
        lines_.push_back({threadId, level, line});
    }
    std::vector<Line> Lines()
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<std::string> Texts()
    {
        std::vector<std::string> texts;
        for (const Line& line : Lines())
            texts.push_back(line.text);
        return texts;
    }

private:
    std::mutex mutex_;
    std::vector<Line> lines_;
};

void LogThrough(void* context, int level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void LogThrough(void* context, int level, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    LibraryLogCallback(context, level, format, arguments);
    va_end(arguments);
}

const char* ItemName(void*)
{
    return "probe";
}
const AVClass kProbeClass = [] {
    AVClass record{};
    record.class_name = "Probe";
    record.item_name = ItemName;
    record.version = LIBAVUTIL_VERSION_INT;
    return record;
}();
struct ProbeObject {
    const AVClass* record = &kProbeClass;
};

std::string ProbePrefix()
{
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "[probe @ %016llX]",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&kProbeClass)));
    return prefix;
}

class LibraryLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::LoadMediaLibrariesForTest();
        LogItems().Clear();
        LogThreshold = 3;
    }
    void TearDown() override
    {
        LogItems().Clear();
        LogThreshold = 1;
    }
    RecordingComponent component_;
    ProbeObject probe_;
};

TEST_F(LibraryLog, PartialMessagesOfOneThreadJoinIntoOneLineWithOnePrefix)
{
    LogThrough(&probe_, AV_LOG_INFO, "abc");
    EXPECT_TRUE(component_.Lines().empty());
    LogThrough(&probe_, AV_LOG_INFO, "%s\n", "def");
    ASSERT_EQ(component_.Lines().size(), 1u);
    EXPECT_EQ(component_.Lines()[0].text, ProbePrefix() + "abcdef");
    EXPECT_EQ(component_.Lines()[0].level, 1);
    EXPECT_EQ(component_.Lines()[0].threadId, CurrentThreadId());
}

TEST_F(LibraryLog, OneMessageMaySpanSeveralLinesAndLeaveARest)
{
    LogThrough(nullptr, AV_LOG_ERROR, "a\nb\nc");
    EXPECT_EQ(component_.Texts(), (std::vector<std::string>{"a", "b"}));
    LogThrough(nullptr, AV_LOG_ERROR, "\n");
    EXPECT_EQ(component_.Texts(), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(LibraryLog, LineFeedAloneGivesAnEmptyLineAndCarriageReturnsStay)
{
    LogThrough(nullptr, AV_LOG_INFO, "\n");
    LogThrough(nullptr, AV_LOG_INFO, "dos line\r\n");
    EXPECT_EQ(component_.Texts(), (std::vector<std::string>{"", "dos line\r"}));
}

TEST_F(LibraryLog, ThresholdFiltersOnTheMappedLevel)
{
    LogThreshold = 0;  // errors only
    LogThrough(nullptr, AV_LOG_INFO, "info\n");
    LogThrough(nullptr, AV_LOG_VERBOSE, "verbose\n");
    LogThrough(nullptr, AV_LOG_WARNING, "hidden warning\n");
    LogThrough(nullptr, AV_LOG_ERROR | AV_LOG_C(134), "coloured error\n");
    LibraryWarningLevel = 0;  // warnings shown with the errors
    LogThrough(nullptr, AV_LOG_WARNING, "warning\n");
    LibraryWarningLevel = 1;
    const std::vector<Line> lines = component_.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "coloured error");
    EXPECT_EQ(lines[1].text, "warning");
    EXPECT_EQ(lines[1].level, 0);

    LogThreshold = -1;  // quiet
    LogThrough(nullptr, AV_LOG_ERROR, "dropped\n");
    EXPECT_EQ(component_.Lines().size(), 2u);
}

TEST_F(LibraryLog, DroppedMessageLeavesThePendingTextAlone)
{
    LogThrough(nullptr, AV_LOG_ERROR, "start ");
    LogThreshold = 0;
    LogThrough(nullptr, AV_LOG_DEBUG, "debug piece ");
    LogThrough(nullptr, AV_LOG_ERROR, "end\n");
    EXPECT_EQ(component_.Texts(), (std::vector<std::string>{"start end"}));
}

TEST_F(LibraryLog, EveryComponentReceivesEveryLine)
{
    RecordingComponent second;
    LogThrough(nullptr, AV_LOG_INFO, "one\ntwo\n");
    EXPECT_EQ(component_.Texts(), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(second.Texts(), (std::vector<std::string>{"one", "two"}));
}

TEST_F(LibraryLog, OverlongTextIsCutAtTheBufferAndLoggingGoesOn)
{
    const std::string longPiece(2000, 'p');
    LogThrough(nullptr, AV_LOG_INFO, "%s", longPiece.c_str());
    LogThrough(nullptr, AV_LOG_INFO, "%s\n", std::string(1000, 'q').c_str());
    LogThrough(nullptr, AV_LOG_INFO, "next\n");
    const std::vector<std::string> texts = component_.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], longPiece + std::string(47, 'q')) << "cut at 2047 characters";
    EXPECT_EQ(texts[1], "next");
}

TEST_F(LibraryLog, RealLibraryMessagesArriveThroughTheInstalledCallback)
{
    avutil.av_log(nullptr, AV_LOG_ERROR, "from the library %d\n", 42);
    EXPECT_EQ(component_.Texts(), (std::vector<std::string>{"from the library 42"}));
}

TEST_F(LibraryLog, ThreadsKeepSeparatePendingTexts)
{
    LogThrough(nullptr, AV_LOG_INFO, "main-");
    std::thread other([] { LogThrough(nullptr, AV_LOG_INFO, "other-"); });
    other.join();
    std::thread otherAgain([] { LogThrough(nullptr, AV_LOG_INFO, "second\n"); });
    otherAgain.join();
    LogThrough(nullptr, AV_LOG_INFO, "first\n");
    const std::vector<std::string> texts = component_.Texts();
    // Two distinct threads: the first helper's text was never completed.
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "second");
    EXPECT_EQ(texts[1], "main-first");
}

TEST_F(LibraryLog, InterleavedThreadsAndConcurrentClearsNeverMixLines)
{
    constexpr int kLines = 2000;
    auto writer = [](char tag) {
        for (int i = 0; i < kLines; ++i) {
            LogThrough(nullptr, AV_LOG_INFO, "%c", tag);
            LogThrough(nullptr, AV_LOG_INFO, "%c\n", tag);
        }
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    for (int i = 0; i < 200; ++i)
        LogItems().Clear();
    a.join();
    b.join();
    for (const std::string& text : component_.Texts())
        EXPECT_TRUE(text == "aa" || text == "bb" || text == "a" || text == "b") << text;
}

TEST(LogItemList, ItemsAreFoundPerThreadAndNewOnesGoBehindTheFirst)
{
    TLogList list;
    std::lock_guard lock(list.Mutex());
    TLogItem& first = list.ItemOfThread(11);
    EXPECT_EQ(first.ThreadId, 11u);
    TLogItem& second = list.ItemOfThread(22);
    TLogItem& third = list.ItemOfThread(33);
    EXPECT_EQ(&list.ItemOfThread(11), &first);
    EXPECT_EQ(&list.ItemOfThread(22), &second);
    EXPECT_EQ(first.Next.get(), &third) << "newest directly behind the first";
    EXPECT_EQ(third.Next.get(), &second);
}

TEST(LogLevels, LibraryAndKelvaroScalesMapBothWays)
{
    EXPECT_EQ(LevelFromLibrary(AV_LOG_QUIET), -1);
    EXPECT_EQ(LevelFromLibrary(AV_LOG_PANIC), 0);
    EXPECT_EQ(LevelFromLibrary(AV_LOG_FATAL), 0);
    EXPECT_EQ(LevelFromLibrary(AV_LOG_WARNING), 1) << "hidden when only errors are asked for";
    EXPECT_EQ(LevelFromLibrary(AV_LOG_INFO | AV_LOG_C(134)), 1);
    EXPECT_EQ(LevelFromLibrary(AV_LOG_VERBOSE), 2);
    EXPECT_EQ(LevelFromLibrary(AV_LOG_DEBUG), 2);
    EXPECT_EQ(LevelFromLibrary(AV_LOG_TRACE), 3);
    for (int level = -1; level <= 3; ++level)
        EXPECT_EQ(LevelFromLibrary(LibraryLevelFromLevel(level)), level);
}

TEST(JobLogLevel, SetsTheJobTheLibraryAndTheSharedThreshold)
{
    test::LoadMediaLibrariesForTest();
    std::mutex lock;
    TCustomFFmpegHlpr job(lock);
    job.SetLogLevel(2);
    EXPECT_EQ(job.JobLogLevel, 2);
    EXPECT_EQ(avutil.av_log_get_level(), AV_LOG_DEBUG);
    EXPECT_EQ(LogThreshold.load(), 2);
    job.SetLogLevel(-1);
    EXPECT_EQ(avutil.av_log_get_level(), AV_LOG_QUIET);
    EXPECT_EQ(LogThreshold.load(), -1);

    // A second job's quieter level does not silence the first: the library follows the most
    // talkative, until that job is gone.
    job.SetLogLevel(2);
    {
        TCustomFFmpegHlpr quiet(lock);
        quiet.SetLogLevel(-1);
        EXPECT_EQ(quiet.JobLogLevel, -1);
        EXPECT_EQ(avutil.av_log_get_level(), AV_LOG_DEBUG);
        job.SetLogLevel(0);
        EXPECT_EQ(LogThreshold.load(), 0);
    }
    EXPECT_EQ(LogThreshold.load(), 0);
    job.SetLogLevel(1);
}

// A component whose log handler throws.
class ThrowingComponent final : public TLogDispatcher {
public:
    ThrowingComponent() { ConverterRegistry().Add(this); }
    ~ThrowingComponent() { ConverterRegistry().Remove(this); }
    void DispatchLog(uint32_t, int, const std::string&) override
    {
        throw std::runtime_error("the handler failed");
    }
};

TEST_F(LibraryLog, AThrowingHandlerNeverUnwindsThroughTheLibrary)
{
    const ThrowingComponent throwing;  // after component_ in the registry
    // Through the library's own C code, as its codecs and demuxers log.
    avutil.av_log(&probe_, AV_LOG_ERROR, "first\n");
    avutil.av_log(&probe_, AV_LOG_ERROR, "second\n");
    EXPECT_EQ(component_.Texts(),
              (std::vector<std::string>{ProbePrefix() + "first", ProbePrefix() + "second"}));
}

TEST(MediaErrorTexts, CodesChooseTheirTemplate)
{
    test::LoadMediaLibrariesForTest();
    EXPECT_EQ(MediaErrorText("in.avi", -2), "in.avi: no such file or directory");
    EXPECT_EQ(MediaErrorText("in.avi", -1),
              "in.avi: Error while opening file: Operation not permitted");
    EXPECT_EQ(MediaErrorText("in.avi", AVERROR(ENOSPC)),
              "in.avi: Error while opening file: No space left on device");
    EXPECT_EQ(MediaErrorText("in.avi", AVERROR_PATCHWELCOME),
              "in.avi: Error while opening file: Not yet implemented in FFmpeg, patches welcome");
    EXPECT_EQ(MediaErrorText("in.avi", -42), "in.avi: Unknown format");
    EXPECT_EQ(MediaErrorText("in.avi", AVERROR_INVALIDDATA), "in.avi: Unknown format");
    EXPECT_EQ(MediaErrorText("in.avi", -22),
              "in.avi: Error while parsing header: Invalid argument");
    EXPECT_EQ(MediaErrorText("in.avi", -12), "in.avi: memory allocation error occurred");
    EXPECT_EQ(MediaErrorText("x", -5),
              "x: I/O error occurred\r\nUsually that means that input file is truncated "
              "and/or corrupted.");
    EXPECT_EQ(MediaErrorText("img.jpg", -33),
              "img.jpg: Incorrect image filename syntax.\r\nUse '%d' to specify the image "
              "number:\r\n  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n  for img001.jpg, "
              "img002.jpg, ..., use 'img%03d.jpg'.");
    EXPECT_EQ(MediaErrorText("100%s.wav", -2), "100%s.wav: no such file or directory")
        << "the name is text, never a format";
}

}  // namespace
}  // namespace kelvaro
