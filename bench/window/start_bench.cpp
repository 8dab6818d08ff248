// How long the window takes to open with many converted files in its output folder: from the
// window's construction to its first picture, and to the Folders and Files page's list with
// every duration filled in. Runs with the duration cache removed first (a first start, or files
// never listed) and then with the cache the previous run left (every later start). The files
// are hard links of one short converted-like MP4, made once and kept in bench/media of the
// build. Everything the window keeps (settings, cache) goes to a temporary folder of its own.
// Usage: korvelo-bench-window-start [--files N] [--runs N]   (QT_QPA_PLATFORM offscreen unless set)
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTableWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ui/application.h"
#include "window_bench.h"
#include "ui/folders_page.h"
#include "ui/main_window.h"
#include "ui/messages.h"

namespace {

namespace fs = std::filesystem;

double LoadAverage() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

bool ListFilled(const QTableWidget *AList, int AFiles) {
  if (AList->rowCount() != AFiles)
    return false;
  for (int row = 0; row < AList->rowCount(); ++row)
    if (!AList->item(row, 2) || AList->item(row, 2)->text().isEmpty())
      return false;
  return true;
}

struct TTimes {
  double FirstPicture = 0, ListFilled = 0, FilledCpu = 0;
};

// One start of the window: false when the list never filled.
bool OpenOnce(const fs::path &AApp, int AFiles, TTimes &ATimes) {
  TPaintWatch watch;
  qApp->installEventFilter(&watch);
  QElapsedTimer clock;
  clock.start();
  const double cpu = ProcessCpuMs();
  TfrmMain window(QString::fromStdString(AApp.string()));
  window.show();
  while (!watch.Painted && clock.elapsed() < 30000)
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  ATimes.FirstPicture = clock.nsecsElapsed() / 1e6;
  qApp->removeEventFilter(&watch);
  const QTableWidget *list = window.FoldersPage()->lvFiles;
  while (!ListFilled(list, AFiles) && clock.elapsed() < 60000)
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  ATimes.ListFilled = clock.nsecsElapsed() / 1e6;
  ATimes.FilledCpu = ProcessCpuMs() - cpu;
  return ListFilled(list, AFiles);
}

} // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  int files = 300, runs = 7;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--files" && i + 1 < argc)
      files = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--runs" && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else {
      std::fprintf(stderr, "usage: %s [--files N] [--runs N]\n", argv[0]);
      return 2;
    }
  }
  const fs::path home =
      fs::temp_directory_path() / ("korvelo-bench-start-" + std::to_string(getpid()));
  const fs::path app = home / "app", cache = home / "cache";
  fs::create_directories(app / "AVC");
  for (const char *name : {"XDG_CONFIG_HOME", "XDG_STATE_HOME"})
    ::setenv(name, (home / name).c_str(), 1);
  ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  TKorveloApplication application(argc, argv);
  std::string failure;
  SetMessageSink([&](const QString &AText, QMessageBox::Icon) { failure = AText.toStdString(); });

  const fs::path exeDir = fs::canonical("/proc/self/exe").parent_path();
  const fs::path source = exeDir / "media" / "bench-480x272-10s.mp4";
  if (!fs::exists(source)) {
    fs::create_directories(source.parent_path());
    const std::string command = std::string(KORVELO_TESTMEDIA_PATH) + " --one '" + source.string() +
                                "' --duration 10 --size 480x272 > /dev/null";
    if (std::system(command.c_str()) != 0 || !fs::exists(source)) {
      std::fprintf(stderr, "korvelo-bench-window-start: could not make %s\n", source.c_str());
      return 1;
    }
  }

  // A first window without files: the libraries and the toolkit's own start are not timed.
  TTimes times;
  OpenOnce(app, 0, times);
  std::vector<double> emptyPicture;
  for (int run = 0; run < runs; ++run) {
    OpenOnce(app, 0, times);
    emptyPicture.push_back(times.FirstPicture);
  }
  for (int i = 0; i < files; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "clip-%04d.mp4", i);
    fs::create_hard_link(source, app / "AVC" / name);
  }

  std::vector<double> coldPicture, coldFilled, coldCpu, warmPicture, warmFilled, warmCpu;
  for (int run = 0; run < runs; ++run) {
    fs::remove_all(cache);
    if (!OpenOnce(app, files, times)) {
      std::fprintf(stderr, "korvelo-bench-window-start: the list never filled %s\n",
                   failure.c_str());
      return 1;
    }
    coldPicture.push_back(times.FirstPicture);
    coldFilled.push_back(times.ListFilled);
    coldCpu.push_back(times.FilledCpu);
    if (!OpenOnce(app, files, times))
      return 1;
    warmPicture.push_back(times.FirstPicture);
    warmFilled.push_back(times.ListFilled);
    warmCpu.push_back(times.FilledCpu);
  }
  fs::remove_all(home);
  std::printf("%d files in the output folder, %d runs each, medians:\n", files, runs);
  std::printf("  no files:   first picture %.0f ms\n", Median(emptyPicture));
  std::printf("  no cache:   first picture %.0f ms, list filled %.0f ms (CPU %.0f ms)\n",
              Median(coldPicture), Median(coldFilled), Median(coldCpu));
  std::printf("  warm cache: first picture %.0f ms, list filled %.0f ms (CPU %.0f ms)\n",
              Median(warmPicture), Median(warmFilled), Median(warmCpu));
  std::printf("  (load average %.1f)\n", LoadAverage());
  return 0;
}
