// The device library from the command line: listing the converted files of an output folder,
// and copying converted files to the PSP's memory stick.
#pragma once

#include <atomic>
#include <functional>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/progress_view.h"

// Prints the converted files of ADir's "AVC" and "MPEG4" sub-folders as the device page lists
// them. Returns the exit status.
int ListCommand(const std::string &ADir, FILE *AOut, FILE *AErr);

// Prints the videos on the memory stick mounted at ADevice with their titles, durations, sizes
// and whether the PSP plays them. Returns the exit status.
int StickListCommand(const std::string &ADevice, FILE *AOut, FILE *AErr);

// Writes out, unmounts and powers off the memory stick APath lies on, through udisks2 on the
// system bus, saying what happened as the window does. Returns the exit status.
int EjectCommand(const std::string &APath, FILE *AOut, FILE *AErr);

// Copies AFiles with their thumbnails to the device folder ADevice. A conversion that did not
// finish is left out unless ATakePartial. ACancel, set from another thread, cancels the copy.
// Returns the exit status.
int CopyCommand(const std::string &ADevice, const std::vector<std::string> &AFiles,
                const std::atomic<int> &ACancel, FILE *AOut, FILE *AErr, bool ATakePartial = false);

// Converts AFiles with the command's settings and AContent; AJobs gets how each ended, in order.
// Returns the exit status.
using TConvertFunction =
    std::function<int(const std::vector<std::string> &AFiles, const TContentChoice &AContent,
                      std::vector<TJobStatus> &AJobs)>;
// Runs ACopy with a flag that Ctrl-C sets, and returns its status (or the signal's).
using TGuardedCopy =
    std::function<int(const std::function<int(const std::atomic<int> &ACancel)> &ACopy)>;

// --to-stick: converts the files that are not PSP videos yet through AConvert (with --fit-stick
// at the bit rate that makes the batch fit, or refused when even the lowest does not), sends
// each finished video to the stick in order while it fits, tells in one message what is on the
// stick and what did not fit, and ejects it with --eject. Returns the exit status: 0 only when
// every file is on the stick (and ejected when asked).
int ToStickCommand(const TCommandLine &ACommand, const TConvertFunction &AConvert,
                   const TGuardedCopy &AGuard, FILE *AOut, FILE *AErr);
