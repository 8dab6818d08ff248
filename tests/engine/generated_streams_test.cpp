// PSP files from inputs that lack a kind of stream: an audio-only input gets black pictures, a
// picture or silent video gets silence, both as long as the real stream. Other inputs and other
// muxers are left as they were.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/custom_ffmpeg.h"
#include "medialib/medialib.h"
#include "support/test_support.h"

namespace {

using TOptions = std::vector<std::pair<std::string, std::string>>;

struct TStreamInfo {
  AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
  AVCodecID Codec = AV_CODEC_ID_NONE;
  int Width = 0, Height = 0, SampleRate = 0, Channels = 0;
  double Duration = 0; // seconds, from the packets
  int Packets = 0;
};

// Every stream of a file, its length measured from its packets (first pts to last pts + length).
std::vector<TStreamInfo> Streams(const std::string &APath) {
  std::vector<TStreamInfo> result;
  AVFormatContext *ic = nullptr;
  if (avlib.avformat_open_input(&ic, APath.c_str(), nullptr, nullptr) < 0)
    return result;
  avlib.avformat_find_stream_info(ic, nullptr);
  std::vector<double> first(ic->nb_streams, 1e100), end(ic->nb_streams, -1e100);
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVCodecParameters *par = ic->streams[i]->codecpar;
    TStreamInfo s;
    s.Type = par->codec_type;
    s.Codec = par->codec_id;
    s.Width = par->width;
    s.Height = par->height;
    s.SampleRate = par->sample_rate;
    s.Channels = par->ch_layout.nb_channels;
    result.push_back(s);
  }
  AVPacket *pkt = avlib.av_packet_alloc();
  while (avlib.av_read_frame(ic, pkt) >= 0) {
    const int i = pkt->stream_index;
    result[i].Packets++;
    if (pkt->pts != AV_NOPTS_VALUE) {
      const double tb = av_q2d(ic->streams[i]->time_base);
      first[i] = std::min(first[i], pkt->pts * tb);
      end[i] = std::max(end[i], (pkt->pts + pkt->duration) * tb);
    }
    avlib.av_packet_unref(pkt);
  }
  for (unsigned i = 0; i < ic->nb_streams; ++i)
    result[i].Duration = end[i] > first[i] ? end[i] - first[i] : 0;
  avlib.av_packet_free(&pkt);
  avlib.avformat_close_input(&ic);
  return result;
}

const TStreamInfo *Find(const std::vector<TStreamInfo> &AStreams, AVMediaType AType) {
  for (const TStreamInfo &s : AStreams)
    if (s.Type == AType)
      return &s;
  return nullptr;
}

// What the decoder of the file's first stream of AType gives: for video the mean of each plane of
// the first picture, for audio the largest sample (as 16-bit) and the sample count.
struct TDecoded {
  int Frames = 0;
  double PlaneMean[3] = {-1, -1, -1};
  int Peak = 0;
  int64_t Samples = 0;
};

TDecoded Decode(const std::string &APath, AVMediaType AType) {
  TDecoded result;
  AVFormatContext *ic = nullptr;
  if (avlib.avformat_open_input(&ic, APath.c_str(), nullptr, nullptr) < 0)
    return result;
  avlib.avformat_find_stream_info(ic, nullptr);
  int index = -1;
  for (unsigned i = 0; i < ic->nb_streams; ++i)
    if (index < 0 && ic->streams[i]->codecpar->codec_type == AType)
      index = static_cast<int>(i);
  if (index < 0) {
    avlib.avformat_close_input(&ic);
    return result;
  }
  const AVCodec *codec = avlib.avcodec_find_decoder(ic->streams[index]->codecpar->codec_id);
  AVCodecContext *dec = avlib.avcodec_alloc_context3(codec);
  avlib.avcodec_parameters_to_context(dec, ic->streams[index]->codecpar);
  avlib.avcodec_open2(dec, codec, nullptr);
  AVPacket *pkt = avlib.av_packet_alloc();
  AVFrame *frame = avlib.av_frame_alloc();
  auto drain = [&]() {
    while (avlib.avcodec_receive_frame(dec, frame) >= 0) {
      if (AType == AVMEDIA_TYPE_VIDEO && result.Frames == 0) {
        // Planar YUV 4:2:0 (both PSP video encoders): chroma planes are half size.
        for (int p = 0; p < 3; ++p) {
          const int w = p == 0 ? frame->width : (frame->width + 1) / 2;
          const int h = p == 0 ? frame->height : (frame->height + 1) / 2;
          double sum = 0;
          for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
              sum += frame->data[p][y * frame->linesize[p] + x];
          result.PlaneMean[p] = sum / (double(w) * h);
        }
      }
      if (AType == AVMEDIA_TYPE_AUDIO) {
        // AAC decodes to planar float.
        for (int c = 0; c < frame->ch_layout.nb_channels; ++c) {
          const float *samples = reinterpret_cast<const float *>(frame->extended_data[c]);
          for (int i = 0; i < frame->nb_samples; ++i)
            result.Peak =
                std::max(result.Peak, static_cast<int>(std::lround(std::fabs(samples[i]) * 32767)));
        }
        result.Samples += frame->nb_samples;
      }
      result.Frames++;
      avlib.av_frame_unref(frame);
    }
  };
  while (avlib.av_read_frame(ic, pkt) >= 0) {
    if (pkt->stream_index == index && avlib.avcodec_send_packet(dec, pkt) >= 0)
      drain();
    avlib.av_packet_unref(pkt);
  }
  avlib.avcodec_send_packet(dec, nullptr);
  drain();
  avlib.av_frame_free(&frame);
  avlib.av_packet_free(&pkt);
  avlib.avcodec_free_context(&dec);
  avlib.avformat_close_input(&ic);
  return result;
}

const TOptions PspAvc = {{"f", "psp"},      {"vcodec", "libx264"}, {"profile", "main"},
                         {"acodec", "aac"}, {"ar", "24000"},       {"ac", "2"},
                         {"b", "768k"},     {"r", "30000/1001"},   {"s", "480x272"}};
const TOptions PspMpeg4 = {{"f", "psp"},        {"vcodec", "mpeg4"}, {"acodec", "aac"},
                           {"ar", "48000"},     {"ac", "2"},         {"b", "768k"},
                           {"r", "30000/1001"}, {"s", "480x272"}};

class GeneratedStreamsTest : public ::testing::Test {
protected:
  void SetUp() override {
    testing_support::RequireMediaLibraries();
    SetMediaLogLevel(-1);
  }
  void TearDown() override { SetMediaLogLevel(1); }

  // Runs the engine on the calling thread. Returns the error ("" on success); Generated gets the
  // generated marks of the output's streams as OpenOutputFile left them.
  std::string Convert(const std::string &AInput, const std::string &AOutput,
                      const TOptions &AOptions) {
    TCustomFFmpeg engine;
    engine.Prepare();
    engine.OnLog = [this](TCustomFFmpeg *, int, const std::string &AMsg) { Lines.push_back(AMsg); };
    Generated.clear();
    Lines.clear();
    if (!engine.OpenInputFile(AInput))
      return "input: " + engine.ErrorMessage;
    for (const auto &o : AOptions)
      engine.SetOption(o.first, o.second);
    if (!engine.OpenOutputFile(AOutput))
      return "output: " + engine.ErrorMessage;
    for (unsigned s = 0; s < engine.OutputFiles[0]->nb_streams; ++s)
      Generated.push_back(engine.OutputStreamGenerated[0][s]);
    engine.Run(false);
    if (engine.ExceptionRaised)
      return engine.ExceptionMessage.empty() ? "(empty message)" : engine.ExceptionMessage;
    EXPECT_TRUE(engine.Finished);
    return "";
  }

  bool Logged(const std::string &AText) const {
    for (const std::string &line : Lines)
      if (line.find(AText) != std::string::npos)
        return true;
    return false;
  }

  testing_support::TempDir Dir;
  std::vector<bool> Generated;
  std::vector<std::string> Lines;
};

TEST_F(GeneratedStreamsTest, AudioOnlyInputGetsBlackPicturesAsLongAsItsSound) {
  for (const char *name : {"wav_pcm.wav", "mp3_audio.mp3"}) {
    const std::string input = testing_support::MediaFile(name);
    const TStreamInfo *inAudio = nullptr;
    const std::vector<TStreamInfo> in = Streams(input);
    inAudio = Find(in, AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(inAudio);
    for (const auto &[options, codec] :
         {std::pair{PspAvc, AV_CODEC_ID_H264}, std::pair{PspMpeg4, AV_CODEC_ID_MPEG4}}) {
      SCOPED_TRACE(std::string(name) + " " + avlib.avcodec_get_name(codec));
      const std::string output =
          Dir.file(std::string(name) + "." + avlib.avcodec_get_name(codec) + ".mp4");
      ASSERT_EQ(Convert(input, output, options), "");
      EXPECT_EQ(Generated, (std::vector<bool>{true, false}));
      EXPECT_TRUE(Logged("Black pictures -> #0.0"));
      const std::vector<TStreamInfo> out = Streams(output);
      ASSERT_EQ(out.size(), 2u);
      const TStreamInfo *v = Find(out, AVMEDIA_TYPE_VIDEO);
      const TStreamInfo *a = Find(out, AVMEDIA_TYPE_AUDIO);
      ASSERT_TRUE(v && a);
      EXPECT_EQ(v->Codec, codec);
      EXPECT_EQ(v->Width, 480);
      EXPECT_EQ(v->Height, 272);
      EXPECT_EQ(a->Codec, AV_CODEC_ID_AAC);
      EXPECT_EQ(a->Channels, 2);
      EXPECT_NEAR(a->Duration, inAudio->Duration, 0.1);
      EXPECT_NEAR(v->Duration, inAudio->Duration, 0.1);
      EXPECT_NEAR(v->Duration, a->Duration, 0.1);
      const TDecoded picture = Decode(output, AVMEDIA_TYPE_VIDEO);
      EXPECT_GT(picture.Frames, 0);
      EXPECT_NEAR(picture.PlaneMean[0], 16, 2);
      EXPECT_NEAR(picture.PlaneMean[1], 128, 2);
      EXPECT_NEAR(picture.PlaneMean[2], 128, 2);
      // The real sound is still there.
      EXPECT_GT(Decode(output, AVMEDIA_TYPE_AUDIO).Peak, 3000);
    }
  }
}

TEST_F(GeneratedStreamsTest, PictureGetsItsFrameAndMatchingSilence) {
  for (const char *name : {"picture.png", "picture.jpg"}) {
    SCOPED_TRACE(name);
    const std::string output = Dir.file(std::string(name) + ".mp4");
    ASSERT_EQ(Convert(testing_support::MediaFile(name), output, PspAvc), "");
    EXPECT_EQ(Generated, (std::vector<bool>{false, true}));
    const std::vector<TStreamInfo> out = Streams(output);
    ASSERT_EQ(out.size(), 2u);
    const TStreamInfo *v = Find(out, AVMEDIA_TYPE_VIDEO);
    const TStreamInfo *a = Find(out, AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(v && a);
    EXPECT_EQ(v->Codec, AV_CODEC_ID_H264);
    EXPECT_GE(v->Packets, 1);
    EXPECT_LE(v->Packets, 2);
    EXPECT_EQ(a->Codec, AV_CODEC_ID_AAC);
    EXPECT_EQ(a->Channels, 2);
    EXPECT_EQ(a->SampleRate, 24000);
    EXPECT_NEAR(a->Duration, v->Duration, 0.1);
    const TDecoded sound = Decode(output, AVMEDIA_TYPE_AUDIO);
    EXPECT_GT(sound.Samples, 0);
    EXPECT_LE(sound.Peak, 1);
    // The picture itself is not black.
    EXPECT_GT(std::fabs(Decode(output, AVMEDIA_TYPE_VIDEO).PlaneMean[0] - 16), 10);
  }
}

TEST_F(GeneratedStreamsTest, OnlyWhatThePspMuxerLacksIsMadeAndOnlyWithAFrameSize) {
  // A file with both kinds: nothing generated, nothing logged as such.
  const std::string both = Dir.file("both.mp4");
  ASSERT_EQ(Convert(testing_support::MediaFile("mov_h264_aac.mov"), both, PspAvc), "");
  EXPECT_EQ(Generated, (std::vector<bool>{false, false}));
  EXPECT_FALSE(Logged("Black pictures"));
  EXPECT_FALSE(Logged("Silence"));
  EXPECT_GT(Decode(both, AVMEDIA_TYPE_AUDIO).Peak, 3000);

  // Another muxer: an audio-only input stays audio only.
  const std::string mp4 = Dir.file("audio.mp4");
  ASSERT_EQ(Convert(testing_support::MediaFile("wav_pcm.wav"), mp4,
                    {{"f", "mp4"}, {"vcodec", "mpeg4"}, {"acodec", "aac"}, {"s", "480x272"}}),
            "");
  EXPECT_EQ(Generated, (std::vector<bool>{false}));
  const std::vector<TStreamInfo> out = Streams(mp4);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].Type, AVMEDIA_TYPE_AUDIO);

  // No size to make pictures of: refused by name, and no file left behind.
  TOptions noSize = PspMpeg4;
  noSize.pop_back();
  const std::string refused = Dir.file("refused.mp4");
  const std::string error = Convert(testing_support::MediaFile("mp3_audio.mp3"), refused, noSize);
  EXPECT_NE(error.find("no frame size"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(refused));

  // A map names the sources of the real streams only.
  TOptions mapped = PspMpeg4;
  mapped.emplace_back("map", "0:0");
  const std::string withMap = Dir.file("mapped.mp4");
  ASSERT_EQ(Convert(testing_support::MediaFile("wav_pcm.wav"), withMap, mapped), "");
  EXPECT_EQ(Streams(withMap).size(), 2u);
}

} // namespace
