#include "support/psp_checks.h"

#include <gtest/gtest.h>

#include "app/profiles.h"

namespace testing_support {

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
    s->format = par->format;
    s->range = par->color_range;
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
  AVPacket *packet = avlib.av_packet_alloc();
  while (packet && avlib.av_read_frame(context, packet) >= 0) {
    if (context->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
      ++facts.video.packets;
    avlib.av_packet_unref(packet);
  }
  avlib.av_packet_free(&packet);
  avlib.avformat_close_input(&context);
  return facts;
}

FileFacts ExpectPlaysOnPSP(const std::string &AFile, int AProfileIndex, bool AStillPicture) {
  const TPSPProfile &profile = PSPProfiles.at(static_cast<size_t>(AProfileIndex));
  const FileFacts out = Inspect(AFile);
  EXPECT_TRUE(out.opened) << AFile;
  if (!out.opened)
    return out;
  EXPECT_EQ(out.streams, 2);
  EXPECT_TRUE(out.video.present);
  int width = 0, height = 0;
  EXPECT_TRUE(ParseSize(profile.Size, width, height));
  EXPECT_EQ(out.video.width, width);
  EXPECT_EQ(out.video.height, height);
  if (profile.Kind == "AVC") {
    EXPECT_EQ(out.video.codec, AV_CODEC_ID_H264);
    EXPECT_EQ(out.video.profile, 77); // Main
    EXPECT_EQ(out.video.level, width * height > 480 * 272 ? 30 : 21);
  } else {
    EXPECT_EQ(out.video.codec, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(out.video.profile, 0); // Simple
  }
  // 8-bit 4:2:0 at TV range, whatever the input's depth, chroma and range.
  EXPECT_EQ(out.video.format, AV_PIX_FMT_YUV420P);
  EXPECT_NE(out.video.range, AVCOL_RANGE_JPEG);
  if (profile.Kind == "AVC") { // MPEG-4 Part 2 streams have no range flag
    EXPECT_EQ(out.video.range, AVCOL_RANGE_MPEG);
  }
  if (!AStillPicture) {
    EXPECT_EQ(out.video.rate.num, 30000);
    EXPECT_EQ(out.video.rate.den, 1001);
    // A constant rate over the whole file, holes in the input's timeline included.
    EXPECT_NEAR(out.video.packets, out.video.duration * 30000 / 1001, 1.5);
  }
  EXPECT_TRUE(out.audio.present);
  EXPECT_EQ(out.audio.codec, AV_CODEC_ID_AAC);
  EXPECT_EQ(out.audio.channels, 2);
  EXPECT_EQ(out.audio.sampleRate, profile.AudioSampleRate);
  // Together from the start, within a millisecond (as Debian's ffmpeg makes them).
  EXPECT_NEAR(out.video.start, out.audio.start, 0.001);
  EXPECT_NEAR(out.video.start, 0, 0.001);
  return out;
}

} // namespace testing_support
