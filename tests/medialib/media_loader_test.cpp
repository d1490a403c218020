#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>

#include "fixtures/media_fixtures.h"
#include "medialib/log_levels.h"
#include "medialib/media_functions.h"
#include "medialib/media_loader.h"
#include "medialib/realvideo_library.h"
#include "medialib/realvideo_standin.h"
#include "support/test_support.h"

namespace kelvaro {
namespace {

namespace fs = std::filesystem;
using fixtures::TempDir;

// Five stand-in libraries in the roles of avcodec, avformat, avutil, swscale and
// swresample, each with three functions.
class FakeLibraries : public ::testing::Test {
protected:
    FakeLibraries()
    {
        const char* stems[] = {"kfcodec", "kfformat", "kfutil", "kfscale", "kfresample"};
        const int majors[] = {59, 59, 57, 6, 4};
        for (size_t i = 0; i < libraries_.size(); ++i) {
            libraries_[i] = std::make_unique<MediaLibrary>(
                stems[i], majors[i],
                std::vector<FunctionSlot>{{"fake_first", &slots_[i][0]},
                                          {"fake_second", &slots_[i][1]},
                                          {"fake_third", &slots_[i][2]}});
        }
        set_.bindOrder = {&Codec(), &Format(), &Util(), &Scale(), &Resample()};
        set_.dependencyOrder = {&Util(), &Resample(), &Scale(), &Codec(), &Format()};
        set_.versionedNames = set_.bindOrder;
    }
    ~FakeLibraries() override { UnloadMediaLibraries(set_); }

    MediaLibrary& Codec() { return *libraries_[0]; }
    MediaLibrary& Format() { return *libraries_[1]; }
    MediaLibrary& Util() { return *libraries_[2]; }
    MediaLibrary& Scale() { return *libraries_[3]; }
    MediaLibrary& Resample() { return *libraries_[4]; }

    // Copies a stand-in into the folder under the library's current file name.
    void Put(const MediaLibrary& library, const char* source = FAKE_LIBRARY)
    {
        fs::copy_file(source, folder_.File(library.FileName()),
                      fs::copy_options::overwrite_existing);
    }
    void PutAll(bool versioned)
    {
        for (auto& library : libraries_) {
            library->SetVersioned(versioned);
            Put(*library);
        }
    }
    bool StillMapped(const std::string& fileName)
    {
        void* handle = dlopen(folder_.File(fileName).c_str(), RTLD_LAZY | RTLD_NOLOAD);
        if (handle)
            dlclose(handle);
        return handle != nullptr;
    }
    bool AnyStillMapped()
    {
        for (auto& library : libraries_)
            if (StillMapped(library->FileName()))
                return true;
        return false;
    }
    int CallFirst(size_t library)
    {
        return reinterpret_cast<int (*)()>(slots_[library][0])();
    }

    TempDir folder_;
    std::array<std::unique_ptr<MediaLibrary>, 5> libraries_;
    void* slots_[5][3] = {};
    MediaLibrarySet set_;
};

TEST_F(FakeLibraries, LoadsEveryLibraryFromTheFolderAndBindsEveryName)
{
    PutAll(true);
    ASSERT_TRUE(LoadMediaLibraries(set_, folder_.Path(), true)) << set_.loadError;
    EXPECT_TRUE(set_.loaded);
    EXPECT_EQ(set_.loadError, "");
    for (size_t i = 0; i < libraries_.size(); ++i) {
        EXPECT_TRUE(libraries_[i]->IsBound());
        EXPECT_EQ(fs::path(libraries_[i]->LoadedPath()).parent_path(), fs::path(folder_.Path()));
        EXPECT_EQ(CallFirst(i), 1);
        EXPECT_NE(slots_[i][2], nullptr);
    }
}

TEST_F(FakeLibraries, MissingLibraryIsNamedAndNothingStaysLoaded)
{
    PutAll(true);
    fs::remove(folder_.File(Util().FileName()));

    EXPECT_FALSE(LoadMediaLibraries(set_, folder_.Path(), true));
    EXPECT_FALSE(set_.loaded);
    EXPECT_EQ(set_.loadError,
              "Load libraray libkfutil.so.57 error: libkfutil.so.57: cannot open shared object "
              "file: No such file or directory");
    EXPECT_FALSE(AnyStillMapped());
    EXPECT_EQ(slots_[0][0], nullptr) << "slots must not point into unloaded libraries";
}

TEST_F(FakeLibraries, FailuresAreReportedInBindOrderNotLoadOrder)
{
    // Nothing anywhere: the first library of the bind order is the one named.
    EXPECT_FALSE(LoadMediaLibraries(set_, folder_.Path(), true));
    EXPECT_EQ(set_.loadError.rfind("Load libraray libkfcodec.so.59 error: ", 0), 0u)
        << set_.loadError;
}

TEST_F(FakeLibraries, MissingFunctionIsNamedWithItsLibrary)
{
    PutAll(true);
    Put(Codec(), FAKE_LIBRARY_PARTIAL);

    EXPECT_FALSE(LoadMediaLibraries(set_, folder_.Path(), true));
    EXPECT_EQ(set_.loadError, "Load function fake_third@libkfcodec.so.59 error: " +
                                  folder_.File("libkfcodec.so.59") +
                                  ": undefined symbol: fake_third");
    EXPECT_FALSE(AnyStillMapped());
}

TEST_F(FakeLibraries, VersionedAndPlainNamesNeverFallBackToEachOther)
{
    PutAll(false);  // plain names only
    EXPECT_FALSE(LoadMediaLibraries(set_, folder_.Path(), true));
    EXPECT_EQ(set_.loadError.rfind("Load libraray libkfcodec.so.59 error: ", 0), 0u);

    EXPECT_TRUE(LoadMediaLibraries(set_, folder_.Path(), false)) << set_.loadError;
    EXPECT_EQ(fs::path(Codec().LoadedPath()).filename(), "libkfcodec.so");
    UnloadMediaLibraries(set_);

    TempDir versionedOnly;
    for (auto& library : libraries_) {
        library->SetVersioned(true);
        fs::copy_file(FAKE_LIBRARY, versionedOnly.File(library->FileName()));
    }
    EXPECT_FALSE(LoadMediaLibraries(set_, versionedOnly.Path(), false));
    EXPECT_EQ(set_.loadError.rfind("Load libraray libkfcodec.so error: ", 0), 0u);
}

TEST_F(FakeLibraries, CurrentDirectoryIsTheSameAfterSuccessAndFailure)
{
    const fs::path before = fs::current_path();
    EXPECT_FALSE(LoadMediaLibraries(set_, folder_.Path(), true));
    EXPECT_EQ(fs::current_path(), before);
    PutAll(true);
    EXPECT_TRUE(LoadMediaLibraries(set_, folder_.Path(), true));
    EXPECT_EQ(fs::current_path(), before);
}

TEST_F(FakeLibraries, SecondCallAnswersTrueWithoutTouchingAnything)
{
    PutAll(true);
    ASSERT_TRUE(LoadMediaLibraries(set_, folder_.Path(), true));
    const std::string path = Codec().LoadedPath();
    int onLoadedCalls = 0;
    set_.onLoaded = [&] { ++onLoadedCalls; };

    EXPECT_TRUE(LoadMediaLibraries(set_, "/nonexistent", false));
    EXPECT_EQ(Codec().LoadedPath(), path);
    EXPECT_EQ(Codec().FileName(), "libkfcodec.so.59") << "the name switch is left alone";
    EXPECT_EQ(onLoadedCalls, 0);
}

TEST_F(FakeLibraries, OptionalRealVideoLibraryBindsEitherNameSetAndIsNeverRequired)
{
    PutAll(true);
    set_.optional = {&RealVideoLibrary()};
    ASSERT_TRUE(LoadMediaLibraries(set_, folder_.Path(), true)) << "absent: not required";
    EXPECT_FALSE(RealVideoLibrary().IsBound());
    UnloadMediaLibraries(set_);

    // Neither name set complete: not bound, the last name tried is reported, and loading
    // still succeeds.
    fs::copy_file(REALVIDEO_STANDIN_INCOMPLETE, folder_.File("drvc.so"));
    ASSERT_TRUE(LoadMediaLibraries(set_, folder_.Path(), true));
    EXPECT_FALSE(RealVideoLibrary().IsBound());
    EXPECT_EQ(RealVideoLibrary().ErrorText().rfind(
                  "Load function RV20toYUV420Transform@drvc.so error: ", 0),
              0u)
        << RealVideoLibrary().ErrorText();
    EXPECT_EQ(realvideo.Init, nullptr) << "no slot keeps half a name set";
    UnloadMediaLibraries(set_);

    // The newer names, the older ones, and the older ones when a newer one is missing; each
    // from a folder of its own, so that no earlier mapping can answer for it.
    const std::pair<const char*, int> standIns[] = {{REALVIDEO_STANDIN_RV40, 40},
                                                    {REALVIDEO_STANDIN_RV20, 20},
                                                    {REALVIDEO_STANDIN_FALLBACK, 20}};
    for (const auto& [standIn, prefix] : standIns) {
        const fs::path folder = folder_.Path() / fs::path(standIn).stem();
        fs::create_directory(folder);
        fs::copy_file(standIn, folder / "drvc.so");
        ASSERT_TRUE(RealVideoLibrary().Bind(folder.string())) << RealVideoLibrary().ErrorText();
        RealVideoInitRecord record;
        void* handle = nullptr;
        EXPECT_EQ(realvideo.Init(&record, &handle), 0);
        EXPECT_EQ(RealVideoStandInLoadedFrom(RealVideoLibrary().LoadedPath())->prefix, prefix)
            << standIn;
        RealVideoLibrary().Unload();
        EXPECT_EQ(realvideo.Transform, nullptr);
    }
}

TEST(RealMediaLibraries, BindEveryFunctionAndSetTheLogThreshold)
{
    test::LoadMediaLibrariesForTest();
    EXPECT_TRUE(MediaLibrariesLoaded());
    EXPECT_EQ(LogThreshold.load(), 1) << "the library starts at its info level";
    for (const MediaLibrary* library : DefaultMediaLibraries().bindOrder)
        EXPECT_TRUE(library->IsBound()) << library->FileName();
    EXPECT_NE(avcodec.avcodec_open2, nullptr);
    EXPECT_NE(swresample.swr_convert, nullptr);
    EXPECT_EQ(avutil.av_get_bytes_per_sample(AV_SAMPLE_FMT_S16), 2);
    EXPECT_STREQ(avcodec.avcodec_get_name(AV_CODEC_ID_WMAV2), "wmav2");
}

std::string RunProbe(const std::string& folder, int* status)
{
    const std::string command = std::string(LOAD_PROBE) + " '" + folder + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::ostringstream output;
    char line[4096];
    while (fgets(line, sizeof line, pipe.get()))
        output << line;
    *status = pclose(pipe.release());
    return output.str();
}

TEST(RealMediaLibraries, FolderCopiesAreMappedInsteadOfTheSystemOnes)
{
    TempDir program;
    const fs::path folder = fs::path(program.Path()) / "Lib";
    fs::create_directory(folder);
    for (const char* name : {"libavutil.so.57", "libavcodec.so.59", "libavformat.so.59",
                             "libswscale.so.6", "libswresample.so.4"}) {
        const fs::path system = fs::path("/usr/lib/x86_64-linux-gnu") / name;
        if (!fs::exists(system))
            GTEST_SKIP() << system << " not found";
        fs::copy_file(fs::canonical(system), folder / name);
    }
    int status = 0;
    const std::string mapped = RunProbe(folder.string(), &status);
    EXPECT_EQ(status, 0) << mapped;
    std::istringstream lines(mapped);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_EQ(fs::path(line).parent_path(), folder) << "mapped from outside the folder";
    EXPECT_EQ(count, 5);
}

}  // namespace
}  // namespace kelvaro
