// Takes a picture of the window as a person sees it: two files added, the first one converting.
// Run under an X server (xvfb-run); usage:
//   korvelo-window-shot OUTPUT.png FILE1 FILE2 [PAGE [WxH [MORE FILES...]]]
// WxH "-": the size the window takes by itself on the screen.
// FILE1 "none": the window as it first opens, with an empty list. The second panel is selected.
#include <QApplication>
#include <QDir>
#include <QFont>
#include <QElapsedTimer>
#include <QPixmap>
#include <QProgressBar>
#include <QScreen>
#include <QTabWidget>
#include <QMenu>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "ui/application.h"
#include "ui/convert_list.h"
#include "ui/main_window.h"
#include "ui/text_fit.h"
#include "support/test_support.h"

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s OUTPUT.png FILE1 FILE2 [PAGE [WxH [MORE FILES...]]]\n",
                 argv[0]);
    return 2;
  }
  TKorveloApplication app(argc, argv);
  // KORVELO_SHOT_FONT_PT: the desktop's font at that size, as a desktop's settings would give it.
  if (const char *points = std::getenv("KORVELO_SHOT_FONT_PT")) {
    QFont font = QApplication::font();
    font.setPointSizeF(std::atof(points));
    QApplication::setFont(font);
  }
  testing_support::TempDir appDir; // Config.ini and the outputs go here
  TfrmMain window(QString::fromStdString(appDir.path().string()));
  if (argc > 5) {
    const QStringList size = QString::fromLocal8Bit(argv[5]).split(QLatin1Char('x'));
    if (size.size() == 2) {
      window.resize(size[0].toInt(), size[1].toInt());
      window.move(0, 0); // all of it on the screen
    }
  }
  window.show();
  const QString output = QString::fromLocal8Bit(argv[1]);
  QStringList files = {QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3])};
  for (int i = 6; i < argc; ++i)
    files << QString::fromLocal8Bit(argv[i]);
  // PAGE "content": the Convert page without starting, the first panel with its second sound
  // track, its first subtitles and the part from 1 s to 2 s chosen, and its menu open.
  const bool content = argc > 4 && QString::fromLocal8Bit(argv[4]) == QLatin1String("content");
  const int page = content ? 1 : argc > 4 ? std::atoi(argv[4]) : 1;
  bool contentChosen = false;
  qint64 chosenAt = 0;
  int result = 1;
  QTimer::singleShot(300, &window, [&] {
    const bool empty = files[0] == QLatin1String("none");
    if (!empty) {
      window.AddFiles(files);
    }
    window.pcSteps->setCurrentIndex(page);
    if (page == 1 && !empty && !content)
      window.btnStart->trigger();
    auto *poll = new QTimer(&window);
    QElapsedTimer clock;
    clock.start();
    QObject::connect(poll, &QTimer::timeout, &window, [&, poll, clock] {
      const TfrmConvertList *list = window.ConvertList();
      if (list->Count() > 1 && !list->Item(1)->FSelected) // once its panel has loaded
        list->Item(1)->SetSelected(true);
      if (content && !contentChosen && list->Count() > 1 &&
          !list->Item(0)->OutputFileName().empty() && !list->Item(1)->OutputFileName().empty()) {
        contentChosen = true;
        chosenAt = clock.elapsed();
        TfrmConvertItem *item = list->Item(0);
        TContentChoice choice;
        choice.AudioTrack = "2";
        choice.Subtitles = "1";
        choice.StartMs = 1000;
        choice.EndMs = 2000;
        item->SetContentChoice(choice);
        // The menu and its Sound list, open over the second panel.
        auto *menu = new QMenu(item);
        item->AddContentActions(*menu);
        menu->popup(item->mapToGlobal(QPoint(item->width() / 2, item->height())));
        QMenu *sound = menu->actions().constFirst()->menu();
        sound->popup(menu->mapToGlobal(QPoint(menu->sizeHint().width(), 0)));
      }
      if (content && (!contentChosen || clock.elapsed() - chosenAt < 1500) &&
          clock.elapsed() < 20000)
        return;
      const bool ready =
          page != 1 || empty || content ||
          // a third of the first file done, with the time left if it comes
          (list->Count() > 1 && list->Item(0)->pbarPreview->value() >= 30 &&
           (window.lbStatus->text().endsWith(QStringLiteral(" left")) || clock.elapsed() > 5000));
      if (!ready && clock.elapsed() < 20000)
        return;
      poll->stop();
      const QRect frame = window.frameGeometry();
      const QPixmap shot =
          window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
      result = shot.save(output) ? 0 : 1;
      window.ConvertList()->StopAll();
      QTimer::singleShot(500, &app, [] { QCoreApplication::exit(); });
    });
    poll->start(20);
  });
  app.exec();
  return result;
}
