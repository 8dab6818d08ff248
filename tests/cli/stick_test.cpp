// korvelo-convert and the memory stick itself: what is on it, twins left out, FAT's file limit.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/psp_stick.h"
#include "app/size_estimate.h"
#include "probe/av_probe.h"
#include "support/command_runner.h"
#include "support/fat_image.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace cli_test;
using testing_support::MediaFile;
using testing_support::TempDir;
using testing_support::TFatStick;

namespace {

// A video the PSP plays (the generator's H.264 Baseline + AAC file), told apart from others of
// its kind by a trailing "free" box holding ATag.
void WritePlayable(const std::string &APath, const std::string &ATag) {
  const std::string video = ReadFile(MediaFile("aac_51.mp4"));
  const uint32_t size = static_cast<uint32_t>(8 + ATag.size());
  const char header[8] = {static_cast<char>(size >> 24),
                          static_cast<char>(size >> 16),
                          static_cast<char>(size >> 8),
                          static_cast<char>(size),
                          'f',
                          'r',
                          'e',
                          'e'};
  WriteFile(APath, video + std::string(header, 8) + ATag);
}

// fusefat writes through write() only: no copy_file_range.
void CopyOnto(const std::string &AFrom, const std::string &ATo) { WriteFile(ATo, ReadFile(AFrom)); }

} // namespace

TEST(CliStick, ListsTitlesAndVerdictsOnAFat32Stick) {
  TFatStick stick;
  if (!stick.Mounted())
    GTEST_SKIP() << "no FAT32 stick for this test: " << stick.WhyNot();
  TempDir work;
  const TRun converted = RunConvert({"-o", work.file("out"), MediaFile("mov_h264_aac.mov")});
  ASSERT_EQ(converted.Status, 0) << converted.All();
  const std::string folder = stick.Root() + "MP_ROOT/100ANV01/";
  fs::create_directories(folder);
  CopyOnto(work.file("out/AVC/mov_h264_aac-480x272-AVC.mp4"), folder + "MAQ00000.MP4");
  CopyOnto(work.file("out/AVC/mov_h264_aac-480x272-AVC.THM"), folder + "MAQ00000.THM");
  CopyOnto(MediaFile("h264_10bit.mp4"), folder + "MAQ00001.MP4");
  TProcess pal(TestMediaBinary(),
               {"--one", work.file("pal.mp4"), "--duration", "1", "--size", "720x576"});
  ASSERT_EQ(pal.Wait().Status, 0);
  fs::create_directories(stick.Root() + "VIDEO");
  CopyOnto(work.file("pal.mp4"), stick.Root() + "VIDEO/PAL.MP4");

  const TRun run = RunConvert({"--stick-list", stick.Root()});
  ASSERT_EQ(run.Status, 0) << run.All();
  auto line = [&](const std::string &AName) {
    const size_t at = run.Out.find(AName);
    return at == std::string::npos ? std::string()
                                   : run.Out.substr(at, run.Out.find('\n', at) - at);
  };
  const std::string playable = line("MP_ROOT/100ANV01/MAQ00000.MP4");
  EXPECT_NE(playable.find("mov_h264_aac"), std::string::npos) << run.Out; // its title box
  EXPECT_NE(playable.find("00:00:02"), std::string::npos) << run.Out;
  EXPECT_NE(playable.find("yes"), std::string::npos) << run.Out;
  EXPECT_NE(line("MP_ROOT/100ANV01/MAQ00001.MP4").find("no: H.264 High 10 profile"),
            std::string::npos)
      << run.Out;
  EXPECT_NE(line("VIDEO/PAL.MP4").find("no: size 720x576 not allowed"), std::string::npos)
      << run.Out;
  EXPECT_NE(run.Out.find("3 videos"), std::string::npos) << run.Out;

  // Removing a video takes its thumbnail along.
  std::string error;
  ASSERT_TRUE(RemoveStickVideo(folder + "MAQ00000.MP4", error)) << error;
  EXPECT_FALSE(fs::exists(folder + "MAQ00000.THM"));
  EXPECT_TRUE(fs::exists(folder + "MAQ00001.MP4"));
}

TEST(CliStick, TwinOnTheStickIsLeftOutAndEachCopyIsNamed) {
  TempDir work;
  const std::string stick = work.file("stick");
  fs::create_directories(stick + "/PSP");
  WritePlayable(work.file("a.mp4"), "a");
  WritePlayable(work.file("b.mp4"), "b");
  const TRun first = RunConvert({"--copy-to", stick, work.file("a.mp4")});
  ASSERT_EQ(first.Status, 0) << first.All();
  EXPECT_NE(first.Out.find("a.mp4 \u2192 MP_ROOT/100ANV01/MAQ00000.MP4"), std::string::npos)
      << first.Out;

  // b.mp4 has a's size but not its content: only a is a twin.
  const TRun again = RunConvert({"--copy-to", stick, work.file("a.mp4"), work.file("b.mp4")});
  EXPECT_EQ(again.Status, 1) << again.All();
  EXPECT_NE(
      again.Err.find("a.mp4 is already on the stick as MP_ROOT/100ANV01/MAQ00000.MP4, left out"),
      std::string::npos)
      << again.Err;
  EXPECT_NE(again.Out.find("b.mp4 \u2192 MP_ROOT/100ANV01/MAQ00001.MP4"), std::string::npos)
      << again.Out;
  EXPECT_FALSE(fs::exists(stick + "/MP_ROOT/100ANV01/MAQ00002.MP4"));
}

TEST(CliStick, FileOf4GiBIsRefusedForAFat32StickBeforeCopying) {
  TFatStick stick;
  if (!stick.Mounted())
    GTEST_SKIP() << "no FAT32 stick for this test: " << stick.WhyNot();
  TempDir work;
  const std::string huge = work.file("huge.mp4");
  WritePlayable(huge, "huge");
  fs::resize_file(huge, FatMaxFileSize + 1); // sparse: no 4 GiB written
  const TRun run = RunConvert({"--copy-to", stick.Root(), huge});
  EXPECT_EQ(run.Status, 1) << run.All();
  EXPECT_NE(run.Err.find("huge.mp4 is 4,294,967 KB: a FAT32 memory stick holds no file of 4 GiB "
                         "or more, left out"),
            std::string::npos)
      << run.Err;
  EXPECT_FALSE(fs::exists(stick.Root() + "MP_ROOT/100ANV01/MAQ00000.MP4"));
}

// Busy pictures with film grain and noisy sound, as a camera gives: what the encoders' rate
// control is made for (flat generated pictures come out far below any target).
TEST(SizeEstimate, TheFitLineSaysTheTotalInUnitsThatShowIt) {
  EXPECT_EQ(FitLineText(404000, false, 0), "Expected 404 KB");
  EXPECT_EQ(FitLineText(1200000000, true, 3400000000),
            "Expected 1.2 GB \u2014 fits on the PSP memory stick (3.4 GB free)");
  EXPECT_EQ(FitLineText(1200000000, true, 800000000),
            "Expected 1.2 GB \u2014 does not fit: 400 MB too much (800 MB free)");
  EXPECT_EQ(FitLineText(123000000, false, 0), "Expected 123 MB");
}

TEST(SizeEstimate, WithinFivePercentOfTheRealOutputForEveryProfile) {
  TempDir work;
  const std::string input = work.file("grain.mkv");
  if (!MakeBusyClip(input, 4))
    GTEST_SKIP() << "Debian's ffmpeg is needed to make the busy test clip";
  testing_support::RequireMediaLibraries();
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(input));
  TAVFileInfo info;
  probe.GetFileInfo(info);
  probe.CloseFile();
  for (int profile = 0; profile < 6; ++profile) {
    const std::string out = work.file("out" + std::to_string(profile));
    const TRun run = RunConvert({"-p", std::to_string(profile), "-o", out, input});
    ASSERT_EQ(run.Status, 0) << run.All();
    std::string file;
    for (const auto &entry : fs::recursive_directory_iterator(out))
      if (entry.path().extension() == ".mp4")
        file = entry.path().string();
    const double real = static_cast<double>(fs::file_size(file));
    const double expected = static_cast<double>(EstimateOutputSize(profile, info.Duration));
    EXPECT_NEAR(expected / real, 1.0, 0.05)
        << "profile " << profile << ": expected " << expected << ", real " << real;
    std::printf("profile %d: expected %.0f, real %.0f (%+.1f %%)\n", profile, expected, real,
                100 * (expected - real) / real);
  }
}

TEST(CliStick, ColumnsLineUpWithAnEnDashTitleAndAnUnlistedNameIsSaid) {
  TempDir work;
  const std::string input = work.file("Holiday \u2013 day one.mov");
  fs::copy_file(MediaFile("mov_h264_aac.mov"), input);
  const TRun converted = RunConvert({"-o", work.file("out"), input});
  ASSERT_EQ(converted.Status, 0) << converted.All();
  const std::string video = work.file("out/AVC/Holiday \u2013 day one-480x272-AVC.mp4");
  const std::string folder = work.file("stick/MP_ROOT/100ANV01/");
  fs::create_directories(folder);
  fs::copy_file(video, folder + "MAQ00000.MP4");
  fs::copy_file(video, folder + "holiday.mp4");
  WritePlayable(folder + "MAQ00001.MP4", "plain title");

  const TRun run = RunConvert({"--stick-list", work.file("stick")});
  ASSERT_EQ(run.Status, 0) << run.All();
  // The duration column starts in the same terminal column on every row (an en dash is three
  // bytes and one column).
  std::vector<size_t> columns;
  std::istringstream lines(run.Out);
  for (std::string line; std::getline(lines, line);) {
    const size_t at = line.find("00:00:0");
    if (at == std::string::npos)
      continue;
    size_t column = 0;
    for (size_t i = 0; i < at; ++i)
      column += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80 ? 1 : 0;
    columns.push_back(column);
    if (line.find("holiday.mp4") != std::string::npos)
      EXPECT_NE(line.find("no: the PSP lists only MAQnnnnn.MP4 names in MP_ROOT/100ANV01/"),
                std::string::npos)
          << line;
    else
      EXPECT_NE(line.find("  yes"), std::string::npos) << line;
  }
  ASSERT_EQ(columns.size(), 3u) << run.Out;
  EXPECT_EQ(columns[0], columns[1]) << run.Out;
  EXPECT_EQ(columns[0], columns[2]) << run.Out;
}
