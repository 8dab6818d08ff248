// TPicturePreview: the pictures of a preview slider, decoded on a worker thread of their own so
// that the window never waits for a seek or a decode. Each asker (an owner: one slider) has at
// most one request waiting; a newer one replaces it, so a slider moved fast costs one decode at
// a time and ends on its last position. Pictures decoded a moment ago come from a small cache;
// a file is closed once nobody has asked for its pictures for a few seconds.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "medialib/bgr_image.h"

// One answer: the picture fitted into the asked box, and when it is shown.
struct TPreviewAnswer {
  int64_t RequestedUs = 0; // the time asked for
  // The time the picture is shown at, microseconds from the file's start: the picture at
  // RequestedUs is the last one that starts at or before it. -1 when the file has no picture
  // there (or none at all).
  int64_t PictureUs = -1;
  // When the picture after it starts (a step to the next picture asks for this time); -1 when
  // unknown or there is none.
  int64_t NextPictureUs = -1;
  TBGRImage Picture; // fitted into the box on black; black when there is no picture
  std::string Error; // why there is no picture (the file would not open, no decoder)
  bool FromCache = false;
};

// Raised on the service's worker thread: a front end posts it to its own thread.
using TPreviewAnswerEvent = std::function<void(const TPreviewAnswer &)>;

struct TPreviewRequest {
  std::string FileName;
  int64_t TimeUs = 0;
  int BoxWidth = 0, BoxHeight = 0; // the picture comes fitted into this, with its shape kept
};

class TPicturePreview {
public:
  // ARestMs: how long a file stays open after its last request; ACachedPictures: how many
  // answers are kept.
  explicit TPicturePreview(int ARestMs = 3000, size_t ACachedPictures = 48);
  // Ends a decode under way at its next packet; answers still waiting are dropped unraised.
  ~TPicturePreview();
  TPicturePreview(const TPicturePreview &) = delete;
  TPicturePreview &operator=(const TPicturePreview &) = delete;

  // The service the window's sliders share, made when first asked for and ended with the last
  // holder.
  static std::shared_ptr<TPicturePreview> Shared();

  // A new asker's name.
  uint64_t NewOwner();
  // Asks for a picture; AOnAnswer is raised on the worker thread, unless a newer request of the
  // same owner comes before this one's decode has begun.
  void Request(uint64_t AOwner, const TPreviewRequest &ARequest, TPreviewAnswerEvent AOnAnswer);
  // Drops the owner's waiting request (a decode under way still answers).
  void Forget(uint64_t AOwner);
  // How many files the worker holds open (for tests and the log).
  int OpenFiles() const;

private:
  struct TPending {
    TPreviewRequest Request;
    TPreviewAnswerEvent OnAnswer;
  };
  struct TOpenFile;
  using TClock = std::chrono::steady_clock;

  void Run();
  // Takes the next waiting request, or closes files that rested; false when the service ends.
  bool NextRequest(std::unique_lock<std::mutex> &ALock, TPending &APending);
  void Answer(const TPending &APending);
  bool FindCached(const TPreviewRequest &ARequest, TPreviewAnswer &AAnswer);
  void KeepCached(const TPreviewRequest &ARequest, const TPreviewAnswer &AAnswer);
  void Decode(const TPreviewRequest &ARequest, TPreviewAnswer &AAnswer);
  void CloseRestedFiles(TClock::time_point ANow);

  const int FRestMs;
  const size_t FCachedPictures;
  mutable std::mutex FLock;
  std::condition_variable FWake;
  bool FEnding = false;
  std::atomic<bool> FStopDecoding{false}; // the service ends: a decode under way gives up
  uint64_t FLastOwner = 0;
  // Waiting requests, one per owner, served in the order their owners first asked.
  std::list<uint64_t> FOrder;
  std::map<uint64_t, TPending> FPending;
  // Worker-only state: the open files and the recent answers (newest first).
  std::map<std::string, std::unique_ptr<TOpenFile>> FFiles;
  int FOpenCount = 0; // FFiles.size(), readable under FLock
  struct TCached;
  std::list<TCached> FCache;
  std::thread FWorker;
};
