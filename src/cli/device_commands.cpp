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
#include "app/thumbnail.h"
#include "cli/progress_view.h"
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

// The brand of an MP4-family file's "ftyp" box ("isom", "MSNV", "qt  ", ...); empty without one.
std::string BrandOf(const std::string &APath) {
  char box[12] = {};
  FILE *file = std::fopen(APath.c_str(), "rb");
  if (!file)
    return {};
  const size_t n = std::fread(box, 1, sizeof box, file);
  std::fclose(file);
  if (n < sizeof box || std::memcmp(box + 4, "ftyp", 4) != 0)
    return {};
  return std::string(box + 8, 4);
}

std::string CodecProfileName(AVCodecID ACodec, int AProfile) {
  const char *name = avlib.avcodec_profile_name(ACodec, AProfile);
  return name ? name : "profile " + std::to_string(AProfile);
}

// Why the PSP's video player does not play the loaded file; empty when it does. AFormat
// becomes the device folder's kind: "AVC" for H.264, "MPEG4" for MPEG-4 video.
std::string PSPVideoProblem(const std::string &APath, TAVProbe &AProbe, std::string &AFormat) {
  const std::string brand = BrandOf(APath);
  if (brand == "qt  ")
    return "QuickTime file, not MP4";
  if (AProbe.GetFormatName().rfind("mov,", 0) != 0 || brand.empty())
    return AProbe.GetFormatName() + " file, not MP4";
  if (AProbe.VideoStreamCount() != 1)
    return std::to_string(AProbe.VideoStreamCount()) + " video streams";
  TAVVideoInfo video;
  AProbe.GetVideoInfo(-1, video);
  const std::string codec = video.CodecName;
  if (codec != "h264" && codec != "mpeg4")
    return codec + " video";
  if (video.Width > 720 || video.Height > 480)
    return std::to_string(video.Width) + "x" + std::to_string(video.Height) +
           " picture, larger than 720x480";
  if (codec == "h264") {
    AFormat = "AVC";
    const int profile = video.Profile & ~FF_PROFILE_H264_CONSTRAINED;
    if (profile != FF_PROFILE_H264_BASELINE && profile != FF_PROFILE_H264_MAIN)
      return "H.264 " + CodecProfileName(AV_CODEC_ID_H264, video.Profile) + " profile";
    if (video.Level > 30)
      return "H.264 level " + std::to_string(video.Level / 10) + "." +
             std::to_string(video.Level % 10);
  } else {
    AFormat = "MPEG4";
    if (video.Profile != FF_PROFILE_MPEG4_SIMPLE && video.Profile != FF_PROFILE_UNKNOWN)
      return "MPEG-4 " + CodecProfileName(AV_CODEC_ID_MPEG4, video.Profile);
  }
  if (AProbe.AudioStreamCount() < 1)
    return "no audio";
  for (int i = 0; i < AProbe.StreamCount(); ++i)
    if (AProbe.StreamType(i) == AVMEDIA_TYPE_AUDIO && AProbe.StreamCodecName(i) != "aac")
      return AProbe.StreamCodecName(i) + " audio";
  return {};
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
    // Only a conversion that ended well gets its thumbnail: a stopped one's partial file has none.
    struct stat st {};
    const bool complete = ::stat(ThumbnailFileName(file.Path).c_str(), &st) == 0;
    text += PadRight(PrintableText(file.Name), nameWidth) + "  " + PadRight(file.Format, 6) + "  " +
            PadLeft(FormatDuration(file.DurationUs / 1000), 12) + "  " +
            PadLeft(FormatSizeKB(file.Size), 14) + (complete ? "" : "  incomplete") + "\n";
    total += file.Size;
  }
  text += std::to_string(files.size()) + (files.size() == 1 ? " file, " : " files, ") +
          FormatSizeKB(total) + "\n";
  std::fputs(text.c_str(), AOut);
  return 0;
}

std::string FormatOfPSPVideo(const std::string &APath, std::string &AReason) {
  try {
    TAVProbe probe;
    if (!probe.LoadFile(APath)) {
      AReason = "not a video file the PSP plays";
      return {};
    }
    std::string format;
    const std::string problem = PSPVideoProblem(APath, probe, format);
    AReason = problem.empty() ? std::string() : "not a PSP video: " + problem + ", convert it first";
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
    struct stat st{};
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

  const TCopyResult result = CopyToDevice(ADevice, selected, progress, message);
  endProgressLine();
  if (result.Outcome == TCopyOutcome::coFailed && !result.Error.empty())
    std::fprintf(AErr, "korvelo-convert: %s\n", PrintableText(result.Error).c_str());
  if (result.Outcome == TCopyOutcome::coNothing)
    std::fprintf(AErr, "korvelo-convert: none of the files could be found any more\n");
  if (terminal)
    for (const auto &copied : result.Copied)
      std::fprintf(AOut, "%s -> %s\n", PrintableText(copied.first).c_str(),
                   PrintableText(copied.second).c_str());
  // Every file asked for is on the device only when nothing was refused or left out.
  if (result.Outcome != TCopyOutcome::coCopied || result.Messages.size() > 1)
    status = 1;
  return status;
}
