// Ctrl-C and termination requests, turned into ordinary calls on a thread of our own: the
// signals are blocked in every thread and collected by sigwait, so no converter code ever runs
// inside a signal handler.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

class TSignalWatcher {
public:
  // Blocks SIGINT, SIGTERM and SIGHUP in the calling thread; threads created afterwards
  // inherit the mask, so call this first thing in main.
  static void BlockSignals();
  // Gives the signals their default effect again, for work that needs no clean stop.
  static void UnblockSignals();

  // AOnSignal runs on the watcher's thread for every SIGINT, SIGTERM or SIGHUP, with the
  // signal number; it must only hand the request over (set a flag, queue an event). With
  // AGraceMs > 0, AOnOverdue runs there too when the watcher still exists AGraceMs after the
  // first signal: the work did not stop in time (blocked in a system call, for example).
  explicit TSignalWatcher(std::function<void(int ASignal)> AOnSignal, int AGraceMs = 0,
                          std::function<void(int ASignal)> AOnOverdue = {});
  ~TSignalWatcher();
  TSignalWatcher(const TSignalWatcher &) = delete;
  TSignalWatcher &operator=(const TSignalWatcher &) = delete;

  // The first signal received, 0 while none.
  int FirstSignal() const { return FFirstSignal.load(); }

private:
  void Watch();
  std::function<void(int)> FOnSignal;
  int FGraceMs = 0;
  std::function<void(int)> FOnOverdue;
  std::atomic<int> FFirstSignal{0};
  std::atomic<bool> FQuit{false};
  std::thread FThread;
};
