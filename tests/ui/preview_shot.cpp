// Takes a picture of the preview box as a person sees it, in a window of a given size beside a
// group box as on a panel, its slider moved to a position. Run under an X server (xvfb-run):
//   korvelo-preview-shot OUTPUT.png FILE [PERCENT [WxH]]     environment: KORVELO_SHOT_FONT_PT
#include <QApplication>
#include <QFocusEvent>
#include <QFont>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "medialib/medialib.h"
#include "probe/av_probe.h"
#include "ui/preview_box.h"

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUTPUT.png FILE [PERCENT [WxH]]\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  if (const char *points = std::getenv("KORVELO_SHOT_FONT_PT")) {
    QFont font = QApplication::font();
    font.setPointSizeF(std::atof(points));
    QApplication::setFont(font);
  }
  if (!LoadLibraries("", true)) {
    std::fprintf(stderr, "%s\n", LibraryLoadError().c_str());
    return 1;
  }
  TAVProbe probe;
  TAVFileInfo info;
  if (probe.LoadFile(argv[2]))
    probe.GetFileInfo(info);
  probe.CloseFile();

  QWidget window;
  auto *row = new QHBoxLayout(&window);
  row->setContentsMargins(8, 5, 8, 5);
  auto *box = new TPreviewBox(&window);
  row->addWidget(box, 0, Qt::AlignTop);
  auto *group = new QGroupBox(QStringLiteral("Input"), &window);
  auto *groupRow = new QHBoxLayout(group);
  groupRow->addWidget(new QLabel(QString::fromLocal8Bit(argv[2]), group));
  row->addWidget(group, 1);
  if (argc > 4) {
    const QStringList size = QString::fromLocal8Bit(argv[4]).split(QLatin1Char('x'));
    if (size.size() == 2)
      window.resize(size[0].toInt(), size[1].toInt());
  }
  window.move(0, 0);
  window.show();
  box->SetInput(argv[2], info.Duration);
  QFocusEvent focus(QEvent::FocusIn);
  QCoreApplication::sendEvent(box->tbPreviewPos, &focus);
  box->tbPreviewPos->setValue(argc > 3 ? std::atoi(argv[3]) : 60);
  const QString output = QString::fromLocal8Bit(argv[1]);
  int result = 1;
  QTimer::singleShot(2000, &window, [&] {
    result = window.screen()->grabWindow(window.winId()).save(output) ? 0 : 1;
    app.quit();
  });
  app.exec();
  return result;
}
