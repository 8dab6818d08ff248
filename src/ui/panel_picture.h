// A panel's picture: the preview box dressed for a panel, with the picture's time over its top
// corner and, on a failed panel, why over its foot.
#pragma once

#include <QLabel>

class TPreviewBox;

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

// The picture's time goes over the box's top corner: beside the slider it would cost the panel
// its place on an 800-pixel screen.
void PutTimeOverPicture(TPreviewBox &ABox);
