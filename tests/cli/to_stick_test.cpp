// korvelo-convert --to-stick: convert, fit, copy, check and eject in one command.
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/psp_stick.h"
#include "support/command_runner.h"
#include "support/test_support.h"
#include "support/udisks2_stick.h"

namespace fs = std::filesystem;
using namespace cli_test;
using testing_support::MediaFile;
using testing_support::TempDir;

namespace {

// A memory file system of AMegabytes standing in for the stick, when the test may mount one.
struct TMemoryStick {
  TempDir Dir;
  bool Mounted = false;
  explicit TMemoryStick(int AMegabytes) {
    const std::string size = "size=" + std::to_string(AMegabytes) + "m";
    Mounted = ::mount("tmpfs", Dir.path().c_str(), "tmpfs", 0, size.c_str()) == 0;
  }
  ~TMemoryStick() {
    if (Mounted)
      ::umount2(Dir.path().c_str(), MNT_DETACH);
  }
};

uint64_t FreeBytes(const std::string &AFolder) {
  struct statvfs st {};
  return ::statvfs(AFolder.c_str(), &st) == 0 ? static_cast<uint64_t>(st.f_bavail) * st.f_frsize
                                              : 0;
}

// Fills AFolder's volume (outside the PSP's folders) so that about ABytes stay free.
void LeaveFree(const std::string &AFolder, uint64_t ABytes) {
  const uint64_t free = FreeBytes(AFolder);
  ASSERT_GT(free, ABytes);
  WriteFile(AFolder + "/filler.bin", std::string(free - ABytes, 'f'));
}

// The bytes a file takes on AFolder's volume, in whole blocks.
uint64_t Room(const std::string &AFile, const std::string &AFolder) {
  struct statvfs st {};
  if (::statvfs(AFolder.c_str(), &st) != 0)
    return 0;
  const uint64_t block = st.f_frsize;
  auto rounded = [&](uint64_t ABytes) { return (ABytes + block - 1) / block * block; };
  return rounded(fs::file_size(AFile)) +
         rounded(fs::file_size(AFile.substr(0, AFile.size() - 4) + ".THM"));
}

// The files under AFolder's PSP folders, relative to it.
std::vector<std::string> PSPFiles(const std::string &AFolder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const char *sub : {"MP_ROOT", "VIDEO"})
    for (fs::recursive_directory_iterator it(AFolder + "/" + sub, ec), end; !ec && it != end;
         it.increment(ec))
      if (!it->is_directory())
        files.push_back(fs::relative(it->path(), AFolder).string());
  std::sort(files.begin(), files.end());
  return files;
}

} // namespace

TEST(CliToStick, FiveFilesWhereThreeFitThenEjected) {
  // The stick udisks2 knows, so that --eject is real; a memory one without the eject otherwise.
  auto udisks = std::make_unique<testing_support::TUDisks2Stick>();
  std::unique_ptr<TMemoryStick> memory;
  std::string root;
  if (udisks->Unavailable().empty()) {
    ASSERT_EQ(udisks->Error(), "");
    root = udisks->Root();
  } else {
    memory = std::make_unique<TMemoryStick>(8);
    if (!memory->Mounted)
      GTEST_SKIP() << udisks->Unavailable() << "; nor can a memory file system be mounted";
    root = memory->Dir.path().string();
  }
  TempDir work;
  const std::vector<std::string> inputs = {"mov_h264_aac.mov", "mkv_h264_vorbis.mkv",
                                           "flv_h264_aac.flv", "ts_h264_aac.ts",
                                           "webm_vp8_vorbis.webm"};
  // Their conversions measured first; the first is handed over converted, as it is.
  std::vector<std::string> args = {"-o", work.file("measure")};
  for (const std::string &input : inputs)
    args.push_back(MediaFile(input));
  ASSERT_EQ(RunConvert(args).Status, 0);
  auto measured = [&](size_t AIndex) {
    const std::string stem = inputs[AIndex].substr(0, inputs[AIndex].find('.'));
    return work.file("measure/AVC/" + stem + "-480x272-AVC.mp4");
  };
  uint64_t room = 0;
  for (size_t i = 0; i < 3; ++i)
    room += Room(measured(i), root);
  // The folders the copy makes take a few blocks too.
  LeaveFree(root, room + Room(measured(3), root) / 2 + 64 * 1024);

  args = {"-o", work.file("out"), "--to-stick", root, "--eject", measured(0)};
  for (size_t i = 1; i < inputs.size(); ++i)
    args.push_back(MediaFile(inputs[i]));
  const TRun run = RunConvert(args);
  EXPECT_EQ(run.Status, 1) << run.All(); // not all of them are on the stick
  for (const char *line : {"On the memory stick now:\n  mov_h264_aac-480x272-AVC.mp4 \u2192 "
                           "MP_ROOT/100ANV01/MAQ00000.MP4\n"
                           "  mkv_h264_vorbis.mkv \u2192 MP_ROOT/100ANV01/MAQ00001.MP4\n"
                           "  flv_h264_aac.flv \u2192 MP_ROOT/100ANV01/MAQ00002.MP4\nDid not fit (",
                           "  ts_h264_aac.ts (needs ", "  webm_vp8_vorbis.webm (needs "})
    EXPECT_NE(run.Out.find(line), std::string::npos) << line << "\n" << run.All();

  const bool ejectable = !memory;
  if (ejectable) { // mounted again to look at what is on it
    EXPECT_NE(run.Out.find("The stick has been unmounted: it can be removed."), std::string::npos)
        << run.All();
    ASSERT_EQ(MountSource(root), "");
    ASSERT_EQ(::mount(udisks->Device().c_str(), root.c_str(), "ext4", 0, nullptr), 0);
  }
  EXPECT_EQ(PSPFiles(root), (std::vector<std::string>{
                                "MP_ROOT/100ANV01/MAQ00000.MP4", "MP_ROOT/100ANV01/MAQ00000.THM",
                                "MP_ROOT/100ANV01/MAQ00001.MP4", "MP_ROOT/100ANV01/MAQ00001.THM",
                                "MP_ROOT/100ANV01/MAQ00002.MP4", "MP_ROOT/100ANV01/MAQ00002.THM"}));
  const TRun list = RunConvert({"--stick-list", root});
  std::istringstream rows(list.Out);
  int playing = 0;
  for (std::string row; std::getline(rows, row);)
    playing += row.find("MAQ0000") != std::string::npos && row.size() > 5 &&
                       row.compare(row.size() - 5, 5, "  yes") == 0
                   ? 1
                   : 0;
  EXPECT_EQ(playing, 3) << list.Out;
  if (ejectable)
    ::umount(root.c_str());
}

// Ten files that do not fit at the usual rate fit after --fit-stick lowers it, each plays, and
// the real total comes close under the room.
TEST(CliToStick, FitStickLowersTheRateSoTheBatchFits) {
  TempDir work;
  const std::string grain = work.file("grain.mkv");
  if (!MakeBusyClip(grain, 2))
    GTEST_SKIP() << "Debian's ffmpeg is needed to make the busy test clip";
  TMemoryStick stick(8);
  if (!stick.Mounted)
    GTEST_SKIP() << "no memory file system can be mounted here";
  const std::string root = stick.Dir.path().string();
  std::vector<std::string> args = {"-o", work.file("out"), "--to-stick", root, "--fit-stick"};
  for (int i = 0; i < 10; ++i) {
    args.push_back(work.file("film" + std::to_string(i) + ".mkv"));
    fs::copy_file(grain, args.back());
  }
  // At 768 kbit/s ten 2-second films need about 2.3 MB: 1.6 MB is left.
  const uint64_t room = 1600 * 1024;
  LeaveFree(root, room);

  const TRun run = RunConvert(args);
  EXPECT_EQ(run.Status, 0) << run.All();
  EXPECT_NE(run.Out.find(" kbit/s, a little softer picture"), std::string::npos) << run.Out;
  EXPECT_EQ(run.Out.find("Did not fit"), std::string::npos) << run.Out;
  uint64_t total = 0;
  const std::vector<std::string> files = PSPFiles(root);
  EXPECT_EQ(files.size(), 20u);
  for (const std::string &file : files)
    total += fs::file_size(root + "/" + file);
  EXPECT_LE(total, room);
  EXPECT_GE(total, room * 95 / 100) << run.Out;
  const TRun list = RunConvert({"--stick-list", root});
  EXPECT_EQ(list.Out.find("  no: "), std::string::npos) << list.Out;
  std::printf("10 files fitted: %llu of %llu bytes (%.1f %%)\n",
              static_cast<unsigned long long>(total), static_cast<unsigned long long>(room),
              100.0 * static_cast<double>(total) / static_cast<double>(room));
}
