// TAddedFiles: the files added to the conversion queue whose jobs a front end has not shown yet,
// in the order added. A job is shown once it has loaded, and each waits for those added before
// it, so the list keeps the order of the adding however the loads come back; the files the load
// refused are gathered, to be told together.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "app/conversion_queue.h"
#include "app/remembered_batch.h"

class TAddedFiles {
public:
  void Add(int AId, TRememberedJob AAsked);
  // The first file's job once it has loaded (with its first picture): true, AJob set, the file
  // no longer waits. One the load refused is removed from AQueue and gathered, and the next
  // is looked at. False while the first is still loading or none waits.
  bool Next(TConversionQueue &AQueue, TConversionJob &AJob);
  // The messages of the files refused, once none waits any more (then they are told and gone);
  // empty before.
  std::vector<std::string> TakeRefused();
  // Forgets them all, and their jobs in AQueue.
  void Clear(TConversionQueue &AQueue);

  int Count() const { return static_cast<int>(FWaiting.size()); }
  // The files as they were asked for, in the order added.
  std::vector<TRememberedJob> Files() const;

private:
  struct TWaiting {
    int Id;
    TRememberedJob Asked;
  };
  std::deque<TWaiting> FWaiting;
  std::vector<std::string> FRefused;
};
