// How a converted file's conversion ended, recorded for the file: the Folders and Files page,
// korvelo-convert --list and the copy onto the stick all decide "finished" by it. The record
// lies in the user's state folder under the file's identity (its volume and inode, so it
// follows a rename) and names the file's size and modification time, so a record left from a
// deleted file, or a file written again since, counts for nothing.
#pragma once

#include <string>

enum class TOutputVerdict {
  ovUnknown,             // no record that holds for the file as it is now
  ovFinished,            // complete, with its thumbnail
  ovFinishedNoThumbnail, // complete, but its thumbnail could not be written
  ovStopped,             // stopped on request: a partial file
};

struct TConversionOutcome;
// The verdict of a conversion that ended with AOutcome.
TOutputVerdict VerdictOf(const TConversionOutcome &AOutcome);

// Records AVerdict for APath as the file is now, replacing any earlier record; ovUnknown
// removes the record. False when it could not be written (the file then counts as cut off).
bool RecordOutputVerdict(const std::string &APath, TOutputVerdict AVerdict);

// The verdict recorded for APath, or, for a file converted before records were kept, finished
// when its thumbnail was written after it (a thumbnail older than the video is another file's).
TOutputVerdict ReadOutputVerdict(const std::string &APath);

// Complete: finished, with or without its thumbnail.
inline bool IsCompleteVerdict(TOutputVerdict AVerdict) {
  return AVerdict == TOutputVerdict::ovFinished ||
         AVerdict == TOutputVerdict::ovFinishedNoThumbnail;
}

// Whether a copy onto the stick must leave APath out unless the person asks for it: a
// conversion stopped part-way, or one written again since its record (cut off under a name a
// finished file had). A file without any record is not known to be partial: the PSP check
// refuses one cut off before its index.
bool IsPartialConversion(const std::string &APath);

// The file that holds APath's record: $XDG_STATE_HOME/korvelo-converter/outcomes/DEV-INODE
// (by default under ~/.local/state). Empty when APath does not exist or there is no state
// folder.
std::string VerdictRecordName(const std::string &APath);
