// The video path without the main loop: picture operations (deinterlace, crop, pad), the
// frame-rate rule, the custom hook round trip, hook time ranges and the early exits of
// DoVideoOut.
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

struct CodecDeleter {
  void operator()(AVCodecContext *AContext) const { avlib.avcodec_free_context(&AContext); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;

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

// Sets every pixel of plane APlane of row AY to AValue.
void fillRow(AVFrame *AFrame, int APlane, int AY, int AWidth, uint8_t AValue) {
  std::fill_n(AFrame->data[APlane] + AY * AFrame->linesize[APlane], AWidth, AValue);
}

class TVideoEngine : public TCustomFFmpeg {
public:
  using TCustomFFmpeg::DoVideoOut;
  using TCustomFFmpeg::DoVideoStats;
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

// ---------------------------------------------------------------------------------------------
// Picture operations
// ---------------------------------------------------------------------------------------------

TEST_F(VideoOutTest, DeinterlaceFiltersOddRowsAndKeepsEvenRows) {
  // Luma rows 0,255,0,0,0,255,0,0: each odd row is the 5-tap filter of its neighbours
  // (rows beyond the picture repeat the edge row), rounded and clipped to 0..255.
  FramePtr picture = makeFrame(AV_PIX_FMT_YUV420P, 8, 8, 128);
  const uint8_t rows[8] = {0, 255, 0, 0, 0, 255, 0, 0};
  for (int y = 0; y < 8; ++y)
    fillRow(picture.get(), 0, y, 8, rows[y]);
  // Chroma (4 rows): a ramp, which the filter keeps on its inner odd row.
  for (int y = 0; y < 4; ++y)
    fillRow(picture.get(), 1, y, 4, static_cast<uint8_t>(40 * y));
  uint8_t *const decoderLuma = picture->data[0];
  const int decoderStride = picture->linesize[0];

  Engine.Deinterlace = true;
  Engine.PreProcessVideoFrame(Ist, picture.get());

  EXPECT_NE(picture->data[0], decoderLuma) << "the decoder's picture is never written";
  EXPECT_EQ(decoderLuma[decoderStride], 255);
  const uint8_t expected[8] = {0, 64, 0, 0, 0, 64, 0, 0};
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      ASSERT_EQ(at(picture.get(), 0, x, y), expected[y]) << "row " << y << " column " << x;
  // Chroma rows 0,40,80,120: row 1 = (-0 + 0 + 80 + 320 - 120 + 4) >> 3 = 35;
  // row 3 = (-40 + 320 + 240 + 480 - 120 + 4) >> 3 = 110.
  EXPECT_EQ(at(picture.get(), 1, 0, 0), 0);
  EXPECT_EQ(at(picture.get(), 1, 3, 1), 35);
  EXPECT_EQ(at(picture.get(), 1, 2, 2), 80);
  EXPECT_EQ(at(picture.get(), 1, 0, 3), 110);
  EXPECT_EQ(at(picture.get(), 2, 1, 1), 128);
  EXPECT_TRUE(Lines.empty());
}

TEST_F(VideoOutTest, DeinterlaceRefusesFormatsItCannotFilterAndPassesThePicture) {
  FramePtr picture = makeFrame(AV_PIX_FMT_NV12, 8, 8, 0);
  for (int y = 0; y < 8; ++y)
    fillRow(picture.get(), 0, y, 8, static_cast<uint8_t>(y % 2 ? 200 : 10));
  Engine.Deinterlace = true;
  Engine.PreProcessVideoFrame(Ist, picture.get());
  EXPECT_TRUE(logged("0 deinterlace error."));
  for (int y = 0; y < 8; ++y)
    EXPECT_EQ(at(picture.get(), 0, 5, y), y % 2 ? 200 : 10);

  // High bit depth is refused too.
  EXPECT_FALSE(IsPlanarYUV8(AV_PIX_FMT_YUV420P10LE));
  EXPECT_TRUE(IsPlanarYUV8(AV_PIX_FMT_GRAY8));
  EXPECT_TRUE(IsPlanarYUV8(AV_PIX_FMT_YUVJ422P));
}

TEST_F(VideoOutTest, HookBufferGrowsButIsNotRemadeForSmallerPictures) {
  Engine.Deinterlace = true;
  FramePtr big = makeFrame(AV_PIX_FMT_YUV420P, 64, 48);
  Engine.PreProcessVideoFrame(Ist, big.get());
  uint8_t *const buffer = Engine.HookBuffer;
  const int size = Engine.HookBufferSize;
  EXPECT_GE(size, 64 * 48 * 3 / 2);
  FramePtr small = makeFrame(AV_PIX_FMT_YUV420P, 32, 16);
  Engine.PreProcessVideoFrame(Ist, small.get());
  EXPECT_EQ(Engine.HookBuffer, buffer);
  EXPECT_EQ(Engine.HookBufferSize, size);
  EXPECT_EQ(small->data[0], buffer);
  EXPECT_EQ(Engine.HookFrameNumber, 2);
}

TEST_F(VideoOutTest, CropOffsetsEveryPlaneByItsSubsampling) {
  FramePtr yuv = makeFrame(AV_PIX_FMT_YUV420P, 32, 32);
  TPicturePlanes cropped;
  ASSERT_TRUE(CropPicture(cropped, PlanesOf(yuv.get()), AV_PIX_FMT_YUV420P, 4, 6));
  EXPECT_EQ(cropped.data[0], yuv->data[0] + 4 * yuv->linesize[0] + 6);
  EXPECT_EQ(cropped.data[1], yuv->data[1] + 2 * yuv->linesize[1] + 3);
  EXPECT_EQ(cropped.data[2], yuv->data[2] + 2 * yuv->linesize[2] + 3);
  EXPECT_EQ(cropped.linesize[0], yuv->linesize[0]);

  FramePtr nv12 = makeFrame(AV_PIX_FMT_NV12, 32, 32);
  ASSERT_TRUE(CropPicture(cropped, PlanesOf(nv12.get()), AV_PIX_FMT_NV12, 4, 6));
  EXPECT_EQ(cropped.data[1], nv12->data[1] + 2 * nv12->linesize[1] + 6) << "interleaved Cb Cr";

  FramePtr bgr = makeFrame(AV_PIX_FMT_BGR24, 32, 32);
  ASSERT_TRUE(CropPicture(cropped, PlanesOf(bgr.get()), AV_PIX_FMT_BGR24, 1, 5));
  EXPECT_EQ(cropped.data[0], bgr->data[0] + bgr->linesize[0] + 15);

  // 4:2:2 packed in one plane can be cut only at even columns.
  FramePtr yuyv = makeFrame(AV_PIX_FMT_YUYV422, 32, 32);
  EXPECT_TRUE(CropPicture(cropped, PlanesOf(yuyv.get()), AV_PIX_FMT_YUYV422, 3, 4));
  EXPECT_EQ(cropped.data[0], yuyv->data[0] + 3 * yuyv->linesize[0] + 8);
  EXPECT_FALSE(CropPicture(cropped, PlanesOf(yuyv.get()), AV_PIX_FMT_YUYV422, 3, 5));
  FramePtr pal = makeFrame(AV_PIX_FMT_PAL8, 32, 32);
  EXPECT_FALSE(CropPicture(cropped, PlanesOf(pal.get()), AV_PIX_FMT_PAL8, 2, 2));
}

TEST_F(VideoOutTest, PadPaintsBordersInThePadColourAndCopiesTheInside) {
  // A 16x12 picture with 2 rows on top, 4 below, 4 columns left, 2 right around an 10x6 inside;
  // line sizes are wider than the picture and the bytes past the width must stay untouched.
  FramePtr dst = makeFrame(AV_PIX_FMT_YUV420P, 16, 12, 0xEE);
  ASSERT_GT(dst->linesize[0], 16);
  FramePtr src = makeFrame(AV_PIX_FMT_YUV420P, 10, 6, 0);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 10; ++x)
      at(src.get(), 0, x, y) = static_cast<uint8_t>(100 + 10 * y + x);
  for (int y = 0; y < 3; ++y)
    fillRow(src.get(), 1, y, 5, 77);
  const int color[3] = {20, 60, 200};
  const TPicturePlanes srcPlanes = PlanesOf(src.get());
  ASSERT_TRUE(PadPicture(PlanesOf(dst.get()), &srcPlanes, 12, 16, AV_PIX_FMT_YUV420P, 2, 4, 4, 2,
                         color));

  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 16; ++x) {
      const bool inside = y >= 2 && y < 8 && x >= 4 && x < 14;
      const int want = inside ? 100 + 10 * (y - 2) + (x - 4) : 20;
      ASSERT_EQ(at(dst.get(), 0, x, y), want) << "luma " << x << "," << y;
    }
    EXPECT_EQ(at(dst.get(), 0, 16, y), 0xEE) << "past the width, row " << y;
  }
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool inside = y >= 1 && y < 4 && x >= 2 && x < 7;
      ASSERT_EQ(at(dst.get(), 1, x, y), inside ? 77 : 60) << "Cb " << x << "," << y;
      if (!inside) {
        ASSERT_EQ(at(dst.get(), 2, x, y), 200) << "Cr " << x << "," << y;
      }
    }

  // Without a source only the borders are painted.
  FramePtr scaled = makeFrame(AV_PIX_FMT_YUV420P, 16, 12, 0x55);
  ASSERT_TRUE(PadPicture(PlanesOf(scaled.get()), nullptr, 12, 16, AV_PIX_FMT_YUV420P, 2, 4, 4, 2,
                         color));
  EXPECT_EQ(at(scaled.get(), 0, 5, 3), 0x55);
  EXPECT_EQ(at(scaled.get(), 0, 15, 3), 20);
  EXPECT_EQ(at(scaled.get(), 0, 5, 11), 20);

  FramePtr rgb = makeFrame(AV_PIX_FMT_RGB24, 16, 12);
  EXPECT_FALSE(PadPicture(PlanesOf(rgb.get()), nullptr, 12, 16, AV_PIX_FMT_RGB24, 2, 2, 2, 2,
                          color));
  EXPECT_FALSE(PadPicture(PlanesOf(scaled.get()), nullptr, 12, 16, AV_PIX_FMT_YUV420P, 8, 8, 0,
                          0, color))
      << "pads larger than the picture";
}

// ---------------------------------------------------------------------------------------------
// Frame-rate rule and the early exits of DoVideoOut
// ---------------------------------------------------------------------------------------------

TEST(VideoSyncRule, DropsDuplicatesAndFollowsTheInputClock) {
  const double tb = 0.04; // 25 fps
  int64_t opts = 10;
  // Default method with a 25 fps encoder: active. 1.5 frames behind: dropped.
  EXPECT_EQ(VideoSyncFrameCount(-1, tb, 8.5 * tb, opts), 0);
  EXPECT_EQ(opts, 10);
  // 3.4 frames ahead: 3 frames.
  EXPECT_EQ(VideoSyncFrameCount(-1, tb, 13.4 * tb, opts), 3);
  // 2.5 and 3.5 ahead round to even.
  EXPECT_EQ(VideoSyncFrameCount(1, 1.0, 12.5, opts), 2);
  EXPECT_EQ(VideoSyncFrameCount(1, 1.0, 13.5, opts), 4);
  // Up to 1.1 frames either way: one frame.
  EXPECT_EQ(VideoSyncFrameCount(1, 1.0, 11.1, opts), 1);
  EXPECT_EQ(VideoSyncFrameCount(1, 1.0, 8.9, opts), 1);
  EXPECT_EQ(VideoSyncFrameCount(1, 1.0, 8.8, opts), 0);
  EXPECT_EQ(opts, 10);

  // Method 2 never duplicates and takes the input clock.
  EXPECT_EQ(VideoSyncFrameCount(2, tb, 20 * tb, opts), 1);
  EXPECT_EQ(opts, 20);
  EXPECT_EQ(VideoSyncFrameCount(2, tb, 19 * tb, opts), 1);
  EXPECT_EQ(opts, 19);
  EXPECT_EQ(VideoSyncFrameCount(2, tb, 15 * tb, opts), 0) << "far behind is still dropped";

  // Off, or the default with a very fine time base: no rule, the clock is taken.
  EXPECT_EQ(VideoSyncFrameCount(0, tb, 30 * tb, opts), 1);
  EXPECT_EQ(opts, 30);
  EXPECT_EQ(VideoSyncFrameCount(-1, 0.0001, 0.5, opts), 1);
  EXPECT_EQ(opts, 5000);
}

class DoVideoOutTest : public VideoOutTest {
protected:
  void SetUp() override {
    VideoOutTest::SetUp();
    Enc.reset(avlib.avcodec_alloc_context3(nullptr));
    Enc->codec_type = AVMEDIA_TYPE_VIDEO;
    Enc->time_base = {1, 25};
    Enc->pix_fmt = AV_PIX_FMT_YUV420P;
    Enc->width = 32;
    Enc->height = 32;
    Ost.Codec = Enc.get();
    Ost.SyncIst = &Ist;
    Engine.Verbose = 3;
  }
  CodecPtr Enc;
  TOutputStream Ost;
};

TEST_F(DoVideoOutTest, PictureBehindTheOutputIsDroppedAndCounted) {
  FramePtr picture = makeFrame(AV_PIX_FMT_YUV420P, 32, 32);
  Ost.SyncOpts = 10;
  Ist.Pts = 340000; // 8.5 frames
  int frameSize = -1;
  Engine.DoVideoOut(nullptr, Ost, Ist, picture.get(), frameSize);
  EXPECT_EQ(frameSize, 0);
  EXPECT_EQ(Engine.FramesDrop, 1);
  EXPECT_EQ(Ost.FrameNumber, 0);
  EXPECT_TRUE(logged("1 *** drop!"));
}

TEST_F(DoVideoOutTest, NothingIsEncodedPastTheFrameLimit) {
  FramePtr picture = makeFrame(AV_PIX_FMT_YUV420P, 32, 32);
  Engine.MaxFrames[AVMEDIA_TYPE_VIDEO] = 100;
  Ost.FrameNumber = 100;
  Ost.SyncOpts = 100;
  Ist.Pts = 4000000;
  int frameSize = -1;
  Engine.DoVideoOut(nullptr, Ost, Ist, picture.get(), frameSize);
  EXPECT_EQ(frameSize, 0);
  EXPECT_EQ(Ost.FrameNumber, 100);
  EXPECT_EQ(Ost.SyncOpts, 100);
}

TEST_F(DoVideoOutTest, PicturesThatCannotBeCroppedOrPaddedAreSkippedWithTheirMessage) {
  int frameSize = -1;
  // Crop bands larger than the picture.
  FramePtr picture = makeFrame(AV_PIX_FMT_YUV420P, 32, 32);
  Ost.VideoCrop = true;
  Ost.TopBand = 40;
  Engine.CropBottom = 0;
  Engine.DoVideoOut(nullptr, Ost, Ist, picture.get(), frameSize);
  EXPECT_TRUE(logged("0 error cropping picture"));

  // Padding into an encoder format the padding cannot paint.
  Ost.VideoCrop = false;
  Ost.TopBand = 0;
  Enc->pix_fmt = AV_PIX_FMT_RGB24;
  FramePtr tmp = makeFrame(AV_PIX_FMT_RGB24, 32, 32);
  FramePtr rgb = makeFrame(AV_PIX_FMT_RGB24, 32, 28);
  Ost.PictTmp = tmp.get();
  Ost.VideoPad = true;
  Ost.PadTop = 4;
  Ost.SyncOpts = 0;
  Engine.DoVideoOut(nullptr, Ost, Ist, rgb.get(), frameSize);
  EXPECT_TRUE(logged("0 error padding picture"));
  EXPECT_EQ(frameSize, 0);
  EXPECT_EQ(Ost.FrameNumber, 0);

  // A picture whose size no longer fits the encoder and no scaler to fix it.
  Lines.clear();
  Enc->pix_fmt = AV_PIX_FMT_YUV420P;
  Ost.VideoPad = false;
  Ost.PadTop = 0;
  FramePtr other = makeFrame(AV_PIX_FMT_YUV420P, 48, 32);
  Engine.DoVideoOut(nullptr, Ost, Ist, other.get(), frameSize);
  EXPECT_EQ(Lines.size(), 1u);
  EXPECT_EQ(Ost.FrameNumber, 0);
}

// ---------------------------------------------------------------------------------------------
// The custom hook
// ---------------------------------------------------------------------------------------------

TEST_F(VideoOutTest, CustomHookDrawingReachesThePicture) {
  FramePtr picture = makeFrame(AV_PIX_FMT_YUV420P, 16, 16, 128);
  uint8_t *const decoderLuma = picture->data[0];
  int calls = 0;
  Engine.OnCustomHook = [&](TCustomFFmpeg *, TBGRImage &ABitmap, int AFrameNumber, int64_t APTS,
                            bool &AUpdate, bool &AStopHook) {
    ++calls;
    EXPECT_EQ(ABitmap.Width, 16);
    EXPECT_EQ(ABitmap.Height, 16);
    EXPECT_EQ(AFrameNumber, 1);
    EXPECT_EQ(APTS, 2500000);
    EXPECT_TRUE(AUpdate);
    EXPECT_FALSE(AStopHook);
    // Mid grey came in as grey.
    EXPECT_NEAR(ABitmap.Row(8)[8 * 3 + 1], 128, 4);
    // Paint the left half white.
    for (int y = 0; y < 16; ++y)
      std::fill_n(ABitmap.Row(y), 8 * 3, 255);
  };
  Ist.Pts = 2500000;
  Engine.PreProcessVideoFrame(Ist, picture.get());
  EXPECT_EQ(calls, 1);
  EXPECT_NE(picture->data[0], decoderLuma);
  EXPECT_EQ(decoderLuma[0], 128) << "the decoder's picture is not written";
  EXPECT_NEAR(at(picture.get(), 0, 2, 5), 235, 3) << "white in limited-range luma";
  EXPECT_NEAR(at(picture.get(), 0, 13, 5), 128, 3);
  EXPECT_NEAR(at(picture.get(), 1, 1, 1), 128, 3) << "white has no colour";
}

TEST_F(VideoOutTest, CustomHookWithoutUpdateOrFailingLeavesThePictureAlone) {
  FramePtr picture = makeFrame(AV_PIX_FMT_YUV420P, 16, 16, 90);
  Engine.OnCustomHook = [&](TCustomFFmpeg *, TBGRImage &ABitmap, int AFrameNumber, int64_t,
                            bool &AUpdate, bool &) {
    std::fill(ABitmap.Pixels.begin(), ABitmap.Pixels.end(), 255);
    if (AFrameNumber == 1)
      AUpdate = false;
    else
      throw std::runtime_error("boom");
  };
  Engine.PreProcessVideoFrame(Ist, picture.get());
  EXPECT_EQ(at(picture.get(), 0, 7, 7), 90);
  FramePtr second = makeFrame(AV_PIX_FMT_YUV420P, 16, 16, 90);
  Engine.PreProcessVideoFrame(Ist, second.get());
  EXPECT_EQ(at(second.get(), 0, 7, 7), 90);
  EXPECT_TRUE(logged("0 Error occurs OnCustomHook: boom"));
  EXPECT_TRUE(static_cast<bool>(Engine.OnCustomHook)) << "a failing hook stays connected";
}

TEST_F(VideoOutTest, CustomHookThatStopsIsNotCalledAgain) {
  int calls = 0;
  Engine.UsingVHook = true;
  Engine.OnCustomHook = [&](TCustomFFmpeg *, TBGRImage &, int AFrameNumber, int64_t, bool &,
                            bool &AStopHook) {
    ++calls;
    AStopHook = AFrameNumber == 10;
  };
  for (int i = 0; i < 15; ++i) {
    FramePtr picture = makeFrame(AV_PIX_FMT_YUV420P, 16, 16, 90);
    Engine.PreProcessVideoFrame(Ist, picture.get());
  }
  EXPECT_EQ(calls, 10);
  EXPECT_FALSE(static_cast<bool>(Engine.OnCustomHook));
  EXPECT_EQ(Engine.HookAction, haStop);
  EXPECT_FALSE(Engine.UsingVHook);
  EXPECT_EQ(Engine.HookFrameNumber, 15);
}

TEST_F(VideoOutTest, CustomHookOnBgrPicturesNeedsNoConversion) {
  FramePtr picture = makeFrame(AV_PIX_FMT_BGR24, 6, 4, 0);
  at(picture.get(), 0, 3, 2) = 17; // pixel 1 of row 2, blue
  Engine.OnCustomHook = [&](TCustomFFmpeg *, TBGRImage &ABitmap, int, int64_t, bool &, bool &) {
    EXPECT_EQ(ABitmap.Row(2)[3], 17);
    ABitmap.Row(3)[17] = 201; // last pixel of the last row, red
  };
  Engine.PreProcessVideoFrame(Ist, picture.get());
  EXPECT_EQ(at(picture.get(), 0, 17, 3), 201);
  EXPECT_EQ(at(picture.get(), 0, 3, 2), 17);
  EXPECT_EQ(Engine.ToRGBContext, nullptr);
  EXPECT_EQ(Engine.FromRGBContext, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Hook decisions: time ranges and OnBeforeHook, with a module that inverts luma
// ---------------------------------------------------------------------------------------------

class HookDecisionTest : public VideoOutTest {
protected:
  void SetUp() override {
    VideoOutTest::SetUp();
    std::string module = (testing_support::HookDir() / "invert.so").string();
    char *argv[] = {module.data(), nullptr};
    ASSERT_EQ(FrameHookAdd(Engine.FrameHooks, 1, argv), 0);
    Engine.UsingVHook = true;
  }
  // Whether the modules processed a picture shown at ASeconds.
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
  EXPECT_EQ(Engine.HookAction, haIgnore);
  EXPECT_TRUE(Engine.UsingVHook);
  EXPECT_TRUE(hooked(11));
  EXPECT_EQ(Engine.TimeRangeIndex, 1);
  EXPECT_FALSE(hooked(12.5));
  EXPECT_EQ(Engine.HookAction, haStop);
  EXPECT_FALSE(Engine.UsingVHook);
  EXPECT_FALSE(hooked(11)) << "stopped for the rest of the run";
}

TEST_F(HookDecisionTest, BeforeHookDecidesAndItsFailureStopsTheHooks) {
  std::vector<int64_t> seen;
  Engine.OnBeforeHook = [&](TCustomFFmpeg *, THookAction &AAction, int64_t APTS) {
    seen.push_back(APTS);
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
  EXPECT_EQ(seen, (std::vector<int64_t>{1000000, 2000000, 2500000, 3000000}));
}

TEST_F(HookDecisionTest, ConnectedCustomHookKeepsTheModulesOff) {
  int calls = 0;
  Engine.OnCustomHook = [&](TCustomFFmpeg *, TBGRImage &, int, int64_t, bool &AUpdate, bool &) {
    ++calls;
    AUpdate = false;
  };
  Engine.OnBeforeHook = [&](TCustomFFmpeg *, THookAction &, int64_t) {
    ADD_FAILURE() << "not asked while the custom hook is connected";
  };
  EXPECT_FALSE(hooked(1));
  EXPECT_EQ(calls, 1);
}

} // namespace
