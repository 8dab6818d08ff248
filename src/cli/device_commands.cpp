#include "cli/device_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cwchar>
#include <locale.h>
#include <wchar.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>

#include "app/device_library.h"
#include "app/folders.h"
#include "app/i18n.h"
#include "app/output_verdict.h"
#include "app/profiles.h"
#include "app/psp_stick.h"
#include "app/size_estimate.h"
#include "app/stick_errand.h"
#include "app/stick_fit.h"
#include "app/stick_eject.h"
#include "app/thumbnail.h"
#include "cli/progress_view.h"
#include "cli/udisks2_sdbus.h"
#include "medialib/media_functions.h"
#include "probe/av_probe.h"

namespace fs = std::filesystem;

namespace {

// The columns AText takes on a terminal: wide characters two, combining marks none. The C
// library's tables are read under a UTF-8 locale for this thread only.
size_t DisplayColumns(const std::string &AText) {
  static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  if (utf8 == nullptr)
    return AText.size();
  const locale_t previous = ::uselocale(utf8);
  size_t columns = 0;
  std::mbstate_t state{};
  for (size_t at = 0; at < AText.size();) {
    wchar_t c = 0;
    const size_t n = std::mbrtowc(&c, AText.data() + at, AText.size() - at, &state);
    if (n == 0 || n > AText.size() - at) { // a byte that starts no character: one column
      state = std::mbstate_t{};
      ++columns;
      ++at;
      continue;
    }
    const int width = ::wcwidth(c);
    columns += width < 0 ? 1 : static_cast<size_t>(width);
    at += n;
  }
  ::uselocale(previous);
  return columns;
}

std::string PadRight(const std::string &AText, size_t AWidth) {
  const size_t columns = DisplayColumns(AText);
  return columns >= AWidth ? AText : AText + std::string(AWidth - columns, ' ');
}

std::string PadLeft(const std::string &AText, size_t AWidth) {
  const size_t columns = DisplayColumns(AText);
  return columns >= AWidth ? AText : std::string(AWidth - columns, ' ') + AText;
}

std::string FileNameOf(const std::string &APath) {
  const size_t slash = APath.find_last_of('/');
  return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

// The extension of APath in lower case, with its dot ("" when it has none).
std::string LowerExtension(const std::string &APath) {
  const size_t dot = APath.find_last_of("./");
  if (dot == std::string::npos || APath[dot] != '.')
    return {};
  std::string extension = APath.substr(dot);
  for (char &c : extension)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

} // namespace

int ListCommand(const std::string &ADir, FILE *AOut, FILE *AErr) {
  std::error_code ec;
  if (!fs::is_directory(ADir, ec)) {
    std::fprintf(AErr, "korvelo-convert: %s: %s\n", PrintableText(ADir).c_str(),
                 _("no such folder"));
    return 1;
  }
  // Listing never creates the sub-folders: a folder without them simply holds no files.
  const std::string root = WithSeparator(ADir);
  auto folder = [&](const char *AName) {
    const std::string path = root + AName + "/";
    return fs::is_directory(path, ec) ? path : std::string();
  };
  TAVProbe probe;
  const std::vector<TConvertedFile> files =
      ListConvertedFiles(folder("AVC"), folder("MPEG4"), ProbeDurationReader(probe));
  if (files.empty()) {
    std::fprintf(AOut, _("No converted files in %s\n"), PrintableText(ADir).c_str());
    return 0;
  }
  size_t nameWidth = 8;
  for (const TConvertedFile &file : files)
    nameWidth = std::max(nameWidth, DisplayColumns(PrintableText(file.Name)));
  std::string text = PadRight(_("Filename"), nameWidth) + "  " + PadRight(_("Format"), 6) + "  " +
                     PadLeft(_("Duration"), 12) + "  " + PadLeft(_("File Size"), 14) + "\n";
  int64_t total = 0;
  for (const TConvertedFile &file : files) {
    text += PadRight(PrintableText(file.Name), nameWidth) + "  " + PadRight(file.Format, 6) + "  " +
            PadLeft(FormatDuration(file.DurationUs / 1000), 12) + "  " +
            PadLeft(FormatSizeKB(file.Size), 14) +
            (file.Finished ? "" : std::string("  ") + _("incomplete")) + "\n";
    total += file.Size;
  }
  text += FormatText(TranslatePlural("%zu file, %s", "%zu files, %s", files.size()), files.size(),
                     FormatSizeKB(total).c_str()) +
          "\n";
  std::fputs(text.c_str(), AOut);
  return 0;
}

int StickListCommand(const std::string &ADevice, FILE *AOut, FILE *AErr) {
  std::error_code ec;
  if (!fs::is_directory(ADevice, ec)) {
    std::fprintf(AErr, "korvelo-convert: %s: %s\n", PrintableText(ADevice).c_str(),
                 _("no such folder"));
    return 1;
  }
  const std::vector<TStickVideo> videos = ListStickVideos(ADevice);
  if (videos.empty()) {
    std::fprintf(AOut, _("No videos on the memory stick at %s\n"), PrintableText(ADevice).c_str());
    return 0;
  }
  size_t nameWidth = 8, titleWidth = 5;
  for (const TStickVideo &video : videos) {
    nameWidth = std::max(nameWidth, DisplayColumns(PrintableText(video.Name)));
    titleWidth = std::max(titleWidth, DisplayColumns(FitToColumns(PrintableText(video.Title), 40)));
  }
  std::string text = PadRight(_("PSP name"), nameWidth) + "  " + PadRight(_("Title"), titleWidth) +
                     "  " + PadLeft(_("Duration"), 12) + "  " + PadLeft(_("File Size"), 14) + "  " +
                     _("Plays") + "\n";
  int64_t total = 0;
  for (const TStickVideo &video : videos) {
    text += PadRight(PrintableText(video.Name), nameWidth) + "  " +
            PadRight(FitToColumns(PrintableText(video.Title), 40), titleWidth) + "  " +
            PadLeft(video.DurationUs < 0 ? "" : FormatDuration(video.DurationUs / 1000), 12) +
            "  " + PadLeft(FormatSizeKB(video.Size), 14) + "  " +
            (video.Problem.empty() ? std::string(_("yes"))
                                   : FormatText(_("no: %s"), video.Problem.c_str())) +
            "\n";
    total += video.Size;
  }
  text += FormatText(TranslatePlural("%zu video, %s", "%zu videos, %s", videos.size()),
                     videos.size(), FormatSizeKB(total).c_str()) +
          "\n";
  std::fputs(text.c_str(), AOut);
  return 0;
}

int EjectCommand(const std::string &APath, FILE *AOut, FILE *AErr) {
  TSdBusUDisks2Bus udisks;
  const TEjectResult result = EjectStick(APath, udisks);
  if (result.Ejected) {
    std::fprintf(AOut, "%s\n", PrintableText(result.Message).c_str());
    return 0;
  }
  std::fprintf(AErr, "korvelo-convert: %s\n", PrintableText(result.Message).c_str());
  return 1;
}

namespace {

// The files named for a copy that may go onto the stick, with their device kinds; each one left
// out is named on AErr and makes AStatus 1.
std::vector<TCopySource> CopySources(const std::vector<std::string> &AFiles, bool ATakePartial,
                                     FILE *AErr, int &AStatus) {
  std::vector<TCopySource> selected;
  std::set<std::string> seen;
  const std::set<std::string> named(AFiles.begin(), AFiles.end());
  auto refuse = [&](const std::string &AFile, const std::string &AWhy) {
    std::fprintf(AErr, "korvelo-convert: %s: %s\n", PrintableText(AFile).c_str(),
                 PrintableText(AWhy).c_str());
    AStatus = 1;
  };
  for (const std::string &file : AFiles) {
    const std::string extension = LowerExtension(file);
    // A thumbnail named beside its video (as "out/AVC/*" names it) goes along with the video.
    const std::string stem = file.substr(0, file.size() - extension.size());
    if (extension == ".thm" && (named.count(stem + ".mp4") || named.count(stem + ".MP4")))
      continue;
    if (extension != ".mp4") {
      refuse(file, _("not an MP4 file"));
      continue;
    }
    struct stat st {};
    const bool found = ::stat(file.c_str(), &st) == 0;
    const int error = errno;
    if (!found || !S_ISREG(st.st_mode)) {
      refuse(file, found ? _("not a regular file") : std::strerror(error));
      continue;
    }
    std::string reason;
    const std::string format = FormatOfPSPVideo(file, reason);
    if (format.empty()) {
      refuse(file, reason);
      continue;
    }
    // Part of a video would play on the PSP as if it were the whole: only when asked for.
    if (!ATakePartial && IsPartialConversion(file)) {
      refuse(file, FormatText(_("its conversion did not finish (stopped or cut off), left out; "
                                "%s copies it all the same"),
                              "--copy-incomplete"));
      continue;
    }
    // The same file named twice is copied once.
    if (seen.insert(std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)).second)
      selected.push_back({file, format});
  }
  return selected;
}

// The copy's progress: one line rewritten in place on a terminal, a line per file otherwise.
class TCopyProgressLine {
public:
  TCopyProgressLine(FILE *AOut, const std::atomic<int> &ACancel)
      : FOut(AOut), FCancel(ACancel), FTerminal(::isatty(::fileno(AOut)) != 0) {}

  bool Show(const TCopyProgress &AProgress) {
    if (FCancel.load() != 0)
      return false;
    if (FTerminal) {
      const int percent = AProgress.BytesTotal > 0
                              ? static_cast<int>(100 * AProgress.BytesDone / AProgress.BytesTotal)
                              : 100;
      const std::string line =
          FormatText(_("Copying %zu/%zu"), AProgress.FileIndex + 1, AProgress.FileCount) + "  " +
          std::to_string(percent) + "%  " + FileNameOf(AProgress.Source) + " -> " +
          AProgress.Target;
      std::fputs(("\r\033[K" + FitToColumns(PrintableText(line), 79)).c_str(), FOut);
      std::fflush(FOut);
      FShown = true;
    } else if (AProgress.FileIndex != FLastFile) {
      std::fprintf(FOut, _("copying %s -> %s\n"), PrintableText(AProgress.Source).c_str(),
                   PrintableText(AProgress.Target).c_str());
      std::fflush(FOut);
    }
    FLastFile = AProgress.FileIndex;
    return true;
  }
  // Clears a progress line that waits to be overwritten, before other text.
  void End() {
    if (FShown)
      std::fputs("\r\033[K", FOut);
    FShown = false;
    std::fflush(FOut);
  }

private:
  FILE *FOut;
  const std::atomic<int> &FCancel;
  bool FTerminal, FShown = false;
  size_t FLastFile = static_cast<size_t>(-1);
};

} // namespace

int CopyCommand(const std::string &ADevice, const std::vector<std::string> &AFiles,
                const std::atomic<int> &ACancel, FILE *AOut, FILE *AErr, bool ATakePartial) {
  int status = 0;
  const std::vector<TCopySource> selected = CopySources(AFiles, ATakePartial, AErr, status);
  TCopyProgressLine line(AOut, ACancel);
  size_t refusals = 0; // messages that mean a file asked for is not on the stick
  auto message = [&](const std::string &AText) {
    line.End();
    const bool good = AText == MsgCopied || AText.rfind("Removed ", 0) == 0;
    refusals += good ? 0 : 1;
    FILE *stream = good ? AOut : AErr;
    // The core's fixed messages are in the catalogue; one naming files shows as it came.
    std::fprintf(stream, "%s\n", PrintableText(Translate(AText.c_str())).c_str());
    std::fflush(stream);
  };

  // Twins already on the stick and files too big for its FAT are named and left out.
  const TStickCopyPlan plan = PlanStickCopy(ADevice, selected);
  for (const std::string &left : plan.Messages) {
    std::fprintf(AErr, "korvelo-convert: %s\n", PrintableText(left).c_str());
    status = 1;
  }
  if (!selected.empty() && plan.Kept.empty())
    return status;
  const TCopyResult result = CopyToDevice(
      ADevice, plan.Kept, [&](const TCopyProgress &AProgress) { return line.Show(AProgress); },
      message);
  line.End();
  if (result.Outcome == TCopyOutcome::coFailed)
    std::fprintf(AErr, "korvelo-convert: %s\n",
                 PrintableText(CopyFailureDetails(ADevice, result)).c_str());
  if (result.Outcome == TCopyOutcome::coNothing)
    std::fprintf(AErr, "korvelo-convert: %s\n", _("none of the files could be found any more"));
  for (const std::string &copied : CopiedLines(ADevice, result))
    std::fprintf(AOut, "%s\n", PrintableText(copied).c_str());
  // Every file asked for is on the device only when nothing was refused or left out; removing
  // an earlier copy's leftovers is no failure.
  if (result.Outcome != TCopyOutcome::coCopied || refusals > 0)
    status = 1;
  return status;
}

namespace {

// The files of a --to-stick in the person's order: PSP videos taken as they are, the others
// waiting for their conversion (Pending lists their places).
struct TToStickPlan {
  std::vector<TErrandVideo> Videos;
  std::vector<std::string> ToConvert;
  std::vector<size_t> Pending;
};

TToStickPlan PlanToStick(const std::vector<std::string> &AFiles) {
  TToStickPlan plan;
  for (const std::string &file : AFiles) {
    TErrandVideo video;
    video.Name = FileNameOf(file);
    std::string reason;
    if (LowerExtension(file) == ".mp4") // only an MP4 can be a PSP video already
      video.Format = FormatOfPSPVideo(file, reason);
    if (!video.Format.empty() && !IsPartialConversion(file)) {
      video.Path = file;
    } else {
      video.Format.clear();
      plan.Pending.push_back(plan.Videos.size());
      plan.ToConvert.push_back(file);
    }
    plan.Videos.push_back(video);
  }
  return plan;
}

// What converting AFiles comes to, from their probed lengths (the range asked for, when one is).
std::vector<TFitInput> FitInputs(const std::vector<std::string> &AFiles,
                                 const TContentChoice &AContent) {
  std::vector<TFitInput> inputs;
  TAVProbe probe;
  for (const std::string &file : AFiles) {
    TFitInput input;
    try {
      if (probe.LoadFile(file)) {
        TAVFileInfo info;
        probe.GetFileInfo(info);
        const int64_t start = std::max<int64_t>(AContent.StartMs, 0) * 1000;
        const int64_t end = AContent.EndMs >= 0
                                ? std::min<int64_t>(AContent.EndMs * 1000, info.Duration)
                                : info.Duration;
        input.DurationUs = std::max<int64_t>(end - start, 0);
        input.HasVideo = probe.VideoStreamCount() > 0;
      }
    } catch (const std::exception &) {
    }
    probe.CloseFile();
    inputs.push_back(input);
  }
  return inputs;
}

// The converted outputs take their places in the plan, or say why they are missing.
void TakeConversions(const std::vector<TJobStatus> &AJobs, TToStickPlan &APlan) {
  for (size_t i = 0; i < APlan.Pending.size(); ++i) {
    TErrandVideo &video = APlan.Videos[APlan.Pending[i]];
    if (i >= AJobs.size() || AJobs[i].State != TJobState::jsFinished) {
      const bool failed = i < AJobs.size() && AJobs[i].State == TJobState::jsFailed;
      video.Why = std::string(failed ? _("not converted") : _("its conversion was stopped")) +
                  (i < AJobs.size() && !AJobs[i].Message.empty() ? ": " + AJobs[i].Message : "");
      continue;
    }
    video.Path = AJobs[i].OutputFile;
    std::string reason;
    video.Format = FormatOfPSPVideo(video.Path, reason);
    if (video.Format.empty())
      video.Why = reason;
  }
}

} // namespace

int ToStickCommand(const TCommandLine &ACommand, const TConvertFunction &AConvert,
                   const TGuardedCopy &AGuard, FILE *AOut, FILE *AErr) {
  const std::string &device = ACommand.DeviceDir;
  if (DeviceFreeSpace(device) < 0) {
    std::fprintf(AErr, "korvelo-convert: %s: %s\n", PrintableText(device).c_str(),
                 _(MsgDeviceFolderMissing));
    return 1;
  }
  TToStickPlan plan = PlanToStick(ACommand.Files);
  TContentChoice content = ACommand.Content;
  const int profile = ACommand.ProfileIndex >= 0 ? ACommand.ProfileIndex : DefaultProfileIndex;
  TStickFit fit;
  const int64_t cluster = StickClusterBytes(device);
  if (ACommand.FitStick && !plan.ToConvert.empty()) {
    int64_t taken = 0;
    for (const TErrandVideo &video : plan.Videos)
      taken += video.Path.empty() ? 0 : StickRoomFor(video.Path, cluster);
    fit = FitToStick(profile, FitInputs(plan.ToConvert, content), taken, DeviceFreeSpace(device),
                     cluster);
    FILE *stream = fit.Possible ? AOut : AErr;
    std::fprintf(stream, "%s%s\n", fit.Possible ? "" : "korvelo-convert: ", fit.Text().c_str());
    if (!fit.Possible)
      return 1;
    if (!fit.FitsAsIs)
      content.VideoBitrate = fit.VideoBitrate;
  }
  int status = 0;
  if (!plan.ToConvert.empty()) {
    std::vector<TJobStatus> jobs;
    status = AConvert(plan.ToConvert, content, jobs);
    if (status >= 128) // interrupted: nothing goes to the stick
      return status;
    TakeConversions(jobs, plan);
  }
  TErrandReport report;
  const int copyStatus = AGuard([&](const std::atomic<int> &ACancel) {
    TCopyProgressLine line(AOut, ACancel);
    report = SendToStick(device, plan.Videos,
                         [&](const TCopyProgress &AProgress) { return line.Show(AProgress); });
    line.End();
    return 0;
  });
  for (const std::string &message : report.Messages)
    std::fprintf(AOut, "%s\n", PrintableText(message).c_str());
  if (ACommand.FitStick && !fit.FitsAsIs) {
    int64_t real = 0;
    for (const TErrandVideo &video : plan.Videos)
      real += video.Path.empty() ? 0 : StickRoomFor(video.Path, cluster);
    std::fprintf(AOut, "%s\n", EstimateAfterText(fit.Expected, real).c_str());
  }
  std::istringstream lines(report.Text());
  for (std::string text; std::getline(lines, text);)
    std::fprintf(AOut, "%s\n", PrintableText(text).c_str());
  std::fflush(AOut);
  if (copyStatus != 0)
    return copyStatus;
  status = report.Complete() ? status : 1;
  if (ACommand.EjectAfter && EjectCommand(device, AOut, AErr) != 0)
    status = 1;
  return status;
}
