// The worker threads of an engine run.
#pragma once

#include <atomic>

class TCustomFFmpeg;

// Runs RunTranscode of its engine on its own thread. Created suspended by Run: nothing happens
// until Start. Frees itself when its body returns.
class TFFmpegThread {
public:
  explicit TFFmpegThread(TCustomFFmpeg *AEngine) : FEngine(AEngine) {}
  TFFmpegThread(const TFFmpegThread &) = delete;
  TFFmpegThread &operator=(const TFFmpegThread &) = delete;

  // Starts the thread and returns its kernel thread id. A second call does nothing and returns 0.
  int Start();
  bool Started() const { return FStarted.load(); }

private:
  friend class TCustomFFmpeg;
  ~TFFmpegThread() = default;
  TCustomFFmpeg *FEngine;
  std::atomic<bool> FStarted{false};
};
