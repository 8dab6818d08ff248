#include "ui/fitted_bar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <algorithm>

TFittedBar::TFittedBar(QWidget *AParent, const QStringList &ALongest)
    : QProgressBar(AParent), FLongest(ALongest) {}

QSize TFittedBar::sizeHint() const {
  int longest = fontMetrics().horizontalAdvance(QStringLiteral("100%"));
  for (const QString &caption : FLongest)
    longest = std::max(longest, fontMetrics().horizontalAdvance(caption));
  return {longest + Padding, QProgressBar::sizeHint().height()};
}

QSize TFittedBar::minimumSizeHint() const {
  return {fontMetrics().horizontalAdvance(QStringLiteral("100%")) + Padding,
          QProgressBar::minimumSizeHint().height()};
}

void TFittedBar::paintEvent(QPaintEvent * /*AEvent*/) {
  QStyleOptionProgressBar option;
  initStyleOption(&option);
  option.text =
      fontMetrics().elidedText(option.text, Qt::ElideMiddle, std::max(width() - Padding, 0));
  QPainter painter(this);
  style()->drawControl(QStyle::CE_ProgressBar, &option, &painter, this);
}
