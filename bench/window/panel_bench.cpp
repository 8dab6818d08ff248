// How long a person waits for a new file's panel: from AddItem to the painted panel with its
// first preview picture, for a 1080p H.264 file (made once with the test-media generator and
// kept in bench/media of the build). Runs on the offscreen platform unless one is set.
// Usage: korvelo-bench-panel [--input FILE] [--runs N]
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ui/application.h"
#include "window_bench.h"
#include "ui/convert_list.h"
#include "ui/main_window.h"
#include "ui/messages.h"

namespace {

namespace fs = std::filesystem;

} // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  TKorveloApplication app(argc, argv);
  const fs::path exeDir = fs::canonical("/proc/self/exe").parent_path();
  std::string input = (exeDir / "media" / "bench-1920x1080-10s.mp4").string();
  int runs = 15;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--input" && i + 1 < argc)
      input = argv[++i];
    else if (arg == "--runs" && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else {
      std::fprintf(stderr, "usage: %s [--input FILE] [--runs N]\n", argv[0]);
      return 2;
    }
  }
  if (!MakeBenchInput(input, 10, "1920x1080")) {
    std::fprintf(stderr, "korvelo-bench-panel: could not make %s\n", input.c_str());
    return 1;
  }
  std::string failure;
  SetMessageSink([&](const QString &AText, QMessageBox::Icon) { failure = AText.toStdString(); });
  const fs::path appDir =
      fs::temp_directory_path() / ("korvelo-bench-panel-" + std::to_string(getpid()));
  fs::create_directories(appDir);
  std::vector<double> times;
  {
    TfrmMain window(QString::fromStdString(appDir.string()));
    window.show();
    QApplication::processEvents();
    TfrmConvertList *list = window.ConvertList();
    for (int run = 0; run <= runs; ++run) {
      QElapsedTimer clock;
      clock.start();
      const int before = list->Count();
      list->AddItem(input);
      // The file loads off the window's thread: its panel comes with a later event.
      while (list->Count() == before && list->Loading() > 0 && clock.elapsed() < 10000)
        QApplication::processEvents();
      if (list->Count() == before) {
        std::fprintf(stderr, "korvelo-bench-panel: %s was not added: %s\n", input.c_str(),
                     failure.c_str());
        return 1;
      }
      TfrmConvertItem *panel = list->Item(list->Count() - 1);
      TPaintWatch watch;
      panel->imgThumb->installEventFilter(&watch);
      while (!watch.Painted && clock.elapsed() < 10000)
        QApplication::processEvents();
      const double ms = clock.nsecsElapsed() / 1e6;
      panel->imgThumb->removeEventFilter(&watch);
      // A black preview would mean no picture was decoded: then nothing worth timing happened.
      const QImage preview = panel->imgThumb->pixmap().toImage();
      if (preview.pixelColor(preview.width() / 2, preview.height() / 2) == QColor(Qt::black)) {
        std::fprintf(stderr, "korvelo-bench-panel: the preview of %s stayed black\n",
                     input.c_str());
        return 1;
      }
      if (run > 0) // the first run also loads the libraries and warms the caches
        times.push_back(ms);
      list->ClearItems();
      QApplication::processEvents();
    }
  }
  fs::remove_all(appDir);
  std::printf("AddItem to painted panel, %s, %d runs: median %.1f ms, min %.1f ms, max %.1f ms "
              "(goal: below 150 ms)\n",
              fs::path(input).filename().c_str(), runs, Median(times),
              *std::min_element(times.begin(), times.end()),
              *std::max_element(times.begin(), times.end()));
  return 0;
}
