// Every kind of input a user brings, converted with the options a conversion panel builds, must
// give a file the PSP plays: the profile's codec, profile, level and size, its frame rate, stereo
// AAC at its rate, the input's duration, and audio and video starting together.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>

#include "app/output_options.h"
#include "app/profiles.h"
#include "converter/option_records.h"
#include "engine/custom_ffmpeg.h"
#include "probe/av_probe.h"
#include "support/psp_checks.h"
#include "support/test_support.h"

namespace {

using testing_support::FileFacts;

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
// duration (packet spans can leave out a picture) and their timestamp span (a timeline with a
// gap is longer than its pictures); without video, the container's duration.
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
    const double span = last >= first ? (last - first) * av_q2d(stream->time_base) + frame : 0;
    seconds = std::max(pictures * frame, span);
  }
  avlib.avformat_close_input(&context);
  return seconds;
}

using Case = std::tuple<std::string, int>; // input file, profile index

class PSPOutputs : public ::testing::TestWithParam<Case> {};

TEST_P(PSPOutputs, PlayOnThePSP) {
  testing_support::RequireMediaLibraries();
  const std::string input = testing_support::MediaFile(std::get<0>(GetParam()));
  const int profileIndex = std::get<1>(GetParam());
  testing_support::TempDir dir;

  // What the panel reads before it builds the options.
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(input)) << probe.LastErrorMessage();
  TAVFileInfo info;
  probe.GetFileInfo(info);
  TAVVideoInfo video;
  probe.GetVideoInfo(-1, video);
  const bool stillPicture = std::get<0>(GetParam()).rfind("picture.", 0) == 0;
  const std::string title = TitleFor(info.Title, input);
  const TPSPOutputSettings settings =
      BuildOutputOptions(profileIndex, true, title, input, dir.path().string() + "/",
                         dir.path().string() + "/", video.Width, video.Height,
                         video.DisplayAspect > 0 ? video.DisplayAspect : 0);
  TOutputOptions output;
  InitOutputOptions(output);
  FillOutputOptions(settings, output);

  TCustomFFmpeg engine;
  engine.Prepare();
  engine.SetVerbose(-1);
  ASSERT_TRUE(engine.OpenInputFile(input)) << engine.ErrorMessage;
  ApplyOutputOptions(engine, output);
  ASSERT_TRUE(engine.OpenOutputFile(settings.FileName)) << engine.ErrorMessage;
  engine.Run(false);
  ASSERT_TRUE(engine.Finished) << engine.ExceptionMessage;

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
    ::testing::Combine(::testing::Values("avi_mpeg4_mp3.avi", "mkv_h264_vorbis.mkv",
                                         "mov_h264_aac.mov", "flv_h264_aac.flv",
                                         "mpg_mpeg2_mp2.mpg", "ts_h264_aac.ts",
                                         "webm_vp8_vorbis.webm", "ogg_theora_vorbis.ogv",
                                         "3gp_h263_aac.3gp", "wav_pcm.wav", "mp3_audio.mp3",
                                         "picture.png", "picture.jpg", "two_audio.mkv",
                                         "subtitles.mkv", "anamorphic.mp4", "interlaced.mkv",
                                         "start_time.ts", "aac_51.mp4"),
                       ::testing::Values(4, 0)),
    CaseName);

INSTANTIATE_TEST_SUITE_P(LargestAVC, PSPOutputs,
                         ::testing::Combine(::testing::Values("anamorphic.mp4"),
                                            ::testing::Values(5)),
                         CaseName);

} // namespace
