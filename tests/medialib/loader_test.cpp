// Loading and binding the media libraries: all or nothing, and failures that name the file
// and the entry point. Each test starts unloaded and leaves the real libraries loaded.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "engine/custom_ffmpeg.h"
#include "medialib/medialib.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

// The names fake_avformat.c exports; keep the two in step.
const std::set<std::string> kFakeExports = {"avformat_alloc_context", "avformat_free_context",
                                            "avformat_open_input", "avformat_close_input",
                                            "avformat_version"};

// The first entry point, in binding order, that the fake lacks.
std::string FirstNameTheFakeLacks() {
#define KORVELO_NAME_OF(name) #name,
  const std::vector<std::string> names = {KORVELO_AVFORMAT_FUNCTIONS(KORVELO_NAME_OF)};
#undef KORVELO_NAME_OF
  for (const std::string &name : names)
    if (!kFakeExports.count(name))
      return name;
  return {};
}

bool NothingLoaded() {
  return !LibrariesLoaded() && !AVUtilLoaded() && !AVCodecLoaded() && !AVFormatLoaded() &&
         !SwScaleLoaded() && !SwResampleLoaded() && avlib.avcodec_open2 == nullptr &&
         avlib.avformat_open_input == nullptr && avlib.av_malloc == nullptr;
}

bool StartsWith(const std::string &AText, const std::string &APrefix) {
  return AText.compare(0, APrefix.size(), APrefix) == 0;
}

// The tests unload the libraries, which the program never does after a success. An extra
// reference of our own keeps the system's libraries mapped, so what they and their
// dependencies allocate once at load time stays reachable for the leak checker.
void PinSystemLibraries() {
  static const bool pinned = [] {
    for (const char *name : {"avutil", "avcodec", "avformat", "swscale", "swresample"})
      dlopen(LibraryFileName(name, true).c_str(), RTLD_NOW | RTLD_LOCAL);
    return true;
  }();
  (void)pinned;
}

class LoaderTest : public ::testing::Test {
protected:
  void SetUp() override {
    PinSystemLibraries();
    UnloadLibraries();
  }
  void TearDown() override { LoadLibraries("", true); }

  // Puts the fake libavformat into the folder under AFileName.
  std::string PlaceFake(const std::string &AFileName) {
    const std::string path = Folder.file(AFileName);
    fs::copy_file(KORVELO_FAKE_AVFORMAT, path, fs::copy_options::overwrite_existing);
    return path;
  }
  std::string PlaceGarbage(const std::string &AFileName) {
    const std::string path = Folder.file(AFileName);
    std::ofstream(path) << "not a shared library";
    return path;
  }

  testing_support::TempDir Folder;
};

TEST_F(LoaderTest, LoadsEverythingOnceAndASecondCallChangesNothing) {
  ASSERT_TRUE(LoadLibraries("", true)) << LibraryLoadError();
  EXPECT_TRUE(AVUtilLoaded() && AVCodecLoaded() && AVFormatLoaded() && SwScaleLoaded() &&
              SwResampleLoaded());
  EXPECT_EQ(LibraryLoadError(), "");
  EXPECT_EQ(AV_VERSION_MAJOR(avlib.avformat_version()), LIBAVFORMAT_VERSION_MAJOR);
  EXPECT_EQ(CurrentLogLevel, FromLibraryLogLevel(avlib.av_log_get_level()));

  // The arguments of a later call are not even looked at: a folder with a broken avformat
  // and the plain names would fail if they were.
  PlaceGarbage(LibraryFileName("avformat", true));
  PlaceGarbage(LibraryFileName("avformat", false));
  const auto openBefore = avlib.avformat_open_input;
  const fs::path cwd = fs::current_path();
  EXPECT_TRUE(LoadLibraries(Folder.path().string(), false));
  EXPECT_EQ(avlib.avformat_open_input, openBefore);
  EXPECT_EQ(fs::current_path(), cwd);
  EXPECT_EQ(LibraryLoadError(), "");
}

TEST_F(LoaderTest, MissingEntryPointNamesItAndTheFileAndLeavesNothingLoaded) {
  const std::string path = PlaceFake(LibraryFileName("avformat", true));
  const std::string missing = FirstNameTheFakeLacks();
  ASSERT_FALSE(missing.empty());

  EXPECT_FALSE(LoadLibraries(Folder.path().string(), true));
  const std::string error = LibraryLoadError();
  const std::string prefix = "Load function " + missing + "@" + path + " error: ";
  EXPECT_TRUE(StartsWith(error, prefix)) << error;
  EXPECT_GT(error.size(), prefix.size()) << "the loader's own text follows";
  EXPECT_TRUE(NothingLoaded()) << "avcodec, bound before avformat failed, is unloaded again";

  // Retrying with a folder without libraries takes the system's and succeeds.
  testing_support::TempDir empty;
  EXPECT_TRUE(LoadLibraries(empty.path().string(), true)) << LibraryLoadError();
  EXPECT_EQ(LibraryLoadError(), "");
  EXPECT_TRUE(AVFormatLoaded());
  EXPECT_EQ(AV_VERSION_MAJOR(avlib.avformat_version()), LIBAVFORMAT_VERSION_MAJOR);
}

TEST_F(LoaderTest, UnloadableFileIsNamedAndARetrySucceeds) {
  const std::string path = PlaceGarbage(LibraryFileName("avformat", true));
  EXPECT_FALSE(LoadLibraries(Folder.path().string(), true));
  const std::string error = LibraryLoadError();
  const std::string prefix = "Load libraray " + path + " error: ";
  EXPECT_TRUE(StartsWith(error, prefix)) << error;
  EXPECT_GT(error.size(), prefix.size());
  EXPECT_TRUE(NothingLoaded());

  EXPECT_TRUE(LoadLibraries("", true)) << LibraryLoadError();
  EXPECT_EQ(LibraryLoadError(), "");
}

TEST_F(LoaderTest, TheNameFlagPicksExactlyOneFileName) {
  const int major = LIBAVCODEC_VERSION_MAJOR;
  EXPECT_EQ(LibraryFileName("avcodec", true), "libavcodec.so." + std::to_string(major));
  EXPECT_EQ(LibraryFileName("avcodec", false), "libavcodec.so");
  EXPECT_EQ(LibraryFileName("swresample", false), "libswresample.so");

  // Plain name: the fake; versioned name: garbage. Each call must meet only its own file.
  const std::string plain = PlaceFake(LibraryFileName("avformat", false));
  const std::string versioned = PlaceGarbage(LibraryFileName("avformat", true));
  EXPECT_FALSE(LoadLibraries(Folder.path().string(), false));
  EXPECT_TRUE(StartsWith(LibraryLoadError(),
                         "Load function " + FirstNameTheFakeLacks() + "@" + plain + " error: "))
      << LibraryLoadError();
  EXPECT_FALSE(LoadLibraries(Folder.path().string(), true));
  EXPECT_TRUE(StartsWith(LibraryLoadError(), "Load libraray " + versioned + " error: "))
      << LibraryLoadError();
  EXPECT_TRUE(NothingLoaded());
}

TEST_F(LoaderTest, AnEngineWithoutLibrariesStaysInertInsteadOfCrashing) {
  ASSERT_TRUE(NothingLoaded());
  {
    TCustomFFmpeg engine;
    engine.Prepare();
    EXPECT_EQ(engine.CodecDefaults[0], nullptr);
    EXPECT_EQ(engine.FormatDefaults, nullptr);
    engine.SetOption("g", "30"); // no store: dropped
    engine.SetOption("v", "2");
    engine.SetOption("ar", "22050");
    EXPECT_EQ(engine.OptNameCount, 0);
    EXPECT_EQ(engine.Verbose, 2);
    EXPECT_EQ(engine.AudioSampleRate, 22050);
    engine.FreeFiles();
  } // the destructor frees nothing either
  SetMediaLogLevel(1);
}

} // namespace
