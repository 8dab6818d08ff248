// TCustomAVConverter: the object through which the application converts. It holds tasks (one
// engine each, with one input and one output file), runs them on worker threads and turns the
// engines' callbacks into its events.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "converter/log_bridge.h"
#include "converter/option_records.h"
#include "engine/custom_ffmpeg.h"
#include "probe/av_probe.h"

enum TLogLevel { llQuiet = 0, llError = 1, llInfo = 2, llDebug = 3, llAll = 4 };

// The priorities a converter gives its worker threads.
using TConvertPriority = TThreadPriority;

struct TConverterGate;
class TGateEntry;

// A task: one engine with its position in its converter's list.
class TFFmpeg : public TCustomFFmpeg {
public:
  TFFmpeg();
  ~TFFmpeg() override { StopAndWait(); }
  void WorkerStarted(int AThreadId) override;
  // Renumbered under the converter's lock while hook events read it on the worker without it.
  std::atomic<int> FTaskIndex{-1};
  std::atomic<int> FThreadID{0};
  TInputOptions InputOptions;
  TOutputOptions OutputOptions;

private:
  friend class TCustomAVConverter;
  friend class TGateEntry;
  std::atomic<bool> FAttached{true}; // in its converter's list: its events are raised
  int FDeliveries = 0;               // its events being raised now (guarded by the gate)
  bool FEnded = false;               // its termination was counted in the batch (under FLock)
  uint64_t FSerial = 0;              // identifies it to a deferred start, whatever its index
};

class TFFmpegList {
public:
  TFFmpegList() = default;
  ~TFFmpegList() { Clear(); }
  TFFmpegList(const TFFmpegList &) = delete;
  TFFmpegList &operator=(const TFFmpegList &) = delete;

  TFFmpeg *Items(int AIndex) const; // throws std::out_of_range outside the list
  int Count() const { return static_cast<int>(FItems.size()); }
  int Add(TFFmpeg *ATask);
  // Removes a task without freeing it and renumbers the following ones.
  TFFmpeg *Take(int AIndex);
  void Clear();
  TFFmpeg *FindByThreadID(int AThreadID) const;

private:
  std::vector<TFFmpeg *> FItems;
};

using TConverterBeforeHookEvent =
    std::function<void(int AIndex, int64_t APTS, THookAction &AHookAction)>;
using TConverterCustomHookEvent =
    std::function<void(int AIndex, TBGRImage &ABitmap, int AFrameNumber, int64_t APTS,
                       bool &AUpdate, bool &AStopHook)>;
using TConverterLogEvent =
    std::function<void(int AIndex, TLogLevel ALogLevel, const std::string &AMsg)>;
using TConverterProgressEvent =
    std::function<void(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration, float AQuality,
                       float ABitRate, int64_t ACurrentSize, int ATotalOutputDuration)>;
using TConverterTerminateEvent =
    std::function<void(int AIndex, bool AFinished, bool AException, const std::string &AMessage)>;

// Runs AAction after ADelayMs milliseconds, on the caller's event loop. Used for the deferred
// start of tasks that run without worker threads.
using TDeferredCall = std::function<void(int ADelayMs, std::function<void()> AAction)>;

class TCustomAVConverter {
public:
  TCustomAVConverter();
  virtual ~TCustomAVConverter();
  TCustomAVConverter(const TCustomAVConverter &) = delete;
  TCustomAVConverter &operator=(const TCustomAVConverter &) = delete;

  bool LoadLibraries(const std::string &APath, bool AVersionedNames);
  int AddInputFile(const std::string &AFileName, TInputOptions *AOptions);
  bool SetOutputFile(int AIndex, const std::string &AFileName, TOutputOptions *AOptions);
  void RemoveTask(int AIndex);
  // AKeepEmptyOutputs: outputs the tasks created and never wrote stay on disk, their names still
  // claimed by the caller (by default they are removed with their tasks).
  void ClearTasks(bool AKeepEmptyOutputs = false);
  void StartConvert(int AThreadCount);
  void StopConvert();
  void PauseConvert();
  void ResumeConvert();
  void ClearLog();

  const std::string &LastErrorMessage() const { return FLastErrorMessage; }
  TAVProbe &AVProbe() { return *FAVProbe; }
  int TaskCount() const { return FTasks.Count(); }
  TFFmpeg *Task(int AIndex) const { return FTasks.Items(AIndex); }
  TLogLevel LogLevel() const { return FLogLevel; }
  void SetLogLevel(TLogLevel AValue);
  int ProgressInterval() const { return FProgressInterval; }
  void SetProgressInterval(int AValue);
  TConvertPriority ThreadPriority() const { return FThreadPriority; }
  // Values above normal become normal: a conversion never competes with the window.
  void SetThreadPriority(TConvertPriority AValue);
  static std::string Version() { return "2.0b"; }

  // Threads each task's engine gives its decoders and encoders, decided as the task starts.
  // 0: the cores of the machine shared among the tasks this converter runs at once.
  int EngineThreadCount = 0;
  // The cores this process may run on.
  static int CoreCount();

  // How a start without worker threads is deferred; by default a short-lived thread sleeps and
  // then starts the task. An application with an event loop puts its own timer here.
  TDeferredCall DeferredCall;

  TConverterBeforeHookEvent OnBeforeHook;
  TConverterCustomHookEvent OnCustomHook;
  TConverterLogEvent OnLog;
  // Sets OnLog while no line is being delivered. Library lines reach every converter from the
  // threads of all converters, so assigning OnLog directly while another converter's task runs
  // is a data race.
  // An empty handler also takes the converter off the library lines' round: a long list of idle
  // converters (a window's waiting panels) costs a line nothing.
  void SetOnLog(TConverterLogEvent AHandler);
  TConverterProgressEvent OnProgress;
  TConverterTerminateEvent OnTerminate;

protected:
  virtual void DoBeforeHook(TFFmpeg *ATask, int64_t APTS, THookAction &AHookAction);
  virtual void DoCustomHook(TFFmpeg *ATask, TBGRImage &ABitmap, int AFrameNumber, int64_t APTS,
                            bool &AUpdate, bool &AStopHook);
  virtual void DoLog(TFFmpeg *ATask, int ALevel, const std::string &AMsg);
  virtual void DoProgress(TFFmpeg *ATask, int AFrameNumber, int AFPS, int ACurrentDuration,
                          float AQuality, float ABitRate, int64_t ACurrentSize,
                          int ATotalOutputDuration);
  virtual void DoTerminate(TFFmpeg *ATask);

private:
  friend class TGateEntry;
  void StartNextTask();
  void RunTask(int AIndex);
  // Claims the task's run unless it is running or ended: the run's thread object, not started.
  TFFmpegThread *PrepareRun(TFFmpeg &ATask);
  TFFmpegThread *ClaimDeferred(uint64_t ASerial);
  void ConnectEvents(TFFmpeg *ATask);
  // Takes a task out of the list under FLock, keeping the batch counts right; ReleaseTasks then
  // frees what was taken, without FLock.
  TFFmpeg *TakeTask(int AIndex);
  void ReleaseTasks(const std::vector<TFFmpeg *> &ATasks);

  // Library log lines wait in FLogInbox and are delivered under FLock by whichever thread gets it
  // first, so a handler that logs while holding FLock can never deadlock against the bridge.
  void DeliverQueuedLines();
  class LockAndDeliver;

  std::string FLastErrorMessage;
  int FNextIndex = -1;
  int FThreadCount = 0;
  TLogLevel FLogLevel = llInfo;
  int FProgressInterval = 500;
  TConvertPriority FThreadPriority = tpNormal;
  std::unique_ptr<TAVProbe> FAVProbe;
  TFFmpegList FTasks;
  std::recursive_mutex FLock;
  int FFinishedCount = 0;
  int FPendingCount = 0;
  uint64_t FNextSerial = 0;
  // The tasks' callbacks and deferred starts reach the converter through this, never directly.
  std::shared_ptr<TConverterGate> FGate;

  // Registered with the log bridge for the converter's lifetime.
  TLogInbox FLogInbox{[this] { DeliverQueuedLines(); }};
};
