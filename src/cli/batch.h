// A batch of conversions on the command line: the files go through the core's conversion queue
// (the same jobs, loads, outcomes and thumbnails as the window's), which goes on after a failed
// file and converts up to a given number at once; this shows its progress.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/content_choice.h"
#include "app/conversion_queue.h"
#include "cli/progress_view.h"

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
  struct TEvent {
    TQueueEvent Queue;
    int Signal = 0; // a stop request when not 0
  };

  void Post(const TEvent &AEvent);
  // False once the queue's batch has ended.
  bool Handle(const TEvent &AEvent);
  void Show(size_t AIndex, const TConversionJob &AJob, bool AProgress);

  TBatchSettings FSettings;
  std::vector<std::string> FFiles;
  TProgressView &FView;
  std::vector<TJobStatus> FStatus;
  std::vector<int> FIds; // the queue's job of each file
  bool FStopping = false;

  std::mutex FMutex;
  std::condition_variable FChanged;
  std::deque<TEvent> FEvents;
  // Last: it goes first, so no event comes after the rest has gone.
  std::unique_ptr<TConversionQueue> FQueue;
};
