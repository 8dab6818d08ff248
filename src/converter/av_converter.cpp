#include "converter/av_converter.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "converter/log_bridge.h"
#include "engine/run_control.h"
#include "medialib/medialib.h"

namespace {

int CurrentThreadId() { return static_cast<int>(syscall(SYS_gettid)); }

TLogLevel ToLogLevel(int ALevel) {
  if (ALevel < 0)
    return llQuiet;
  if (ALevel >= 4)
    return llAll;
  return static_cast<TLogLevel>(ALevel + 1);
}

} // namespace

// ---- TFFmpeg, TFFmpegList ----

TFFmpeg::TFFmpeg() {
  InitInputOptions(InputOptions);
  InitOutputOptions(OutputOptions);
}

void TFFmpeg::WorkerStarted(int AThreadId) { FThreadID = AThreadId; }

TFFmpeg *TFFmpegList::Items(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count())
    throw std::out_of_range("List index out of bounds (" + std::to_string(AIndex) + ")");
  return FItems[AIndex];
}

int TFFmpegList::Add(TFFmpeg *ATask) {
  FItems.push_back(ATask);
  ATask->FTaskIndex = Count() - 1;
  return ATask->FTaskIndex;
}

void TFFmpegList::Delete(int AIndex) {
  TFFmpeg *task = Items(AIndex);
  FItems.erase(FItems.begin() + AIndex);
  delete task;
  for (int i = AIndex; i < Count(); ++i)
    FItems[i]->FTaskIndex = i;
}

void TFFmpegList::Clear() {
  std::vector<TFFmpeg *> items;
  items.swap(FItems);
  for (TFFmpeg *task : items)
    delete task;
}

TFFmpeg *TFFmpegList::FindByThreadID(int AThreadID) const {
  for (TFFmpeg *task : FItems)
    if (task->FThreadID == AThreadID)
      return task;
  return nullptr;
}

// ---- the converter ----

// Holds FLock; on leaving, delivers the library log lines that arrived meanwhile.
class TCustomAVConverter::LockAndDeliver {
public:
  explicit LockAndDeliver(TCustomAVConverter &AOwner) : FOwner(AOwner) { FOwner.FLock.lock(); }
  ~LockAndDeliver() {
    FOwner.FLock.unlock();
    FOwner.DeliverQueuedLines();
  }
  LockAndDeliver(const LockAndDeliver &) = delete;
  LockAndDeliver &operator=(const LockAndDeliver &) = delete;

private:
  TCustomAVConverter &FOwner;
};

TCustomAVConverter::TCustomAVConverter() : FAVProbe(new TAVProbe) {
  DeferredCall = [this](int ADelayMs, std::function<void()> AAction) {
    AddUser();
    std::thread([this, ADelayMs, AAction] {
      std::this_thread::sleep_for(std::chrono::milliseconds(ADelayMs));
      AAction();
      ReleaseUser();
    }).detach();
  };
  RegisterConverter(this);
}

TCustomAVConverter::~TCustomAVConverter() {
  UnregisterConverter(this);
  {
    LockAndDeliver lock(*this);
    FPendingCount = 0;
    for (int i = 0; i < FTasks.Count(); ++i)
      if (FTasks.Items(i)->Running)
        FTasks.Items(i)->Stop();
  }
  // The bridge and deferred starts may still be inside; nothing new reaches us after
  // UnregisterConverter, and a deferred start finds no pending task.
  {
    std::unique_lock<std::mutex> lock(FUsersMutex);
    FUsersChanged.wait(lock, [this] { return FUsers == 0; });
  }
  std::lock_guard<std::recursive_mutex> lock(FLock);
  FTasks.Clear();
}

void TCustomAVConverter::AddUser() {
  std::lock_guard<std::mutex> lock(FUsersMutex);
  ++FUsers;
}

void TCustomAVConverter::ReleaseUser() {
  std::lock_guard<std::mutex> lock(FUsersMutex);
  --FUsers;
  FUsersChanged.notify_all();
}

bool TCustomAVConverter::LoadLibraries(const std::string &APath, bool AVersionedNames) {
  if (!::LoadLibraries(APath, AVersionedNames)) {
    FLastErrorMessage = LibraryLoadError();
    return false;
  }
  avlib.av_log_set_callback(LogBridge);
  SetMediaLogLevel(static_cast<int>(FLogLevel) - 1);
  return true;
}

void TCustomAVConverter::SetLogLevel(TLogLevel AValue) {
  FLogLevel = AValue;
  if (LibrariesLoaded())
    SetMediaLogLevel(static_cast<int>(AValue) - 1);
}

void TCustomAVConverter::SetProgressInterval(int AValue) {
  FProgressInterval = AValue < 100 ? 100 : AValue;
}

int TCustomAVConverter::AddInputFile(const std::string &AFileName, TInputOptions *AOptions) {
  std::unique_ptr<TFFmpeg> task(new TFFmpeg);
  try {
    task->Prepare();
    task->SetVerbose(static_cast<int>(FLogLevel) - 1);
    if (AOptions) {
      if (AOptions->FileName.empty())
        AOptions->FileName = AFileName;
      task->InputOptions = *AOptions;
      ApplyInputOptions(*task, task->InputOptions);
    } else {
      InitInputOptions(task->InputOptions);
    }
    if (!task->OpenInputFile(AFileName)) {
      FLastErrorMessage = task->ErrorMessage;
      return -1;
    }
  } catch (const std::exception &e) {
    FLastErrorMessage = e.what();
    return -1;
  }
  ConnectEvents(task.get());
  LockAndDeliver lock(*this);
  return FTasks.Add(task.release());
}

void TCustomAVConverter::ConnectEvents(TFFmpeg *ATask) {
  ATask->OnLog = [this](TCustomFFmpeg *ASender, int ALevel, const std::string &AMsg) {
    DoLog(static_cast<TFFmpeg *>(ASender), ALevel, AMsg);
  };
  ATask->OnProgress = [this](TCustomFFmpeg *ASender, int AFrameNumber, int AFPS, int ACurrent,
                             float AQuality, float ABitRate, int64_t ASize, int ATotal) {
    DoProgress(static_cast<TFFmpeg *>(ASender), AFrameNumber, AFPS, ACurrent, AQuality, ABitRate,
               ASize, ATotal);
  };
  ATask->OnTerminate = [this](TCustomFFmpeg *ASender) { DoTerminate(static_cast<TFFmpeg *>(ASender)); };
}

bool TCustomAVConverter::SetOutputFile(int AIndex, const std::string &AFileName,
                                       TOutputOptions *AOptions) {
  TFFmpeg *task = FTasks.Items(AIndex);
  try {
    if (AOptions) {
      if (AOptions->FileName.empty())
        AOptions->FileName = AFileName;
      task->OutputOptions = *AOptions;
      THookHandlers hooks;
      hooks.CustomHook = [this](TCustomFFmpeg *ASender, TBGRImage &ABitmap, int AFrameNumber,
                                int64_t APTS, bool &AUpdate, bool &AStopHook) {
        DoCustomHook(static_cast<TFFmpeg *>(ASender), ABitmap, AFrameNumber, APTS, AUpdate,
                     AStopHook);
      };
      hooks.BeforeHook = [this](TCustomFFmpeg *ASender, THookAction &AAction, int64_t APTS) {
        DoBeforeHook(static_cast<TFFmpeg *>(ASender), APTS, AAction);
      };
      ApplyOutputOptions(*task, task->OutputOptions, hooks);
    } else {
      InitOutputOptions(task->OutputOptions);
    }
    if (!task->OpenOutputFile(AFileName)) {
      FLastErrorMessage = task->ErrorMessage;
      return false;
    }
    return true;
  } catch (const std::exception &e) {
    FLastErrorMessage = e.what();
    return false;
  }
}

void TCustomAVConverter::RemoveTask(int AIndex) {
  LockAndDeliver lock(*this);
  FTasks.Delete(AIndex);
}

void TCustomAVConverter::ClearTasks() {
  LockAndDeliver lock(*this);
  FTasks.Clear();
  FLastErrorMessage.clear();
  FThreadCount = 0;
}

void TCustomAVConverter::ClearLog() { ClearLogList(); }

void TCustomAVConverter::StartConvert(int AThreadCount) {
  LockAndDeliver lock(*this);
  ClearLog();
  FNextIndex = 0;
  FFinishedCount = 0;
  FThreadCount = AThreadCount;
  FPendingCount = TaskCount();
  const int starts = AThreadCount <= 0 ? 1 : AThreadCount;
  for (int i = 0; i < starts && FPendingCount > 0; ++i)
    StartNextTask();
}

void TCustomAVConverter::StartNextTask() {
  if (FPendingCount <= 0)
    return;
  --FPendingCount;
  const int index = FNextIndex++;
  if (FThreadCount <= 0)
    DeferredCall(100, [this, index] {
      {
        LockAndDeliver lock(*this);
        if (index >= TaskCount() || FTasks.Items(index)->Terminated)
          return;
      }
      // Runs the whole conversion here, without holding FLock, so that it can be stopped.
      RunTask(index);
    });
  else
    RunTask(index);
}

void TCustomAVConverter::RunTask(int AIndex) {
  TFFmpeg *task = FTasks.Items(AIndex);
  task->ProgressInterval = static_cast<int64_t>(FProgressInterval) * 1000;
  task->SetVerbose(static_cast<int>(FLogLevel) - 1);
  if (FThreadCount <= 0) {
    task->FThreadID = CurrentThreadId();
    task->Run(false);
    return;
  }
  if (TFFmpegThread *thread = task->Run(true))
    thread->Start(); // the worker records its id in FThreadID before it does anything
  else
    task->FThreadID = 0;
}

void TCustomAVConverter::StopConvert() {
  LockAndDeliver lock(*this);
  FPendingCount = 0;
  for (int i = 0; i < FTasks.Count(); ++i)
    FTasks.Items(i)->Stop();
}

void TCustomAVConverter::PauseConvert() {
  LockAndDeliver lock(*this);
  for (int i = 0; i < FTasks.Count(); ++i)
    FTasks.Items(i)->Pause();
}

void TCustomAVConverter::ResumeConvert() {
  LockAndDeliver lock(*this);
  for (int i = 0; i < FTasks.Count(); ++i)
    FTasks.Items(i)->Resume();
}

// ---- events ----

void TCustomAVConverter::DoBeforeHook(TFFmpeg *ATask, int64_t APTS, THookAction &AHookAction) {
  if (OnBeforeHook)
    OnBeforeHook(ATask->FTaskIndex, APTS, AHookAction);
}

void TCustomAVConverter::DoCustomHook(TFFmpeg *ATask, TBGRImage &ABitmap, int AFrameNumber,
                                      int64_t APTS, bool &AUpdate, bool &AStopHook) {
  if (OnCustomHook)
    OnCustomHook(ATask->FTaskIndex, ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
}

void TCustomAVConverter::DoLog(TFFmpeg *ATask, int ALevel, const std::string &AMsg) {
  if (!OnLog)
    return;
  LockAndDeliver lock(*this);
  OnLog(ATask ? ATask->FTaskIndex : -1, ToLogLevel(ALevel), AMsg);
}

void TCustomAVConverter::DoProgress(TFFmpeg *ATask, int AFrameNumber, int AFPS, int ACurrentDuration,
                                    float AQuality, float ABitRate, int64_t ACurrentSize,
                                    int ATotalOutputDuration) {
  if (!OnProgress)
    return;
  LockAndDeliver lock(*this);
  OnProgress(ATask->FTaskIndex, AFrameNumber, AFPS, ACurrentDuration, AQuality, ABitRate,
             ACurrentSize, ATotalOutputDuration);
}

void TCustomAVConverter::DoTerminate(TFFmpeg *ATask) {
  LockAndDeliver lock(*this);
  if (OnTerminate)
    OnTerminate(ATask->FTaskIndex, ATask->Finished, ATask->ExceptionRaised, ATask->ExceptionMessage);
  ++FFinishedCount;
  if (FPendingCount > 0) {
    StartNextTask();
  } else if (FFinishedCount >= TaskCount()) {
    if (OnTerminate)
      OnTerminate(-1, true, false, std::string());
    ClearLog();
  }
}

// ---- library log lines ----

void TCustomAVConverter::QueueLibraryLine(int AThreadID, int ALevel, std::string ALine) {
  std::lock_guard<std::mutex> lock(FQueueMutex);
  FQueue.push_back(QueuedLine{AThreadID, ALevel, std::move(ALine)});
}

void TCustomAVConverter::SetOnLog(TConverterLogEvent AHandler) {
  LockAndDeliver lock(*this);
  OnLog = std::move(AHandler);
}

void TCustomAVConverter::DeliverQueuedLines() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(FQueueMutex);
      if (FQueue.empty())
        return;
    }
    // When someone else holds FLock, it delivers these lines as it leaves.
    if (!FLock.try_lock())
      return;
    for (;;) {
      QueuedLine line;
      {
        std::lock_guard<std::mutex> lock(FQueueMutex);
        if (FQueue.empty())
          break;
        line = std::move(FQueue.front());
        FQueue.pop_front();
      }
      if (OnLog) {
        TFFmpeg *task = FTasks.FindByThreadID(line.ThreadID);
        OnLog(task ? task->FTaskIndex : -1, ToLogLevel(line.Level), line.Text);
      }
    }
    FLock.unlock();
  }
}
