// Runs of real conversions on worker threads: stop, pause, progress, several engines at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/custom_ffmpeg.h"
#include "engine/run_control.h"
#include "medialib/medialib.h"
#include "support/test_support.h"

namespace {

using namespace std::chrono_literals;

struct Progress {
  int frame;
  int fps;
  int currentMs;
  float q;
  int64_t size;
  int totalMs;
  std::chrono::steady_clock::time_point at;
};

// One engine converting one file, with its events recorded.
class Job {
public:
  // AThreads > 1: the encoders run on threads of their own beside the engine's.
  Job(const std::string &AInput, const std::string &AOutput, bool AAudioOnly = false,
      const char *AFormat = nullptr, int AThreads = 1) {
    engine.Prepare();
    engine.SetVerbose(0);
    engine.ThreadCount = AThreads;
    engine.ProgressInterval = 100000;
    EXPECT_TRUE(engine.OpenInputFile(AInput)) << engine.ErrorMessage;
    if (!AAudioOnly) {
      engine.SetOption("vcodec", "mpeg4");
      engine.SetOption("b", "400k");
    } else {
      engine.SetOption("vn", "");
    }
    engine.SetOption("acodec", "aac");
    engine.SetOption("ar", "48000");
    if (AFormat)
      engine.SetOption("f", AFormat);
    EXPECT_TRUE(engine.OpenOutputFile(AOutput)) << engine.ErrorMessage;
    engine.OnTerminate = [this](TCustomFFmpeg *) {
      std::lock_guard<std::mutex> lock(mutex);
      ++terminations;
      changed.notify_all();
    };
    engine.OnProgress = [this](TCustomFFmpeg *, int AFrame, int AFPS, int ACurrent, float AQ, float,
                               int64_t ASize, int ATotal) {
      std::lock_guard<std::mutex> lock(mutex);
      reports.push_back(
          {AFrame, AFPS, ACurrent, AQ, ASize, ATotal, std::chrono::steady_clock::now()});
      changed.notify_all();
    };
  }
  void Start() {
    TFFmpegThread *thread = engine.Run(true);
    ASSERT_NE(thread, nullptr);
    thread->Start();
  }
  bool WaitForTermination(std::chrono::seconds ATimeout = 60s) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, ATimeout, [&] { return terminations > 0; });
  }
  bool WaitForProgress(int ACurrentMs) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, 60s, [&] {
      return terminations > 0 || (!reports.empty() && reports.back().currentMs >= ACurrentMs);
    });
  }
  int LastCurrentMs() {
    std::lock_guard<std::mutex> lock(mutex);
    return reports.empty() ? 0 : reports.back().currentMs;
  }

  std::mutex mutex;
  std::condition_variable changed;
  int terminations = 0;
  std::vector<Progress> reports;
  // Last, so that it goes first: its callbacks use the members above until it has stopped.
  TCustomFFmpeg engine;
};

// Duration in ms and decoded video frames of a finished output, through the library.
struct OutputCheck {
  int64_t durationMs = -1;
  int videoFrames = 0;
};

OutputCheck CheckOutput(const std::string &AFile) {
  OutputCheck result;
  AVFormatContext *context = nullptr;
  if (avlib.avformat_open_input(&context, AFile.c_str(), nullptr, nullptr) < 0)
    return result;
  if (avlib.avformat_find_stream_info(context, nullptr) >= 0)
    result.durationMs = context->duration / 1000;
  AVPacket *packet = avlib.av_packet_alloc();
  while (avlib.av_read_frame(context, packet) >= 0) {
    if (context->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
      ++result.videoFrames;
    avlib.av_packet_unref(packet);
  }
  avlib.av_packet_free(&packet);
  avlib.avformat_close_input(&context);
  return result;
}

std::string ReadAll(const std::string &AFile) {
  std::ifstream in(AFile, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class RunControlE2E : public ::testing::Test {
protected:
  void SetUp() override { testing_support::RequireMediaLibraries(); }
  testing_support::TempDir dir;
};

TEST_F(RunControlE2E, StopMidwayWritesAPlayableOutputAndLeavesTheInputAlone) {
  const std::string input = testing_support::LongMediaFile(20);
  const std::string before = ReadAll(input);
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    const std::string output = dir.file("stopped" + std::to_string(threads) + ".mp4");
    Job job(input, output, false, nullptr, threads);
    job.Start();
    ASSERT_TRUE(job.WaitForProgress(2000));
    job.engine.Stop();
    ASSERT_TRUE(job.WaitForTermination());
    EXPECT_EQ(job.terminations, 1);
    EXPECT_FALSE(job.engine.Finished);
    EXPECT_FALSE(job.engine.ExceptionRaised) << job.engine.ExceptionMessage;
    const OutputCheck out = CheckOutput(output);
    EXPECT_GT(out.videoFrames, 25);
    EXPECT_GT(out.durationMs, 1000);
    EXPECT_LT(out.durationMs, 19000);
  }
  EXPECT_EQ(ReadAll(input), before);
}

TEST_F(RunControlE2E, PauseHaltsTheWorkerAndStopWhilePausedEndsIt) {
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    const std::string output = dir.file("paused" + std::to_string(threads) + ".mp4");
    Job job(testing_support::LongMediaFile(20), output, false, nullptr, threads);
    job.Start();
    ASSERT_TRUE(job.WaitForProgress(1000));
    job.engine.Pause();
    std::this_thread::sleep_for(300ms); // whatever was under way finishes
    const int atPause = job.LastCurrentMs();
    const auto sizeAtPause = std::filesystem::file_size(output);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(job.LastCurrentMs(), atPause);
    EXPECT_EQ(std::filesystem::file_size(output), sizeAtPause);
    job.engine.Resume();
    ASSERT_TRUE(job.WaitForProgress(atPause + 500));
    job.engine.Pause();
    std::this_thread::sleep_for(100ms);
    job.engine.Stop();
    ASSERT_TRUE(job.WaitForTermination());
    EXPECT_EQ(job.terminations, 1);
    EXPECT_FALSE(job.engine.Finished);
    EXPECT_GT(CheckOutput(output).videoFrames, 0);
  }
}

TEST_F(RunControlE2E, ProgressArrivesAtTheIntervalAndGrowsToTheInputsDuration) {
  const std::string input = testing_support::LongMediaFile(8);
  Job job(input, dir.file("progress.mp4"));
  job.Start();
  ASSERT_TRUE(job.WaitForTermination());
  EXPECT_TRUE(job.engine.Finished);
  std::lock_guard<std::mutex> lock(job.mutex);
  ASSERT_GE(job.reports.size(), 3u);
  for (size_t i = 1; i < job.reports.size(); ++i) {
    EXPECT_GE(job.reports[i].currentMs, job.reports[i - 1].currentMs);
    EXPECT_GE(job.reports[i].frame, job.reports[i - 1].frame);
    // Running reports never come closer than the interval (the last one is the final report).
    if (i + 1 < job.reports.size()) {
      EXPECT_GE(job.reports[i].at - job.reports[i - 1].at, 95ms);
    }
  }
  for (const Progress &p : job.reports) {
    EXPECT_NEAR(p.totalMs, 8000, 100);
    EXPECT_GT(p.frame, 0);
    EXPECT_GE(p.q, 0.0f);
  }
  EXPECT_NEAR(job.reports.back().currentMs, 8000, 200);
}

TEST_F(RunControlE2E, AudioOnlyOutputReportsNoFrameNumbers) {
  Job job(testing_support::MediaFile("wav_pcm.wav"), dir.file("audio.mp4"), true);
  job.Start();
  ASSERT_TRUE(job.WaitForTermination());
  EXPECT_TRUE(job.engine.Finished) << job.engine.ExceptionMessage;
  std::lock_guard<std::mutex> lock(job.mutex);
  ASSERT_FALSE(job.reports.empty());
  for (const Progress &p : job.reports) {
    EXPECT_EQ(p.frame, -1);
    EXPECT_EQ(p.fps, -1);
    EXPECT_EQ(p.q, -1.0f);
  }
  EXPECT_GT(job.reports.back().currentMs, 2000);
}

TEST_F(RunControlE2E, TwoEnginesConvertAtTheSameTime) {
  Job first(testing_support::MediaFile("mkv_h264_vorbis.mkv"), dir.file("first.mp4"));
  Job second(testing_support::MediaFile("avi_mpeg4_mp3.avi"), dir.file("second.mp4"));
  first.Start();
  second.Start();
  ASSERT_TRUE(first.WaitForTermination());
  ASSERT_TRUE(second.WaitForTermination());
  EXPECT_TRUE(first.engine.Finished) << first.engine.ExceptionMessage;
  EXPECT_TRUE(second.engine.Finished) << second.engine.ExceptionMessage;
  for (const char *name : {"first.mp4", "second.mp4"}) {
    const OutputCheck out = CheckOutput(dir.file(name));
    EXPECT_NEAR(out.durationMs, 2500, 150) << name;
    EXPECT_NEAR(out.videoFrames, 62, 3) << name;
  }
}

// Starts, pauses, resumes and stops engines at random moments: every run must end exactly once
// and nothing may hang or race (this is the case the sanitizer builds are for).
TEST_F(RunControlE2E, RandomControlStressEndsEveryRunOnce) {
  std::mt19937 random(12345);
  const std::string input = testing_support::MediaFile("avi_mpeg4_mp3.avi");
  for (int i = 0; i < 200; ++i) {
    auto job = std::make_unique<Job>(input, dir.file("stress" + std::to_string(i % 4) + ".mp4"),
                                     false, nullptr, 1 + i % 2);
    const int plan = random() % 20; // 0: never runs, 1: runs to its end, else: stopped
    if (plan == 0) {                // stopped before it ever ran
      job->engine.Stop();
      ASSERT_TRUE(job->WaitForTermination());
    } else {
      job->Start();
      for (int step = 0; step < 3; ++step) {
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        switch (random() % 3) {
        case 0:
          job->engine.Pause();
          break;
        case 1:
          job->engine.Resume();
          break;
        default:
          break;
        }
      }
      if (plan != 1)
        job->engine.Stop();
      else
        job->engine.Resume();
      ASSERT_TRUE(job->WaitForTermination()) << "iteration " << i;
    }
    if (plan == 1) {
      EXPECT_TRUE(job->engine.Finished) << job->engine.ExceptionMessage;
    }
    job.reset(); // destroys right after the end: must wait for the worker to leave
  }
}

// The engine is destroyed while its run goes on, on its own worker or on another thread that
// called Run itself: the destructor stops the run and waits for it, never freeing its files
// under it.
TEST_F(RunControlE2E, DestroyStopsARunningJob) {
  for (bool threaded : {true, false}) {
    const std::string output = dir.file(threaded ? "worker.mp4" : "caller.mp4");
    auto job = std::make_unique<Job>(testing_support::LongMediaFile(20), output);
    std::thread caller;
    if (threaded)
      job->Start();
    else
      caller = std::thread([engine = &job->engine] { engine->Run(false); });
    ASSERT_TRUE(job->WaitForProgress(500));
    const auto started = std::chrono::steady_clock::now();
    job.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    if (caller.joinable())
      caller.join();
    EXPECT_GT(CheckOutput(output).videoFrames, 0) << output;
  }
}

// With "re" the input is read at its own pace: a pause does not make it rush afterwards, and a
// stop ends it at once.
TEST_F(RunControlE2E, RealTimeReadingKeepsItsPaceOverAPauseAndStopsAtOnce) {
  Job job(testing_support::MediaFile("avi_mpeg4_mp3.avi"), dir.file("re.mp4"));
  job.engine.InputRateEmu[0] = true;
  const auto started = std::chrono::steady_clock::now();
  job.Start();
  ASSERT_TRUE(job.WaitForProgress(500));
  job.engine.Pause();
  std::this_thread::sleep_for(800ms);
  job.engine.Resume();
  ASSERT_TRUE(job.WaitForTermination());
  EXPECT_TRUE(job.engine.Finished) << job.engine.ExceptionMessage;
  EXPECT_GT(std::chrono::steady_clock::now() - started, 3000ms); // 2.5 s of input + the pause

  Job stopped(testing_support::LongMediaFile(20), dir.file("re_stopped.mp4"));
  stopped.engine.InputRateEmu[0] = true;
  stopped.Start();
  ASSERT_TRUE(stopped.WaitForProgress(300));
  const auto stopAt = std::chrono::steady_clock::now();
  stopped.engine.Stop();
  ASSERT_TRUE(stopped.WaitForTermination());
  EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 500ms);
}

// Without a progress handler the report goes to the log; the closing statistics line says what
// was written, and that the overhead is unknown when nothing was.
TEST_F(RunControlE2E, ClosingStatisticsLine) {
  for (const char *limit : {"", "0"}) {
    Job job(testing_support::MediaFile("wav_pcm.wav"), dir.file("stats.mp4"), true);
    job.engine.OnProgress = nullptr;
    job.engine.SetVerbose(1);
    std::vector<std::string> lines;
    job.engine.OnLog = [&](TCustomFFmpeg *, int, const std::string &AMsg) {
      lines.push_back(AMsg);
    };
    if (*limit) {
      // "t" applies to the output about to be opened: make a second one that gets nothing.
      job.engine.SetOption("t", limit);
      job.engine.SetOption("vn", "");
      job.engine.SetOption("acodec", "aac");
      ASSERT_TRUE(job.engine.OpenOutputFile(dir.file("empty.mp4"))) << job.engine.ErrorMessage;
    }
    job.engine.Run(false);
    ASSERT_FALSE(lines.empty());
    std::string stats;
    for (const std::string &line : lines)
      if (line.rfind("video:", 0) == 0)
        stats = line;
    ASSERT_FALSE(stats.empty()) << "no statistics line";
    EXPECT_EQ(stats.substr(stats.size() - 2), "\r\n");
    EXPECT_NE(stats.find("video:0kB audio:"), std::string::npos) << stats;
    if (*limit) {
      EXPECT_NE(stats.find("muxing overhead"), std::string::npos) << stats;
    } else {
      EXPECT_EQ(stats.find("unknown"), std::string::npos) << stats;
      EXPECT_NE(stats.find('%'), std::string::npos) << stats;
    }
  }
}

// Every way a run can end raises OnTerminate exactly once, with what the caller reads after it.
TEST_F(RunControlE2E, FailuresInSetUpAndInTheLoopEndTheRunOnce) {
  { // set-up: the second pass finds no statistics from a first one
    Job job(testing_support::MediaFile("avi_mpeg4_mp3.avi"), dir.file("pass2.mp4"));
    ASSERT_EQ(job.engine.OutputFileCount, 1);
    job.engine.SetOption("pass", "2");
    job.engine.SetOption("passlogfile", dir.file("missing"));
    job.engine.OpenOutputFile(dir.file("pass2b.mp4"));
    job.Start();
    ASSERT_TRUE(job.WaitForTermination());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(job.terminations, 1);
    EXPECT_TRUE(job.engine.ExceptionRaised);
    EXPECT_FALSE(job.engine.Finished);
    EXPECT_EQ(job.engine.ExceptionMessage.rfind("creat open fail: ", 0), 0u)
        << job.engine.ExceptionMessage;
  }
  { // the loop: the muxer cannot write
    Job job(testing_support::LongMediaFile(8), "/dev/full", false, "mpegts");
    job.Start();
    ASSERT_TRUE(job.WaitForTermination());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(job.terminations, 1);
    EXPECT_TRUE(job.engine.ExceptionRaised);
    EXPECT_FALSE(job.engine.Finished);
    EXPECT_EQ(job.engine.ExceptionMessage.rfind("av_interleaved_write_frame()", 0), 0u)
        << job.engine.ExceptionMessage;
  }
}

TEST_F(RunControlE2E, RunWithAnOutputButNoInputNamesTheMissingInput) {
  TCustomFFmpeg engine;
  engine.Prepare();
  int terminations = 0;
  std::string fatal;
  engine.OnTerminate = [&](TCustomFFmpeg *) { ++terminations; };
  engine.OnLog = [&](TCustomFFmpeg *, int ALevel, const std::string &AMsg) {
    if (ALevel == -1)
      fatal = AMsg;
  };
  ASSERT_GE(avlib.avformat_alloc_output_context2(&engine.OutputFiles[0], nullptr, "mp4", nullptr),
            0);
  engine.OutputFileCount = 1;
  EXPECT_EQ(engine.Run(true), nullptr);
  EXPECT_EQ(terminations, 1);
  EXPECT_EQ(fatal, "Must supply at least one input file");
  EXPECT_EQ(engine.ExceptionMessage, "Must supply at least one input file");
  EXPECT_EQ(engine.OutputFileCount, 0); // released by the failed run
}

} // namespace
