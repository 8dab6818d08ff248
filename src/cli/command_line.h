// The command line of korvelo-convert: what the user asked for, or why the request is unusable.
#pragma once

#include <string>
#include <vector>

#include "app/content_choice.h"

enum class TCommandMode {
  cmHelp,
  cmVersion,
  cmConvert,
  cmList,
  cmCopy,
  cmStickList,
  cmEject,
  cmToStick
};

struct TCommandLine {
  TCommandMode Mode = TCommandMode::cmConvert;
  int ProfileIndex = -1;    // -1: the default profile
  std::string OutputDir;    // empty: the current folder
  int Jobs = 0;             // 0: one per core
  std::string ListDir;      // --list
  std::string DeviceDir;    // --copy-to, --stick-list, --eject, --to-stick
  bool TakePartial = false; // --copy-incomplete
  bool FitStick = false;    // --fit-stick
  bool EjectAfter = false;  // --eject with --to-stick
  std::vector<std::string> Files;
  TContentChoice Content; // --audio-track, --subtitles, --start, --end, --still-seconds
};

// Parses the arguments after the program name. False with AError (one line, without the
// program name) when the command line cannot be used; the caller prints it with a hint.
bool ParseCommandLine(const std::vector<std::string> &AArgs, TCommandLine &ACommand,
                      std::string &AError);

// The profile an argument of --profile names: its row number, its full name, or its kind and
// size as "AVC-480x272" (letters in any case). -1 when it names none.
int ProfileFromArgument(const std::string &AArgument);

// The text of --help.
std::string UsageText();
