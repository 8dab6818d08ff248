// A batch of conversions: every file converted as a conversion panel converts it (probe, output
// name and options of the profile, converter task, thumbnail), up to a given number at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/content_choice.h"
#include "cli/progress_view.h"

class TCustomAVConverter;

struct TBatchSettings {
  int ProfileIndex = 4;
  int Jobs = 1;            // conversions at the same time, at least 1
  std::string LibraryPath; // folder searched first for the media libraries
  TContentChoice Content;  // sound track, subtitles, range and still length of every file
};

class TBatch {
public:
  TBatch(const TBatchSettings &ASettings, const std::vector<std::string> &AFiles,
         TProgressView &AView);
  ~TBatch();
  TBatch(const TBatch &) = delete;
  TBatch &operator=(const TBatch &) = delete;

  // Converts every file into the output sub-folders (AVCFolder, MPEG4Folder, prepared by the
  // caller). Returns when every file has ended, or, after a stop request, when the running
  // conversions have ended; files not started by then count as stopped.
  void Run();

  // Asks the batch to stop, from any thread (the signal watcher's).
  void RequestStop(int ASignal);

  const std::vector<TJobStatus> &Jobs() const { return FStatus; }
  size_t FinishedCount() const;

private:
  struct TJob;
  struct TEvent {
    enum TKind { ekProgress, ekTaskEnd, ekConverterEnd, ekStop } Kind;
    size_t Job = 0;
    int CurrentMs = 0, TotalMs = -1, Fps = 0;
    int64_t Size = 0;
    bool Finished = false, Exception = false;
    int Signal = 0;
    std::string Message;
  };

  void Post(TEvent AEvent);
  void StartJob(size_t AIndex);
  bool SetUpJob(size_t AIndex, std::string &AError);
  void Handle(const TEvent &AEvent);
  void EndJob(size_t AIndex);
  void FailJob(size_t AIndex, const std::string &AMessage);
  void Stop();

  TBatchSettings FSettings;
  TProgressView &FView;
  std::vector<TJobStatus> FStatus;
  std::vector<std::unique_ptr<TJob>> FJobs;
  size_t FActive = 0;
  bool FStopping = false;

  std::mutex FMutex;
  std::condition_variable FChanged;
  std::deque<TEvent> FEvents;
};
