#include "engine/run_control.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include "engine/custom_ffmpeg.h"
#include "medialib/medialib.h"
#include "medialib/words.h"

namespace {

int CurrentThreadId() { return static_cast<int>(syscall(SYS_gettid)); }

} // namespace

// Linux keeps a nice value per thread: the worker changes its own, relative to the one it
// inherited. Lowering needs no privilege; raising usually does, and is then left alone.
void SetCurrentThreadPriority(TThreadPriority APriority) {
  static const int offsets[] = {19, 10, 5, 0, -5, -10, -20};
  if (APriority == tpNormal || APriority < tpIdle || APriority > tpTimeCritical)
    return;
  const id_t tid = static_cast<id_t>(CurrentThreadId());
  errno = 0;
  const int current = getpriority(PRIO_PROCESS, tid);
  if (current == -1 && errno != 0)
    return;
  const int wanted = APriority == tpIdle ? 19 : std::clamp(current + offsets[APriority], -20, 19);
  setpriority(PRIO_PROCESS, tid, wanted); // refused: the thread keeps its priority
}

int TFFmpegThread::Start() {
  if (FStarted.exchange(true))
    return 0;
  std::promise<int> started;
  std::future<int> threadId = started.get_future();
  try {
    std::thread([this, started = std::move(started)]() mutable { Execute(started); }).detach();
  } catch (const std::system_error &e) {
    TCustomFFmpeg *engine = FEngine;
    {
      std::lock_guard<std::mutex> lock(engine->PauseMutex);
      engine->Thread = nullptr;
    }
    delete this;
    engine->FailRun(std::string(M_("Cannot start the conversion thread: ")) + e.what());
    engine->ThreadLeft();
    return 0;
  }
  return threadId.get();
}

void TFFmpegThread::RunHere() {
  TCustomFFmpeg *engine = FEngine;
  {
    std::lock_guard<std::mutex> lock(engine->PauseMutex);
    engine->Thread = nullptr;
  }
  engine->WorkerStarted(CurrentThreadId());
  engine->RunTranscode();
  delete this;
  engine->ThreadLeft();
}

void TFFmpegThread::Execute(std::promise<int> &AStarted) {
  TCustomFFmpeg *engine = FEngine;
  const int threadId = CurrentThreadId();
  SetCurrentThreadPriority(FPriority);
  engine->WorkerStarted(threadId);
  AStarted.set_value(threadId);
  engine->RunTranscode();
  delete this;
  engine->ThreadLeft();
}

// Every caller that goes on past the claim below is counted in ActiveThreads until it is done
// with the engine, so that the destructor never frees the files under it, whichever thread it
// runs on.
TFFmpegThread *TCustomFFmpeg::Run(bool AThreaded, TThreadPriority APriority) {
  const char *failure = nullptr;
  {
    std::lock_guard<std::mutex> lock(PauseMutex);
    if (Running || Terminated)
      return nullptr;
    if (OutputFileCount == 0)
      failure = M_("Must supply at least one output file");
    else if (InputFileCount == 0)
      failure = M_("Must supply at least one input file");
    // Claimed under the lock: a Stop from another thread sees a running or a terminated
    // engine, never an idle one about to run (which would terminate it a second time).
    if (failure) {
      Terminated = true;
    } else {
      Running = true;
      StopRequested = false;
      Finished = false;
      Paused = false;
      PausedTime = 0;
    }
    ++ActiveThreads;
  }
  if (failure) {
    FailRun(failure);
    ThreadLeft();
    return nullptr;
  }
  if (!AThreaded) {
    RunTranscode();
    ThreadLeft();
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(PauseMutex);
  Thread = new TFFmpegThread(this, APriority);
  return Thread;
}

void TCustomFFmpeg::FailRun(const std::string &AMessage) {
  FreeFiles();
  Log(-1, AMessage);
  ExceptionRaised = true;
  ExceptionMessage = AMessage;
  FinishRun();
}

void TCustomFFmpeg::RunTranscode() {
  Finished = false;
  try {
    Transcode();
  } catch (const std::exception &e) {
    Log(-1, e.what());
    ExceptionMessage = e.what();
    ExceptionRaised = true;
  }
  // Transcode closes what it opened on every path; this catches anything it could not.
  CloseOpenedCodecs();
  FreeFiles();
  FinishRun();
}

void TCustomFFmpeg::FinishRun() {
  {
    std::lock_guard<std::mutex> lock(PauseMutex);
    Thread = nullptr;
    Terminated = true;
    Running = false;
  }
  if (OnTerminate) {
    try {
      OnTerminate(this);
    } catch (...) {
      // The handler's failure is its own: it must not end the thread, and with it the process.
    }
  }
}

void TCustomFFmpeg::Stop() {
  {
    std::lock_guard<std::mutex> lock(PauseMutex);
    if (Running) {
      StopRequested = true;
      Paused = false;
      PauseCondition.notify_all();
      return;
    }
    if (Terminated)
      return;
    // Never ran: it still reports its end once, from another thread.
    Terminated = true;
    ++ActiveThreads;
  }
  try {
    std::thread([this] {
      FinishRun();
      ThreadLeft();
    }).detach();
  } catch (const std::system_error &) {
    FinishRun(); // no thread to be had: the end is reported here, still once
    ThreadLeft();
  }
}

bool TCustomFFmpeg::Abandon() {
  std::lock_guard<std::mutex> lock(PauseMutex);
  if (Running)
    StopRequested = true;
  else
    Terminated = true;
  Paused = false;
  PauseCondition.notify_all();
  return ActiveThreads == 0;
}

void TCustomFFmpeg::ThreadLeft() {
  std::lock_guard<std::mutex> lock(PauseMutex);
  --ActiveThreads;
  PauseCondition.notify_all();
}

void TCustomFFmpeg::Pause() {
  std::lock_guard<std::mutex> lock(PauseMutex);
  if (Thread && Running)
    Paused = true;
}

void TCustomFFmpeg::Resume() {
  std::lock_guard<std::mutex> lock(PauseMutex);
  if (Paused) {
    Paused = false;
    PauseCondition.notify_all();
  }
}

void TCustomFFmpeg::CheckPause() {
  std::unique_lock<std::mutex> lock(PauseMutex);
  if (!Paused || StopRequested)
    return;
  const auto pausedAt = std::chrono::steady_clock::now();
  PauseCondition.wait(lock, [this] { return !Paused || StopRequested; });
  PausedTime += std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::steady_clock::now() - pausedAt)
                    .count();
}

bool TCustomFFmpeg::PausableSleep(int64_t AMicroseconds) {
  std::unique_lock<std::mutex> lock(PauseMutex);
  PauseCondition.wait_for(lock, std::chrono::microseconds(AMicroseconds),
                          [this] { return Paused || StopRequested; });
  return !Paused && !StopRequested;
}

// Stops a running job and waits for every thread that still works on it, however long its
// trailer takes: the files must not be freed under it. A converter never waits here on its
// caller's thread; it hands such engines to a thread of its own.
void TCustomFFmpeg::StopAndWait() {
  std::unique_lock<std::mutex> lock(PauseMutex);
  if (Thread && !Thread->Started()) {
    // Handed out by Run but never started: it will never run, so end the run here.
    delete Thread;
    Thread = nullptr;
    --ActiveThreads;
    Running = false;
    Terminated = true;
  }
  lock.unlock();
  Abandon();
  lock.lock();
  PauseCondition.wait(lock, [this] { return ActiveThreads == 0; });
}
