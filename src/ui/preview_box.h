// TPreviewBox: a file's preview picture with its position slider and, beside the slider, the
// time of the picture shown. The pictures come from the shared preview service (decoded on its
// worker thread); the box only asks and shows what comes back, so dragging the slider never
// holds up the window, and the last position wins. On the slider, Ctrl+Left/Right step to the
// previous/next picture and Shift+Left/Right a second back/on from the picture shown, finer
// than the slider's hundredths of the film.
#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

#include "medialib/bgr_image.h"

class QKeyEvent;
class QLabel;
class QSlider;
class TPicturePreview;
struct TPreviewAnswer;

class TPreviewBox : public QWidget {
  Q_OBJECT

public:
  static constexpr int PictureWidth = 138;
  static constexpr int PictureHeight = 102;

  // AService: where the pictures come from; by default the one the window's boxes share.
  explicit TPreviewBox(QWidget *AParent = nullptr,
                       std::shared_ptr<TPicturePreview> AService = nullptr);
  ~TPreviewBox() override;

  // The file whose pictures the slider shows, ADurationUs long. AFirstPicture: its picture at
  // 0 when already at hand, fitted into PictureWidth x PictureHeight (else it is asked for).
  // The same file again keeps the slider where it is and the picture it shows.
  // The picture is shared, not copied: a thousand panels hold each picture once.
  void SetInput(const std::string &AFileName, int64_t ADurationUs,
                std::shared_ptr<const TBGRImage> AFirstPicture = nullptr);
  // The time of the picture shown, microseconds from the file's start: what the part's start
  // and end and the thumbnail take. A file without pictures gives the slider's time.
  int64_t PictureTimeUs() const { return FPictureTimeUs; }
  // The picture shown, fitted into PictureWidth x PictureHeight.
  const TBGRImage &Picture() const { return *FPicture; }
  // The time the slider's position stands for.
  int64_t SliderTimeUs() const;

  // The controls, named as the design names them (the tests look at them too).
  QLabel *imgThumb = nullptr;
  QSlider *tbPreviewPos = nullptr;
  QLabel *lbPreviewTime = nullptr;

signals:
  void PictureTimeChanged(int64_t ATimeUs);

protected:
  bool eventFilter(QObject *AWatched, QEvent *AEvent) override;

private:
  void tbPreviewPosChange();
  void ShowAnswer(uint64_t AInput, const TPreviewAnswer &AAnswer);
  void ShowPicture(const TBGRImage &APicture, int64_t ATimeUs);
  // APicture: already PictureWidth x PictureHeight.
  void ShowFitted(std::shared_ptr<const TBGRImage> APicture, int64_t ATimeUs);
  void AskFor(int64_t ATimeUs);
  // Ctrl/Shift with Left/Right on the slider; false for any other key.
  bool StepKey(const QKeyEvent &AKey);
  // Takes one of the picture steps pressed, unless an answer is still awaited.
  void TakeStep();
  // Asks for the picture at ATimeUs and puts the slider near it, without a request of its own.
  void StepTo(int64_t ATimeUs);
  // The step keys, for the slider's tooltip and screen readers.
  static QString StepKeysText();

  std::shared_ptr<TPicturePreview> FService;
  uint64_t FOwner = 0;
  QPointer<TPreviewBox> FSelf; // copied into the answers' queued calls
  std::string FFileName;
  int64_t FDurationUs = 0;
  int64_t FPictureTimeUs = 0;
  int64_t FNextPictureUs = -1; // when the picture after the one shown starts
  bool FNextKnown = false;     // FNextPictureUs came with the picture shown (-1: the last one)
  int64_t FAskedUs = -1;       // the time asked for last
  bool FAsking = false;        // its answer has not come yet
  int FPictureSteps = 0;       // picture steps pressed and not yet taken (< 0: back)
  uint64_t FInput = 0;         // counts the files set: answers about an earlier one are passed over
  bool FPreviewReady = false;
  std::shared_ptr<const TBGRImage> FPicture;
};
