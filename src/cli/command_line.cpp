#include "cli/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/profiles.h"

namespace {

constexpr int MaxJobs = 1024;

std::string Lower(std::string AText) {
  for (char &c : AText)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return AText;
}

bool ParseJobs(const std::string &AText, int &AJobs) {
  if (AText.empty() || AText.size() > 6)
    return false;
  for (char c : AText)
    if (!std::isdigit(static_cast<unsigned char>(c)))
      return false;
  const long n = std::strtol(AText.c_str(), nullptr, 10);
  if (n < 1 || n > MaxJobs)
    return false;
  AJobs = static_cast<int>(n);
  return true;
}

// An option that takes a value: its canonical name, or empty.
std::string ValueOption(const std::string &AName) {
  if (AName == "--profile" || AName == "-p")
    return "--profile";
  if (AName == "--output" || AName == "-o")
    return "--output";
  if (AName == "--jobs" || AName == "-j")
    return "--jobs";
  if (AName == "--list")
    return "--list";
  if (AName == "--copy-to")
    return "--copy-to";
  if (AName == "--stick-list" || AName == "--eject")
    return AName;
  for (const char *name : {"--audio-track", "--subtitles", "--start", "--end", "--still-seconds"})
    if (AName == name)
      return AName;
  return {};
}

} // namespace

int ProfileFromArgument(const std::string &AArgument) {
  if (AArgument.size() == 1 && AArgument[0] >= '0' && AArgument[0] < '0' + PSPProfileCount)
    return AArgument[0] - '0';
  const std::string wanted = Lower(AArgument);
  for (int i = 0; i < PSPProfileCount; ++i) {
    const TPSPProfile &profile = PSPProfiles[i];
    if (wanted == Lower(profile.Name) || wanted == Lower(profile.Kind + "-" + profile.Size))
      return i;
  }
  return -1;
}

bool ParseCommandLine(const std::vector<std::string> &AArgs, TCommandLine &ACommand,
                      std::string &AError) {
  ACommand = TCommandLine();
  bool listGiven = false, copyGiven = false;
  std::string stickOption, stickDir; // --stick-list or --eject, and its folder
  std::string conversionOption;      // the first of --profile, --output, --jobs given
  bool optionsEnded = false;
  for (size_t i = 0; i < AArgs.size(); ++i) {
    const std::string &arg = AArgs[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      ACommand.Files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      ACommand.Mode = TCommandMode::cmHelp;
      return true;
    }
    if (arg == "--version" || arg == "-V") {
      ACommand.Mode = TCommandMode::cmVersion;
      return true;
    }
    // The value: "--name=value", "-xVALUE", or the next argument.
    std::string name = arg, value;
    bool hasValue = false;
    if (arg.compare(0, 2, "--") == 0) {
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        hasValue = true;
      }
    } else if (arg.size() > 2) {
      name = arg.substr(0, 2);
      value = arg.substr(2);
      hasValue = true;
    }
    const std::string option = ValueOption(name);
    if (option.empty()) {
      AError = "unrecognized option '" + arg + "'";
      return false;
    }
    if (!hasValue) {
      if (i + 1 >= AArgs.size()) {
        AError = "option '" + name + "' requires an argument";
        return false;
      }
      value = AArgs[++i];
    }
    if (option == "--profile") {
      ACommand.ProfileIndex = ProfileFromArgument(value);
      if (ACommand.ProfileIndex < 0) {
        AError = "invalid profile '" + value + "' (see --help for the profiles)";
        return false;
      }
    } else if (option == "--output") {
      if (value.empty()) {
        AError = "option '--output' requires a folder";
        return false;
      }
      ACommand.OutputDir = value;
    } else if (option == "--jobs") {
      if (!ParseJobs(value, ACommand.Jobs)) {
        AError = "invalid number of jobs '" + value + "' (a whole number from 1 to " +
                 std::to_string(MaxJobs) + ")";
        return false;
      }
    } else if (option == "--list") {
      if (listGiven || value.empty()) {
        AError = listGiven ? "option '--list' given twice" : "option '--list' requires a folder";
        return false;
      }
      listGiven = true;
      ACommand.ListDir = value;
    } else if (option == "--copy-to") {
      if (copyGiven || value.empty()) {
        AError = copyGiven ? "option '--copy-to' given twice"
                           : "option '--copy-to' requires a device folder";
        return false;
      }
      copyGiven = true;
      ACommand.DeviceDir = value;
    } else if (option == "--stick-list" || option == "--eject") {
      if (!stickOption.empty() || value.empty()) {
        AError = stickOption == option ? "option '" + option + "' given twice"
                 : !stickOption.empty()
                     ? "options '" + stickOption + "' and '" + option + "' cannot be used together"
                     : "option '" + option + "' requires a device folder";
        return false;
      }
      stickOption = option;
      stickDir = value;
    } else if (option == "--audio-track" || option == "--subtitles") {
      if (value.empty()) {
        AError = "option '" + option + "' requires a value";
        return false;
      }
      (option == "--audio-track" ? ACommand.Content.AudioTrack : ACommand.Content.Subtitles) =
          value;
    } else if (option == "--start" || option == "--end") {
      int64_t ms = 0;
      if (!ParseClockTime(value, ms)) {
        AError = "invalid time '" + value + "' for '" + option + "' (HH:MM:SS[.mmm] or seconds)";
        return false;
      }
      (option == "--start" ? ACommand.Content.StartMs : ACommand.Content.EndMs) = ms;
    } else if (option == "--still-seconds") {
      int seconds = 0;
      if (!ParseJobs(value, seconds) || seconds > 3600) {
        AError = "invalid length '" + value + "' for '--still-seconds' (1 to 3600 seconds)";
        return false;
      }
      ACommand.Content.StillSeconds = seconds;
    }
    const bool contentOption = option == "--audio-track" || option == "--subtitles" ||
                               option == "--start" || option == "--end" ||
                               option == "--still-seconds";
    if ((option == "--profile" || option == "--output" || option == "--jobs" || contentOption) &&
        conversionOption.empty())
      conversionOption = option;
  }

  if (listGiven && copyGiven) {
    AError = "options '--list' and '--copy-to' cannot be used together";
    return false;
  }
  if (!stickOption.empty()) {
    if (listGiven || copyGiven) {
      AError = std::string("options '") + (listGiven ? "--list" : "--copy-to") + "' and '" +
               stickOption + "' cannot be used together";
      return false;
    }
    if (!conversionOption.empty()) {
      AError = "option '" + conversionOption + "' cannot be used with '" + stickOption + "'";
      return false;
    }
    if (!ACommand.Files.empty()) {
      AError =
          "option '" + stickOption + "' takes no files (unexpected '" + ACommand.Files[0] + "')";
      return false;
    }
    ACommand.DeviceDir = stickDir;
    ACommand.Mode = stickOption == "--eject" ? TCommandMode::cmEject : TCommandMode::cmStickList;
    return true;
  }
  if ((listGiven || copyGiven) && !conversionOption.empty()) {
    AError = "option '" + conversionOption + "' cannot be used with '" +
             (listGiven ? "--list" : "--copy-to") + "'";
    return false;
  }
  if (listGiven) {
    if (!ACommand.Files.empty()) {
      AError = "option '--list' takes no files (unexpected '" + ACommand.Files[0] + "')";
      return false;
    }
    ACommand.Mode = TCommandMode::cmList;
    return true;
  }
  if (copyGiven) {
    // No files is not a usage error: the copy's own checks report the empty selection.
    ACommand.Mode = TCommandMode::cmCopy;
    return true;
  }
  if (ACommand.Content.EndMs >= 0 &&
      ACommand.Content.EndMs <= std::max<int64_t>(ACommand.Content.StartMs, 0)) {
    AError = "the end (" + FormatClockTime(ACommand.Content.EndMs) + ") is not after the start (" +
             FormatClockTime(std::max<int64_t>(ACommand.Content.StartMs, 0)) + ")";
    return false;
  }
  if (ACommand.Files.empty()) {
    AError = "no input files";
    return false;
  }
  ACommand.Mode = TCommandMode::cmConvert;
  return true;
}

std::string UsageText() {
  std::string text =
      "Usage: korvelo-convert [--profile N|NAME] [--output DIR] [--jobs N] FILE...\n"
      "       korvelo-convert --list DIR\n"
      "       korvelo-convert --copy-to DEVICE [FILE...]\n"
      "       korvelo-convert --stick-list DEVICE\n"
      "       korvelo-convert --eject DEVICE\n"
      "Convert video, audio and picture files into MP4 files the PSP plays, list the\n"
      "converted files, and copy them to the PSP's memory stick. An input without\n"
      "pictures gets a black picture, one without sound gets silence.\n"
      "\n"
      "Converting:\n"
      "  -p, --profile N|NAME  the output profile: its number, its name, or its kind and\n"
      "                        size such as AVC-480x272 (default: 4)\n"
      "  -o, --output DIR      output folder (default: the current folder); the files go to\n"
      "                        its AVC or MPEG4 sub-folder, which is created when missing\n"
      "  -j, --jobs N          convert up to N files at the same time (default: one per\n"
      "                        processor core)\n"
      "      --audio-track N|LANG  the sound track: the Nth of the file's sound tracks, or\n"
      "                        the first in a language such as eng or de (default: the\n"
      "                        file's first sound track)\n"
      "      --subtitles N|LANG|FILE|none  subtitles burned into the picture: the Nth\n"
      "                        subtitles (the file's streams, then NAME.srt, .ass, .ssa\n"
      "                        and NAME.LANG.srt beside it), the first in a language, or\n"
      "                        a .srt/.ass/.ssa file\n"
      "                        (default: none, or a forced stream when the sound is not in\n"
      "                        your language)\n"
      "      --start TIME      convert from TIME (HH:MM:SS[.mmm] or seconds) on\n"
      "      --end TIME        convert up to TIME; the thumbnail and the progress follow\n"
      "      --still-seconds N how long a picture (JPEG, PNG, BMP) shows, with silent sound\n"
      "                        (default: 5)\n"
      "  Existing files are never replaced: a name that is taken gets \"(1)\", \"(2)\", ...\n"
      "  Each finished file gets its PSP thumbnail (.THM) beside it. Ctrl-C stops the\n"
      "  running conversions and keeps what they have written so far.\n"
      "\n"
      "Device library:\n"
      "      --list DIR        list the converted files in DIR's AVC and MPEG4 sub-folders\n"
      "      --copy-to DEVICE  copy converted files and their thumbnails to the memory stick\n"
      "                        mounted at DEVICE (MP_ROOT/100ANV01 for AVC, MP_ROOT/100MNV01\n"
      "                        for MPEG4), under the lowest free PSP file numbers;\n"
      "                        files already on the stick are never replaced, and a\n"
      "                        file the PSP cannot play is named and left out, and so is\n"
      "                        one whose twin (same size and content) is on the stick\n"
      "      --stick-list DEVICE  list the videos on the memory stick mounted at DEVICE:\n"
      "                        PSP name, title, duration, size, and why the PSP will not\n"
      "                        play one\n"
      "      --eject DEVICE    write out what is cached, unmount the memory stick that\n"
      "                        DEVICE (its device folder, or any path on it) lies on and\n"
      "                        power it off, through udisks2 on the system bus; a busy\n"
      "                        stick names the programs holding its files\n"
      "\n"
      "  -h, --help            show this help and exit\n"
      "  -V, --version         show the version and exit\n"
      "\n"
      "Profiles:\n";
  for (int i = 0; i < PSPProfileCount; ++i) {
    const TPSPProfile &profile = PSPProfiles[i];
    text += "  " + std::to_string(i) + "  " + profile.Name + "  (" + profile.Kind + "-" +
            profile.Size + ")" + (i == DefaultProfileIndex ? "  default" : "") + "\n";
  }
  text += "\n"
          "Exit status: 0 when every file was converted (or copied, or the stick ejected),\n"
          "1 when one failed or was refused, 2 for a usage error, 128 + the signal number\n"
          "when interrupted.\n";
  return text;
}
