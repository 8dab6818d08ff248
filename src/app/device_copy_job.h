// The copy onto the memory stick on a thread of its own, so that a window stays responsive
// while a slow stick is written and can offer a Cancel button.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/device_library.h"

class TDeviceCopyJob {
public:
  // Both run on the job's thread: a window posts them to itself and never waits there. Set
  // them before Start and change them only after Wait: a finished copy may still be in OnDone.
  // OnProgress comes at least once per file and at most every ProgressInterval ms within one.
  std::function<void(const TCopyProgress &)> OnProgress;
  std::function<void(const TCopyResult &)> OnDone; // the last call of the job, always made

  static constexpr int ProgressInterval = 100;

  TDeviceCopyJob() = default;
  TDeviceCopyJob(const TDeviceCopyJob &) = delete;
  TDeviceCopyJob &operator=(const TDeviceCopyJob &) = delete;
  // Cancels a running copy and waits for it: its partial file is removed on the way out.
  ~TDeviceCopyJob();

  // Runs CopyToDevice with its checks and messages, after PlanStickCopy has left out the
  // files whose twin is on the stick and those too big for its FAT (their messages first);
  // false when a copy is already running. With ADeviceDrive (the stick's mount point) the copy
  // checks itself that the stick is still mounted there: a question box may have been open
  // while it was pulled out.
  bool Start(const std::string &ADeviceFolder, std::vector<TCopySource> ASelected,
             const std::string &ADeviceDrive = {});
  // The copy stops at its next chunk and reports coFailed; a no-op when nothing runs.
  void Cancel() { FCancel = true; }
  // True from Start until the copy has ended; false already while OnDone runs, so that OnDone
  // may lead to the next Start.
  bool Running() const { return FRunning; }
  void Wait();

private:
  std::thread FThread;
  std::atomic<bool> FCancel{false};
  std::atomic<bool> FRunning{false};
};
