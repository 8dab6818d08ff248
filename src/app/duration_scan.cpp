#include "app/duration_scan.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <exception>

#include "probe/av_probe.h"

namespace {

// The scan yields to the window's thread when both want a core.
constexpr int ScanNice = 5;

} // namespace

TDurationScan::TDurationScan(std::string ACacheFile, TResultFunction AOnResult,
                             TDurationReader AReader)
    : FOnResult(std::move(AOnResult)), FReader(std::move(AReader)), FCache(std::move(ACacheFile)) {
  if (!FReader) {
    FProbe = std::make_unique<TAVProbe>();
    FReader = ProbeDurationReader(*FProbe);
  }
}

TDurationScan::~TDurationScan() {
  {
    const std::lock_guard<std::mutex> lock(FMutex);
    FStopping = true;
    FJobs.clear();
  }
  FWake.notify_all();
  if (FWorker.joinable())
    FWorker.join();
  SaveCache();
}

uint64_t TDurationScan::Start(std::vector<TConvertedFile> &AFiles) {
  std::vector<TFileStamp> stamps(AFiles.size());
  std::vector<bool> stamped(AFiles.size());
  for (size_t i = 0; i < AFiles.size(); ++i)
    stamped[i] = ReadFileStamp(AFiles[i].Path, stamps[i]);
  uint64_t scan;
  bool queued;
  {
    const std::lock_guard<std::mutex> lock(FMutex);
    if (!FCacheLoaded) {
      FCache.Load();
      FCacheLoaded = true;
    }
    scan = ++FScan;
    FJobs.clear();
    for (size_t i = 0; i < AFiles.size(); ++i) {
      AFiles[i].DurationRead =
          stamped[i] && FCache.Find(AFiles[i].Path, stamps[i], AFiles[i].DurationUs);
      if (!AFiles[i].DurationRead)
        FJobs.push_back({scan, AFiles[i].Path});
    }
    queued = !FJobs.empty();
  }
  if (queued) {
    if (!FWorker.joinable())
      FWorker = std::thread([this] { Work(); });
    FWake.notify_one();
  }
  return scan;
}

size_t TDurationScan::Pending() const {
  const std::lock_guard<std::mutex> lock(FMutex);
  return FJobs.size();
}

void TDurationScan::Work() {
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), ScanNice);
  for (;;) {
    TJob job;
    {
      std::unique_lock<std::mutex> lock(FMutex);
      FWake.wait(lock, [this] { return FStopping || !FJobs.empty(); });
      if (FStopping)
        return;
      job = std::move(FJobs.front());
      FJobs.pop_front();
    }
    TResult result;
    result.Scan = job.Scan;
    result.Path = job.Path;
    // Stamped before it is read: a file changed meanwhile is read again next time.
    TFileStamp stamp;
    try {
      result.OK = ReadFileStamp(job.Path, stamp) && FReader(job.Path, result.DurationUs);
    } catch (const std::exception &) {
      result.OK = false;
    }
    bool idle;
    {
      const std::lock_guard<std::mutex> lock(FMutex);
      // A file that cannot be read now may be read later (the libraries may come): not kept.
      if (result.OK)
        FCache.Store(job.Path, stamp, result.DurationUs);
      idle = FJobs.empty();
    }
    FOnResult(result);
    if (idle)
      SaveCache();
  }
}

// Under the lock: a few milliseconds at the end of a scan, when nothing else waits for it.
void TDurationScan::SaveCache() {
  const std::lock_guard<std::mutex> lock(FMutex);
  if (FCache.Changed())
    FCache.Save();
}
