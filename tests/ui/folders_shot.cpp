// Takes a picture of the Folders and Files page as a person sees it: converted files listed,
// two of them selected, a device folder chosen and a PSP offered.
// Run under an X server (xvfb-run); usage: korvelo-folders-shot OUTPUT.png [OFFER.png [COPY.png]]
// OFFER.png shows the page before the offered PSP is taken, COPY.png the copy's progress.
#include <QApplication>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/folders.h"
#include "ui/application.h"
#include "ui/folders_page.h"
#include "ui/main_window.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
    return 2;
  }
  TKorveloApplication app(argc, argv);
  // KORVELO_SHOT_FONT_PT: the desktop's font at that size, as a desktop's settings would give it.
  if (const char *points = std::getenv("KORVELO_SHOT_FONT_PT")) {
    QFont font = QApplication::font();
    font.setPointSizeF(std::atof(points));
    QApplication::setFont(font);
  }
  testing_support::TempDir dir;
  const std::string appDir = dir.file("Korvelo") + "/";
  ::setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", dir.file("cache").c_str(), 1);
  const std::pair<const char *, const char *> files[] = {
      {"AVC/Holiday at the sea 480x272 AVC.mp4", "anamorphic.mp4"},
      {"AVC/Concert 480x272 AVC.mp4", "aac_51.mp4"},
      {"AVC/Trailer 320x240 AVC.mp4", "mov_h264_aac.mov"},
      {"MPEG4/Lecture 480x272 MPEG4.mp4", "avi_mpeg4_mp3.avi"},
      {"MPEG4/Cartoon 320x240 MPEG4.mp4", "flv_h264_aac.flv"}};
  for (const auto &[name, media] : files) {
    const std::string path = appDir + name;
    fs::create_directories(fs::path(path).parent_path());
    fs::copy_file(testing_support::MediaFile(media), path);
    // The trailer's conversion was stopped: its part has no thumbnail.
    if (std::string(name).find("Trailer") == std::string::npos)
      std::ofstream(path.substr(0, path.size() - 4) + ".THM") << std::string(6000, 't');
  }
  const std::string stick = dir.file("media/PSP");
  fs::create_directories(stick + "/PSP");
  // On the stick already: a video the PSP plays and one it does not.
  fs::create_directories(stick + "/MP_ROOT/100ANV01");
  fs::copy_file(testing_support::MediaFile("aac_51.mp4"), stick + "/MP_ROOT/100ANV01/MAQ00000.MP4");
  fs::copy_file(testing_support::MediaFile("h264_10bit.mp4"),
                stick + "/MP_ROOT/100ANV01/MAQ00001.MP4");
  fs::create_directories(dir.file("config") + "/Korvelo Converter");
  std::ofstream(dir.file("config") + "/Korvelo Converter/Config.ini")
      << "[Folders]\nDeviceFolder=" << dir.file("media/not plugged in") << "\n";

  TfrmMain window(QString::fromStdString(appDir));
  window.FoldersPage()->FListVolumes = [stick] { return std::vector<std::string>{stick}; };
  window.show();
  // Two files waiting on the Convert page: the status line weighs them against the stick.
  window.AddFiles({QString::fromStdString(testing_support::MediaFile("mov_h264_aac.mov")),
                   QString::fromStdString(testing_support::MediaFile("anamorphic.mp4"))});
  window.pcSteps->setCurrentWidget(window.tshSettings);
  // The durations come in from the thread that reads them: the picture shows them all.
  QTableWidget *list = window.FoldersPage()->lvFiles;
  const auto filled = [list] {
    for (int row = 0; row < list->rowCount(); ++row)
      if (list->item(row, 2)->text().isEmpty())
        return false;
    return true;
  };
  QElapsedTimer clock;
  clock.start();
  while (!filled() && clock.elapsed() < 30000)
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  int result = 1;
  auto save = [&](const char *AFile) {
    return window.screen()->grabWindow(0).save(QString::fromLocal8Bit(AFile));
  };
  QTimer::singleShot(300, &window, [&] {
    if (argc > 2 && !save(argv[2]))
      QCoreApplication::exit();
    // Device folder chosen, then two rows selected, as a person would.
    window.FoldersPage()->btnUsePSP->click();
    window.FoldersPage()->FListVolumes = [] { return std::vector<std::string>{}; };
    list->selectRow(0);
    list->selectionModel()->select(list->model()->index(3, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTimer::singleShot(300, &window, [&] {
      result = save(argv[1]) ? 0 : 1;
      if (argc <= 3) {
        QCoreApplication::exit();
        return;
      }
      // A selection big enough to watch its copy.
      std::filesystem::resize_file(appDir + files[1].first, std::uintmax_t{3} << 30);
      window.FoldersPage()->btnCopy->click();
      QTimer::singleShot(1500, &window, [&] {
        result = save(argv[3]) ? result : 1;
        if (window.FoldersPage()->FCopyDialog)
          window.FoldersPage()->FCopyDialog->findChild<QPushButton *>()->click();
        QTimer::singleShot(1000, &window, [] { QCoreApplication::exit(); });
      });
    });
  });
  app.exec();
  return result;
}
