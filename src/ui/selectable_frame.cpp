#include "ui/selectable_frame.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

TSelectableFrame::TSelectableFrame(QWidget *AParent) : QFrame(AParent) {
  // Tab stops at the frame itself too: Space there selects it, as a click does.
  setFocusPolicy(Qt::TabFocus);
  setAutoFillBackground(false);
}

void TSelectableFrame::SetSelected(bool ASelected) {
  FSelected = ASelected;
  update();
}

void TSelectableFrame::mousePressEvent(QMouseEvent *AEvent) {
  if (AEvent->button() == Qt::LeftButton)
    SetSelected(!FSelected);
  QFrame::mousePressEvent(AEvent);
}

void TSelectableFrame::keyPressEvent(QKeyEvent *AEvent) {
  if (AEvent->key() == Qt::Key_Space && !AEvent->isAutoRepeat()) {
    SetSelected(!FSelected);
    return;
  }
  QFrame::keyPressEvent(AEvent);
}

void TSelectableFrame::paintEvent(QPaintEvent *AEvent) {
  QFrame::paintEvent(AEvent);
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette &pal = palette();
  const QRectF box = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
  if (FSelected) {
    QColor fill = pal.color(QPalette::Highlight);
    fill.setAlpha(40);
    painter.setBrush(fill);
    painter.setPen(QPen(pal.color(QPalette::Highlight), 2.5));
  } else {
    painter.setBrush(pal.color(QPalette::Base).lighter(100));
    painter.setPen(QPen(pal.color(QPalette::Mid), 1));
  }
  painter.drawRoundedRect(box, 5, 5);
  if (hasFocus()) { // where Space would select
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(pal.color(QPalette::Highlight), 1, Qt::DashLine));
    painter.drawRoundedRect(box.adjusted(3, 3, -3, -3), 4, 4);
  }
}
