// Output names held between a file's load and its conversion. A claim is the empty output file,
// created exclusively, and reserves the thumbnail's name beside it too. Claims are recorded in
// the state folder, so that the empty files of a run that ended without giving them back (a
// crash, kill -9) are removed at the next start instead of pushing later outputs to "(1)".
#pragma once

#include <cstdint>
#include <string>

struct TPSPOutputSettings;

// The file a claim created, told from one put under its name since.
struct TClaimedFile {
  std::string Path;
  uint64_t Device = 0, Inode = 0;
};

// Creates ASettings.FileName exclusively. When it or its ".THM" is taken (by another process
// meanwhile, or a thumbnail left alone), the next "(n)" where neither exists is created and
// becomes FileName. The claim is recorded. False with the system's reason in AError.
bool ClaimOutputFile(TPSPOutputSettings &ASettings, std::string &AError);
bool ClaimOutputFile(TPSPOutputSettings &ASettings, TClaimedFile &AClaimed, std::string &AError);

// True while AClaimed is still the empty file the claim created; otherwise false with the
// reason in AError, and nothing may be written under its name.
bool ClaimStillHeld(const TClaimedFile &AClaimed, std::string &AError);

// Gives a claim up: its file goes when it is still the empty one created; a file written or
// replaced since stays. The record is dropped either way.
void ReleaseClaim(const TClaimedFile &AClaimed);

// At start: the claims recorded by runs that have ended (their record is no longer locked)
// whose files are still empty and the same are removed, and the records with them. Returns how
// many files were removed.
int RemoveAbandonedClaims();
// At a normal end: the claims this run still holds that were never written are removed, and
// its record with them.
void EndOutputClaims();

// The claims' records; empty (nothing recorded) when there is no state folder.
std::string ClaimRecordFolder();

// For a program that has to end at once (a second signal): removes the outputs cut off before
// their index. Safe in a signal handler.
int RemoveUnfinishedConversions(void (*AOnRemoved)(const char *APath) = nullptr);

// Whether an output name or its thumbnail's exists: the name is then not free for a new output.
bool OutputNameTaken(const std::string &AFileName);
