// Opening input files and creating output files with their streams.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/custom_ffmpeg.h"
#include "support/test_support.h"

namespace {

using testing_support::MediaFile;

class FilesTest : public ::testing::Test {
protected:
  void SetUp() override {
    testing_support::RequireMediaLibraries();
    Engine.Prepare();
    Engine.Verbose = -1;
  }
  void OpenInput(const std::string &AName) {
    ASSERT_TRUE(Engine.OpenInputFile(MediaFile(AName))) << AName << ": " << Engine.ErrorMessage;
  }
  void OpenOutput(const std::string &AName) {
    ASSERT_TRUE(Engine.OpenOutputFile(Dir.file(AName))) << AName << ": " << Engine.ErrorMessage;
  }
  AVCodecContext *Output(int AFile, int AStream) { return Engine.OutputCodecs[AFile][AStream]; }
  template <typename F> static std::string MessageOf(F AAction) {
    try {
      AAction();
    } catch (const FFMpegException &e) {
      return e.what();
    }
    return "(no exception)";
  }
  std::string Tag(AVDictionary *ADict, const char *AKey) {
    const AVDictionaryEntry *e = avlib.av_dict_get(ADict, AKey, nullptr, 0);
    return e ? e->value : "(none)";
  }

  TCustomFFmpeg Engine;
  testing_support::TempDir Dir;
};

// ---------------------------------------------------------------- input files

TEST_F(FilesTest, EveryKindOfInputOpensAndHandsItsParametersOver) {
  struct Expect {
    const char *Name;
    int Width, Height;        // 0: no video
    AVRational Rate;          // 0/0: not checked
    int SampleRate, Channels; // 0: no audio
    double Aspect;            // 0: not checked
  } inputs[] = {
      {"avi_mpeg4_mp3.avi", 320, 240, {25, 1}, 44100, 2, 4.0 / 3},
      {"mkv_h264_vorbis.mkv", 320, 240, {25, 1}, 44100, 2, 4.0 / 3},
      {"mov_h264_aac.mov", 320, 240, {25, 1}, 44100, 2, 0},
      {"flv_h264_aac.flv", 320, 240, {25, 1}, 44100, 2, 0},
      {"mpg_mpeg2_mp2.mpg", 320, 240, {25, 1}, 48000, 2, 4.0 / 3},
      {"ts_h264_aac.ts", 320, 240, {25, 1}, 44100, 2, 0},
      {"webm_vp8_vorbis.webm", 320, 240, {25, 1}, 44100, 2, 0},
      {"ogg_theora_vorbis.ogv", 320, 240, {25, 1}, 44100, 2, 0},
      {"3gp_h263_aac.3gp", 176, 144, {15, 1}, 22050, 1, 4.0 / 3}, // 12:11 pixels
      {"wav_pcm.wav", 0, 0, {0, 0}, 44100, 2, 0},
      {"mp3_audio.mp3", 0, 0, {0, 0}, 44100, 2, 0},
      {"picture.png", 320, 240, {0, 0}, 0, 0, 4.0 / 3},
      {"picture.jpg", 320, 240, {0, 0}, 0, 0, 4.0 / 3},
      {"two_audio.mkv", 320, 240, {25, 1}, 44100, 2, 0},
      {"subtitles.mkv", 320, 240, {25, 1}, 44100, 2, 0},
      {"anamorphic.mp4", 720, 480, {30000, 1001}, 44100, 2, 16.0 / 9}, // 32:27 pixels
      {"interlaced.mkv", 720, 576, {0, 0}, 48000, 2, 0},
      {"start_time.ts", 320, 240, {25, 1}, 44100, 2, 0},
      {"aac_51.mp4", 320, 240, {25, 1}, 48000, 6, 0},
  };
  for (const Expect &in : inputs) {
    SCOPED_TRACE(in.Name);
    TCustomFFmpeg engine;
    engine.Prepare();
    engine.Verbose = -1;
    engine.AudioSampleRate = 8000; // values no input has, so a missed take-over shows
    engine.AudioChannels = 3;
    ASSERT_TRUE(engine.OpenInputFile(MediaFile(in.Name))) << engine.ErrorMessage;
    ASSERT_EQ(engine.InputFileCount, 1);
    AVFormatContext *file = engine.InputFiles[0];
    // One decoder context per stream, filled from the stream.
    ASSERT_EQ(engine.InputCodecs[0].size(), file->nb_streams);
    for (unsigned i = 0; i < file->nb_streams; ++i) {
      EXPECT_EQ(engine.InputCodecs[0][i]->codec_type, file->streams[i]->codecpar->codec_type);
      EXPECT_EQ(engine.InputCodecs[0][i]->codec_id, file->streams[i]->codecpar->codec_id);
    }
    EXPECT_EQ(engine.FrameWidth, in.Width);
    EXPECT_EQ(engine.FrameHeight, in.Height);
    EXPECT_EQ(engine.FramePixFmt >= 0, in.Width > 0);
    EXPECT_TRUE(in.Rate.num == 0 || av_cmp_q(engine.FrameRate, in.Rate) == 0)
        << engine.FrameRate.num << "/" << engine.FrameRate.den;
    EXPECT_TRUE(in.Aspect == 0 || std::abs(engine.FrameAspectRatio - in.Aspect) < 0.001)
        << engine.FrameAspectRatio;
    EXPECT_EQ(engine.AudioSampleRate, in.SampleRate ? in.SampleRate : 8000);
    EXPECT_EQ(engine.AudioChannels, in.Channels ? in.Channels : 3);
    // Stills have no duration; everything else lasts about 2.5 s.
    if (in.Rate.num != 0 || in.SampleRate != 0) {
      EXPECT_GE(engine.OutputDurationMs, 2400);
      EXPECT_LE(engine.OutputDurationMs, 2700);
    }
  }
}

TEST_F(FilesTest, DurationAndTimestampOffsets) {
  Engine.OutputDurationMs = 90000; // a longer earlier input stays
  OpenInput("wav_pcm.wav");
  EXPECT_EQ(Engine.OutputDurationMs, 90000);

  // The file's own start (about 10 s) is taken off unless timestamps are kept.
  Engine.OutputDurationMs = -1;
  OpenInput("start_time.ts");
  const int64_t fileStart = Engine.InputFiles[1]->start_time;
  ASSERT_GT(fileStart, 9000000);
  EXPECT_EQ(Engine.InputTsOffsets[1], -fileStart);
  EXPECT_NEAR(Engine.OutputDurationMs, 2540, 30);
  Engine.CopyTs = true;
  Engine.InputTsOffset = 500000;
  OpenInput("start_time.ts");
  EXPECT_EQ(Engine.InputTsOffsets[2], 500000);

  // A start position counts from the file's start and is used up by the first seek.
  Engine.CopyTs = false;
  Engine.InputTsOffset = 0;
  Engine.SetStartTime(1000000);
  Engine.SetStartTime(-5);
  OpenInput("start_time.ts");
  EXPECT_EQ(Engine.InputTsOffsets[3], -(fileStart + 1000000));
  EXPECT_EQ(Engine.StartTime, 0);
  OpenInput("start_time.ts");
  EXPECT_EQ(Engine.InputTsOffsets[4], -fileStart);
}

TEST_F(FilesTest, PerInputOptionsAreUsedOnceAndDiscardsApplied) {
  Engine.SetInputFormat("mpegts");
  Engine.SetVideoCodec("h264"); // a forced decoder
  Engine.SetOption("re", "");
  Engine.SetOption("an", "");
  Engine.SetOption("vdt", "32");
  OpenInput("ts_h264_aac.ts");
  AVFormatContext *file = Engine.InputFiles[0];
  EXPECT_STREQ(file->iformat->name, "mpegts");
  EXPECT_EQ(file->video_codec_id, AV_CODEC_ID_H264);
  EXPECT_EQ(file->streams[0]->discard, AVDISCARD_NONKEY);
  EXPECT_EQ(file->streams[1]->discard, AVDISCARD_ALL);
  EXPECT_TRUE(Engine.InputRateEmu[0]);
  EXPECT_EQ(Engine.InputFormat, nullptr);
  EXPECT_EQ(Engine.VideoCodecName, nullptr);
  EXPECT_FALSE(Engine.RateEmu);

  // A program id that exists keeps its program; any other discards every program.
  Engine.SetProgramId(file->programs[0]->id);
  Engine.SetProgramId(-3);
  OpenInput("ts_h264_aac.ts");
  EXPECT_NE(Engine.InputFiles[1]->programs[0]->discard, AVDISCARD_ALL);
  EXPECT_FALSE(Engine.InputRateEmu[1]);
  Engine.SetProgramId(99);
  OpenInput("ts_h264_aac.ts");
  EXPECT_EQ(Engine.InputFiles[2]->programs[0]->discard, AVDISCARD_ALL);
}

TEST_F(FilesTest, UnreadableParametersAndRealMediaNames) {
  // With its program discarded nothing of a stream can be read: the file still opens, the
  // unknown values are not taken over, and a RealMedia name stands for planar YUV 4:2:0.
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
    Engine.FrameAspectRatio = 1.5f;
    ASSERT_TRUE(Engine.OpenInputFile(path.string())) << Engine.ErrorMessage;
    EXPECT_EQ(Engine.FramePixFmt, expected);
    EXPECT_EQ(Engine.AudioChannels, 2);
    EXPECT_EQ(Engine.AudioSampleRate, 44100);
    EXPECT_EQ(Engine.FrameAspectRatio, 0.0f);
  }
}

TEST_F(FilesTest, ForcedInputFormatsAndCodecNames) {
  Engine.SetInputFormat("wav");
  const AVInputFormat *wav = Engine.InputFormat;
  ASSERT_NE(wav, nullptr);
  EXPECT_EQ(MessageOf([&] { Engine.SetInputFormat("no-such"); }), "Unknown input format: no-such");
  EXPECT_EQ(Engine.InputFormat, wav);
  Engine.SetInputFormat("pgmyuv");
  EXPECT_TRUE(Engine.PgmyuvCompatibilityHack);
  EXPECT_STREQ(Engine.InputFormat->name, "image2");
  Engine.PgmyuvCompatibilityHack = false;

  // Before an input, codec names must be decoders of their kind.
  const std::pair<const char *, const char *> cases[] = {
      {"vcodec=libx264", "Unknown decoder 'libx264'"},
      {"vcodec=mp3", "Invalid decoder type 'mp3'"},
      {"acodec=h264", "Invalid decoder type 'h264'"},
      {"scodec=nonsense", "Unknown decoder 'nonsense'"},
  };
  for (const auto &[option, message] : cases) {
    SCOPED_TRACE(option);
    Engine.SetOptionText(option);
    Engine.SetInputFormat("avi");
    EXPECT_FALSE(Engine.OpenInputFile(MediaFile("avi_mpeg4_mp3.avi")));
    EXPECT_EQ(Engine.ErrorMessage, message);
    EXPECT_TRUE(!Engine.VideoCodecName && !Engine.AudioCodecName && !Engine.SubtitleCodecName);
    EXPECT_EQ(Engine.InputFormat, nullptr);
    EXPECT_EQ(Engine.InputFileCount, 0);
  }
  // The same encoder name is taken for an output after the input.
  OpenInput("avi_mpeg4_mp3.avi");
  Engine.SetVideoCodec("libx264");
  OpenOutput("out.mp4");
  EXPECT_STREQ(Output(0, 0)->codec->name, "libx264");
}

TEST_F(FilesTest, BadInputsFailWithTheirTextAndAddNothing) {
  const std::string missing = Dir.file("missing.avi"), empty = Dir.file("empty.avi"),
                    text = Dir.file("notes.avi"), truncated = Dir.file("truncated.mp4");
  std::ofstream(empty, std::ios::binary).flush();
  std::ofstream(text) << "These are my notes, not a film.\nSecond line of text.\n";
  {
    // The head of an MP4 whose index (at its end) never arrived.
    std::ifstream whole(MediaFile("anamorphic.mp4"), std::ios::binary);
    std::vector<char> head(4096);
    whole.read(head.data(), static_cast<std::streamsize>(head.size()));
    std::ofstream(truncated, std::ios::binary).write(head.data(), whole.gcount());
  }
  for (const auto &[name, message] : {std::pair{missing, ": no such file or directory"},
                                      {empty, ": Unknown format"},
                                      {text, ": Unknown format"},
                                      {truncated, ": Error while parsing header"}}) {
    SCOPED_TRACE(name);
    Engine.SetAudioCodec("mp3");
    EXPECT_FALSE(Engine.OpenInputFile(name));
    EXPECT_EQ(Engine.ErrorMessage, name + message);
    EXPECT_EQ(Engine.InputFileCount, 0);
    EXPECT_EQ(Engine.InputFiles[0], nullptr);
    EXPECT_TRUE(Engine.InputCodecs[0].empty());
    EXPECT_EQ(Engine.AudioCodecName, nullptr);
  }
  EXPECT_EQ(TCustomFFmpeg::ErrorText("a%s", AVERROR(EIO)),
            "a%s: I/O error occurred\r\n"
            "Usually that means that input file is truncated and/or corrupted.");
  // Twenty inputs at most; the engine stays usable after every failure.
  for (int i = 0; i < MaxFiles; ++i)
    OpenInput("wav_pcm.wav");
  EXPECT_FALSE(Engine.OpenInputFile(MediaFile("wav_pcm.wav")));
  EXPECT_NE(Engine.ErrorMessage.find("Too many input files"), std::string::npos);
  EXPECT_EQ(Engine.InputFileCount, MaxFiles);
}

// ---------------------------------------------------------------- output files

TEST_F(FilesTest, MuxerFromTheNameOrForced) {
  OpenInput("avi_mpeg4_mp3.avi");
  OpenOutput("clip.mp4");
  EXPECT_STREQ(Engine.OutputFiles[0]->oformat->name, "mp4");
  EXPECT_TRUE(std::filesystem::exists(Dir.file("clip.mp4"))); // opened for writing
  ASSERT_EQ(Engine.OutputFiles[0]->nb_streams, 2u);
  EXPECT_EQ(Output(0, 0)->codec_id, AV_CODEC_ID_H264);
  EXPECT_EQ(Output(0, 1)->codec_id, AV_CODEC_ID_AAC);

  Engine.SetOutputFormat("psp");
  OpenOutput("clip2.mp4");
  EXPECT_STREQ(Engine.OutputFiles[1]->oformat->name, "psp");
  EXPECT_EQ(Engine.OutputFormat, nullptr);

  // An empty output is removed when released, but not a file that has taken its name meanwhile
  // (a run may end long after the name was given up).
  std::filesystem::remove(Dir.file("clip.mp4"));
  std::ofstream(Dir.file("clip.mp4"), std::ios::binary).flush();
  Engine.FreeFiles();
  EXPECT_TRUE(std::filesystem::exists(Dir.file("clip.mp4")));
  EXPECT_FALSE(std::filesystem::exists(Dir.file("clip2.mp4")));
  OpenInput("avi_mpeg4_mp3.avi");
  OpenOutput("clip.mp4");
  Engine.SetOutputFormat("psp");
  OpenOutput("clip2.mp4");

  const std::string odd = Dir.file("clip.xyzzy");
  EXPECT_FALSE(Engine.OpenOutputFile(odd));
  EXPECT_EQ(Engine.ErrorMessage, "Unable to find a suitable output format for '" + odd + "'");
  EXPECT_EQ(Engine.OutputFileCount, 2);
  EXPECT_EQ(MessageOf([&] { Engine.SetOutputFormat("no-such"); }),
            "Unknown output format: no-such");

  // Twenty outputs at most.
  for (int i = 2; i < MaxFiles; ++i) {
    Engine.SetOutputFormat("null"); // writes no file
    OpenOutput("null" + std::to_string(i));
  }
  Engine.SetOutputFormat("null");
  EXPECT_FALSE(Engine.OpenOutputFile("one-more"));
  EXPECT_NE(Engine.ErrorMessage.find("Too many output files"), std::string::npos);
  EXPECT_EQ(Engine.OutputFileCount, MaxFiles);
}

TEST_F(FilesTest, StreamKindsFollowTheMuxerAndTheInputs) {
  bool video, audio, subtitle;
  Engine.CheckInputStreamKinds(video, audio, subtitle);
  EXPECT_FALSE(video || audio || subtitle);
  OpenInput("wav_pcm.wav");
  Engine.CheckInputStreamKinds(video, audio, subtitle);
  EXPECT_TRUE(!video && audio && !subtitle);
  // Only audio from an audio-only input, though the muxer has a video codec.
  OpenOutput("sound.mp4");
  ASSERT_EQ(Engine.OutputFiles[0]->nb_streams, 1u);
  EXPECT_EQ(Output(0, 0)->codec_type, AVMEDIA_TYPE_AUDIO);

  TCustomFFmpeg still;
  still.Prepare();
  still.Verbose = -1;
  ASSERT_TRUE(still.OpenInputFile(MediaFile("picture.png")));
  // No audio stream from a picture: the audio codec name stays for the next output.
  still.SetAudioCodec("mp2");
  ASSERT_TRUE(still.OpenOutputFile(Dir.file("still.mp4"))) << still.ErrorMessage;
  ASSERT_EQ(still.OutputFiles[0]->nb_streams, 1u);
  EXPECT_STREQ(still.AudioCodecName, "mp2");

  TCustomFFmpeg subs;
  subs.Prepare();
  subs.Verbose = -1;
  ASSERT_TRUE(subs.OpenInputFile(MediaFile("subtitles.mkv")));
  subs.CheckInputStreamKinds(video, audio, subtitle);
  EXPECT_TRUE(video && audio && subtitle);
  // MP4 has no subtitle codec of its own: subtitles only when named. "vn" drops the video
  // and, with no video stream made, stays for the next output.
  subs.SetSubtitleCodec("mov_text");
  subs.SubtitleLanguage = "deutsch";
  subs.VideoDisable = true;
  ASSERT_TRUE(subs.OpenOutputFile(Dir.file("subs.mp4"))) << subs.ErrorMessage;
  ASSERT_EQ(subs.OutputFiles[0]->nb_streams, 2u);
  EXPECT_EQ(subs.OutputCodecs[0][1]->codec_id, AV_CODEC_ID_MOV_TEXT);
  EXPECT_EQ(Tag(subs.OutputFiles[0]->streams[1]->metadata, "language"), "deu");
  EXPECT_TRUE(subs.SubtitleLanguage.empty());
  EXPECT_TRUE(subs.VideoDisable);
  // Matroska has one (ASS): an unnamed subtitle stream gets that encoder.
  subs.VideoDisable = false;
  ASSERT_TRUE(subs.OpenOutputFile(Dir.file("subs.mkv"))) << subs.ErrorMessage;
  ASSERT_EQ(subs.OutputFiles[1]->nb_streams, 3u);
  EXPECT_EQ(subs.OutputCodecs[1][2]->codec_id, AV_CODEC_ID_ASS);
  EXPECT_NE(subs.OutputCodecs[1][2]->codec, nullptr);
}

TEST_F(FilesTest, VideoGeometryAspectAndHeaders) {
  OpenInput("anamorphic.mp4");
  Engine.SetOption("padtop", "8");
  Engine.SetOption("padbottom", "8");
  Engine.SetOption("padleft", "16");
  Engine.FrameAspectRatio = 32.0f / 27 * 736 / 496; // 32:27 pixels on the padded picture
  OpenOutput("wide.mp4");
  AVCodecContext *video = Output(0, 0);
  EXPECT_EQ(video->width, 736);
  EXPECT_EQ(video->height, 496);
  EXPECT_EQ(av_cmp_q(video->sample_aspect_ratio, AVRational{32, 27}), 0);
  EXPECT_EQ(av_cmp_q(video->time_base, AVRational{1001, 30000}), 0);
  EXPECT_EQ(video->pix_fmt, AV_PIX_FMT_YUV420P);
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_GLOBAL_HEADER); // MP4 wants global headers
  EXPECT_TRUE(Output(0, 1)->flags & AV_CODEC_FLAG_GLOBAL_HEADER);

  // The nearest fraction of terms up to 255; MPEG-TS keeps its headers in the stream.
  Engine.PadTop = Engine.PadBottom = Engine.PadLeft = 0;
  Engine.FrameAspectRatio = 0.123456789f * 720 / 480;
  OpenOutput("thin.ts");
  EXPECT_EQ(av_cmp_q(Output(1, 0)->sample_aspect_ratio, AVRational{10, 81}), 0);
  EXPECT_FALSE(Output(1, 0)->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
}

TEST_F(FilesTest, VideoEncoderSettingsFromTheOptionState) {
  OpenInput("avi_mpeg4_mp3.avi");
  Engine.SetOptionText("vcodec=mpeg1video\nr=26\npix_fmt=rgb24\nqscale=4\nintra\npass=1\npsnr\n"
                       "dc=10\nvtag=PMV1\nrc_override=0,100,5/ 101,200,-50");
  Engine.IntraMatrix = static_cast<uint16_t *>(avlib.av_malloc(64 * sizeof(uint16_t)));
  for (int i = 0; i < 64; ++i)
    Engine.IntraMatrix[i] = static_cast<uint16_t>(8 + i);
  OpenOutput("settings.mpg");
  AVCodecContext *video = Output(0, 0);
  EXPECT_STREQ(video->codec->name, "mpeg1video");
  EXPECT_EQ(av_cmp_q(video->time_base, AVRational{1, 25}), 0); // 26 is no MPEG-1 rate
  EXPECT_EQ(video->pix_fmt, AV_PIX_FMT_YUV420P);               // nor rgb24 an MPEG-1 format
  EXPECT_EQ(video->gop_size, 0);
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_QSCALE);
  EXPECT_EQ(video->global_quality, 4 * FF_QP2LAMBDA);
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_PASS1);
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_PSNR);
  EXPECT_EQ(video->intra_dc_precision, 2);
  EXPECT_EQ(video->codec_tag, MKTAG('P', 'M', 'V', '1'));
  // The encoder gets its own copy of the matrix: it frees it itself.
  ASSERT_NE(video->intra_matrix, nullptr);
  EXPECT_NE(video->intra_matrix, Engine.IntraMatrix);
  EXPECT_EQ(video->intra_matrix[63], 71);

  ASSERT_EQ(video->rc_override_count, 2);
  const RcOverride &first = video->rc_override[0], &second = video->rc_override[1];
  EXPECT_EQ(std::vector<int>({first.start_frame, first.end_frame, first.qscale}),
            std::vector<int>({0, 100, 5}));
  EXPECT_FLOAT_EQ(first.quality_factor, 1.0f);
  EXPECT_EQ(std::vector<int>({second.start_frame, second.end_frame, second.qscale}),
            std::vector<int>({101, 200, 0}));
  EXPECT_FLOAT_EQ(second.quality_factor, 0.5f);

  // The program stream muxer finds its preload among its private options.
  EXPECT_EQ(Tag(Engine.OutputFormatOptions[0], "preload"), "500000");
  EXPECT_EQ(Engine.OutputFiles[0]->max_delay, 700000);
  EXPECT_EQ(Engine.VideoCodecName, nullptr);
}

TEST_F(FilesTest, FrameRateChoiceAmongTheSupportedRates) {
  const AVRational ntsc[] = {{24000, 1001}, {30000, 1001}, {0, 0}};
  EXPECT_EQ(av_cmp_q(TCustomFFmpeg::ClosestFrameRate({25, 1}, ntsc), AVRational{24000, 1001}), 0);
  EXPECT_EQ(av_cmp_q(TCustomFFmpeg::ClosestFrameRate({29, 1}, ntsc), AVRational{30000, 1001}), 0);
  const AVRational whole[] = {{24, 1}, {25, 1}, {0, 0}}; // equally near: the first wins
  EXPECT_EQ(av_cmp_q(TCustomFFmpeg::ClosestFrameRate({49, 2}, whole), AVRational{24, 1}), 0);
  EXPECT_EQ(av_cmp_q(TCustomFFmpeg::ClosestFrameRate({49, 2}, nullptr), AVRational{49, 2}), 0);
  // No input and no rate: 1/25.
  OpenOutput("blank.mp4");
  EXPECT_EQ(av_cmp_q(Output(0, 0)->time_base, AVRational{1, 25}), 0);
}

TEST_F(FilesTest, StreamFailuresLeaveNoHalfMadeFile) {
  OpenInput("avi_mpeg4_mp3.avi");
  const std::string name = Dir.file("bad.mp4");
  const std::pair<const char *, const char *> cases[] = {
      {"rc_override=0,100", "new_video_stream fail: error parsing rc_override"},
      {"rc_override=0,100,5/x,2,3", "new_video_stream fail: error parsing rc_override"},
      {"vcodec=nosuch", "new_video_stream fail: Unknown encoder 'nosuch'"},
      {"vcodec=aac", "new_video_stream fail: Invalid encoder type 'aac'"},
      {"acodec=mpeg4", "new_audio_stream fail: Invalid encoder type 'mpeg4'"},
  };
  for (const auto &[option, message] : cases) {
    SCOPED_TRACE(option);
    Engine.SetOptionText(option);
    Engine.AudioLanguage = "eng";
    Engine.SetOutputFormat("mp4");
    EXPECT_FALSE(Engine.OpenOutputFile(name));
    EXPECT_EQ(Engine.ErrorMessage, message);
    EXPECT_EQ(Engine.OutputFileCount, 0);
    EXPECT_EQ(Engine.OutputFiles[0], nullptr);
    EXPECT_EQ(Engine.OutputCodecs[0][0], nullptr);
    EXPECT_EQ(Engine.OutputFormat, nullptr);
    EXPECT_FALSE(std::filesystem::exists(name));
    EXPECT_TRUE(!Engine.VideoCodecName && !Engine.AudioCodecName);
    avlib.av_freep(&Engine.VideoRcOverride);
  }
  EXPECT_TRUE(Engine.AudioLanguage.empty()); // dropped with the failed audio stream

  const std::string unreachable = Dir.file("no-such-folder/out.mp4");
  EXPECT_FALSE(Engine.OpenOutputFile(unreachable));
  EXPECT_EQ(Engine.ErrorMessage, "Could not open '" + unreachable + "'");
  EXPECT_EQ(Engine.OutputFileCount, 0);
  EXPECT_EQ(Engine.OutputCodecs[0][0], nullptr);
}

TEST_F(FilesTest, StreamCopyLanguagesMetadataAndAddedStreams) {
  OpenInput("avi_mpeg4_mp3.avi");
  Engine.SetVideoCodec("copy");
  Engine.AudioLanguage = "english";
  Engine.SetOptionText("title=A title\nauthor=Somebody\ngenre=" + std::string(40, 'g'));
  Engine.SetYear(2008);
  Engine.RecTimestamp = 1200000000;
  OpenOutput("copy.mkv");
  AVFormatContext *file = Engine.OutputFiles[0];
  EXPECT_TRUE(Engine.OutputStreamCopy[0][0]);
  EXPECT_FALSE(Engine.OutputStreamCopy[0][1]);
  EXPECT_EQ(Output(0, 0)->codec_type, AVMEDIA_TYPE_VIDEO);
  EXPECT_EQ(Output(0, 0)->codec, nullptr);
  EXPECT_FALSE(Engine.VideoStreamCopy);
  EXPECT_EQ(Tag(file->streams[1]->metadata, "language"), "eng");
  EXPECT_TRUE(Engine.AudioLanguage.empty());
  EXPECT_EQ(Tag(file->metadata, "title"), "A title");
  EXPECT_EQ(Tag(file->metadata, "artist"), "Somebody");
  EXPECT_EQ(Tag(file->metadata, "genre"), std::string(31, 'g'));
  EXPECT_EQ(Tag(file->metadata, "date"), "2008");
  EXPECT_EQ(Tag(file->metadata, "track"), "(none)");
  EXPECT_EQ(Tag(file->metadata, "creation_time"), "2008-01-10T21:20:00.000000Z");

  // The next output encodes its video again; "newaudio" adds to the last file.
  OpenOutput("again.mkv");
  EXPECT_FALSE(Engine.OutputStreamCopy[1][0]);
  EXPECT_NE(Output(1, 0)->codec, nullptr);
  Engine.SetOption("newaudio", "");
  EXPECT_EQ(Engine.OutputFiles[1]->nb_streams, 3u);
  EXPECT_EQ(Output(1, 2)->codec_type, AVMEDIA_TYPE_AUDIO);
  EXPECT_EQ(Engine.OutputCodecs[2][0], nullptr);
}

} // namespace
