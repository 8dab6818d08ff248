// The Home page's picture, drawn here: a handheld with a film on its screen over a soft
// gradient. Drawn at 800 x 600 and scaled to the page, keeping its shape.
#pragma once

#include <QWidget>

class THomePicture : public QWidget {
  Q_OBJECT

public:
  explicit THomePicture(QWidget *AParent = nullptr);
  QSize sizeHint() const override { return {400, 300}; }

protected:
  void paintEvent(QPaintEvent *AEvent) override;
};
