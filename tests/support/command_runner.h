// Runs the built korvelo-convert (and other built tools) as a user would, and reads what the
// outputs hold.
#pragma once

#include <filesystem>

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace cli_test {

std::string ConvertBinary();   // the built korvelo-convert
std::string TestMediaBinary(); // the built korvelo-testmedia

struct TRun {
  int Status = -1; // exit status, or 128 + the signal that ended the process
  std::string Out, Err;
  std::string All() const { return Out + Err; }
};

// A process with its standard output and error going to files; standard input is /dev/null.
class TProcess {
public:
  // AProgram with AArgs, in AWorkDir when not empty.
  TProcess(const std::string &AProgram, const std::vector<std::string> &AArgs,
           const std::string &AWorkDir = "");
  ~TProcess();
  TProcess(const TProcess &) = delete;
  TProcess &operator=(const TProcess &) = delete;

  pid_t Pid() const { return FPid; }
  std::string Out() const;
  // Waits for APattern to appear in the standard output; false after ATimeoutMs or when the
  // process ended without it.
  bool WaitForOutput(const std::string &APattern, int ATimeoutMs);
  void Signal(int ASignal);
  // Waits for the end (killing the process after ATimeoutMs) and returns what it did.
  TRun Wait(int ATimeoutMs = 120000);

private:
  pid_t FPid = -1;
  std::string FOutFile, FErrFile;
  bool FEnded = false;
  int FStatus = -1;
};

// Runs korvelo-convert with AArgs to its end.
TRun RunConvert(const std::vector<std::string> &AArgs, const std::string &AWorkDir = "");

// True when this build's engine cannot convert at all yet (a part of it is still missing): the

std::string ReadFile(const std::string &APath);
void WriteFile(const std::string &APath, const std::string &AContent);

// What the media libraries find in a file.
struct TStreamInfo {
  std::string Codec; // library codec name ("h264", "aac", ...)
  int Width = 0, Height = 0;
  int SampleRate = 0, Channels = 0;
};
struct TMediaInfo {
  bool Opened = false;
  std::string Format;
  double DurationSeconds = -1;
  std::vector<TStreamInfo> Video, Audio;
};
TMediaInfo ReadMedia(const std::string &APath);

// Width and height of a baseline JPEG (0 x 0 when the data is not one), from its SOF0 header.
bool BaselineJpegSize(const std::string &AData, int &AWidth, int &AHeight);

// A clip of ASeconds that is hard to compress (a moving pattern with film grain, noise for
// sound), made with Debian's ffmpeg: what the encoders' rate control is made for. False when
// ffmpeg is not there.
bool MakeBusyClip(const std::string &APath, int ASeconds);

// The names of the entries of AFolder, sorted; empty when it cannot be read.
std::vector<std::string> FilesIn(const std::filesystem::path &AFolder);

} // namespace cli_test
