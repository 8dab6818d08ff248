#include "cli/batch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "app/conversion_load.h"
#include "app/profiles.h"
#include "app/thumbnail.h"
#include "app/window_rules.h"
#include "converter/av_converter.h"

namespace {

// How often the engines report progress: often enough for a live display.
constexpr int ProgressIntervalMs = 250;
// The largest picture the probe delivers for a thumbnail: ample for 160x120.
constexpr int ThumbnailPictureLimit = 1920;

int64_t FileSize(const std::string &APath) {
  struct stat st{};
  return ::stat(APath.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

// A library log line without its "[class @ address] " prefix, the class kept as "class: ".
std::string LibraryErrorText(const std::string &ALine) {
  std::string text = ALine;
  while (!text.empty() && (text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  const size_t at = text.find(" @ ");
  const size_t close = text.find(']');
  if (text.empty() || text[0] != '[' || at == std::string::npos || close == std::string::npos ||
      at > close)
    return text;
  size_t start = close + 1;
  while (start < text.size() && text[start] == ' ')
    ++start;
  return text.substr(1, at - 1) + ": " + text.substr(start);
}

} // namespace

// One file of the batch, with the converter that converts it while it runs.
struct TBatch::TJob {
  std::unique_ptr<TCustomAVConverter> Converter;
  int Threads = 0;            // the engine's share of the cores while it converts
  bool OutputOpened = false; // the output file was created by this batch
  double DisplayAspect = 0;  // of the input's picture, for the thumbnail
  bool DurationGuessed = false; // the input's length is only estimated from its bit rate
  std::string LibraryError; // the media libraries' last error line from the file's task
  bool TaskEnded = false;
  bool TaskFinished = false;
  bool TaskException = false;
  std::string TaskMessage;
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
  const size_t starting = std::min(static_cast<size_t>(FSettings.Jobs) - FActive, FJobs.size() - AIndex);
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
  const bool ok =
      LoadConversion(converter, FSettings.LibraryPath, status.InputFile, FSettings.ProfileIndex,
                     loaded, AError);
  status.OutputFile = loaded.OutputFileName;
  job.OutputOpened = loaded.OutputCreated;
  if (!ok)
    return false;
  status.DurationMs = loaded.DurationUs >= 0 ? loaded.DurationUs / 1000 : -1;
  job.DisplayAspect = loaded.DisplayAspect;
  job.DurationGuessed = loaded.DurationGuessed;

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
  converter.SetOnLog([this, AIndex](int ATaskIndex, TLogLevel ALogLevel, const std::string &AMsg) {
    if (ATaskIndex < 0 || ALogLevel != llError)
      return;
    TEvent event{};
    event.Kind = TEvent::ekLog;
    event.Job = AIndex;
    event.Message = AMsg;
    Post(std::move(event));
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
    if (AEvent.CurrentMs >= 0 && (status.DurationMs <= 0 || AEvent.CurrentMs <= 2 * status.DurationMs))
      status.CurrentMs = AEvent.CurrentMs;
    if (AEvent.TotalMs > 0)
      status.DurationMs = AEvent.TotalMs;
    status.Fps = AEvent.Fps;
    status.Size = AEvent.Size;
    FView.JobProgress(FStatus, AEvent.Job);
    break;
  }
  case TEvent::ekLog:
    FJobs[AEvent.Job]->LibraryError = LibraryErrorText(AEvent.Message);
    break;
  case TEvent::ekTaskEnd: {
    TJob &job = *FJobs[AEvent.Job];
    job.TaskEnded = true;
    job.TaskFinished = AEvent.Finished;
    job.TaskException = AEvent.Exception;
    job.TaskMessage = AEvent.Message;
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

// The file's converter has ended: the outcome, the thumbnail of a finished file, and the
// converter (with its worker) released.
void TBatch::EndJob(size_t AIndex) {
  TJob &job = *FJobs[AIndex];
  TJobStatus &status = FStatus[AIndex];
  if (status.State != TJobState::jsConverting)
    return;
  --FActive;
  if (job.TaskEnded && job.TaskFinished && !job.TaskException) {
    status.State = TJobState::jsFinished;
    status.Size = FileSize(status.OutputFile);
    // The engine takes a read error for the end of the file: a cut or damaged input "finishes"
    // short of the length it states, which the person must hear of.
    if (!job.DurationGuessed && EndedShort(status.CurrentMs, status.DurationMs))
      status.Message = "the input ended at " + FormatDuration(status.CurrentMs) + " of the " +
                       FormatDuration(status.DurationMs) +
                       " it states: it may be cut short or damaged";
    if (status.DurationMs > 0)
      status.CurrentMs = status.DurationMs;
    // The picture of the input's first frame, as the panel takes it: its probe has not moved
    // since the file was loaded.
    // The video is complete without its thumbnail: converted, with a warning.
    std::string error;
    bool written = false;
    try {
      // The thumbnail is 160x120: a huge picture is fitted by the scaler, not held whole.
      job.Converter->AVProbe().SetPictureLimit(ThumbnailPictureLimit, ThumbnailPictureLimit);
      TBGRImage *picture = job.Converter->AVProbe().GetFrameBitmap(-1);
      written = MakeThumbnail(*picture, status.OutputFile, error, job.DisplayAspect);
    } catch (const std::exception &e) {
      error = e.what();
    }
    if (!written)
      status.Message +=
          std::string(status.Message.empty() ? "" : "; ") + "thumbnail not written: " + error;
  } else if (job.TaskException || !job.TaskEnded) {
    status.State = TJobState::jsFailed;
    status.Message = job.TaskMessage.empty() ? "conversion failed" : job.TaskMessage;
    if (!job.LibraryError.empty() && job.TaskMessage.find(job.LibraryError) == std::string::npos)
      status.Message += " (" + job.LibraryError + ")";
  } else {
    status.State = TJobState::jsStopped;
    status.Size = FileSize(status.OutputFile);
    status.Message = "partial output kept: " + status.OutputFile;
  }
  job.Converter.reset();
  // A failed conversion leaves no broken file behind that the device library would list and
  // copy; the name was free before this batch took it.
  if (status.State == TJobState::jsFailed && job.OutputOpened && !job.TaskFinished) {
    if (::unlink(status.OutputFile.c_str()) == 0)
      status.Message += " (incomplete output removed)";
    job.OutputOpened = false;
  }
  FView.JobChanged(FStatus, AIndex);
}

void TBatch::FailJob(size_t AIndex, const std::string &AMessage) {
  TJob &job = *FJobs[AIndex];
  TJobStatus &status = FStatus[AIndex];
  job.Converter.reset();
  status.State = TJobState::jsFailed;
  status.Message = AMessage;
  if (job.OutputOpened && ::unlink(status.OutputFile.c_str()) == 0)
    job.OutputOpened = false;
  FView.JobChanged(FStatus, AIndex);
}
