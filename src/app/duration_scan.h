// Reads the durations of the listed converted files on a thread of its own, in list order, so
// that the list shows at once and fills in: what the cache knows comes first and costs no
// probe; only new and changed files are opened. A window hands each result to its own thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/device_library.h"
#include "app/duration_cache.h"

class TDurationScan {
public:
  struct TResult {
    uint64_t Scan = 0; // the Start it belongs to
    std::string Path;
    bool OK = false; // false: not readable as media (or gone), so not a converted video
    int64_t DurationUs = 0;
  };
  using TResultFunction = std::function<void(const TResult &AResult)>;

  // AOnResult runs on the scan's thread, once for each file read. AReader reads one file there;
  // without one, a probe of the scan's own does.
  TDurationScan(std::string ACacheFile, TResultFunction AOnResult, TDurationReader AReader = {});
  // Waits for the file being read, if any, and saves what was learnt.
  ~TDurationScan();

  // Fills in the durations of AFiles that the cache knows and queues the others to be read, in
  // their order. The files of an earlier Start not read yet are given up. Returns the new scan's
  // number, which its results carry.
  uint64_t Start(std::vector<TConvertedFile> &AFiles);
  // Files queued and not read yet.
  size_t Pending() const;

private:
  struct TJob {
    uint64_t Scan;
    std::string Path;
  };
  void Work();
  void SaveCache();

  TResultFunction FOnResult;
  TDurationReader FReader;
  std::unique_ptr<TAVProbe> FProbe;
  mutable std::mutex FMutex;
  std::condition_variable FWake;
  TDurationCache FCache; // guarded by FMutex
  bool FCacheLoaded = false;
  std::deque<TJob> FJobs;
  uint64_t FScan = 0;
  bool FStopping = false;
  std::thread FWorker;
};
