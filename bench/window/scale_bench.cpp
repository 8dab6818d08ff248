// A thousand files added at once, as a season of episodes or a phone's year of clips would be:
// small clips, 1080p H.264, 10-bit HEVC, pictures and sound, added through the window's own
// add path (AddFiles, as Add, a drop or the command line do). Prints the time until every panel
// is shown, the longest stall of the window's event loop meanwhile, and the resident memory and
// open files in all and per panel once they wait. The inputs are made once and kept in
// bench/media of the build (the 10-bit HEVC one with Debian's ffmpeg tool when installed), then
// linked under a thousand names.
// Usage: korvelo-bench-window-scale [--files N]   (QT_QPA_PLATFORM offscreen unless set;
//        under xvfb-run the panels are really drawn)
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ui/application.h"
#include "window_bench.h"
#include "ui/convert_list.h"
#include "ui/main_window.h"
#include "ui/messages.h"

namespace {

namespace fs = std::filesystem;

long ResidentKB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0)
      return std::atol(line.c_str() + 6);
  return -1;
}

int OpenFiles() {
  int count = 0;
  for ([[maybe_unused]] const fs::directory_entry &entry : fs::directory_iterator("/proc/self/fd"))
    ++count;
  return count - 1; // the listing's own
}

// CPU time of the calling thread, ms: what the window's thread itself spends, whatever else the
// (shared) machine runs.
double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

bool Make(const std::string &ACommand, const fs::path &AFile) {
  if (fs::exists(AFile))
    return true;
  fs::create_directories(AFile.parent_path());
  std::printf("making %s\n", AFile.filename().c_str());
  std::fflush(stdout);
  return std::system((ACommand + " > /dev/null 2>&1").c_str()) == 0 && fs::exists(AFile);
}

// The longest single event the window's thread handled, in wall and in its own CPU time (the
// wall time includes waiting for a core on a busy machine, the CPU time only the window's work).
class TTimedApplication : public TKorveloApplication {
public:
  using TKorveloApplication::TKorveloApplication;
  bool Timing = false;
  double LongestCpuMs = 0, LongestWallMs = 0;
  bool notify(QObject *AReceiver, QEvent *AEvent) override {
    if (!Timing || FDepth > 0)
      return TKorveloApplication::notify(AReceiver, AEvent);
    ++FDepth;
    const double cpu = ThreadCpuMs();
    QElapsedTimer wall;
    wall.start();
    const bool result = TKorveloApplication::notify(AReceiver, AEvent);
    LongestCpuMs = std::max(LongestCpuMs, ThreadCpuMs() - cpu);
    LongestWallMs = std::max(LongestWallMs, wall.nsecsElapsed() / 1e6);
    --FDepth;
    return result;
  }

private:
  int FDepth = 0;
};

struct TKind {
  const char *Name;
  fs::path Source;
  int Share; // per thousand
};

} // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  TTimedApplication app(argc, argv);
  int total = 1000;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--files" && i + 1 < argc)
      total = std::max(5, std::atoi(argv[++i]));
    else {
      std::fprintf(stderr, "usage: %s [--files N]\n", argv[0]);
      return 2;
    }
  }
  const fs::path exeDir = fs::canonical("/proc/self/exe").parent_path();
  const fs::path media = exeDir / "media";
  const fs::path testMedia = exeDir.parent_path() / "tests" / "media-out";
  const std::string generator = KORVELO_TESTMEDIA_PATH;
  const fs::path small = media / "scale-320x240-2s.mp4", big = media / "scale-1920x1080-2s.mp4",
                 hevc = media / "scale-hevc10-1920x1080-2s.mkv";
  bool made =
      Make(generator + " --one '" + small.string() + "' --duration 2 --size 320x240", small) &&
      Make(generator + " --one '" + big.string() + "' --duration 2 --size 1920x1080", big);
  if (made && !fs::exists(hevc) && std::system("command -v ffmpeg > /dev/null") == 0)
    Make("ffmpeg -nostdin -y -f lavfi -i testsrc2=size=1920x1080:rate=30000/1001 -f lavfi -i "
         "sine=frequency=440 -t 2 -c:v libx265 -preset ultrafast -pix_fmt yuv420p10le -c:a aac '" +
             hevc.string() + "'",
         hevc);
  const fs::path hevcSource = fs::exists(hevc) ? hevc : testMedia / "hevc_10bit.mp4";
  if (!made || !fs::exists(testMedia / "picture.jpg")) {
    std::fprintf(stderr, "korvelo-bench-window-scale: inputs missing (run the tests once to make "
                         "tests/media-out)\n");
    return 1;
  }
  const std::vector<TKind> kinds = {{"small clip", small, 500},
                                    {"1080p H.264", big, 150},
                                    {"10-bit HEVC", hevcSource, 100},
                                    {"JPEG picture", testMedia / "picture.jpg", 60},
                                    {"PNG picture", testMedia / "picture.png", 65},
                                    {"MP3 sound", testMedia / "mp3_audio.mp3", 65},
                                    {"WAV sound", testMedia / "wav_pcm.wav", 60}};

  const fs::path work =
      fs::temp_directory_path() / ("korvelo-bench-scale-" + std::to_string(getpid()));
  const fs::path inputs = work / "in";
  fs::create_directories(inputs);
  QStringList files;
  int n = 0;
  for (const TKind &kind : kinds) {
    const int count = kind.Share * total / 1000;
    for (int i = 0; i < count; ++i, ++n) {
      char name[64];
      std::snprintf(name, sizeof name, "%04d-%s", n, kind.Source.filename().c_str());
      fs::create_hard_link(kind.Source, inputs / name);
      files << QString::fromStdString((inputs / name).string());
    }
    std::printf("%5d x %-12s %s\n", count, kind.Name, kind.Source.filename().c_str());
  }
  files.sort(); // mixed, as a folder's listing is
  const int expected = static_cast<int>(files.size());

  int messages = 0;
  SetMessageSink([&](const QString &AText, QMessageBox::Icon) {
    ++messages;
    std::fprintf(stderr, "message: %s\n", AText.left(300).toLocal8Bit().constData());
  });
  auto *window = new TfrmMain(QString::fromStdString(work.string()));
  window->show();
  TfrmConvertList *list = window->ConvertList();
  for (int i = 0; i < 20; ++i)
    QApplication::processEvents();
  const long rssBefore = ResidentKB();
  const int filesBefore = OpenFiles();

  // The event loop's stalls: a 5 ms timer that should tick without gaps.
  QElapsedTimer clock, tick;
  qint64 longestStall = 0, stalls100 = 0;
  QTimer ticker;
  ticker.setInterval(5);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 gap = tick.restart() - 5;
    longestStall = std::max(longestStall, gap);
    if (gap > 100)
      ++stalls100;
  });
  qint64 shownMs = -1;
  double cpuAtStart = 0, shownCpuS = 0;
  long peakKB = 0;
  int peakFiles = 0;
  QTimer watch;
  watch.setInterval(50);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    peakKB = std::max(peakKB, ResidentKB());
    peakFiles = std::max(peakFiles, OpenFiles());
    if (shownMs < 0 && list->Count() + messages >= expected && !list->Loading()) {
      shownMs = clock.elapsed();
      shownCpuS = ProcessCpuMs() / 1e3 - cpuAtStart;
      app.Timing = false;
      QTimer::singleShot(2000, &app, [&] { app.quit(); }); // then the panels wait
    }
  });
  QTimer::singleShot(0, &app, [&] {
    clock.start();
    tick.start();
    app.Timing = true;
    cpuAtStart = ProcessCpuMs() / 1e3;
    ticker.start();
    watch.start();
    window->AddFiles(files);
  });
  QTimer::singleShot(600000, &app, [&] { app.quit(); });
  app.exec();
  const long rssAfter = ResidentKB();
  const int filesAfter = OpenFiles();
  const int panels = std::max(list->Count(), 1);
  std::printf("files added: %d, panels shown: %d, messages: %d\n", expected, list->Count(),
              messages);
  std::printf("all panels shown after: %.2f s (goal < 15 s); CPU time meanwhile %.2f s, so "
              "%.2f s on two free cores\n",
              shownMs / 1000.0, shownCpuS, shownCpuS / 2);
  std::printf("longest event-loop stall: %lld ms (goal < 100 ms); stalls over 100 ms: %lld\n",
              static_cast<long long>(longestStall), static_cast<long long>(stalls100));
  std::printf("longest single event: %.1f ms wall, %.1f ms CPU of the window's thread\n",
              app.LongestWallMs, app.LongestCpuMs);
  std::printf("load average at the end: %s", [] {
    static char text[64] = "?\n";
    if (std::FILE *f = std::fopen("/proc/loadavg", "r")) {
      if (!std::fgets(text, sizeof text, f))
        text[0] = 0;
      std::fclose(f);
    }
    return text;
  }());
  std::printf("resident memory: %ld MB waiting, %ld MB at most (goal < 600 MB); %.1f kB per "
              "panel\n",
              rssAfter / 1024, peakKB / 1024, double(rssAfter - rssBefore) / panels);
  std::printf("open files: %d waiting, %d at most (goal < 100); %.3f per panel\n", filesAfter,
              peakFiles, double(filesAfter - filesBefore) / panels);
  window->close();
  delete window;
  std::error_code error;
  fs::remove_all(work, error);
  return 0;
}
