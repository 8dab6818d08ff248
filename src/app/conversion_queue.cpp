#include "app/conversion_queue.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "app/conversion_load.h"
#include "app/thumbnail.h"
#include "app/window_rules.h"
#include "app/i18n.h"
#include "converter/av_converter.h"

namespace {

// Enough of a run's log to tell what went wrong, without a long run growing without bound.
constexpr size_t MaxLogLines = 5000;
// Loads at once when files are added: more would only queue on the cores.
constexpr int MinLoaders = 2, MaxLoaders = 4;
// The loaders yield to the window's thread when both want a core: a click is answered first.
constexpr int LoaderNice = 5;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t FileSize(const std::string &APath) {
  struct stat st {};
  return ::stat(APath.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

bool Busy(TConversionState AState) {
  return AState == TConversionState::csConverting || AState == TConversionState::csPaused ||
         AState == TConversionState::csLoading;
}

} // namespace

namespace {

// The first picture of a loaded file fitted into a box; black when it has none to decode.
TBGRImage FirstPicture(TCustomAVConverter &AConverter, double AAspect, int AWidth, int AHeight) {
  TBGRImage picture;
  try {
    TAVProbe &probe = AConverter.AVProbe();
    probe.Seek(-1, 0);
    FitOnCanvas(*probe.GetFrameBitmap(-1), picture, AWidth, AHeight, AAspect);
  } catch (const std::exception &) {
    FitOnCanvas(TBGRImage(), picture, AWidth, AHeight);
  }
  return picture;
}

} // namespace

std::string ShortReason(const TConversionJob &AJob, const std::string &AMessage) {
  for (const std::string &name : {AJob.InputFile, AJob.Loaded.OutputFileName}) {
    if (name.empty())
      continue;
    const std::string named = name + ": ";
    const size_t at = AMessage.find(named);
    if (at != std::string::npos && at + named.size() < AMessage.size())
      return AMessage.substr(at + named.size());
  }
  return AMessage;
}

bool ProgressTimeUsable(int64_t ACurrentMs, int64_t ADurationMs) {
  return ACurrentMs >= 0 && (ADurationMs <= 0 || ACurrentMs <= 2 * ADurationMs);
}

// A job with what runs it. Only the queue's thread touches the converter and the load; Data is
// written there under FLock and copied under it by the front ends.
struct TConversionQueue::TEntry {
  TConversionJob Data;
  std::vector<std::string> Log; // under FLock
  std::unique_ptr<TCustomAVConverter> Converter;
  TLoadedConversion Loaded;
  bool Parked = false;      // loaded, its name claimed, its files let go until its turn
  bool LoadRefused = false; // its load on add failed: Start does not try it again
  bool Removing = false;    // removed while converting: goes once its converter ends
  bool InBatch = false;     // counts in the batch's time left
  bool InLoader = false;    // its load on add runs on a loader thread
  TLibraryErrors Errors;
  TTaskEnd TaskEnd;
  int Threads = 0;
  int64_t StartedMs = 0, PausedMs = 0, PauseStartMs = -1;

  // Under FLock.
  void Say(std::string ALine) {
    if (Log.size() >= MaxLogLines)
      return;
    Log.push_back(std::move(ALine));
    Data.LogLines = Log.size();
  }
};

// A load handed to a loader thread, with everything it reads copied.
struct TConversionQueue::TLoadTask {
  int Id = 0;
  std::string InputFile;
  int ProfileIndex = 0;
  TContentChoice Content;
  std::string AVCFolder, MPEG4Folder;
};

struct TConversionQueue::TLoadResult {
  bool Ok = false;
  std::string Error;
  std::unique_ptr<TCustomAVConverter> Converter; // parked
  TLoadedConversion Loaded;
  TBGRImage Preview;
};

TConversionQueue::TConversionQueue(TQueueSettings ASettings, TQueueListener AListener)
    : FSettings(std::move(ASettings)), FListener(std::move(AListener)) {
  FSettings.Policy.Jobs = std::max(1, FSettings.Policy.Jobs);
  FThread = std::thread([this] { Run(); });
}

// Running conversions are stopped and concluded as usual (the thread ends once they have), so
// nothing is left half-written; names claimed by jobs that never ran are given back.
TConversionQueue::~TConversionQueue() {
  StopLoaders();
  {
    std::lock_guard<std::mutex> lock(FLock);
    FCommands.emplace_back([this] { DoStop(); });
    FQuit = true;
  }
  FWake.notify_all();
  FThread.join();
  for (auto &entry : FEntries) {
    if (entry->Parked)
      ReleaseOutputClaim(entry->Loaded);
    entry->Converter.reset();
  }
}

void TConversionQueue::Post(TCommand ACommand) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FCommands.push_back(std::move(ACommand));
  }
  FWake.notify_all();
}

void TConversionQueue::Run() {
  for (;;) {
    TCommand command;
    {
      std::unique_lock<std::mutex> lock(FLock);
      FWake.wait(lock, [this] { return !FCommands.empty() || (FQuit && FActive == 0); });
      if (FCommands.empty())
        break;
      command = std::move(FCommands.front());
      FCommands.pop_front();
      FBusy = true;
    }
    command();
    {
      std::lock_guard<std::mutex> lock(FLock);
      FBusy = false;
    }
    FIdle.notify_all();
  }
}

void TConversionQueue::WaitIdle() {
  std::unique_lock<std::mutex> lock(FLock);
  FIdle.wait(lock, [this] {
    return FCommands.empty() && !FBusy && !FBatchRunning && FLoadsInFlight == 0;
  });
}

// Loads not begun are dropped; those under way finish and come back to the queue's thread,
// which gives their claims back when the queue goes.
void TConversionQueue::StopLoaders() {
  std::vector<std::thread> loaders;
  {
    std::lock_guard<std::mutex> lock(FLock);
    FLoadersQuit = true;
    FLoadsInFlight -= static_cast<int>(FLoadTasks.size());
    FLoadTasks.clear();
    loaders.swap(FLoaders); // the queue's thread may be adding one
  }
  FLoadWake.notify_all();
  for (std::thread &loader : loaders)
    loader.join();
}

void TConversionQueue::BeginLoad(TEntry &AEntry) {
  AEntry.InLoader = true;
  Change(AEntry, [](TConversionJob &AJob) { AJob.State = TConversionState::csLoading; });
  const int wanted = std::clamp(TCustomAVConverter::CoreCount(), MinLoaders, MaxLoaders);
  {
    std::lock_guard<std::mutex> lock(FLock);
    FLoadTasks.push_back({AEntry.Data.Id, AEntry.Data.InputFile, AEntry.Data.ProfileIndex,
                          AEntry.Data.Content, FSettings.AVCFolder, FSettings.MPEG4Folder});
    ++FLoadsInFlight;
    if (!FLoadersQuit && static_cast<int>(FLoaders.size()) < wanted)
      FLoaders.emplace_back([this] { RunLoader(); });
  }
  FLoadWake.notify_one();
}

void TConversionQueue::RunLoader() {
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), LoaderNice);
  for (;;) {
    TLoadTask task;
    {
      std::unique_lock<std::mutex> lock(FLock);
      FLoadWake.wait(lock, [this] { return FLoadersQuit || !FLoadTasks.empty(); });
      if (FLoadersQuit)
        return;
      task = std::move(FLoadTasks.front());
      FLoadTasks.pop_front();
    }
    auto result = std::make_shared<TLoadResult>();
    LoadOff(task, *result);
    Post([this, task, result] { LoadDone(task, *result); });
  }
}

// On a loader thread: reads only the task and the settings that never change.
void TConversionQueue::LoadOff(const TLoadTask &ATask, TLoadResult &AResult) const {
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (FCancelled.count(ATask.Id) > 0)
      return; // removed meanwhile: nothing to claim for it
  }
  AResult.Converter = std::make_unique<TCustomAVConverter>();
  AResult.Converter->SetProgressInterval(FSettings.ProgressIntervalMs);
  try {
    AResult.Ok = LoadConversion(*AResult.Converter, FSettings.LibraryPath, ATask.InputFile,
                                ATask.ProfileIndex, ATask.AVCFolder, ATask.MPEG4Folder,
                                AResult.Loaded, AResult.Error, ATask.Content);
    if (AResult.Ok && FSettings.PreviewWidth > 0)
      AResult.Preview = FirstPicture(*AResult.Converter, AResult.Loaded.DisplayAspect,
                                     FSettings.PreviewWidth, FSettings.PreviewHeight);
    if (AResult.Ok)
      ParkConversion(*AResult.Converter);
  } catch (const std::exception &e) {
    AResult.Error = _("***File load error: ") + ATask.InputFile + ": " + e.what();
    AResult.Ok = false;
  }
  if (!AResult.Ok) {
    ReleaseOutputClaim(AResult.Loaded);
    AResult.Converter.reset();
  }
}

void TConversionQueue::LoadDone(const TLoadTask &ATask, TLoadResult &AResult) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    --FLoadsInFlight;
  }
  TEntry *entry = Find(ATask.Id);
  if (!entry || entry->Removing) {
    ReleaseOutputClaim(AResult.Loaded); // loaded for a job that has gone
    return;
  }
  entry->InLoader = false;
  entry->Converter = std::move(AResult.Converter);
  entry->Parked = AResult.Ok;
  entry->LoadRefused = !AResult.Ok;
  ShowLoad(*entry, AResult.Loaded, AResult.Ok);
  Change(*entry, [&](TConversionJob &AJob) {
    AJob.Preview = AResult.Preview.Empty()
                       ? nullptr
                       : std::make_shared<const TBGRImage>(std::move(AResult.Preview));
    AJob.State = AResult.Ok ? TConversionState::csWaiting : TConversionState::csFailed;
    AJob.Message = AResult.Error;
    if (!AResult.Ok)
      entry->Say(AResult.Error);
  });
  // The output folders changed while it loaded: it writes into the new ones.
  if (AResult.Ok &&
      (ATask.AVCFolder != FSettings.AVCFolder || ATask.MPEG4Folder != FSettings.MPEG4Folder))
    Reload(*entry);
  StartNext();
  EndBatchIfIdle();
}

bool TConversionQueue::BatchRunning() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FBatchRunning;
}

std::vector<TConversionJob> TConversionQueue::Jobs() const {
  std::lock_guard<std::mutex> lock(FLock);
  std::vector<TConversionJob> jobs;
  jobs.reserve(FEntries.size());
  for (const auto &entry : FEntries)
    if (!entry->Removing)
      jobs.push_back(entry->Data);
  return jobs;
}

bool TConversionQueue::Job(int AId, TConversionJob &AJob) const {
  std::lock_guard<std::mutex> lock(FLock);
  for (const auto &entry : FEntries)
    if (entry->Data.Id == AId && !entry->Removing) {
      AJob = entry->Data;
      return true;
    }
  return false;
}

std::vector<std::string> TConversionQueue::Log(int AId, size_t AFrom) const {
  std::lock_guard<std::mutex> lock(FLock);
  for (const auto &entry : FEntries)
    if (entry->Data.Id == AId)
      return {entry->Log.begin() + static_cast<std::ptrdiff_t>(std::min(AFrom, entry->Log.size())),
              entry->Log.end()};
  return {};
}

// Media time done against the batch's whole, over the wall time it ran unpaused.
int64_t TConversionQueue::BatchTimeLeftMs() const {
  std::lock_guard<std::mutex> lock(FLock);
  if (!FBatchRunning)
    return -1;
  int64_t done = 0, total = 0;
  for (const auto &entry : FEntries) {
    const TConversionJob &job = entry->Data;
    if (!entry->InBatch || entry->Removing)
      continue;
    const int64_t length = std::max<int64_t>(job.DurationMs, 0);
    total += length;
    done +=
        job.State == TConversionState::csFinished ? length : std::max<int64_t>(job.CurrentMs, 0);
  }
  const int64_t paused = FPausedMs + (FPauseStartMs >= 0 ? NowMs() - FPauseStartMs : 0);
  return EstimateTimeLeftMs(done, total, NowMs() - FBatchStartMs - paused);
}

TBatchEnd TConversionQueue::LastBatch() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FBatch;
}

TConversionQueue::TEntry *TConversionQueue::Find(int AId) {
  for (auto &entry : FEntries)
    if (entry->Data.Id == AId)
      return entry.get();
  return nullptr;
}

void TConversionQueue::Raise(TQueueEventKind AKind, int AId) {
  if (FListener)
    FListener(TQueueEvent{AKind, AId});
}

template <class F> void TConversionQueue::Change(TEntry &AEntry, F AChange, TQueueEventKind AKind) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    AChange(AEntry.Data);
  }
  Raise(AKind, AEntry.Data.Id);
}

int TConversionQueue::Add(const std::string &AInputFile, int AProfileIndex,
                          const TContentChoice &AContent) {
  auto entry = std::make_unique<TEntry>();
  entry->Data.InputFile = AInputFile;
  entry->Data.ProfileIndex = AProfileIndex;
  entry->Data.Content = AContent;
  int id = 0;
  {
    std::lock_guard<std::mutex> lock(FLock);
    id = entry->Data.Id = FNextId++;
  }
  TEntry *raw = entry.release();
  Post([this, raw] {
    {
      std::lock_guard<std::mutex> lock(FLock);
      // Removed before its turn came (the list cleared while files were loading).
      if (FCancelled.erase(raw->Data.Id) > 0) {
        delete raw;
        return;
      }
      FEntries.emplace_back(raw);
      // A file added while Start's batch runs is part of it; after its end it only waits.
      raw->InBatch = FBatchWanted;
    }
    Raise(TQueueEventKind::qeChanged, raw->Data.Id);
    if (FSettings.Policy.LoadOnAdd)
      BeginLoad(*raw);
    StartNext();
  });
  return id;
}

// Loads the job to show what it holds, claims its name, and lets its files go until its turn.
void TConversionQueue::LoadEntry(TEntry &AEntry) {
  Change(AEntry, [](TConversionJob &AJob) { AJob.State = TConversionState::csLoading; });
  std::string error;
  bool ok = false;
  try {
    ok = OpenEntry(AEntry, error);
    if (ok) {
      TakePreview(AEntry);
      ParkConversion(*AEntry.Converter);
    }
  } catch (const std::exception &e) {
    error = e.what();
    ok = false;
  }
  AEntry.Parked = ok;
  AEntry.LoadRefused = !ok;
  if (!ok) {
    ReleaseOutputClaim(AEntry.Loaded);
    AEntry.Converter.reset();
  }
  Change(AEntry, [&](TConversionJob &AJob) {
    AJob.State = ok ? TConversionState::csWaiting : TConversionState::csFailed;
    AJob.Message = error;
    if (!ok) {
      AJob.OutputFile.clear();
      AEntry.Say(error);
    }
  });
}

// The first picture of the file, for a front end to show until it looks elsewhere; a reload
// keeps the one taken.
void TConversionQueue::TakePreview(TEntry &AEntry) {
  if (FSettings.PreviewWidth <= 0 || AEntry.Data.Preview)
    return;
  auto picture = std::make_shared<const TBGRImage>(
      FirstPicture(*AEntry.Converter, AEntry.Loaded.DisplayAspect, FSettings.PreviewWidth,
                   FSettings.PreviewHeight));
  std::lock_guard<std::mutex> lock(FLock);
  AEntry.Data.Preview = std::move(picture);
}

void TConversionQueue::Note(TEntry &AEntry, const std::string &ALine) {
  std::lock_guard<std::mutex> lock(FLock);
  AEntry.Say(ALine);
}

// Sets the job's task up: the parked one opened again in the name it holds, else a new load.
bool TConversionQueue::OpenEntry(TEntry &AEntry, std::string &AError) {
  if (AEntry.Parked && AEntry.Converter) {
    AEntry.Parked = false;
    return ReopenConversion(*AEntry.Converter, FSettings.LibraryPath, AEntry.Loaded, AError);
  }
  AEntry.Converter = std::make_unique<TCustomAVConverter>();
  AEntry.Converter->SetProgressInterval(FSettings.ProgressIntervalMs);
  TLoadedConversion loaded;
  const bool ok = LoadConversion(*AEntry.Converter, FSettings.LibraryPath, AEntry.Data.InputFile,
                                 AEntry.Data.ProfileIndex, FSettings.AVCFolder,
                                 FSettings.MPEG4Folder, loaded, AError, AEntry.Data.Content);
  ShowLoad(AEntry, loaded, ok);
  return ok;
}

void TConversionQueue::ShowLoad(TEntry &AEntry, const TLoadedConversion &ALoaded, bool AOk) {
  AEntry.Loaded = ALoaded;
  Change(AEntry, [&](TConversionJob &AJob) {
    AJob.OutputFile = ALoaded.OutputCreated ? ALoaded.OutputFileName : std::string();
    if (!AOk)
      return;
    AJob.Title = ALoaded.Title;
    AJob.Info = InfoStringOf(ALoaded);
    AJob.SoundTracks = ALoaded.SoundTracks;
    AJob.Subtitles = ALoaded.Subtitles;
    AJob.DurationMs = ALoaded.OutputDurationUs >= 0 ? ALoaded.OutputDurationUs / 1000 : -1;
    AJob.Loaded = ALoaded;
    AJob.Ready = true;
  });
}

void TConversionQueue::StartNext() {
  // Jobs start in the order added: one of the batch still loading holds back those after it.
  const auto next = [](const std::unique_ptr<TEntry> &AEntry) {
    return !AEntry->Removing && ((AEntry->InLoader && AEntry->InBatch) ||
                                 AEntry->Data.State == TConversionState::csWaiting);
  };
  while (FBatchWanted && !FHeldByPause && FActive < FSettings.Policy.Jobs) {
    const auto entry = std::find_if(FEntries.begin(), FEntries.end(), next);
    if (entry == FEntries.end() || (*entry)->InLoader)
      break;
    StartEntry(**entry);
  }
}

void TConversionQueue::StartEntry(TEntry &AEntry) {
  Change(AEntry, [](TConversionJob &AJob) { AJob.State = TConversionState::csLoading; });
  std::string error;
  bool ok = false;
  try {
    ok = OpenEntry(AEntry, error);
  } catch (const std::exception &e) {
    error = e.what();
  }
  if (!ok) {
    Fail(AEntry, error);
    return;
  }
  // The cores the running jobs leave, shared with the jobs that start beside this one; a job
  // keeps its share until it ends, so the last files get what the others leave.
  int free = TCustomAVConverter::CoreCount();
  size_t waiting = 0;
  for (const auto &entry : FEntries) {
    if (entry->Data.State == TConversionState::csConverting ||
        entry->Data.State == TConversionState::csPaused)
      free -= entry->Threads;
    waiting += entry->Data.State == TConversionState::csWaiting;
  }
  const size_t starting = std::min<size_t>(FSettings.Policy.Jobs - FActive, waiting + 1);
  AEntry.Threads = std::max(1, free / static_cast<int>(starting));
  AEntry.Converter->EngineThreadCount = AEntry.Threads;
  AEntry.Errors.Clear();
  AEntry.TaskEnd = TTaskEnd();
  AEntry.StartedMs = NowMs();
  AEntry.PausedMs = 0;
  AEntry.PauseStartMs = -1;
  Connect(AEntry);
  Note(AEntry, FormatText(_("Converting %s into %s"), AEntry.Data.InputFile.c_str(),
                          AEntry.Loaded.OutputFileName.c_str()));
  ++FActive;
  Change(AEntry, [](TConversionJob &AJob) { AJob.State = TConversionState::csConverting; });
  AEntry.Converter->StartConvert(1);
}

// The converter's events come on its workers: they only post to the queue's thread.
void TConversionQueue::Connect(TEntry &AEntry) {
  const int id = AEntry.Data.Id;
  TCustomAVConverter &converter = *AEntry.Converter;
  converter.OnProgress = [this, id](int, int, int AFPS, int ACurrentMs, float, float, int64_t ASize,
                                    int ATotalMs) {
    Post([=] { Progress(id, ACurrentMs, ATotalMs, AFPS, ASize); });
  };
  converter.OnTerminate = [this, id](int ATaskIndex, bool AFinished, bool AException,
                                     const std::string &AMessage) {
    Post([=] {
      TEntry *entry = Find(id);
      if (!entry)
        return;
      if (ATaskIndex < 0) {
        ConverterEnded(id);
        return;
      }
      entry->TaskEnd.Ended = true;
      entry->TaskEnd.Finished = AFinished;
      entry->TaskEnd.Exception = AException;
      entry->TaskEnd.Message = AMessage;
    });
  };
  // The converter, and with it this handler, goes before the entry does.
  TEntry *entry = &AEntry;
  converter.SetOnLog([this, entry](int ATaskIndex, TLogLevel ALevel, const std::string &AMsg) {
    // The libraries often say why a run failed better than the engine's own message does.
    if (ALevel == llError)
      entry->Errors.Add(AMsg, ATaskIndex >= 0);
    std::lock_guard<std::mutex> lock(FLock);
    entry->Say(AMsg);
  });
}

void TConversionQueue::Progress(int AId, int ACurrentMs, int ATotalMs, int AFps, int64_t ASize) {
  TEntry *entry = Find(AId);
  if (!entry || entry->Data.State != TConversionState::csConverting)
    return;
  const int64_t elapsed = NowMs() - entry->StartedMs - entry->PausedMs;
  Change(
      *entry,
      [&](TConversionJob &AJob) {
        if (ProgressTimeUsable(ACurrentMs, AJob.DurationMs))
          AJob.CurrentMs = ACurrentMs;
        if (ATotalMs > 0)
          AJob.DurationMs = ATotalMs;
        AJob.Fps = AFps;
        AJob.Size = ASize;
        AJob.TimeLeftMs = EstimateTimeLeftMs(AJob.CurrentMs, AJob.DurationMs, elapsed);
      },
      TQueueEventKind::qeProgress);
}

void TConversionQueue::ConverterEnded(int AId) {
  TEntry *entry = Find(AId);
  if (entry && (entry->Data.State == TConversionState::csConverting ||
                entry->Data.State == TConversionState::csPaused))
    Ended(*entry);
}

// The job's converter has ended: its outcome (check, thumbnail, removal) decided once, the
// converter and its worker released, and the batch goes on or ends by the policy.
void TConversionQueue::Ended(TEntry &AEntry) {
  --FActive;
  TConversionJob job;
  {
    std::lock_guard<std::mutex> lock(FLock);
    job = AEntry.Data;
  }
  const TConversionOutcome outcome =
      ConcludeConversion(*AEntry.Converter, job.InputFile, AEntry.Loaded, AEntry.TaskEnd,
                         job.CurrentMs, job.DurationMs, AEntry.Errors, job.PictureTimeUs);
  AEntry.Converter.reset();
  // A conversion cut short by removing its job leaves no half file: nothing shows it any more,
  // and the device page would list and copy it as a converted one.
  if (AEntry.Removing && !outcome.Finished() && !outcome.OutputRemoved)
    ::unlink(AEntry.Loaded.OutputFileName.c_str());
  const int64_t size = outcome.OutputRemoved ? 0 : FileSize(AEntry.Loaded.OutputFileName);
  {
    std::lock_guard<std::mutex> lock(FLock);
    // A removed job's end counts as a stop of the batch, whatever it was.
    if (!AEntry.Removing && outcome.Finished())
      ++FBatch.Converted;
    else if (!AEntry.Removing && outcome.Kind == TOutcomeKind::okFailed)
      FBatch.Failed.push_back(job.InputFile);
    else
      FBatch.Stopped = true;
  }
  Change(AEntry, [&](TConversionJob &AJob) {
    AJob.Ended = true;
    AJob.Outcome = outcome;
    AJob.Size = size;
    AJob.TimeLeftMs = -1;
    if (outcome.OutputRemoved)
      AJob.OutputFile.clear();
    switch (outcome.Kind) {
    case TOutcomeKind::okFinished:
      AJob.State = TConversionState::csFinished;
      AJob.Message = outcome.Notes();
      AEntry.Say(_("Converted"));
      if (AJob.DurationMs > 0)
        AJob.CurrentMs = AJob.DurationMs;
      break;
    case TOutcomeKind::okFailed:
      AJob.State = TConversionState::csFailed;
      AJob.Message = outcome.Reason;
      AEntry.Say("Failed: " + outcome.Reason);
      break;
    case TOutcomeKind::okStopped:
      AJob.State = TConversionState::csStopped;
      AJob.Message = outcome.Reason;
      AEntry.Say("Stopped: " + outcome.Reason);
      break;
    }
  });
  // A removed job's end is not the batch's: the next one goes on.
  if (AEntry.Removing)
    Erase(AEntry.Data.Id);
  else if (!outcome.Finished() && !FSettings.Policy.GoOnAfterFailure)
    FBatchWanted = false;
  StartNext();
  EndBatchIfIdle();
}

// A job that could not be set up ends as a failed conversion, with what it claimed given back.
void TConversionQueue::Fail(TEntry &AEntry, const std::string &AMessage) {
  ReleaseOutputClaim(AEntry.Loaded);
  AEntry.Converter.reset();
  AEntry.Parked = false;
  Change(AEntry, [&](TConversionJob &AJob) {
    AJob.State = TConversionState::csFailed;
    AJob.Ended = true;
    AJob.Outcome = TConversionOutcome();
    AJob.Outcome.Reason = AMessage;
    AJob.Message = AMessage;
    AJob.OutputFile.clear();
    AEntry.Say(AMessage);
    AEntry.Say("Failed: " + AMessage);
    FBatch.Failed.push_back(AJob.InputFile);
  });
  if (!FSettings.Policy.GoOnAfterFailure)
    FBatchWanted = false;
}

void TConversionQueue::Erase(int AId) {
  std::unique_ptr<TEntry> gone;
  {
    std::lock_guard<std::mutex> lock(FLock);
    const auto at = std::find_if(FEntries.begin(), FEntries.end(),
                                 [AId](const auto &AEntry) { return AEntry->Data.Id == AId; });
    if (at == FEntries.end())
      return;
    gone = std::move(*at);
    FEntries.erase(at);
  }
  Raise(TQueueEventKind::qeRemoved, AId);
}

void TConversionQueue::EndBatchIfIdle() {
  if (!FBatchRunning || FActive > 0 || FHeldByPause)
    return;
  // Files still loading that Start's batch takes are part of it.
  if (FBatchWanted && std::any_of(FEntries.begin(), FEntries.end(),
                                  [](const auto &AEntry) { return AEntry->InLoader; }))
    return;
  {
    std::lock_guard<std::mutex> lock(FLock);
    FBatchRunning = false;
    // Only Start begins the next batch: a file added now waits for it.
    FBatchWanted = false;
    FPauseStartMs = -1;
  }
  Raise(TQueueEventKind::qeBatchEnded, 0);
}

void TConversionQueue::Start(bool AOnlyNotRun) {
  Post([this, AOnlyNotRun] { DoStart(AOnlyNotRun); });
}

// Every job converts again, into a name claimed anew when its last run used its claim.
void TConversionQueue::DoStart(bool AOnlyNotRun) {
  if (FActive > 0 || FHeldByPause)
    return;
  for (auto &entry : FEntries) {
    if (entry->Removing || entry->LoadRefused)
      continue;
    const bool keep = AOnlyNotRun && entry->Data.Ended;
    {
      std::lock_guard<std::mutex> lock(FLock);
      entry->InBatch = !keep;
    }
    if (keep)
      continue;
    if (entry->InLoader)
      continue; // it joins once loaded
    Change(*entry, [&entry](TConversionJob &AJob) {
      AJob.State = TConversionState::csWaiting;
      AJob.Ended = false;
      AJob.Outcome = TConversionOutcome();
      AJob.Message.clear();
      entry->Log.clear();
      AJob.LogLines = 0;
      ++AJob.LogRun;
      AJob.CurrentMs = 0;
      AJob.Fps = 0;
      AJob.TimeLeftMs = -1;
    });
  }
  {
    std::lock_guard<std::mutex> lock(FLock);
    FBatchRunning = true;
    FBatchWanted = true;
    FBatch = TBatchEnd();
    FBatchStartMs = NowMs();
    FPausedMs = 0;
    FPauseStartMs = -1;
  }
  StartNext();
  EndBatchIfIdle();
}

void TConversionQueue::Stop() {
  Post([this] { DoStop(); });
}

void TConversionQueue::DoStop() {
  if (FBatchRunning) {
    std::lock_guard<std::mutex> lock(FLock);
    FBatch.Stopped = true;
  }
  FBatchWanted = false;
  FHeldByPause = false;
  // The state follows each converter's end when it comes.
  for (auto &entry : FEntries)
    if (entry->Converter && (entry->Data.State == TConversionState::csConverting ||
                             entry->Data.State == TConversionState::csPaused))
      entry->Converter->StopConvert();
  EndBatchIfIdle();
}

void TConversionQueue::Pause() {
  Post([this] { DoPauseResume(true); });
}

void TConversionQueue::Resume() {
  Post([this] { DoPauseResume(false); });
}

void TConversionQueue::DoPauseResume(bool APause) {
  const int64_t now = NowMs();
  const TConversionState from =
      APause ? TConversionState::csConverting : TConversionState::csPaused;
  for (auto &entry : FEntries) {
    if (entry->Data.State != from || !entry->Converter)
      continue;
    if (APause) {
      entry->Converter->PauseConvert();
      entry->PauseStartMs = now;
    } else {
      entry->Converter->ResumeConvert();
      entry->PausedMs += now - entry->PauseStartMs;
    }
    Change(*entry, [APause](TConversionJob &AJob) {
      AJob.State = APause ? TConversionState::csPaused : TConversionState::csConverting;
    });
  }
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (APause && FPauseStartMs < 0)
      FPauseStartMs = now;
    if (!APause && FPauseStartMs >= 0) {
      FPausedMs += now - FPauseStartMs;
      FPauseStartMs = -1;
    }
  }
  // The paused job was removed: Resume goes on with the next.
  if (!APause && FHeldByPause) {
    FHeldByPause = false;
    StartNext();
    EndBatchIfIdle();
  }
}

void TConversionQueue::Remove(int AId) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FCancelled.insert(AId);
  }
  Post([this, AId] { DoRemove(AId); });
}

void TConversionQueue::DoRemove(int AId) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FCancelled.erase(AId);
  }
  TEntry *entry = Find(AId);
  if (!entry || entry->Removing)
    return;
  const TConversionState state = entry->Data.State;
  if (Busy(state) && entry->Converter) {
    // A removed paused job leaves the batch paused: Resume goes on with the next waiting one.
    if (state == TConversionState::csPaused && FBatchWanted &&
        std::any_of(FEntries.begin(), FEntries.end(), [entry](const auto &AOther) {
          return AOther.get() != entry && AOther->Data.State == TConversionState::csWaiting;
        }))
      FHeldByPause = true;
    {
      std::lock_guard<std::mutex> lock(FLock);
      entry->Removing = true;
    }
    Raise(TQueueEventKind::qeRemoved, AId);
    entry->Converter->StopConvert();
    return;
  }
  if (entry->Parked)
    ReleaseOutputClaim(entry->Loaded);
  entry->Converter.reset();
  Erase(AId);
  StartNext(); // it may have held back the ones after it
  EndBatchIfIdle();
}

void TConversionQueue::SetChoice(int AId, int AProfileIndex, const TContentChoice &AContent) {
  Post([this, AId, AProfileIndex, AContent] { DoSetChoice(AId, AProfileIndex, AContent); });
}

// A loaded job shows what the new choice gives at once; a choice the file cannot meet is told
// and the job goes back to the one before.
void TConversionQueue::DoSetChoice(int AId, int AProfileIndex, const TContentChoice &AContent) {
  TEntry *entry = Find(AId);
  if (!entry || entry->Removing || Busy(entry->Data.State))
    return;
  const int lastProfile = entry->Data.ProfileIndex;
  const TContentChoice lastContent = entry->Data.Content;
  const auto choose = [&](int AProfile, const TContentChoice &AChoice) {
    std::lock_guard<std::mutex> lock(FLock);
    entry->Data.ProfileIndex = AProfile;
    entry->Data.Content = AChoice;
  };
  choose(AProfileIndex, AContent);
  if (!FSettings.Policy.LoadOnAdd || !(entry->Parked || entry->LoadRefused))
    return;
  Reload(*entry);
  if (!entry->LoadRefused || !entry->Data.Ready)
    return;
  const std::string refused = entry->Data.Message;
  choose(lastProfile, lastContent);
  Reload(*entry);
  Change(*entry, [&](TConversionJob &AJob) {
    AJob.ChoiceRefused = refused;
    ++AJob.ChoiceRefusals;
  });
}

void TConversionQueue::SetFolders(const std::string &AAVCFolder, const std::string &AMPEG4Folder) {
  Post([this, AAVCFolder, AMPEG4Folder] {
    FSettings.AVCFolder = AAVCFolder;
    FSettings.MPEG4Folder = AMPEG4Folder;
    // Waiting jobs write into the new folders; running ones keep the names they write.
    for (auto &entry : FEntries)
      if (entry->Parked && entry->Data.State == TConversionState::csWaiting)
        Reload(*entry);
  });
}

// The name claimed for the old choice goes back before the new one is claimed.
void TConversionQueue::Reload(TEntry &AEntry) {
  ReleaseOutputClaim(AEntry.Loaded);
  AEntry.Parked = false;
  AEntry.Converter.reset();
  LoadEntry(AEntry);
}

void TConversionQueue::SetPictureTime(int AId, int64_t ATimeUs) {
  Post([this, AId, ATimeUs] {
    if (TEntry *entry = Find(AId)) {
      std::lock_guard<std::mutex> lock(FLock);
      entry->Data.PictureTimeUs = ATimeUs;
    }
  });
}
