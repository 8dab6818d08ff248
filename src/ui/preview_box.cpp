#include "ui/preview_box.h"

#include <QApplication>
#include <QEvent>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QSlider>

#include "app/picture_preview.h"
#include "app/profiles.h"
#include "app/thumbnail.h"

TPreviewBox::TPreviewBox(QWidget *AParent, std::shared_ptr<TPicturePreview> AService)
    : QWidget(AParent), FService(AService ? std::move(AService) : TPicturePreview::Shared()),
      FOwner(FService->NewOwner()), FSelf(this) {
  auto *grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(2);
  imgThumb = new QLabel(this);
  imgThumb->setFixedSize(PictureWidth, PictureHeight);
  tbPreviewPos = new QSlider(Qt::Horizontal, this);
  tbPreviewPos->setRange(0, 100);
  tbPreviewPos->setPageStep(2);
  tbPreviewPos->setSingleStep(1);
  tbPreviewPos->setTickPosition(QSlider::NoTicks);
  tbPreviewPos->setFixedWidth(PictureWidth);
  tbPreviewPos->setAccessibleName(tr("Preview position"));
  tbPreviewPos->installEventFilter(this);
  connect(tbPreviewPos, &QSlider::valueChanged, this, [this] { tbPreviewPosChange(); });
  lbPreviewTime = new QLabel(this);
  lbPreviewTime->setAccessibleName(tr("Time of the preview's picture"));
  // As wide as the longest time, so that the slider does not move as the digits change.
  lbPreviewTime->setMinimumWidth(
      lbPreviewTime->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.00")) + 2);
  grid->addWidget(imgThumb, 0, 0);
  grid->addWidget(tbPreviewPos, 1, 0);
  grid->addWidget(lbPreviewTime, 1, 1, Qt::AlignLeft | Qt::AlignVCenter);
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(2, 1);
  TBGRImage black;
  black.Resize(PictureWidth, PictureHeight, true);
  ShowPicture(black, 0);
}

TPreviewBox::~TPreviewBox() { FService->Forget(FOwner); }

void TPreviewBox::SetInput(const std::string &AFileName, int64_t ADurationUs,
                           const TBGRImage *AFirstPicture) {
  const bool sameFile = AFileName == FFileName && ADurationUs == FDurationUs;
  if (!sameFile) {
    ++FInput;
    FService->Forget(FOwner);
    FFileName = AFileName;
    FDurationUs = std::max<int64_t>(ADurationUs, 0);
    const QSignalBlocker quiet(tbPreviewPos);
    tbPreviewPos->setValue(0);
  }
  if (AFirstPicture)
    ShowPicture(*AFirstPicture, 0);
  else if (!sameFile)
    AskFor(0);
}

int64_t TPreviewBox::SliderTimeUs() const {
  const int span = tbPreviewPos->maximum() - tbPreviewPos->minimum();
  if (FDurationUs <= 0 || span <= 0)
    return 0;
  return FDurationUs * (tbPreviewPos->value() - tbPreviewPos->minimum()) / span;
}

bool TPreviewBox::eventFilter(QObject *AWatched, QEvent *AEvent) {
  // The slider moves the picture only once the user has been in it, so that moves of the
  // window's own making never start a decode.
  if (AWatched == tbPreviewPos &&
      (AEvent->type() == QEvent::FocusIn || AEvent->type() == QEvent::MouseButtonPress ||
       AEvent->type() == QEvent::Wheel))
    FPreviewReady = true;
  return QWidget::eventFilter(AWatched, AEvent);
}

void TPreviewBox::tbPreviewPosChange() {
  if (FPreviewReady && !FFileName.empty())
    AskFor(SliderTimeUs());
}

void TPreviewBox::AskFor(int64_t ATimeUs) {
  TPreviewRequest request;
  request.FileName = FFileName;
  request.TimeUs = ATimeUs;
  request.BoxWidth = PictureWidth;
  request.BoxHeight = PictureHeight;
  const QPointer<TPreviewBox> self = FSelf;
  const uint64_t input = FInput;
  FService->Request(FOwner, request, [self, input](const TPreviewAnswer &AAnswer) {
    QMetaObject::invokeMethod(
        qApp,
        [self, input, AAnswer] {
          if (self)
            self->ShowAnswer(input, AAnswer);
        },
        Qt::QueuedConnection);
  });
}

void TPreviewBox::ShowAnswer(uint64_t AInput, const TPreviewAnswer &AAnswer) {
  if (AInput != FInput)
    return;
  // Without a picture (a sound file) the part is chosen by the slider's time.
  ShowPicture(AAnswer.Picture, AAnswer.PictureUs >= 0 ? AAnswer.PictureUs : AAnswer.RequestedUs);
}

void TPreviewBox::ShowPicture(const TBGRImage &APicture, int64_t ATimeUs) {
  if (APicture.Width == PictureWidth && APicture.Height == PictureHeight)
    FPicture = APicture;
  else
    FitOnCanvas(APicture, FPicture, PictureWidth, PictureHeight);
  const QImage image(FPicture.Pixels.data(), FPicture.Width, FPicture.Height, FPicture.Stride,
                     QImage::Format_BGR888);
  imgThumb->setPixmap(QPixmap::fromImage(image));
  const QString time = QString::fromStdString(FormatDuration(ATimeUs / 1000));
  lbPreviewTime->setText(time);
  tbPreviewPos->setToolTip(tr("Preview position: %1").arg(time));
  if (ATimeUs == FPictureTimeUs)
    return;
  FPictureTimeUs = ATimeUs;
  emit PictureTimeChanged(ATimeUs);
}
