#include "cli/signals.h"

#include <pthread.h>
#include <signal.h>

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

TSignalWatcher::TSignalWatcher(std::function<void(int)> AOnSignal)
    : FOnSignal(std::move(AOnSignal)) {
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
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0)
      continue;
    if (signal == SIGUSR2) {
      if (FQuit)
        return;
      continue;
    }
    int none = 0;
    FFirstSignal.compare_exchange_strong(none, signal);
    if (FOnSignal)
      FOnSignal(signal);
  }
}
