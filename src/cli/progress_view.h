// What the user sees of a batch: on a terminal, a line per file and an overall bar redrawn in
// place; elsewhere (a pipe, a log file), plain lines that are only ever appended.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

enum class TJobState { jsWaiting, jsConverting, jsFinished, jsFailed, jsStopped };

// One file of the batch as the view shows it.
struct TJobStatus {
  std::string InputFile;
  std::string OutputFile; // empty until the output name is known
  TJobState State = TJobState::jsWaiting;
  int64_t DurationMs = -1; // of the input, -1 when unknown
  int64_t CurrentMs = 0;   // output written so far
  int Fps = 0;
  int64_t Size = 0;    // bytes written so far
  std::string Message; // why it failed or stopped; for a finished file, a warning
};

// The overall fraction done, in 0..1: each file weighs its duration (one second when unknown);
// a finished file counts whole, any other for what it converted.
double BatchFraction(const std::vector<TJobStatus> &AJobs);

// "hh:mm:ss" of a number of seconds (negative: "--:--:--").
std::string FormatClock(double ASeconds);

class TProgressView {
public:
  virtual ~TProgressView() = default;
  // A file changed state (started, ended).
  virtual void JobChanged(const std::vector<TJobStatus> &AJobs, size_t AIndex) = 0;
  // A file reported progress.
  virtual void JobProgress(const std::vector<TJobStatus> &AJobs, size_t AIndex) = 0;
  // Called a few times a second while the batch runs.
  virtual void Tick(const std::vector<TJobStatus> &AJobs) = 0;
  // A message for the user; AError sends it to the error stream.
  virtual void Message(const std::vector<TJobStatus> &AJobs, const std::string &AText,
                       bool AError) = 0;
  // The batch has ended: leaves the display in its final state.
  virtual void Finish(const std::vector<TJobStatus> &AJobs) = 0;
};

// The terminal view when AOut is a terminal, the plain one otherwise.
std::unique_ptr<TProgressView> MakeProgressView(FILE *AOut, FILE *AErr);

// AText with its control characters and the bytes that are not UTF-8 as C escapes ("\n",
// "\x1b", "\xff"): a file name holding a line feed, an escape or a stray byte never splits a
// line, moves the cursor or garbles the terminal.
std::string PrintableText(const std::string &AText);

// Cuts AText to at most AColumns characters (UTF-8 aware, one column per character).
std::string FitToColumns(const std::string &AText, size_t AColumns);
