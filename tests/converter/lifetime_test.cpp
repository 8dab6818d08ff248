// The converter under every order of calls a window makes: nothing hangs, every task ends once,
// and nothing is raised for a task once it has left the converter.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "converter/av_converter.h"
#include "support/test_support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What one converter raised, per task object.
struct Record {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<const TFFmpeg *, int> ends;
  std::set<const TFFmpeg *> removed;          // their removal has returned
  int late = 0;                               // events of a task after its removal returned
  static inline std::atomic<int> finished{0}; // runs that reached their end, over all sequences

  void Attach(TCustomAVConverter &AConverter, bool AThrow, bool ARemoveEnded) {
    AConverter.OnTerminate = [this, &AConverter, AThrow, ARemoveEnded](int AIndex, bool AFinished,
                                                                       bool, const std::string &) {
      if (AIndex < 0)
        return;
      finished += AFinished;
      // Handlers run under the converter's lock, so the list may be read here.
      const TFFmpeg *task = AConverter.Task(AIndex);
      {
        std::lock_guard<std::mutex> lock(mutex);
        ++ends[task];
        late += removed.count(task);
        changed.notify_all();
      }
      if (ARemoveEnded) {
        AConverter.RemoveTask(AIndex);
        std::lock_guard<std::mutex> lock(mutex);
        removed.insert(task);
      }
      if (AThrow)
        throw std::runtime_error("handler failure");
    };
    AConverter.OnProgress = [this, &AConverter](int AIndex, int, int, int, float, float, int64_t,
                                                int) {
      std::lock_guard<std::mutex> lock(mutex);
      late += removed.count(AConverter.Task(AIndex));
    };
  }
};

// Aborts the test program when one call has not returned for this long: a hang shows as a
// failure with its step instead of a silent time-out.
class Watchdog {
public:
  Watchdog() : FThread([this] { Watch(); }) {}
  ~Watchdog() {
    FDone = true;
    FThread.join();
  }
  void Enter(const char *AStep) {
    FStep = AStep;
    FSince = Clock::now().time_since_epoch().count();
  }
  void Leave() { FSince = 0; }

private:
  void Watch() {
    while (!FDone) {
      std::this_thread::sleep_for(100ms);
      const auto since = FSince.load();
      if (since &&
          Clock::now().time_since_epoch().count() - since > std::chrono::nanoseconds(20s).count()) {
        std::fprintf(stderr, "hang in %s\n", FStep.load());
        std::abort();
      }
    }
  }
  std::atomic<bool> FDone{false};
  std::atomic<const char *> FStep{""};
  std::atomic<Clock::rep> FSince{0};
  std::thread FThread;
};

class ConverterLifetime : public ::testing::Test {
protected:
  void SetUp() override {
    testing_support::RequireMediaLibraries();
    tiny = testing_support::GeneratedMediaFile("tiny_96x64.mp4", 0.6, "96x64");
  }
  // Times one call of the window's thread: it must come back within 2 s.
  template <class F> void Call(const char *AStep, F &&ACall) {
    watchdog.Enter(AStep);
    const auto started = Clock::now();
    ACall();
    const auto took = Clock::now() - started;
    watchdog.Leave();
    EXPECT_LT(took, 2s) << AStep;
  }
  std::unique_ptr<TCustomAVConverter> MakeConverter(int ATasks, const std::string &APrefix) {
    auto converter = std::make_unique<TCustomAVConverter>();
    converter->SetLogLevel(llQuiet);
    for (int i = 0; i < ATasks; ++i) {
      EXPECT_EQ(converter->AddInputFile(tiny, nullptr), i) << converter->LastErrorMessage();
      EXPECT_TRUE(
          converter->SetOutputFile(i, dir.file(APrefix + std::to_string(i) + ".mp4"), nullptr))
          << converter->LastErrorMessage();
    }
    return converter;
  }
  std::string tiny;
  testing_support::TempDir dir;
  Watchdog watchdog;
};

// Several hundred random sequences of the window's calls at random moments: before a start,
// inside the deferred start's wait, while running or paused, at the very end of a run. Some
// handlers throw, some remove their own task from the worker thread.
TEST_F(ConverterLifetime, RandomCallSequencesNeverHangAndEndEveryTaskOnce) {
  std::mt19937 random(20261207);
  for (int sequence = 0; sequence < 300; ++sequence) {
    SCOPED_TRACE("sequence " + std::to_string(sequence));
    Record record;
    std::unique_ptr<TCustomAVConverter> converter =
        MakeConverter(1 + random() % 3, "s" + std::to_string(sequence) + "_");
    const bool removeEnded = random() % 5 == 0;
    record.Attach(*converter, random() % 4 == 0, removeEnded);
    std::vector<const TFFmpeg *> tasks;
    for (int i = 0; i < converter->TaskCount(); ++i)
      tasks.push_back(converter->Task(i));

    const int steps = 1 + random() % 6;
    bool running = false;
    for (int step = 0; step < steps; ++step) {
      switch (random() % 11) {
      case 0:
        Call("StartConvert(1)", [&] { converter->StartConvert(1); });
        running = true;
        break;
      case 1:
        Call("StartConvert(2)", [&] { converter->StartConvert(2); });
        running = true;
        break;
      case 2:
        Call("StartConvert(0)", [&] { converter->StartConvert(0); });
        running = true;
        break;
      case 3:
        Call("PauseConvert", [&] { converter->PauseConvert(); });
        running = false;
        break;
      case 4:
        Call("ResumeConvert", [&] { converter->ResumeConvert(); });
        break;
      case 5:
        Call("StopConvert", [&] { converter->StopConvert(); });
        break;
      case 6: {
        // Only this thread changes the list, unless handlers remove their tasks.
        if (removeEnded || converter->TaskCount() == 0)
          break;
        const int index = random() % converter->TaskCount();
        const TFFmpeg *task = converter->Task(index);
        Call("RemoveTask", [&] { converter->RemoveTask(index); });
        std::lock_guard<std::mutex> lock(record.mutex);
        record.removed.insert(task);
        break;
      }
      case 7: {
        Call("ClearTasks", [&] { converter->ClearTasks(); });
        std::lock_guard<std::mutex> lock(record.mutex);
        record.removed.insert(tasks.begin(), tasks.end());
        break;
      }
      case 8: { // right at the end of a run
        if (!running)
          break;
        std::unique_lock<std::mutex> lock(record.mutex);
        const size_t ended = record.ends.size();
        record.changed.wait_for(lock, 400ms, [&] { return record.ends.size() > ended; });
        break;
      }
      default:
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 150));
      }
    }

    if (random() % 2) {
      // Stopped: every task still there ends exactly once.
      Call("StopConvert", [&] { converter->StopConvert(); });
      std::unique_lock<std::mutex> lock(record.mutex);
      const bool allEnded = record.changed.wait_for(lock, 20s, [&] {
        for (const TFFmpeg *task : tasks)
          if (!record.removed.count(task) && record.ends[task] == 0)
            return false;
        return true;
      });
      EXPECT_TRUE(allEnded);
    }
    Call("destroy", [&] { converter.reset(); });
    std::lock_guard<std::mutex> lock(record.mutex);
    for (const auto &end : record.ends)
      EXPECT_EQ(end.second, 1);
    EXPECT_EQ(record.late, 0);
    if (HasFailure())
      break;
  }
  EXPECT_GT(Record::finished, 10); // the sequences did reach the end of runs
}

// A panel closed inside the deferred start's wait never runs its conversion; one closed while
// its worker is stuck writing (a reader that does not read) returns at once, and the worker
// finishes its file on its own once it can write again, raising nothing.
TEST_F(ConverterLifetime, ClosingNeverWaitsForTheWorkerNorStartsItsRun) {
  std::atomic<int> ends{0};
  auto converter = MakeConverter(1, "deferred");
  converter->OnTerminate = [&](int, bool, bool, const std::string &) { ++ends; };
  converter->StartConvert(0);
  Call("destroy in the deferred wait", [&] { converter.reset(); });
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(ends, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.file("deferred0.mp4")));

  const std::string pipe = dir.file("pipe.ts");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  converter = std::make_unique<TCustomAVConverter>();
  converter->SetLogLevel(llQuiet);
  converter->OnTerminate = [&](int, bool, bool, const std::string &) { ++ends; };
  ASSERT_EQ(converter->AddInputFile(testing_support::LongMediaFile(8), nullptr), 0);
  ASSERT_TRUE(converter->SetOutputFile(0, pipe, nullptr)) << converter->LastErrorMessage();
  converter->StartConvert(1);
  std::this_thread::sleep_for(500ms); // the pipe is full long before: the worker waits to write
  int waiting = 0;
  ASSERT_EQ(ioctl(reader, FIONREAD, &waiting), 0);
  EXPECT_GE(waiting, 32768);
  Call("StopConvert", [&] { converter->StopConvert(); });
  Call("ClearTasks", [&] { converter->ClearTasks(); });
  Call("destroy", [&] { converter.reset(); });

  // Read what the worker still writes, to its end (its trailer and its close).
  char buffer[65536];
  size_t total = 0;
  bool ended = false;
  for (const auto until = Clock::now() + 20s; !ended && Clock::now() < until;) {
    const ssize_t n = read(reader, buffer, sizeof buffer);
    if (n > 0)
      total += static_cast<size_t>(n);
    else if (n == 0)
      ended = true;
    else if (errno == EAGAIN)
      std::this_thread::sleep_for(5ms);
    else
      break;
  }
  close(reader);
  EXPECT_TRUE(ended);
  EXPECT_GE(total, static_cast<size_t>(waiting));
  EXPECT_EQ(ends, 0);
}

TEST_F(ConverterLifetime, WorkersRunAtTheConvertersPriority) {
  errno = 0;
  const int base = getpriority(PRIO_PROCESS, 0);
  ASSERT_EQ(errno, 0);
  for (TConvertPriority priority : {tpIdle, tpLower, tpNormal}) {
    auto converter = MakeConverter(1, "priority" + std::to_string(priority));
    converter->SetThreadPriority(priority);
    std::promise<int> nice;
    converter->OnTerminate = [&](int AIndex, bool, bool, const std::string &) {
      if (AIndex == 0) // raised on the worker thread
        nice.set_value(getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))));
    };
    converter->StartConvert(1);
    std::future<int> result = nice.get_future();
    ASSERT_EQ(result.wait_for(20s), std::future_status::ready);
    const int expected = priority == tpIdle    ? 19
                         : priority == tpLower ? std::min(base + 5, 19)
                                               : base;
    EXPECT_EQ(result.get(), expected) << "priority " << priority;
  }
  TCustomAVConverter converter;
  EXPECT_EQ(converter.ThreadPriority(), tpNormal);
  converter.SetThreadPriority(tpHighest);
  EXPECT_EQ(converter.ThreadPriority(), tpNormal);
}

} // namespace
