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
#include "support/test_support.h"

namespace {

struct StreamFacts {
  bool present = false;
  AVCodecID codec = AV_CODEC_ID_NONE;
  int profile = -1, level = -1, width = 0, height = 0, sampleRate = 0, channels = 0;
  AVRational rate{0, 1};
  double start = 0, duration = 0; // seconds
};

struct FileFacts {
  bool opened = false;
  double duration = 0;
  std::string title;
  StreamFacts video, audio;
  int streams = 0;
};

FileFacts Inspect(const std::string &AFile) {
  FileFacts facts;
  AVFormatContext *context = nullptr;
  if (avlib.avformat_open_input(&context, AFile.c_str(), nullptr, nullptr) < 0)
    return facts;
  facts.opened = avlib.avformat_find_stream_info(context, nullptr) >= 0;
  facts.duration = context->duration > 0 ? context->duration / 1e6 : 0;
  facts.streams = static_cast<int>(context->nb_streams);
  if (const AVDictionaryEntry *title = avlib.av_dict_get(context->metadata, "title", nullptr, 0))
    facts.title = title->value;
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    const AVStream *stream = context->streams[i];
    const AVCodecParameters *par = stream->codecpar;
    StreamFacts *s = par->codec_type == AVMEDIA_TYPE_VIDEO   ? &facts.video
                     : par->codec_type == AVMEDIA_TYPE_AUDIO ? &facts.audio
                                                             : nullptr;
    if (!s || s->present)
      continue;
    s->present = true;
    s->codec = par->codec_id;
    s->profile = par->profile;
    s->level = par->level;
    s->width = par->width;
    s->height = par->height;
    s->sampleRate = par->sample_rate;
    s->channels = par->ch_layout.nb_channels;
    s->rate = stream->avg_frame_rate;
    if (stream->start_time != AV_NOPTS_VALUE)
      s->start = stream->start_time * av_q2d(stream->time_base);
    if (stream->duration != AV_NOPTS_VALUE)
      s->duration = stream->duration * av_q2d(stream->time_base);
  }
  avlib.avformat_close_input(&context);
  return facts;
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
  const TPSPProfile &profile = PSPProfiles[profileIndex];
  const bool avc = profile.Kind == "AVC";
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
  const FileFacts out = Inspect(settings.FileName);
  ASSERT_TRUE(out.opened);
  EXPECT_EQ(out.streams, 2);
  // The PSP reads the title from the muxer's own metadata box, in UTF-16 big-endian.
  EXPECT_TRUE(FileHoldsUtf16Title(settings.FileName, title)) << title;

  ASSERT_TRUE(out.video.present);
  int width = 0, height = 0;
  ASSERT_TRUE(ParseSize(profile.Size, width, height));
  EXPECT_EQ(out.video.width, width);
  EXPECT_EQ(out.video.height, height);
  if (avc) {
    EXPECT_EQ(out.video.codec, AV_CODEC_ID_H264);
    EXPECT_EQ(out.video.profile, 77); // Main
    EXPECT_EQ(out.video.level, width * height > 480 * 272 ? 30 : 21);
  } else {
    EXPECT_EQ(out.video.codec, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(out.video.profile, 0); // Simple
  }
  if (!stillPicture) {
    EXPECT_EQ(out.video.rate.num, 30000);
    EXPECT_EQ(out.video.rate.den, 1001);
  }

  ASSERT_TRUE(out.audio.present);
  EXPECT_EQ(out.audio.codec, AV_CODEC_ID_AAC);
  EXPECT_EQ(out.audio.channels, 2);
  EXPECT_EQ(out.audio.sampleRate, profile.AudioSampleRate);

  // Together from the start, and as long as the input (within one output frame).
  EXPECT_NEAR(out.video.start, out.audio.start, 0.05);
  EXPECT_NEAR(out.video.start, 0, 0.05);
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
