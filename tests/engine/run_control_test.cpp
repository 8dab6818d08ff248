#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/custom_ffmpeg.h"
#include "engine/run_control.h"
#include "support/test_support.h"

namespace {

// Records the terminations and the -1 log lines of an engine, from whatever thread they come.
struct TerminationProbe {
  std::mutex mutex;
  std::condition_variable changed;
  int terminations = 0;
  int terminateThreadId = 0;
  std::vector<std::string> fatalLines;

  void Attach(TCustomFFmpeg &AEngine) {
    AEngine.OnTerminate = [this](TCustomFFmpeg *) {
      std::lock_guard<std::mutex> lock(mutex);
      ++terminations;
      terminateThreadId = static_cast<int>(syscall(SYS_gettid));
      changed.notify_all();
    };
    AEngine.OnLog = [this](TCustomFFmpeg *, int ALevel, const std::string &AMsg) {
      std::lock_guard<std::mutex> lock(mutex);
      if (ALevel == -1)
        fatalLines.push_back(AMsg);
    };
  }
  bool WaitFor(int ACount) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(5), [&] { return terminations >= ACount; });
  }
};

TEST(RunControl, RunWithoutFilesFailsOnceWithItsMessage) {
  testing_support::RequireMediaLibraries();
  TCustomFFmpeg engine;
  TerminationProbe probe;
  probe.Attach(engine);
  engine.Prepare();
  EXPECT_EQ(engine.Run(true), nullptr);
  EXPECT_EQ(probe.terminations, 1);
  EXPECT_TRUE(engine.ExceptionRaised);
  EXPECT_EQ(engine.ExceptionMessage, "Must supply at least one output file");
  ASSERT_EQ(probe.fatalLines.size(), 1u);
  EXPECT_EQ(probe.fatalLines[0], "Must supply at least one output file");
  EXPECT_FALSE(engine.Finished);
  // A terminated engine does not run again.
  EXPECT_EQ(engine.Run(false), nullptr);
  EXPECT_EQ(probe.terminations, 1);
}

TEST(RunControl, StopBeforeRunTerminatesOnceFromAnotherThread) {
  testing_support::RequireMediaLibraries();
  TerminationProbe probe;
  {
    TCustomFFmpeg engine;
    probe.Attach(engine);
    engine.Prepare();
    engine.Stop();
    engine.Stop(); // a second stop adds nothing
    ASSERT_TRUE(probe.WaitFor(1));
    EXPECT_NE(probe.terminateThreadId, static_cast<int>(syscall(SYS_gettid)));
    EXPECT_FALSE(engine.Finished);
    EXPECT_EQ(engine.Run(true), nullptr);
  }
  EXPECT_EQ(probe.terminations, 1);
}

TEST(RunControl, DestroyRightAfterStopWaitsForTheTerminatingThread) {
  testing_support::RequireMediaLibraries();
  // Repeated so that a destruction racing the terminating thread would show under the sanitizers.
  for (int i = 0; i < 50; ++i) {
    std::atomic<int> terminations{0};
    {
      TCustomFFmpeg engine;
      engine.OnTerminate = [&](TCustomFFmpeg *) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++terminations;
      };
      engine.Stop();
    }
    EXPECT_EQ(terminations, 1);
  }
}

TEST(RunControl, PauseWithoutAWorkerDoesNotBlock) {
  testing_support::RequireMediaLibraries();
  TCustomFFmpeg engine;
  engine.Prepare();
  engine.Pause(); // no worker: nothing to pause
  engine.CheckPause();
  engine.Resume();
  EXPECT_FALSE(engine.Running);
}

} // namespace
