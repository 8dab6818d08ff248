#include "engine/run_control.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "engine/custom_ffmpeg.h"
#include "medialib/medialib.h"

namespace {

int CurrentThreadId() { return static_cast<int>(syscall(SYS_gettid)); }

} // namespace

int TFFmpegThread::Start() {
  if (FStarted.exchange(true))
    return 0;
  std::promise<int> started;
  std::future<int> threadId = started.get_future();
  std::thread([this, started = std::move(started)]() mutable {
    TCustomFFmpeg *engine = FEngine;
    const int threadId = CurrentThreadId();
    engine->WorkerStarted(threadId);
    started.set_value(threadId);
    engine->RunTranscode();
    delete this;
    engine->ThreadLeft();
  }).detach();
  return threadId.get();
}

TFFmpegThread *TCustomFFmpeg::Run(bool AThreaded) {
  if (Running || Terminated)
    return nullptr;
  const char *failure = nullptr;
  if (OutputFileCount == 0)
    failure = "Must supply at least one output file";
  else if (InputFileCount == 0)
    failure = "Must supply at least one input file";
  if (failure) {
    FreeFiles();
    Log(-1, failure);
    ExceptionRaised = true;
    ExceptionMessage = failure;
    FinishRun();
    return nullptr;
  }
  Running = true;
  StopRequested = false;
  Finished = false;
  Terminated = false;
  if (!AThreaded) {
    RunTranscode();
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(PauseMutex);
    ++ActiveThreads;
    Paused = false;
  }
  std::lock_guard<std::mutex> lock(PauseMutex);
  Thread = new TFFmpegThread(this);
  return Thread;
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
  }
  Running = false;
  Terminated = true;
  if (OnTerminate)
    OnTerminate(this);
}

void TCustomFFmpeg::Stop() {
  if (Running) {
    StopRequested = true;
    std::lock_guard<std::mutex> lock(PauseMutex);
    Paused = false;
    PauseCondition.notify_all();
  } else if (!Terminated) {
    StartTerminateThread();
  }
}

// An engine that never ran still reports its end once, from another thread.
void TCustomFFmpeg::StartTerminateThread() {
  {
    std::lock_guard<std::mutex> lock(PauseMutex);
    ++ActiveThreads;
  }
  Terminated = true; // a second Stop before the thread runs must not start another one
  std::thread([this] {
    FinishRun();
    ThreadLeft();
  }).detach();
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
  PauseCondition.wait(lock, [this] { return !Paused || StopRequested; });
}

// Stops a running job and waits for its threads. The wait is meant to be short (the loop sees
// the stop at its next pass); it goes on past one second rather than free the files under a
// worker that is still writing its trailer.
void TCustomFFmpeg::StopAndWait() {
  std::unique_lock<std::mutex> lock(PauseMutex);
  if (Thread && !Thread->Started()) {
    // Handed out by Run but never started: it will never run, so end the run here.
    delete Thread;
    Thread = nullptr;
    --ActiveThreads;
    Running = false;
    Terminated = true;
    return;
  }
  if (Running)
    StopRequested = true;
  Paused = false;
  PauseCondition.notify_all();
  if (!PauseCondition.wait_for(lock, std::chrono::seconds(1), [this] { return ActiveThreads == 0; }))
    PauseCondition.wait(lock, [this] { return ActiveThreads == 0; });
}
