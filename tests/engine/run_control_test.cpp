#include <gtest/gtest.h>

#include <pthread.h>
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

// While it lives, no new thread of the process can start: its stack would be larger than the
// address space.
class NoNewThreads {
public:
  NoNewThreads() {
    pthread_getattr_default_np(&FSaved);
    pthread_attr_t huge;
    pthread_attr_init(&huge);
    pthread_attr_setstacksize(&huge, static_cast<size_t>(1) << 62);
    pthread_setattr_default_np(&huge);
    pthread_attr_destroy(&huge);
  }
  ~NoNewThreads() {
    pthread_setattr_default_np(&FSaved);
    pthread_attr_destroy(&FSaved);
  }
  static bool Work() {
    try {
      std::thread([] {}).join();
      return false;
    } catch (const std::system_error &) {
      return true;
    }
  }

private:
  pthread_attr_t FSaved;
};

// Without a thread to be had, a run and a stop still end once (on the calling thread), and the
// engine can be destroyed; a handler's exceptions never leave the engine's threads.
TEST(RunControl, NoThreadsAndThrowingHandlersStillEndEveryRunOnce) {
  testing_support::RequireMediaLibraries();
  testing_support::TempDir dir;
  {
    TCustomFFmpeg engine;
    TerminationProbe probe;
    probe.Attach(engine);
    engine.Prepare();
    ASSERT_TRUE(engine.OpenInputFile(testing_support::MediaFile("wav_pcm.wav")))
        << engine.ErrorMessage;
    ASSERT_TRUE(engine.OpenOutputFile(dir.file("out.mp4"))) << engine.ErrorMessage;
    TFFmpegThread *thread = engine.Run(true);
    ASSERT_NE(thread, nullptr);
    NoNewThreads none;
    if (!NoNewThreads::Work())
      GTEST_SKIP() << "thread creation cannot be made to fail here";
    EXPECT_EQ(thread->Start(), 0);
    TCustomFFmpeg idle;
    TerminationProbe idleProbe;
    idleProbe.Attach(idle);
    idle.Stop();
    EXPECT_EQ(idleProbe.terminations, 1);
    EXPECT_EQ(idleProbe.terminateThreadId, static_cast<int>(syscall(SYS_gettid)));
    EXPECT_EQ(probe.terminations, 1);
    EXPECT_FALSE(engine.Running);
    EXPECT_TRUE(engine.ExceptionRaised);
    EXPECT_EQ(engine.ExceptionMessage.rfind("Cannot start the conversion thread: ", 0), 0u)
        << engine.ExceptionMessage;
  }
  std::atomic<int> ends{0};
  {
    TCustomFFmpeg engine;
    engine.OnLog = [](TCustomFFmpeg *, int, const std::string &) {
      throw std::runtime_error("log");
    };
    engine.OnTerminate = [&](TCustomFFmpeg *) {
      ++ends;
      throw 42;
    };
    engine.Stop(); // on a thread of its own, which the exception must not end
    for (int i = 0; i < 200 && ends == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ends, 1);
    TCustomFFmpeg noFiles;
    noFiles.OnLog = engine.OnLog;
    noFiles.OnTerminate = engine.OnTerminate;
    noFiles.Prepare();
    EXPECT_EQ(noFiles.Run(true), nullptr);
    EXPECT_EQ(ends, 2);
    EXPECT_EQ(noFiles.ExceptionMessage, "Must supply at least one output file");
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
