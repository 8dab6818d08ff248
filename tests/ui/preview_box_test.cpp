// The preview box as a person drags its slider: the window keeps answering, and the picture
// and the time beside the slider end on the slider's last position.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QSlider>
#include <algorithm>
#include <cstring>

#include "app/profiles.h"
#include "app/thumbnail.h"
#include "probe/av_probe.h"
#include "ui/preview_box.h"
#include "support/test_support.h"
#include "wait_until.h"

namespace {

// A film with key pictures 10 s apart in a box on the screen, and a probe of the film to
// compare with.
class PreviewBox : public testing::Test {
protected:
  void SetUp() override {
    testing_support::RequireMediaLibraries();
    film = testing_support::MediaFile("film_keys10.mkv");
    ASSERT_TRUE(probe.LoadFile(film)) << probe.LastErrorMessage();
    TAVFileInfo info;
    probe.GetFileInfo(info);
    box.show();
    box.SetInput(film, info.Duration);
  }

  std::string film;
  TAVProbe probe;
  TPreviewBox box;
};

TEST_F(PreviewBox, ASliderMovedFastEndsOnThePictureOfItsLastPositionWithItsTime) {
  // The first picture comes by itself (the film's pictures start at 0.023 s).
  ASSERT_TRUE(WaitUntil([&] { return box.PictureTimeUs() > 0; }, 10000));
  EXPECT_EQ(box.lbPreviewTime->text(), "00:00:00.02");

  // The slider moves the picture once the person has been in it.
  QFocusEvent focus(QEvent::FocusIn);
  QCoreApplication::sendEvent(box.tbPreviewPos, &focus);

  // Dragged back and forth across the keys; no move and no answer holds the window up.
  qint64 longest = 0;
  QElapsedTimer clock;
  for (int i = 0; i < 50; ++i) {
    clock.start();
    box.tbPreviewPos->setValue((i * 37) % 101);
    QCoreApplication::processEvents();
    longest = std::max(longest, clock.elapsed());
  }
  const int64_t before = box.PictureTimeUs();
  box.tbPreviewPos->setValue(73); // 14.6 s: 4.6 s of decoding from the key picture at 10 s
  const int64_t slider = box.SliderTimeUs();
  const auto settled = [&] {
    return box.PictureTimeUs() <= slider && box.PictureTimeUs() > slider - 40000;
  };
  // The move only asked: the picture comes by a queued call, never while the slider moves.
  EXPECT_EQ(box.PictureTimeUs(), before);
  for (QElapsedTimer waited; !settled();) {
    if (!waited.isValid())
      waited.start();
    ASSERT_LT(waited.elapsed(), 10000);
    clock.start();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    longest = std::max(longest, clock.elapsed());
  }
  // Generous for a loaded machine: a decode of seconds of film on this thread takes longer.
  EXPECT_LT(longest, 150) << "ms the window's thread spent on one move or answer";
  EXPECT_EQ(box.lbPreviewTime->text().toStdString(), FormatDuration(box.PictureTimeUs() / 1000));
  EXPECT_TRUE(box.tbPreviewPos->toolTip().contains(box.lbPreviewTime->text()));

  // The picture shown is the one at that time, as the probe decodes it.
  probe.Seek(-1, slider);
  TBGRImage expected;
  FitOnCanvas(*probe.GetFrameBitmap(-1), expected, TPreviewBox::PictureWidth,
              TPreviewBox::PictureHeight);
  EXPECT_EQ(probe.PictureTime(), box.PictureTimeUs());
  const TBGRImage &shown = box.Picture();
  ASSERT_EQ(shown.Pixels.size(), expected.Pixels.size());
  int differing = 0; // the probe here scales from the full picture, the service from a smaller
  for (size_t i = 0; i < shown.Pixels.size(); ++i)
    differing += std::abs(shown.Pixels[i] - expected.Pixels[i]) > 24;
  EXPECT_LT(differing, static_cast<int>(shown.Pixels.size() / 50));
}

// Finer than the slider's hundredths: Ctrl+Right shows the next picture, Shift+Right the one a
// second on, and the slider follows.
TEST_F(PreviewBox, StepKeysLandOnTheNextPictureAndASecondOn) {
  QFocusEvent focus(QEvent::FocusIn);
  QCoreApplication::sendEvent(box.tbPreviewPos, &focus);
  box.tbPreviewPos->setValue(50);
  const int64_t slider = box.SliderTimeUs();
  ASSERT_TRUE(WaitUntil([&] { return box.PictureTimeUs() > slider - 40000; }, 10000));
  const int64_t shown = box.PictureTimeUs();
  // The next picture's time, as decoding on from the picture shown gives it.
  probe.Seek(-1, shown);
  probe.GetFrameBitmap(-1);
  probe.GetFrameBitmap(-1);
  const int64_t next = probe.PictureTime();
  ASSERT_GT(next, shown);

  const auto press = [&](Qt::KeyboardModifier AModifier) {
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Right, AModifier);
    QCoreApplication::sendEvent(box.tbPreviewPos, &key);
  };
  press(Qt::ControlModifier);
  ASSERT_TRUE(WaitUntil([&] { return box.PictureTimeUs() != shown; }, 10000));
  EXPECT_EQ(box.PictureTimeUs(), next);
  EXPECT_EQ(box.tbPreviewPos->value(), 50) << "the slider stays on the rounded position";
  press(Qt::ShiftModifier);
  ASSERT_TRUE(WaitUntil([&] { return box.PictureTimeUs() != next; }, 10000));
  EXPECT_LE(box.PictureTimeUs(), next + 1000000);
  EXPECT_GT(box.PictureTimeUs(), next + 1000000 - 40000);
  EXPECT_TRUE(box.tbPreviewPos->toolTip().contains(box.lbPreviewTime->text()));
}

} // namespace
