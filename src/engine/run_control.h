// The worker threads of an engine run.
#pragma once

#include <atomic>
#include <future>

class TCustomFFmpeg;

// Scheduling priority of a worker thread, from idle to time-critical.
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Gives the calling thread APriority relative to the priority it was started with. A request
// the system refuses (raising without the privilege) leaves the thread as it is.
void SetCurrentThreadPriority(TThreadPriority APriority);

// Runs RunTranscode of its engine on its own thread. Created suspended by Run: nothing happens
// until Start. Frees itself when its body returns.
class TFFmpegThread {
public:
  TFFmpegThread(TCustomFFmpeg *AEngine, TThreadPriority APriority)
      : FEngine(AEngine), FPriority(APriority) {}
  TFFmpegThread(const TFFmpegThread &) = delete;
  TFFmpegThread &operator=(const TFFmpegThread &) = delete;

  // Starts the thread and returns its kernel thread id. A second call does nothing and returns 0.
  // When no thread can be created the run ends at once as a failed run (its termination is
  // raised on the calling thread) and 0 is returned; the object is gone either way.
  int Start();
  bool Started() const { return FStarted.load(); }
  // For a run the caller claims under its own lock and carries out on a thread it already has,
  // after leaving that lock: Claim marks the thread started (the engine waits for it as for any
  // worker), RunHere then runs the body on the calling thread, which keeps its priority and
  // cannot be paused; the object is gone afterwards.
  void Claim() { FStarted = true; }
  void RunHere();

private:
  friend class TCustomFFmpeg;
  ~TFFmpegThread() = default;
  void Execute(std::promise<int> &AStarted);
  TCustomFFmpeg *FEngine;
  TThreadPriority FPriority;
  std::atomic<bool> FStarted{false};
};
