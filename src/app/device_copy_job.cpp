#include "app/device_copy_job.h"

#include <chrono>

#include "app/psp_stick.h"

TDeviceCopyJob::~TDeviceCopyJob() {
  Cancel();
  Wait();
}

void TDeviceCopyJob::Wait() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id())
    FThread.join();
}

bool TDeviceCopyJob::Start(const std::string &ADeviceFolder, std::vector<TCopySource> ASelected,
                           const std::string &ADeviceDrive) {
  if (FRunning)
    return false;
  Wait(); // the previous copy's thread has ended: collect it
  FCancel = false;
  FRunning = true;
  FThread = std::thread(
      [this, device = ADeviceFolder, selected = std::move(ASelected), drive = ADeviceDrive] {
        using Clock = std::chrono::steady_clock;
        Clock::time_point last{};
        size_t lastFile = static_cast<size_t>(-1);
        auto progress = [&](const TCopyProgress &AProgress) {
          if (FCancel)
            return false;
          const Clock::time_point now = Clock::now();
          if (OnProgress && (AProgress.FileIndex != lastFile ||
                             now - last >= std::chrono::milliseconds(ProgressInterval))) {
            lastFile = AProgress.FileIndex;
            last = now;
            OnProgress(AProgress);
          }
          return !FCancel;
        };
        // Twins already on the stick and files too big for its FAT are named and left out first.
        const TStickCopyPlan plan = PlanStickCopy(device, selected);
        TCopyResult result;
        if (selected.empty() || !plan.Kept.empty())
          result = CopyToDevice(device, plan.Kept, progress, {}, drive);
        result.Messages.insert(result.Messages.begin(), plan.Messages.begin(), plan.Messages.end());
        FRunning = false;
        if (OnDone)
          OnDone(result);
      });
  return true;
}
