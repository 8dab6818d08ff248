// TSelectableFrame: a frame the person selects with a click, or with Space when Tab has
// brought the focus to it; drawn as a rounded box, highlighted while selected, with a dashed
// ring while it has the focus.
#pragma once

#include <QFrame>

class TSelectableFrame : public QFrame {
  Q_OBJECT

public:
  explicit TSelectableFrame(QWidget *AParent);

  bool FSelected = false;
  void SetSelected(bool ASelected);

protected:
  void mousePressEvent(QMouseEvent *AEvent) override;
  void keyPressEvent(QKeyEvent *AEvent) override;
  void paintEvent(QPaintEvent *AEvent) override;
};
