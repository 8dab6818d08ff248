#include "ui/file_loader.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <algorithm>
#include <exception>

#include "app/thumbnail.h"
#include "converter/av_converter.h"

namespace {

// Two loads at once keep both cores busy; more would only queue on them.
constexpr int MaxWorkers = 2;
// A delivery hands over panels for at most this long before the window's other events get
// their turn.
constexpr int DeliverySliceMs = 30;
// The loaders yield to the window's thread when both want a core: a click is answered first.
constexpr int LoaderNice = 5;

} // namespace

TFileLoader::TFileLoader(TDelivery ADeliver, QObject *AParent)
    : QObject(AParent), FDeliver(std::move(ADeliver)) {}

TFileLoader::~TFileLoader() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FStopping = true;
    FJobs.clear();
  }
  FWake.notify_all();
  for (std::thread &worker : FWorkers)
    worker.join();
  // Loaded and never shown: nothing will write their outputs.
  for (auto &done : FDone)
    ReleaseOutputClaim(done.second.Loaded);
}

uint64_t TFileLoader::Add(const std::string &AFileName, int AProfileIndex,
                          const std::string &ALibraryPath, const std::string &AAVCFolder,
                          const std::string &AMPEG4Folder, int APreviewW, int APreviewH,
                          const TContentChoice &AChoice) {
  const uint64_t serial = FNextSerial;
  FPendingNames.emplace(serial, TRememberedJob{AFileName, AProfileIndex, AChoice});
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FJobs.push_back({FNextSerial++, AFileName, ALibraryPath, AAVCFolder, AMPEG4Folder,
                     AProfileIndex, APreviewW, APreviewH, AChoice});
  }
  FWake.notify_one();
  const int wanted = std::min<int>(MaxWorkers, std::max(1, TCustomAVConverter::CoreCount()));
  if (static_cast<int>(FWorkers.size()) < wanted)
    FWorkers.emplace_back([this] { Work(); });
  return serial;
}

int TFileLoader::Pending() const {
  return static_cast<int>(FNextSerial - std::max(FNextDelivery, FCancelledBelow));
}

std::vector<TRememberedJob> TFileLoader::PendingFiles() const {
  std::vector<TRememberedJob> files;
  for (const auto &pending : FPendingNames)
    files.push_back(pending.second);
  return files;
}

void TFileLoader::Cancel() {
  FPendingNames.clear();
  std::lock_guard<std::mutex> lock(FMutex);
  FCancelledBelow = FNextSerial;
}

void TFileLoader::Work() {
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), LoaderNice);
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
    TFileLoad result;
    result.Serial = job.Serial;
    result.FileName = job.FileName;
    result.AVCFolder = job.AVCFolder;
    result.MPEG4Folder = job.MPEG4Folder;
    bool cancelled;
    {
      std::lock_guard<std::mutex> lock(FMutex);
      cancelled = job.Serial < FCancelledBelow;
    }
    if (!cancelled)
      Load(job, result);
    std::lock_guard<std::mutex> lock(FMutex);
    FDone.emplace(job.Serial, std::move(result));
    if (!FDeliveryPosted && !FStopping) {
      FDeliveryPosted = true;
      QMetaObject::invokeMethod(
          this, [this] { DeliverReady(); }, Qt::QueuedConnection);
    }
  }
}

void TFileLoader::Load(const TJob &AJob, TFileLoad &AResult) {
  try {
    auto converter = std::make_unique<TCustomAVConverter>();
    AResult.Asked = {AJob.FileName, AJob.Profile, AJob.Choice};
    if (!LoadConversion(*converter, AJob.LibraryPath, AJob.FileName, AJob.Profile, AJob.AVCFolder,
                        AJob.MPEG4Folder, AResult.Loaded, AResult.Error, AJob.Choice))
      return;
    TAVProbe &probe = converter->AVProbe();
    // A reload keeps the picture the panel shows.
    if (AJob.PreviewW > 0) {
      try {
        probe.Seek(-1, 0);
        FitOnCanvas(*probe.GetFrameBitmap(-1), AResult.Preview, AJob.PreviewW, AJob.PreviewH,
                    AResult.Loaded.DisplayAspect);
      } catch (const std::exception &) {
        // A stream without a decoder has no preview: the picture stays black.
        FitOnCanvas(TBGRImage(), AResult.Preview, AJob.PreviewW, AJob.PreviewH);
      }
    }
    ParkConversion(*converter);
    AResult.Converter = std::move(converter);
    AResult.OK = true;
  } catch (const std::exception &e) {
    AResult.Error = "***File load error: " + AJob.FileName + ": " + e.what();
    ReleaseOutputClaim(AResult.Loaded);
  }
}

void TFileLoader::DeliverReady() {
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    TFileLoad load;
    uint64_t serial;
    {
      std::lock_guard<std::mutex> lock(FMutex);
      const auto next = FDone.find(FNextDelivery);
      if (next == FDone.end()) {
        FDeliveryPosted = false;
        return;
      }
      if (clock.elapsed() >= DeliverySliceMs) {
        QMetaObject::invokeMethod(
            this, [this] { DeliverReady(); }, Qt::QueuedConnection);
        return;
      }
      serial = next->first;
      load = std::move(next->second);
      FDone.erase(next);
    }
    ++FNextDelivery;
    FPendingNames.erase(serial);
    if (serial < FCancelledBelow) {
      ReleaseOutputClaim(load.Loaded);
      continue;
    }
    FDeliver(load);
  }
}
