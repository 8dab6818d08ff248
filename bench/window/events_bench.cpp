// How long the window's thread is kept from its events while 20 waiting panels change their
// profile and then the output folder changes: the longest stretch between two turns of the
// event loop, and the longest single change. Each change reloads what waits, a 1080p H.264 file
// (made once with the test-media generator, kept in bench/media of the build). Runs on the
// offscreen platform unless one is set.
// Usage: korvelo-bench-window-events [--input FILE] [--panels N]
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ui/application.h"
#include "ui/convert_list.h"
#include "ui/folders_page.h"
#include "ui/main_window.h"
#include "ui/messages.h"
#include "window_bench.h"

namespace {

namespace fs = std::filesystem;

// The longest gap between two turns of the event loop while it runs.
class TLoopWatch {
public:
  TLoopWatch() {
    FTimer.setInterval(0);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      if (FClock.isValid())
        Longest = std::max(Longest, FClock.nsecsElapsed() / 1e6);
      FClock.start();
    });
    FTimer.start();
  }
  double Longest = 0;

private:
  QTimer FTimer;
  QElapsedTimer FClock;
};

void RunFor(int AMs) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < AMs)
    QApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  TKorveloApplication app(argc, argv);
  const fs::path exeDir = fs::canonical("/proc/self/exe").parent_path();
  std::string input = (exeDir / "media" / "bench-1920x1080-10s.mp4").string();
  int panels = 20;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--input" && i + 1 < argc)
      input = argv[++i];
    else if (arg == "--panels" && i + 1 < argc)
      panels = std::max(1, std::atoi(argv[++i]));
    else {
      std::fprintf(stderr, "usage: %s [--input FILE] [--panels N]\n", argv[0]);
      return 2;
    }
  }
  if (!MakeBenchInput(input, 10, "1920x1080")) {
    std::fprintf(stderr, "korvelo-bench-window-events: could not make %s\n", input.c_str());
    return 1;
  }
  std::string failure;
  SetMessageSink([&](const QString &AText, QMessageBox::Icon) { failure = AText.toStdString(); });
  const fs::path appDir =
      fs::temp_directory_path() / ("korvelo-bench-window-events-" + std::to_string(getpid()));
  fs::create_directories(appDir / "second");
  double longestProfile = 0, folderChange = 0, longestGap = 0;
  {
    TfrmMain window(QString::fromStdString(appDir.string()));
    window.show();
    TfrmConvertList *list = window.ConvertList();
    for (int i = 0; i < panels; ++i)
      list->AddItem(input);
    QElapsedTimer loading;
    loading.start();
    while ((list->Loading() > 0 || list->Count() < panels) && loading.elapsed() < 120000)
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    if (list->Count() < panels) {
      std::fprintf(stderr, "korvelo-bench-window-events: %d of %d panels loaded: %s\n",
                   list->Count(), panels, failure.c_str());
      return 1;
    }
    RunFor(200);
    TLoopWatch watch;
    RunFor(100);
    // Each change is a person's own click: one event each, a little apart as they come.
    constexpr int ClickGapMs = 60;
    for (int i = 0; i < panels; ++i)
      QTimer::singleShot(ClickGapMs * i, [&, i] {
        QComboBox *box = list->Item(i)->cboxFormat;
        const int profile = (box->currentIndex() + 1) % box->count();
        QElapsedTimer clock;
        clock.start();
        box->setCurrentIndex(profile);
        emit box->activated(profile);
        longestProfile = std::max(longestProfile, clock.nsecsElapsed() / 1e6);
      });
    TFoldersPage *page = window.FoldersPage();
    page->FBrowseFolder = [&](const QString &) {
      return QString::fromStdString((appDir / "second").string());
    };
    QTimer::singleShot(ClickGapMs * panels, [&] {
      QElapsedTimer clock;
      clock.start();
      page->btnOutputFolder->click();
      folderChange = clock.nsecsElapsed() / 1e6;
    });
    RunFor(ClickGapMs * panels + 3000);
    longestGap = watch.Longest;
    list->ClearItems();
    QApplication::processEvents();
  }
  fs::remove_all(appDir);
  std::printf("%d waiting panels of %s: longest profile change %.1f ms, output folder change "
              "%.1f ms, longest event on the window's thread %.1f ms (goal: below 50 ms)\n",
              panels, fs::path(input).filename().c_str(), longestProfile, folderChange, longestGap);
  return 0;
}
