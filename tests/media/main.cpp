// korvelo-testmedia: makes the test media files.
//   korvelo-testmedia [--verbose] OUTDIR
//   korvelo-testmedia [--verbose] --one FILE --duration SECONDS --size WxH [--rate N]
//                     [--keyframes SECONDS]
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "media_writer.h"
#include "medialib/medialib.h"
#include "../support/sanitizer_suppressions.h"

namespace fs = std::filesystem;
using namespace testmedia;

namespace {

const char kUsage[] =
    "usage: korvelo-testmedia [--verbose] OUTDIR\n"
    "       korvelo-testmedia [--verbose] --one FILE --duration SECONDS --size WxH [--rate N]\n"
    "                         [--keyframes SECONDS]\n";

bool verbose = false;

// Written under a temporary name in the same folder and renamed when complete, so that a
// killed run never leaves a truncated file under the real name.
bool writeAtomically(const TTestMediaSpec &spec, const fs::path &target) {
  const fs::path temp = target.parent_path() / ("." + target.filename().string() + "." +
                                                std::to_string(getpid()) + ".part");
  const auto started = std::chrono::steady_clock::now();
  try {
    WriteTestMedia(spec, temp.string());
    fs::rename(temp, target);
  } catch (const std::exception &e) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    std::fprintf(stderr, "korvelo-testmedia: %s: %s\n", target.string().c_str(), e.what());
    return false;
  }
  if (verbose) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%s: %.2f s, %ju bytes\n", target.string().c_str(), seconds,
                static_cast<uintmax_t>(fs::file_size(target)));
  }
  return true;
}

// A file made after the generator was built is what this generator makes: keep it.
bool upToDate(const fs::path &file, fs::file_time_type generatorTime) {
  std::error_code ec;
  const auto fileTime = fs::last_write_time(file, ec);
  return !ec && fs::is_regular_file(file, ec) && fileTime > generatorTime;
}

// Temporary files of runs that were killed ("<dot>name.PID.part" whose process is gone).
void removeAbandonedParts(const fs::path &folder) {
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    const size_t lastDot = name.rfind('.');
    if (name.size() < 2 || name[0] != '.' || name.compare(lastDot, std::string::npos, ".part"))
      continue;
    const size_t pidDot = name.rfind('.', lastDot - 1);
    if (pidDot == std::string::npos || pidDot == 0)
      continue;
    char *end = nullptr;
    const long pid = std::strtol(name.c_str() + pidDot + 1, &end, 10);
    if (end != name.c_str() + lastDot || pid <= 0)
      continue;
    if (kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH)
      fs::remove(entry.path(), ec);
  }
}

int makeAll(const fs::path &folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    std::fprintf(stderr, "korvelo-testmedia: %s: %s\n", folder.string().c_str(),
                 ec.message().c_str());
    return 1;
  }
  removeAbandonedParts(folder);
  fs::file_time_type generatorTime = fs::last_write_time("/proc/self/exe", ec);
  if (ec)
    generatorTime = fs::file_time_type::max(); // unknown: always remake
  int failures = 0;
  for (const TTestMediaSpec &spec : TestMediaList()) {
    const fs::path target = folder / spec.name;
    if (upToDate(target, generatorTime))
      continue;
    if (spec.optional && !(spec.videoCodec.empty() || HasEncoder(spec.videoCodec))) {
      if (verbose)
        std::printf("%s: skipped, no encoder among \"%s\"\n", target.string().c_str(),
                    spec.videoCodec.c_str());
      continue;
    }
    if (!writeAtomically(spec, target))
      ++failures;
  }
  return failures == 0 ? 0 : 1;
}

int makeOne(const std::string &file, double duration, const std::string &size,
            const std::string &rate, double keyframes) {
  TTestMediaSpec spec;
  spec.name = fs::path(file).filename().string();
  spec.duration = duration;
  spec.keyframeSeconds = keyframes;
  if (avlib.av_parse_video_size(&spec.width, &spec.height, size.c_str()) < 0) {
    std::fprintf(stderr, "korvelo-testmedia: invalid size \"%s\"\n", size.c_str());
    return 2;
  }
  if (!rate.empty() && avlib.av_parse_video_rate(&spec.frameRate, rate.c_str()) < 0) {
    std::fprintf(stderr, "korvelo-testmedia: invalid rate \"%s\"\n", rate.c_str());
    return 2;
  }
  const bool avi = fs::path(file).extension() == ".avi";
  spec.videoCodec = avi ? "mpeg4" : "libx264";
  spec.audioCodec = avi ? "libmp3lame" : "aac";
  // About 0.1 bit per pixel: watchable, and files stay moderate for long benchmarks.
  spec.videoBitRate =
      std::max(100000L, static_cast<long>(spec.width * spec.height * av_q2d(spec.frameRate) / 10));
  return writeAtomically(spec, file) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string folder, one, size, rate;
  double duration = -1, keyframes = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--verbose") {
      verbose = true;
    } else if (arg == "--one" && hasValue) {
      one = args[++i];
    } else if (arg == "--duration" && hasValue) {
      char *end = nullptr;
      duration = std::strtod(args[++i].c_str(), &end);
      if (*end || !(duration > 0)) {
        std::fprintf(stderr, "korvelo-testmedia: invalid duration \"%s\"\n", args[i].c_str());
        return 2;
      }
    } else if (arg == "--size" && hasValue) {
      size = args[++i];
    } else if (arg == "--keyframes" && hasValue) {
      keyframes = std::strtod(args[++i].c_str(), nullptr);
    } else if (arg == "--rate" && hasValue) {
      rate = args[++i];
    } else if (!arg.empty() && arg[0] != '-' && folder.empty()) {
      folder = arg;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  const bool oneMode = !one.empty();
  if (oneMode ? (!folder.empty() || duration <= 0 || size.empty())
              : (folder.empty() || duration > 0 || !size.empty() || !rate.empty())) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  if (!LoadLibraries("", true)) {
    std::fprintf(stderr, "korvelo-testmedia: %s\n", LibraryLoadError().c_str());
    return 1;
  }
  InstallLogCapture(verbose);
  return oneMode ? makeOne(one, duration, size, rate, keyframes) : makeAll(folder);
}
