#include "cli/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/i18n.h"
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

// What has been read so far of the command line.
struct TParse {
  explicit TParse(TCommandLine &ACommand) : Command(ACommand) {}
  TCommandLine &Command;
  bool ListGiven = false, CopyGiven = false, ToStickGiven = false;
  std::string StickOption, StickDir; // --stick-list or --eject, and its folder
  std::string ConversionOption;      // the first option given that only a conversion uses
};

using THandler = bool (*)(TParse &AParse, const std::string &AOption, const std::string &AValue,
                          std::string &AError);

// One option of the table below: its names, whether it takes a value, whether only a
// conversion uses it, and what it sets.
struct TOptionSpec {
  const char *Long;
  const char *Short; // "" when it has none
  bool TakesValue;
  bool Conversion;
  THandler Handle;
};

// AWhat: the message, with the option's name for its %s.
bool NonEmpty(const std::string &AOption, const std::string &AValue, const char *AWhat,
              std::string &AError) {
  if (AValue.empty())
    AError = FormatText(Translate(AWhat), AOption.c_str());
  return !AValue.empty();
}

bool Once(bool &AGiven, const std::string &AOption, std::string &AError) {
  if (AGiven)
    AError = FormatText(_("option '%s' given twice"), AOption.c_str());
  const bool first = !AGiven;
  AGiven = true;
  return first;
}

bool HandleProfile(TParse &AParse, const std::string &, const std::string &AValue,
                   std::string &AError) {
  AParse.Command.ProfileIndex = ProfileFromArgument(AValue);
  if (AParse.Command.ProfileIndex < 0)
    AError = FormatText(_("invalid profile '%s' (see --help for the profiles)"), AValue.c_str());
  return AParse.Command.ProfileIndex >= 0;
}

bool HandleOutput(TParse &AParse, const std::string &AOption, const std::string &AValue,
                  std::string &AError) {
  AParse.Command.OutputDir = AValue;
  return NonEmpty(AOption, AValue, N_("option '%s' requires a folder"), AError);
}

bool HandleJobs(TParse &AParse, const std::string &, const std::string &AValue,
                std::string &AError) {
  if (ParseJobs(AValue, AParse.Command.Jobs))
    return true;
  AError = FormatText(_("invalid number of jobs '%s' (a whole number from 1 to %d)"),
                      AValue.c_str(), MaxJobs);
  return false;
}

bool HandleList(TParse &AParse, const std::string &AOption, const std::string &AValue,
                std::string &AError) {
  AParse.Command.ListDir = AValue;
  return Once(AParse.ListGiven, AOption, AError) &&
         NonEmpty(AOption, AValue, N_("option '%s' requires a folder"), AError);
}

bool HandleCopyTo(TParse &AParse, const std::string &AOption, const std::string &AValue,
                  std::string &AError) {
  AParse.Command.DeviceDir = AValue;
  return Once(AParse.CopyGiven, AOption, AError) &&
         NonEmpty(AOption, AValue, N_("option '%s' requires a device folder"), AError);
}

bool HandleToStick(TParse &AParse, const std::string &AOption, const std::string &AValue,
                   std::string &AError) {
  AParse.Command.DeviceDir = AValue;
  return Once(AParse.ToStickGiven, AOption, AError) &&
         NonEmpty(AOption, AValue, N_("option '%s' requires a device folder"), AError);
}

bool HandleStick(TParse &AParse, const std::string &AOption, const std::string &AValue,
                 std::string &AError) {
  if (AOption == "--eject" && AParse.ToStickGiven) {
    AParse.Command.EjectAfter = true; // with --to-stick, --eject takes no folder
    return true;
  }
  if (!AParse.StickOption.empty()) {
    AError = AParse.StickOption == AOption
                 ? FormatText(_("option '%s' given twice"), AOption.c_str())
                 : FormatText(_("options '%s' and '%s' cannot be used together"),
                              AParse.StickOption.c_str(), AOption.c_str());
    return false;
  }
  AParse.StickOption = AOption;
  AParse.StickDir = AValue;
  return NonEmpty(AOption, AValue, N_("option '%s' requires a device folder"), AError);
}

bool HandleContent(TParse &AParse, const std::string &AOption, const std::string &AValue,
                   std::string &AError) {
  TContentChoice &content = AParse.Command.Content;
  if (AOption == "--audio-track" || AOption == "--subtitles") {
    (AOption == "--audio-track" ? content.AudioTrack : content.Subtitles) = AValue;
    return NonEmpty(AOption, AValue, N_("option '%s' requires a value"), AError);
  }
  if (AOption == "--still-seconds") {
    int seconds = 0;
    if (!ParseJobs(AValue, seconds) || seconds > 3600) {
      AError = FormatText(_("invalid length '%s' for '--still-seconds' (1 to 3600 seconds)"),
                          AValue.c_str());
      return false;
    }
    content.StillSeconds = seconds;
    return true;
  }
  int64_t ms = 0;
  if (!ParseClockTime(AValue, ms)) {
    AError = FormatText(_("invalid time '%s' for '%s' (HH:MM:SS[.mmm] or seconds)"), AValue.c_str(),
                        AOption.c_str());
    return false;
  }
  (AOption == "--start" ? content.StartMs : content.EndMs) = ms;
  return true;
}

bool HandleFlag(TParse &AParse, const std::string &AOption, const std::string &, std::string &) {
  (AOption == "--fit-stick" ? AParse.Command.FitStick : AParse.Command.TakePartial) = true;
  return true;
}

// Every option but --help and --version; kept as data so that each rule is one row.
const TOptionSpec Options[] = {
    {"--profile", "-p", true, true, HandleProfile},
    {"--output", "-o", true, true, HandleOutput},
    {"--jobs", "-j", true, true, HandleJobs},
    {"--list", "", true, false, HandleList},
    {"--copy-to", "", true, false, HandleCopyTo},
    {"--copy-incomplete", "", false, false, HandleFlag},
    {"--to-stick", "", true, false, HandleToStick},
    {"--fit-stick", "", false, false, HandleFlag},
    {"--stick-list", "", true, false, HandleStick},
    {"--eject", "", true, false, HandleStick},
    {"--audio-track", "", true, true, HandleContent},
    {"--subtitles", "", true, true, HandleContent},
    {"--start", "", true, true, HandleContent},
    {"--end", "", true, true, HandleContent},
    {"--still-seconds", "", true, true, HandleContent},
};

const TOptionSpec *FindOption(const std::string &AName) {
  for (const TOptionSpec &option : Options)
    if (AName == option.Long || (*option.Short != '\0' && AName == option.Short))
      return &option;
  return nullptr;
}

// Reads the option at AArgs[AIndex] (and its value, which may be the next argument).
bool ReadOption(TParse &AParse, const std::vector<std::string> &AArgs, size_t &AIndex,
                std::string &AError) {
  const std::string &arg = AArgs[AIndex];
  // The value: "--name=value", "-xVALUE", or the next argument.
  std::string name = arg, value;
  bool hasValue = false;
  const size_t eq = arg.find('=');
  if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
    name = arg.substr(0, eq);
    value = arg.substr(eq + 1);
    hasValue = true;
  } else if (arg.compare(0, 2, "--") != 0 && arg.size() > 2) {
    name = arg.substr(0, 2);
    value = arg.substr(2);
    hasValue = true;
  }
  const TOptionSpec *option = FindOption(name);
  if (!option) {
    AError = FormatText(_("unrecognized option '%s'"), arg.c_str());
    return false;
  }
  const bool takesValue = option->TakesValue && !(name == "--eject" && AParse.ToStickGiven);
  if (!takesValue && hasValue) {
    AError = FormatText(_("option '%s' doesn't allow an argument"), name.c_str());
    return false;
  }
  if (takesValue && !hasValue) {
    if (AIndex + 1 >= AArgs.size()) {
      AError = FormatText(_("option '%s' requires an argument"), name.c_str());
      return false;
    }
    value = AArgs[++AIndex];
  }
  if (option->Conversion && AParse.ConversionOption.empty())
    AParse.ConversionOption = option->Long;
  return option->Handle(AParse, option->Long, value, AError);
}

bool Fail(std::string &AError, const std::string &AText) {
  AError = AText;
  return false;
}

// The modes that take no conversion: --list, --copy-to, --stick-list, --eject DEVICE.
bool FinishDeviceMode(TParse &AParse, std::string &AError) {
  TCommandLine &command = AParse.Command;
  const std::string mode = !AParse.StickOption.empty() ? AParse.StickOption
                           : AParse.ListGiven          ? "--list"
                                                       : "--copy-to";
  if (AParse.ListGiven && AParse.CopyGiven)
    return Fail(AError, FormatText(_("options '%s' and '%s' cannot be used together"), "--list",
                                   "--copy-to"));
  if (!AParse.StickOption.empty() && (AParse.ListGiven || AParse.CopyGiven))
    return Fail(AError,
                FormatText(_("options '%s' and '%s' cannot be used together"),
                           AParse.ListGiven ? "--list" : "--copy-to", AParse.StickOption.c_str()));
  const char *const notWith = _("option '%s' cannot be used with '%s'");
  if (!AParse.ConversionOption.empty())
    return Fail(AError, FormatText(notWith, AParse.ConversionOption.c_str(), mode.c_str()));
  if (command.TakePartial && mode != "--copy-to")
    return Fail(AError, FormatText(notWith, "--copy-incomplete", mode.c_str()));
  if (command.FitStick)
    return Fail(AError, FormatText(notWith, "--fit-stick", mode.c_str()));
  // No files is not a usage error for a copy: its own checks report the empty selection.
  if (mode != "--copy-to" && !command.Files.empty())
    return Fail(AError, FormatText(_("option '%s' takes no files (unexpected '%s')"), mode.c_str(),
                                   command.Files[0].c_str()));
  if (!AParse.StickOption.empty()) {
    command.DeviceDir = AParse.StickDir;
    command.Mode = mode == "--eject" ? TCommandMode::cmEject : TCommandMode::cmStickList;
  } else {
    command.Mode = AParse.ListGiven ? TCommandMode::cmList : TCommandMode::cmCopy;
  }
  return true;
}

// A conversion, or a conversion onto the stick with --to-stick.
bool FinishConversion(TParse &AParse, std::string &AError) {
  TCommandLine &command = AParse.Command;
  if (AParse.ToStickGiven && (AParse.ListGiven || AParse.CopyGiven || !AParse.StickOption.empty()))
    return Fail(AError, FormatText(_("option '%s' cannot be used with '%s'"),
                                   AParse.ListGiven   ? "--list"
                                   : AParse.CopyGiven ? "--copy-to"
                                                      : AParse.StickOption.c_str(),
                                   "--to-stick"));
  if (command.TakePartial)
    return Fail(AError, FormatText(_("option '%s' cannot be used with '%s': a stopped or cut-off "
                                     "conversion is never sent to the stick"),
                                   "--copy-incomplete", "--to-stick"));
  if (command.FitStick && !AParse.ToStickGiven)
    return Fail(AError, FormatText(_("option '%s' needs '%s'"), "--fit-stick", "--to-stick"));
  const TContentChoice &content = command.Content;
  if (content.EndMs >= 0 && content.EndMs <= std::max<int64_t>(content.StartMs, 0))
    return Fail(AError, FormatText(_("the end (%s) is not after the start (%s)"),
                                   FormatClockTime(content.EndMs).c_str(),
                                   FormatClockTime(std::max<int64_t>(content.StartMs, 0)).c_str()));
  if (command.Files.empty())
    return Fail(AError, _("no input files"));
  command.Mode = AParse.ToStickGiven ? TCommandMode::cmToStick : TCommandMode::cmConvert;
  return true;
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
  TParse parse(ACommand);
  // --eject is a plain switch when --to-stick is anywhere on the line, so it is looked for first.
  for (const std::string &arg : AArgs) {
    if (arg == "--")
      break;
    parse.ToStickGiven =
        parse.ToStickGiven || arg == "--to-stick" || arg.rfind("--to-stick=", 0) == 0;
  }
  const bool toStick = parse.ToStickGiven;
  parse.ToStickGiven = false;
  bool optionsEnded = false;
  for (size_t i = 0; i < AArgs.size(); ++i) {
    const std::string &arg = AArgs[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      ACommand.Files.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h" || arg == "--version" || arg == "-V") {
      ACommand.Mode =
          arg == "--help" || arg == "-h" ? TCommandMode::cmHelp : TCommandMode::cmVersion;
      return true;
    } else {
      if (toStick && arg == "--eject") {
        ACommand.EjectAfter = true;
        continue;
      }
      if (!ReadOption(parse, AArgs, i, AError))
        return false;
    }
  }
  const bool deviceMode =
      !parse.ToStickGiven && (parse.ListGiven || parse.CopyGiven || !parse.StickOption.empty());
  return deviceMode ? FinishDeviceMode(parse, AError) : FinishConversion(parse, AError);
}

namespace {

// The end of the help: the profiles, then what the exit status tells.
std::string ProfilesAndExitStatusText() {
  std::string text = _("Profiles:\n");
  for (int i = 0; i < PSPProfileCount; ++i) {
    const TPSPProfile &profile = PSPProfiles[i];
    text += "  " + std::to_string(i) + "  " + profile.Name + "  (" + profile.Kind + "-" +
            profile.Size + ")" +
            (i == DefaultProfileIndex ? std::string("  ") + _("default") : "") + "\n";
  }
  text += "\n";
  text += _("Exit status: 0 when every file was converted (or copied, or the stick ejected),\n"
            "1 when one failed or was refused, 2 for a usage error, 128 + the signal number\n"
            "when interrupted.\n");
  return text;
}

} // namespace

std::string UsageText() {
  // One text per section, so that a translation keeps the columns of its section.
  std::string text;
  text += _("Usage: korvelo-convert [--profile N|NAME] [--output DIR] [--jobs N] FILE...\n"
            "       korvelo-convert --list DIR\n"
            "       korvelo-convert --copy-to DEVICE [--copy-incomplete] [FILE...]\n"
            "       korvelo-convert --to-stick DEVICE [--fit-stick] [--eject] [options] FILE...\n"
            "       korvelo-convert --stick-list DEVICE\n"
            "       korvelo-convert --eject DEVICE\n"
            "Convert video, audio and picture files into MP4 files the PSP plays, list the\n"
            "converted files, and copy them to the PSP's memory stick. An input without\n"
            "pictures gets a black picture, one without sound gets silence.\n");
  text += "\n";
  text += _("Converting:\n"
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
            "  running conversions and keeps what they have written so far.\n");
  text += "\n";
  text +=
      _("Device library:\n"
        "      --list DIR        list the converted files in DIR's AVC and MPEG4 sub-folders\n"
        "      --copy-to DEVICE  copy converted files and their thumbnails to the memory stick\n"
        "                        mounted at DEVICE (MP_ROOT/100ANV01 for AVC, MP_ROOT/100MNV01\n"
        "                        for MPEG4), under the lowest free PSP file numbers;\n"
        "                        files already on the stick are never replaced, and a\n"
        "                        file the PSP cannot play is named and left out, and so is\n"
        "                        one whose twin (same size and content) is on the stick;\n"
        "                        a conversion that was stopped or cut off is left out\n"
        "      --copy-incomplete with --copy-to: copy such a partial file all the same\n"
        "      --to-stick DEVICE convert the files that are not PSP videos yet (with the\n"
        "                        options above), then copy each finished video in the\n"
        "                        order given while it fits, check each copy on the stick\n"
        "                        (a bad one is removed), and say what is on the stick and\n"
        "                        what did not fit with the room it needs\n"
        "      --fit-stick       with --to-stick: when the files would not fit, convert at\n"
        "                        the bit rate that makes them fit (not below 250 kbit/s:\n"
        "                        then refused, with the room missing)\n"
        "      --stick-list DEVICE  list the videos on the memory stick mounted at DEVICE:\n"
        "                        PSP name, title, duration, size, and why the PSP will not\n"
        "                        play one\n"
        "      --eject DEVICE    write out what is cached, unmount the memory stick that\n"
        "                        DEVICE (its device folder, or any path on it) lies on and\n"
        "                        power it off, through udisks2 on the system bus; a busy\n"
        "                        stick names the programs holding its files; with\n"
        "                        --to-stick, --eject takes no DEVICE and ejects that stick\n"
        "                        when the copy is done\n");
  text += "\n";
  text += _("  -h, --help            show this help and exit\n"
            "  -V, --version         show the version and exit\n");
  text += "\n";
  return text + ProfilesAndExitStatusText();
}
