#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "converter/av_converter.h"
#include "converter/log_bridge.h"
#include "medialib/medialib.h"
#include "support/test_support.h"

namespace {

int ThisThreadId() { return static_cast<int>(syscall(SYS_gettid)); }

struct Termination {
  int index;
  bool finished;
  bool exception;
  std::string message;
  int threadId;
};

// Collects a converter's terminations and log lines from any thread.
struct EventLog {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Termination> terminations;
  std::vector<std::pair<int, std::string>> lines;

  void Attach(TCustomAVConverter &AConverter) {
    AConverter.OnTerminate = [this](int AIndex, bool AFinished, bool AException,
                                    const std::string &AMessage) {
      std::lock_guard<std::mutex> lock(mutex);
      terminations.push_back({AIndex, AFinished, AException, AMessage, ThisThreadId()});
      changed.notify_all();
    };
    AConverter.OnLog = [this](int AIndex, TLogLevel, const std::string &AMsg) {
      std::lock_guard<std::mutex> lock(mutex);
      lines.emplace_back(AIndex, AMsg);
    };
  }
  bool WaitForBatchEnd() {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), [&] {
      return !terminations.empty() && terminations.back().index == -1;
    });
  }
  std::vector<int> Order() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<int> order;
    for (const Termination &t : terminations)
      order.push_back(t.index);
    return order;
  }
};

void AddInputs(TCustomAVConverter &AConverter, int ACount) {
  for (int i = 0; i < ACount; ++i)
    ASSERT_EQ(AConverter.AddInputFile(testing_support::MediaFile("avi_mpeg4_mp3.avi"), nullptr), i)
        << AConverter.LastErrorMessage();
}

class Converter : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(converter.LoadLibraries("", true)) << converter.LastErrorMessage();
    converter.SetLogLevel(llError);
    events.Attach(converter);
  }
  TCustomAVConverter converter;
  EventLog events;
};

TEST_F(Converter, TaskListRenumbersAndIntervalHasAFloor) {
  AddInputs(converter, 3);
  converter.RemoveTask(0);
  ASSERT_EQ(converter.TaskCount(), 2);
  EXPECT_EQ(converter.Task(0)->FTaskIndex, 0);
  EXPECT_EQ(converter.Task(1)->FTaskIndex, 1);
  EXPECT_THROW(converter.Task(2), std::out_of_range);

  converter.SetProgressInterval(50);
  EXPECT_EQ(converter.ProgressInterval(), 100);
  converter.SetProgressInterval(100);
  EXPECT_EQ(converter.ProgressInterval(), 100);
  EXPECT_EQ(TCustomAVConverter::Version(), "2.0b");
}

TEST_F(Converter, FailedOpensLeaveTheirMessageAndNoTask) {
  EXPECT_EQ(converter.AddInputFile("/nonexistent/file.avi", nullptr), -1);
  EXPECT_EQ(converter.LastErrorMessage(), "/nonexistent/file.avi: no such file or directory");
  TInputOptions input;
  InitInputOptions(input);
  input.FileFormat = "no-such-demuxer";
  EXPECT_EQ(converter.AddInputFile(testing_support::MediaFile("avi_mpeg4_mp3.avi"), &input), -1);
  EXPECT_EQ(converter.LastErrorMessage(), "Unknown input format: no-such-demuxer");
  EXPECT_EQ(input.FileName, testing_support::MediaFile("avi_mpeg4_mp3.avi"));
  EXPECT_EQ(converter.TaskCount(), 0);

  AddInputs(converter, 1);
  TOutputOptions output;
  InitOutputOptions(output);
  output.AudioTag = "abc";
  testing_support::TempDir dir;
  EXPECT_FALSE(converter.SetOutputFile(0, dir.file("out.mp4"), &output));
  EXPECT_FALSE(converter.LastErrorMessage().empty());
  EXPECT_EQ(output.FileName, dir.file("out.mp4"));
  EXPECT_EQ(converter.TaskCount(), 1); // the caller removes it
}

TEST_F(Converter, StartWithNoTasksRaisesNothing) {
  converter.StartConvert(2);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_TRUE(events.Order().empty());
}

// Tasks without an output end at once with their message, which makes the batch order visible.
TEST_F(Converter, BatchStartsTheNextTaskAfterEachTerminationAndEndsOnce) {
  AddInputs(converter, 3);
  converter.StartConvert(2);
  ASSERT_TRUE(events.WaitForBatchEnd());
  EXPECT_EQ(events.Order(), (std::vector<int>{0, 1, 2, -1}));
  const Termination &first = events.terminations[0];
  EXPECT_FALSE(first.finished);
  EXPECT_TRUE(first.exception);
  EXPECT_EQ(first.message, "Must supply at least one output file");
  const Termination &end = events.terminations.back();
  EXPECT_TRUE(end.finished);
  EXPECT_FALSE(end.exception);
  EXPECT_EQ(end.message, "");
}

TEST_F(Converter, DeferredStartRunsTasksThroughTheInjectedScheduler) {
  std::vector<std::function<void()>> scheduled;
  std::vector<int> delays;
  converter.DeferredCall = [&](int ADelayMs, std::function<void()> AAction) {
    delays.push_back(ADelayMs);
    scheduled.push_back(std::move(AAction));
  };
  AddInputs(converter, 2);
  converter.StartConvert(0);
  ASSERT_EQ(scheduled.size(), 1u); // one start at a time, on the caller's loop
  EXPECT_TRUE(events.Order().empty());
  scheduled[0]();
  ASSERT_EQ(scheduled.size(), 2u); // the next one is scheduled by the first's termination
  EXPECT_EQ(events.Order(), (std::vector<int>{0}));
  EXPECT_EQ(events.terminations[0].threadId, ThisThreadId());
  scheduled[1]();
  EXPECT_EQ(events.Order(), (std::vector<int>{0, 1, -1}));
  EXPECT_EQ(delays, (std::vector<int>{100, 100}));
}

TEST_F(Converter, StopBeforeStartTerminatesEveryTaskFromAnotherThreadThenTheBatch) {
  AddInputs(converter, 3);
  converter.StopConvert();
  ASSERT_TRUE(events.WaitForBatchEnd());
  std::vector<int> order = events.Order();
  ASSERT_EQ(order.size(), 4u);
  EXPECT_EQ(order.back(), -1);
  std::sort(order.begin(), order.end() - 1);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, -1}));
  for (const Termination &t : events.terminations) {
    EXPECT_NE(t.threadId, ThisThreadId());
    if (t.index >= 0) {
      EXPECT_FALSE(t.finished);
      EXPECT_FALSE(t.exception);
    }
  }
}

TEST_F(Converter, LibraryLinesAreJoinedPerThreadAndCarryOneIndex) {
  converter.SetLogLevel(llInfo);
  avlib.av_log(nullptr, AV_LOG_ERROR, "first half, ");
  std::thread([] { avlib.av_log(nullptr, AV_LOG_ERROR, "other thread\n"); }).join();
  avlib.av_log(nullptr, AV_LOG_ERROR, "second half\nnext ");
  avlib.av_log(nullptr, AV_LOG_ERROR, "line\n");
  // Below the level: not delivered at all.
  avlib.av_log(nullptr, AV_LOG_DEBUG, "hidden\n");
  std::lock_guard<std::mutex> lock(events.mutex);
  ASSERT_EQ(events.lines.size(), 3u);
  EXPECT_EQ(events.lines[0], std::make_pair(-1, std::string("other thread")));
  EXPECT_EQ(events.lines[1], std::make_pair(-1, std::string("first half, second half")));
  EXPECT_EQ(events.lines[2], std::make_pair(-1, std::string("next line")));
}

TEST_F(Converter, LibraryLinesOfAContextCarryItsClassPrefix) {
  converter.SetLogLevel(llInfo);
  AVCodecContext *context = avlib.avcodec_alloc_context3(nullptr);
  avlib.av_log(context, AV_LOG_ERROR, "hello\n");
  avlib.avcodec_free_context(&context);
  std::lock_guard<std::mutex> lock(events.mutex);
  ASSERT_EQ(events.lines.size(), 1u);
  const std::string &line = events.lines[0].second;
  EXPECT_EQ(line.rfind("[NULL @ ", 0), 0u) << line;
  EXPECT_NE(line.find("]hello"), std::string::npos) << line;
}

// Library levels arrive by meaning (a warning is no error), and a message too long for the
// bridge's buffer is delivered cut, without silencing the thread's later lines.
TEST_F(Converter, LibraryLevelsByMeaningAndLongMessagesNeverSilenceAThread) {
  converter.SetLogLevel(llInfo);
  std::vector<std::pair<TLogLevel, std::string>> lines;
  converter.SetOnLog(
      [&](int, TLogLevel ALevel, const std::string &AMsg) { lines.emplace_back(ALevel, AMsg); });
  avlib.av_log(nullptr, AV_LOG_ERROR, "an error\n");
  avlib.av_log(nullptr, AV_LOG_WARNING, "a warning\n");
  avlib.av_log(nullptr, AV_LOG_INFO, "information\n");
  avlib.av_log(nullptr, AV_LOG_VERBOSE, "detail\n"); // below llInfo
  const std::string huge(3000, 'x');
  avlib.av_log(nullptr, AV_LOG_ERROR, "%s", huge.c_str());
  avlib.av_log(nullptr, AV_LOG_ERROR, "still heard\n");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], std::make_pair(llError, std::string("an error")));
  EXPECT_EQ(lines[1], std::make_pair(llInfo, std::string("a warning")));
  EXPECT_EQ(lines[2], std::make_pair(llInfo, std::string("information")));
  EXPECT_EQ(lines[3].second, std::string(2047, 'x'));
  EXPECT_EQ(lines[4], std::make_pair(llError, std::string("still heard")));
}

TEST(LogBridge, FormattingNeverWritesPastTheBuffer) {
  char buffer[32];
  std::memset(buffer, 'x', sizeof buffer);
  const std::string longText(200, 'a');
  auto format = [&](size_t APrefix, const char *AFormat, ...) {
    va_list args;
    va_start(args, AFormat);
    const size_t n = FormatLogMessage(buffer, 16, APrefix, AFormat, args);
    va_end(args);
    return n;
  };
  EXPECT_EQ(format(0, "%s", longText.c_str()), 15u);
  EXPECT_EQ(std::string(buffer), std::string(15, 'a'));
  EXPECT_EQ(buffer[16], 'x');               // nothing written beyond the given size
  EXPECT_EQ(format(20, "%s", "more"), 15u); // a prefix already filling it
  EXPECT_EQ(buffer[16], 'x');
}

// A handler that logs through the library while it holds the converter's lock, while another
// thread logs all the time: neither may wait for the other for ever.
TEST_F(Converter, HandlerLoggingUnderTheLockDoesNotDeadlockAgainstTheBridge) {
  converter.SetLogLevel(llInfo);
  std::atomic<bool> done{false};
  std::thread chatter([&] {
    while (!done)
      avlib.av_log(nullptr, AV_LOG_ERROR, "chatter\n");
  });
  std::atomic<int> handled{0};
  converter.OnTerminate = [&](int AIndex, bool, bool, const std::string &) {
    if (AIndex >= 0)
      for (int i = 0; i < 200; ++i)
        avlib.av_log(nullptr, AV_LOG_ERROR, "from handler\n");
    ++handled;
  };
  AddInputs(converter, 3);
  converter.StartConvert(3);
  for (int i = 0; i < 500 && handled < 4; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  done = true;
  chatter.join();
  EXPECT_EQ(handled, 4);
  std::lock_guard<std::mutex> lock(events.mutex);
  int fromHandler = 0;
  for (const auto &line : events.lines)
    fromHandler += line.second == "from handler";
  EXPECT_EQ(fromHandler, 600); // every line arrives, none twice
}

} // namespace
