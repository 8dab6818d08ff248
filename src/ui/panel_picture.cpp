#include "ui/panel_picture.h"

#include <QLayout>
#include <algorithm>

#include "ui/convert_item.h"
#include "ui/preview_box.h"

namespace {

// White on dark: the picture shows through around the text.
void OverPicture(QLabel &ALabel, int AAlpha, const char *APadding) {
  ALabel.setStyleSheet(QStringLiteral("background: rgba(0, 0, 0, %1); color: white; padding: %2;")
                           .arg(AAlpha)
                           .arg(QLatin1String(APadding)));
}

} // namespace

TReasonLabel::TReasonLabel(QLabel *APicture) : QLabel(APicture) {
  setWordWrap(true);
  setAlignment(Qt::AlignCenter);
  OverPicture(*this, 190, "2px");
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

void PutTimeOverPicture(TPreviewBox &ABox) {
  QLabel *time = ABox.lbPreviewTime;
  ABox.layout()->removeWidget(time);
  time->setParent(ABox.imgThumb);
  time->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QFont small = time->font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  time->setFont(small);
  OverPicture(*time, 150, "0 2px");
  const int timeWidth = time->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.00")) + 10;
  time->setMinimumWidth(0);
  time->setGeometry(TPreviewBox::PictureWidth - timeWidth, 0, timeWidth,
                    time->fontMetrics().height() + 2);
  time->show();
}
