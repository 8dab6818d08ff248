// The generated test media: what other tests take for granted about each file, read back
// through the libraries; and the generator's own command line.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "medialib/medialib.h"
#include "support/decode.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testing_support::MediaFile;
using testing_support::RequireMediaLibraries;
using testing_support::TempDir;

namespace {

struct InputClose {
  void operator()(AVFormatContext *ic) const { avlib.avformat_close_input(&ic); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputClose>;
struct CodecContextFree {
  void operator()(AVCodecContext *c) const { avlib.avcodec_free_context(&c); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using testing_support::FramePtr;
struct PacketFree {
  void operator()(AVPacket *p) const { avlib.av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

// Opens and probes a file; null (with a test failure) when it does not open.
InputPtr openMedia(const std::string &path) {
  AVFormatContext *ic = nullptr;
  const int ret = avlib.avformat_open_input(&ic, path.c_str(), nullptr, nullptr);
  EXPECT_GE(ret, 0) << "cannot open " << path;
  if (ret < 0)
    return nullptr;
  InputPtr input(ic);
  int found;
  {
    std::lock_guard<std::recursive_mutex> lock(CodecLock);
    found = avlib.avformat_find_stream_info(ic, nullptr);
  }
  EXPECT_GE(found, 0) << "no stream information in " << path;
  return found < 0 ? nullptr : std::move(input);
}

CodecContextPtr openDecoder(const AVStream *stream) {
  const AVCodec *codec = avlib.avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec)
    return nullptr;
  CodecContextPtr ctx(avlib.avcodec_alloc_context3(codec));
  if (avlib.avcodec_parameters_to_context(ctx.get(), stream->codecpar) < 0)
    return nullptr;
  std::lock_guard<std::recursive_mutex> lock(CodecLock);
  if (avlib.avcodec_open2(ctx.get(), codec, nullptr) < 0)
    return nullptr;
  return ctx;
}

struct ExpectedStream {
  AVMediaType type;
  AVCodecID codec;
  int width = 0, height = 0;     // video
  AVRational sampleAspect{1, 1}; // video; unset in the file counts as square
  int sampleRate = 0, channels = 0;
};

ExpectedStream video(AVCodecID codec, int w = 320, int h = 240, AVRational sar = {1, 1}) {
  ExpectedStream s{AVMEDIA_TYPE_VIDEO, codec};
  s.width = w;
  s.height = h;
  s.sampleAspect = sar;
  return s;
}
ExpectedStream audio(AVCodecID codec, int rate = 44100, int channels = 2) {
  ExpectedStream s{AVMEDIA_TYPE_AUDIO, codec};
  s.sampleRate = rate;
  s.channels = channels;
  return s;
}
ExpectedStream subtitle(AVCodecID codec) { return ExpectedStream{AVMEDIA_TYPE_SUBTITLE, codec}; }

struct ExpectedFile {
  std::string name;
  std::vector<ExpectedStream> streams;
  bool still = false;  // a picture: no duration
  double startMin = 0; // start time range in seconds
  double startMax = 0.1;
  double durationMin = 2.0; // duration range in seconds
  double durationMax = 3.0;
  bool optional = false; // made only where the libraries have its encoder
};

const std::vector<ExpectedFile> &expectedFiles() {
  static const std::vector<ExpectedFile> files = {
      {"avi_mpeg4_mp3.avi", {video(AV_CODEC_ID_MPEG4), audio(AV_CODEC_ID_MP3)}},
      {"mkv_h264_vorbis.mkv", {video(AV_CODEC_ID_H264), audio(AV_CODEC_ID_VORBIS)}},
      {"mov_h264_aac.mov", {video(AV_CODEC_ID_H264), audio(AV_CODEC_ID_AAC)}},
      {"flv_h264_aac.flv", {video(AV_CODEC_ID_H264), audio(AV_CODEC_ID_AAC)}},
      // A program stream's clock starts after the multiplexer's preload of half a second.
      {"mpg_mpeg2_mp2.mpg",
       {video(AV_CODEC_ID_MPEG2VIDEO), audio(AV_CODEC_ID_MP2, 48000)},
       false,
       0,
       0.6},
      {"ts_h264_aac.ts", {video(AV_CODEC_ID_H264), audio(AV_CODEC_ID_AAC)}},
      {"webm_vp8_vorbis.webm", {video(AV_CODEC_ID_VP8), audio(AV_CODEC_ID_VORBIS)}},
      {"ogg_theora_vorbis.ogv", {video(AV_CODEC_ID_THEORA), audio(AV_CODEC_ID_VORBIS)}},
      // Baseline H.263 has no aspect field: its pixels are 12:11 by definition.
      {"3gp_h263_aac.3gp",
       {video(AV_CODEC_ID_H263, 176, 144, {12, 11}), audio(AV_CODEC_ID_AAC, 22050, 1)}},
      {"wav_pcm.wav", {audio(AV_CODEC_ID_PCM_S16LE)}},
      {"wav_1hz_header.wav", {audio(AV_CODEC_ID_PCM_S16LE, 1)}, false, 0, 0.1, 1e5, 1.2e5},
      {"mp3_audio.mp3", {audio(AV_CODEC_ID_MP3)}},
      {"picture.png", {video(AV_CODEC_ID_PNG)}, true},
      {"picture.jpg", {video(AV_CODEC_ID_MJPEG)}, true},
      {"two_audio.mkv", {video(AV_CODEC_ID_H264), audio(AV_CODEC_ID_AAC), audio(AV_CODEC_ID_AAC)}},
      {"subtitles.mkv",
       {video(AV_CODEC_ID_H264), audio(AV_CODEC_ID_AAC), subtitle(AV_CODEC_ID_SUBRIP)}},
      {"two_languages.mkv",
       {video(AV_CODEC_ID_H264), audio(AV_CODEC_ID_AAC, 48000, 2),
        audio(AV_CODEC_ID_AAC, 48000, 6)}},
      {"subtitles_ass.mkv",
       {video(AV_CODEC_ID_H264), audio(AV_CODEC_ID_AAC), subtitle(AV_CODEC_ID_ASS)}},
      {"forced_subtitles.mkv",
       {video(AV_CODEC_ID_H264), audio(AV_CODEC_ID_AAC, 48000, 2), audio(AV_CODEC_ID_AAC, 48000, 6),
        subtitle(AV_CODEC_ID_SUBRIP)}},
      {"subtitles_dvd.mkv",
       {video(AV_CODEC_ID_H264), audio(AV_CODEC_ID_AAC), subtitle(AV_CODEC_ID_DVD_SUBTITLE)}},
      {"anamorphic.mp4", {video(AV_CODEC_ID_H264, 720, 480, {32, 27}), audio(AV_CODEC_ID_AAC)}},
      {"interlaced.mkv", {video(AV_CODEC_ID_MPEG2VIDEO, 720, 576), audio(AV_CODEC_ID_MP2, 48000)}},
      // AAC's encoder delay puts the first audio packet a few milliseconds before 10 s.
      {"start_time.ts", {video(AV_CODEC_ID_H264), audio(AV_CODEC_ID_AAC)}, false, 9.95, 10.05},
      {"aac_51.mp4", {video(AV_CODEC_ID_H264), audio(AV_CODEC_ID_AAC, 48000, 6)}},
      {"h264_10bit.mp4", {video(AV_CODEC_ID_H264), audio(AV_CODEC_ID_AAC)}},
      {"hevc_10bit.mp4",
       {video(AV_CODEC_ID_HEVC), audio(AV_CODEC_ID_AAC)},
       false,
       0,
       0.1,
       2.0,
       3.0,
       true},
      {"mjpeg_422.avi",
       {video(AV_CODEC_ID_MJPEG, 160, 120), audio(AV_CODEC_ID_PCM_S16LE, 22050, 1)}},
      {"mjpeg_444.mov",
       {video(AV_CODEC_ID_MJPEG, 160, 120), audio(AV_CODEC_ID_PCM_S16LE, 22050, 1)}},
      {"full_range.jpg", {video(AV_CODEC_ID_MJPEG)}, true},
      {"picture_16bit.png", {video(AV_CODEC_ID_PNG)}, true},
      {"rotated_90.mp4", {video(AV_CODEC_ID_H264, 320, 180), audio(AV_CODEC_ID_AAC)}},
      {"rotated_270.mp4", {video(AV_CODEC_ID_H264, 320, 180), audio(AV_CODEC_ID_AAC)}},
      {"video_gap.mkv", {video(AV_CODEC_ID_H264), audio(AV_CODEC_ID_AAC)}, false, 0, 0.1, 4.9, 5.1},
      {"audio_96k_24bit.flac", {audio(AV_CODEC_ID_FLAC, 96000)}},
      {"mkv_h264_flac.mkv", {video(AV_CODEC_ID_H264), audio(AV_CODEC_ID_FLAC, 48000)}},
      {"aac_71.mkv", {video(AV_CODEC_ID_H264), audio(AV_CODEC_ID_AAC, 48000, 8)}},
      // Films to cut (20 s), clips whose streams start apart (4 s), old Flash and Windows video.
      {"film_keys10.mkv",
       {video(AV_CODEC_ID_H264, 160, 120), audio(AV_CODEC_ID_AAC)},
       false,
       0,
       0.1,
       19.9,
       20.2},
      {"film_keys10.mp4",
       {video(AV_CODEC_ID_H264, 160, 120), audio(AV_CODEC_ID_AAC)},
       false,
       0,
       0.1,
       19.9,
       20.2},
      {"film_keys10.ts",
       {video(AV_CODEC_ID_H264, 160, 120), audio(AV_CODEC_ID_AAC)},
       false,
       0,
       0.1,
       19.9,
       20.2},
      {"film_keys10.avi",
       {video(AV_CODEC_ID_MPEG4, 160, 120), audio(AV_CODEC_ID_MP3)},
       false,
       0,
       0.1,
       19.9,
       20.2},
      {"flv1_mp3.flv", {audio(AV_CODEC_ID_MP3), video(AV_CODEC_ID_FLV1)}, false, 0, 0.1, 3.9, 4.2},
      {"wmv2_wma2.wmv",
       {video(AV_CODEC_ID_WMV2, 640, 480), audio(AV_CODEC_ID_WMAV2)},
       false,
       0,
       0.1,
       7.9,
       8.2},
  };
  static const std::vector<ExpectedFile> withClips = [] {
    std::vector<ExpectedFile> list = files;
    for (const char *extension : {"mkv", "mp4", "ts"})
      for (const char *delay : {"0.05", "0.3", "1.5"})
        for (const char *late : {"sound", "picture"})
          list.push_back({std::string(late) + "_late_" + delay + "." + extension,
                          {video(AV_CODEC_ID_H264, 160, 120), audio(AV_CODEC_ID_AAC)},
                          false,
                          0,
                          0.1,
                          3.9,
                          4.2});
    return list;
  }();
  return withClips;
}

void checkStream(const AVStream *st, const ExpectedStream &want, size_t index) {
  SCOPED_TRACE("stream " + std::to_string(index));
  const AVCodecParameters *par = st->codecpar;
  EXPECT_EQ(par->codec_type, want.type);
  EXPECT_EQ(par->codec_id, want.codec) << avlib.avcodec_get_name(par->codec_id);
  if (want.type == AVMEDIA_TYPE_VIDEO) {
    EXPECT_EQ(par->width, want.width);
    EXPECT_EQ(par->height, want.height);
    AVRational sar = par->sample_aspect_ratio;
    if (sar.num == 0)
      sar = AVRational{1, 1};
    EXPECT_EQ(av_cmp_q(sar, want.sampleAspect), 0) << sar.num << ":" << sar.den;
  } else if (want.type == AVMEDIA_TYPE_AUDIO) {
    EXPECT_EQ(par->sample_rate, want.sampleRate);
    EXPECT_EQ(par->ch_layout.nb_channels, want.channels);
  }
}

// ---- every file as the other tests expect it ------------------------------------------------

TEST(TestMedia, EveryFileHasTheExpectedStreamsStartAndDuration) {
  RequireMediaLibraries();
  for (const ExpectedFile &want : expectedFiles()) {
    SCOPED_TRACE(want.name);
    const std::string path = MediaFile(want.name);
    if (want.optional && !fs::exists(path))
      continue;
    ASSERT_TRUE(fs::exists(path));
    // Small enough to keep the test run fast and the build folder light.
    EXPECT_LT(fs::file_size(path), 512u * 1024u);
    InputPtr input = openMedia(path);
    if (!input)
      continue;
    AVFormatContext *ic = input.get();
    ASSERT_EQ(ic->nb_streams, want.streams.size());
    for (size_t i = 0; i < want.streams.size(); ++i)
      checkStream(ic->streams[i], want.streams[i], i);
    if (want.still)
      continue;
    ASSERT_NE(ic->duration, AV_NOPTS_VALUE);
    const double duration = ic->duration / double(AV_TIME_BASE);
    EXPECT_GE(duration, want.durationMin);
    EXPECT_LE(duration, want.durationMax);
    const double start =
        ic->start_time == AV_NOPTS_VALUE ? 0 : ic->start_time / double(AV_TIME_BASE);
    EXPECT_GE(start, want.startMin);
    EXPECT_LE(start, want.startMax);
  }
}

TEST(TestMedia, AnamorphicAspectIsStoredByContainerAndBitstream) {
  RequireMediaLibraries();
  InputPtr input = openMedia(MediaFile("anamorphic.mp4"));
  ASSERT_TRUE(input);
  const AVStream *st = input->streams[0];
  // The container's own field and the codec's both say 32:27, so either reader sees 16:9.
  EXPECT_EQ(av_cmp_q(st->sample_aspect_ratio, AVRational{32, 27}), 0);
  std::vector<FramePtr> frames = testing_support::DecodeStream(input.get(), 0, 1);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(av_cmp_q(frames[0]->sample_aspect_ratio, AVRational{32, 27}), 0);
  EXPECT_EQ(av_cmp_q(st->avg_frame_rate, AVRational{30000, 1001}), 0);
}

TEST(TestMedia, InterlacedFileDecodesAsTopFieldFirst) {
  RequireMediaLibraries();
  InputPtr input = openMedia(MediaFile("interlaced.mkv"));
  ASSERT_TRUE(input);
  EXPECT_EQ(input->streams[0]->codecpar->field_order, AV_FIELD_TT);
  std::vector<FramePtr> frames = testing_support::DecodeStream(input.get(), 0, 5);
  ASSERT_GE(frames.size(), 5u);
  for (const FramePtr &frame : frames) {
    EXPECT_EQ(frame->interlaced_frame, 1);
    EXPECT_EQ(frame->top_field_first, 1);
  }
}

TEST(TestMedia, SubtitleStreamCarriesTimedTextEvents) {
  RequireMediaLibraries();
  InputPtr input = openMedia(MediaFile("subtitles.mkv"));
  ASSERT_TRUE(input);
  ASSERT_EQ(input->nb_streams, 3u);
  CodecContextPtr decoder = openDecoder(input->streams[2]);
  ASSERT_TRUE(decoder);
  PacketPtr pkt(avlib.av_packet_alloc());
  std::vector<std::string> texts;
  std::vector<double> starts;
  while (avlib.av_read_frame(input.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == 2) {
      AVSubtitle sub{};
      int got = 0;
      EXPECT_GE(avlib.avcodec_decode_subtitle2(decoder.get(), &sub, &got, pkt.get()), 0);
      if (got && sub.num_rects > 0 && sub.rects[0]->ass)
        texts.emplace_back(sub.rects[0]->ass);
      starts.push_back(pkt->pts * av_q2d(input->streams[2]->time_base));
      EXPECT_GT(pkt->duration, 0);
      avlib.avsubtitle_free(&sub);
    }
    avlib.av_packet_unref(pkt.get());
  }
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_NE(texts[0].find("First test subtitle"), std::string::npos) << texts[0];
  EXPECT_NE(texts[2].find("Third test subtitle"), std::string::npos) << texts[2];
  ASSERT_EQ(starts.size(), 3u);
  EXPECT_LT(starts[0], starts[1]);
  EXPECT_LT(starts[2], 2.5);
}

// Tests of scaling, thumbnails and audio paths need pictures that change and sound that is
// neither silent nor clipped.
TEST(TestMedia, PictureMovesAndToneIsAudible) {
  RequireMediaLibraries();
  for (const char *name : {"avi_mpeg4_mp3.avi", "webm_vp8_vorbis.webm", "3gp_h263_aac.3gp"}) {
    SCOPED_TRACE(name);
    InputPtr input = openMedia(MediaFile(name));
    ASSERT_TRUE(input);
    std::vector<FramePtr> frames = testing_support::DecodeStream(input.get(), 0, 11);
    ASSERT_GE(frames.size(), 11u);
    const AVFrame *a = frames[0].get();
    const AVFrame *b = frames[10].get();
    long differing = 0;
    for (int y = 0; y < a->height; ++y)
      for (int x = 0; x < a->width; ++x)
        differing +=
            std::abs(a->data[0][y * a->linesize[0] + x] - b->data[0][y * b->linesize[0] + x]) > 24;
    EXPECT_GT(differing, a->width * a->height / 10) << "the picture barely changes";

    InputPtr again = openMedia(MediaFile(name));
    ASSERT_TRUE(again);
    std::vector<FramePtr> sound = testing_support::DecodeStream(again.get(), 1, 40);
    ASSERT_FALSE(sound.empty());
    const AVFrame *last = sound.back().get();
    ASSERT_TRUE(last->format == AV_SAMPLE_FMT_FLTP || last->format == AV_SAMPLE_FMT_S16P ||
                last->format == AV_SAMPLE_FMT_FLT || last->format == AV_SAMPLE_FMT_S16)
        << avlib.av_get_sample_fmt_name(static_cast<AVSampleFormat>(last->format));
    double sum = 0, peak = 0;
    for (int i = 0; i < last->nb_samples; ++i) {
      double v;
      switch (last->format) {
      case AV_SAMPLE_FMT_FLTP:
        v = reinterpret_cast<const float *>(last->data[0])[i];
        break;
      case AV_SAMPLE_FMT_FLT:
        v = reinterpret_cast<const float *>(last->data[0])[i * last->ch_layout.nb_channels];
        break;
      case AV_SAMPLE_FMT_S16P:
        v = reinterpret_cast<const int16_t *>(last->data[0])[i] / 32768.0;
        break;
      default:
        v = reinterpret_cast<const int16_t *>(last->data[0])[i * last->ch_layout.nb_channels] /
            32768.0;
      }
      sum += v * v;
      peak = std::max(peak, std::fabs(v));
    }
    const double rms = std::sqrt(sum / last->nb_samples);
    EXPECT_GT(rms, 0.1);
    EXPECT_LT(peak, 0.9);
  }
}

// ---- the generator's command line -----------------------------------------------------------

const std::string generator = std::string(KORVELO_BINARY_DIR) + "/tests/korvelo-testmedia";

struct RunResult {
  int exitCode;
  std::string output; // stdout and stderr
};

RunResult runGenerator(const std::string &args) {
  RunResult result{-1, {}};
  FILE *pipe = popen((generator + " " + args + " 2>&1").c_str(), "r");
  if (!pipe)
    return result;
  char buffer[512];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
    result.output.append(buffer, n);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::vector<std::string> filesIn(const fs::path &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(TestMediaGenerator, RepeatedRunKeepsFreshFilesAndRemakesStaleOnes) {
  TempDir dir;
  RunResult first = runGenerator(dir.path().string());
  ASSERT_EQ(first.exitCode, 0) << first.output;
  EXPECT_EQ(first.output, "") << "silent on success";
  std::vector<std::string> expected;
  for (const ExpectedFile &file : expectedFiles())
    if (!file.optional || fs::exists(dir.path() / file.name))
      expected.push_back(file.name);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(filesIn(dir.path()), expected) << "exactly the named files, no leftovers";

  std::map<std::string, fs::file_time_type> times;
  for (const std::string &name : expected)
    times[name] = fs::last_write_time(dir.path() / name);
  // A file older than the generator (left by an earlier build) must be made again.
  const fs::path stale = dir.path() / "mkv_h264_vorbis.mkv";
  const auto old = fs::last_write_time(generator) - std::chrono::hours(1);
  fs::last_write_time(stale, old);
  // Leftovers of a killed run go; those of a run still going stay.
  const fs::path abandoned = dir.path() / ".wav_pcm.wav.2147483646.part";
  const fs::path inProgress = dir.path() / (".wav_pcm.wav." + std::to_string(getpid()) + ".part");
  std::ofstream(abandoned) << "half a file";
  std::ofstream(inProgress) << "half a file";
  RunResult second = runGenerator(dir.path().string());
  ASSERT_EQ(second.exitCode, 0) << second.output;
  for (const std::string &name : expected) {
    if (name == stale.filename())
      EXPECT_GT(fs::last_write_time(stale), old);
    else
      EXPECT_EQ(fs::last_write_time(dir.path() / name), times[name]) << name << " was remade";
  }
  EXPECT_FALSE(fs::exists(abandoned));
  EXPECT_TRUE(fs::exists(inProgress));
}

TEST(TestMediaGenerator, OneFileForBenchmarksTakesSizeRateAndDuration) {
  RequireMediaLibraries();
  TempDir dir;
  struct Case {
    std::string name;
    AVCodecID video, audio;
  };
  for (const Case &c : {Case{"bench.mp4", AV_CODEC_ID_H264, AV_CODEC_ID_AAC},
                        Case{"bench.avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_MP3}}) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.file(c.name);
    RunResult run = runGenerator("--one " + file + " --duration 4 --size 160x96 --rate 10");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    InputPtr input = openMedia(file);
    ASSERT_TRUE(input);
    ASSERT_EQ(input->nb_streams, 2u);
    const AVCodecParameters *v = input->streams[0]->codecpar;
    EXPECT_EQ(v->codec_id, c.video);
    EXPECT_EQ(v->width, 160);
    EXPECT_EQ(v->height, 96);
    EXPECT_EQ(av_cmp_q(input->streams[0]->avg_frame_rate, AVRational{10, 1}), 0);
    EXPECT_EQ(input->streams[1]->codecpar->codec_id, c.audio);
    EXPECT_NEAR(input->duration / double(AV_TIME_BASE), 4.0, 0.15);
  }
}

TEST(TestMediaGenerator, FailureNamesTheFileAndLeavesNothingBehind) {
  TempDir dir;
  const std::string missingFolder = dir.file("no-such-folder") + "/x.mp4";
  RunResult run = runGenerator("--one " + missingFolder + " --duration 1 --size 64x64");
  EXPECT_NE(run.exitCode, 0);
  EXPECT_NE(run.output.find(missingFolder), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("No such file or directory"), std::string::npos) << run.output;

  // A name whose muxer cannot take the codecs fails before anything reaches the real name.
  const std::string wrong = dir.file("sound.wav");
  run = runGenerator("--one " + wrong + " --duration 1 --size 64x64");
  EXPECT_NE(run.exitCode, 0);
  EXPECT_NE(run.output.find(wrong), std::string::npos) << run.output;
  EXPECT_TRUE(filesIn(dir.path()).empty()) << "no partial or temporary file may remain";

  EXPECT_NE(runGenerator("--one " + wrong + " --duration -3 --size 64x64").exitCode, 0);
  EXPECT_NE(runGenerator("--one " + wrong + " --duration 1 --size banana").exitCode, 0);
  EXPECT_NE(runGenerator("").exitCode, 0);
  EXPECT_TRUE(filesIn(dir.path()).empty());
}

} // namespace
