// korvelo-bench-engine: the engine against Debian's ffmpeg tool on one long input.
//
// Converts a 60 s 640x480 H.264 + AAC file to the AVC 480x272 PSP kind with the engine run on
// the calling thread, and with the ffmpeg tool given the same encoder settings and one thread
// for decoding, filtering and encoding (the engine does all of it on one thread). The runs
// alternate so that both see the same machine; each side's median wall and CPU time are
// printed with their ratio (engine / ffmpeg, target 1.10 or less). Then the heap allocations
// of the whole process per encoded video frame in steady state (between two progress reports
// near frames 300 and 1500), and in a last, untimed run where they come from.
//
//   korvelo-bench-engine [--input FILE] [--generator PATH] [--ffmpeg PATH] [--runs N]
//                        [--work DIR] [--keep] [--no-attribution]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/output_options.h"
#include "engine/custom_ffmpeg.h"
#include "medialib/medialib.h"
#include "support/alloc_count.h"

extern char **environ;

namespace fs = std::filesystem;

namespace {

using TOptionList = std::vector<std::pair<std::string, std::string>>;

constexpr int kProfileIndex = 4; // AVC 480x272, the profile every new panel starts with
constexpr int kWindowFrom = 300;
constexpr int kWindowTo = 1500;

struct TSettings {
  std::string Input;
  std::string Generator;
  std::string FFmpeg = "ffmpeg";
  fs::path Work;
  int Runs = 3;
  bool Keep = false;
  bool Attribution = true;
  bool InputGiven = false; // only the default input is made when missing
};

struct TSourceInfo {
  int Width = -1, Height = -1, SarNum = 0, SarDen = 0;
  double Duration = 0;
  int64_t VideoFrames = 0;
  std::string Title;
};

struct TTimes {
  double Wall = 0; // seconds
  double Cpu = 0;  // user + system seconds
};

struct TEngineRun {
  TTimes Times;
  bool Ok = false;
  std::string Error;
  // Steady-state window: allocations counted between two progress reports.
  int WindowStart = -1, WindowEnd = -1;
  uint64_t WindowAllocations = 0;
  uint64_t RunAllocations = 0; // from engine creation to its destruction
};

double Seconds(std::chrono::steady_clock::duration ADuration) {
  return std::chrono::duration<double>(ADuration).count();
}

double CpuSeconds(const rusage &AUsage) {
  return AUsage.ru_utime.tv_sec + AUsage.ru_utime.tv_usec / 1e6 + AUsage.ru_stime.tv_sec +
         AUsage.ru_stime.tv_usec / 1e6;
}

double Median(std::vector<double> AValues) {
  if (AValues.empty())
    return 0;
  std::sort(AValues.begin(), AValues.end());
  const size_t n = AValues.size();
  return n % 2 ? AValues[n / 2] : (AValues[n / 2 - 1] + AValues[n / 2]) / 2;
}

std::string LoadAverage() {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) != 3)
    return "unknown";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
  return text;
}

// Runs a program with its output into ALog; returns its exit status (-1 when it could not run)
// and its wall and CPU time.
int RunProgram(const std::vector<std::string> &AArgs, const fs::path &ALog, TTimes &ATimes,
               const std::vector<std::string> &AExtraEnv = {}) {
  std::vector<char *> envp;
  for (const std::string &entry : AExtraEnv)
    envp.push_back(const_cast<char *>(entry.c_str()));
  for (char **e = environ; *e; ++e)
    envp.push_back(*e);
  envp.push_back(nullptr);
  std::vector<char *> argv;
  for (const std::string &arg : AArgs)
    argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, ALog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const auto started = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0)
    return -1;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid)
    return -1;
  ATimes.Wall = Seconds(std::chrono::steady_clock::now() - started);
  ATimes.Cpu = CpuSeconds(usage);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string LastLines(const fs::path &AFile, size_t AMaxBytes = 2000) {
  FILE *f = std::fopen(AFile.c_str(), "r");
  if (!f)
    return "";
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    text.append(buffer, n);
  std::fclose(f);
  return text.size() > AMaxBytes ? text.substr(text.size() - AMaxBytes) : text;
}

std::string ErrorString(int ACode) {
  char text[256] = {};
  avlib.av_strerror(ACode, text, sizeof text);
  return text;
}

// What the library reads from a media file: picture size and aspect, duration, and per stream
// a line for the comparison of the two outputs.
bool ReadMedia(const std::string &AFile, TSourceInfo &AInfo, std::vector<std::string> *AStreams) {
  AVFormatContext *raw = nullptr;
  const int opened = avlib.avformat_open_input(&raw, AFile.c_str(), nullptr, nullptr);
  if (opened < 0) {
    std::fprintf(stderr, "%s: %s\n", AFile.c_str(), ErrorString(opened).c_str());
    return false;
  }
  std::unique_ptr<AVFormatContext *, void (*)(AVFormatContext **)> guard(
      &raw, [](AVFormatContext **p) { avlib.avformat_close_input(p); });
  {
    std::lock_guard<std::recursive_mutex> lock(CodecLock);
    if (avlib.avformat_find_stream_info(raw, nullptr) < 0)
      return false;
  }
  AInfo.Duration = raw->duration > 0 ? raw->duration / 1e6 : 0;
  if (AVDictionaryEntry *title = avlib.av_dict_get(raw->metadata, "title", nullptr, 0))
    AInfo.Title = title->value;
  for (unsigned i = 0; i < raw->nb_streams; ++i) {
    const AVStream *st = raw->streams[i];
    const AVCodecParameters *par = st->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO && AInfo.Width < 0) {
      AInfo.Width = par->width;
      AInfo.Height = par->height;
      AInfo.SarNum = par->sample_aspect_ratio.num;
      AInfo.SarDen = par->sample_aspect_ratio.den;
      AInfo.VideoFrames = st->nb_frames;
    }
    if (!AStreams)
      continue;
    char line[256];
    const double seconds = st->duration > 0 ? st->duration * av_q2d(st->time_base) : 0;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO)
      std::snprintf(line, sizeof line,
                    "%s %dx%d profile %d level %d, %lld frames, %.2f s, %lld kbit/s",
                    avlib.avcodec_get_name(par->codec_id), par->width, par->height, par->profile,
                    par->level, static_cast<long long>(st->nb_frames), seconds,
                    static_cast<long long>(par->bit_rate / 1000));
    else
      std::snprintf(line, sizeof line, "%s %d Hz %d ch, %lld frames, %.2f s, %lld kbit/s",
                    avlib.avcodec_get_name(par->codec_id), par->sample_rate,
                    par->ch_layout.nb_channels, static_cast<long long>(st->nb_frames), seconds,
                    static_cast<long long>(par->bit_rate / 1000));
    AStreams->push_back(line);
  }
  return true;
}

// The settings line libx264 writes into the stream it encodes (empty when there is none).
std::string X264Settings(const std::string &AFile) {
  FILE *f = std::fopen(AFile.c_str(), "rb");
  if (!f)
    return "";
  std::string head(4 << 20, '\0');
  head.resize(std::fread(&head[0], 1, head.size(), f));
  std::fclose(f);
  const size_t at = head.find("x264 - core");
  if (at == std::string::npos)
    return "";
  return head.substr(at, head.find('\0', at) - at);
}

// The options a conversion panel gives the engine for this input and the profile.
TOptionList ProfileOptions(const TSourceInfo &ASource) {
  const double displayAspect =
      ASource.SarNum > 0 && ASource.SarDen > 0
          ? static_cast<double>(ASource.Width) * ASource.SarNum / (ASource.Height * ASource.SarDen)
          : 0;
  const TPSPOutputSettings out =
      BuildOutputOptions(kProfileIndex, true, TitleFor(ASource.Title, "bench"), "bench.mp4", "", "",
                         ASource.Width, ASource.Height, displayAspect);
  TOptionList list;
  for (const auto &option : out.EngineOptions())
    list.emplace_back(option.first, option.second);
  return list;
}

std::string OptionValue(const TOptionList &AOptions, const std::string &AName) {
  std::string value;
  for (const auto &option : AOptions)
    if (option.first == AName)
      value = option.second; // the last one wins, as in the engine
  return value;
}

// The ffmpeg tool's command line for the same conversion: one thread for decoding, filtering
// and encoding; the engine's scale-then-pad as a scale and a pad filter; every encoder option
// of the profile handed to the video encoder.
std::vector<std::string> FFmpegCommand(const TSettings &ASettings, const TOptionList &AOptions,
                                       const std::string &AOutput) {
  std::vector<std::string> args = {
      ASettings.FFmpeg,  "-nostdin", "-hide_banner", "-loglevel",     "error",    "-y",
      "-threads",        "1",        "-i",           ASettings.Input, "-threads", "1",
      "-filter_threads", "1"};
  const std::string size = OptionValue(AOptions, "s");
  std::string filter;
  if (!size.empty()) {
    std::string scale = size;
    std::replace(scale.begin(), scale.end(), 'x', ':');
    filter = "scale=" + scale;
  }
  auto pad = [&](const char *AName) {
    const std::string v = OptionValue(AOptions, AName);
    return v.empty() ? 0 : std::atoi(v.c_str());
  };
  const int top = pad("padtop"), bottom = pad("padbottom"), left = pad("padleft"),
            right = pad("padright");
  if (top || bottom || left || right) {
    int w = 0, h = 0;
    std::sscanf(size.c_str(), "%dx%d", &w, &h);
    filter += (filter.empty() ? "" : ",") + std::string("pad=") + std::to_string(w + left + right) +
              ":" + std::to_string(h + top + bottom) + ":" + std::to_string(left) + ":" +
              std::to_string(top);
  }
  if (!filter.empty()) {
    args.emplace_back("-vf");
    args.push_back(filter);
  }
  const std::pair<const char *, const char *> renamed[] = {
      {"f", "-f"},        {"acodec", "-c:a"}, {"ac", "-ac"},         {"ar", "-ar"},  {"ab", "-b:a"},
      {"vcodec", "-c:v"}, {"r", "-r"},        {"aspect", "-aspect"}, {"vb", "-b:v"}, {"b", "-b:v"}};
  for (const auto &option : AOptions) {
    const std::string &name = option.first;
    if (name == "s" || name.rfind("pad", 0) == 0)
      continue;
    if (name == "title") {
      args.emplace_back("-metadata");
      args.push_back("title=" + option.second);
      continue;
    }
    std::string flag = "-" + name + ":v";
    for (const auto &r : renamed)
      if (name == r.first)
        flag = r.second;
    args.push_back(flag);
    args.push_back(option.second);
  }
  args.push_back(AOutput);
  return args;
}

// One conversion by the engine on this thread, from engine creation to its destruction.
TEngineRun RunEngine(const TSettings &ASettings, const TOptionList &AOptions,
                     const std::string &AOutput, bool AAttribute) {
  TEngineRun run;
  struct TWindow {
    bool Started = false, Done = false;
    int Start = -1, Last = -1;
    uint64_t LastCount = 0;
  } window;
  std::string lastError;

  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  const uint64_t allocationsBefore = bench::AllocTotal();
  const auto started = std::chrono::steady_clock::now();
  {
    TCustomFFmpeg engine;
    engine.OnLog = [&lastError](TCustomFFmpeg *, int ALevel, const std::string &AMsg) {
      if (ALevel <= 0 && !bench::AllocCounting()) // keeping it would allocate in the window
        lastError = AMsg;
    };
    engine.OnProgress = [&window, AAttribute](TCustomFFmpeg *, int AFrame, int, int, float, float,
                                              int64_t, int) {
      if (window.Done)
        return;
      if (!window.Started) {
        if (AFrame >= kWindowFrom) {
          window.Started = true;
          window.Start = AFrame;
          bench::AllocCountStart(AAttribute);
        }
        return;
      }
      window.Last = AFrame;
      window.LastCount = bench::AllocCount();
      if (AFrame >= kWindowTo) {
        bench::AllocCountStop();
        window.Done = true;
      }
    };
    try {
      engine.Prepare();
      if (!engine.OpenInputFile(ASettings.Input)) {
        run.Error = "input: " + engine.ErrorMessage;
      } else {
        for (const auto &option : AOptions)
          engine.SetOption(option.first, option.second);
        if (!engine.OpenOutputFile(AOutput))
          run.Error = "output: " + engine.ErrorMessage;
        else
          engine.Run(false);
      }
    } catch (const std::exception &e) {
      run.Error = e.what();
    }
    bench::AllocCountStop();
    if (run.Error.empty() && engine.ExceptionRaised)
      run.Error = engine.ExceptionMessage.empty() ? lastError : engine.ExceptionMessage;
    if (run.Error.empty() && !engine.Finished)
      run.Error = "the run did not finish" + (lastError.empty() ? "" : ": " + lastError);
  }
  run.Times.Wall = Seconds(std::chrono::steady_clock::now() - started);
  run.RunAllocations = bench::AllocTotal() - allocationsBefore;
  getrusage(RUSAGE_SELF, &after);
  run.Times.Cpu = CpuSeconds(after) - CpuSeconds(before);
  std::error_code ec;
  if (run.Error.empty() && (!fs::exists(AOutput, ec) || fs::file_size(AOutput, ec) == 0))
    run.Error = "no output file";
  run.Ok = run.Error.empty();
  if (window.Started && window.Last > window.Start) {
    run.WindowStart = window.Start;
    run.WindowEnd = window.Last;
    run.WindowAllocations = window.LastCount;
  }
  return run;
}

bool MakeInput(const TSettings &ASettings) {
  std::error_code ec;
  fs::create_directories(fs::path(ASettings.Input).parent_path(), ec);
  std::printf("Making the input %s (60 s, 640x480, H.264 + AAC) ...\n", ASettings.Input.c_str());
  std::fflush(stdout);
  TTimes times;
  const fs::path log = ASettings.Work / "testmedia.log";
  const int status = RunProgram(
      {ASettings.Generator, "--one", ASettings.Input, "--duration", "60", "--size", "640x480"}, log,
      times);
  if (status != 0) {
    std::fprintf(stderr, "korvelo-bench-engine: the generator %s failed:\n%s\n",
                 ASettings.Generator.c_str(), LastLines(log).c_str());
    return false;
  }
  return true;
}

fs::path ExeDir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path() : exe.parent_path();
}

bool ParseArgs(int argc, char **argv, TSettings &ASettings) {
  const fs::path exeDir = ExeDir();
  ASettings.Input = (exeDir / "media" / "bench-640x480-60s.mp4").string();
#ifdef KORVELO_TESTMEDIA_PATH
  ASettings.Generator = KORVELO_TESTMEDIA_PATH;
#else
  ASettings.Generator = (exeDir.parent_path() / "tests" / "korvelo-testmedia").string();
#endif
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--input" && hasValue)
      ASettings.Input = argv[++i], ASettings.InputGiven = true;
    else if (arg == "--generator" && hasValue)
      ASettings.Generator = argv[++i];
    else if (arg == "--ffmpeg" && hasValue)
      ASettings.FFmpeg = argv[++i];
    else if (arg == "--work" && hasValue)
      ASettings.Work = argv[++i];
    else if (arg == "--runs" && hasValue && std::atoi(argv[i + 1]) > 0)
      ASettings.Runs = std::atoi(argv[++i]);
    else if (arg == "--keep")
      ASettings.Keep = true;
    else if (arg == "--no-attribution")
      ASettings.Attribution = false;
    else
      return false;
  }
  return true;
}

void PrintAttribution(const TEngineRun &ARun) {
  const std::vector<bench::TAllocSite> sites = bench::AllocSites();
  const int frames = ARun.WindowEnd - ARun.WindowStart;
  uint64_t byOrigin[4] = {};
  for (const bench::TAllocSite &site : sites)
    byOrigin[static_cast<int>(site.Origin)] += site.Count;
  std::printf("\nWhere they come from (untimed run, frames %d..%d, %llu allocations):\n",
              ARun.WindowStart, ARun.WindowEnd,
              static_cast<unsigned long long>(ARun.WindowAllocations));
  const bench::TAllocOrigin origins[] = {
      bench::TAllocOrigin::OurCode, bench::TAllocOrigin::OurLibraryCall,
      bench::TAllocOrigin::LibraryWork, bench::TAllocOrigin::Unknown};
  for (bench::TAllocOrigin origin : origins)
    std::printf("  %-20s %8.2f per frame\n", bench::OriginName(origin),
                static_cast<double>(byOrigin[static_cast<int>(origin)]) / frames);
  std::printf("  Sites (per frame, origin, our function -> library function it called [library "
              "function that asked for the memory]):\n");
  int shown = 0;
  for (const bench::TAllocSite &site : sites) {
    if (++shown > 30)
      break;
    std::printf("  %8.3f  %-20s %s%s%s", static_cast<double>(site.Count) / frames,
                bench::OriginName(site.Origin), site.Ours.c_str(), site.Entry.empty() ? "" : " -> ",
                site.Entry.c_str());
    if (!site.Inner.empty() && site.Inner != site.Entry)
      std::printf(" [%s]", site.Inner.c_str());
    std::printf("\n");
  }
}

} // namespace

int main(int argc, char **argv) {
  TSettings settings;
  if (!ParseArgs(argc, argv, settings)) {
    std::fprintf(stderr, "usage: korvelo-bench-engine [--input FILE] [--generator PATH] "
                         "[--ffmpeg PATH] [--runs N] [--work DIR] [--keep] [--no-attribution]\n");
    return 2;
  }
  bench::AllocCountInit();
  if (!LoadLibraries("", true)) {
    std::fprintf(stderr, "korvelo-bench-engine: %s\n", LibraryLoadError().c_str());
    return 1;
  }
  SetMediaLogLevel(-1); // failures reach us through the engine; the libraries stay quiet

  std::error_code ec;
  if (settings.InputGiven && !fs::exists(settings.Input, ec)) {
    std::fprintf(stderr, "korvelo-bench-engine: %s does not exist\n", settings.Input.c_str());
    return 1;
  }
  const bool ownWork = settings.Work.empty();
  if (ownWork) {
    char pattern[] = "/tmp/korvelo-bench-engine.XXXXXX";
    if (!mkdtemp(pattern)) {
      std::perror("korvelo-bench-engine: mkdtemp");
      return 1;
    }
    settings.Work = pattern;
  } else {
    fs::create_directories(settings.Work, ec);
  }
  if (!fs::exists(settings.Input, ec) && !MakeInput(settings))
    return 1;

  TSourceInfo source;
  if (!ReadMedia(settings.Input, source, nullptr) || source.Width <= 0) {
    std::fprintf(stderr, "korvelo-bench-engine: %s has no readable video\n",
                 settings.Input.c_str());
    return 1;
  }
  const TOptionList options = ProfileOptions(source);
  const std::string engineOut = (settings.Work / "engine.mp4").string();
  const std::string ffmpegOut = (settings.Work / "ffmpeg.mp4").string();
  const std::vector<std::string> ffmpegArgs = FFmpegCommand(settings, options, ffmpegOut);

  std::printf("Machine: %ld cores, load average %s\n", sysconf(_SC_NPROCESSORS_ONLN),
              LoadAverage().c_str());
  std::printf("Input: %s, %dx%d, %.2f s; profile %d\n", settings.Input.c_str(), source.Width,
              source.Height, source.Duration, kProfileIndex);
  std::printf("Engine options:");
  for (const auto &option : options)
    std::printf(" %s=%s", option.first.c_str(), option.second.c_str());
  std::printf("\nffmpeg:");
  for (const std::string &arg : ffmpegArgs)
    std::printf(" %s", arg.c_str());
  std::printf("\n\n");

  std::vector<double> engineWall, engineCpu, ffmpegWall, ffmpegCpu, allocsPerFrame, runAllocs;
  bool failed = false;
  for (int i = 1; i <= settings.Runs; ++i) {
    const TEngineRun run = RunEngine(settings, options, engineOut, false);
    if (!run.Ok) {
      std::printf("run %d engine: FAILED: %s\n", i, run.Error.c_str());
      failed = true;
    } else {
      engineWall.push_back(run.Times.Wall);
      engineCpu.push_back(run.Times.Cpu);
      runAllocs.push_back(static_cast<double>(run.RunAllocations));
      std::printf("run %d engine: %7.2f s wall, %7.2f s CPU", i, run.Times.Wall, run.Times.Cpu);
      if (run.WindowEnd > run.WindowStart) {
        const double perFrame =
            static_cast<double>(run.WindowAllocations) / (run.WindowEnd - run.WindowStart);
        allocsPerFrame.push_back(perFrame);
        std::printf(", %.2f allocations per frame (frames %d..%d)", perFrame, run.WindowStart,
                    run.WindowEnd);
      } else {
        std::printf(", no steady-state window (too few progress reports)");
      }
      std::printf("\n");
    }
    std::fflush(stdout);

    TTimes times;
    const fs::path log = settings.Work / "ffmpeg.log";
    const int status = RunProgram(ffmpegArgs, log, times);
    if (status != 0) {
      std::printf("run %d ffmpeg: FAILED (status %d):\n%s\n", i, status, LastLines(log).c_str());
      failed = true;
    } else {
      ffmpegWall.push_back(times.Wall);
      ffmpegCpu.push_back(times.Cpu);
      std::printf("run %d ffmpeg: %7.2f s wall, %7.2f s CPU\n", i, times.Wall, times.Cpu);
    }
    std::fflush(stdout);
  }

  std::printf("\nMedian of %d: ", settings.Runs);
  if (!engineWall.empty() && !ffmpegWall.empty()) {
    const double ew = Median(engineWall), fw = Median(ffmpegWall);
    const double engineCpuMedian = Median(engineCpu), fc = Median(ffmpegCpu);
    std::printf("engine %.2f s wall / %.2f s CPU, ffmpeg %.2f s wall / %.2f s CPU\n", ew,
                engineCpuMedian, fw, fc);
    std::printf("Ratio engine/ffmpeg: wall %.3f, CPU %.3f (target 1.10 or less)\n", ew / fw,
                engineCpuMedian / fc);
  } else {
    std::printf("no ratio: a side failed\n");
  }
  if (!allocsPerFrame.empty())
    std::printf("Heap allocations per video frame in steady state (whole process): %.2f\n",
                Median(allocsPerFrame));
  std::printf("Load average after the runs: %s\n", LoadAverage().c_str());

  std::vector<std::string> engineStreams, ffmpegStreams;
  TSourceInfo engineMedia, ffmpegMedia;
  if (fs::exists(engineOut, ec) && ReadMedia(engineOut, engineMedia, &engineStreams)) {
    std::printf("\nEngine output (%ju bytes):\n",
                static_cast<uintmax_t>(fs::file_size(engineOut, ec)));
    for (const std::string &line : engineStreams)
      std::printf("  %s\n", line.c_str());
  }
  if (fs::exists(ffmpegOut, ec) && ReadMedia(ffmpegOut, ffmpegMedia, &ffmpegStreams)) {
    std::printf("ffmpeg output (%ju bytes):\n",
                static_cast<uintmax_t>(fs::file_size(ffmpegOut, ec)));
    for (const std::string &line : ffmpegStreams)
      std::printf("  %s\n", line.c_str());
  }

  // Same encoder settings on both sides, as libx264 itself reports them.
  const std::string engineX264 = X264Settings(engineOut), ffmpegX264 = X264Settings(ffmpegOut);
  if (!engineX264.empty() || !ffmpegX264.empty())
    std::printf("libx264 settings: %s\n",
                engineX264 == ffmpegX264
                    ? "identical"
                    : ("DIFFERENT\n  engine: " + engineX264 + "\n  ffmpeg: " + ffmpegX264).c_str());

#ifdef KORVELO_ALLOC_PRELOAD
  // The same count over a whole run of each side: how much the libraries allocate when the
  // ffmpeg tool drives them, against when the engine does.
  if (!runAllocs.empty() && engineMedia.VideoFrames > 0 && ffmpegMedia.VideoFrames > 0) {
    const fs::path countFile = settings.Work / "ffmpeg.allocations";
    TTimes times;
    const int status = RunProgram(
        ffmpegArgs, settings.Work / "ffmpeg.log", times,
        {"LD_PRELOAD=" KORVELO_ALLOC_PRELOAD, "KORVELO_ALLOC_COUNT_FILE=" + countFile.string()});
    unsigned long long ffmpegAllocs = 0;
    FILE *f = status == 0 ? std::fopen(countFile.c_str(), "r") : nullptr;
    if (f && std::fscanf(f, "%llu", &ffmpegAllocs) == 1)
      std::printf("\nWhole run, heap allocations per output video frame: engine %.1f (in this "
                  "process, from engine creation to destruction), ffmpeg tool %.1f (whole "
                  "process)\n",
                  Median(runAllocs) / engineMedia.VideoFrames,
                  static_cast<double>(ffmpegAllocs) / ffmpegMedia.VideoFrames);
    else
      std::printf("\nffmpeg allocation count: not available (status %d)\n", status);
    if (f)
      std::fclose(f);
    fs::remove(countFile, ec);
  }
#endif

  if (settings.Attribution && !engineWall.empty()) {
    const TEngineRun run = RunEngine(settings, options, engineOut, true);
    if (run.Ok && run.WindowEnd > run.WindowStart)
      PrintAttribution(run);
    else
      std::printf("\nAttribution run: %s\n", run.Ok ? "no steady-state window" : run.Error.c_str());
  }

  if (!settings.Keep) {
    fs::remove(engineOut, ec);
    fs::remove(ffmpegOut, ec);
    fs::remove(settings.Work / "ffmpeg.log", ec);
    fs::remove(settings.Work / "testmedia.log", ec);
    if (ownWork)
      fs::remove(settings.Work, ec);
  } else {
    std::printf("\nOutputs kept in %s\n", settings.Work.c_str());
  }
  return failed ? 1 : 0;
}
