// TFittedBar: a progress bar that may be narrower than its caption.
#pragma once

#include <QProgressBar>
#include <QStringList>

// The caption loses its middle, so the percentage at its end stays; text() and the screen
// reader keep all of it. Its preferred width is that of its longest caption, its narrowest that
// of a percentage.
class TFittedBar : public QProgressBar {
public:
  TFittedBar(QWidget *AParent, const QStringList &ALongest);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

protected:
  void paintEvent(QPaintEvent *AEvent) override;

private:
  static constexpr int Padding = 16;
  QStringList FLongest;
};
