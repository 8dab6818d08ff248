#include "ui/home_picture.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>

namespace {

constexpr qreal DesignW = 800, DesignH = 600;

// The handheld: a wide rounded body, a screen, a pad on the left and four buttons on the right.
void DrawHandheld(QPainter &APainter) {
  const QRectF body(110, 190, 580, 250);
  QLinearGradient shell(body.topLeft(), body.bottomLeft());
  shell.setColorAt(0, QColor(70, 74, 86));
  shell.setColorAt(1, QColor(28, 30, 38));
  APainter.setPen(QPen(QColor(12, 14, 20), 3));
  APainter.setBrush(shell);
  APainter.drawRoundedRect(body, 120, 120);

  const QRectF screen(245, 222, 310, 176);
  APainter.setPen(QPen(QColor(10, 10, 14), 6));
  QLinearGradient glass(screen.topLeft(), screen.bottomRight());
  glass.setColorAt(0, QColor(35, 120, 190));
  glass.setColorAt(1, QColor(20, 40, 90));
  APainter.setBrush(glass);
  APainter.drawRoundedRect(screen, 6, 6);

  // A film strip across the screen with a play mark over it.
  const QRectF strip(255, 282, 290, 58);
  APainter.setPen(Qt::NoPen);
  APainter.setBrush(QColor(15, 18, 26, 220));
  APainter.drawRect(strip);
  APainter.setBrush(QColor(235, 235, 240));
  for (int i = 0; i < 12; ++i) {
    APainter.drawRect(QRectF(260 + i * 24, 286, 12, 8));
    APainter.drawRect(QRectF(260 + i * 24, 328, 12, 8));
  }
  QPainterPath play;
  play.moveTo(385, 270);
  play.lineTo(385, 352);
  play.lineTo(450, 311);
  play.closeSubpath();
  APainter.setBrush(QColor(255, 196, 60));
  APainter.setPen(QPen(QColor(120, 70, 0), 2));
  APainter.drawPath(play);

  // Direction pad.
  APainter.setPen(Qt::NoPen);
  APainter.setBrush(QColor(95, 100, 112));
  APainter.drawRoundedRect(QRectF(158, 292, 54, 18), 4, 4);
  APainter.drawRoundedRect(QRectF(176, 274, 18, 54), 4, 4);
  // Four buttons in their own colours.
  const QColor colours[] = {QColor(80, 200, 140), QColor(230, 90, 90), QColor(90, 140, 230),
                            QColor(220, 120, 200)};
  const QPointF centres[] = {{622, 272}, {648, 301}, {596, 301}, {622, 330}};
  for (int i = 0; i < 4; ++i) {
    APainter.setBrush(QColor(20, 22, 28));
    APainter.drawEllipse(centres[i], 13, 13);
    APainter.setPen(QPen(colours[i], 3));
    APainter.setBrush(Qt::NoBrush);
    APainter.drawEllipse(centres[i], 6, 6);
    APainter.setPen(Qt::NoPen);
  }
}

} // namespace

THomePicture::THomePicture(QWidget *AParent) : QWidget(AParent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void THomePicture::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, height());
  sky.setColorAt(0, QColor(18, 46, 92));
  sky.setColorAt(1, QColor(8, 120, 140));
  painter.fillRect(rect(), sky);

  const qreal scale = std::min(width() / DesignW, height() / DesignH);
  painter.translate((width() - DesignW * scale) / 2, (height() - DesignH * scale) / 2);
  painter.scale(scale, scale);

  QRadialGradient glow(QPointF(400, 320), 360);
  glow.setColorAt(0, QColor(255, 255, 255, 60));
  glow.setColorAt(1, QColor(255, 255, 255, 0));
  painter.setPen(Qt::NoPen);
  painter.setBrush(glow);
  painter.drawEllipse(QPointF(400, 320), 360, 260);

  QFont title = font();
  title.setPixelSize(54);
  title.setBold(true);
  painter.setFont(title);
  painter.setPen(QColor(245, 248, 255));
  painter.drawText(QRectF(0, 60, DesignW, 80), Qt::AlignCenter,
                   QStringLiteral("Korvelo Converter"));
  QFont sub = font();
  sub.setPixelSize(24);
  painter.setFont(sub);
  painter.setPen(QColor(200, 225, 245));
  painter.drawText(QRectF(0, 130, DesignW, 40), Qt::AlignCenter,
                   tr("Your videos, ready for the PSP"));

  DrawHandheld(painter);

  // A translation may need more lines than the English: its letters get smaller until it fits.
  const QRectF hintArea(20, 465, DesignW - 40, 110);
  const QString hint = tr("Add files on the Convert page, press Start,\nthen copy them to the "
                          "memory stick on Folders and Files.");
  constexpr int flags = Qt::AlignCenter | Qt::TextWordWrap;
  for (int pixels = 24; pixels > 12; --pixels) {
    sub.setPixelSize(pixels);
    if (QFontMetricsF(sub).boundingRect(hintArea, flags, hint).height() <= hintArea.height())
      break;
  }
  painter.setFont(sub);
  painter.setPen(QColor(215, 235, 250));
  painter.drawText(hintArea, flags, hint);
}
