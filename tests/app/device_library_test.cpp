// The converted-file list, the device names and the copy onto the memory stick.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include <cstdlib>
#include <future>
#include <filesystem>
#include <fstream>

#include "app/device_copy_job.h"
#include "app/device_library.h"
#include "app/profiles.h"
#include "app/psp_stick.h"
#include "app/psp_volumes.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

// What the copy syncs, recorded while a test asks for it: this definition takes the place of the
// C library's for the whole test program and still syncs through the kernel.
namespace {

using testing_support::FolderEntries;
using testing_support::ReadFile;
bool RecordSyncs = false;
std::vector<std::string> Synced; // the synced files' paths, and "said: <message>" in between
std::string FailSyncOf;          // a path whose sync fails with EIO
} // namespace

extern "C" int fsync(int AFd) {
  if (RecordSyncs) {
    char path[4096];
    const ssize_t n =
        ::readlink(("/proc/self/fd/" + std::to_string(AFd)).c_str(), path, sizeof path - 1);
    Synced.emplace_back(path, n > 0 ? static_cast<size_t>(n) : 0);
    if (Synced.back() == FailSyncOf) {
      errno = EIO;
      return -1;
    }
  }
  return static_cast<int>(::syscall(SYS_fsync, AFd));
}

namespace {

void Write(const std::string &AName, const std::string &AContent) {
  std::ofstream(AName, std::ios::binary) << AContent;
}

// Makes the temporary folders of a scope on memory (tmpfs) when the machine has it: filling a
// device with a hundred thousand names is slow on a disk.
struct TOnMemory {
  std::string Saved;
  bool Had = false;
  TOnMemory() {
    if (const char *t = std::getenv("TMPDIR")) {
      Saved = t;
      Had = true;
    }
    std::error_code ec;
    if (fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0)
      ::setenv("TMPDIR", "/dev/shm", 1);
  }
  ~TOnMemory() {
    if (Had)
      ::setenv("TMPDIR", Saved.c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }
};

// An output folder with converted files (video + thumbnail) and a device folder.
struct TCopySetup {
  testing_support::TempDir Dir;
  std::string Out = Dir.file("out") + "/";
  std::string Device = Dir.file("stick") + "/";
  std::string AVCDevice = Device + "MP_ROOT/100ANV01/";
  std::string MPEG4Device = Device + "MP_ROOT/100MNV01/";
  TCopySetup() {
    fs::create_directories(Out + "AVC");
    fs::create_directories(Out + "MPEG4");
    fs::create_directories(Device);
  }
  // A converted file of AKind with distinct content; AThumb adds its ".THM".
  TCopySource Converted(const std::string &AName, const std::string &AKind, bool AThumb = true) {
    const std::string base = Out + AKind + "/" + AName;
    Write(base + ".mp4", "video " + AName + std::string(3000, 'v'));
    if (AThumb)
      Write(base + ".THM", "thumb " + AName);
    return {base + ".mp4", AKind};
  }
};

TEST(DeviceList, ConvertedFilesOfBothFoldersWithSizesIncludingThumbnails) {
  TCopySetup s;
  s.Converted("b", "AVC");
  Write(s.Out + "AVC/a.MP4", std::string(1000, 'a'));
  Write(s.Out + "AVC/empty.mp4", "");
  Write(s.Out + "AVC/broken.mp4", "not a video");
  Write(s.Out + "AVC/notes.txt", "text");
  fs::create_directories(s.Out + "AVC/folder.mp4");
  fs::create_symlink(s.Out + "AVC/a.MP4", s.Out + "AVC/link.mp4");
  s.Converted("c", "MPEG4", false);
  // A 5 GB file (sparse): its size must not wrap at 32 bits.
  {
    const int fd = ::open((s.Out + "MPEG4/big.mp4").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, int64_t{5} << 30), 0);
    ::close(fd);
  }
  std::vector<std::string> probed;
  auto duration = [&](const std::string &AName, int64_t &AUs) {
    probed.push_back(fs::path(AName).filename().string());
    if (AName.find("broken") != std::string::npos)
      return false;
    AUs = static_cast<int64_t>(AName.size()) * 1000000;
    return true;
  };
  const auto files = ListConvertedFiles(s.Out + "AVC/", s.Out + "MPEG4", duration);
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[0].Name, "a.MP4");
  EXPECT_EQ(files[0].Format, "AVC");
  EXPECT_EQ(files[0].Size, 1000);
  EXPECT_EQ(files[0].Path, s.Out + "AVC/a.MP4");
  EXPECT_EQ(files[0].DurationUs, static_cast<int64_t>(files[0].Path.size()) * 1000000);
  EXPECT_EQ(files[1].Name, "b.mp4");
  EXPECT_EQ(files[1].Size, 3007 + 7); // video and thumbnail
  EXPECT_EQ(files[2].Name, "big.mp4");
  EXPECT_EQ(files[2].Format, "MPEG4");
  EXPECT_EQ(files[2].Size, int64_t{5} << 30);
  EXPECT_EQ(files[3].Name, "c.mp4");
  EXPECT_EQ(files[3].Size, 3007);
  // Empty files, folders, links and other names never reach the probe.
  EXPECT_EQ(probed, (std::vector<std::string>{"a.MP4", "b.mp4", "broken.mp4", "big.mp4", "c.mp4"}));
  // Folders not ready: nothing listed (not the current folder).
  EXPECT_TRUE(ListConvertedFiles("", "", duration).empty());
}

TEST(DeviceList, SelectionStatusAndShareOfTheFreeSpace) {
  EXPECT_EQ(SelectionStatusText(57000, 1234567890),
            "57 KB selected, 1,234,567 KB available on device folder.");
  EXPECT_EQ(SelectionPercent(250, 1000), 25);
  EXPECT_EQ(SelectionPercent(10, -1), 0);  // nothing measured: no share
  EXPECT_EQ(SelectionPercent(10, 0), 100); // a full stick: it does not fit
  EXPECT_EQ(SelectionPercent(int64_t{8} << 40, int64_t{4} << 40), 100);
  EXPECT_EQ(DeviceFreeSpace(""), -1);
  // A stick that is not there: not the free space of the disk its mount point lies on.
  testing_support::TempDir dir;
  EXPECT_GE(DeviceFreeSpace(dir.path().string()), 0);
  EXPECT_EQ(DeviceFreeSpace(dir.file("not-mounted")), -1);
  Write(dir.file("file"), "x");
  EXPECT_EQ(DeviceFreeSpace(dir.file("file")), -1);
}

TEST(DeviceNames, LowestFreeNumbersFirstPerKind) {
  TCopySetup s;
  fs::create_directories(s.AVCDevice);
  Write(s.AVCDevice + "MAQ00000.MP4", "old");
  Write(s.AVCDevice + "MAQ00002.MP4", "old");
  Write(s.AVCDevice + "MAQ00003.THM", "a thumbnail alone keeps its number: never overwritten");
  const TDeviceNames names = AllocateDeviceNames(s.Device, 3, 2);
  EXPECT_EQ(names.AVCTargets,
            (std::vector<std::string>{s.AVCDevice + "MAQ00001.MP4", s.AVCDevice + "MAQ00004.MP4",
                                      s.AVCDevice + "MAQ00005.MP4"}));
  EXPECT_EQ(names.MPEG4Targets, (std::vector<std::string>{s.MPEG4Device + "M4V00000.MP4",
                                                          s.MPEG4Device + "M4V00001.MP4"}));
  // The folder is a prefix; a missing separator is added.
  EXPECT_EQ(AllocateDeviceNames(s.Dir.file("stick"), 1, 0).AVCTargets[0],
            s.AVCDevice + "MAQ00001.MP4");
  EXPECT_TRUE(AllocateDeviceNames(s.Device, 0, 0).AVCTargets.empty());
}

TEST(CopyToDevice, FillsTheGapsWithVideosAndTheirThumbnails) {
  TCopySetup s;
  fs::create_directories(s.AVCDevice);
  Write(s.AVCDevice + "MAQ00000.MP4", "old 0");
  Write(s.AVCDevice + "MAQ00002.MP4", "old 2");
  const TCopySource one = s.Converted("one", "AVC"), two = s.Converted("two", "AVC");
  const TCopySource three = s.Converted("three", "MPEG4", false);
  std::vector<std::string> shown;
  int64_t lastDone = -1, total = 0;
  const TCopyResult r = CopyToDevice(
      s.Device, {one, three, two},
      [&](const TCopyProgress &p) {
        EXPECT_GT(p.BytesDone, lastDone);
        lastDone = p.BytesDone;
        total = p.BytesTotal;
        return true;
      },
      [&](const std::string &m) { shown.push_back(m); });
  EXPECT_EQ(r.Outcome, TCopyOutcome::coCopied);
  EXPECT_EQ(shown, std::vector<std::string>{MsgCopied});
  EXPECT_EQ(r.Messages, shown);
  EXPECT_EQ(r.Count, 5u); // three videos, two thumbnails
  EXPECT_EQ(lastDone, total);
  EXPECT_EQ(ReadFile(s.AVCDevice + "MAQ00001.MP4"), ReadFile(one.Path));
  EXPECT_EQ(ReadFile(s.AVCDevice + "MAQ00001.THM"), "thumb one");
  EXPECT_EQ(ReadFile(s.AVCDevice + "MAQ00003.MP4"), ReadFile(two.Path));
  EXPECT_EQ(ReadFile(s.AVCDevice + "MAQ00003.THM"), "thumb two");
  EXPECT_EQ(ReadFile(s.AVCDevice + "MAQ00000.MP4"), "old 0");
  EXPECT_EQ(ReadFile(s.AVCDevice + "MAQ00002.MP4"), "old 2");
  EXPECT_EQ(FolderEntries(s.AVCDevice),
            (std::vector<std::string>{"MAQ00000.MP4", "MAQ00001.MP4", "MAQ00001.THM",
                                      "MAQ00002.MP4", "MAQ00003.MP4", "MAQ00003.THM"}));
  EXPECT_EQ(FolderEntries(s.MPEG4Device), std::vector<std::string>{"M4V00000.MP4"});
}

TEST(CopyToDevice, EveryFileAndTheDeviceFoldersReachTheMediumBeforeSuccessIsSaid) {
  TCopySetup s;
  const TCopySource a = s.Converted("a", "AVC"), b = s.Converted("b", "MPEG4");
  const std::string device = fs::canonical(s.Device).string();
  auto said = [](const std::string &AMessage) { Synced.push_back("said: " + AMessage); };
  RecordSyncs = true;
  Synced.clear();
  TCopyResult r = CopyToDevice(s.Device, {a, b}, {}, said);
  RecordSyncs = false;
  EXPECT_EQ(r.Outcome, TCopyOutcome::coCopied);
  ASSERT_FALSE(Synced.empty());
  EXPECT_EQ(Synced.back(), std::string("said: ") + MsgCopied);
  auto syncs = [&](const std::string &APath) {
    return std::count(Synced.begin(), Synced.end(), APath);
  };
  // Four files under their temporary names, then each folder that got a name, and the folders
  // the copy made.
  EXPECT_EQ(std::count_if(Synced.begin(), Synced.end(),
                          [](const std::string &p) { return p.find(".korvelo-copy-") != p.npos; }),
            4);
  EXPECT_EQ(syncs(device + "/MP_ROOT/100ANV01"), 2);
  EXPECT_EQ(syncs(device + "/MP_ROOT/100MNV01"), 2);
  EXPECT_EQ(syncs(device + "/MP_ROOT"), 1);
  EXPECT_EQ(syncs(device), 1);

  // A folder that cannot be written to the medium is a failed copy, not a success.
  FailSyncOf = device + "/MP_ROOT/100MNV01";
  RecordSyncs = true;
  r = CopyToDevice(s.Device, {a, b});
  RecordSyncs = false;
  FailSyncOf.clear();
  EXPECT_EQ(r.Outcome, TCopyOutcome::coFailed);
  EXPECT_EQ(r.Messages, std::vector<std::string>{MsgCopyFailed});
  EXPECT_NE(r.Error.find("M4V00001.MP4"), std::string::npos) << r.Error;
  // Told with its reason and the videos that are whole on the stick.
  const std::string details = CopyFailureDetails(s.Device, r);
  EXPECT_NE(details.find("MP_ROOT/100MNV01/M4V00001.MP4: Input/output error."), std::string::npos)
      << details;
  EXPECT_NE(details.find("Copied before it, and whole on the stick: a.mp4 "
                         "(MP_ROOT/100ANV01/MAQ00001.MP4)"),
            std::string::npos)
      << details;
}

TEST(CopyToDevice, ShortOfNumbersCopiesWhatFitsInListOrderAndSaysHowMany) {
  TOnMemory onMemory;
  TCopySetup s;
  fs::create_directories(s.AVCDevice);
  // Every number but 00005 and 99999 taken.
  for (int n = 0; n < 99999; ++n)
    if (n != 5) {
      const int fd = ::open((s.AVCDevice + "MAQ" + PadNumber5(n) + ".MP4").c_str(),
                            O_WRONLY | O_CREAT | O_EXCL, 0644);
      ASSERT_GE(fd, 0);
      ::close(fd);
    }
  const TCopySource a = s.Converted("a", "AVC"), b = s.Converted("b", "AVC", false),
                    c = s.Converted("c", "AVC");
  const TCopyResult r = CopyToDevice(s.Device, {a, b, c});
  EXPECT_EQ(
      r.Messages,
      (std::vector<std::string>{
          "Insufficient name space, only 2 AVC video file(s) can be copied to PSP", MsgCopied}));
  EXPECT_EQ(r.Outcome, TCopyOutcome::coCopied);
  EXPECT_EQ(r.Count, 3u); // a with its thumbnail, b without one
  EXPECT_EQ(ReadFile(s.AVCDevice + "MAQ00005.MP4"), ReadFile(a.Path));
  EXPECT_EQ(ReadFile(s.AVCDevice + "MAQ00005.THM"), "thumb a");
  EXPECT_EQ(ReadFile(s.AVCDevice + "MAQ99999.MP4"), ReadFile(b.Path));
  EXPECT_FALSE(fs::exists(s.AVCDevice + "MAQ99999.THM"));
}

TEST(CopyToDevice, ChecksInOrderWithTheirMessages) {
  TCopySetup s;
  const TCopySource a = s.Converted("a", "AVC");
  // No device folder: its free space cannot be measured, even with nothing selected.
  EXPECT_EQ(CopyToDevice("", {}).Messages, std::vector<std::string>{MsgInsufficientSpace});
  // A device folder that does not exist: said as such, not as a lack of room.
  TCopyResult r = CopyToDevice(s.Dir.file("nowhere"), {a});
  EXPECT_EQ(r.Outcome, TCopyOutcome::coRefused);
  EXPECT_EQ(r.Messages, std::vector<std::string>{MsgDeviceFolderMissing});
  EXPECT_FALSE(fs::exists(s.Dir.file("nowhere")));
  // The device layout cannot be made (a file where a folder belongs).
  const std::string blocked = s.Dir.file("blocked") + "/";
  fs::create_directories(blocked);
  Write(blocked + "MP_ROOT", "");
  EXPECT_EQ(CopyToDevice(blocked, {a}).Messages, std::vector<std::string>{MsgCannotCreateFolder});
  // Nothing selected: said after the device folders have been made.
  r = CopyToDevice(s.Device, {});
  EXPECT_EQ(r.Messages, std::vector<std::string>{MsgSelectFiles});
  EXPECT_TRUE(fs::is_directory(s.AVCDevice));
  EXPECT_TRUE(fs::is_directory(s.MPEG4Device));
  // More than the volume holds (a sparse file larger than the free space).
  const std::string huge = s.Out + "AVC/huge.mp4";
  const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  const int64_t free = DeviceFreeSpace(s.Device);
  const bool sized = ::ftruncate(fd, free + 1) == 0;
  ::close(fd);
  if (!sized)
    GTEST_SKIP() << "this file system cannot hold a sparse file of " << free + 1 << " bytes";
  r = CopyToDevice(s.Device, {a, {huge, "AVC"}});
  EXPECT_EQ(r.Messages, std::vector<std::string>{MsgInsufficientSpace});
  EXPECT_TRUE(FolderEntries(s.AVCDevice).empty());
}

TEST(CopyToDevice, VanishedSourceSkippedSilentlyAndItsNumberLeftUnused) {
  TCopySetup s;
  const TCopySource a = s.Converted("a", "AVC");
  TCopyResult r = CopyToDevice(s.Device, {{s.Out + "AVC/gone.mp4", "AVC"}, a});
  EXPECT_EQ(r.Messages, std::vector<std::string>{MsgCopied});
  EXPECT_EQ(FolderEntries(s.AVCDevice), (std::vector<std::string>{"MAQ00001.MP4", "MAQ00001.THM"}));
  r = CopyToDevice(s.Device, {{s.Out + "AVC/gone.mp4", "AVC"}});
  EXPECT_EQ(r.Outcome, TCopyOutcome::coNothing);
  EXPECT_TRUE(r.Messages.empty());
}

TEST(CopyToDevice, NeverOverwritesAFileOnTheDevice) {
  TCopySetup s;
  const TCopySource a = s.Converted("a", "AVC");
  fs::create_directories(s.AVCDevice);
  Write(s.AVCDevice + "MAQ00000.MP4", "the user's own video");
  std::string error;
  EXPECT_FALSE(CopyFileNoReplace(a.Path, s.AVCDevice + "MAQ00000.MP4", {}, error));
  EXPECT_NE(error.find("MAQ00000.MP4"), std::string::npos) << error;
  EXPECT_EQ(ReadFile(s.AVCDevice + "MAQ00000.MP4"), "the user's own video");
  EXPECT_EQ(FolderEntries(s.AVCDevice), std::vector<std::string>{"MAQ00000.MP4"});
  // A dangling link under the name counts as taken: nothing is written through it.
  fs::create_symlink(s.Dir.file("elsewhere"), s.AVCDevice + "MAQ00001.MP4");
  EXPECT_EQ(AllocateDeviceNames(s.Device, 1, 0).AVCTargets[0], s.AVCDevice + "MAQ00002.MP4");
  EXPECT_FALSE(CopyFileNoReplace(a.Path, s.AVCDevice + "MAQ00001.MP4", {}, error));
  EXPECT_FALSE(fs::exists(s.Dir.file("elsewhere")));
  // A fresh name works, and only it appears.
  ASSERT_TRUE(CopyFileNoReplace(a.Path, s.AVCDevice + "MAQ00002.MP4", {}, error)) << error;
  EXPECT_EQ(ReadFile(s.AVCDevice + "MAQ00002.MP4"), ReadFile(a.Path));
  EXPECT_EQ(FolderEntries(s.AVCDevice).size(), 3u);
}

TEST(CopyToDevice, ANumberTakenMeanwhileGoesToTheNextAndAPulledStickEndsTheCopy) {
  TCopySetup s;
  const TCopySource a = s.Converted("a", "AVC"), b = s.Converted("b", "AVC");
  fs::create_directories(s.AVCDevice);
  // Another copy onto the same stick places its video under the number this one chose.
  bool taken = false;
  TCopyResult r = CopyToDevice(s.Device, {a}, [&](const TCopyProgress &) {
    if (!taken)
      Write(s.AVCDevice + "MAQ00000.MP4", "the other copy's video");
    taken = true;
    return true;
  });
  EXPECT_EQ(r.Outcome, TCopyOutcome::coCopied) << r.Error;
  EXPECT_EQ(ReadFile(s.AVCDevice + "MAQ00000.MP4"), "the other copy's video");
  EXPECT_EQ(ReadFile(s.AVCDevice + "MAQ00001.MP4"), ReadFile(a.Path));
  EXPECT_EQ(ReadFile(s.AVCDevice + "MAQ00001.THM"), "thumb a");

  // The stick pulled out during the first video: its empty mount folder takes nothing.
  const std::string pulled = s.Dir.file("pulled");
  bool pull = true;
  r = CopyToDevice(s.Device, {b}, [&](const TCopyProgress &) {
    if (pull) {
      fs::rename(s.Device, pulled);
      fs::create_directories(s.Device);
    }
    pull = false;
    return true;
  });
  EXPECT_EQ(r.Outcome, TCopyOutcome::coFailed);
  EXPECT_TRUE(FolderEntries(s.Device).empty());
  EXPECT_NE(CopyFailureDetails(s.Device, r).find(MsgStickGone), std::string::npos) << r.Error;
}

TEST(RemoveStickVideoAt, RemovesWhatWasAskedAboutOrNothing) {
  TCopySetup s;
  fs::create_directories(s.AVCDevice);
  Write(s.AVCDevice + "MAQ00000.MP4", "video zero");
  Write(s.AVCDevice + "MAQ00000.THM", "thumb zero");
  Write(s.Device + "notes.mp4", "not in a video folder");
  std::string error;
  // Another video took the name since the list was read: a different size.
  EXPECT_FALSE(RemoveStickVideoAt(s.Device, "MP_ROOT/100ANV01/MAQ00000.MP4", 3, error));
  EXPECT_FALSE(RemoveStickVideoAt(s.Device, "notes.mp4", -1, error));
  EXPECT_FALSE(RemoveStickVideoAt(s.Device, "MP_ROOT/100ANV01/../../notes.mp4", -1, error));
  EXPECT_FALSE(RemoveStickVideoAt(s.Device, "MP_ROOT/100ANV01/MAQ00009.MP4", -1, error));
  EXPECT_EQ(FolderEntries(s.AVCDevice), (std::vector<std::string>{"MAQ00000.MP4", "MAQ00000.THM"}));
  EXPECT_TRUE(fs::exists(s.Device + "notes.mp4"));
  EXPECT_TRUE(RemoveStickVideoAt(s.Device, "MP_ROOT/100ANV01/MAQ00000.MP4", 10, error)) << error;
  EXPECT_TRUE(FolderEntries(s.AVCDevice).empty());
}

TEST(CopyToDevice, CancelledCopyLeavesNoFileUnderAPSPName) {
  TCopySetup s;
  const TCopySource small = s.Converted("small", "AVC");
  const std::string bigPath = s.Out + "AVC/big.mp4";
  Write(bigPath, std::string(3 << 20, 'b')); // several copy chunks
  Write(s.Out + "AVC/big.THM", "thumb big");
  std::vector<std::string> shown;
  const TCopyResult r = CopyToDevice(
      s.Device, {small, {bigPath, "AVC"}},
      [&](const TCopyProgress &p) { return !(p.FileIndex == 2 && p.BytesDone > (1 << 20)); },
      [&](const std::string &m) { shown.push_back(m); });
  EXPECT_EQ(r.Outcome, TCopyOutcome::coFailed);
  EXPECT_EQ(shown, std::vector<std::string>{MsgCopyFailed});
  EXPECT_NE(r.Error.find("MAQ00001.MP4"), std::string::npos) << r.Error;
  // The first video and its thumbnail are complete; of the second nothing is left, not even
  // the temporary file.
  EXPECT_EQ(FolderEntries(s.AVCDevice), (std::vector<std::string>{"MAQ00000.MP4", "MAQ00000.THM"}));
  EXPECT_EQ(r.Copied.size(), 2u);
  // A source that cannot be read fails the same way, without a trace on the device.
  std::string error;
  EXPECT_FALSE(CopyFileNoReplace(s.Out + "AVC", s.AVCDevice + "MAQ00009.MP4", {}, error));
  EXPECT_EQ(FolderEntries(s.AVCDevice).size(), 2u);
}

// A stick pulled out mid-copy keeps the hidden file the copy wrote; the next copy removes it
// and says so, but leaves one another copy is still writing.
TEST(CopyToDevice, AnInterruptedCopysLeftoversAreRemovedAndTold) {
  TCopySetup s;
  fs::create_directories(s.AVCDevice);
  fs::create_directories(s.MPEG4Device);
  Write(s.AVCDevice + ".korvelo-copy-a1b2c3", std::string(2048, 'v'));
  Write(s.MPEG4Device + ".korvelo-copy-d4e5f6", std::string(1024, 'v'));
  const std::string busy = s.AVCDevice + ".korvelo-copy-busy00";
  Write(busy, "being written");
  const int writer = ::open(busy.c_str(), O_RDONLY);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::flock(writer, LOCK_EX), 0);
  std::vector<std::string> shown;
  const TCopyResult r = CopyToDevice(s.Device, {s.Converted("one", "AVC")}, {},
                                     [&](const std::string &m) { shown.push_back(m); });
  ::close(writer);
  EXPECT_EQ(r.Outcome, TCopyOutcome::coCopied);
  EXPECT_EQ(shown, (std::vector<std::string>{"Removed 2 unfinished files (3 KB) left on the memory "
                                             "stick by an earlier copy that was interrupted.",
                                             MsgCopied}));
  EXPECT_EQ(FolderEntries(s.AVCDevice),
            (std::vector<std::string>{".korvelo-copy-busy00", "MAQ00000.MP4", "MAQ00000.THM"}));
  EXPECT_TRUE(FolderEntries(s.MPEG4Device).empty());
}

TEST(CopyToDevice, JobCopiesOnItsOwnThreadAndACancelLeavesNoPSPName) {
  TCopySetup s;
  const std::string big = s.Out + "AVC/big.mp4";
  Write(big, std::string(4 << 20, 'b'));
  Write(s.Out + "AVC/big.THM", "thumb big");
  const TCopySource small = s.Converted("small", "MPEG4");

  TDeviceCopyJob job;
  std::promise<TCopyResult> done;
  std::vector<std::string> progressFiles; // the files reported, in order
  bool onOtherThread = true;
  const std::thread::id caller = std::this_thread::get_id();
  job.OnProgress = [&](const TCopyProgress &p) {
    onOtherThread = onOtherThread && std::this_thread::get_id() != caller;
    if (progressFiles.empty() || progressFiles.back() != p.Target)
      progressFiles.push_back(p.Target);
  };
  job.OnDone = [&](const TCopyResult &r) { done.set_value(r); };
  ASSERT_TRUE(job.Start(s.Device, {{big, "AVC"}, small}));
  TCopyResult r = done.get_future().get();
  job.Wait();
  EXPECT_FALSE(job.Running());
  EXPECT_TRUE(onOtherThread);
  EXPECT_EQ(r.Outcome, TCopyOutcome::coCopied);
  EXPECT_EQ(r.Messages, std::vector<std::string>{MsgCopied});
  EXPECT_EQ(progressFiles, (std::vector<std::string>{
                               s.AVCDevice + "MAQ00000.MP4", s.AVCDevice + "MAQ00000.THM",
                               s.MPEG4Device + "M4V00000.MP4", s.MPEG4Device + "M4V00000.THM"}));
  EXPECT_EQ(ReadFile(s.AVCDevice + "MAQ00000.MP4"), ReadFile(big));

  // Cancelled in the middle of the big file: nothing new under a MAQ or M4V name, no leftovers.
  std::promise<TCopyResult> cancelled;
  job.OnProgress = [&](const TCopyProgress &p) {
    if (p.BytesDone > 0)
      job.Cancel();
  };
  job.OnDone = [&](const TCopyResult &AResult) { cancelled.set_value(AResult); };
  Write(big, std::string(4 << 20, 'c')); // a twin of what is on the stick would be left out
  ASSERT_TRUE(job.Start(s.Device, {{big, "AVC"}, small}));
  r = cancelled.get_future().get();
  EXPECT_EQ(r.Outcome, TCopyOutcome::coFailed);
  EXPECT_EQ(r.Messages, (std::vector<std::string>{
                            "small.mp4 is already on the stick as MP_ROOT/100MNV01/M4V00000.MP4, "
                            "left out",
                            MsgCopyFailed}));
  EXPECT_EQ(FolderEntries(s.AVCDevice), (std::vector<std::string>{"MAQ00000.MP4", "MAQ00000.THM"}));
  EXPECT_EQ(FolderEntries(s.MPEG4Device),
            (std::vector<std::string>{"M4V00000.MP4", "M4V00000.THM"}));
}

TEST(PSPVolumes, AVolumeWithAPSPFolderIsOfferedOnlyWhileNoDeviceFolderWorks) {
  testing_support::TempDir dir;
  const std::string stick = dir.file("my stick"), other = dir.file("other"),
                    fileNamed = dir.file("file named psp");
  fs::create_directories(stick + "/Psp/GAME");
  fs::create_directories(other + "/DCIM");
  fs::create_directories(fileNamed);
  Write(fileNamed + "/PSP", "a file, not a folder");

  // The mounts table escapes blanks; virtual and network mounts and the root are never looked into.
  const std::string table = "proc /proc proc rw 0 0\n/dev/vda / ext4 rw 0 0\n"
                            "server:/x /mnt/x nfs4 rw 0 0\n/dev/sdc1 " +
                            other + " vfat rw 0 0\n/dev/sdd1 " +
                            dir.file("file\\040named\\040psp") + " exfat rw 0 0\n/dev/sdb1 " +
                            dir.file("my\\040stick") + " vfat rw 0 0\n";
  const std::vector<std::string> volumes = ParseMountPoints(table);
  EXPECT_EQ(volumes, (std::vector<std::string>{other, fileNamed, stick}));
  EXPECT_EQ(FindPSPVolume(volumes), stick + "/");
  EXPECT_EQ(FindPSPVolume({other, fileNamed}), "");

  EXPECT_EQ(SuggestDeviceFolder("", volumes), stick + "/");
  EXPECT_EQ(SuggestDeviceFolder(dir.file("unplugged"), volumes), stick + "/");
  EXPECT_EQ(SuggestDeviceFolder(other, volumes), ""); // a working choice is left alone
}

} // namespace
