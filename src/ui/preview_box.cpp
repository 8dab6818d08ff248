#include "ui/preview_box.h"

#include <QApplication>
#include <QEvent>
#include <QGridLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QSlider>
#include <algorithm>
#include <cmath>
#include <limits>

#include "app/picture_preview.h"
#include "app/profiles.h"
#include "app/thumbnail.h"

QString TPreviewBox::StepKeysText() {
  return tr("Ctrl+Left, Ctrl+Right: the previous, the next picture. Shift+Left, Shift+Right: one "
            "second back, on.");
}

TPreviewBox::TPreviewBox(QWidget *AParent, std::shared_ptr<TPicturePreview> AService)
    : QWidget(AParent), FService(AService ? std::move(AService) : TPicturePreview::Shared()),
      FOwner(FService->NewOwner()), FSelf(this) {
  auto *grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(2);
  imgThumb = new QLabel(this);
  imgThumb->setFixedSize(PictureWidth, PictureHeight);
  imgThumb->setAccessibleName(tr("Preview picture"));
  tbPreviewPos = new QSlider(Qt::Horizontal, this);
  tbPreviewPos->setRange(0, 100);
  tbPreviewPos->setPageStep(2);
  tbPreviewPos->setSingleStep(1);
  tbPreviewPos->setTickPosition(QSlider::NoTicks);
  tbPreviewPos->setAccessibleName(tr("Preview position"));
  tbPreviewPos->setAccessibleDescription(StepKeysText());
  tbPreviewPos->installEventFilter(this);
  connect(tbPreviewPos, &QSlider::valueChanged, this, [this] { tbPreviewPosChange(); });
  lbPreviewTime = new QLabel(this);
  lbPreviewTime->setAccessibleName(tr("Time of the preview's picture"));
  // The time and the slider share the picture's width: a panel has no room beside it on an
  // 800-pixel screen. A size smaller than the window's leaves the slider room to move in.
  QFont small = lbPreviewTime->font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  lbPreviewTime->setFont(small);
  lbPreviewTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // As wide as the longest time, so that the slider does not move as the digits change.
  lbPreviewTime->setFixedWidth(
      lbPreviewTime->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.00")) + 2);
  // Below this the slider is too short to aim at: the box then grows past the picture.
  tbPreviewPos->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  tbPreviewPos->setMinimumWidth(40);
  grid->addWidget(imgThumb, 0, 0, 1, 2);
  grid->addWidget(tbPreviewPos, 1, 0);
  grid->addWidget(lbPreviewTime, 1, 1);
  grid->setColumnStretch(0, 1);
  grid->setRowStretch(2, 1);
  // One black picture for every box until its own comes.
  static const std::shared_ptr<const TBGRImage> black = [] {
    auto picture = std::make_shared<TBGRImage>();
    picture->Resize(PictureWidth, PictureHeight, true);
    return picture;
  }();
  ShowFitted(black, 0);
}

TPreviewBox::~TPreviewBox() { FService->Forget(FOwner); }

void TPreviewBox::SetInput(const std::string &AFileName, int64_t ADurationUs,
                           std::shared_ptr<const TBGRImage> AFirstPicture) {
  const bool sameFile = AFileName == FFileName && ADurationUs == FDurationUs;
  if (!sameFile) {
    ++FInput;
    FService->Forget(FOwner);
    FFileName = AFileName;
    FDurationUs = std::max<int64_t>(ADurationUs, 0);
    FNextKnown = FAsking = false;
    FPictureSteps = 0;
    const QSignalBlocker quiet(tbPreviewPos);
    tbPreviewPos->setValue(0);
  }
  if (AFirstPicture) {
    FNextKnown = false;
    if (AFirstPicture->Width == PictureWidth && AFirstPicture->Height == PictureHeight)
      ShowFitted(std::move(AFirstPicture), 0);
    else
      ShowPicture(*AFirstPicture, 0);
  } else if (!sameFile)
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
  if (AWatched == tbPreviewPos && AEvent->type() == QEvent::KeyPress &&
      StepKey(*static_cast<QKeyEvent *>(AEvent)))
    return true;
  return QWidget::eventFilter(AWatched, AEvent);
}

bool TPreviewBox::StepKey(const QKeyEvent &AKey) {
  const int key = AKey.key();
  const Qt::KeyboardModifiers modifiers =
      AKey.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  if ((key != Qt::Key_Left && key != Qt::Key_Right) ||
      (modifiers != Qt::ControlModifier && modifiers != Qt::ShiftModifier))
    return false;
  if (FFileName.empty())
    return true;
  FPreviewReady = true;
  const int direction = key == Qt::Key_Right ? 1 : -1;
  if (modifiers == Qt::ControlModifier) {
    FPictureSteps += direction;
    TakeStep();
    return true;
  }
  // From the time asked last when its picture is still on its way: presses add up.
  FPictureSteps = 0;
  const int64_t from = FAsking ? FAskedUs : FPictureTimeUs;
  // A file of unknown length is stepped on as far as its pictures go.
  const int64_t last = FDurationUs > 0 ? FDurationUs : std::numeric_limits<int64_t>::max() / 2;
  StepTo(std::clamp<int64_t>(from + direction * int64_t{1000000}, 0, last));
  return true;
}

void TPreviewBox::TakeStep() {
  if (FPictureSteps == 0 || FAsking)
    return;
  if (FPictureSteps < 0) {
    ++FPictureSteps;
    // The picture shown at a moment before this one's start is the one before it.
    if (FPictureTimeUs > 0)
      StepTo(FPictureTimeUs - 1);
    else
      FPictureSteps = 0;
  } else if (FNextPictureUs >= 0) {
    --FPictureSteps;
    StepTo(FNextPictureUs);
  } else if (!FNextKnown) {
    AskFor(FPictureTimeUs); // the picture shown again, to learn when the next one starts
  } else {
    FPictureSteps = 0; // the last picture
  }
}

void TPreviewBox::StepTo(int64_t ATimeUs) {
  if (FDurationUs > 0) {
    const QSignalBlocker quiet(tbPreviewPos);
    const int span = tbPreviewPos->maximum() - tbPreviewPos->minimum();
    tbPreviewPos->setValue(tbPreviewPos->minimum() +
                           static_cast<int>(std::llround(static_cast<double>(ATimeUs) * span /
                                                         static_cast<double>(FDurationUs))));
  }
  AskFor(ATimeUs);
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
  FAskedUs = ATimeUs;
  FAsking = true;
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
  if (AAnswer.RequestedUs == FAskedUs)
    FAsking = false;
  FNextPictureUs = AAnswer.NextPictureUs;
  FNextKnown = true;
  // Without a picture (a sound file) the part is chosen by the slider's time.
  ShowPicture(AAnswer.Picture, AAnswer.PictureUs >= 0 ? AAnswer.PictureUs : AAnswer.RequestedUs);
  TakeStep();
}

void TPreviewBox::ShowPicture(const TBGRImage &APicture, int64_t ATimeUs) {
  auto fitted = std::make_shared<TBGRImage>();
  if (APicture.Width == PictureWidth && APicture.Height == PictureHeight)
    *fitted = APicture;
  else
    FitOnCanvas(APicture, *fitted, PictureWidth, PictureHeight);
  ShowFitted(std::move(fitted), ATimeUs);
}

void TPreviewBox::ShowFitted(std::shared_ptr<const TBGRImage> APicture, int64_t ATimeUs) {
  FPicture = std::move(APicture);
  const QImage image(FPicture->Pixels.data(), FPicture->Width, FPicture->Height, FPicture->Stride,
                     QImage::Format_BGR888);
  imgThumb->setPixmap(QPixmap::fromImage(image));
  const QString time = QString::fromStdString(FormatDuration(ATimeUs / 1000));
  lbPreviewTime->setText(time);
  // Its name says what the time is; a screen reader reads the time itself here.
  lbPreviewTime->setAccessibleDescription(time);
  tbPreviewPos->setToolTip(tr("Preview position: %1").arg(time) + QLatin1Char('\n') +
                           StepKeysText());
  if (ATimeUs == FPictureTimeUs)
    return;
  FPictureTimeUs = ATimeUs;
  emit PictureTimeChanged(ATimeUs);
}
