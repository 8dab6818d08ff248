// TPreviewBox: a file's preview picture with its position slider and, beside the slider, the
// time of the picture shown. The pictures come from the shared preview service (decoded on its
// worker thread); the box only asks and shows what comes back, so dragging the slider never
// holds up the window, and the last position wins.
#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

#include "medialib/bgr_image.h"

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
  void SetInput(const std::string &AFileName, int64_t ADurationUs,
                const TBGRImage *AFirstPicture = nullptr);
  // The time of the picture shown, microseconds from the file's start: what the part's start
  // and end and the thumbnail take. A file without pictures gives the slider's time.
  int64_t PictureTimeUs() const { return FPictureTimeUs; }
  // The picture shown, fitted into PictureWidth x PictureHeight.
  const TBGRImage &Picture() const { return FPicture; }
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
  void AskFor(int64_t ATimeUs);

  std::shared_ptr<TPicturePreview> FService;
  uint64_t FOwner = 0;
  QPointer<TPreviewBox> FSelf; // copied into the answers' queued calls
  std::string FFileName;
  int64_t FDurationUs = 0;
  int64_t FPictureTimeUs = 0;
  uint64_t FInput = 0; // counts the files set: answers about an earlier one are passed over
  bool FPreviewReady = false;
  TBGRImage FPicture;
};
