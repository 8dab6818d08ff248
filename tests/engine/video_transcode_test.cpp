// The video path inside whole conversions: deinterlacing, crop/pad/scale, frame-hook modules,
// the frame-rate rule and the video statistics file. Most outputs are raw pictures, so what
// reached the encoder can be compared byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/custom_ffmpeg.h"
#include "engine/picture_ops.h"
#include "medialib/medialib.h"
#include "support/test_support.h"

namespace {

using TOptions = std::vector<std::pair<std::string, std::string>>;

class TTestEngine : public TCustomFFmpeg {
public:
  using TCustomFFmpeg::Transcode;
};

// A decoded picture in yuv420p, planes without padding.
struct TPicture {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Plane[3];
  int PlaneWidth(int AP) const { return AP ? (Width + 1) / 2 : Width; }
  int PlaneHeight(int AP) const { return AP ? (Height + 1) / 2 : Height; }
  uint8_t At(int AP, int AX, int AY) const { return Plane[AP][AY * PlaneWidth(AP) + AX]; }
  TPicturePlanes Planes() {
    TPicturePlanes planes;
    for (int p = 0; p < 3; ++p) {
      planes.data[p] = Plane[p].data();
      planes.linesize[p] = PlaneWidth(p);
    }
    return planes;
  }
  double MeanLuma(int AX0, int AY0, int AX1, int AY1) const {
    double sum = 0;
    for (int y = AY0; y < AY1; ++y)
      for (int x = AX0; x < AX1; ++x)
        sum += At(0, x, y);
    return sum / ((AX1 - AX0) * (AY1 - AY0));
  }
};

// Decodes up to AMax pictures of the first video stream of a file.
std::vector<TPicture> DecodeVideo(const std::string &APath, size_t AMax = 1000) {
  std::vector<TPicture> pictures;
  AVFormatContext *ic = nullptr;
  if (avlib.avformat_open_input(&ic, APath.c_str(), nullptr, nullptr) < 0)
    return pictures;
  avlib.avformat_find_stream_info(ic, nullptr);
  const int index = avlib.av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) {
    avlib.avformat_close_input(&ic);
    return pictures;
  }
  const AVStream *st = ic->streams[index];
  AVCodecContext *dec = avlib.avcodec_alloc_context3(nullptr);
  avlib.avcodec_parameters_to_context(dec, st->codecpar);
  avlib.avcodec_open2(dec, avlib.avcodec_find_decoder(dec->codec_id), nullptr);
  AVPacket *pkt = avlib.av_packet_alloc();
  AVFrame *frame = avlib.av_frame_alloc();
  SwsContext *sws = nullptr;
  auto drain = [&] {
    while (pictures.size() < AMax && avlib.avcodec_receive_frame(dec, frame) >= 0) {
      TPicture picture;
      picture.Width = frame->width;
      picture.Height = frame->height;
      uint8_t *data[4] = {};
      int linesize[4] = {};
      for (int p = 0; p < 3; ++p) {
        picture.Plane[p].resize(static_cast<size_t>(picture.PlaneWidth(p)) *
                                picture.PlaneHeight(p));
        data[p] = picture.Plane[p].data();
        linesize[p] = picture.PlaneWidth(p);
      }
      if (frame->format == AV_PIX_FMT_YUV420P) {
        avlib.av_image_copy(data, linesize, const_cast<const uint8_t **>(frame->data),
                            frame->linesize, AV_PIX_FMT_YUV420P, frame->width, frame->height);
      } else {
        sws = avlib.sws_getCachedContext(
            sws, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
            frame->width, frame->height, AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr);
        avlib.sws_scale(sws, frame->data, frame->linesize, 0, frame->height, data, linesize);
      }
      pictures.push_back(std::move(picture));
      avlib.av_frame_unref(frame);
    }
  };
  while (pictures.size() < AMax && avlib.av_read_frame(ic, pkt) >= 0) {
    if (pkt->stream_index == index && avlib.avcodec_send_packet(dec, pkt) >= 0)
      drain();
    avlib.av_packet_unref(pkt);
  }
  avlib.avcodec_send_packet(dec, nullptr);
  drain();
  avlib.sws_freeContext(sws);
  avlib.av_frame_free(&frame);
  avlib.av_packet_free(&pkt);
  avlib.avcodec_free_context(&dec);
  avlib.avformat_close_input(&ic);
  return pictures;
}

bool SamePictures(const TPicture &A, const TPicture &B) {
  return A.Width == B.Width && A.Height == B.Height && A.Plane[0] == B.Plane[0] &&
         A.Plane[1] == B.Plane[1] && A.Plane[2] == B.Plane[2];
}

// Raw pictures in a NUT file: the encoder input, unchanged.
const TOptions RawVideo = {
    {"f", "nut"}, {"vcodec", "rawvideo"}, {"pix_fmt", "yuv420p"}, {"an", ""}};

TOptions With(TOptions ABase, const TOptions &AMore) {
  ABase.insert(ABase.end(), AMore.begin(), AMore.end());
  return ABase;
}

class VideoTranscodeTest : public ::testing::Test {
protected:
  void SetUp() override {
    testing_support::RequireMediaLibraries();
    SetMediaLogLevel(-1);
  }
  void TearDown() override { SetMediaLogLevel(1); }

  // Converts AInput into AOutput; AAfterRun sees the engine before its files are released.
  // Returns the error message ("" on success).
  std::string Convert(const std::string &AInput, const std::string &AOutput,
                      const TOptions &AOptions,
                      const std::function<void(TTestEngine &)> &AAfterRun = nullptr,
                      int AThreads = 1) {
    TTestEngine engine;
    engine.Prepare();
    engine.ThreadCount = AThreads;
    engine.OnLog = [this](TCustomFFmpeg *, int ALevel, const std::string &AMsg) {
      Lines.push_back(std::to_string(ALevel) + ": " + AMsg);
    };
    SetMediaLogLevel(-1);
    std::string error;
    try {
      if (!engine.OpenInputFile(AInput))
        return "input: " + engine.ErrorMessage;
      for (const auto &o : AOptions)
        engine.SetOption(o.first, o.second);
      if (!engine.OpenOutputFile(AOutput))
        return "output: " + engine.ErrorMessage;
      engine.Transcode();
      if (AAfterRun)
        AAfterRun(engine);
    } catch (const std::exception &e) {
      error = e.what();
    }
    engine.FreeFiles();
    return error;
  }

  bool Logged(const std::string &AText) const {
    return std::any_of(Lines.begin(), Lines.end(),
                       [&](const std::string &l) { return l.find(AText) != std::string::npos; });
  }

  testing_support::TempDir Dir;
  std::vector<std::string> Lines;
};

TEST_F(VideoTranscodeTest, DeinterlacingFiltersEveryPictureBeforeEncoding) {
  const std::string input = testing_support::MediaFile("interlaced.mkv");
  const std::vector<TPicture> source = DecodeVideo(input, 3);
  ASSERT_EQ(source.size(), 3u);

  const std::string plain = Dir.file("plain.nut"), filtered = Dir.file("filtered.nut");
  ASSERT_EQ(Convert(input, plain, With(RawVideo, {{"vframes", "3"}})), "");
  ASSERT_EQ(Convert(input, filtered, With(RawVideo, {{"vframes", "3"}, {"deinterlace", ""}})), "");
  const std::vector<TPicture> plainOut = DecodeVideo(plain), filteredOut = DecodeVideo(filtered);
  ASSERT_EQ(plainOut.size(), 3u);
  ASSERT_EQ(filteredOut.size(), 3u);

  for (size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(SamePictures(plainOut[i], source[i])) << "picture " << i;
    TPicture expected = source[i];
    TPicture copy = source[i];
    ASSERT_TRUE(DeinterlacePicture(expected.Planes(), copy.Planes(), AV_PIX_FMT_YUV420P, copy.Width,
                                   copy.Height));
    EXPECT_TRUE(SamePictures(filteredOut[i], expected)) << "picture " << i;
    EXPECT_FALSE(SamePictures(filteredOut[i], plainOut[i])) << "picture " << i;
  }
  EXPECT_FALSE(Logged("deinterlace error."));
}

TEST_F(VideoTranscodeTest, CropAndPadWithoutScalingKeepThePixelsAndPaintTheBorders) {
  const std::string input = testing_support::MediaFile("avi_mpeg4_mp3.avi");
  const std::vector<TPicture> source = DecodeVideo(input, 1);
  ASSERT_EQ(source.size(), 1u);
  ASSERT_EQ(source[0].Width, 320);
  const std::string output = Dir.file("croppad.nut");
  // 0x00FF00: pure green. Bands of 8 rows and 16 columns are cut and added back as borders;
  // the size given is the picture's without its borders.
  ASSERT_EQ(Convert(input, output,
                    With(RawVideo, {{"vframes", "2"},
                                    {"croptop", "8"},
                                    {"cropbottom", "8"},
                                    {"cropleft", "16"},
                                    {"cropright", "16"},
                                    {"padtop", "8"},
                                    {"padbottom", "8"},
                                    {"padleft", "16"},
                                    {"padright", "16"},
                                    {"padcolor", "65280"},
                                    {"s", "288x224"}})),
            "");
  const std::vector<TPicture> out = DecodeVideo(output);
  ASSERT_EQ(out.size(), 2u);
  const TPicture &pic = out[0];
  ASSERT_EQ(pic.Width, 320);
  ASSERT_EQ(pic.Height, 240);
  // Green in limited-range BT.601: Y 145, Cb 54, Cr 34.
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x) {
      const bool border = y < 8 || y >= 232 || x < 16 || x >= 304;
      if (border) {
        ASSERT_NEAR(pic.At(0, x, y), 145, 1) << x << "," << y;
        ASSERT_NEAR(pic.At(1, x / 2, y / 2), 54, 1) << x << "," << y;
        ASSERT_NEAR(pic.At(2, x / 2, y / 2), 34, 1) << x << "," << y;
      } else {
        ASSERT_EQ(pic.At(0, x, y), source[0].At(0, x, y)) << x << "," << y;
      }
    }
}

TEST_F(VideoTranscodeTest, CropScaleAndPadMakeTheEncoderSizeWithExactBorders) {
  const std::string input = testing_support::MediaFile("avi_mpeg4_mp3.avi");
  const std::vector<TPicture> source = DecodeVideo(input, 1);
  ASSERT_EQ(source.size(), 1u);
  const std::string output = Dir.file("scaled.nut");
  ASSERT_EQ(Convert(input, output,
                    With(RawVideo, {{"vframes", "1"},
                                    {"croptop", "40"},
                                    {"cropbottom", "40"},
                                    {"padtop", "20"},
                                    {"padbottom", "20"},
                                    {"s", "160x80"}})),
            "");
  const std::vector<TPicture> out = DecodeVideo(output);
  ASSERT_EQ(out.size(), 1u);
  const TPicture &pic = out[0];
  ASSERT_EQ(pic.Width, 160);
  ASSERT_EQ(pic.Height, 120);
  for (int x = 0; x < 160; ++x) {
    EXPECT_EQ(pic.At(0, x, 0), 16);
    EXPECT_EQ(pic.At(0, x, 19), 16);
    EXPECT_EQ(pic.At(0, x, 100), 16);
    EXPECT_EQ(pic.At(0, x, 119), 16);
  }
  // The inside is the cropped source at half size: the same picture on average.
  const double inside = pic.MeanLuma(0, 20, 160, 100);
  const double cropped = source[0].MeanLuma(0, 40, 320, 200);
  EXPECT_NEAR(inside, cropped, 3.0);
  EXPECT_GT(std::fabs(inside - 16), 5.0);
}

TEST_F(VideoTranscodeTest, HookModulesChangeTheEncodedPicturesInOrder) {
  const std::string input = testing_support::MediaFile("avi_mpeg4_mp3.avi");
  const std::string plain = Dir.file("plain.nut"), hooked = Dir.file("hooked.nut");
  const std::string drawbox = (testing_support::HookDir() / "drawbox.so").string();
  const std::string invert = (testing_support::HookDir() / "invert.so").string();
  ASSERT_EQ(Convert(input, plain, With(RawVideo, {{"vframes", "3"}})), "");
  ASSERT_EQ(
      Convert(input, hooked,
              With(RawVideo,
                   {{"vframes", "3"}, {"vhook", drawbox + " 10 20 30 40 200"}, {"vhook", invert}})),
      "");
  const std::vector<TPicture> a = DecodeVideo(plain), b = DecodeVideo(hooked);
  ASSERT_EQ(a.size(), 3u);
  ASSERT_EQ(b.size(), 3u);
  for (size_t i = 0; i < 3; ++i)
    for (int y = 0; y < 240; y += 3)
      for (int x = 0; x < 320; x += 3) {
        const bool inBox = x >= 10 && x < 40 && y >= 20 && y < 60;
        ASSERT_EQ(b[i].At(0, x, y), inBox ? 255 - 200 : 255 - a[i].At(0, x, y))
            << "picture " << i << " at " << x << "," << y;
      }
  EXPECT_EQ(b[0].Plane[1], a[0].Plane[1]) << "chroma untouched";
}

TEST_F(VideoTranscodeTest, FrameRateRuleDuplicatesAndDropsAndCountsWhatItDid) {
  const std::string input = testing_support::MediaFile("avi_mpeg4_mp3.avi");
  const size_t inputPictures = DecodeVideo(input).size();
  ASSERT_GT(inputPictures, 20u);

  int dup = -1, drop = -1;
  auto counts = [&](TTestEngine &AEngine) {
    dup = AEngine.FramesDup;
    drop = AEngine.FramesDrop;
  };
  const std::string doubled = Dir.file("doubled.nut");
  ASSERT_EQ(Convert(input, doubled, With(RawVideo, {{"r", "50"}}), counts), "");
  const std::vector<TPicture> twice = DecodeVideo(doubled);
  EXPECT_GT(dup, 0);
  // Every output picture is an input picture, a counted duplicate, or the last picture shown
  // once more at the end so that the output lasts as long as the input.
  EXPECT_NEAR(static_cast<double>(twice.size()), static_cast<double>(inputPictures + dup - drop),
              1.0);
  EXPECT_NEAR(static_cast<double>(twice.size()), 2.0 * inputPictures, 2.0);
  // Each picture is followed by its copy.
  EXPECT_TRUE(SamePictures(twice[10], twice[11]) || SamePictures(twice[11], twice[12]));

  const std::string halved = Dir.file("halved.nut");
  ASSERT_EQ(Convert(input, halved, With(RawVideo, {{"r", "25/2"}}), counts), "");
  const std::vector<TPicture> half = DecodeVideo(halved);
  EXPECT_GT(drop, 0);
  EXPECT_NEAR(static_cast<double>(half.size()), static_cast<double>(inputPictures + dup - drop),
              1.0);
  EXPECT_NEAR(static_cast<double>(half.size()), inputPictures / 2.0, 2.0);
}

// An input whose picture size changes during the run (two transport streams one after the
// other) is scaled to the output's size from the change on, not dropped.
TEST_F(VideoTranscodeTest, APictureSizeChangeMidStreamIsScaledNotDropped) {
  const std::string first = testing_support::GeneratedMediaFile("size_160x120.ts", 1, "160x120");
  const std::string second = testing_support::GeneratedMediaFile("size_96x64.ts", 1, "96x64");
  const std::string joined = Dir.file("joined.ts");
  {
    std::ofstream out(joined, std::ios::binary);
    for (const std::string &part : {first, second})
      out << std::ifstream(part, std::ios::binary).rdbuf();
  }
  const size_t firstPictures = DecodeVideo(first).size();
  const size_t secondPictures = DecodeVideo(second).size();
  ASSERT_GT(secondPictures, 10u);
  const std::string output = Dir.file("joined.nut");
  ASSERT_EQ(Convert(joined, output, RawVideo), "");
  const std::vector<TPicture> pictures = DecodeVideo(output);
  EXPECT_GE(pictures.size() + 2, firstPictures + secondPictures);
  for (const TPicture &picture : pictures)
    ASSERT_EQ(picture.Width * 1000 + picture.Height, 160 * 1000 + 120);
  // The last picture is the second part's, scaled: its mean brightness is that of the source.
  const TPicture &last = pictures.back();
  const TPicture sourceLast = DecodeVideo(second).back();
  EXPECT_NEAR(last.MeanLuma(0, 0, 160, 120), sourceLast.MeanLuma(0, 0, 96, 64), 8.0);
}

TEST_F(VideoTranscodeTest, VideoStatisticsWriteOneLinePerEncodedFrameOnOneThreadOrMore) {
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    const std::string input = testing_support::MediaFile("avi_mpeg4_mp3.avi");
    const std::string output = Dir.file("stats" + std::to_string(threads) + ".avi");
    const std::string stats = Dir.file("vstats" + std::to_string(threads) + ".log");
    int64_t videoSize = 0;
    ASSERT_EQ(Convert(
                  input, output,
                  {{"f", "avi"},
                   {"vcodec", "mpeg4"},
                   {"an", ""},
                   {"vframes", "30"},
                   {"qscale", "4"},
                   {"psnr", ""},
                   {"vstats_file", stats}},
                  [&](TTestEngine &AEngine) { videoSize = AEngine.VideoSize; }, threads),
              "");
    std::ifstream in(stats);
    ASSERT_TRUE(in.good());
    // Each line is read back and printed again in the statistics format: any other spacing,
    // precision or field order shows as a difference.
    struct TStatsLine {
      int Frame = 0, FrameSize = 0;
      float Q = 0;
      double Psnr = 0, SizeKB = 0, Time = 0, BitRate = 0, AvgBitRate = 0;
      char Type = 0;
    };
    std::string text;
    int lines = 0, lastFrame = 0;
    double lastTime = 0;
    long totalBytes = 0;
    while (std::getline(in, text)) {
      TStatsLine l;
      ASSERT_EQ(std::sscanf(text.c_str(),
                            "frame= %d q= %f PSNR= %lf f_size= %d s_size= %lfkB time= %lf "
                            "br= %lfkbits/s avg_br= %lfkbits/s type= %c",
                            &l.Frame, &l.Q, &l.Psnr, &l.FrameSize, &l.SizeKB, &l.Time, &l.BitRate,
                            &l.AvgBitRate, &l.Type),
                9)
          << text;
      char again[256];
      std::snprintf(again, sizeof again,
                    "frame= %5d q= %2.1f PSNR= %6.2f f_size= %6d s_size= %8.0fkB time= %0.3f "
                    "br= %7.1fkbits/s avg_br= %7.1fkbits/s type= %c",
                    l.Frame, l.Q, l.Psnr, l.FrameSize, l.SizeKB, l.Time, l.BitRate, l.AvgBitRate,
                    l.Type);
      EXPECT_EQ(text, again);
      ++lines;
      EXPECT_GT(l.Frame, lastFrame);
      lastFrame = l.Frame;
      EXPECT_NEAR(l.Q, 4.0, 0.05) << "the fixed quantiser";
      EXPECT_GT(l.Psnr, 25.0) << "inf for a picture coded without loss";
      EXPECT_NEAR(l.BitRate, l.FrameSize * 8 * 25 / 1000.0, 0.1);
      totalBytes += l.FrameSize;
      EXPECT_GE(l.Time, lastTime);
      lastTime = l.Time;
      EXPECT_TRUE(l.Type == 'I' || (lines > 1 && l.Type == 'P')) << text;
    }
    EXPECT_GE(lines, 25);
    EXPECT_LE(lines, 30);
    EXPECT_EQ(lastFrame, 30);
    EXPECT_LE(totalBytes, videoSize);
    EXPECT_GT(totalBytes, videoSize / 2);
  }
}

} // namespace
