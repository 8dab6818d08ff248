#include "cli/batch.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "app/i18n.h"
#include "app/profiles.h"

namespace {

// The view's state of a job: one being loaded has not started yet.
TJobState ViewState(TConversionState AState) {
  switch (AState) {
  case TConversionState::csWaiting:
  case TConversionState::csLoading:
    return TJobState::jsWaiting;
  case TConversionState::csConverting:
  case TConversionState::csPaused:
    return TJobState::jsConverting;
  case TConversionState::csFinished:
    return TJobState::jsFinished;
  case TConversionState::csFailed:
    return TJobState::jsFailed;
  case TConversionState::csStopped:
    break;
  }
  return TJobState::jsStopped;
}

// A failure's reason without the input's name, which the file's line shows already.
std::string FailureText(const TConversionJob &AJob) {
  std::string reason = AJob.Message;
  if (reason.rfind(AJob.InputFile + ": ", 0) == 0)
    reason.erase(0, AJob.InputFile.size() + 2);
  return reason +
         (AJob.Outcome.OutputRemoved ? std::string(" ") + _("(incomplete output removed)") : "");
}

} // namespace

TBatch::TBatch(const TBatchSettings &ASettings, const std::vector<std::string> &AFiles,
               TProgressView &AView)
    : FSettings(ASettings), FFiles(AFiles), FView(AView) {
  FSettings.Jobs = std::max(1, FSettings.Jobs);
  for (const std::string &file : AFiles) {
    TJobStatus status;
    status.InputFile = file;
    FStatus.push_back(status);
  }
}

// Conversions still running here (an exception left Run early) are stopped and waited for by
// the queue, before the status they report into goes.
TBatch::~TBatch() { FQueue.reset(); }

void TBatch::Post(const TEvent &AEvent) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FEvents.push_back(AEvent);
  }
  FChanged.notify_one();
}

void TBatch::RequestStop(int ASignal) {
  TEvent event;
  event.Signal = ASignal;
  Post(event);
}

size_t TBatch::FinishedCount() const {
  return static_cast<size_t>(std::count_if(FStatus.begin(), FStatus.end(), [](const auto &AJob) {
    return AJob.State == TJobState::jsFinished;
  }));
}

void TBatch::Run() {
  TQueueSettings settings;
  settings.Policy.GoOnAfterFailure = true;
  settings.Policy.Jobs = FSettings.Jobs;
  settings.LibraryPath = FSettings.LibraryPath;
  settings.AVCFolder = AVCFolder;
  settings.MPEG4Folder = MPEG4Folder;
  FQueue = std::make_unique<TConversionQueue>(settings, [this](const TQueueEvent &AEvent) {
    TEvent event;
    event.Queue = AEvent;
    Post(event);
  });
  for (const std::string &file : FFiles)
    FIds.push_back(FQueue->Add(file, FSettings.ProfileIndex, FSettings.Content));
  FQueue->Start();
  for (bool running = true; running;) {
    std::deque<TEvent> events;
    {
      std::unique_lock<std::mutex> lock(FMutex);
      FChanged.wait_for(lock, std::chrono::milliseconds(250), [this] { return !FEvents.empty(); });
      events.swap(FEvents);
    }
    for (const TEvent &event : events)
      running = Handle(event) && running;
    FView.Tick(FStatus);
  }
  for (TJobStatus &status : FStatus)
    if (status.State == TJobState::jsWaiting) {
      status.State = TJobState::jsStopped;
      status.Message = _("not started");
    }
  FView.Finish(FStatus);
}

bool TBatch::Handle(const TEvent &AEvent) {
  if (AEvent.Signal != 0) {
    if (!FStopping) {
      FStopping = true;
      FView.Message(
          FStatus,
          std::string("korvelo-convert: ") +
              FormatText(_("%s: stopping the running conversions"), strsignal(AEvent.Signal)),
          true);
      FQueue->Stop();
    }
    return true;
  }
  const TQueueEvent &event = AEvent.Queue;
  if (event.Kind == TQueueEventKind::qeBatchEnded)
    return false;
  const auto at = std::find(FIds.begin(), FIds.end(), event.JobId);
  TConversionJob job;
  if (at != FIds.end() && FQueue->Job(event.JobId, job))
    Show(static_cast<size_t>(at - FIds.begin()), job, event.Kind == TQueueEventKind::qeProgress);
  return true;
}

void TBatch::Show(size_t AIndex, const TConversionJob &AJob, bool AProgress) {
  TJobStatus &status = FStatus[AIndex];
  const TJobState state = ViewState(AJob.State);
  const bool changed = state != status.State;
  // The name stays shown after a failed output has been removed.
  if (!AJob.OutputFile.empty())
    status.OutputFile = AJob.OutputFile;
  status.State = state;
  status.DurationMs = AJob.DurationMs;
  status.CurrentMs = AJob.CurrentMs;
  status.Fps = AJob.Fps;
  status.Size = AJob.Size;
  status.Message = state == TJobState::jsFailed ? FailureText(AJob) : AJob.Message;
  if (changed)
    FView.JobChanged(FStatus, AIndex);
  else if (AProgress && state == TJobState::jsConverting)
    FView.JobProgress(FStatus, AIndex);
}
