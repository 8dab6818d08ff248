// Opening input files and creating output files with their streams.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/custom_ffmpeg.h"
#include "medialib/medialib.h"
#include "support/test_support.h"

namespace {

using testing_support::MediaFile;

class FilesTest : public ::testing::Test {
protected:
  void SetUp() override {
    testing_support::RequireMediaLibraries();
    Engine.Prepare();
    Engine.Verbose = -1; // keep the library's listings out of the test output
  }

  // The engine owns its option texts through the library's allocator.
  static void SetName(char *&AField, const char *AValue) {
    avlib.av_freep(&AField);
    AField = AValue ? avlib.av_strdup(AValue) : nullptr;
  }

  void OpenInput(const std::string &AName) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaFile(AName))) << AName << ": " << Engine.ErrorMessage;
  }

  AVCodecContext *Output(int AFile, int AStream) { return Engine.OutputCodecs[AFile][AStream]; }

  TCustomFFmpeg Engine;
  testing_support::TempDir Dir;
};

// ---------------------------------------------------------------- input files

struct InputExpectation {
  const char *Name;
  int Width, Height;        // 0: no video stream
  AVRational Rate;          // {0, 0}: not checked
  int SampleRate, Channels; // 0: no audio stream
  double Aspect;            // 0: not checked
  bool HasDuration;
};

TEST_F(FilesTest, EveryKindOfInputOpensAndHandsItsParametersOver) {
  const InputExpectation inputs[] = {
      {"avi_mpeg4_mp3.avi", 320, 240, {25, 1}, 44100, 2, 4.0 / 3, true},
      {"mkv_h264_vorbis.mkv", 320, 240, {25, 1}, 44100, 2, 4.0 / 3, true},
      {"mov_h264_aac.mov", 320, 240, {25, 1}, 44100, 2, 4.0 / 3, true},
      {"flv_h264_aac.flv", 320, 240, {25, 1}, 44100, 2, 0, true},
      {"mpg_mpeg2_mp2.mpg", 320, 240, {25, 1}, 48000, 2, 4.0 / 3, true},
      {"ts_h264_aac.ts", 320, 240, {25, 1}, 44100, 2, 0, true},
      {"webm_vp8_vorbis.webm", 320, 240, {25, 1}, 44100, 2, 0, true},
      {"ogg_theora_vorbis.ogv", 320, 240, {25, 1}, 44100, 2, 0, true},
      // 176x144 with 12:11 pixels is a 4:3 picture.
      {"3gp_h263_aac.3gp", 176, 144, {15, 1}, 22050, 1, 4.0 / 3, true},
      {"wav_pcm.wav", 0, 0, {0, 0}, 44100, 2, 0, true},
      {"mp3_audio.mp3", 0, 0, {0, 0}, 44100, 2, 0, true},
      {"picture.png", 320, 240, {0, 0}, 0, 0, 4.0 / 3, false},
      {"picture.jpg", 320, 240, {0, 0}, 0, 0, 4.0 / 3, false},
      {"two_audio.mkv", 320, 240, {25, 1}, 44100, 2, 0, true},
      {"subtitles.mkv", 320, 240, {25, 1}, 44100, 2, 0, true},
      // 720x480 with 32:27 pixels is a 16:9 picture.
      {"anamorphic.mp4", 720, 480, {30000, 1001}, 44100, 2, 16.0 / 9, true},
      {"interlaced.mkv", 720, 576, {0, 0}, 48000, 2, 0, true},
      {"start_time.ts", 320, 240, {25, 1}, 44100, 2, 0, true},
      {"aac_51.mp4", 320, 240, {25, 1}, 48000, 6, 0, true},
  };
  for (const InputExpectation &in : inputs) {
    SCOPED_TRACE(in.Name);
    TCustomFFmpeg engine;
    engine.Prepare();
    engine.Verbose = -1;
    // Values no input of this list has, so that a missed take-over shows.
    engine.AudioSampleRate = 8000;
    engine.AudioChannels = 3;
    SetName(engine.AudioCodecName, nullptr);
    ASSERT_TRUE(engine.OpenInputFile(MediaFile(in.Name))) << engine.ErrorMessage;
    ASSERT_EQ(engine.InputFileCount, 1);
    AVFormatContext *file = engine.InputFiles[0];
    ASSERT_NE(file, nullptr);

    // One decoder context per stream, of the stream's kind and codec.
    ASSERT_EQ(engine.InputCodecs[0].size(), file->nb_streams);
    bool hasVideo = false, hasAudio = false;
    for (unsigned i = 0; i < file->nb_streams; ++i) {
      AVCodecContext *codec = engine.InputCodecs[0][i];
      ASSERT_NE(codec, nullptr);
      EXPECT_EQ(codec->codec_type, file->streams[i]->codecpar->codec_type);
      EXPECT_EQ(codec->codec_id, file->streams[i]->codecpar->codec_id);
      hasVideo = hasVideo || codec->codec_type == AVMEDIA_TYPE_VIDEO;
      hasAudio = hasAudio || codec->codec_type == AVMEDIA_TYPE_AUDIO;
    }
    EXPECT_EQ(hasVideo, in.Width > 0);
    EXPECT_EQ(hasAudio, in.SampleRate > 0);

    EXPECT_EQ(engine.FrameWidth, in.Width);
    EXPECT_EQ(engine.FrameHeight, in.Height);
    if (in.Width > 0) {
      EXPECT_GE(engine.FramePixFmt, 0);
    }
    if (in.Rate.num != 0) {
      EXPECT_EQ(av_cmp_q(engine.FrameRate, in.Rate), 0)
          << engine.FrameRate.num << "/" << engine.FrameRate.den;
    }
    if (in.Aspect != 0) {
      EXPECT_NEAR(engine.FrameAspectRatio, in.Aspect, 0.001);
    }
    if (in.SampleRate > 0) {
      EXPECT_EQ(engine.AudioSampleRate, in.SampleRate);
      EXPECT_EQ(engine.AudioChannels, in.Channels);
    } else {
      EXPECT_EQ(engine.AudioSampleRate, 8000);
      EXPECT_EQ(engine.AudioChannels, 3);
    }
    if (in.HasDuration) {
      EXPECT_GE(engine.OutputDurationMs, 2400);
      EXPECT_LE(engine.OutputDurationMs, 2700);
    }
  }
}

TEST_F(FilesTest, InputDurationOnlyRaisesTheExpectedOutputDuration) {
  Engine.OutputDurationMs = 90000;
  OpenInput("wav_pcm.wav");
  EXPECT_EQ(Engine.OutputDurationMs, 90000);
  Engine.OutputDurationMs = -1;
  OpenInput("avi_mpeg4_mp3.avi");
  EXPECT_NEAR(Engine.OutputDurationMs, 2560, 20);
  // A still picture has no duration, which never lowers what is known.
  OpenInput("picture.png");
  EXPECT_NEAR(Engine.OutputDurationMs, 2560, 20);
  EXPECT_EQ(Engine.InputFileCount, 3);
}

TEST_F(FilesTest, TimestampOffsetFollowsTheFileStartAndTheStartSeek) {
  // The file's own start (about 10 s) is taken off unless timestamps are kept.
  OpenInput("start_time.ts");
  const int64_t fileStart = Engine.InputFiles[0]->start_time;
  ASSERT_GT(fileStart, 9000000);
  EXPECT_EQ(Engine.InputTsOffsets[0], -fileStart);

  Engine.CopyTs = true;
  Engine.InputTsOffset = 500000;
  OpenInput("start_time.ts");
  EXPECT_EQ(Engine.InputTsOffsets[1], 500000);

  // A start position counts from the file's start, and is used up by the seek.
  Engine.CopyTs = false;
  Engine.InputTsOffset = 0;
  Engine.SetStartTime(1000000);
  OpenInput("start_time.ts");
  EXPECT_EQ(Engine.InputTsOffsets[2], -(fileStart + 1000000));
  EXPECT_EQ(Engine.StartTime, 0);
  OpenInput("start_time.ts");
  EXPECT_EQ(Engine.InputTsOffsets[3], -fileStart);

  Engine.SetStartTime(0);
  Engine.SetStartTime(-5);
  EXPECT_EQ(Engine.StartTime, 0);
}

TEST_F(FilesTest, PerInputOptionsAreUsedOnceAndDiscardsApplied) {
  ASSERT_NO_THROW(Engine.SetInputFormat("mpegts"));
  SetName(Engine.VideoCodecName, "h264"); // a forced decoder
  Engine.RateEmu = true;
  Engine.VideoChannel = 1;
  Engine.SetProgramId(99);
  Engine.SubtitleDisable = true;
  Engine.AudioDisable = true;
  OpenInput("ts_h264_aac.ts");
  AVFormatContext *file = Engine.InputFiles[0];
  EXPECT_STREQ(file->iformat->name, "mpegts");
  EXPECT_EQ(file->video_codec_id, AV_CODEC_ID_H264);
  ASSERT_GE(file->nb_programs, 1u);
  for (unsigned i = 0; i < file->nb_programs; ++i)
    EXPECT_EQ(file->programs[i]->discard, AVDISCARD_ALL);
  for (unsigned i = 0; i < file->nb_streams; ++i)
    if (file->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      EXPECT_EQ(file->streams[i]->discard, AVDISCARD_ALL);
    }
  EXPECT_TRUE(Engine.InputRateEmu[0]);

  EXPECT_EQ(Engine.InputFormat, nullptr);
  EXPECT_EQ(Engine.VideoCodecName, nullptr);
  EXPECT_FALSE(Engine.RateEmu);
  EXPECT_EQ(Engine.VideoChannel, 0);

  // A program id that exists keeps its program.
  Engine.SetProgramId(-3); // ignored
  EXPECT_EQ(Engine.ProgramId, 99);
  Engine.ProgramId = file->programs[0]->id;
  Engine.VideoDiscard = AVDISCARD_NONKEY;
  OpenInput("ts_h264_aac.ts");
  EXPECT_NE(Engine.InputFiles[1]->programs[0]->discard, AVDISCARD_ALL);
  EXPECT_EQ(Engine.InputFiles[1]->streams[0]->discard, AVDISCARD_NONKEY);
  EXPECT_FALSE(Engine.InputRateEmu[1]);
}

TEST_F(FilesTest, UnreadableStreamParametersAreNotTakenOver) {
  // With every program discarded nothing of the streams can be read: the file still opens,
  // and the unknown sizes and rates do not replace the option state's.
  Engine.SetProgramId(99);
  Engine.FrameAspectRatio = 1.5f;
  OpenInput("ts_h264_aac.ts");
  EXPECT_EQ(Engine.AudioChannels, 2);
  EXPECT_EQ(Engine.AudioSampleRate, 44100);
  EXPECT_EQ(Engine.FrameWidth, 0);
  EXPECT_EQ(Engine.FrameAspectRatio, 0.0f);
}

TEST_F(FilesTest, RealMediaNamesStandForPlanarYuvWhenThePixelFormatIsUnknown) {
  // A stream whose pixel format cannot be read (its program discarded), under several names.
  const std::pair<const char *, int> cases[] = {
      {"clip.RMVB", AV_PIX_FMT_YUV420P}, {"clip.rm", AV_PIX_FMT_YUV420P},
      {"clip.r", AV_PIX_FMT_YUV420P},    {"clip.ts", AV_PIX_FMT_NONE},
      {"clip.rmx", AV_PIX_FMT_NONE},     {"rm.d/clip", AV_PIX_FMT_NONE},
  };
  for (const auto &[name, expected] : cases) {
    SCOPED_TRACE(name);
    const std::filesystem::path path = Dir.path() / name;
    std::filesystem::create_directories(path.parent_path());
    std::filesystem::copy_file(MediaFile("ts_h264_aac.ts"), path,
                               std::filesystem::copy_options::overwrite_existing);
    Engine.SetProgramId(99);
    Engine.SetInputFormat("mpegts");
    Engine.FramePixFmt = AV_PIX_FMT_RGB24;
    ASSERT_TRUE(Engine.OpenInputFile(path.string())) << Engine.ErrorMessage;
    EXPECT_EQ(Engine.FramePixFmt, expected);
  }
}

TEST_F(FilesTest, ForcedInputFormatNames) {
  EXPECT_NO_THROW(Engine.SetInputFormat(""));
  EXPECT_EQ(Engine.InputFormat, nullptr);
  Engine.SetInputFormat("wav");
  const AVInputFormat *wav = Engine.InputFormat;
  ASSERT_NE(wav, nullptr);
  try {
    Engine.SetInputFormat("no-such-format");
    FAIL() << "no exception";
  } catch (const FFMpegException &e) {
    EXPECT_STREQ(e.what(), "Unknown input format: no-such-format");
  }
  EXPECT_EQ(Engine.InputFormat, wav);
  Engine.SetInputFormat("pgmyuv");
  EXPECT_TRUE(Engine.PgmyuvCompatibilityHack);
  ASSERT_NE(Engine.InputFormat, nullptr);
  EXPECT_STREQ(Engine.InputFormat->name, "image2");
}

TEST_F(FilesTest, CodecNamesBeforeAnInputMustBeDecodersOfTheirKind) {
  struct Case {
    char *TCustomFFmpeg::*Field;
    const char *Name;
    const char *Message;
  } cases[] = {
      {&TCustomFFmpeg::VideoCodecName, "libx264", "Unknown decoder 'libx264'"},
      {&TCustomFFmpeg::VideoCodecName, "mp3", "Invalid decoder type 'mp3'"},
      {&TCustomFFmpeg::AudioCodecName, "h264", "Invalid decoder type 'h264'"},
      {&TCustomFFmpeg::SubtitleCodecName, "nonsense", "Unknown decoder 'nonsense'"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    SetName(Engine.*c.Field, c.Name);
    Engine.SetInputFormat("avi");
    EXPECT_FALSE(Engine.OpenInputFile(MediaFile("avi_mpeg4_mp3.avi")));
    EXPECT_EQ(Engine.ErrorMessage, c.Message);
    EXPECT_EQ(Engine.*c.Field, nullptr);
    EXPECT_EQ(Engine.InputFormat, nullptr);
    EXPECT_EQ(Engine.InputFileCount, 0);
  }
  // The same encoder name is accepted for an output after the input.
  OpenInput("avi_mpeg4_mp3.avi");
  SetName(Engine.VideoCodecName, "libx264");
  ASSERT_TRUE(Engine.OpenOutputFile(Dir.file("out.mp4"))) << Engine.ErrorMessage;
  EXPECT_STREQ(Output(0, 0)->codec->name, "libx264");
}

TEST_F(FilesTest, BadInputsFailWithTheirTextAndAddNothing) {
  const std::string missing = Dir.file("missing.avi");
  const std::string empty = Dir.file("empty.avi");
  const std::string text = Dir.file("notes.avi");
  const std::string truncated = Dir.file("truncated.mp4");
  std::ofstream(empty, std::ios::binary).flush();
  std::ofstream(text) << "These are my notes, not a film.\nSecond line of text.\n";
  {
    // The header of an MP4 whose index (at the end) never arrived.
    std::ifstream whole(MediaFile("anamorphic.mp4"), std::ios::binary);
    std::vector<char> head(4096);
    whole.read(head.data(), static_cast<std::streamsize>(head.size()));
    std::ofstream(truncated, std::ios::binary).write(head.data(), whole.gcount());
  }
  const std::pair<std::string, std::string> cases[] = {
      {missing, missing + ": no such file or directory"},
      {empty, empty + ": Unknown format"},
      {text, text + ": Unknown format"},
      {truncated, truncated + ": Unknown format"},
  };
  for (const auto &[name, message] : cases) {
    SCOPED_TRACE(name);
    SetName(Engine.AudioCodecName, "mp3");
    EXPECT_FALSE(Engine.OpenInputFile(name));
    EXPECT_EQ(Engine.ErrorMessage, message);
    EXPECT_EQ(Engine.InputFileCount, 0);
    EXPECT_EQ(Engine.InputFiles[0], nullptr);
    EXPECT_TRUE(Engine.InputCodecs[0].empty());
    EXPECT_EQ(Engine.AudioCodecName, nullptr);
  }
  // A failure leaves the engine ready for the next input.
  OpenInput("wav_pcm.wav");
  EXPECT_EQ(Engine.InputFileCount, 1);
}

TEST_F(FilesTest, TwentyInputsAtMost) {
  for (int i = 0; i < MaxFiles; ++i)
    OpenInput("wav_pcm.wav");
  EXPECT_FALSE(Engine.OpenInputFile(MediaFile("wav_pcm.wav")));
  EXPECT_NE(Engine.ErrorMessage.find("Too many input files"), std::string::npos);
  EXPECT_EQ(Engine.InputFileCount, MaxFiles);
}

TEST_F(FilesTest, OpenErrorTextsByMeaning) {
  EXPECT_EQ(TCustomFFmpeg::ErrorText("a%s.avi", AVERROR(ENOENT)),
            "a%s.avi: no such file or directory");
  EXPECT_EQ(TCustomFFmpeg::ErrorText("x", AVERROR(EIO)),
            "x: I/O error occurred\r\nUsually that means that input file is truncated and/or "
            "corrupted.");
  EXPECT_EQ(TCustomFFmpeg::ErrorText("x", AVERROR(EDOM)),
            "x: Incorrect image filename syntax.\r\nUse '%d' to specify the image number:\r\n"
            "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n"
            "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'.");
  EXPECT_EQ(TCustomFFmpeg::ErrorText("x", AVERROR_DEMUXER_NOT_FOUND), "x: Unknown format");
  EXPECT_EQ(TCustomFFmpeg::ErrorText("x", AVERROR(EINVAL)), "x: Error while parsing header");
  EXPECT_EQ(TCustomFFmpeg::ErrorText("x", AVERROR(ENOMEM)), "x: memory allocation error occurred");
  EXPECT_EQ(TCustomFFmpeg::ErrorText("x", AVERROR(EPERM)), "x: Error while opening file");
}

// ---------------------------------------------------------------- output files

TEST_F(FilesTest, MuxerFromTheNameOrForced) {
  OpenInput("avi_mpeg4_mp3.avi");
  const std::string mp4 = Dir.file("clip.mp4");
  ASSERT_TRUE(Engine.OpenOutputFile(mp4)) << Engine.ErrorMessage;
  EXPECT_STREQ(Engine.OutputFiles[0]->oformat->name, "mp4");
  EXPECT_TRUE(std::filesystem::exists(mp4)); // opened for writing
  ASSERT_EQ(Engine.OutputFiles[0]->nb_streams, 2u);
  EXPECT_EQ(Output(0, 0)->codec_id, AV_CODEC_ID_H264);
  EXPECT_EQ(Output(0, 1)->codec_id, AV_CODEC_ID_AAC);

  Engine.SetOutputFormat("psp");
  ASSERT_TRUE(Engine.OpenOutputFile(Dir.file("clip2.mp4"))) << Engine.ErrorMessage;
  EXPECT_STREQ(Engine.OutputFiles[1]->oformat->name, "psp");
  EXPECT_EQ(Engine.OutputFormat, nullptr);
  EXPECT_EQ(Engine.OutputFileCount, 2);

  const std::string odd = Dir.file("clip.xyzzy");
  EXPECT_FALSE(Engine.OpenOutputFile(odd));
  EXPECT_EQ(Engine.ErrorMessage, "Unable to find a suitable output format for '" + odd + "'");
  EXPECT_EQ(Engine.OutputFileCount, 2);

  try {
    Engine.SetOutputFormat("no-such-muxer");
    FAIL() << "no exception";
  } catch (const FFMpegException &e) {
    EXPECT_STREQ(e.what(), "Unknown output format: no-such-muxer");
  }
}

TEST_F(FilesTest, StreamKindsFollowTheMuxerAndTheInputs) {
  bool video, audio, subtitle;
  Engine.CheckInputStreamKinds(video, audio, subtitle);
  EXPECT_FALSE(video || audio || subtitle);
  OpenInput("wav_pcm.wav");
  Engine.CheckInputStreamKinds(video, audio, subtitle);
  EXPECT_TRUE(!video && audio && !subtitle);
  OpenInput("subtitles.mkv");
  Engine.CheckInputStreamKinds(video, audio, subtitle);
  EXPECT_TRUE(video && audio && subtitle);

  // Only audio comes from an audio-only input, even though the muxer has a video codec.
  TCustomFFmpeg engine;
  engine.Prepare();
  engine.Verbose = -1;
  ASSERT_TRUE(engine.OpenInputFile(MediaFile("wav_pcm.wav")));
  ASSERT_TRUE(engine.OpenOutputFile(Dir.file("sound.mp4"))) << engine.ErrorMessage;
  ASSERT_EQ(engine.OutputFiles[0]->nb_streams, 1u);
  EXPECT_EQ(engine.OutputCodecs[0][0]->codec_type, AVMEDIA_TYPE_AUDIO);

  // No audio stream from a picture: the audio codec name stays for the next output.
  TCustomFFmpeg still;
  still.Prepare();
  still.Verbose = -1;
  ASSERT_TRUE(still.OpenInputFile(MediaFile("picture.png")));
  SetName(still.AudioCodecName, "mp2");
  ASSERT_TRUE(still.OpenOutputFile(Dir.file("still.mp4"))) << still.ErrorMessage;
  ASSERT_EQ(still.OutputFiles[0]->nb_streams, 1u);
  EXPECT_EQ(still.OutputCodecs[0][0]->codec_type, AVMEDIA_TYPE_VIDEO);
  EXPECT_STREQ(still.AudioCodecName, "mp2");

  // Subtitles are made only when asked for with a name; "vn" drops the video.
  TCustomFFmpeg subs;
  subs.Prepare();
  subs.Verbose = -1;
  ASSERT_TRUE(subs.OpenInputFile(MediaFile("subtitles.mkv")));
  SetName(subs.SubtitleCodecName, "mov_text");
  subs.SubtitleLanguage = "deutsch";
  subs.VideoDisable = true;
  ASSERT_TRUE(subs.OpenOutputFile(Dir.file("subs.mp4"))) << subs.ErrorMessage;
  AVFormatContext *file = subs.OutputFiles[0];
  ASSERT_EQ(file->nb_streams, 2u);
  EXPECT_EQ(subs.OutputCodecs[0][0]->codec_type, AVMEDIA_TYPE_AUDIO);
  EXPECT_EQ(subs.OutputCodecs[0][1]->codec_id, AV_CODEC_ID_MOV_TEXT);
  const AVDictionaryEntry *language = avlib.av_dict_get(file->streams[1]->metadata, "language", nullptr, 0);
  ASSERT_NE(language, nullptr);
  EXPECT_STREQ(language->value, "deu");
  EXPECT_TRUE(subs.SubtitleLanguage.empty());
  EXPECT_EQ(subs.SubtitleCodecName, nullptr);
  // No video stream was made, so "vn" still applies to the next output.
  EXPECT_TRUE(subs.VideoDisable);

  // Without a name, a muxer with a subtitle codec of its own gets a stream of that codec.
  subs.VideoDisable = false;
  ASSERT_TRUE(subs.OpenOutputFile(Dir.file("subs.mkv"))) << subs.ErrorMessage;
  ASSERT_EQ(subs.OutputFiles[1]->nb_streams, 3u);
  AVCodecContext *text = subs.OutputCodecs[1][2];
  EXPECT_EQ(text->codec_type, AVMEDIA_TYPE_SUBTITLE);
  EXPECT_EQ(text->codec_id, AV_CODEC_ID_ASS);
  EXPECT_NE(text->codec, nullptr);
}

TEST_F(FilesTest, VideoStreamTakesTheInputGeometryPadsAndAspect) {
  OpenInput("anamorphic.mp4");
  Engine.PadTop = Engine.PadBottom = 8;
  Engine.PadLeft = 16;
  Engine.FrameAspectRatio = 32.0f / 27 * 736 / 496; // 32:27 pixels on the padded picture
  ASSERT_TRUE(Engine.OpenOutputFile(Dir.file("wide.mp4"))) << Engine.ErrorMessage;
  AVCodecContext *video = Output(0, 0);
  EXPECT_EQ(video->width, 736);
  EXPECT_EQ(video->height, 496);
  EXPECT_EQ(av_cmp_q(video->sample_aspect_ratio, AVRational{32, 27}), 0)
      << video->sample_aspect_ratio.num << ":" << video->sample_aspect_ratio.den;
  EXPECT_EQ(av_cmp_q(video->time_base, AVRational{1001, 30000}), 0);
  EXPECT_EQ(video->pix_fmt, AV_PIX_FMT_YUV420P);
  // The mp4 muxer wants global headers.
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
  EXPECT_TRUE(Output(0, 1)->flags & AV_CODEC_FLAG_GLOBAL_HEADER);

  // The sample aspect ratio is the nearest fraction of terms up to 255.
  Engine.PadTop = Engine.PadBottom = Engine.PadLeft = 0;
  Engine.FrameAspectRatio = 0.123456789f * 720 / 480;
  ASSERT_TRUE(Engine.OpenOutputFile(Dir.file("thin.ts"))) << Engine.ErrorMessage;
  EXPECT_EQ(av_cmp_q(Output(1, 0)->sample_aspect_ratio, AVRational{10, 81}), 0);
  // MPEG-TS carries headers in the stream.
  EXPECT_FALSE(Output(1, 0)->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
}

TEST_F(FilesTest, VideoEncoderSettingsFromTheOptionState) {
  OpenInput("avi_mpeg4_mp3.avi");
  SetName(Engine.VideoCodecName, "mpeg1video");
  Engine.FrameRate = AVRational{26, 1}; // not an MPEG-1 rate: 25 is the nearest
  Engine.FramePixFmt = AV_PIX_FMT_RGB24; // not an MPEG-1 format: its first one is taken
  Engine.VideoQScale = 4;
  Engine.IntraOnly = true;
  Engine.DoPass = 1;
  Engine.DoPsnr = true;
  Engine.IntraDcPrecision = 10;
  Engine.VideoCodecTag = 0x31564D50;
  Engine.IntraMatrix = static_cast<uint16_t *>(avlib.av_malloc(64 * sizeof(uint16_t)));
  for (int i = 0; i < 64; ++i)
    Engine.IntraMatrix[i] = static_cast<uint16_t>(8 + i);
  SetName(Engine.VideoRcOverride, "0,100,5/ 101,200,-50");
  ASSERT_TRUE(Engine.OpenOutputFile(Dir.file("settings.mpg"))) << Engine.ErrorMessage;
  AVCodecContext *video = Output(0, 0);
  EXPECT_STREQ(video->codec->name, "mpeg1video");
  EXPECT_EQ(av_cmp_q(video->time_base, AVRational{1, 25}), 0);
  EXPECT_EQ(video->pix_fmt, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(video->gop_size, 0);
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_QSCALE);
  EXPECT_EQ(video->global_quality, 4 * FF_QP2LAMBDA);
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_PASS1);
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_PSNR);
  EXPECT_EQ(video->intra_dc_precision, 2);
  EXPECT_EQ(video->codec_tag, 0x31564D50u);
  // The encoder gets its own copy of the matrix, which it frees itself.
  ASSERT_NE(video->intra_matrix, nullptr);
  EXPECT_NE(video->intra_matrix, Engine.IntraMatrix);
  EXPECT_EQ(video->intra_matrix[63], 71);
  EXPECT_EQ(video->inter_matrix, nullptr);

  ASSERT_EQ(video->rc_override_count, 2);
  EXPECT_EQ(video->rc_override[0].start_frame, 0);
  EXPECT_EQ(video->rc_override[0].end_frame, 100);
  EXPECT_EQ(video->rc_override[0].qscale, 5);
  EXPECT_FLOAT_EQ(video->rc_override[0].quality_factor, 1.0f);
  EXPECT_EQ(video->rc_override[1].start_frame, 101);
  EXPECT_EQ(video->rc_override[1].end_frame, 200);
  EXPECT_EQ(video->rc_override[1].qscale, 0);
  EXPECT_FLOAT_EQ(video->rc_override[1].quality_factor, 0.5f);

  // The MPEG program stream muxer gets its preload among its private options.
  const AVDictionaryEntry *preload =
      avlib.av_dict_get(Engine.OutputFormatOptions[0], "preload", nullptr, 0);
  ASSERT_NE(preload, nullptr);
  EXPECT_STREQ(preload->value, "500000");
  EXPECT_EQ(Engine.OutputFiles[0]->max_delay, 700000);
  EXPECT_EQ(Engine.VideoCodecName, nullptr);
}

TEST_F(FilesTest, FrameRateChoiceAmongTheSupportedRates) {
  const AVRational ntsc[] = {{24000, 1001}, {30000, 1001}, {0, 0}};
  EXPECT_EQ(av_cmp_q(TCustomFFmpeg::ClosestFrameRate({25, 1}, ntsc), AVRational{24000, 1001}), 0);
  EXPECT_EQ(av_cmp_q(TCustomFFmpeg::ClosestFrameRate({29, 1}, ntsc), AVRational{30000, 1001}), 0);
  // Equally near: the first listed wins.
  const AVRational whole[] = {{24, 1}, {25, 1}, {0, 0}};
  EXPECT_EQ(av_cmp_q(TCustomFFmpeg::ClosestFrameRate({49, 2}, whole), AVRational{24, 1}), 0);
  const AVRational none[] = {{0, 0}};
  EXPECT_EQ(av_cmp_q(TCustomFFmpeg::ClosestFrameRate({49, 2}, none), AVRational{49, 2}), 0);
  EXPECT_EQ(av_cmp_q(TCustomFFmpeg::ClosestFrameRate({49, 2}, nullptr), AVRational{49, 2}), 0);

  // With no input and no rate, the time base is 1/25.
  ASSERT_TRUE(Engine.OpenOutputFile(Dir.file("blank.mp4"))) << Engine.ErrorMessage;
  EXPECT_EQ(av_cmp_q(Output(0, 0)->time_base, AVRational{1, 25}), 0);
}

TEST_F(FilesTest, StreamFailuresLeaveNoHalfMadeFile) {
  OpenInput("avi_mpeg4_mp3.avi");
  const std::string name = Dir.file("bad.mp4");
  struct Case {
    const char *Override, *Video, *Audio;
    std::string Message;
  } cases[] = {
      {"0,100", nullptr, nullptr, "new_video_stream fail: error parsing rc_override"},
      {"0,100,5/x,2,3", nullptr, nullptr, "new_video_stream fail: error parsing rc_override"},
      {nullptr, "nosuch", nullptr, "new_video_stream fail: Unknown encoder 'nosuch'"},
      {nullptr, "aac", nullptr, "new_video_stream fail: Invalid encoder type 'aac'"},
      {nullptr, nullptr, "mpeg4", "new_audio_stream fail: Invalid encoder type 'mpeg4'"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Message);
    SetName(Engine.VideoRcOverride, c.Override);
    SetName(Engine.VideoCodecName, c.Video);
    SetName(Engine.AudioCodecName, c.Audio);
    Engine.AudioLanguage = "eng";
    Engine.SetOutputFormat("mp4");
    EXPECT_FALSE(Engine.OpenOutputFile(name));
    EXPECT_EQ(Engine.ErrorMessage, c.Message);
    EXPECT_EQ(Engine.OutputFileCount, 0);
    EXPECT_EQ(Engine.OutputFiles[0], nullptr);
    EXPECT_EQ(Engine.OutputCodecs[0][0], nullptr);
    EXPECT_EQ(Engine.OutputFormat, nullptr);
    EXPECT_FALSE(std::filesystem::exists(name));
    if (c.Video) {
      EXPECT_EQ(Engine.VideoCodecName, nullptr);
    }
    if (c.Audio) {
      EXPECT_EQ(Engine.AudioCodecName, nullptr);
      EXPECT_TRUE(Engine.AudioLanguage.empty());
    }
  }
  SetName(Engine.VideoRcOverride, nullptr);

  // A file that cannot be created.
  const std::string unreachable = Dir.file("no-such-folder/out.mp4");
  EXPECT_FALSE(Engine.OpenOutputFile(unreachable));
  EXPECT_EQ(Engine.ErrorMessage, "Could not open '" + unreachable + "'");
  EXPECT_EQ(Engine.OutputFileCount, 0);
  EXPECT_EQ(Engine.OutputCodecs[0][0], nullptr);
}

TEST_F(FilesTest, StreamCopyAndPerStreamResets) {
  OpenInput("avi_mpeg4_mp3.avi");
  Engine.VideoStreamCopy = true;
  Engine.AudioLanguage = "english";
  ASSERT_TRUE(Engine.OpenOutputFile(Dir.file("copy.avi"))) << Engine.ErrorMessage;
  EXPECT_TRUE(Engine.OutputStreamCopy[0][0]);
  EXPECT_FALSE(Engine.OutputStreamCopy[0][1]);
  EXPECT_EQ(Output(0, 0)->codec_type, AVMEDIA_TYPE_VIDEO);
  EXPECT_EQ(Output(0, 0)->codec, nullptr);
  EXPECT_FALSE(Engine.VideoStreamCopy);
  const AVDictionaryEntry *language =
      avlib.av_dict_get(Engine.OutputFiles[0]->streams[1]->metadata, "language", nullptr, 0);
  ASSERT_NE(language, nullptr);
  EXPECT_STREQ(language->value, "eng");
  EXPECT_TRUE(Engine.AudioLanguage.empty());

  // The next output encodes its video again.
  ASSERT_TRUE(Engine.OpenOutputFile(Dir.file("again.avi"))) << Engine.ErrorMessage;
  EXPECT_FALSE(Engine.OutputStreamCopy[1][0]);
  EXPECT_NE(Output(1, 0)->codec, nullptr);

  // A further stream added to the last file gets the next slot of that file.
  Engine.NewAudioStream(Engine.OutputFiles[1]);
  EXPECT_EQ(Engine.OutputFiles[1]->nb_streams, 3u);
  EXPECT_EQ(Output(1, 2)->codec_type, AVMEDIA_TYPE_AUDIO);
  EXPECT_EQ(Engine.OutputCodecs[2][0], nullptr);
}

TEST_F(FilesTest, MetadataOfTheOutputFile) {
  OpenInput("wav_pcm.wav");
  Engine.Title = "A title";
  Engine.Author = "Somebody";
  Engine.Genre = std::string(40, 'g');
  Engine.Year = 2008;
  Engine.Track = 0; // not set
  Engine.RecTimestamp = 1200000000;
  ASSERT_TRUE(Engine.OpenOutputFile(Dir.file("tagged.mp4"))) << Engine.ErrorMessage;
  AVDictionary *metadata = Engine.OutputFiles[0]->metadata;
  auto value = [&](const char *AKey) -> std::string {
    const AVDictionaryEntry *e = avlib.av_dict_get(metadata, AKey, nullptr, 0);
    return e ? e->value : "(none)";
  };
  EXPECT_EQ(value("title"), "A title");
  EXPECT_EQ(value("artist"), "Somebody");
  EXPECT_EQ(value("genre"), std::string(31, 'g'));
  EXPECT_EQ(value("date"), "2008");
  EXPECT_EQ(value("track"), "(none)");
  EXPECT_EQ(value("comment"), "(none)");
  EXPECT_EQ(value("creation_time"), "2008-01-10T21:20:00.000000Z");
}

TEST_F(FilesTest, TwentyOutputsAtMost) {
  for (int i = 0; i < MaxFiles; ++i) {
    Engine.SetOutputFormat("null"); // writes no file
    ASSERT_TRUE(Engine.OpenOutputFile("out" + std::to_string(i))) << Engine.ErrorMessage;
  }
  Engine.SetOutputFormat("null");
  EXPECT_FALSE(Engine.OpenOutputFile("one-more"));
  EXPECT_NE(Engine.ErrorMessage.find("Too many output files"), std::string::npos);
  EXPECT_EQ(Engine.OutputFileCount, MaxFiles);
}

} // namespace
