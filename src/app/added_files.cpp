#include "app/added_files.h"

void TAddedFiles::Add(int AId, TRememberedJob AAsked) {
  FWaiting.push_back({AId, std::move(AAsked)});
}

bool TAddedFiles::Next(TConversionQueue &AQueue, TConversionJob &AJob) {
  while (!FWaiting.empty()) {
    const int id = FWaiting.front().Id;
    if (!AQueue.Job(id, AJob) || (!AJob.Ready && AJob.State != TConversionState::csFailed))
      return false;
    if (AJob.Ready && AJob.State == TConversionState::csLoading)
      return false; // its first picture is still being taken
    FWaiting.pop_front();
    if (AJob.Ready)
      return true;
    FRefused.push_back(AJob.Message);
    AQueue.Remove(id);
  }
  return false;
}

std::vector<std::string> TAddedFiles::TakeRefused() {
  std::vector<std::string> refused;
  if (FWaiting.empty())
    refused.swap(FRefused);
  return refused;
}

void TAddedFiles::Clear(TConversionQueue &AQueue) {
  for (const TWaiting &waiting : FWaiting)
    AQueue.Remove(waiting.Id);
  FWaiting.clear();
  FRefused.clear();
}

std::vector<TRememberedJob> TAddedFiles::Files() const {
  std::vector<TRememberedJob> files;
  files.reserve(FWaiting.size());
  for (const TWaiting &waiting : FWaiting)
    files.push_back(waiting.Asked);
  return files;
}
