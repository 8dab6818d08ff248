// The video path without the main loop: deinterlace, crop and pad, the frame-rate rule, the
// early exits of DoVideoOut, the custom hook round trip and the hook decisions.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/custom_ffmpeg.h"
#include "engine/picture_ops.h"
#include "engine/transcode_types.h"
#include "medialib/medialib.h"
#include "support/test_support.h"

namespace {

struct FrameDeleter {
  void operator()(AVFrame *AFrame) const { avlib.av_frame_free(&AFrame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

FramePtr makeFrame(AVPixelFormat AFormat, int AWidth, int AHeight, uint8_t AFill = 0) {
  FramePtr frame(avlib.av_frame_alloc());
  frame->format = AFormat;
  frame->width = AWidth;
  frame->height = AHeight;
  if (avlib.av_frame_get_buffer(frame.get(), 32) < 0)
    throw std::runtime_error("av_frame_get_buffer");
  for (int p = 0; p < 4 && frame->buf[p]; ++p)
    std::fill_n(frame->buf[p]->data, frame->buf[p]->size, AFill);
  return frame;
}

uint8_t &at(const AVFrame *AFrame, int APlane, int AX, int AY) {
  return AFrame->data[APlane][AY * AFrame->linesize[APlane] + AX];
}

void fillRow(AVFrame *AFrame, int APlane, int AY, int AWidth, uint8_t AValue) {
  std::fill_n(AFrame->data[APlane] + AY * AFrame->linesize[APlane], AWidth, AValue);
}

class TVideoEngine : public TCustomFFmpeg {
public:
  using TCustomFFmpeg::DoVideoOut;
  using TCustomFFmpeg::PreProcessVideoFrame;
};

class VideoOutTest : public ::testing::Test {
protected:
  void SetUp() override {
    testing_support::RequireMediaLibraries();
    Engine.OnLog = [this](TCustomFFmpeg *, int ALevel, const std::string &AMsg) {
      Lines.push_back(std::to_string(ALevel) + " " + AMsg);
    };
  }
  bool logged(const std::string &ALine) const {
    return std::find(Lines.begin(), Lines.end(), ALine) != Lines.end();
  }
  TVideoEngine Engine;
  TInputStream Ist;
  std::vector<std::string> Lines;
};

TEST_F(VideoOutTest, DeinterlaceFiltersOddRowsIntoTheHookBuffer) {
  // Luma rows 0,255,0,0,0,255,0,0: each odd row becomes (-1,4,2,4,-1)/8 of its neighbours
  // (rows beyond the picture repeat the edge), rounded and clipped to 0..255.
  FramePtr picture = makeFrame(AV_PIX_FMT_YUV420P, 8, 8, 128);
  const uint8_t rows[8] = {0, 255, 0, 0, 0, 255, 0, 0};
  for (int y = 0; y < 8; ++y)
    fillRow(picture.get(), 0, y, 8, rows[y]);
  for (int y = 0; y < 4; ++y)
    fillRow(picture.get(), 1, y, 4, static_cast<uint8_t>(40 * y));
  uint8_t *const decoderLuma = picture->data[0];
  const int decoderStride = picture->linesize[0];

  Engine.Deinterlace = true;
  Engine.PreProcessVideoFrame(Ist, picture.get());
  EXPECT_EQ(picture->data[0], Engine.HookBuffer);
  EXPECT_EQ(decoderLuma[decoderStride], 255) << "the decoder's picture is never written";
  const uint8_t expected[8] = {0, 64, 0, 0, 0, 64, 0, 0};
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      ASSERT_EQ(at(picture.get(), 0, x, y), expected[y]) << "row " << y << " column " << x;
  // Chroma rows 0,40,80,120: row 1 = (0 + 0 + 80 + 320 - 120 + 4) >> 3, row 3 likewise.
  EXPECT_EQ(at(picture.get(), 1, 3, 1), 35);
  EXPECT_EQ(at(picture.get(), 1, 2, 2), 80);
  EXPECT_EQ(at(picture.get(), 1, 0, 3), 110);
  EXPECT_TRUE(Lines.empty());

  // A smaller picture reuses the buffer.
  uint8_t *const buffer = Engine.HookBuffer;
  FramePtr small = makeFrame(AV_PIX_FMT_YUV420P, 4, 4);
  Engine.PreProcessVideoFrame(Ist, small.get());
  EXPECT_EQ(Engine.HookBuffer, buffer);

  // Formats the filter does not know pass unchanged, with the message.
  FramePtr nv12 = makeFrame(AV_PIX_FMT_NV12, 8, 8, 0);
  for (int y = 0; y < 8; ++y)
    fillRow(nv12.get(), 0, y, 8, static_cast<uint8_t>(y % 2 ? 200 : 10));
  Engine.PreProcessVideoFrame(Ist, nv12.get());
  EXPECT_TRUE(logged("0 deinterlace error."));
  for (int y = 0; y < 8; ++y)
    EXPECT_EQ(at(nv12.get(), 0, 5, y), y % 2 ? 200 : 10);
  EXPECT_FALSE(IsPlanarYUV8(AV_PIX_FMT_YUV420P10LE));
}

TEST_F(VideoOutTest, CropOffsetsEveryPlaneByItsSubsampling) {
  TPicturePlanes cropped;
  FramePtr yuv = makeFrame(AV_PIX_FMT_YUV420P, 32, 32);
  ASSERT_TRUE(CropPicture(cropped, PlanesOf(yuv.get()), AV_PIX_FMT_YUV420P, 4, 6));
  EXPECT_EQ(cropped.data[0], yuv->data[0] + 4 * yuv->linesize[0] + 6);
  EXPECT_EQ(cropped.data[1], yuv->data[1] + 2 * yuv->linesize[1] + 3);
  EXPECT_EQ(cropped.data[2], yuv->data[2] + 2 * yuv->linesize[2] + 3);

  FramePtr nv12 = makeFrame(AV_PIX_FMT_NV12, 32, 32);
  ASSERT_TRUE(CropPicture(cropped, PlanesOf(nv12.get()), AV_PIX_FMT_NV12, 4, 6));
  EXPECT_EQ(cropped.data[1], nv12->data[1] + 2 * nv12->linesize[1] + 6) << "interleaved Cb Cr";
  FramePtr bgr = makeFrame(AV_PIX_FMT_BGR24, 32, 32);
  ASSERT_TRUE(CropPicture(cropped, PlanesOf(bgr.get()), AV_PIX_FMT_BGR24, 1, 5));
  EXPECT_EQ(cropped.data[0], bgr->data[0] + bgr->linesize[0] + 15);
  // Packed 4:2:2 can be cut only at even columns.
  FramePtr yuyv = makeFrame(AV_PIX_FMT_YUYV422, 32, 32);
  EXPECT_FALSE(CropPicture(cropped, PlanesOf(yuyv.get()), AV_PIX_FMT_YUYV422, 3, 5));
}

// The display matrices of these libraries, turned as the ffmpeg tool turns them (transpose
// "clock", "cclock", "cclock_flip", hflip and vflip): a 3x2 stored picture 1 2 3 / 4 5 6.
TEST(PictureTurn, DisplayMatrixTurnsAndMirrorsAsPlayersDo) {
  testing_support::RequireMediaLibraries();
  struct {
    double angle; // av_display_rotation_set
    bool mirror;  // then av_display_matrix_flip across
    int width;
    std::vector<uint8_t> seen;
  } cases[] = {
      {0, false, 3, {1, 2, 3, 4, 5, 6}},   {90, false, 2, {4, 1, 5, 2, 6, 3}},
      {-90, false, 2, {3, 6, 2, 5, 1, 4}}, {180, false, 3, {6, 5, 4, 3, 2, 1}},
      {0, true, 3, {3, 2, 1, 6, 5, 4}},    {90, true, 2, {1, 4, 2, 5, 3, 6}},
  };
  const uint8_t stored[6] = {1, 2, 3, 4, 5, 6};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.angle) + (c.mirror ? " mirrored" : ""));
    int32_t matrix[9];
    avlib.av_display_rotation_set(matrix, c.angle);
    if (c.mirror)
      avlib.av_display_matrix_flip(matrix, 1, 0);
    const TPictureTurn turn = PictureTurnOfMatrix(matrix);
    int width = 3, height = 2;
    TurnedSize(turn, width, height);
    ASSERT_EQ(width, c.width);
    std::vector<uint8_t> seen(6);
    TurnPlane(seen.data(), width, stored, 3, 3, 2, 1, turn);
    EXPECT_EQ(seen, c.seen);
  }
}

TEST_F(VideoOutTest, PadPaintsBordersInThePadColourAndCopiesTheInside) {
  // 16x12 with 2 rows on top, 4 below, 4 columns left, 2 right around a 10x6 inside. The line
  // size is wider than the picture: the bytes past the width stay untouched.
  FramePtr dst = makeFrame(AV_PIX_FMT_YUV420P, 16, 12, 0xEE);
  ASSERT_GT(dst->linesize[0], 16);
  FramePtr src = makeFrame(AV_PIX_FMT_YUV420P, 10, 6, 77);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 10; ++x)
      at(src.get(), 0, x, y) = static_cast<uint8_t>(100 + 10 * y + x);
  const int color[3] = {20, 60, 200};
  const TPicturePlanes srcPlanes = PlanesOf(src.get());
  ASSERT_TRUE(
      PadPicture(PlanesOf(dst.get()), &srcPlanes, 12, 16, AV_PIX_FMT_YUV420P, 2, 4, 4, 2, color));
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 16; ++x) {
      const bool inside = y >= 2 && y < 8 && x >= 4 && x < 14;
      ASSERT_EQ(at(dst.get(), 0, x, y), inside ? 100 + 10 * (y - 2) + (x - 4) : 20)
          << x << "," << y;
    }
    EXPECT_EQ(at(dst.get(), 0, 16, y), 0xEE) << "past the width, row " << y;
  }
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool inside = y >= 1 && y < 4 && x >= 2 && x < 7;
      ASSERT_EQ(at(dst.get(), 1, x, y), inside ? 77 : 60) << "Cb " << x << "," << y;
      ASSERT_EQ(at(dst.get(), 2, x, y), inside ? 77 : 200) << "Cr " << x << "," << y;
    }

  // Without a source only the borders are painted.
  FramePtr scaled = makeFrame(AV_PIX_FMT_YUV420P, 16, 12, 0x55);
  ASSERT_TRUE(
      PadPicture(PlanesOf(scaled.get()), nullptr, 12, 16, AV_PIX_FMT_YUV420P, 2, 4, 4, 2, color));
  EXPECT_EQ(at(scaled.get(), 0, 5, 3), 0x55);
  EXPECT_EQ(at(scaled.get(), 0, 15, 3), 20);
  FramePtr rgb = makeFrame(AV_PIX_FMT_RGB24, 16, 12);
  EXPECT_FALSE(
      PadPicture(PlanesOf(rgb.get()), nullptr, 12, 16, AV_PIX_FMT_RGB24, 2, 2, 2, 2, color));
}

TEST(VideoSyncRule, DropsDuplicatesAndFollowsTheInputClock) {
  const double tb = 0.04; // 25 fps: the default method is active
  int64_t opts = 10;
  // A picture takes the frame nearest to its time; the frames before it are repeats.
  EXPECT_EQ(VideoSyncFrameCount(-1, tb, 8.5 * tb, opts), 0) << "1.5 frames behind";
  EXPECT_EQ(VideoSyncFrameCount(-1, tb, 13.4 * tb, opts), 4) << "3.4 frames ahead";
  EXPECT_EQ(VideoSyncFrameCount(1, 1.0, 12.5, opts), 3) << "ties round to even";
  EXPECT_EQ(VideoSyncFrameCount(1, 1.0, 10.4, opts), 1);
  EXPECT_EQ(VideoSyncFrameCount(1, 1.0, 9.4, opts), 0) << "its frame is taken";
  EXPECT_EQ(opts, 10);
  // A gap of a few seconds is filled; a longer one (damaged timestamps, hours) is jumped.
  EXPECT_EQ(VideoSyncFrameCount(-1, tb, (10 + 70) * tb, opts), 71);
  EXPECT_EQ(VideoSyncFrameCount(-1, tb, 90000.0, opts), 1);
  EXPECT_EQ(opts, 2250000);
  opts = 10;
  // Method 2 never duplicates and takes the input clock.
  EXPECT_EQ(VideoSyncFrameCount(2, tb, 20 * tb, opts), 1);
  EXPECT_EQ(opts, 20);
  EXPECT_EQ(VideoSyncFrameCount(2, tb, 15 * tb, opts), 0) << "far behind is still dropped";
  // Off, or the default with a very fine time base: the clock is taken as it is.
  EXPECT_EQ(VideoSyncFrameCount(-1, 0.0001, 0.5, opts), 1);
  EXPECT_EQ(opts, 5000);
}

TEST_F(VideoOutTest, DroppedPicturesAndPicturesPastTheLimitEncodeNothing) {
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext *)> enc(
      avlib.avcodec_alloc_context3(nullptr),
      [](AVCodecContext *AContext) { avlib.avcodec_free_context(&AContext); });
  enc->codec_type = AVMEDIA_TYPE_VIDEO;
  enc->time_base = {1, 25};
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  enc->width = enc->height = 32;
  TOutputStream ost;
  ost.Codec = enc.get();
  ost.SyncIst = &Ist;
  Engine.Verbose = 3;
  FramePtr picture = makeFrame(AV_PIX_FMT_YUV420P, 32, 32);
  int frameSize = -1;

  ost.SyncOpts = 10;
  Ist.Pts = 340000; // 8.5 frames
  Engine.DoVideoOut(nullptr, ost, Ist, picture.get(), frameSize);
  EXPECT_EQ(frameSize, 0);
  EXPECT_EQ(Engine.FramesDrop, 1);
  EXPECT_TRUE(logged("1 *** drop!"));

  Engine.MaxFrames[AVMEDIA_TYPE_VIDEO] = 100;
  ost.FrameNumber = ost.SyncOpts = 100;
  Ist.Pts = 4000000;
  Engine.DoVideoOut(nullptr, ost, Ist, picture.get(), frameSize);
  EXPECT_EQ(ost.FrameNumber, 100);

  ost.FrameNumber = 0;
  ost.VideoCrop = true;
  ost.TopBand = 40;
  Engine.DoVideoOut(nullptr, ost, Ist, picture.get(), frameSize);
  EXPECT_TRUE(logged("0 error cropping picture"));
  EXPECT_EQ(ost.FrameNumber, 0);
}

TEST_F(VideoOutTest, CustomHookDrawingReachesThePictureUntilTheHookStops) {
  std::vector<int> frames;
  Engine.UsingVHook = true;
  Engine.OnCustomHook = [&](TCustomFFmpeg *, TBGRImage &ABitmap, int AFrameNumber, int64_t APTS,
                            bool &AUpdate, bool &AStopHook) {
    frames.push_back(AFrameNumber);
    EXPECT_EQ(ABitmap.Width, 16);
    EXPECT_EQ(APTS, 2500000);
    EXPECT_NEAR(ABitmap.Row(8)[8 * 3 + 1], 128, 4) << "mid grey arrives as grey";
    for (int y = 0; y < 16; ++y) // the left half white
      std::fill_n(ABitmap.Row(y), 8 * 3, 255);
    AUpdate = AFrameNumber != 2;
    AStopHook = AFrameNumber == 3;
  };
  Ist.Pts = 2500000;
  for (int i = 1; i <= 5; ++i) {
    FramePtr picture = makeFrame(AV_PIX_FMT_YUV420P, 16, 16, 128);
    uint8_t *const decoderLuma = picture->data[0];
    Engine.PreProcessVideoFrame(Ist, picture.get());
    EXPECT_EQ(decoderLuma[0], 128) << "the decoder's picture is not written";
    const bool drawn = i == 1 || i == 3;
    EXPECT_NEAR(at(picture.get(), 0, 2, 5), drawn ? 235 : 128, 3) << "picture " << i;
    EXPECT_NEAR(at(picture.get(), 0, 13, 5), 128, 3);
    EXPECT_NEAR(at(picture.get(), 1, 1, 1), 128, 3) << "white has no colour";
  }
  EXPECT_EQ(frames, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(static_cast<bool>(Engine.OnCustomHook));
  EXPECT_EQ(Engine.HookAction, haStop);
  EXPECT_FALSE(Engine.UsingVHook);

  // A hook that fails is logged, its drawing dropped, and it stays connected.
  Engine.OnCustomHook = [&](TCustomFFmpeg *, TBGRImage &ABitmap, int, int64_t, bool &, bool &) {
    std::fill(ABitmap.Pixels.begin(), ABitmap.Pixels.end(), 255);
    throw std::runtime_error("boom");
  };
  FramePtr failing = makeFrame(AV_PIX_FMT_YUV420P, 16, 16, 90);
  Engine.PreProcessVideoFrame(Ist, failing.get());
  EXPECT_EQ(at(failing.get(), 0, 7, 7), 90);
  EXPECT_TRUE(logged("0 Error occurs OnCustomHook: boom"));
  EXPECT_TRUE(static_cast<bool>(Engine.OnCustomHook));
}

// A full-range picture reaches the application in its true levels and comes back unchanged
// where the application drew nothing: TV black (16) stays 16, not crushed to 0 or lifted.
TEST_F(VideoOutTest, CustomHookSeesFullRangePicturesAsTheyAre) {
  Engine.OnCustomHook = [&](TCustomFFmpeg *, TBGRImage &ABitmap, int, int64_t, bool &, bool &) {
    EXPECT_NEAR(ABitmap.Row(4)[4 * 3], 16, 2);
    std::fill_n(ABitmap.Row(0), 3, 255);
  };
  for (AVPixelFormat format : {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV420P}) {
    FramePtr picture = makeFrame(format, 16, 16, 16);
    std::fill_n(picture->data[1], picture->linesize[1] * 8, 128);
    std::fill_n(picture->data[2], picture->linesize[2] * 8, 128);
    picture->color_range = AVCOL_RANGE_JPEG;
    Engine.PreProcessVideoFrame(Ist, picture.get());
    EXPECT_NEAR(at(picture.get(), 0, 8, 8), 16, 2) << avlib.av_get_pix_fmt_name(format);
  }
}

TEST_F(VideoOutTest, CustomHookOnBgrPicturesNeedsNoConversion) {
  FramePtr picture = makeFrame(AV_PIX_FMT_BGR24, 6, 4, 0);
  at(picture.get(), 0, 3, 2) = 17;
  Engine.OnCustomHook = [&](TCustomFFmpeg *, TBGRImage &ABitmap, int, int64_t, bool &, bool &) {
    EXPECT_EQ(ABitmap.Row(2)[3], 17);
    ABitmap.Row(3)[17] = 201; // last pixel of the last row, red
  };
  Engine.PreProcessVideoFrame(Ist, picture.get());
  EXPECT_EQ(at(picture.get(), 0, 17, 3), 201);
  EXPECT_EQ(Engine.ToRGBContext, nullptr);
  EXPECT_EQ(Engine.FromRGBContext, nullptr);
}

// Hook decisions, observed through a module that inverts luma.
class HookDecisionTest : public VideoOutTest {
protected:
  void SetUp() override {
    VideoOutTest::SetUp();
    std::string module = (testing_support::HookDir() / "invert.so").string();
    char *argv[] = {module.data(), nullptr};
    ASSERT_EQ(FrameHookAdd(Engine.FrameHooks, 1, argv), 0);
    Engine.UsingVHook = true;
  }
  bool hooked(double ASeconds) {
    FramePtr picture = makeFrame(AV_PIX_FMT_YUV420P, 8, 8, 40);
    Ist.Pts = static_cast<int64_t>(ASeconds * 1000000);
    Engine.PreProcessVideoFrame(Ist, picture.get());
    return at(picture.get(), 0, 3, 3) == 255 - 40;
  }
};

TEST_F(HookDecisionTest, TimeRangesSelectThePicturesAndEndTheHooks) {
  Engine.TimeRanges = {{0, 5000000}, {10000000, 12000000}};
  Engine.TimeRangeCount = 2;
  EXPECT_TRUE(hooked(0));
  EXPECT_TRUE(hooked(5));
  EXPECT_FALSE(hooked(6));
  EXPECT_TRUE(Engine.UsingVHook);
  EXPECT_TRUE(hooked(11));
  EXPECT_EQ(Engine.TimeRangeIndex, 1);
  EXPECT_FALSE(hooked(12.5));
  EXPECT_EQ(Engine.HookAction, haStop);
  EXPECT_FALSE(Engine.UsingVHook);
  EXPECT_FALSE(hooked(11)) << "stopped for the rest of the run";
}

TEST_F(HookDecisionTest, BeforeHookDecidesAndItsFailureStopsTheHooks) {
  Engine.OnBeforeHook = [&](TCustomFFmpeg *, THookAction &AAction, int64_t APTS) {
    if (APTS == 3000000)
      throw std::runtime_error("bad time");
    AAction = APTS == 2000000 ? haIgnore : haContinue;
  };
  EXPECT_TRUE(hooked(1));
  EXPECT_FALSE(hooked(2));
  EXPECT_TRUE(hooked(2.5));
  EXPECT_FALSE(hooked(3));
  EXPECT_TRUE(logged("0 Error occurs OnBeforeHook: bad time"));
  EXPECT_FALSE(Engine.UsingVHook);
  EXPECT_FALSE(hooked(4));
}

} // namespace
