#include "cli/signals.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <chrono>

namespace {

// SIGUSR2 only wakes the watcher when it is to end; it is blocked like the others.
sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR2);
  return set;
}

} // namespace

void TSignalWatcher::BlockSignals() {
  const sigset_t set = WatchedSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void TSignalWatcher::UnblockSignals() {
  const sigset_t set = WatchedSignals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

TSignalWatcher::TSignalWatcher(std::function<void(int)> AOnSignal, int AGraceMs,
                               std::function<void(int)> AOnOverdue)
    : FOnSignal(std::move(AOnSignal)), FGraceMs(AGraceMs), FOnOverdue(std::move(AOnOverdue)) {
  BlockSignals();
  FThread = std::thread([this] { Watch(); });
}

TSignalWatcher::~TSignalWatcher() {
  FQuit = true;
  pthread_kill(FThread.native_handle(), SIGUSR2);
  FThread.join();
}

void TSignalWatcher::Watch() {
  const sigset_t set = WatchedSignals();
  std::chrono::steady_clock::time_point deadline;
  for (;;) {
    int signal = 0;
    if (FFirstSignal.load() != 0 && FGraceMs > 0 && FOnOverdue) {
      const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        FOnOverdue(FFirstSignal.load());
        FGraceMs = 0; // said once
        continue;
      }
      const timespec wait = {static_cast<time_t>(left.count() / 1000000000),
                             static_cast<long>(left.count() % 1000000000)};
      signal = sigtimedwait(&set, nullptr, &wait);
      if (signal < 0)
        continue; // the time is up (EAGAIN) or an interruption: the deadline is checked again
    } else if (sigwait(&set, &signal) != 0) {
      continue;
    }
    if (signal == SIGUSR2) {
      if (FQuit)
        return;
      continue;
    }
    int none = 0;
    if (FFirstSignal.compare_exchange_strong(none, signal))
      deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FGraceMs);
    if (FOnSignal)
      FOnSignal(signal);
  }
}
