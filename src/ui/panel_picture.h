// A panel's picture: on a failed panel, why over its foot.
#pragma once

#include <QLabel>

// Why the panel's conversion failed, in short, over the foot of the picture whatever the
// panel's width.
class TReasonLabel : public QLabel {
  Q_OBJECT

public:
  // APicture: the preview box's picture, which it covers.
  explicit TReasonLabel(QLabel *APicture);
  // AShort over the picture, AFull on its tooltip and the picture's; empty: hidden.
  void ShowReason(const QString &AShort, const QString &AFull);
};
