// Every kind of input a user brings, converted with the options a conversion panel builds, must
// give a file the PSP plays: the profile's codec, profile, level and size, its frame rate, stereo
// AAC at its rate, the input's duration, and audio and video starting together.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>
#include <iterator>
#include <string>
#include <tuple>

#include "app/output_options.h"
#include "app/profiles.h"
#include "app/thumbnail.h"
#include "converter/option_records.h"
#include "engine/custom_ffmpeg.h"
#include "probe/av_probe.h"
#include "support/decode.h"
#include "support/psp_checks.h"
#include "support/test_support.h"

namespace {

using testing_support::FileFacts;

using testing_support::FramePtr;

// The largest sample magnitude of the sound (1.0 = full scale; AAC decodes to float planes).
double PeakLevel(const std::string &AFile) {
  double peak = 0;
  for (const FramePtr &frame : testing_support::DecodeFile(AFile, AVMEDIA_TYPE_AUDIO)) {
    if (frame->format != AV_SAMPLE_FMT_FLTP)
      return -1;
    for (int c = 0; c < frame->ch_layout.nb_channels; ++c)
      for (int i = 0; i < frame->nb_samples; ++i)
        peak = std::max(peak, std::fabs(static_cast<double>(
                                  reinterpret_cast<const float *>(frame->extended_data[c])[i])));
  }
  return peak;
}

bool FileHoldsUtf16Title(const std::string &AFile, const std::string &ATitle) {
  std::ifstream in(AFile, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  std::string utf16;
  for (char c : ATitle) { // the generated titles are plain ASCII
    utf16 += '\0';
    utf16 += c;
  }
  return !ATitle.empty() && bytes.find(utf16) != std::string::npos;
}

// The time the input's pictures cover, in seconds: the longer of their count times the frame
// duration (packet spans can leave out a picture) and the span from the file's start to the end
// of the last picture (a timeline with a gap is longer than its pictures); without video, the
// container's duration.
double MeasuredDuration(const std::string &AFile) {
  AVFormatContext *context = nullptr;
  if (avlib.avformat_open_input(&context, AFile.c_str(), nullptr, nullptr) < 0)
    return 0;
  avlib.avformat_find_stream_info(context, nullptr);
  double seconds = context->duration > 0 ? context->duration / 1e6 : 0;
  const int index = avlib.av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index >= 0) {
    const AVStream *stream = context->streams[index];
    const double frame = 1 / av_q2d(stream->r_frame_rate);
    int pictures = 0;
    int64_t first = INT64_MAX, last = INT64_MIN;
    AVPacket *packet = avlib.av_packet_alloc();
    while (avlib.av_read_frame(context, packet) >= 0) {
      if (packet->stream_index == index) {
        ++pictures;
        if (packet->pts != AV_NOPTS_VALUE) {
          first = std::min(first, packet->pts);
          last = std::max(last, packet->pts);
        }
      }
      avlib.av_packet_unref(packet);
    }
    avlib.av_packet_free(&packet);
    // From the file's start: a picture stream that starts later is held from the start.
    const double firstSeconds = first * av_q2d(stream->time_base);
    const double start = context->start_time != AV_NOPTS_VALUE
                             ? std::min(context->start_time / 1e6, firstSeconds)
                             : firstSeconds;
    const double span = last >= first ? last * av_q2d(stream->time_base) + frame - start : 0;
    seconds = std::max(pictures * frame, span);
  }
  avlib.avformat_close_input(&context);
  return seconds;
}

// Converts AInput with profile AProfileIndex into AFolder as a conversion panel does: the probe
// reads the input (AProbe stays loaded for the preview and thumbnail), the options are built
// from what it reports, and the engine runs on this thread.
void ConvertLikeThePanel(const std::string &AInput, int AProfileIndex, const std::string &AFolder,
                         TAVProbe &AProbe, TPSPOutputSettings &ASettings) {
  ASSERT_TRUE(AProbe.LoadFile(AInput)) << AProbe.LastErrorMessage();
  TAVFileInfo info;
  AProbe.GetFileInfo(info);
  TAVVideoInfo video;
  AProbe.GetVideoInfo(-1, video);
  ASettings = BuildOutputOptions(AProfileIndex, true, TitleFor(info.Title, AInput), AInput,
                                 AFolder + "/", AFolder + "/", video.Width, video.Height,
                                 video.DisplayAspect > 0 ? video.DisplayAspect : 0);
  TOutputOptions output;
  InitOutputOptions(output);
  FillOutputOptions(ASettings, output);

  TCustomFFmpeg engine;
  engine.Prepare();
  engine.SetVerbose(-1);
  // Threads as the panel's converter gives them on a machine of two cores: decoders of some
  // kinds hand their frames back late on more than one thread.
  engine.ThreadCount = 2;
  ASSERT_TRUE(engine.OpenInputFile(AInput)) << engine.ErrorMessage;
  ApplyOutputOptions(engine, output);
  ASSERT_TRUE(engine.OpenOutputFile(ASettings.FileName)) << engine.ErrorMessage;
  engine.Run(false);
  ASSERT_TRUE(engine.Finished) << engine.ExceptionMessage;
}

// The input, or a skip where the libraries could not make it (an optional encoder is missing).
std::string InputOrSkip(const std::string &AName) {
  const std::string input = testing_support::MediaFile(AName);
  return std::filesystem::exists(input) ? input : std::string();
}

// Converts each named input with each profile as the panel does and hands the panel's probe
// (still on the input) and the settings to ACheck.
template <typename TCheck>
void ForEachConversion(std::initializer_list<const char *> ANames,
                       std::initializer_list<int> AProfiles, TCheck ACheck) {
  for (const char *name : ANames) {
    for (int profileIndex : AProfiles) {
      SCOPED_TRACE(std::string(name) + " profile " + std::to_string(profileIndex));
      testing_support::TempDir dir;
      TAVProbe probe;
      TPSPOutputSettings settings;
      ConvertLikeThePanel(testing_support::MediaFile(name), profileIndex, dir.path().string(),
                          probe, settings);
      if (::testing::Test::HasFatalFailure())
        return;
      ACheck(profileIndex, probe, settings);
    }
  }
}

using Case = std::tuple<std::string, int>; // input file, profile index

class PSPOutputs : public ::testing::TestWithParam<Case> {};

TEST_P(PSPOutputs, PlayOnThePSP) {
  testing_support::RequireMediaLibraries();
  const std::string input = InputOrSkip(std::get<0>(GetParam()));
  if (input.empty())
    GTEST_SKIP() << std::get<0>(GetParam()) << " was not made: the libraries lack its encoder";
  const int profileIndex = std::get<1>(GetParam());
  testing_support::TempDir dir;
  const bool stillPicture = std::get<0>(GetParam()).rfind("picture", 0) == 0 ||
                            std::get<0>(GetParam()).find(".jpg") != std::string::npos;
  TAVProbe probe;
  TPSPOutputSettings settings;
  ConvertLikeThePanel(input, profileIndex, dir.path().string(), probe, settings);
  if (HasFatalFailure())
    return;
  const std::string &title = settings.Title;

  const double inputDuration = MeasuredDuration(input);
  const FileFacts out =
      testing_support::ExpectPlaysOnPSP(settings.FileName, profileIndex, stillPicture);
  ASSERT_TRUE(out.opened);
  // The PSP reads the title from the muxer's own metadata box, in UTF-16 big-endian.
  EXPECT_TRUE(FileHoldsUtf16Title(settings.FileName, title)) << title;

  // As long as the input (within one output frame).
  if (!stillPicture) {
    const double frame = 1001.0 / 30000.0;
    EXPECT_NEAR(out.video.duration, inputDuration, frame + 0.001);
    EXPECT_NEAR(out.audio.duration, inputDuration, 0.1);
  }
  // The inputs' tone (0.3 of full scale in every channel) neither lost nor clipped by the
  // downmix; inputs without sound get silence.
  const double peak = PeakLevel(settings.FileName);
  if (probe.AudioStreamCount() > 0) {
    EXPECT_GT(peak, 0.15);
    EXPECT_LT(peak, 0.9);
  } else {
    EXPECT_EQ(peak, 0);
  }
}

// Mean luma of a 9x9 square of APicture centred on (AX, AY).
double LumaAround(const AVFrame &APicture, int AX, int AY) {
  double sum = 0;
  for (int y = AY - 4; y <= AY + 4; ++y)
    for (int x = AX - 4; x <= AX + 4; ++x)
      sum += APicture.data[0][y * APicture.linesize[0] + x];
  return sum / 81;
}

// Full-range black (0) and white (255) must reach the PSP as TV black (16) and white (235),
// not as values its decoder clips or shows grey.
TEST(PSPPictures, FullRangeBlackAndWhiteBecomeTVBlackAndWhite) {
  testing_support::RequireMediaLibraries();
  ForEachConversion(
      {"full_range.jpg", "mjpeg_422.avi"}, {4, 0},
      [](int, TAVProbe &, const TPSPOutputSettings &ASettings) {
        const std::vector<FramePtr> pictures =
            testing_support::DecodeFile(ASettings.FileName, AVMEDIA_TYPE_VIDEO);
        ASSERT_FALSE(pictures.empty());
        const AVFrame &picture = *pictures.front();
        // The 4:3 source fills the width; its halves are black and white.
        EXPECT_NEAR(LumaAround(picture, picture.width / 4, picture.height / 2), 16, 2);
        EXPECT_NEAR(LumaAround(picture, picture.width * 3 / 4, picture.height / 2), 235, 2);
      });
}

// Mean absolute luma difference of two pictures of the same size.
double LumaDifference(const AVFrame &A, const AVFrame &B) {
  double sum = 0;
  for (int y = 0; y < A.height; ++y)
    for (int x = 0; x < A.width; ++x)
      sum += std::abs(A.data[0][y * A.linesize[0] + x] - B.data[0][y * B.linesize[0] + x]);
  return sum / (A.width * A.height);
}

// Two seconds without pictures (1.5 s to 3.5 s) show the picture before the hole, as a player
// would; the picture after it appears when it is due.
TEST(PSPPictures, HoleInTheTimelineHoldsTheLastPicture) {
  testing_support::RequireMediaLibraries();
  testing_support::TempDir dir;
  TAVProbe probe;
  TPSPOutputSettings settings;
  ConvertLikeThePanel(testing_support::MediaFile("video_gap.mkv"), 4, dir.path().string(), probe,
                      settings);
  if (HasFatalFailure())
    return;
  const std::vector<FramePtr> pictures =
      testing_support::DecodeFile(settings.FileName, AVMEDIA_TYPE_VIDEO);
  auto at = [&](double ASeconds) -> const AVFrame & {
    return *pictures.at(static_cast<size_t>(ASeconds * 30000 / 1001));
  };
  ASSERT_GT(pictures.size(), 140u);
  // One picture all through the hole, and it is the one from before it: the pattern moves
  // with every picture, so it looks like its neighbour before the hole, not after it.
  EXPECT_LT(LumaDifference(at(2.0), at(3.4)), 1.0);
  EXPECT_LT(LumaDifference(at(2.0), at(1.45)), LumaDifference(at(2.0), at(3.6)) / 2);
}

// Red, as the test media paint their marked corner (allowing for compression).
bool IsRed(const uint8_t *ABGR) { return ABGR[2] > 150 && ABGR[1] < 90 && ABGR[0] < 90; }

// Which corners of the AW x AH area at (ALeft, ATop) of APicture are red, as "TL TR BL BR" bits.
std::string RedCorners(const TBGRImage &APicture, int ALeft, int ATop, int AW, int AH) {
  const int inset = std::max(3, std::min(AW, AH) / 16);
  const int xs[] = {ALeft + inset, ALeft + AW - 1 - inset};
  const int ys[] = {ATop + inset, ATop + AH - 1 - inset};
  std::string corners;
  for (int y : ys)
    for (int x : xs)
      corners += IsRed(APicture.Row(y) + 3 * x) ? '1' : '0';
  return corners;
}

// A phone's portrait clip, stored landscape with a turn for the viewer, is shown and converted
// upright: the corner the viewer sees top left stays there in the preview, in the converted
// file and in its thumbnail.
TEST(PSPPictures, TurnedClipsComeOutUpright) {
  testing_support::RequireMediaLibraries();
  ForEachConversion({"rotated_90.mp4", "rotated_270.mp4"}, {4, 0},
                    [](int profileIndex, TAVProbe &probe, const TPSPOutputSettings &settings) {
                      // The probe reports the picture as shown: 320x180 stored, 180x320 seen.
                      TAVVideoInfo video;
                      probe.GetVideoInfo(-1, video);
                      EXPECT_EQ(video.Width, 180);
                      EXPECT_EQ(video.Height, 320);
                      ASSERT_TRUE(probe.Seek(-1, 0));
                      const TBGRImage preview = *probe.GetFrameBitmap(-1);
                      ASSERT_EQ(preview.Width, 180);
                      ASSERT_EQ(preview.Height, 320);
                      EXPECT_EQ(RedCorners(preview, 0, 0, 180, 320), "1000");

                      // Fitted upright: a narrow picture with bands left and right.
                      if (profileIndex == 4) {
                        EXPECT_EQ(settings.FrameSize, "154x272");
                        EXPECT_EQ(settings.PadLeft, 164);
                        EXPECT_EQ(settings.PadRight, 162);
                      }
                      int width = 0, height = 0;
                      ASSERT_TRUE(ParseSize(settings.FrameSize, width, height));
                      TAVProbe output;
                      ASSERT_TRUE(output.LoadFile(settings.FileName)) << output.LastErrorMessage();
                      const TBGRImage converted = *output.GetFrameBitmap(-1);
                      ASSERT_EQ(converted.Height, height);
                      EXPECT_EQ(RedCorners(converted, settings.PadLeft, 0, width, height), "1000");

                      // The thumbnail the panel writes from its probe's next picture.
                      std::string error;
                      ASSERT_TRUE(MakeThumbnail(*probe.GetFrameBitmap(-1), settings.FileName, error,
                                                video.DisplayAspect > 0 ? video.DisplayAspect : 0))
                          << error;
                      TAVProbe thumbnail;
                      ASSERT_TRUE(thumbnail.LoadFile(ThumbnailFileName(settings.FileName)));
                      const TBGRImage thm = *thumbnail.GetFrameBitmap(-1);
                      ASSERT_EQ(thm.Width, 160);
                      int w = 0, h = 0;
                      FitSize(180, 320, 160, 120, w, h);
                      EXPECT_EQ(RedCorners(thm, (160 - w) / 2, (120 - h) / 2, w, h), "1000");
                    });
}

std::string CaseName(const ::testing::TestParamInfo<Case> &AInfo) {
  std::string name = std::get<0>(AInfo.param) + "_" + PSPProfiles[std::get<1>(AInfo.param)].Kind +
                     PSPProfiles[std::get<1>(AInfo.param)].Size;
  for (char &c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)))
      c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(
    EveryInputKind, PSPOutputs,
    ::testing::Combine(
        ::testing::Values("avi_mpeg4_mp3.avi", "mkv_h264_vorbis.mkv", "mov_h264_aac.mov",
                          "flv_h264_aac.flv", "mpg_mpeg2_mp2.mpg", "ts_h264_aac.ts",
                          "webm_vp8_vorbis.webm", "ogg_theora_vorbis.ogv", "3gp_h263_aac.3gp",
                          "wav_pcm.wav", "mp3_audio.mp3", "picture.png", "picture.jpg",
                          "two_audio.mkv", "subtitles.mkv", "anamorphic.mp4", "interlaced.mkv",
                          "start_time.ts", "aac_51.mp4", "h264_10bit.mp4", "hevc_10bit.mp4",
                          "mjpeg_422.avi", "mjpeg_444.mov", "full_range.jpg", "picture_16bit.png",
                          "rotated_90.mp4", "rotated_270.mp4", "video_gap.mkv",
                          "audio_96k_24bit.flac", "mkv_h264_flac.mkv", "aac_71.mkv"),
        ::testing::Values(4, 0)),
    CaseName);

INSTANTIATE_TEST_SUITE_P(LargestAVC, PSPOutputs,
                         ::testing::Combine(::testing::Values("anamorphic.mp4"),
                                            ::testing::Values(5)),
                         CaseName);

} // namespace
