// A chosen part and the start of both streams, measured on what a person sees and hears: the
// generated films flash white with a beep at a known moment, which must keep its place in the
// output and stay with its beep.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>

#include "app/output_options.h"
#include "app/profiles.h"
#include "converter/option_records.h"
#include "engine/custom_ffmpeg.h"
#include "support/decoded_media.h"
#include "support/psp_checks.h"
#include "support/test_support.h"

namespace {

using namespace testing_support;

constexpr double OutputFrame = 1001.0 / 30000.0;

// When the flash and the beep come, in seconds from the file's start (-1: never).
struct TMoments {
  double Flash = -1, Beep = -1;
};

double FileStart(const std::string &AFile) {
  AVFormatContext *context = nullptr;
  if (avlib.avformat_open_input(&context, AFile.c_str(), nullptr, nullptr) < 0)
    return 0;
  avlib.avformat_find_stream_info(context, nullptr);
  const double start = context->start_time == AV_NOPTS_VALUE ? 0 : context->start_time / 1e6;
  avlib.avformat_close_input(&context);
  return start;
}

TMoments MomentsOf(const std::string &AFile) {
  TMoments moments;
  const double start = FileStart(AFile);
  // The middle of the picture: a fitted output has black bands around it.
  for (const TDecodedPicture &picture : DecodePictures(AFile, 2000)) {
    const int w = picture.Width, h = picture.Height;
    if (picture.MeanLuma(w / 4, h / 4, 3 * w / 4, 3 * h / 4) > 225) {
      moments.Flash = picture.Time - start;
      break;
    }
  }
  const TDecodedSound sound = DecodeSound(AFile);
  for (size_t i = 0; i < sound.Mono.size(); ++i)
    if (std::fabs(sound.Mono[i]) > 0.1) {
      moments.Beep = sound.Start - start + static_cast<double>(i) / sound.Rate;
      break;
    }
  return moments;
}

// Converts AInput with profile AProfileIndex as a panel does, with a part from AStartMs for
// ALengthMs when given; returns the output's name.
std::string Convert(const std::string &AInput, int AProfileIndex, const TempDir &ADir,
                    int AStartMs = -1, int ALengthMs = -1) {
  const TPSPOutputSettings settings =
      BuildOutputOptions(AProfileIndex, true, "part", AInput, ADir.path().string() + "/",
                         ADir.path().string() + "/", 160, 120);
  TOutputOptions output;
  InitOutputOptions(output);
  FillOutputOptions(settings, output);
  output.RecordingTime = ALengthMs;
  TCustomFFmpeg engine;
  engine.Prepare();
  engine.SetVerbose(-1);
  engine.ThreadCount = 2;
  if (AStartMs > 0)
    engine.SetStartTime(int64_t{AStartMs} * 1000);
  EXPECT_TRUE(engine.OpenInputFile(AInput)) << engine.ErrorMessage;
  ApplyOutputOptions(engine, output);
  EXPECT_TRUE(engine.OpenOutputFile(settings.FileName)) << engine.ErrorMessage;
  engine.Run(false);
  EXPECT_TRUE(engine.Finished) << engine.ExceptionMessage;
  return settings.FileName;
}

// The part from 10 to 15 s of a film with key pictures 10 s apart: 5 s long, starting with the
// picture of 10 s, so that the flash of 12 s is at 2 s with its beep.
TEST(ExactTime, APartIsTheChosenPartInEveryContainer) {
  RequireMediaLibraries();
  for (const char *name :
       {"film_keys10.mkv", "film_keys10.mp4", "film_keys10.ts", "film_keys10.avi"}) {
    SCOPED_TRACE(name);
    const std::string input = MediaFile(name);
    const TMoments source = MomentsOf(input);
    ASSERT_NEAR(source.Flash, 12, 0.1);
    TempDir dir;
    const std::string output = Convert(input, 4, dir, 10000, 5000);
    const FileFacts facts = ExpectPlaysOnPSP(output, 4);
    EXPECT_NEAR(facts.video.duration, 5, 0.1);
    EXPECT_NEAR(facts.audio.duration, 5, 0.1);
    const TMoments part = MomentsOf(output);
    EXPECT_NEAR(part.Flash, source.Flash - 10, OutputFrame);
    EXPECT_NEAR(part.Beep, source.Beep - 10, OutputFrame);
    EXPECT_NEAR(part.Flash, part.Beep, OutputFrame);
  }
}

using TStartCase = std::tuple<std::string, int>; // input, profile index

class StreamsStartApart : public ::testing::TestWithParam<TStartCase> {};

// Sound that starts after the picture, or the other way round: both streams start at 0 and
// the flash stays with its beep, as players show the source.
TEST_P(StreamsStartApart, StartTogetherInSync) {
  RequireMediaLibraries();
  const std::string input = MediaFile(std::get<0>(GetParam()));
  const int profile = std::get<1>(GetParam());
  TempDir dir;
  const std::string output = Convert(input, profile, dir);
  if (::testing::Test::HasFailure())
    return;
  ExpectPlaysOnPSP(output, profile);
  const TMoments moments = MomentsOf(output);
  ASSERT_GT(moments.Flash, 0);
  ASSERT_GT(moments.Beep, 0);
  EXPECT_NEAR(moments.Flash, moments.Beep, OutputFrame);
}

std::string CaseName(const ::testing::TestParamInfo<TStartCase> &AInfo) {
  std::string name = std::get<0>(AInfo.param) + "_" + std::to_string(std::get<1>(AInfo.param));
  for (char &c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)))
      c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(
    OffsetClips, StreamsStartApart,
    ::testing::Combine(
        ::testing::Values("sound_late_0.05.mkv", "sound_late_0.3.mkv", "sound_late_1.5.mkv",
                          "picture_late_0.05.mkv", "picture_late_0.3.mkv", "picture_late_1.5.mkv",
                          "sound_late_0.05.mp4", "sound_late_0.3.mp4", "sound_late_1.5.mp4",
                          "picture_late_0.05.mp4", "picture_late_0.3.mp4", "picture_late_1.5.mp4",
                          "sound_late_0.05.ts", "sound_late_0.3.ts", "sound_late_1.5.ts",
                          "picture_late_0.05.ts", "picture_late_0.3.ts", "picture_late_1.5.ts"),
        ::testing::Values(0, 4)),
    CaseName);

INSTANTIATE_TEST_SUITE_P(WindowsMedia, StreamsStartApart,
                         ::testing::Combine(::testing::Values("wmv2_wma2.wmv"),
                                            ::testing::Range(0, PSPProfileCount)),
                         CaseName);

} // namespace
