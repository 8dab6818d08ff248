// The conversion queue under its two policies: what starts a job, what ends a batch, and that
// no claimed name is left behind empty.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/conversion_queue.h"
#include "app/profiles.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testing_support::MediaFile;
using testing_support::TempDir;

namespace {

TQueueSettings SettingsFor(const TempDir &AOut, bool AWindow, int AJobs = 1) {
  TQueueSettings settings;
  settings.Policy.GoOnAfterFailure = !AWindow;
  settings.Policy.LoadOnAdd = AWindow;
  settings.Policy.Jobs = AJobs;
  if (AWindow)
    settings.PreviewWidth = 138, settings.PreviewHeight = 102;
  fs::create_directories(AOut.path() / "AVC");
  fs::create_directories(AOut.path() / "MPEG4");
  settings.AVCFolder = AOut.file("AVC") + "/";
  settings.MPEG4Folder = AOut.file("MPEG4") + "/";
  return settings;
}

TConversionJob JobOf(const TConversionQueue &AQueue, int AId) {
  TConversionJob job;
  EXPECT_TRUE(AQueue.Job(AId, job)) << "job " << AId << " is gone";
  return job;
}

bool WaitFor(const std::function<bool()> &ACondition, int ASeconds = 60) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(ASeconds);
  while (!ACondition()) {
    if (std::chrono::steady_clock::now() > until)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Output files of the folder that hold nothing: a claim never written.
std::vector<std::string> EmptyFiles(const TempDir &AOut) {
  std::vector<std::string> empty;
  for (const auto &file : fs::recursive_directory_iterator(AOut.path()))
    if (file.is_regular_file() && file.file_size() == 0)
      empty.push_back(file.path().string());
  return empty;
}

} // namespace

// The window's queue: a job starts only from Start (a file added after a finished batch waits),
// and Start converts every job again, into a new name.
TEST(ConversionQueue, WindowStartsOnlyFromStartAndConvertsEveryJobAgain) {
  testing_support::RequireMediaLibraries();
  TempDir out;
  TConversionQueue queue(SettingsFor(out, true), nullptr);
  const int first = queue.Add(MediaFile("mov_h264_aac.mov"), DefaultProfileIndex);
  queue.WaitIdle();
  TConversionJob job = JobOf(queue, first);
  EXPECT_EQ(job.State, TConversionState::csWaiting);
  EXPECT_FALSE(job.Title.empty());
  EXPECT_TRUE(job.Ready);
  ASSERT_TRUE(job.Preview);
  EXPECT_EQ(job.Preview->Width, 138) << "the window shows the first picture as soon as it loads";
  const std::string firstOutput = job.OutputFile;
  ASSERT_TRUE(fs::exists(firstOutput)) << "a waiting job holds its name";

  queue.Start();
  queue.WaitIdle();
  job = JobOf(queue, first);
  ASSERT_EQ(job.State, TConversionState::csFinished) << job.Message;
  EXPECT_GT(fs::file_size(firstOutput), 0u);
  // The log is read apart from the snapshots, from any line on; a new run begins it afresh.
  const std::vector<std::string> log = queue.Log(first);
  ASSERT_EQ(log.size(), job.LogLines);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(queue.Log(first, log.size() - 1), std::vector<std::string>{log.back()});
  const int firstRun = job.LogRun;

  const int second = queue.Add(MediaFile("avi_mpeg4_mp3.avi"), DefaultProfileIndex);
  queue.WaitIdle();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(JobOf(queue, second).State, TConversionState::csWaiting)
      << "a file added after the batch ended waits for Start";

  queue.Start();
  queue.WaitIdle();
  EXPECT_EQ(JobOf(queue, second).State, TConversionState::csFinished);
  job = JobOf(queue, first);
  EXPECT_EQ(job.State, TConversionState::csFinished);
  EXPECT_NE(job.OutputFile, firstOutput) << "converted again, beside the first output";
  EXPECT_GT(job.LogRun, firstRun);
  EXPECT_EQ(queue.Log(first).size(), job.LogLines);
  EXPECT_TRUE(fs::exists(firstOutput));

  // A send to the stick converts only what has not run: the others keep their files.
  const std::string kept = job.OutputFile;
  const int third = queue.Add(MediaFile("mkv_h264_vorbis.mkv"), DefaultProfileIndex);
  queue.WaitIdle();
  queue.Start(true);
  queue.WaitIdle();
  EXPECT_EQ(JobOf(queue, third).State, TConversionState::csFinished);
  EXPECT_EQ(JobOf(queue, first).OutputFile, kept);
  EXPECT_EQ(JobOf(queue, first).State, TConversionState::csFinished);
}

// A failed job ends the window's batch, the jobs after it keep waiting and the failed one's
// claim is given back; the command line's queue goes on, several at once.
TEST(ConversionQueue, FailureEndsTheWindowsBatchWhileTheCommandLineGoesOn) {
  testing_support::RequireMediaLibraries();
  TempDir in, out;
  const std::string gone = in.file("gone.mov");
  fs::copy_file(MediaFile("mov_h264_aac.mov"), gone);
  {
    TConversionQueue queue(SettingsFor(out, true), nullptr);
    const int bad = queue.Add(gone, DefaultProfileIndex);
    const int good = queue.Add(MediaFile("avi_mpeg4_mp3.avi"), DefaultProfileIndex);
    queue.WaitIdle();
    fs::remove(gone); // loaded, then taken away before its turn
    queue.Start();
    queue.WaitIdle();
    EXPECT_EQ(JobOf(queue, bad).State, TConversionState::csFailed);
    EXPECT_FALSE(JobOf(queue, bad).Message.empty());
    EXPECT_EQ(JobOf(queue, good).State, TConversionState::csWaiting);
    EXPECT_FALSE(queue.BatchRunning());
    const TBatchEnd batch = queue.LastBatch();
    EXPECT_EQ(batch.Converted, 0);
    EXPECT_EQ(batch.Failed, std::vector<std::string>{gone});
    EXPECT_FALSE(batch.Stopped);
  }
  EXPECT_TRUE(EmptyFiles(out).empty()) << EmptyFiles(out).front();

  TempDir cliOut;
  TConversionQueue queue(SettingsFor(cliOut, false, 2), nullptr);
  const int bad = queue.Add(in.file("missing.mov"), DefaultProfileIndex);
  const int good1 = queue.Add(MediaFile("avi_mpeg4_mp3.avi"), DefaultProfileIndex);
  const int good2 = queue.Add(MediaFile("mov_h264_aac.mov"), DefaultProfileIndex);
  queue.Start();
  queue.WaitIdle();
  EXPECT_EQ(JobOf(queue, bad).State, TConversionState::csFailed);
  EXPECT_EQ(JobOf(queue, good1).State, TConversionState::csFinished);
  EXPECT_EQ(JobOf(queue, good2).State, TConversionState::csFinished);
}

// Pause and Resume, Remove of the converting job (the batch goes on with the next) and Stop
// (the batch ends, the rest waits); what never ran gives its claim back when the queue goes.
TEST(ConversionQueue, PauseResumeRemoveAndStop) {
  testing_support::RequireMediaLibraries();
  TempDir out;
  const std::string longFile = testing_support::LongMediaFile(60);
  std::string waitingOutput;
  {
    TConversionQueue queue(SettingsFor(out, true), nullptr);
    const int a = queue.Add(longFile, DefaultProfileIndex);
    const int b = queue.Add(longFile, DefaultProfileIndex);
    const int c = queue.Add(MediaFile("mov_h264_aac.mov"), DefaultProfileIndex);
    queue.WaitIdle();
    waitingOutput = JobOf(queue, c).OutputFile;
    queue.Start();
    ASSERT_TRUE(WaitFor([&] { return JobOf(queue, a).CurrentMs > 0; }));
    queue.Pause();
    ASSERT_TRUE(WaitFor([&] { return JobOf(queue, a).State == TConversionState::csPaused; }));
    queue.Resume();
    ASSERT_TRUE(WaitFor([&] { return JobOf(queue, a).State == TConversionState::csConverting; }));

    const std::string cutShort = JobOf(queue, a).OutputFile;
    queue.Remove(a);
    ASSERT_TRUE(WaitFor([&] { return JobOf(queue, b).State == TConversionState::csConverting; }));
    EXPECT_FALSE(fs::exists(cutShort)) << "a removed conversion leaves no half file";
    TConversionJob removed;
    EXPECT_FALSE(queue.Job(a, removed));
    EXPECT_TRUE(queue.BatchRunning());

    queue.Stop();
    queue.WaitIdle();
    EXPECT_EQ(JobOf(queue, b).State, TConversionState::csStopped);
    EXPECT_EQ(JobOf(queue, c).State, TConversionState::csWaiting);
    EXPECT_TRUE(fs::exists(waitingOutput));
    EXPECT_TRUE(queue.LastBatch().Stopped);
    // Removed before its load came: nothing is claimed for it.
    const int late = queue.Add(MediaFile("avi_mpeg4_mp3.avi"), DefaultProfileIndex);
    queue.Remove(late);
    queue.WaitIdle();
    EXPECT_FALSE(queue.Job(late, removed));
  }
  EXPECT_FALSE(fs::exists(waitingOutput));
  EXPECT_TRUE(EmptyFiles(out).empty()) << EmptyFiles(out).front();
}
