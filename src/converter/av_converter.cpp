#include "converter/av_converter.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <stdexcept>
#include <thread>

#include "converter/log_bridge.h"
#include "engine/run_control.h"
#include "medialib/medialib.h"

namespace {

TLogLevel ToLogLevel(int ALevel) {
  if (ALevel < 0)
    return llQuiet;
  if (ALevel >= 4)
    return llAll;
  return static_cast<TLogLevel>(ALevel + 1);
}

// A handler's exception stays with it: it must not end a worker thread, and with it the process,
// nor leave the batch without its next task or its end.
template <class F> void Guarded(F &&AHandler) {
  try {
    AHandler();
  } catch (...) {
  }
}

// Frees tasks that left their converter while a thread still works on them (a worker writing
// its trailer, a terminating thread, a deferred start): their destructors wait for those threads
// here, never on the thread that removed them. At program end it waits for the last of them, so
// no output is cut off in the middle of its trailer.
class TTaskReaper {
public:
  TTaskReaper() = default;
  TTaskReaper(const TTaskReaper &) = delete;
  TTaskReaper &operator=(const TTaskReaper &) = delete;
  ~TTaskReaper() {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FClosing = true;
    }
    FChanged.notify_all();
    if (FThread.joinable())
      FThread.join();
  }
  void Adopt(TFFmpeg *ATask) {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FQueue.push_back(ATask);
      try {
        if (!FThread.joinable())
          FThread = std::thread(&TTaskReaper::Work, this);
      } catch (const std::system_error &) {
        FQueue.pop_back(); // no thread to wait on: the caller waits instead, rather than crash
      }
      if (!FQueue.empty() && FQueue.back() == ATask) {
        FChanged.notify_all();
        return;
      }
    }
    delete ATask;
  }

private:
  void Work() {
    for (;;) {
      TFFmpeg *task;
      {
        std::unique_lock<std::mutex> lock(FMutex);
        FChanged.wait(lock, [this] { return FClosing || !FQueue.empty(); });
        if (FQueue.empty())
          return;
        task = FQueue.front();
        FQueue.pop_front();
      }
      delete task;
    }
  }
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::deque<TFFmpeg *> FQueue;
  bool FClosing = false;
  std::thread FThread;
};

TTaskReaper &TaskReaper() {
  static TTaskReaper reaper;
  return reaper;
}

} // namespace

// Ownership: the converter owns the tasks in its list. A task leaves the list (RemoveTask,
// ClearTasks, destruction) under FLock and is detached from the gate there, so none of its
// events reaches the converter's handlers afterwards; once the events already under way have
// been raised, it is freed at once when no thread works on it, else handed to the reaper, which
// frees it when its threads have ended. The callbacks hold the gate, not the converter, so a
// worker that outlives its converter finds the gate closed and raises nothing.
struct TConverterGate {
  explicit TConverterGate(TCustomAVConverter *AOwner) : Owner(AOwner) {}
  std::mutex Mutex;
  std::condition_variable Done;
  TCustomAVConverter *Owner; // null once the converter is going
  int Deliveries = 0;
};

namespace {
// The gates whose events the calling thread is raising now (a handler may call back in).
thread_local std::vector<const TConverterGate *> tRaising;

bool RaisingFor(const TConverterGate &AGate) {
  for (const TConverterGate *gate : tRaising)
    if (gate == &AGate)
      return true;
  return false;
}
} // namespace

// One event passing the gate: Owner is the converter to raise it on, or null when the converter
// has gone or ATask has left it.
class TGateEntry {
public:
  TGateEntry(TConverterGate &AGate, TFFmpeg *ATask) : FGate(AGate), FTask(ATask) {
    std::lock_guard<std::mutex> lock(FGate.Mutex);
    if (!FGate.Owner || (ATask && !ATask->FAttached))
      return;
    Owner = FGate.Owner;
    ++FGate.Deliveries;
    if (ATask)
      ++ATask->FDeliveries;
    tRaising.push_back(&FGate);
  }
  ~TGateEntry() {
    if (!Owner)
      return;
    tRaising.pop_back();
    std::lock_guard<std::mutex> lock(FGate.Mutex);
    --FGate.Deliveries;
    if (FTask)
      --FTask->FDeliveries;
    FGate.Done.notify_all();
  }
  TGateEntry(const TGateEntry &) = delete;
  TGateEntry &operator=(const TGateEntry &) = delete;
  TCustomAVConverter *Owner = nullptr;

private:
  TConverterGate &FGate;
  TFFmpeg *FTask;
};

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
  return Count() - 1;
}

TFFmpeg *TFFmpegList::Take(int AIndex) {
  TFFmpeg *task = Items(AIndex);
  FItems.erase(FItems.begin() + AIndex);
  for (int i = AIndex; i < Count(); ++i)
    FItems[i]->FTaskIndex = i;
  return task;
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

TCustomAVConverter::TCustomAVConverter()
    : FAVProbe(new TAVProbe), FGate(std::make_shared<TConverterGate>(this)) {
  DeferredCall = [](int ADelayMs, std::function<void()> AAction) {
    std::thread([ADelayMs, AAction = std::move(AAction)] {
      std::this_thread::sleep_for(std::chrono::milliseconds(ADelayMs));
      AAction();
    }).detach();
  };
  RegisterLogInbox(&FLogInbox);
}

// Returns without waiting for any conversion: running tasks are stopped and left to the
// reaper. It waits only for events being raised right now. Not to be called from the
// converter's own handlers.
TCustomAVConverter::~TCustomAVConverter() {
  UnregisterLogInbox(&FLogInbox);
  std::vector<TFFmpeg *> tasks;
  {
    LockAndDeliver lock(*this);
    FPendingCount = 0;
    while (TaskCount() > 0)
      tasks.push_back(TakeTask(TaskCount() - 1));
  }
  {
    std::unique_lock<std::mutex> lock(FGate->Mutex);
    FGate->Owner = nullptr;
    if (!RaisingFor(*FGate))
      FGate->Done.wait(lock, [this] { return FGate->Deliveries == 0; });
  }
  ReleaseTasks(tasks);
  // The bridge may still be inside; nothing new reaches us after UnregisterLogInbox.
  FLogInbox.WaitUnused();
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

void TCustomAVConverter::SetThreadPriority(TConvertPriority AValue) {
  FThreadPriority = AValue < tpIdle ? tpIdle : AValue > tpNormal ? tpNormal : AValue;
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
  task->FSerial = ++FNextSerial;
  return FTasks.Add(task.release());
}

void TCustomAVConverter::ConnectEvents(TFFmpeg *ATask) {
  std::shared_ptr<TConverterGate> gate = FGate;
  ATask->OnLog = [gate](TCustomFFmpeg *ASender, int ALevel, const std::string &AMsg) {
    TFFmpeg *task = static_cast<TFFmpeg *>(ASender);
    TGateEntry entry(*gate, task);
    if (entry.Owner)
      entry.Owner->DoLog(task, ALevel, AMsg);
  };
  ATask->OnProgress = [gate](TCustomFFmpeg *ASender, int AFrameNumber, int AFPS, int ACurrent,
                             float AQuality, float ABitRate, int64_t ASize, int ATotal) {
    TFFmpeg *task = static_cast<TFFmpeg *>(ASender);
    TGateEntry entry(*gate, task);
    if (entry.Owner)
      entry.Owner->DoProgress(task, AFrameNumber, AFPS, ACurrent, AQuality, ABitRate, ASize,
                              ATotal);
  };
  ATask->OnTerminate = [gate](TCustomFFmpeg *ASender) {
    TFFmpeg *task = static_cast<TFFmpeg *>(ASender);
    TGateEntry entry(*gate, task);
    if (entry.Owner)
      entry.Owner->DoTerminate(task);
  };
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
      std::shared_ptr<TConverterGate> gate = FGate;
      hooks.CustomHook = [gate](TCustomFFmpeg *ASender, TBGRImage &ABitmap, int AFrameNumber,
                                int64_t APTS, bool &AUpdate, bool &AStopHook) {
        TFFmpeg *task = static_cast<TFFmpeg *>(ASender);
        TGateEntry entry(*gate, task);
        if (entry.Owner)
          entry.Owner->DoCustomHook(task, ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
      };
      hooks.BeforeHook = [gate](TCustomFFmpeg *ASender, THookAction &AAction, int64_t APTS) {
        TFFmpeg *task = static_cast<TFFmpeg *>(ASender);
        TGateEntry entry(*gate, task);
        if (entry.Owner)
          entry.Owner->DoBeforeHook(task, APTS, AAction);
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
  std::vector<TFFmpeg *> removed;
  {
    LockAndDeliver lock(*this);
    removed.push_back(TakeTask(AIndex));
  }
  ReleaseTasks(removed);
}

void TCustomAVConverter::ClearTasks(bool AKeepEmptyOutputs) {
  std::vector<TFFmpeg *> removed;
  {
    LockAndDeliver lock(*this);
    while (TaskCount() > 0) {
      removed.push_back(TakeTask(TaskCount() - 1));
      removed.back()->KeepEmptyOutputs = AKeepEmptyOutputs;
    }
    FLastErrorMessage.clear();
    FThreadCount = 0;
  }
  ReleaseTasks(removed);
}

TFFmpeg *TCustomAVConverter::TakeTask(int AIndex) {
  TFFmpeg *task = FTasks.Take(AIndex);
  if (task->FEnded)
    --FFinishedCount;
  else if (AIndex >= FNextIndex && AIndex < FNextIndex + FPendingCount)
    --FPendingCount;
  if (AIndex < FNextIndex)
    --FNextIndex;
  {
    std::lock_guard<std::mutex> lock(FGate->Mutex);
    task->FAttached = false;
  }
  task->Abandon(); // a running task starts stopping now
  return task;
}

void TCustomAVConverter::ReleaseTasks(const std::vector<TFFmpeg *> &ATasks) {
  // Events of these tasks already under way end before this returns, unless this thread is
  // raising one of them itself (a handler removing tasks).
  if (!RaisingFor(*FGate)) {
    std::unique_lock<std::mutex> lock(FGate->Mutex);
    FGate->Done.wait(lock, [&] {
      for (TFFmpeg *task : ATasks)
        if (task->FDeliveries > 0)
          return false;
      return true;
    });
  }
  for (TFFmpeg *task : ATasks) {
    if (task->Abandon())
      delete task;
    else
      TaskReaper().Adopt(task);
  }
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
  if (FNextIndex < 0 || FNextIndex >= TaskCount()) { // tasks were removed meanwhile
    FPendingCount = 0;
    return;
  }
  const int index = FNextIndex++;
  if (FThreadCount > 0) {
    RunTask(index);
    return;
  }
  // The deferred start holds the gate, not the converter, and finds its task by serial: by
  // then the converter may be gone or the task removed or renumbered.
  std::shared_ptr<TConverterGate> gate = FGate;
  const uint64_t serial = FTasks.Items(index)->FSerial;
  auto start = [gate, serial] {
    TFFmpegThread *run = nullptr;
    {
      TGateEntry entry(*gate, nullptr);
      if (entry.Owner)
        run = entry.Owner->ClaimDeferred(serial);
    }
    // The whole conversion runs here, without FLock, so that it can be stopped.
    if (run)
      run->RunHere();
  };
  try {
    DeferredCall(100, std::move(start));
  } catch (const std::exception &) {
    FTasks.Items(index)->Stop(); // cannot be scheduled: it ends as a task that never ran
  }
}

// Every run of a task is claimed here, under FLock, so a task found idle here is run by no one:
// its settings can be written.
TFFmpegThread *TCustomAVConverter::PrepareRun(TFFmpeg &ATask) {
  if (ATask.Running || ATask.Terminated)
    return nullptr;
  ATask.ProgressInterval = static_cast<int64_t>(FProgressInterval) * 1000;
  ATask.SetVerbose(static_cast<int>(FLogLevel) - 1);
  ATask.ThreadCount =
      EngineThreadCount > 0
          ? EngineThreadCount
          : std::max(1, CoreCount() / std::max(1, std::min(FThreadCount, TaskCount())));
  return ATask.Run(true, FThreadPriority);
}

TFFmpegThread *TCustomAVConverter::ClaimDeferred(uint64_t ASerial) {
  LockAndDeliver lock(*this);
  for (int i = 0; i < TaskCount(); ++i) {
    TFFmpeg *task = FTasks.Items(i);
    if (task->FSerial != ASerial)
      continue;
    TFFmpegThread *run = PrepareRun(*task);
    if (run)
      run->Claim(); // from here the task is not freed before the run has ended
    return run;
  }
  return nullptr;
}

void TCustomAVConverter::RunTask(int AIndex) {
  TFFmpeg *task = FTasks.Items(AIndex);
  if (TFFmpegThread *thread = PrepareRun(*task))
    thread->Start(); // the worker records its id in FThreadID before it does anything
  else if (!task->Running)
    task->FThreadID = 0;
}

int TCustomAVConverter::CoreCount() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  if (sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 0)
    return CPU_COUNT(&cpus);
  return std::max(1u, std::thread::hardware_concurrency());
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

// The events raised under FLock check again under it that their task is still in the list:
// a removal may have come between the gate and the lock.
void TCustomAVConverter::DoLog(TFFmpeg *ATask, int ALevel, const std::string &AMsg) {
  if (!OnLog)
    return;
  LockAndDeliver lock(*this);
  if (ATask && !ATask->FAttached)
    return;
  Guarded([&] { OnLog(ATask ? ATask->FTaskIndex.load() : -1, ToLogLevel(ALevel), AMsg); });
}

void TCustomAVConverter::DoProgress(TFFmpeg *ATask, int AFrameNumber, int AFPS,
                                    int ACurrentDuration, float AQuality, float ABitRate,
                                    int64_t ACurrentSize, int ATotalOutputDuration) {
  if (!OnProgress)
    return;
  LockAndDeliver lock(*this);
  if (!ATask->FAttached)
    return;
  Guarded([&] {
    OnProgress(ATask->FTaskIndex, AFrameNumber, AFPS, ACurrentDuration, AQuality, ABitRate,
               ACurrentSize, ATotalOutputDuration);
  });
}

void TCustomAVConverter::DoTerminate(TFFmpeg *ATask) {
  LockAndDeliver lock(*this);
  if (!ATask->FAttached || ATask->FEnded)
    return;
  if (OnTerminate)
    Guarded([&] {
      OnTerminate(ATask->FTaskIndex, ATask->Finished, ATask->ExceptionRaised,
                  ATask->ExceptionMessage);
    });
  ATask->FEnded = true;
  ++FFinishedCount;
  if (FPendingCount > 0) {
    StartNextTask();
  } else if (FFinishedCount >= TaskCount()) {
    if (OnTerminate)
      Guarded([&] { OnTerminate(-1, true, false, std::string()); });
    ClearLog();
  }
}

// ---- library log lines ----

void TCustomAVConverter::SetOnLog(TConverterLogEvent AHandler) {
  LockAndDeliver lock(*this);
  FLogInbox.SetQuiet(!AHandler);
  OnLog = std::move(AHandler);
}

void TCustomAVConverter::DeliverQueuedLines() {
  for (;;) {
    if (FLogInbox.Empty())
      return;
    // When someone else holds FLock, it delivers these lines as it leaves.
    if (!FLock.try_lock())
      return;
    TLogInbox::Line line;
    while (FLogInbox.Take(line)) {
      if (OnLog) {
        TFFmpeg *task = FTasks.FindByThreadID(line.ThreadID);
        Guarded(
            [&] { OnLog(task ? task->FTaskIndex.load() : -1, ToLogLevel(line.Level), line.Text); });
      }
    }
    FLock.unlock();
  }
}
