// The transcode run on the calling thread: generated inputs converted to MP4 files, which are
// then opened with the media library and checked as a player would see them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "engine/custom_ffmpeg.h"
#include "engine/transcode_types.h"
#include "medialib/medialib.h"
#include "support/test_support.h"

namespace {

using TOptions = std::vector<std::pair<std::string, std::string>>;

// Runs the transcode on the calling thread.
class TTestEngine : public TCustomFFmpeg {
public:
  using TCustomFFmpeg::Transcode;
};

struct TProbedStream {
  AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
  AVCodecID Codec = AV_CODEC_ID_NONE;
  int Profile = 0;
  int Width = 0, Height = 0;
  AVRational FrameRate{0, 1};
  int SampleRate = 0, Channels = 0;
  double Start = 0;    // seconds, as a player starts the stream
  double Duration = 0; // seconds
  int Packets = 0;
  int KeyPackets = 0;
  bool FirstIsKey = false;
};

struct TProbed {
  bool Opened = false;
  std::string Format;
  double Duration = 0;
  std::vector<TProbedStream> Streams;
  const TProbedStream *Find(AVMediaType AType) const {
    for (const TProbedStream &s : Streams)
      if (s.Type == AType)
        return &s;
    return nullptr;
  }
};

TProbed Probe(const std::string &APath) {
  TProbed result;
  AVFormatContext *ic = nullptr;
  if (avlib.avformat_open_input(&ic, APath.c_str(), nullptr, nullptr) < 0)
    return result;
  avlib.avformat_find_stream_info(ic, nullptr);
  result.Opened = true;
  result.Format = ic->iformat->name;
  result.Duration = ic->duration > 0 ? ic->duration / 1e6 : 0;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVStream *st = ic->streams[i];
    TProbedStream s;
    s.Type = st->codecpar->codec_type;
    s.Codec = st->codecpar->codec_id;
    s.Profile = st->codecpar->profile;
    s.Width = st->codecpar->width;
    s.Height = st->codecpar->height;
    s.FrameRate = st->avg_frame_rate;
    s.SampleRate = st->codecpar->sample_rate;
    s.Channels = st->codecpar->ch_layout.nb_channels;
    s.Start = st->start_time != AV_NOPTS_VALUE ? st->start_time * av_q2d(st->time_base) : 0;
    s.Duration = st->duration > 0 ? st->duration * av_q2d(st->time_base) : 0;
    result.Streams.push_back(s);
  }
  // Streams without a duration of their own (Matroska): the span of their packets.
  std::vector<double> first(ic->nb_streams, 1e100), end(ic->nb_streams, -1e100);
  AVPacket *pkt = avlib.av_packet_alloc();
  while (avlib.av_read_frame(ic, pkt) >= 0) {
    TProbedStream &s = result.Streams[pkt->stream_index];
    if (s.Packets++ == 0)
      s.FirstIsKey = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
    if (pkt->flags & AV_PKT_FLAG_KEY)
      s.KeyPackets++;
    if (pkt->pts != AV_NOPTS_VALUE) {
      const double tb = av_q2d(ic->streams[pkt->stream_index]->time_base);
      first[pkt->stream_index] = std::min(first[pkt->stream_index], pkt->pts * tb);
      end[pkt->stream_index] = std::max(end[pkt->stream_index], (pkt->pts + pkt->duration) * tb);
    }
    avlib.av_packet_unref(pkt);
  }
  for (unsigned i = 0; i < ic->nb_streams; ++i)
    if (result.Streams[i].Duration <= 0 && end[i] > first[i])
      result.Streams[i].Duration = end[i] - first[i];
  avlib.av_packet_free(&pkt);
  avlib.avformat_close_input(&ic);
  return result;
}

// The bytes of every packet of each stream type, in the order of their stream.
std::map<AVMediaType, std::string> PacketBytes(const std::string &APath) {
  std::map<AVMediaType, std::string> result;
  AVFormatContext *ic = nullptr;
  if (avlib.avformat_open_input(&ic, APath.c_str(), nullptr, nullptr) < 0)
    return result;
  AVPacket *pkt = avlib.av_packet_alloc();
  while (avlib.av_read_frame(ic, pkt) >= 0) {
    result[ic->streams[pkt->stream_index]->codecpar->codec_type].append(
        reinterpret_cast<const char *>(pkt->data), static_cast<size_t>(pkt->size));
    avlib.av_packet_unref(pkt);
  }
  avlib.av_packet_free(&pkt);
  avlib.avformat_close_input(&ic);
  return result;
}

// Decodes the first audio stream of a file into 16-bit samples of its first channel.
struct TDecodedAudio {
  int SampleRate = 0;
  std::vector<int16_t> Samples;
  double Rms(size_t AFrom, size_t ATo) const {
    double sum = 0;
    ATo = std::min(ATo, Samples.size());
    for (size_t i = AFrom; i < ATo; ++i)
      sum += double(Samples[i]) * Samples[i];
    return ATo > AFrom ? std::sqrt(sum / double(ATo - AFrom)) : 0;
  }
  // Tone frequency from the rising zero crossings.
  double Frequency(size_t AFrom, size_t ATo) const {
    int crossings = 0;
    ATo = std::min(ATo, Samples.size());
    for (size_t i = AFrom + 1; i < ATo; ++i)
      if (Samples[i - 1] < 0 && Samples[i] >= 0)
        ++crossings;
    return ATo > AFrom ? crossings * double(SampleRate) / double(ATo - AFrom) : 0;
  }
};

TDecodedAudio DecodeAudio(const std::string &APath) {
  TDecodedAudio result;
  AVFormatContext *ic = nullptr;
  if (avlib.avformat_open_input(&ic, APath.c_str(), nullptr, nullptr) < 0)
    return result;
  avlib.avformat_find_stream_info(ic, nullptr);
  int index = -1;
  for (unsigned i = 0; i < ic->nb_streams; ++i)
    if (index < 0 && ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
      index = static_cast<int>(i);
  if (index >= 0) {
    const AVCodec *codec = avlib.avcodec_find_decoder(ic->streams[index]->codecpar->codec_id);
    AVCodecContext *dec = avlib.avcodec_alloc_context3(codec);
    avlib.avcodec_parameters_to_context(dec, ic->streams[index]->codecpar);
    avlib.avcodec_open2(dec, codec, nullptr);
    result.SampleRate = dec->sample_rate;
    SwrContext *swr = nullptr;
    AVChannelLayout mono{};
    avlib.av_channel_layout_default(&mono, 1);
    AVPacket *pkt = avlib.av_packet_alloc();
    AVFrame *frame = avlib.av_frame_alloc();
    auto drain = [&]() {
      while (avlib.avcodec_receive_frame(dec, frame) >= 0) {
        if (!swr) {
          // Keep only the first channel: a matrix-free pick through the channel map.
          avlib.swr_alloc_set_opts2(&swr, &frame->ch_layout, AV_SAMPLE_FMT_S16, frame->sample_rate,
                                    &frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                    frame->sample_rate, 0, nullptr);
          avlib.swr_init(swr);
        }
        const int channels = frame->ch_layout.nb_channels;
        std::vector<int16_t> interleaved(static_cast<size_t>(frame->nb_samples) * channels + 64);
        uint8_t *out = reinterpret_cast<uint8_t *>(interleaved.data());
        const int got = avlib.swr_convert(swr, &out, frame->nb_samples,
                                          const_cast<const uint8_t **>(frame->extended_data),
                                          frame->nb_samples);
        for (int i = 0; i < got; ++i)
          result.Samples.push_back(interleaved[static_cast<size_t>(i) * channels]);
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
    avlib.swr_free(&swr);
    avlib.av_frame_free(&frame);
    avlib.av_packet_free(&pkt);
    avlib.avcodec_free_context(&dec);
  }
  avlib.avformat_close_input(&ic);
  return result;
}

class TranscodeTest : public ::testing::Test {
protected:
  void SetUp() override {
    testing_support::RequireMediaLibraries();
    SetMediaLogLevel(-1);
  }
  void TearDown() override { SetMediaLogLevel(1); }

  // Opens AInput with AInputOptions, creates AOutput with AOutputOptions and runs the transcode.
  // Returns the error message ("" on success).
  std::string Convert(const std::string &AInput, const TOptions &AInputOptions,
                      const std::string &AOutput, const TOptions &AOutputOptions,
                      const std::function<void(TTestEngine &)> &ABeforeRun = nullptr) {
    TTestEngine engine;
    engine.Prepare();
    engine.OnLog = [this](TCustomFFmpeg *, int ALevel, const std::string &AMsg) {
      Lines.push_back(std::to_string(ALevel) + ": " + AMsg);
    };
    engine.SetVerbose(3);
    SetMediaLogLevel(-1);
    std::string error;
    try {
      for (const auto &o : AInputOptions)
        engine.SetOption(o.first, o.second);
      if (!engine.OpenInputFile(AInput))
        return "input: " + engine.ErrorMessage;
      for (const auto &o : AOutputOptions)
        engine.SetOption(o.first, o.second);
      if (!engine.OpenOutputFile(AOutput))
        return "output: " + engine.ErrorMessage;
      if (ABeforeRun)
        ABeforeRun(engine);
      engine.Transcode();
      Finished = engine.Finished;
    } catch (const std::exception &e) {
      error = e.what();
      if (error.empty())
        error = "(empty message)";
    }
    EXPECT_TRUE(engine.OpenedEncoders.empty());
    EXPECT_TRUE(engine.OpenedDecoders.empty());
    EXPECT_EQ(engine.TranscodeRun, nullptr);
    engine.FreeFiles();
    return error;
  }

  bool Logged(const std::string &AText) const {
    for (const std::string &line : Lines)
      if (line.find(AText) != std::string::npos)
        return true;
    return false;
  }

  testing_support::TempDir Dir;
  std::vector<std::string> Lines;
  bool Finished = false;
};

const TOptions PspAvc = {
    {"f", "psp"},   {"vcodec", "libx264"}, {"profile", "main"}, {"level", "21"}, {"coder", "1"},
    {"refs", "3"},  {"b-pyramid", "none"}, {"acodec", "aac"},   {"ar", "24000"}, {"ac", "2"},
    {"ab", "128k"}, {"b", "768k"},         {"r", "30000/1001"}, {"s", "320x240"}};

// ---- Encoded outputs: what a player sees ----

TEST_F(TranscodeTest, PspAvcOutputHasMainProfileExactSizeRateDurationAndAlignedStart) {
  for (const char *name : {"avi_mpeg4_mp3.avi", "mkv_h264_vorbis.mkv"}) {
    SCOPED_TRACE(name);
    const std::string input = testing_support::MediaFile(name);
    const std::string output = Dir.file(std::string(name) + ".psp.mp4");
    ASSERT_EQ(Convert(input, {}, output, PspAvc), "");
    EXPECT_TRUE(Finished);
    const TProbed in = Probe(input);
    const TProbed out = Probe(output);
    ASSERT_TRUE(out.Opened);
    const TProbedStream *v = out.Find(AVMEDIA_TYPE_VIDEO);
    const TProbedStream *a = out.Find(AVMEDIA_TYPE_AUDIO);
    const TProbedStream *iv = in.Find(AVMEDIA_TYPE_VIDEO);
    const TProbedStream *ia = in.Find(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(v && a && iv && ia);
    EXPECT_EQ(v->Codec, AV_CODEC_ID_H264);
    EXPECT_EQ(v->Profile, FF_PROFILE_H264_MAIN);
    EXPECT_EQ(v->Width, 320);
    EXPECT_EQ(v->Height, 240);
    EXPECT_NEAR(av_q2d(v->FrameRate), 30000.0 / 1001, 0.01);
    EXPECT_EQ(a->Codec, AV_CODEC_ID_AAC);
    EXPECT_EQ(a->SampleRate, 24000);
    EXPECT_EQ(a->Channels, 2);
    // The input's length within one output frame, and both streams start together.
    const double frame = 1001.0 / 30000;
    EXPECT_NEAR(v->Duration, iv->Duration, frame + 1e-3);
    EXPECT_NEAR(a->Duration, ia->Duration, 0.05);
    EXPECT_NEAR(v->Start, a->Start, 0.05);
    EXPECT_NEAR(v->Start, 0.0, 0.05);
    EXPECT_NEAR(v->Packets, iv->Duration / frame, 1.0);
  }
}

// With two cores the encoders run on threads of their own and the decoders on frame threads;
// the MPEG-4 encoder has no threads of its own, so its stream stays the same to the byte.
TEST_F(TranscodeTest, Mpeg4AacOutputFromEachContainerKeepsDurationAndPadsToSize) {
  for (const char *name :
       {"mkv_h264_vorbis.mkv", "mov_h264_aac.mov", "mpg_mpeg2_mp2.mpg", "ts_h264_aac.ts",
        "webm_vp8_vorbis.webm", "3gp_h263_aac.3gp", "start_time.ts", "flv_h264_aac.flv",
        "ogg_theora_vorbis.ogv", "aac_51.mp4", "interlaced.mkv", "anamorphic.mp4"}) {
    SCOPED_TRACE(name);
    const std::string input = testing_support::MediaFile(name);
    const std::string output = Dir.file(std::string(name) + ".mp4");
    const TOptions options = {{"f", "mp4"},        {"vcodec", "mpeg4"}, {"acodec", "aac"},
                              {"ar", "48000"},     {"ac", "2"},         {"b", "768k"},
                              {"r", "25"},         {"s", "300x208"},    {"padtop", "16"},
                              {"padbottom", "16"}, {"padleft", "10"},   {"padright", "10"}};
    ASSERT_EQ(Convert(input, {}, output, options), "");
    const std::string threaded = Dir.file(std::string(name) + ".threads.mp4");
    ASSERT_EQ(Convert(input, {}, threaded, options,
                      [](TTestEngine &AEngine) { AEngine.ThreadCount = 2; }),
              "");
    EXPECT_TRUE(PacketBytes(threaded) == PacketBytes(output));
    const TProbed in = Probe(input);
    const TProbed out = Probe(output);
    const TProbedStream *v = out.Find(AVMEDIA_TYPE_VIDEO);
    const TProbedStream *a = out.Find(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(v && a);
    EXPECT_EQ(v->Codec, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(v->Width, 320);
    EXPECT_EQ(v->Height, 240);
    EXPECT_EQ(a->SampleRate, 48000);
    // Within one output frame of the input's.
    const TProbedStream *iv = in.Find(AVMEDIA_TYPE_VIDEO);
    ASSERT_TRUE(iv);
    EXPECT_NEAR(v->Duration, iv->Duration, 0.04 + 1e-3);
    EXPECT_NEAR(v->Start, a->Start, 0.05);
    EXPECT_NEAR(v->Start, 0.0, 0.05);
  }
}

TEST_F(TranscodeTest, AudioOnlyAndMultichannelInputsGiveStereoAac) {
  for (const char *name : {"wav_pcm.wav", "mp3_audio.mp3", "aac_51.mp4"}) {
    SCOPED_TRACE(name);
    const std::string input = testing_support::MediaFile(name);
    const std::string output = Dir.file(std::string(name) + ".mp4");
    ASSERT_EQ(Convert(input, {}, output,
                      {{"f", "mp4"}, {"vn", ""}, {"acodec", "aac"}, {"ar", "24000"}, {"ac", "2"}}),
              "");
    const TProbed out = Probe(output), in = Probe(input);
    const TProbedStream *a = out.Find(AVMEDIA_TYPE_AUDIO);
    const TProbedStream *inAudio = in.Find(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(a && inAudio);
    EXPECT_EQ(a->Channels, 2);
    EXPECT_EQ(a->SampleRate, 24000);
    EXPECT_NEAR(a->Duration, inAudio->Duration, 0.05);
    const TDecodedAudio decoded = DecodeAudio(output);
    // The tone survives: a 440 Hz sine in the middle of the file.
    const size_t mid = decoded.Samples.size() / 2;
    EXPECT_NEAR(decoded.Frequency(mid - 4800, mid + 4800), 440, 15);
  }
}

// ---- Stream copy and maps ----

TEST_F(TranscodeTest, StreamCopyKeepsEveryPacketAndStartsAtAKeyPacket) {
  const std::string input = testing_support::MediaFile("mov_h264_aac.mov");
  const std::string output = Dir.file("copy.mp4");
  ASSERT_EQ(Convert(input, {}, output, {{"f", "mp4"}, {"vcodec", "copy"}, {"acodec", "copy"}}), "");
  const TProbed in = Probe(input), out = Probe(output);
  const TProbedStream *v = out.Find(AVMEDIA_TYPE_VIDEO), *iv = in.Find(AVMEDIA_TYPE_VIDEO);
  const TProbedStream *a = out.Find(AVMEDIA_TYPE_AUDIO), *ia = in.Find(AVMEDIA_TYPE_AUDIO);
  ASSERT_TRUE(v && iv && a && ia);
  EXPECT_EQ(v->Codec, AV_CODEC_ID_H264);
  EXPECT_EQ(v->Packets, iv->Packets);
  EXPECT_EQ(a->Packets, ia->Packets);
  EXPECT_NEAR(v->Duration, iv->Duration, 0.041);

  // Reading that starts in the middle of a group of pictures: the copy starts at a key packet.
  // The AVI has a key picture every 12; the transport stream only one, at 0, which the seek
  // goes back to (the demuxer lands past it).
  const std::string avi = testing_support::MediaFile("avi_mpeg4_mp3.avi");
  const std::string cut = Dir.file("copy_ss.mp4");
  ASSERT_EQ(Convert(avi, {{"ss", "1.1"}}, cut, {{"f", "mp4"}, {"vcodec", "copy"}, {"an", ""}}), "");
  const TProbed whole = Probe(avi), part = Probe(cut);
  const TProbedStream *pv = part.Find(AVMEDIA_TYPE_VIDEO);
  ASSERT_TRUE(pv);
  EXPECT_TRUE(pv->FirstIsKey);
  EXPECT_LT(pv->Packets, whole.Find(AVMEDIA_TYPE_VIDEO)->Packets);
  EXPECT_GT(pv->Packets, 10);

  const std::string ts = Dir.file("copy_ss_ts.mp4");
  ASSERT_EQ(Convert(testing_support::MediaFile("ts_h264_aac.ts"), {{"ss", "1.1"}}, ts,
                    {{"f", "mp4"}, {"vcodec", "copy"}, {"acodec", "copy"}}),
            "");
  const TProbed tsPart = Probe(ts);
  const TProbedStream *tv = tsPart.Find(AVMEDIA_TYPE_VIDEO);
  ASSERT_TRUE(tv);
  EXPECT_TRUE(tv->FirstIsKey);
  ASSERT_TRUE(tsPart.Find(AVMEDIA_TYPE_AUDIO));
  EXPECT_GT(tsPart.Find(AVMEDIA_TYPE_AUDIO)->Packets, 10);

  // Copied pictures are not turned: the copy keeps the input's turn for its viewer.
  const std::string turned = Dir.file("copy_turned.mp4");
  ASSERT_EQ(Convert(testing_support::MediaFile("rotated_90.mp4"), {}, turned,
                    {{"f", "mp4"}, {"vcodec", "copy"}, {"acodec", "copy"}}),
            "");
  AVFormatContext *context = nullptr;
  ASSERT_GE(avlib.avformat_open_input(&context, turned.c_str(), nullptr, nullptr), 0);
  const uint8_t *matrix =
      avlib.av_stream_get_side_data(context->streams[0], AV_PKT_DATA_DISPLAYMATRIX, nullptr);
  const double angle =
      matrix ? avlib.av_display_rotation_get(reinterpret_cast<const int32_t *>(matrix)) : 0;
  avlib.avformat_close_input(&context);
  EXPECT_NEAR(angle, -90, 0.5) << "the clip is shown turned clockwise, as before";
}

TEST_F(TranscodeTest, MapsChooseTheSourceStreamAndAreChecked) {
  const std::string input = testing_support::MediaFile("two_audio.mkv");
  // Without maps the first audio stream (440 Hz) is taken; with a map the second (880 Hz).
  const std::string first = Dir.file("first.wav"), second = Dir.file("second.wav");
  ASSERT_EQ(Convert(input, {}, first, {{"vn", ""}, {"acodec", "pcm_s16le"}}), "");
  ASSERT_EQ(Convert(input, {}, second, {{"vn", ""}, {"acodec", "pcm_s16le"}, {"map", "0:2"}}), "");
  const TDecodedAudio a = DecodeAudio(first), b = DecodeAudio(second);
  ASSERT_GT(a.Samples.size(), 10000u);
  ASSERT_GT(b.Samples.size(), 10000u);
  EXPECT_NEAR(a.Frequency(2000, a.Samples.size() - 2000), 440, 15);
  EXPECT_NEAR(b.Frequency(2000, b.Samples.size() - 2000), 880, 20);

  EXPECT_EQ(Convert(input, {}, Dir.file("bad1.wav"),
                    {{"vn", ""}, {"acodec", "pcm_s16le"}, {"map", "0:1"}, {"map", "0:2"}}),
            "Number of stream maps must match number of output streams");
  EXPECT_EQ(Convert(input, {}, Dir.file("bad2.wav"),
                    {{"vn", ""}, {"acodec", "pcm_s16le"}, {"map", "0:5"}}),
            "Could not find input stream #0.5");
  EXPECT_EQ(Convert(input, {}, Dir.file("bad3.wav"),
                    {{"vn", ""}, {"acodec", "pcm_s16le"}, {"map", "0:0"}}),
            "Codec type mismatch for mapping #0.0 -> #0.0");
  EXPECT_EQ(
      Convert(input, {}, Dir.file("bad4.mp4"), {{"acodec", "copy"}, {"vol", "512"}, {"vn", ""}}),
      "-acodec copy and -vol are incompatible (frames are not decoded)");
}

TEST_F(TranscodeTest, TwoInputsFeedOneOutputAndTheMappingIsLogged) {
  TTestEngine engine;
  engine.Prepare();
  engine.OnLog = [this](TCustomFFmpeg *, int ALevel, const std::string &AMsg) {
    Lines.push_back(std::to_string(ALevel) + ": " + AMsg);
  };
  const std::string output = Dir.file("two_inputs.mp4");
  ASSERT_TRUE(engine.OpenInputFile(testing_support::MediaFile("avi_mpeg4_mp3.avi")));
  ASSERT_TRUE(engine.OpenInputFile(testing_support::MediaFile("two_audio.mkv")));
  for (const auto &o : TOptions{{"f", "mp4"},
                                {"vcodec", "mpeg4"},
                                {"acodec", "aac"},
                                {"map", "0:0"},
                                {"map", "1:2:0:0"}})
    engine.SetOption(o.first, o.second);
  ASSERT_TRUE(engine.OpenOutputFile(output)) << engine.ErrorMessage;
  ASSERT_NO_THROW(engine.Transcode());
  engine.FreeFiles();
  EXPECT_TRUE(Logged("1: Stream mapping:"));
  EXPECT_TRUE(Logged("1:   Stream #0.0 -> #0.0"));
  EXPECT_TRUE(Logged("1:   Stream #1.2 -> #0.1"));
  EXPECT_TRUE(Logged("1:  [sync #0.0]"));
  const TProbed out = Probe(output);
  ASSERT_TRUE(out.Find(AVMEDIA_TYPE_VIDEO) && out.Find(AVMEDIA_TYPE_AUDIO));
  EXPECT_NEAR(out.Find(AVMEDIA_TYPE_AUDIO)->Duration, out.Find(AVMEDIA_TYPE_VIDEO)->Duration, 0.1);
  const TDecodedAudio audio = DecodeAudio(output);
  const size_t mid = audio.Samples.size() / 2;
  EXPECT_NEAR(audio.Frequency(mid - 4000, mid + 4000), 880, 20);
}

TEST_F(TranscodeTest, TimestampJumpIsClosedUnlessTimestampsAreCopied) {
  // Two transport streams back to back: the second one's clock starts 10 s later.
  std::ofstream joined(Dir.file("joined.ts"), std::ios::binary);
  for (const char *name : {"ts_h264_aac.ts", "start_time.ts"}) {
    std::ifstream part(testing_support::MediaFile(name), std::ios::binary);
    joined << part.rdbuf();
  }
  joined.close();
  const double single = Probe(testing_support::MediaFile("ts_h264_aac.ts")).Duration;
  // With "async" the output's sample clock follows the input clock, gaps included.
  const TOptions wav = {{"vn", ""}, {"acodec", "pcm_s16le"}, {"async", "1"}};
  ASSERT_EQ(
      Convert(Dir.file("joined.ts"), {{"dts_delta_threshold", "1"}}, Dir.file("closed.wav"), wav),
      "");
  ASSERT_EQ(Convert(Dir.file("joined.ts"), {{"dts_delta_threshold", "1"}, {"copyts", ""}},
                    Dir.file("kept.wav"), wav),
            "");
  const TDecodedAudio closed = DecodeAudio(Dir.file("closed.wav"));
  const TDecodedAudio kept = DecodeAudio(Dir.file("kept.wav"));
  ASSERT_GT(closed.SampleRate, 0);
  ASSERT_GT(kept.SampleRate, 0);
  // Closed: both parts one after the other. Kept: the gap stays as silence up to the second part.
  EXPECT_NEAR(double(closed.Samples.size()) / closed.SampleRate, 2 * single, 0.3);
  EXPECT_GT(double(kept.Samples.size()) / kept.SampleRate, 2 * single + 5);
}

// ---- Two passes, time limits, volume and audio sync ----

TEST_F(TranscodeTest, TwoPassWritesAndReadsItsLogAndRefusesAMissingOne) {
  const std::string input = testing_support::MediaFile("mkv_h264_vorbis.mkv");
  const std::string log = Dir.file("stats");
  const TOptions common = {
      {"f", "mp4"}, {"vcodec", "mpeg4"}, {"b", "300k"}, {"an", ""}, {"passlogfile", log}};
  TOptions pass1 = common, pass2 = common;
  pass1.push_back({"pass", "1"});
  pass2.push_back({"pass", "2"});
  ASSERT_EQ(Convert(input, {}, Dir.file("pass1.mp4"), pass1), "");
  ASSERT_TRUE(std::filesystem::exists(log + "-0.log"));
  EXPECT_GT(std::filesystem::file_size(log + "-0.log"), 100u);
  ASSERT_EQ(Convert(input, {}, Dir.file("pass2.mp4"), pass2), "");
  const TProbed second = Probe(Dir.file("pass2.mp4"));
  const TProbedStream *v = second.Find(AVMEDIA_TYPE_VIDEO);
  ASSERT_TRUE(v);
  EXPECT_GT(v->Packets, 50);

  TOptions missing = common;
  missing.back().second = Dir.file("nothing");
  missing.push_back({"pass", "2"});
  EXPECT_EQ(Convert(input, {}, Dir.file("pass2b.mp4"), missing),
            "creat open fail: " + Dir.file("nothing") + "-0.log");

  // libx264 keeps its own statistics beside ours, never in the working folder.
  TOptions x264 = {
      {"f", "mp4"}, {"vcodec", "libx264"}, {"b", "300k"}, {"an", ""}, {"passlogfile", log + "x"}};
  x264.push_back({"pass", "1"});
  ASSERT_EQ(Convert(input, {}, Dir.file("x1.mp4"), x264), "");
  x264.back().second = "2";
  ASSERT_EQ(Convert(input, {}, Dir.file("x2.mp4"), x264), "");
  EXPECT_FALSE(std::filesystem::exists("x264_2pass.log"));
}

// The second pass of a longer input than the first one's log fails in the encoder midway, on the
// engine thread or on the encoder's own: the run ends with the same message either way.
TEST_F(TranscodeTest, AnEncoderFailingMidwayEndsTheRunWithItsMessage) {
  const std::string input = testing_support::MediaFile("mkv_h264_vorbis.mkv");
  const std::string log = Dir.file("short");
  const TOptions common = {
      {"f", "mp4"}, {"vcodec", "mpeg4"}, {"b", "300k"}, {"acodec", "aac"}, {"passlogfile", log}};
  TOptions pass1 = common, pass2 = common;
  pass1.push_back({"pass", "1"});
  pass1.push_back({"t", "0.3"});
  pass2.push_back({"pass", "2"});
  ASSERT_EQ(Convert(input, {}, Dir.file("short.mp4"), pass1), "");
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    EXPECT_EQ(Convert(input, {}, Dir.file("long.mp4"), pass2,
                      [threads](TTestEngine &AEngine) { AEngine.ThreadCount = threads; }),
              "Video encoding failed");
  }
}

TEST_F(TranscodeTest, RecordingTimeAndStartTimeCutTheOutput) {
  const std::string input = testing_support::MediaFile("mov_h264_aac.mov");
  const double inputDuration = Probe(input).Find(AVMEDIA_TYPE_VIDEO)->Duration;
  const TOptions mp4 = {{"f", "mp4"}, {"vcodec", "mpeg4"}, {"acodec", "aac"}};
  TOptions limited = mp4;
  limited.push_back({"t", "1"});
  ASSERT_EQ(Convert(input, {}, Dir.file("t.mp4"), limited), "");
  const TProbed t = Probe(Dir.file("t.mp4"));
  ASSERT_TRUE(t.Find(AVMEDIA_TYPE_VIDEO) && t.Find(AVMEDIA_TYPE_AUDIO));
  EXPECT_NEAR(t.Find(AVMEDIA_TYPE_VIDEO)->Duration, 1.0, 0.1);
  EXPECT_NEAR(t.Find(AVMEDIA_TYPE_AUDIO)->Duration, 1.0, 0.1);

  ASSERT_EQ(Convert(input, {{"ss", "1"}}, Dir.file("ss.mp4"), mp4), "");
  const TProbed ss = Probe(Dir.file("ss.mp4"));
  ASSERT_TRUE(ss.Find(AVMEDIA_TYPE_VIDEO) && ss.Find(AVMEDIA_TYPE_AUDIO));
  EXPECT_NEAR(ss.Find(AVMEDIA_TYPE_VIDEO)->Duration, inputDuration - 1, 0.1);
  EXPECT_NEAR(ss.Find(AVMEDIA_TYPE_VIDEO)->Start, 0, 0.05);
  EXPECT_NEAR(ss.Find(AVMEDIA_TYPE_AUDIO)->Start, 0, 0.05);

  // Scaled input timestamps: a video clock running twice as fast halves the output.
  ASSERT_EQ(Convert(input, {{"itsscale", "0:0.5"}}, Dir.file("scaled.mp4"),
                    {{"f", "mp4"}, {"vcodec", "mpeg4"}, {"an", ""}}),
            "");
  const TProbed scaled = Probe(Dir.file("scaled.mp4"));
  ASSERT_TRUE(scaled.Find(AVMEDIA_TYPE_VIDEO));
  EXPECT_NEAR(scaled.Find(AVMEDIA_TYPE_VIDEO)->Duration, inputDuration / 2, 0.1);

  // A frame limit ends the run at that many pictures.
  TOptions frames = mp4;
  frames.push_back({"vframes", "10"});
  ASSERT_EQ(Convert(input, {}, Dir.file("vframes.mp4"), frames), "");
  const TProbed tenFrames = Probe(Dir.file("vframes.mp4"));
  ASSERT_TRUE(tenFrames.Find(AVMEDIA_TYPE_VIDEO));
  EXPECT_EQ(tenFrames.Find(AVMEDIA_TYPE_VIDEO)->Packets, 10);

  // A size limit stops the run early.
  TOptions small = mp4;
  small.push_back({"fs", "20000"});
  ASSERT_EQ(Convert(input, {}, Dir.file("fs.mp4"), small), "");
  EXPECT_LT(Probe(Dir.file("fs.mp4")).Find(AVMEDIA_TYPE_VIDEO)->Duration, inputDuration - 0.5);
}

TEST_F(TranscodeTest, VolumeScalesSamplesAndSyncInsertsSilence) {
  const std::string input = testing_support::MediaFile("wav_pcm.wav");
  const TOptions wav = {{"acodec", "pcm_s16le"}};
  ASSERT_EQ(Convert(input, {}, Dir.file("plain.wav"), wav), "");
  TOptions loud = wav;
  loud.push_back({"vol", "128"});
  ASSERT_EQ(Convert(input, {}, Dir.file("half.wav"), loud), "");
  const TDecodedAudio plain = DecodeAudio(Dir.file("plain.wav")),
                      half = DecodeAudio(Dir.file("half.wav"));
  ASSERT_EQ(plain.Samples.size(), half.Samples.size());
  ASSERT_GT(plain.Rms(0, plain.Samples.size()), 1000);
  EXPECT_NEAR(half.Rms(0, half.Samples.size()) / plain.Rms(0, plain.Samples.size()), 0.5, 0.01);

  // Audio that starts 0.5 s late is preceded by 0.5 s of silence with "async".
  TOptions synced = wav;
  synced.push_back({"async", "1"});
  ASSERT_EQ(Convert(input, {{"itsoffset", "0.5"}}, Dir.file("late.wav"), synced), "");
  const TDecodedAudio late = DecodeAudio(Dir.file("late.wav"));
  const size_t rate = static_cast<size_t>(late.SampleRate);
  ASSERT_GT(rate, 0u);
  EXPECT_NEAR(double(late.Samples.size()), double(plain.Samples.size()) + rate / 2.0, rate * 0.01);
  EXPECT_LT(late.Rms(0, rate * 48 / 100), 1.0);
  EXPECT_GT(late.Rms(rate * 52 / 100, rate), 1000);

  // Drift compensation goes through the resampler, here also changing the rate.
  TOptions stretched = {{"acodec", "pcm_s16le"}, {"ar", "48000"}, {"async", "100"}};
  ASSERT_EQ(Convert(input, {}, Dir.file("stretched.wav"), stretched), "");
  const TDecodedAudio resampled = DecodeAudio(Dir.file("stretched.wav"));
  EXPECT_EQ(resampled.SampleRate, 48000);
  EXPECT_NEAR(double(resampled.Samples.size()) / 48000, double(plain.Samples.size()) / rate, 0.02);
  const size_t mid = resampled.Samples.size() / 2;
  EXPECT_NEAR(resampled.Frequency(mid - 4800, mid + 4800), 440, 15);
}

// Option values past what the library's numbers hold are taken as the most they can be.
TEST_F(TranscodeTest, HugeVolumeAndMuxingDelaysSaturate) {
  const std::string input = testing_support::MediaFile("wav_pcm.wav");
  ASSERT_EQ(Convert(input, {}, Dir.file("plain.wav"), {{"acodec", "pcm_s16le"}}), "");
  ASSERT_EQ(Convert(input, {}, Dir.file("loud.wav"), {{"acodec", "pcm_s16le"}, {"vol", "100000"}}),
            "");
  const TDecodedAudio plain = DecodeAudio(Dir.file("plain.wav")),
                      loud = DecodeAudio(Dir.file("loud.wav"));
  ASSERT_EQ(plain.Samples.size(), loud.Samples.size());
  size_t clipped = 0;
  for (size_t i = 0; i < plain.Samples.size(); ++i)
    if (std::abs(plain.Samples[i]) > 100) {
      ASSERT_EQ(loud.Samples[i], plain.Samples[i] > 0 ? 32767 : -32768) << "sample " << i;
      ++clipped;
    }
  EXPECT_GT(clipped, plain.Samples.size() / 2);

  int maxDelay = 0;
  ASSERT_EQ(
      Convert(input, {}, Dir.file("delays.mpg"),
              {{"f", "mpeg"}, {"acodec", "mp2"}, {"muxdelay", "3000"}, {"muxpreload", "3000"}},
              [&](TTestEngine &AEngine) { maxDelay = AEngine.OutputFiles[0]->max_delay; }),
      "");
  EXPECT_EQ(maxDelay, 2147483647);
}

// ---- Subtitles, stop and bad input ----

TEST_F(TranscodeTest, TextSubtitlesBecomeMp4TextTrack) {
  const std::string input = testing_support::MediaFile("subtitles.mkv");
  const std::string output = Dir.file("subs.mp4");
  ASSERT_EQ(Convert(input, {}, output,
                    {{"f", "mp4"}, {"vcodec", "mpeg4"}, {"acodec", "aac"}, {"scodec", "mov_text"}}),
            "");
  const TProbed out = Probe(output);
  const TProbedStream *s = out.Find(AVMEDIA_TYPE_SUBTITLE);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Codec, AV_CODEC_ID_MOV_TEXT);
  EXPECT_GE(s->Packets, 1);

  // A subtitle stream without a packet for a while does not hold back the recording time.
  const std::string cut = Dir.file("subs_t.mp4");
  ASSERT_EQ(Convert(input, {}, cut,
                    {{"f", "mp4"},
                     {"vcodec", "mpeg4"},
                     {"acodec", "aac"},
                     {"scodec", "mov_text"},
                     {"t", "0.12"}}),
            "");
  const TProbed part = Probe(cut);
  ASSERT_TRUE(part.Find(AVMEDIA_TYPE_VIDEO));
  EXPECT_NEAR(part.Find(AVMEDIA_TYPE_VIDEO)->Duration, 0.12, 0.045);
}

TEST_F(TranscodeTest, StopBeforeTheLoopStillWritesAPlayableFileButIsNotFinished) {
  const std::string output = Dir.file("stopped.mp4");
  ASSERT_EQ(Convert(testing_support::MediaFile("mov_h264_aac.mov"), {}, output,
                    {{"f", "mp4"}, {"vcodec", "mpeg4"}, {"acodec", "aac"}},
                    [](TTestEngine &AEngine) { AEngine.StopRequested = true; }),
            "");
  EXPECT_FALSE(Finished);
  EXPECT_TRUE(Probe(output).Opened); // trailer written
}

TEST_F(TranscodeTest, RateEmulationReadsNoFasterThanTheInputPlays) {
  const std::string input = testing_support::MediaFile("wav_pcm.wav");
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Convert(input, {{"re", ""}}, Dir.file("re.wav"), {{"acodec", "pcm_s16le"}}), "");
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double duration = Probe(input).Find(AVMEDIA_TYPE_AUDIO)->Duration;
  EXPECT_GT(seconds, duration - 0.3);
  EXPECT_LT(seconds, duration + 1.5);
}

// Copies AInput into a Matroska file with the data of its last video packet overwritten by
// bytes no decoder takes.
void CopyWithBrokenLastPicture(const std::string &AInput, const std::string &AOutput) {
  int videoPackets = 0;
  for (int pass = 0; pass < 2; ++pass) {
    AVFormatContext *ic = nullptr;
    ASSERT_GE(avlib.avformat_open_input(&ic, AInput.c_str(), nullptr, nullptr), 0);
    avlib.avformat_find_stream_info(ic, nullptr);
    AVFormatContext *oc = nullptr;
    if (pass == 1) {
      ASSERT_GE(avlib.avformat_alloc_output_context2(&oc, nullptr, "matroska", AOutput.c_str()), 0);
      for (unsigned i = 0; i < ic->nb_streams; ++i) {
        AVStream *os = avlib.avformat_new_stream(oc, nullptr);
        avlib.avcodec_parameters_copy(os->codecpar, ic->streams[i]->codecpar);
        os->codecpar->codec_tag = 0;
        os->time_base = ic->streams[i]->time_base;
      }
      ASSERT_GE(avlib.avio_open(&oc->pb, AOutput.c_str(), AVIO_FLAG_WRITE), 0);
      ASSERT_GE(avlib.avformat_write_header(oc, nullptr), 0);
    }
    AVPacket *pkt = avlib.av_packet_alloc();
    int seen = 0;
    while (avlib.av_read_frame(ic, pkt) >= 0) {
      const AVStream *is = ic->streams[pkt->stream_index];
      if (is->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && ++seen == videoPackets)
        std::memset(pkt->data, 0xFF, static_cast<size_t>(pkt->size)); // the buffer is ours alone
      if (oc) {
        avlib.av_packet_rescale_ts(pkt, is->time_base, oc->streams[pkt->stream_index]->time_base);
        avlib.av_interleaved_write_frame(oc, pkt);
      }
      avlib.av_packet_unref(pkt);
    }
    videoPackets = seen;
    avlib.av_packet_free(&pkt);
    if (oc) {
      avlib.av_write_trailer(oc);
      avlib.avio_closep(&oc->pb);
      avlib.avformat_free_context(oc);
    }
    avlib.avformat_close_input(&ic);
  }
}

// A decoder on frame threads reports a broken last picture only while it is drained at the
// end: the pictures the encoder still holds and the sound's tail are written all the same.
TEST_F(TranscodeTest, ABrokenLastPictureLosesOnlyItself) {
  const std::string input = Dir.file("broken_end.mkv");
  CopyWithBrokenLastPicture(testing_support::MediaFile("mov_h264_aac.mov"), input);
  const TProbed source = Probe(input);
  ASSERT_NE(source.Find(AVMEDIA_TYPE_VIDEO), nullptr);
  const std::string output = Dir.file("broken_end.mp4");
  ASSERT_EQ(Convert(input, {}, output, {{"f", "mp4"}, {"vcodec", "libx264"}, {"acodec", "aac"}},
                    [](TTestEngine &AEngine) { AEngine.ThreadCount = 2; }),
            "");
  EXPECT_TRUE(Finished);
  EXPECT_TRUE(Logged("Error while decoding stream")); // the drain did meet the broken picture
  const TProbed converted = Probe(output);
  ASSERT_NE(converted.Find(AVMEDIA_TYPE_VIDEO), nullptr);
  EXPECT_GE(converted.Find(AVMEDIA_TYPE_VIDEO)->Packets,
            source.Find(AVMEDIA_TYPE_VIDEO)->Packets - 2);
  EXPECT_NEAR(converted.Find(AVMEDIA_TYPE_AUDIO)->Duration,
              source.Find(AVMEDIA_TYPE_AUDIO)->Duration, 0.05);
}

// Damaged inputs end the run, with or without an error, and never crash or hang.
TEST_F(TranscodeTest, TruncatedAndCorruptedInputsNeverCrashOrHang) {
  std::mt19937 random(1234);
  for (const char *name : {"avi_mpeg4_mp3.avi", "mkv_h264_vorbis.mkv", "mpg_mpeg2_mp2.mpg",
                           "ts_h264_aac.ts", "mov_h264_aac.mov", "ogg_theora_vorbis.ogv"}) {
    SCOPED_TRACE(name);
    std::ifstream in(testing_support::MediaFile(name), std::ios::binary);
    std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(data.size(), 4000u);
    const std::string truncated = Dir.file(std::string("cut_") + name);
    std::ofstream(truncated, std::ios::binary).write(data.data(), data.size() / 2);
    std::vector<char> garbage = data;
    for (size_t i = garbage.size() / 3; i < garbage.size() / 3 + garbage.size() / 10; ++i)
      garbage[i] = static_cast<char>(random());
    const std::string corrupted = Dir.file(std::string("bad_") + name);
    std::ofstream(corrupted, std::ios::binary).write(garbage.data(), garbage.size());

    for (const std::string &damaged : {truncated, corrupted}) {
      const auto start = std::chrono::steady_clock::now();
      const std::string error =
          Convert(damaged, {}, Dir.file("damaged.mp4"),
                  {{"f", "mp4"}, {"vcodec", "mpeg4"}, {"acodec", "aac"}, {"s", "320x240"}});
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
      if (error.empty()) {
        const TProbed out = Probe(Dir.file("damaged.mp4"));
        EXPECT_TRUE(out.Opened);
      }
      std::filesystem::remove(Dir.file("damaged.mp4"));
    }
  }
}

} // namespace
