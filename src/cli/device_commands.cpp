#include "cli/device_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "app/device_library.h"
#include "app/folders.h"
#include "app/profiles.h"
#include "app/psp_stick.h"
#include "app/stick_eject.h"
#include "app/thumbnail.h"
#include "cli/progress_view.h"
#include "cli/udisks2_sdbus.h"
#include "medialib/media_functions.h"
#include "probe/av_probe.h"

namespace fs = std::filesystem;

namespace {

std::string PadRight(const std::string &AText, size_t AWidth) {
  return AText.size() >= AWidth ? AText : AText + std::string(AWidth - AText.size(), ' ');
}

std::string PadLeft(const std::string &AText, size_t AWidth) {
  return AText.size() >= AWidth ? AText : std::string(AWidth - AText.size(), ' ') + AText;
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
    std::fprintf(AErr, "korvelo-convert: %s: no such folder\n", PrintableText(ADir).c_str());
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
    std::fprintf(AOut, "No converted files in %s\n", PrintableText(ADir).c_str());
    return 0;
  }
  size_t nameWidth = 8;
  for (const TConvertedFile &file : files)
    nameWidth = std::max(nameWidth, PrintableText(file.Name).size());
  std::string text = PadRight("Filename", nameWidth) + "  " + PadRight("Format", 6) + "  " +
                     PadLeft("Duration", 12) + "  " + PadLeft("File Size", 14) + "\n";
  int64_t total = 0;
  for (const TConvertedFile &file : files) {
    text += PadRight(PrintableText(file.Name), nameWidth) + "  " + PadRight(file.Format, 6) + "  " +
            PadLeft(FormatDuration(file.DurationUs / 1000), 12) + "  " +
            PadLeft(FormatSizeKB(file.Size), 14) + (file.Finished ? "" : "  incomplete") + "\n";
    total += file.Size;
  }
  text += std::to_string(files.size()) + (files.size() == 1 ? " file, " : " files, ") +
          FormatSizeKB(total) + "\n";
  std::fputs(text.c_str(), AOut);
  return 0;
}

int StickListCommand(const std::string &ADevice, FILE *AOut, FILE *AErr) {
  std::error_code ec;
  if (!fs::is_directory(ADevice, ec)) {
    std::fprintf(AErr, "korvelo-convert: %s: no such folder\n", PrintableText(ADevice).c_str());
    return 1;
  }
  const std::vector<TStickVideo> videos = ListStickVideos(ADevice);
  if (videos.empty()) {
    std::fprintf(AOut, "No videos on the memory stick at %s\n", PrintableText(ADevice).c_str());
    return 0;
  }
  size_t nameWidth = 8, titleWidth = 5;
  for (const TStickVideo &video : videos) {
    nameWidth = std::max(nameWidth, PrintableText(video.Name).size());
    titleWidth = std::max(titleWidth, std::min<size_t>(40, PrintableText(video.Title).size()));
  }
  std::string text = PadRight("PSP name", nameWidth) + "  " + PadRight("Title", titleWidth) + "  " +
                     PadLeft("Duration", 12) + "  " + PadLeft("File Size", 14) + "  Plays\n";
  int64_t total = 0;
  for (const TStickVideo &video : videos) {
    text += PadRight(PrintableText(video.Name), nameWidth) + "  " +
            PadRight(FitToColumns(PrintableText(video.Title), 40), titleWidth) + "  " +
            PadLeft(video.DurationUs < 0 ? "" : FormatDuration(video.DurationUs / 1000), 12) +
            "  " + PadLeft(FormatSizeKB(video.Size), 14) + "  " +
            (video.Problem.empty() ? "yes" : "no: " + video.Problem) + "\n";
    total += video.Size;
  }
  text += std::to_string(videos.size()) + (videos.size() == 1 ? " video, " : " videos, ") +
          FormatSizeKB(total) + "\n";
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

std::string FormatOfPSPVideo(const std::string &APath, std::string &AReason) {
  try {
    TAVProbe probe;
    if (!probe.LoadFile(APath)) {
      AReason = "not a video file the PSP plays";
      return {};
    }
    std::string format;
    const std::string problem = PSPPlayProblem(APath, probe, format);
    AReason =
        problem.empty() ? std::string() : "not a PSP video: " + problem + ", convert it first";
    return problem.empty() ? format : std::string();
  } catch (const std::exception &e) {
    AReason = e.what();
    return {};
  }
}

int CopyCommand(const std::string &ADevice, const std::vector<std::string> &AFiles,
                const std::atomic<int> &ACancel, FILE *AOut, FILE *AErr) {
  int status = 0;
  std::vector<TCopySource> selected;
  std::set<std::string> seen;
  const std::set<std::string> named(AFiles.begin(), AFiles.end());
  for (const std::string &file : AFiles) {
    const std::string extension = LowerExtension(file);
    // A thumbnail named beside its video (as "out/AVC/*" names it) goes along with the video.
    const std::string stem = file.substr(0, file.size() - extension.size());
    if (extension == ".thm" && (named.count(stem + ".mp4") || named.count(stem + ".MP4")))
      continue;
    if (extension != ".mp4") {
      std::fprintf(AErr, "korvelo-convert: %s: not an MP4 file\n", PrintableText(file).c_str());
      status = 1;
      continue;
    }
    struct stat st {};
    const bool found = ::stat(file.c_str(), &st) == 0;
    const int error = errno;
    if (!found || !S_ISREG(st.st_mode)) {
      std::fprintf(AErr, "korvelo-convert: %s: %s\n", PrintableText(file).c_str(),
                   found ? "not a regular file" : std::strerror(error));
      status = 1;
      continue;
    }
    std::string reason;
    const std::string format = FormatOfPSPVideo(file, reason);
    if (format.empty()) {
      std::fprintf(AErr, "korvelo-convert: %s: %s\n", PrintableText(file).c_str(), reason.c_str());
      status = 1;
      continue;
    }
    // The same file named twice is copied once.
    if (seen.insert(std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)).second)
      selected.push_back({file, format});
  }

  const bool terminal = ::isatty(::fileno(AOut)) != 0;
  bool progressShown = false; // a progress line waits to be overwritten on the terminal
  auto endProgressLine = [&] {
    if (progressShown)
      std::fputs("\r\033[K", AOut);
    progressShown = false;
    std::fflush(AOut);
  };
  size_t lastFile = static_cast<size_t>(-1);
  auto progress = [&](const TCopyProgress &AProgress) {
    if (ACancel.load() != 0)
      return false;
    if (terminal) {
      const int percent = AProgress.BytesTotal > 0
                              ? static_cast<int>(100 * AProgress.BytesDone / AProgress.BytesTotal)
                              : 100;
      const std::string line = "Copying " + std::to_string(AProgress.FileIndex + 1) + "/" +
                               std::to_string(AProgress.FileCount) + "  " +
                               std::to_string(percent) + "%  " + FileNameOf(AProgress.Source) +
                               " -> " + AProgress.Target;
      std::fputs(("\r\033[K" + FitToColumns(PrintableText(line), 79)).c_str(), AOut);
      std::fflush(AOut);
      progressShown = true;
    } else if (AProgress.FileIndex != lastFile) {
      std::fprintf(AOut, "copying %s -> %s\n", PrintableText(AProgress.Source).c_str(),
                   PrintableText(AProgress.Target).c_str());
      std::fflush(AOut);
    }
    lastFile = AProgress.FileIndex;
    return true;
  };
  auto message = [&](const std::string &AText) {
    endProgressLine();
    FILE *stream = AText == MsgCopied ? AOut : AErr;
    std::fprintf(stream, "%s\n", AText.c_str());
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
  const TCopyResult result = CopyToDevice(ADevice, plan.Kept, progress, message);
  endProgressLine();
  if (result.Outcome == TCopyOutcome::coFailed && !result.Error.empty())
    std::fprintf(AErr, "korvelo-convert: %s\n", PrintableText(result.Error).c_str());
  if (result.Outcome == TCopyOutcome::coNothing)
    std::fprintf(AErr, "korvelo-convert: none of the files could be found any more\n");
  for (const std::string &line : CopiedLines(ADevice, result))
    std::fprintf(AOut, "%s\n", PrintableText(line).c_str());
  // Every file asked for is on the device only when nothing was refused or left out.
  if (result.Outcome != TCopyOutcome::coCopied || result.Messages.size() > 1)
    status = 1;
  return status;
}
