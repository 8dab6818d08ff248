// The durations of the converted files, read once and remembered across starts: only new and
// changed files are read again, and a damaged cache file costs nothing but a reading.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "app/device_library.h"
#include "app/duration_cache.h"
#include "app/duration_scan.h"
#include "support/test_support.h"

namespace {

using testing_support::ReadFile;

void Write(const std::string &AName, const std::string &AContent) {
  std::ofstream(AName, std::ios::binary | std::ios::trunc) << AContent;
}

// A scan that counts the files it reads and waits for their results.
struct TCountedScan {
  std::mutex Mutex;
  std::condition_variable Done;
  std::vector<std::string> Read;
  std::vector<TDurationScan::TResult> Results;
  TDurationScan Scan;

  explicit TCountedScan(const std::string &ACacheFile)
      : Scan(
            ACacheFile,
            [this](const TDurationScan::TResult &AResult) {
              const std::lock_guard<std::mutex> lock(Mutex);
              Results.push_back(AResult);
              Done.notify_all();
            },
            [this](const std::string &AFile, int64_t &AUs) {
              {
                const std::lock_guard<std::mutex> lock(Mutex);
                Read.push_back(AFile);
              }
              AUs = static_cast<int64_t>(ReadFile(AFile).size()) * 1000;
              return ReadFile(AFile).rfind("video", 0) == 0;
            }) {}

  // Starts a scan of AFiles and waits until every file it reads is read.
  std::vector<TConvertedFile> List(const std::string &AFolder) {
    std::vector<TConvertedFile> files = ListConvertedCandidates(AFolder, "");
    {
      const std::lock_guard<std::mutex> lock(Mutex);
      Read.clear();
      Results.clear();
    }
    Scan.Start(files);
    size_t unread = 0;
    for (const TConvertedFile &file : files)
      unread += file.DurationRead ? 0 : 1;
    std::unique_lock<std::mutex> lock(Mutex);
    EXPECT_TRUE(
        Done.wait_for(lock, std::chrono::seconds(20), [&] { return Results.size() == unread; }));
    return files;
  }
};

TEST(DurationCache, UnchangedFilesAreNotReadAgainChangedAndNewOnesAre) {
  testing_support::TempDir dir;
  const std::string avc = dir.file("AVC") + "/", cache = dir.file("cache/korvelo/durations");
  std::filesystem::create_directories(avc);
  Write(avc + "a.mp4", "video a");
  Write(avc + "b.mp4", "video bb");
  Write(avc + "c.mp4", "not media");
  {
    TCountedScan first(cache);
    const std::vector<TConvertedFile> files = first.List(avc);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_FALSE(files[0].DurationRead);
    EXPECT_EQ(first.Read, (std::vector<std::string>{avc + "a.mp4", avc + "b.mp4", avc + "c.mp4"}));
    ASSERT_EQ(first.Results.size(), 3u);
    EXPECT_TRUE(first.Results[1].OK);
    EXPECT_EQ(first.Results[1].DurationUs, 8000);
    EXPECT_FALSE(first.Results[2].OK);
  }

  // The next start: what was read comes from the cache; the file that is not media is tried
  // again (it may be read once the libraries are there).
  {
    TCountedScan second(cache);
    std::vector<TConvertedFile> files = second.List(avc);
    EXPECT_TRUE(files[0].DurationRead && files[1].DurationRead);
    EXPECT_EQ(files[1].DurationUs, 8000);
    EXPECT_EQ(second.Read, std::vector<std::string>{avc + "c.mp4"});

    // Changed in size, or only in time, and new: read again; the others not.
    Write(avc + "a.mp4", "video aaa");
    const timespec times[2] = {{0, UTIME_OMIT}, {1234567890, 5}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (avc + "b.mp4").c_str(), times, 0), 0);
    Write(avc + "d.mp4", "video d");
    std::filesystem::remove(avc + "c.mp4");
    files = second.List(avc);
    EXPECT_EQ(second.Read, (std::vector<std::string>{avc + "a.mp4", avc + "b.mp4", avc + "d.mp4"}));
    ASSERT_EQ(second.Results.size(), 3u);
    EXPECT_EQ(second.Results[0].DurationUs, 9000);
  }

  // A file gone is not kept: the cache holds the files there are.
  TDurationCache saved(cache);
  ASSERT_TRUE(saved.Load());
  EXPECT_EQ(saved.Count(), 3u);
  std::filesystem::remove(avc + "d.mp4");
  saved.Store(avc + "e.mp4", {1, 0}, 1); // never there
  ASSERT_TRUE(saved.Save());
  ASSERT_TRUE(saved.Load());
  EXPECT_EQ(saved.Count(), 2u);
}

TEST(DurationCache, ADamagedOrForeignCacheFileIsIgnoredAndWrittenAnew) {
  testing_support::TempDir dir;
  const std::string cache = dir.file("durations"), video = dir.file("line\nbreak\\.mp4");
  Write(video, "video");
  TFileStamp stamp;
  ASSERT_TRUE(ReadFileStamp(video, stamp));
  TDurationCache written(cache);
  written.Store(video, stamp, 61000000);
  ASSERT_TRUE(written.Save());
  const std::string good = ReadFile(cache);

  TDurationCache read(cache);
  int64_t us = 0;
  ASSERT_TRUE(read.Load());
  ASSERT_TRUE(read.Find(video, stamp, us));
  EXPECT_EQ(us, 61000000);
  EXPECT_FALSE(read.Find(video, {stamp.Size + 1, stamp.MTimeNs}, us));

  std::string changedDigit = good;
  changedDigit[changedDigit.find("61000000")] = '9';
  for (const std::string &bad :
       {changedDigit, good.substr(0, good.size() / 2), good.substr(0, good.find("end ")),
        std::string("[Folders]\nOutputFolder=/tmp\n"), std::string("\x00\xff\x13", 3),
        good + "1 2 3 /more\n"}) {
    Write(cache, bad);
    EXPECT_FALSE(read.Load()) << bad;
    EXPECT_FALSE(read.Find(video, stamp, us)) << bad;
  }
  // The next save writes it whole again.
  read.Store(video, stamp, 61000000);
  ASSERT_TRUE(read.Save());
  EXPECT_EQ(ReadFile(cache), good);
  size_t entries = 0;
  for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir.path()))
    ++entries;
  EXPECT_EQ(entries, 2u); // the video and the cache: no temporary file left beside
}

} // namespace
