// The conversion jobs as plain data and the one queue that runs them, for the window and the
// command line alike: the queue decides what starts next, the time left, the output claims and
// their release, and each job's outcome; a front end only shows the jobs' snapshots.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/content_choice.h"
#include "app/conversion_outcome.h"
#include "medialib/bgr_image.h"

enum class TConversionState {
  csWaiting,
  csLoading, // probed and set up, before it converts or waits
  csConverting,
  csPaused,
  csFinished,
  csFailed,
  csStopped,
};

// One job as a front end reads it (a copy: it never changes under the reader).
struct TConversionJob {
  int Id = 0;
  std::string InputFile;
  int ProfileIndex = 0;
  TContentChoice Content; // sound track, subtitles, part, still length
  std::string Title;      // from the load; empty before it
  std::string Info;       // the format line of the load
  std::vector<TTrackEntry> SoundTracks, Subtitles;
  std::string OutputFile; // the claimed name; empty while none is held
  TConversionState State = TConversionState::csWaiting;
  int64_t DurationMs = -1; // of the output, -1 when unknown
  int64_t CurrentMs = 0;   // converted so far
  int Fps = 0;
  int64_t Size = 0;
  int64_t TimeLeftMs = -1;   // this job's, -1 while there is too little to go on
  int64_t PictureTimeUs = 0; // the thumbnail's picture in the input
  bool Ended = false;        // Outcome holds how the last run ended
  TConversionOutcome Outcome;
  std::string Message; // why it failed or stopped; a finished one's warnings
  // How many lines the log holds (read with TConversionQueue::Log: a snapshot copies none of
  // them), and how many times a new run has begun it afresh.
  size_t LogLines = 0;
  int LogRun = 0;
  bool Ready = false;       // loaded once: what the file holds is known
  TLoadedConversion Loaded; // what the last good load found and chose
  // Its first picture, fitted into the settings' preview box; null until taken. Shared, never
  // changed: every snapshot and view holds the one picture.
  std::shared_ptr<const TBGRImage> Preview;
  // A choice the file could not meet, and how many so far: the job kept the one before.
  std::string ChoiceRefused;
  int ChoiceRefusals = 0;
};

// Why AJob failed, in short: what AMessage says after the input's or the output's name
// ("…clip.mov: no such file or directory"); the whole message when it names neither.
std::string ShortReason(const TConversionJob &AJob, const std::string &AMessage);

// How a batch went: the jobs it converted, the inputs that failed, and whether it was stopped
// (by Stop, or by removing what converted) rather than run to its end.
struct TBatchEnd {
  int Converted = 0;
  std::vector<std::string> Failed;
  bool Stopped = false;
};

struct TQueuePolicy {
  // The command line goes on after a failed file; the window's batch ends with it (or a stop).
  bool GoOnAfterFailure = false;
  int Jobs = 1; // conversions at the same time
  // The window shows what a file holds as soon as it is added, so it loads (and claims its
  // output name) then; the command line claims a name only when the file's turn comes.
  bool LoadOnAdd = false;
};

struct TQueueSettings {
  TQueuePolicy Policy;
  std::string LibraryPath; // searched first for the media libraries
  std::string AVCFolder, MPEG4Folder;
  int ProgressIntervalMs = 250;
  int PreviewWidth = 0, PreviewHeight = 0; // 0: the load takes no first picture
};

enum class TQueueEventKind { qeChanged, qeProgress, qeRemoved, qeBatchEnded };
struct TQueueEvent {
  TQueueEventKind Kind = TQueueEventKind::qeChanged;
  int JobId = 0; // 0 for the batch's end
};
// Raised on the queue's own thread: a front end posts it to its own thread and returns.
using TQueueListener = std::function<void(const TQueueEvent &AEvent)>;

// Whether a reported media time can be taken: one the engine could not measure comes negative
// or absurd (beyond twice the known length), and the last good one is kept instead.
bool ProgressTimeUsable(int64_t ACurrentMs, int64_t ADurationMs);

class TConversionQueue {
public:
  TConversionQueue(TQueueSettings ASettings, TQueueListener AListener);
  // Stops what converts, waits for it, and gives up the names waiting jobs claimed.
  ~TConversionQueue();
  TConversionQueue(const TConversionQueue &) = delete;
  TConversionQueue &operator=(const TConversionQueue &) = delete;

  // Every call returns at once; the work is done on the queue's thread, in the order asked.
  // A job added never starts by itself, except to join a batch still running.
  int Add(const std::string &AInputFile, int AProfileIndex,
          const TContentChoice &AContent = TContentChoice());
  // A converting job is stopped first; the batch goes on with the next. A paused one holds the
  // batch until Resume.
  void Remove(int AId);
  // A job not converting takes the new choice (loaded again when the policy loads on add).
  void SetChoice(int AId, int AProfileIndex, const TContentChoice &AContent);
  void SetFolders(const std::string &AAVCFolder, const std::string &AMPEG4Folder);
  // Where in the input the job's thumbnail is taken (the preview's picture), microseconds.
  void SetPictureTime(int AId, int64_t ATimeUs);
  // Converts every job again; nothing happens while one converts or is paused.
  // AOnlyNotRun: jobs that have run keep what they made and stay out of the batch (sending to
  // the stick converts only what waits).
  void Start(bool AOnlyNotRun = false);
  // Stops what converts; the batch then ends, waiting jobs stay waiting.
  void Stop();
  void Pause();
  void Resume();

  // Blocks until everything asked has been done and no batch runs.
  void WaitIdle();
  bool BatchRunning() const;
  std::vector<TConversionJob> Jobs() const;
  bool Job(int AId, TConversionJob &AJob) const;
  // The job's log from line AFrom on (the engine's, the converter's and the load's lines).
  std::vector<std::string> Log(int AId, size_t AFrom = 0) const;
  // The whole batch's time left, -1 while there is too little to go on.
  int64_t BatchTimeLeftMs() const;
  // The batch running, or else the last one.
  TBatchEnd LastBatch() const;

private:
  struct TEntry;
  struct TLoadTask;
  struct TLoadResult;
  using TCommand = std::function<void()>;

  void Post(TCommand ACommand);
  void Run();
  TEntry *Find(int AId);
  void Raise(TQueueEventKind AKind, int AId);
  template <class F>
  void Change(TEntry &AEntry, F AChange, TQueueEventKind AKind = TQueueEventKind::qeChanged);

  void LoadEntry(TEntry &AEntry);
  void Reload(TEntry &AEntry);
  void StartNext();
  void StartEntry(TEntry &AEntry);
  bool OpenEntry(TEntry &AEntry, std::string &AError);
  void Connect(TEntry &AEntry);
  void Progress(int AId, int ACurrentMs, int ATotalMs, int AFps, int64_t ASize);
  void ConverterEnded(int AId);
  void Fail(TEntry &AEntry, const std::string &AMessage);
  void Ended(TEntry &AEntry);
  void Erase(int AId);
  void EndBatchIfIdle();
  void TakePreview(TEntry &AEntry);
  // Loads on add run on a few loader threads, so that many files added at once show soon;
  // each result comes back to the queue's thread.
  void BeginLoad(TEntry &AEntry);
  void RunLoader();
  void LoadOff(const TLoadTask &ATask, TLoadResult &AResult) const;
  void LoadDone(const TLoadTask &ATask, TLoadResult &AResult);
  void ShowLoad(TEntry &AEntry, const TLoadedConversion &ALoaded, bool AOk);
  void StopLoaders();
  void Note(TEntry &AEntry, const std::string &ALine);
  void DoSetChoice(int AId, int AProfileIndex, const TContentChoice &AContent);
  void DoStart(bool AOnlyNotRun);
  void DoRemove(int AId);
  void DoStop();
  void DoPauseResume(bool APause);

  TQueueSettings FSettings;
  TQueueListener FListener;
  std::list<std::unique_ptr<TEntry>> FEntries; // in the order added
  int FNextId = 1;
  int FActive = 0;
  bool FBatchRunning = false, FBatchWanted = false, FHeldByPause = false;
  int64_t FBatchStartMs = 0, FPausedMs = 0, FPauseStartMs = -1;
  TBatchEnd FBatch;
  std::set<int> FCancelled; // removed before their Add was done

  mutable std::mutex FLock; // the commands, and the jobs' data that snapshots copy
  std::condition_variable FWake, FIdle;
  std::deque<TCommand> FCommands;
  bool FBusy = false, FQuit = false;
  std::thread FThread;

  std::condition_variable FLoadWake;
  std::deque<TLoadTask> FLoadTasks; // under FLock
  int FLoadsInFlight = 0;           // added and not back yet, under FLock
  bool FLoadersQuit = false;
  std::vector<std::thread> FLoaders; // under FLock
};
