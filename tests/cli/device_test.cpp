// korvelo-convert's device library: listing converted files, copying them to the memory stick.
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/output_verdict.h"
#include "app/profiles.h"
#include "support/command_runner.h"
#include "probe/av_probe.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace cli_test;
using testing_support::MediaFile;
using testing_support::TempDir;

namespace {

const char *const Copied = "Selected video files have been copied to your PSP";

// An MP4 "free" box holding AText and APadding zero bytes: players skip it.
std::string FreeBox(const std::string &AText, uint32_t APadding) {
  const uint32_t size = static_cast<uint32_t>(8 + AText.size()) + APadding;
  const char header[8] = {static_cast<char>(size >> 24),
                          static_cast<char>(size >> 16),
                          static_cast<char>(size >> 8),
                          static_cast<char>(size),
                          'f',
                          'r',
                          'e',
                          'e'};
  return std::string(header, 8) + AText + std::string(APadding, '\0');
}

// A video the PSP plays, as the copy finds it in AFolder: the generator's H.264 Baseline file,
// or an MPEG-4 one converted here when AFolder ends in "MPEG4". A trailing "free" box naming the
// file keeps it playable and tells copies apart; AThumbnail, when not empty, is its ".THM".
std::string MakeSource(const std::string &AFolder, const std::string &AName,
                       const std::string &AThumbnail) {
  fs::create_directories(AFolder);
  std::string video;
  if (AFolder.size() >= 5 && AFolder.compare(AFolder.size() - 5, 5, "MPEG4") == 0) {
    static std::string mpeg4;
    if (mpeg4.empty()) {
      static TempDir converted;
      const TRun run =
          RunConvert({"-o", converted.path().string(), "-p", "1", MediaFile("aac_51.mp4")});
      EXPECT_EQ(run.Status, 0) << run.All();
      for (const std::string &file : FilesIn(converted.file("MPEG4")))
        if (file.size() > 4 && file.compare(file.size() - 4, 4, ".mp4") == 0)
          mpeg4 = ReadFile(converted.file("MPEG4/" + file));
    }
    video = mpeg4;
  } else {
    video = ReadFile(MediaFile("aac_51.mp4"));
  }
  const std::string path = AFolder + "/" + AName + ".mp4";
  WriteFile(path, video + FreeBox(AName, 0));
  if (!AThumbnail.empty())
    WriteFile(AFolder + "/" + AName + ".THM", AThumbnail);
  return path;
}

} // namespace

TEST(CliList, ConvertedFilesWithFormatDurationAndSize) {
  TempDir work;
  const std::string out = work.file("out");
  for (const auto &args :
       {std::vector<std::string>{"-o", out, MediaFile("mkv_h264_vorbis.mkv")},
        std::vector<std::string>{"-o", out, "-p", "1", MediaFile("flv_h264_aac.flv")}}) {
    const TRun converted = RunConvert(args);
    ASSERT_EQ(converted.Status, 0) << converted.All();
  }
  // Not converted videos: empty, unreadable, a folder.
  WriteFile(out + "/AVC/empty.mp4", "");
  WriteFile(out + "/AVC/junk.MP4", std::string(2000, 'j'));
  fs::create_directories(out + "/AVC/folder.mp4");
  // A stopped conversion's partial file: a video without its thumbnail.
  fs::copy_file(out + "/AVC/mkv_h264_vorbis-480x272-AVC.mp4", out + "/AVC/stopped.mp4");

  const TRun run = RunConvert({"--list", out});
  ASSERT_EQ(run.Status, 0) << run.All();
  testing_support::RequireMediaLibraries();
  // The row of AName: its format, its duration as the probe reads it, and its size with the
  // thumbnail's, in the texts the device page uses.
  auto expectRow = [&](const std::string &AFolder, const std::string &AName,
                       const std::string &AFormat) {
    SCOPED_TRACE(AName);
    const std::string path = AFolder + "/" + AName;
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(path));
    TAVFileInfo info;
    probe.GetFileInfo(info);
    const std::string thumbnail = path.substr(0, path.size() - 4) + ".THM";
    ASSERT_GT(fs::file_size(thumbnail), 0u);
    const size_t at = run.Out.find("\n" + AName + " ");
    ASSERT_NE(at, std::string::npos) << run.Out;
    std::istringstream row(run.Out.substr(at + 1, run.Out.find('\n', at + 1) - at - 1));
    std::string name, format, duration, size, unit;
    row >> name >> format >> duration >> size >> unit;
    EXPECT_EQ(format, AFormat);
    EXPECT_EQ(duration, FormatDuration(info.Duration / 1000));
    EXPECT_EQ(size + " " + unit,
              FormatSizeKB(static_cast<int64_t>(fs::file_size(path) + fs::file_size(thumbnail))));
  };
  expectRow(out + "/AVC", "mkv_h264_vorbis-480x272-AVC.mp4", "AVC");
  expectRow(out + "/MPEG4", "flv_h264_aac-368x208-MPEG4.mp4", "MPEG4");
  EXPECT_LT(run.Out.find("-AVC.mp4"), run.Out.find("-MPEG4.mp4"));
  EXPECT_EQ(run.Out.find("empty.mp4"), std::string::npos);
  EXPECT_EQ(run.Out.find("junk.MP4"), std::string::npos);
  EXPECT_EQ(run.Out.find("folder.mp4"), std::string::npos);
  EXPECT_NE(run.Out.find("\n3 files, "), std::string::npos) << run.Out;
  const size_t stopped = run.Out.find("\nstopped.mp4 ");
  ASSERT_NE(stopped, std::string::npos) << run.Out;
  const std::string stoppedRow = run.Out.substr(stopped, run.Out.find('\n', stopped + 1) - stopped);
  EXPECT_NE(stoppedRow.find(" incomplete"), std::string::npos) << run.Out;
  EXPECT_EQ(run.Out.find("AVC.mp4 incomplete"), std::string::npos) << run.Out;

  // A folder without converted files lists none and is left as it was; a missing one fails.
  const TRun empty = RunConvert({"--list", work.file("nothing-here")});
  EXPECT_EQ(empty.Status, 1);
  fs::create_directories(work.file("bare"));
  const TRun bare = RunConvert({"--list", work.file("bare")});
  EXPECT_EQ(bare.Status, 0);
  EXPECT_NE(bare.Out.find("No converted files in "), std::string::npos);
  EXPECT_TRUE(FilesIn(work.file("bare")).empty());
}

TEST(CliList, SizesGroupedTheGermanWayInGerman) {
  TempDir work;
  // A playable video of over a megabyte: the generator's, with a "free" box to pad it.
  const std::string video = ReadFile(MediaFile("aac_51.mp4"));
  const uint32_t padding = 1500000;
  const std::string box = FreeBox(std::string(), padding - 8);
  fs::create_directories(work.file("out/AVC"));
  WriteFile(work.file("out/AVC/big.mp4"), video + box);
  std::vector<std::pair<std::string, std::string>> saved;
  for (const char *name :
       {"LANGUAGE", "LC_ALL", "LC_NUMERIC", "LC_MESSAGES", "LANG", "KORVELO_PSEUDO"}) {
    const char *value = std::getenv(name);
    saved.emplace_back(name, value ? value : "\x01");
    ::unsetenv(name);
  }
  ::setenv("LANGUAGE", "de", 1);
  const TRun run = RunConvert({"--list", work.file("out")});
  for (const auto &[name, value] : saved)
    value == "\x01" ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
  ASSERT_EQ(run.Status, 0) << run.All();
  const int64_t kilo = static_cast<int64_t>(video.size() + padding) / 1000;
  const std::string thousands = std::to_string(kilo % 1000);
  const std::string german = std::to_string(kilo / 1000) + "." +
                             std::string(3 - thousands.size(), '0') + thousands + " KB";
  EXPECT_NE(run.Out.find(german), std::string::npos) << run.Out;
}

TEST(CliCopy, FillsTheLowestFreeNumbersWithThumbnails) {
  TempDir work;
  const std::string device = work.file("stick");
  const std::string avcDir = device + "/MP_ROOT/100ANV01/";
  fs::create_directories(avcDir);
  WriteFile(avcDir + "MAQ00000.MP4", "old zero");
  WriteFile(avcDir + "MAQ00002.MP4", "old two");
  const std::string a = MakeSource(work.file("out/AVC"), "a", "thumb of a");
  const std::string b = MakeSource(work.file("out/AVC"), "b", "thumb of b");
  const std::string c = MakeSource(work.file("out/MPEG4"), "c", ""); // no thumbnail

  // As a shell's "out/AVC/*" names them: thumbnails beside their videos; a file named twice.
  const TRun run = RunConvert({"--copy-to", device, a, work.file("out/AVC/a.THM"), c, b, a});
  ASSERT_EQ(run.Status, 0) << run.All();
  EXPECT_NE(run.Out.find(Copied), std::string::npos) << run.Out;
  EXPECT_EQ(ReadFile(avcDir + "MAQ00001.MP4"), ReadFile(a));
  EXPECT_EQ(ReadFile(avcDir + "MAQ00001.THM"), "thumb of a");
  EXPECT_EQ(ReadFile(avcDir + "MAQ00003.MP4"), ReadFile(b));
  EXPECT_EQ(ReadFile(avcDir + "MAQ00003.THM"), "thumb of b");
  EXPECT_EQ(ReadFile(avcDir + "MAQ00000.MP4"), "old zero");
  EXPECT_EQ(ReadFile(avcDir + "MAQ00002.MP4"), "old two");
  EXPECT_EQ(FilesIn(avcDir),
            (std::vector<std::string>{"MAQ00000.MP4", "MAQ00001.MP4", "MAQ00001.THM",
                                      "MAQ00002.MP4", "MAQ00003.MP4", "MAQ00003.THM"}));
  EXPECT_EQ(FilesIn(device + "/MP_ROOT/100MNV01"), std::vector<std::string>{"M4V00000.MP4"});
  EXPECT_EQ(ReadFile(device + "/MP_ROOT/100MNV01/M4V00000.MP4"), ReadFile(c));

  // A later copy takes the next free numbers and replaces nothing.
  const std::string d = MakeSource(work.file("out/AVC"), "d", "thumb of d");
  const TRun again = RunConvert({"--copy-to", device, d});
  ASSERT_EQ(again.Status, 0) << again.All();
  EXPECT_EQ(ReadFile(avcDir + "MAQ00004.MP4"), ReadFile(d));
  EXPECT_EQ(ReadFile(avcDir + "MAQ00001.THM"), "thumb of a");
}

TEST(CliCopy, TwoFreeNumbersForThreeFiles) {
  TempDir work;
  // A hundred thousand files: in memory when the machine offers a memory file system.
  std::error_code ec;
  const fs::path memory = "/dev/shm";
  const fs::path stick =
      (fs::is_directory(memory, ec) && ::access(memory.c_str(), W_OK) == 0 ? memory : work.path()) /
      ("korvelo-stick-" + std::to_string(::getpid()));
  struct TRemove {
    fs::path Path;
    ~TRemove() {
      std::error_code ignored;
      fs::remove_all(Path, ignored);
    }
  } removeStick{stick};
  const std::string device = stick.string();
  const std::string avcDir = device + "/MP_ROOT/100ANV01/";
  fs::create_directories(avcDir);
  for (int n = 0; n <= 99999; ++n) {
    if (n == 7 || n == 54321)
      continue;
    const std::string name = avcDir + "MAQ" + PadNumber5(n) + ".MP4";
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << name;
    ::close(fd);
  }
  const std::string first = MakeSource(work.file("out/AVC"), "first", "t1");
  const std::string second = MakeSource(work.file("out/AVC"), "second", "t2");
  const std::string third = MakeSource(work.file("out/AVC"), "third", "t3");
  const TRun run = RunConvert({"--copy-to", device, first, second, third});
  EXPECT_EQ(run.Status, 1) << run.All();
  EXPECT_NE(run.Err.find("Insufficient name space, only 2 AVC video file(s) can be copied to PSP"),
            std::string::npos)
      << run.Err;
  EXPECT_EQ(ReadFile(avcDir + "MAQ00007.MP4"), ReadFile(first));
  EXPECT_EQ(ReadFile(avcDir + "MAQ00007.THM"), "t1");
  EXPECT_EQ(ReadFile(avcDir + "MAQ54321.MP4"), ReadFile(second));
  EXPECT_EQ(ReadFile(avcDir + "MAQ54321.THM"), "t2");
  EXPECT_EQ(FilesIn(avcDir).size(), 100000u + 2u);
}

TEST(CliCopy, RefusalsInTheirOrder) {
  TempDir work;
  const std::string video = MakeSource(work.file("out/AVC"), "v", "t");

  // A missing device folder (a stick not mounted) is said as such, not as a lack of room.
  const TRun missing = RunConvert({"--copy-to", work.file("no-stick"), video});
  EXPECT_EQ(missing.Status, 1);
  EXPECT_NE(missing.Err.find("The selected device folder do not exists."), std::string::npos)
      << missing.Err;
  EXPECT_FALSE(fs::exists(work.file("no-stick")));

  // More than the volume holds. The source is sparse: its size counts, not the blocks it uses.
  struct statvfs volume {};
  ASSERT_EQ(::statvfs(work.path().c_str(), &volume), 0);
  const std::string huge = MakeSource(work.file("out/AVC"), "huge", "");
  fs::resize_file(huge, static_cast<uintmax_t>(volume.f_bavail) * volume.f_frsize + (1u << 30));
  fs::create_directories(work.file("small-stick"));
  const TRun tooBig = RunConvert({"--copy-to", work.file("small-stick"), huge});
  EXPECT_EQ(tooBig.Status, 1);
  EXPECT_NE(tooBig.Err.find("Insufficient disk space to copy selected video files."),
            std::string::npos)
      << tooBig.Err;
  EXPECT_TRUE(FilesIn(work.file("small-stick")).empty());

  // Device sub-folders that cannot be made.
  const std::string blocked = work.file("blocked");
  fs::create_directories(blocked);
  WriteFile(blocked + "/MP_ROOT", "a file where the folder should be");
  const TRun cannot = RunConvert({"--copy-to", blocked, video});
  EXPECT_EQ(cannot.Status, 1);
  EXPECT_NE(cannot.Err.find("Can not create output folder"), std::string::npos) << cannot.Err;

  // Nothing selected: the device folders are made all the same.
  const std::string stick = work.file("stick");
  fs::create_directories(stick);
  const TRun none = RunConvert({"--copy-to", stick});
  EXPECT_EQ(none.Status, 1);
  EXPECT_NE(none.Err.find("Please select video files."), std::string::npos) << none.Err;
  EXPECT_TRUE(fs::is_directory(stick + "/MP_ROOT/100ANV01"));
  EXPECT_TRUE(fs::is_directory(stick + "/MP_ROOT/100MNV01"));

  // Files that are not there or no MP4 are named; the others are still copied.
  WriteFile(work.file("notes.txt"), "text");
  const TRun partly =
      RunConvert({"--copy-to", stick, work.file("gone.mp4"), work.file("notes.txt"), video});
  EXPECT_EQ(partly.Status, 1);
  EXPECT_NE(partly.Err.find(work.file("gone.mp4") + ": No such file or directory"),
            std::string::npos)
      << partly.Err;
  EXPECT_NE(partly.Err.find(work.file("notes.txt") + ": not an MP4 file"), std::string::npos)
      << partly.Err;
  EXPECT_EQ(ReadFile(stick + "/MP_ROOT/100ANV01/MAQ00000.MP4"), ReadFile(video));
}

TEST(CliCopy, OnlyVideosThePSPPlaysGoIntoTheFolderOfTheirCodec) {
  TempDir work;
  const std::string stick = work.file("stick");
  fs::create_directories(stick);
  // An H.264 file lying in an "MPEG4" folder and an MPEG-4 one elsewhere: the codec decides.
  const std::string avc = MakeSource(work.file("out/MPEG4/x"), "avc", "");
  fs::rename(avc, work.file("out/MPEG4/avc.mp4"));
  const std::string mpeg4 = MakeSource(work.file("MPEG4"), "mpeg4", "");
  fs::rename(mpeg4, work.file("clip.mp4"));
  // Never converted: another container, another codec, a picture too large for the PSP.
  fs::copy_file(MediaFile("mov_h264_aac.mov"), work.file("quicktime.mp4"));
  fs::copy_file(MediaFile("avi_mpeg4_mp3.avi"), work.file("avi.mp4"));
  TProcess big(TestMediaBinary(),
               {"--one", work.file("big.mp4"), "--duration", "1", "--size", "800x600"});
  ASSERT_EQ(big.Wait().Status, 0);
  const TRun run =
      RunConvert({"--copy-to", stick, work.file("out/MPEG4/avc.mp4"), work.file("quicktime.mp4"),
                  work.file("avi.mp4"), work.file("big.mp4"), work.file("clip.mp4")});
  EXPECT_EQ(run.Status, 1) << run.All();
  for (const char *refused :
       {"quicktime.mp4: not a PSP video: QuickTime file, not MP4, convert it first",
        "avi.mp4: not a PSP video: avi file, not MP4, convert it first",
        "big.mp4: not a PSP video: size 800x600 not allowed, "
        "convert it first"})
    EXPECT_NE(run.Err.find(refused), std::string::npos) << refused << "\n" << run.Err;
  EXPECT_EQ(FilesIn(stick + "/MP_ROOT/100ANV01"), std::vector<std::string>{"MAQ00000.MP4"});
  EXPECT_EQ(FilesIn(stick + "/MP_ROOT/100MNV01"), std::vector<std::string>{"M4V00000.MP4"});
  EXPECT_EQ(ReadFile(stick + "/MP_ROOT/100MNV01/M4V00000.MP4"), ReadFile(work.file("clip.mp4")));
}

TEST(CliCopy, AStoppedConversionOnlyWhenAskedAndAnEarlierCopysLeftoversAreNoFailure) {
  TempDir work;
  const std::string stick = work.file("stick");
  const std::string avcDir = stick + "/MP_ROOT/100ANV01/";
  fs::create_directories(avcDir);
  const std::string stopped = MakeSource(work.file("out/AVC"), "stopped", "");
  ASSERT_TRUE(RecordOutputVerdict(stopped, TOutputVerdict::ovStopped));

  TRun run = RunConvert({"--copy-to", stick, stopped});
  EXPECT_EQ(run.Status, 1) << run.All();
  EXPECT_NE(run.Err.find("stopped.mp4: its conversion did not finish (stopped or cut off), left "
                         "out; --copy-incomplete copies it all the same"),
            std::string::npos)
      << run.Err;
  EXPECT_TRUE(FilesIn(avcDir).empty());

  WriteFile(avcDir + ".korvelo-copy-cut", "half a video from a copy cut off");
  run = RunConvert({"--copy-to", stick, "--copy-incomplete", stopped});
  EXPECT_EQ(run.Status, 0) << run.All();
  EXPECT_NE(run.Out.find("Removed 1 unfinished file"), std::string::npos) << run.All();
  EXPECT_EQ(FilesIn(avcDir), std::vector<std::string>{"MAQ00000.MP4"});
}
