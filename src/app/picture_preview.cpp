#include "app/picture_preview.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "app/thumbnail.h"
#include "probe/av_probe.h"

namespace {

// The probe scales a large picture down to a few times the box before the box filter takes
// it the rest of the way: a 1080p picture is never turned into a full-size bitmap first.
constexpr int PictureLimitPerBox = 4;

} // namespace

struct TPicturePreview::TOpenFile {
  TAVProbe Probe;
  double DisplayAspect = 0;
  TClock::time_point LastUsed;
};

struct TPicturePreview::TCached {
  TPreviewRequest Request;
  TPreviewAnswer Answer;
};

TPicturePreview::TPicturePreview(int ARestMs, size_t ACachedPictures)
    : FRestMs(ARestMs), FCachedPictures(ACachedPictures) {
  FWorker = std::thread([this] { Run(); });
}

TPicturePreview::~TPicturePreview() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FEnding = true;
    FStopDecoding = true;
    FPending.clear();
    FOrder.clear();
  }
  FWake.notify_all();
  FWorker.join();
}

std::shared_ptr<TPicturePreview> TPicturePreview::Shared() {
  static std::mutex lock;
  static std::weak_ptr<TPicturePreview> shared;
  std::lock_guard<std::mutex> guard(lock);
  std::shared_ptr<TPicturePreview> service = shared.lock();
  if (!service) {
    service = std::make_shared<TPicturePreview>();
    shared = service;
  }
  return service;
}

uint64_t TPicturePreview::NewOwner() {
  std::lock_guard<std::mutex> lock(FLock);
  return ++FLastOwner;
}

void TPicturePreview::Request(uint64_t AOwner, const TPreviewRequest &ARequest,
                              TPreviewAnswerEvent AOnAnswer) {
  TPending superseded; // its callback's captures are let go outside the lock
  {
    std::lock_guard<std::mutex> lock(FLock);
    auto found = FPending.find(AOwner);
    if (found != FPending.end()) {
      superseded = std::move(found->second);
      found->second = TPending{ARequest, std::move(AOnAnswer)};
    } else {
      FPending.emplace(AOwner, TPending{ARequest, std::move(AOnAnswer)});
      FOrder.push_back(AOwner);
    }
  }
  FWake.notify_one();
}

void TPicturePreview::Forget(uint64_t AOwner) {
  TPending dropped;
  std::lock_guard<std::mutex> lock(FLock);
  auto found = FPending.find(AOwner);
  if (found == FPending.end())
    return;
  dropped = std::move(found->second);
  FPending.erase(found);
  FOrder.remove(AOwner);
}

int TPicturePreview::OpenFiles() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FOpenCount;
}

void TPicturePreview::Run() {
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    TPending pending;
    if (!NextRequest(lock, pending))
      break;
    lock.unlock();
    Answer(pending);
    pending = TPending();
    lock.lock();
  }
  lock.unlock();
  FFiles.clear();
}

bool TPicturePreview::NextRequest(std::unique_lock<std::mutex> &ALock, TPending &APending) {
  for (;;) {
    if (FEnding)
      return false;
    if (!FOrder.empty()) {
      const uint64_t owner = FOrder.front();
      FOrder.pop_front();
      auto found = FPending.find(owner);
      APending = std::move(found->second);
      FPending.erase(found);
      return true;
    }
    if (FFiles.empty()) {
      FWake.wait(ALock);
      continue;
    }
    TClock::time_point due = TClock::time_point::max();
    for (const auto &file : FFiles)
      due = std::min(due, file.second->LastUsed + std::chrono::milliseconds(FRestMs));
    if (FWake.wait_until(ALock, due) == std::cv_status::timeout) {
      // Closing a file takes the library a moment: the window may ask meanwhile.
      ALock.unlock();
      CloseRestedFiles(TClock::now());
      ALock.lock();
    }
  }
}

void TPicturePreview::CloseRestedFiles(TClock::time_point ANow) {
  for (auto file = FFiles.begin(); file != FFiles.end();) {
    if (ANow - file->second->LastUsed >= std::chrono::milliseconds(FRestMs))
      file = FFiles.erase(file);
    else
      ++file;
  }
  std::lock_guard<std::mutex> lock(FLock);
  FOpenCount = static_cast<int>(FFiles.size());
}

void TPicturePreview::Answer(const TPending &APending) {
  TPreviewAnswer answer;
  answer.RequestedUs = APending.Request.TimeUs;
  if (!FindCached(APending.Request, answer)) {
    Decode(APending.Request, answer);
    if (FStopDecoding) // cut short: its picture is not the one asked for
      return;
    if (answer.Error.empty())
      KeepCached(APending.Request, answer);
  }
  if (APending.OnAnswer)
    APending.OnAnswer(answer);
}

bool TPicturePreview::FindCached(const TPreviewRequest &ARequest, TPreviewAnswer &AAnswer) {
  for (auto cached = FCache.begin(); cached != FCache.end(); ++cached) {
    const TPreviewRequest &known = cached->Request;
    if (known.TimeUs != ARequest.TimeUs || known.BoxWidth != ARequest.BoxWidth ||
        known.BoxHeight != ARequest.BoxHeight || known.FileName != ARequest.FileName)
      continue;
    FCache.splice(FCache.begin(), FCache, cached); // the newest first
    AAnswer = FCache.front().Answer;
    AAnswer.FromCache = true;
    return true;
  }
  return false;
}

void TPicturePreview::KeepCached(const TPreviewRequest &ARequest, const TPreviewAnswer &AAnswer) {
  if (FCachedPictures == 0)
    return;
  FCache.push_front(TCached{ARequest, AAnswer});
  while (FCache.size() > FCachedPictures)
    FCache.pop_back();
}

void TPicturePreview::Decode(const TPreviewRequest &ARequest, TPreviewAnswer &AAnswer) {
  AAnswer.Picture.Resize(std::max(ARequest.BoxWidth, 0), std::max(ARequest.BoxHeight, 0), true);
  std::unique_ptr<TOpenFile> &file = FFiles[ARequest.FileName];
  try {
    if (!file) {
      file = std::make_unique<TOpenFile>();
      file->Probe.SetStopFlag(&FStopDecoding);
      if (!file->Probe.LoadFile(ARequest.FileName)) {
        AAnswer.Error = file->Probe.LastErrorMessage();
        FFiles.erase(ARequest.FileName);
        return;
      }
      TAVVideoInfo video;
      file->Probe.GetVideoInfo(-1, video);
      file->DisplayAspect = video.DisplayAspect > 0 ? video.DisplayAspect : 0;
      std::lock_guard<std::mutex> lock(FLock);
      FOpenCount = static_cast<int>(FFiles.size());
    }
    TAVProbe &probe = file->Probe;
    probe.SetPictureLimit(ARequest.BoxWidth * PictureLimitPerBox,
                          ARequest.BoxHeight * PictureLimitPerBox);
    probe.Seek(-1, ARequest.TimeUs);
    const TBGRImage *picture = probe.GetFrameBitmap(-1);
    AAnswer.PictureUs = probe.PictureTime();
    AAnswer.NextPictureUs = probe.NextPictureTime();
    FitOnCanvas(*picture, AAnswer.Picture, ARequest.BoxWidth, ARequest.BoxHeight,
                file->DisplayAspect);
  } catch (const std::exception &e) {
    // A stream without a decoder has no preview: the picture stays black.
    AAnswer.Error = e.what();
    AAnswer.PictureUs = -1;
    AAnswer.NextPictureUs = -1;
    if (!file->Probe.FileLoaded()) {
      FFiles.erase(ARequest.FileName);
      return;
    }
  }
  file->LastUsed = TClock::now();
}
