#include "cli/batch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "app/conversion_load.h"
#include "app/conversion_outcome.h"
#include "app/profiles.h"
#include "converter/av_converter.h"

namespace {

// How often the engines report progress: often enough for a live display.
constexpr int ProgressIntervalMs = 250;

int64_t FileSize(const std::string &APath) {
  struct stat st {};
  return ::stat(APath.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

} // namespace

// One file of the batch, with the converter that converts it while it runs.
struct TBatch::TJob {
  std::unique_ptr<TCustomAVConverter> Converter;
  int Threads = 0;          // the engine's share of the cores while it converts
  TLoadedConversion Loaded; // what the load found; its output was created by this batch
  TLibraryErrors Errors;    // the media libraries' error lines from the file's task
  TTaskEnd TaskEnd;
};

TBatch::TBatch(const TBatchSettings &ASettings, const std::vector<std::string> &AFiles,
               TProgressView &AView)
    : FSettings(ASettings), FView(AView) {
  if (FSettings.Jobs < 1)
    FSettings.Jobs = 1;
  for (const std::string &file : AFiles) {
    TJobStatus status;
    status.InputFile = file;
    FStatus.push_back(status);
    FJobs.push_back(std::make_unique<TJob>());
  }
}

// Converters still running here (an exception left Run early) are stopped and waited for by
// their destructors, before the status they report into goes.
TBatch::~TBatch() {
  for (auto &job : FJobs)
    job->Converter.reset();
}

void TBatch::Post(TEvent AEvent) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FEvents.push_back(std::move(AEvent));
  }
  FChanged.notify_one();
}

void TBatch::RequestStop(int ASignal) {
  TEvent event{};
  event.Kind = TEvent::ekStop;
  event.Signal = ASignal;
  Post(std::move(event));
}

size_t TBatch::FinishedCount() const {
  size_t n = 0;
  for (const TJobStatus &job : FStatus)
    n += job.State == TJobState::jsFinished;
  return n;
}

void TBatch::Run() {
  size_t next = 0;
  for (;;) {
    while (!FStopping && FActive < static_cast<size_t>(FSettings.Jobs) && next < FJobs.size()) {
      StartJob(next++);
      // A stop request that came while the file was being opened is seen before the next one.
      std::deque<TEvent> events;
      {
        std::lock_guard<std::mutex> lock(FMutex);
        events.swap(FEvents);
      }
      for (const TEvent &event : events)
        Handle(event);
    }
    if (FActive == 0 && (FStopping || next >= FJobs.size()))
      break;
    std::deque<TEvent> events;
    {
      std::unique_lock<std::mutex> lock(FMutex);
      FChanged.wait_for(lock, std::chrono::milliseconds(250), [this] { return !FEvents.empty(); });
      events.swap(FEvents);
    }
    for (const TEvent &event : events)
      Handle(event);
    FView.Tick(FStatus);
  }
  for (size_t i = next; i < FStatus.size(); ++i) {
    FStatus[i].State = TJobState::jsStopped;
    FStatus[i].Message = "not started";
  }
  FView.Finish(FStatus);
}

void TBatch::StartJob(size_t AIndex) {
  std::string error;
  bool ok = false;
  try {
    ok = SetUpJob(AIndex, error);
  } catch (const std::exception &e) {
    error = e.what();
  }
  if (!ok) {
    FailJob(AIndex, error);
    return;
  }
  // The cores the running jobs leave, shared with the jobs that start beside this one; a job
  // keeps its share until it ends, so the last files get what the others leave.
  int free = TCustomAVConverter::CoreCount();
  for (size_t i = 0; i < FJobs.size(); ++i)
    if (FStatus[i].State == TJobState::jsConverting)
      free -= FJobs[i]->Threads;
  const size_t starting =
      std::min(static_cast<size_t>(FSettings.Jobs) - FActive, FJobs.size() - AIndex);
  TJob &job = *FJobs[AIndex];
  job.Threads = std::max(1, free / static_cast<int>(std::max<size_t>(starting, 1)));
  job.Converter->EngineThreadCount = job.Threads;
  FStatus[AIndex].State = TJobState::jsConverting;
  ++FActive;
  FView.JobChanged(FStatus, AIndex);
  job.Converter->StartConvert(1);
}

// Loads the file as a conversion panel does, with the same messages for the same failures.
bool TBatch::SetUpJob(size_t AIndex, std::string &AError) {
  TJob &job = *FJobs[AIndex];
  TJobStatus &status = FStatus[AIndex];
  job.Converter = std::make_unique<TCustomAVConverter>();
  TCustomAVConverter &converter = *job.Converter;
  converter.SetProgressInterval(ProgressIntervalMs);
  TLoadedConversion loaded;
  const bool ok = LoadConversion(converter, FSettings.LibraryPath, status.InputFile,
                                 FSettings.ProfileIndex, loaded, AError, FSettings.Content);
  status.OutputFile = loaded.OutputFileName;
  job.Loaded = loaded;
  if (!ok)
    return false;
  status.DurationMs = loaded.OutputDurationUs >= 0 ? loaded.OutputDurationUs / 1000 : -1;

  converter.OnProgress = [this, AIndex](int, int, int AFPS, int ACurrentDuration, float, float,
                                        int64_t ACurrentSize, int ATotalOutputDuration) {
    TEvent event{};
    event.Kind = TEvent::ekProgress;
    event.Job = AIndex;
    event.CurrentMs = ACurrentDuration;
    event.TotalMs = ATotalOutputDuration;
    event.Fps = AFPS;
    event.Size = ACurrentSize;
    Post(std::move(event));
  };
  // The libraries often say why a run failed better than the engine's own message does.
  TLibraryErrors &errors = job.Errors;
  converter.SetOnLog([&errors](int ATaskIndex, TLogLevel ALogLevel, const std::string &AMsg) {
    if (ALogLevel == llError)
      errors.Add(AMsg, ATaskIndex >= 0);
  });
  converter.OnTerminate = [this, AIndex](int ATaskIndex, bool AFinished, bool AException,
                                         const std::string &AMessage) {
    TEvent event{};
    event.Kind = ATaskIndex < 0 ? TEvent::ekConverterEnd : TEvent::ekTaskEnd;
    event.Job = AIndex;
    event.Finished = AFinished;
    event.Exception = AException;
    event.Message = AMessage;
    Post(std::move(event));
  };
  return true;
}

void TBatch::Handle(const TEvent &AEvent) {
  switch (AEvent.Kind) {
  case TEvent::ekStop:
    if (!FStopping) {
      FStopping = true;
      FView.Message(FStatus,
                    std::string("korvelo-convert: ") + strsignal(AEvent.Signal) +
                        ": stopping the running conversions",
                    true);
      Stop();
    }
    break;
  case TEvent::ekProgress: {
    TJobStatus &status = FStatus[AEvent.Job];
    if (status.State != TJobState::jsConverting)
      break;
    // A time the engine could not measure comes as a negative or absurd value: keep the last.
    if (AEvent.CurrentMs >= 0 &&
        (status.DurationMs <= 0 || AEvent.CurrentMs <= 2 * status.DurationMs))
      status.CurrentMs = AEvent.CurrentMs;
    if (AEvent.TotalMs > 0)
      status.DurationMs = AEvent.TotalMs;
    status.Fps = AEvent.Fps;
    status.Size = AEvent.Size;
    FView.JobProgress(FStatus, AEvent.Job);
    break;
  }
  case TEvent::ekTaskEnd: {
    TTaskEnd &end = FJobs[AEvent.Job]->TaskEnd;
    end.Ended = true;
    end.Finished = AEvent.Finished;
    end.Exception = AEvent.Exception;
    end.Message = AEvent.Message;
    break;
  }
  case TEvent::ekConverterEnd:
    EndJob(AEvent.Job);
    break;
  }
}

void TBatch::Stop() {
  for (size_t i = 0; i < FJobs.size(); ++i)
    if (FStatus[i].State == TJobState::jsConverting && FJobs[i]->Converter)
      FJobs[i]->Converter->StopConvert();
}

// The file's converter has ended: its outcome (thumbnail, removal and notes included) as the
// window's panel gets it, and the converter (with its worker) released.
void TBatch::EndJob(size_t AIndex) {
  TJob &job = *FJobs[AIndex];
  TJobStatus &status = FStatus[AIndex];
  if (status.State != TJobState::jsConverting)
    return;
  --FActive;
  // The converter's workers have ended: its probe is free for the thumbnail.
  const TConversionOutcome outcome =
      ConcludeConversion(*job.Converter, status.InputFile, job.Loaded, job.TaskEnd,
                         status.CurrentMs, status.DurationMs, job.Errors);
  job.Converter.reset();
  switch (outcome.Kind) {
  case TOutcomeKind::okFinished:
    status.State = TJobState::jsFinished;
    status.Size = FileSize(status.OutputFile);
    status.Message = outcome.Notes();
    if (status.DurationMs > 0)
      status.CurrentMs = status.DurationMs;
    break;
  case TOutcomeKind::okFailed: {
    status.State = TJobState::jsFailed;
    // The file's line names it already.
    std::string reason = outcome.Reason;
    if (reason.rfind(status.InputFile + ": ", 0) == 0)
      reason.erase(0, status.InputFile.size() + 2);
    status.Message = reason + (outcome.OutputRemoved ? " (incomplete output removed)" : "");
    break;
  }
  case TOutcomeKind::okStopped:
    status.State = TJobState::jsStopped;
    status.Size = FileSize(status.OutputFile);
    status.Message = outcome.Reason;
    break;
  }
  FView.JobChanged(FStatus, AIndex);
}

void TBatch::FailJob(size_t AIndex, const std::string &AMessage) {
  TJob &job = *FJobs[AIndex];
  TJobStatus &status = FStatus[AIndex];
  job.Converter.reset();
  status.State = TJobState::jsFailed;
  status.Message = AMessage;
  if (job.Loaded.OutputCreated && ::unlink(status.OutputFile.c_str()) == 0)
    job.Loaded.OutputCreated = false;
  FView.JobChanged(FStatus, AIndex);
}
