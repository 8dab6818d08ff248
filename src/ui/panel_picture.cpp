#include "ui/panel_picture.h"

#include <algorithm>

#include "ui/convert_item.h"

TReasonLabel::TReasonLabel(QLabel *APicture) : QLabel(APicture) {
  setWordWrap(true);
  setAlignment(Qt::AlignCenter);
  // White on dark: the picture shows through around the text.
  setStyleSheet(QStringLiteral("background: rgba(0, 0, 0, 190); color: white; padding: 2px;"));
  hide();
}

void TReasonLabel::ShowReason(const QString &AShort, const QString &AFull) {
  setVisible(!AShort.isEmpty());
  if (AShort.isEmpty())
    return;
  setText(TfrmConvertItem::tr("Failed: %1").arg(AShort));
  setToolTip(AFull);
  parentWidget()->setToolTip(AFull);
  const int width = parentWidget()->width();
  const int height = std::min(heightForWidth(width), parentWidget()->height());
  setGeometry(0, parentWidget()->height() - height, width, height);
}
