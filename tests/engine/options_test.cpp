// The engine object's lifecycle, option table and generic option store.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/custom_ffmpeg.h"
#include "medialib/medialib.h"
#include "support/test_support.h"

namespace {

struct LoggedLine {
  int Level;
  std::string Text;
};

class OptionsTest : public ::testing::Test {
protected:
  void SetUp() override {
    testing_support::RequireMediaLibraries();
    Engine.Prepare();
    Engine.OnLog = [this](TCustomFFmpeg *, int ALevel, const std::string &AMsg) {
      Lines.push_back({ALevel, AMsg});
    };
  }
  void TearDown() override { SetMediaLogLevel(1); }

  int64_t HolderInt(int AType, const char *AName) {
    int64_t value = 0;
    EXPECT_GE(avlib.av_opt_get_int(Engine.CodecDefaults[AType], AName, 0, &value), 0) << AName;
    return value;
  }
  int64_t DefaultInt(const char *AName) {
    AVCodecContext *fresh = avlib.avcodec_alloc_context3(nullptr);
    int64_t value = 0;
    avlib.av_opt_get_int(fresh, AName, 0, &value);
    avlib.avcodec_free_context(&fresh);
    return value;
  }
  std::string DictValue(AVDictionary *ADict, const char *AKey) {
    const AVDictionaryEntry *entry = avlib.av_dict_get(ADict, AKey, nullptr, 0);
    return entry ? entry->value : "<absent>";
  }

  TCustomFFmpeg Engine;
  std::vector<LoggedLine> Lines;
};

// Encoder context with the minimum an encoder needs to open.
struct EncoderContext {
  explicit EncoderContext(const char *AName) {
    codec = avlib.avcodec_find_encoder_by_name(AName);
    if (codec) {
      context = avlib.avcodec_alloc_context3(codec);
      context->width = 320;
      context->height = 240;
      context->pix_fmt = AV_PIX_FMT_YUV420P;
      context->time_base = AVRational{1, 25};
      context->framerate = AVRational{25, 1};
    }
  }
  ~EncoderContext() { avlib.avcodec_free_context(&context); }
  const AVCodec *codec = nullptr;
  AVCodecContext *context = nullptr;
};

std::string PrivateText(void *AObject, const char *AName) {
  uint8_t *text = nullptr;
  if (avlib.av_opt_get(AObject, AName, 0, &text) < 0)
    return "<unknown>";
  std::string result = reinterpret_cast<char *>(text);
  avlib.av_free(text);
  return result;
}

TEST_F(OptionsTest, PrepareGivesDefaultsHoldersAndClearsRunState) {
  Engine.SetOption("ar", "22050");
  Engine.SetOption("g", "7");
  Engine.ExceptionRaised = true;
  Engine.Prepare();
  EXPECT_EQ(Engine.FramePixFmt, -1);
  EXPECT_EQ(Engine.AudioChannels, 2);
  EXPECT_EQ(Engine.AudioSampleRate, 44100);
  EXPECT_EQ(Engine.AudioVolume, 256);
  EXPECT_EQ(Engine.IntraDcPrecision, 8);
  EXPECT_EQ(Engine.SwsFlags, 4);
  EXPECT_EQ(Engine.BitBufferSize, 262144);
  EXPECT_FLOAT_EQ(Engine.MuxPreload, 0.5f);
  EXPECT_FLOAT_EQ(Engine.MuxMaxDelay, 0.7f);
  EXPECT_FLOAT_EQ(Engine.DtsDeltaThreshold, 10);
  EXPECT_FLOAT_EQ(Engine.AudioDriftThreshold, 0.1f);
  EXPECT_EQ(Engine.RecordingTime, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(Engine.OutputDurationMs, -1);
  EXPECT_EQ(Engine.InputFileCount + Engine.OutputFileCount + Engine.StreamMapCount +
                Engine.MetaDataMapCount + Engine.OptNameCount + Engine.TimeRangeCount,
            0);
  EXPECT_FALSE(Engine.ExceptionRaised);
  for (int t = 0; t < 5; ++t) {
    ASSERT_NE(Engine.CodecDefaults[t], nullptr);
    EXPECT_EQ(Engine.CodecDefaults[t]->codec_type, static_cast<AVMediaType>(t));
    EXPECT_EQ(HolderInt(t, "g"), DefaultInt("g")) << "the holders are fresh";
  }
  ASSERT_NE(Engine.FormatDefaults, nullptr);
  ASSERT_NE(Engine.ScalerDefaults, nullptr);
  int64_t swsFlags = 0;
  avlib.av_opt_get_int(Engine.ScalerDefaults, "sws_flags", 0, &swsFlags);
  EXPECT_EQ(swsFlags, 4);
}

TEST_F(OptionsTest, OptionTextStopsAtRefusedOptionKeepingEarlierOnes) {
  try {
    Engine.SetOptionText("  \r\ntitle=A = B\r\n\r\nac=6\rthreads=2\nvol=100\n\t");
    FAIL() << "threads must be refused";
  } catch (const FFMpegException &e) {
    EXPECT_STREQ(e.what(), "Unsupported option: threads (the engine chooses its own threads)");
  }
  EXPECT_EQ(Engine.Title, "A = B") << "split at the first '=' only";
  EXPECT_EQ(Engine.AudioChannels, 6);
  EXPECT_EQ(Engine.AudioVolume, 256) << "options after the refused one are not applied";
  EXPECT_EQ(Engine.OptNameCount, 0) << "the empty line is dropped";
  for (const char *name : {"absf", "vbsf", "sbsf"})
    EXPECT_THROW(Engine.SetOption(name, "x"), FFMpegException) << name;
}

TEST_F(OptionsTest, NumberConversionErrorsKeepTheField) {
  try {
    Engine.SetOption("vframes", "abc");
    FAIL() << "abc is no integer";
  } catch (const EConvertError &e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
  EXPECT_EQ(Engine.MaxFrames[0], 2147483647);
  try {
    Engine.SetOption("muxdelay", "0,5");
    FAIL() << "0,5 is no decimal number";
  } catch (const EConvertError &e) {
    EXPECT_STREQ(e.what(), "'0,5' is not a valid floating point value");
  }
  EXPECT_FLOAT_EQ(Engine.MuxMaxDelay, 0.7f);
  EXPECT_THROW(Engine.SetOption("vol", "4294967296"), EConvertError) << "out of int32 range";
  EXPECT_THROW(Engine.SetOption("top", "1 "), EConvertError) << "trailing text";
  EXPECT_THROW(Engine.SetOption("dc", ""), EConvertError);
  EXPECT_THROW(Engine.SetOption("aq", "nan"), EConvertError);
  EXPECT_THROW(Engine.SetOption("aq", "1e60"), EConvertError) << "beyond a float";
  EXPECT_EQ(Engine.AudioVolume, 256);
  EXPECT_EQ(Engine.TopFieldFirst, -1);

  Engine.SetOption("fs", "5000000000");
  EXPECT_EQ(Engine.LimitFileSize, 5000000000LL);
  Engine.SetOption("vframes", " +25");
  EXPECT_EQ(Engine.MaxFrames[0], 25);
  Engine.SetOption("aframes", "-3");
  EXPECT_EQ(Engine.MaxFrames[1], -3);
  Engine.SetOption("adrift_threshold", "2.5e-1");
  EXPECT_FLOAT_EQ(Engine.AudioDriftThreshold, 0.25f);
}

TEST_F(OptionsTest, ConditionalFieldsAndTexts) {
  Engine.SetOption("ar", "0");
  Engine.SetOption("ac", "-1");
  EXPECT_EQ(Engine.AudioSampleRate, 44100);
  EXPECT_EQ(Engine.AudioChannels, 2);
  Engine.SetOption("ar", "22050");
  EXPECT_EQ(Engine.AudioSampleRate, 22050);

  Engine.SetOption("title", "Holiday");
  Engine.SetOption("title", "");
  EXPECT_EQ(Engine.Title, "Holiday");
  Engine.SetOption("alang", "eng");
  Engine.SetOption("alang", "");
  EXPECT_EQ(Engine.AudioLanguage, "");
  Engine.SetOption("tvstd", "PAL");
  Engine.SetOption("tvstd", "NTSC");
  ASSERT_NE(Engine.VideoStandard, nullptr);
  EXPECT_STREQ(Engine.VideoStandard, "NTSC");

  for (const char *name : {"dump", "hex", "re", "loop_input", "copyts", "shortest", "intra", "vn",
                           "sameq", "deinterlace", "psnr", "qphist", "an", "sn", "isync"})
    Engine.SetOption(name, "");
  EXPECT_TRUE(Engine.PktDump && Engine.HexDump && Engine.RateEmu && Engine.LoopInput &&
              Engine.CopyTs && Engine.Shortest && Engine.IntraOnly && Engine.VideoDisable &&
              Engine.SameQuality && Engine.Deinterlace && Engine.DoPsnr && Engine.QpHist &&
              Engine.AudioDisable && Engine.SubtitleDisable && Engine.InputSync);

  // Owned texts are released by a reset, not dropped.
  Engine.SetOption("rc_override", "0,100,2");
  Engine.ResetOptions();
  EXPECT_EQ(Engine.VideoStandard, nullptr);
  EXPECT_EQ(Engine.VideoRcOverride, nullptr);
  EXPECT_EQ(Engine.Title, "");
  EXPECT_FALSE(Engine.PktDump);

  Engine.SetOption("v", "2");
  EXPECT_EQ(Engine.Verbose, 2);
  EXPECT_EQ(CurrentLogLevel, 2);
  EXPECT_EQ(avlib.av_log_get_level(), AV_LOG_DEBUG);
}

TEST_F(OptionsTest, DoNothingNamesOnlyLogAndCapitalisedNamesAreGeneric) {
  Engine.SetOption("y", "");
  Engine.SetOption("i", "/some/input.avi");
  ASSERT_EQ(Lines.size(), 2u);
  EXPECT_EQ(Lines[0].Level, 1);
  EXPECT_EQ(Lines[0].Text, "Do nothing: option - y");
  EXPECT_EQ(Lines[1].Text, "Do nothing: option - i");
  EXPECT_EQ(Engine.InputFileCount, 0);

  Engine.SetOption("VCODEC", "libx264");
  EXPECT_EQ(Engine.VideoCodecName, nullptr);
  EXPECT_EQ(Engine.OptNameCount, 0) << "no holder knows VCODEC";
  EXPECT_EQ(Lines.size(), 2u) << "dropped silently";

  Engine.OnLog = nullptr;
  Engine.SetOption("h", ""); // nobody listens: nothing happens
  try {
    Engine.SetOption("newaudio", "");
    FAIL() << "no output file yet";
  } catch (const FFMpegException &e) {
    EXPECT_STREQ(e.what(), "At least one output file must be specified");
  }
}

TEST_F(OptionsTest, GenericCodecOptionsLandOnTheHoldersOfTheirMediaTypes) {
  EXPECT_TRUE(Engine.SetGenericOption("g", "30")); // video and encoding only
  EXPECT_EQ(HolderInt(0, "g"), 30);
  EXPECT_EQ(HolderInt(1, "g"), DefaultInt("g"));
  EXPECT_EQ(HolderInt(2, "g"), 30);
  EXPECT_EQ(HolderInt(3, "g"), DefaultInt("g"));
  EXPECT_EQ(HolderInt(4, "g"), 30);

  EXPECT_TRUE(Engine.SetGenericOption("cutoff", "15000")); // audio only
  EXPECT_EQ(HolderInt(0, "cutoff"), 0);
  EXPECT_EQ(HolderInt(1, "cutoff"), 15000);
  EXPECT_EQ(HolderInt(3, "cutoff"), 0);

  EXPECT_TRUE(Engine.SetGenericOption("gop", "12")) << "the old name of g";
  EXPECT_EQ(HolderInt(0, "g"), 12);

  // No generic "vb": the first letter picks the video holder's "b". "ab" is the library's own
  // audio-only alias of the bit rate.
  EXPECT_TRUE(Engine.SetGenericOption("vb", "500000"));
  EXPECT_TRUE(Engine.SetGenericOption("ab", "64000"));
  EXPECT_EQ(HolderInt(0, "b"), 500000);
  EXPECT_EQ(HolderInt(1, "b"), 64000);

  EXPECT_FALSE(Engine.SetGenericOption("g", "  "));
  EXPECT_FALSE(Engine.SetGenericOption(" ", "1"));
  EXPECT_FALSE(Engine.SetGenericOption("no_such_option_anywhere", "1"));
  EXPECT_FALSE(Engine.SetGenericOption("g", "many")) << "refused by every holder";

  const std::vector<std::string> expected = {"g", "cutoff", "g", "b", "ab"};
  EXPECT_EQ(Engine.OptNames, expected);
  EXPECT_EQ(Engine.OptNameCount, 5);

  // Format and scaler holders.
  EXPECT_TRUE(Engine.SetGenericOption("packetsize", "2324"));
  EXPECT_EQ(Engine.FormatDefaults->packet_size, 2324u);
  EXPECT_TRUE(Engine.SetGenericOption("sws_flags", "bilinear"));
  int64_t swsFlags = 0;
  avlib.av_opt_get_int(Engine.ScalerDefaults, "sws_flags", 0, &swsFlags);
  EXPECT_EQ(swsFlags, SWS_BILINEAR);
  EXPECT_EQ(Engine.OptNames.back(), "sws_flags");
}

TEST_F(OptionsTest, ApplyContextOptionsCopiesOnlyMatchingFlags) {
  ASSERT_TRUE(Engine.SetGenericOption("g", "30"));
  ASSERT_TRUE(Engine.SetGenericOption("cutoff", "15000"));
  ASSERT_TRUE(Engine.SetGenericOption("flags", "+qscale"));

  AVCodecContext *video = avlib.avcodec_alloc_context3(nullptr);
  AVCodecContext *audio = avlib.avcodec_alloc_context3(nullptr);
  Engine.ApplyContextOptions(video, Engine.CodecDefaults[0],
                             AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
  Engine.ApplyContextOptions(audio, Engine.CodecDefaults[1],
                             AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
  EXPECT_EQ(video->gop_size, 30);
  EXPECT_EQ(video->cutoff, 0);
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_QSCALE);
  EXPECT_EQ(audio->cutoff, 15000);
  EXPECT_EQ(audio->gop_size, DefaultInt("g"));
  EXPECT_TRUE(audio->flags & AV_CODEC_FLAG_QSCALE);

  // A decoding-only request leaves encoder options alone.
  AVCodecContext *decoder = avlib.avcodec_alloc_context3(nullptr);
  Engine.ApplyContextOptions(decoder, Engine.CodecDefaults[0],
                             AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
  EXPECT_EQ(decoder->gop_size, DefaultInt("g"));
  EXPECT_TRUE(decoder->flags & AV_CODEC_FLAG_QSCALE) << "flags are decoding parameters too";
  avlib.avcodec_free_context(&video);
  avlib.avcodec_free_context(&audio);
  avlib.avcodec_free_context(&decoder);
}

TEST_F(OptionsTest, PrivateEncoderOptionsReachLibx264) {
  EncoderContext x264("libx264");
  if (!x264.codec)
    GTEST_SKIP() << "no libx264 encoder in these libraries";
  Engine.SetOption("profile", "main"); // the generic profile is an integer and refuses "main"
  Engine.SetOption("preset", "ultrafast");
  Engine.SetOption("coder", "1");
  EXPECT_EQ(HolderInt(0, "profile"), FF_PROFILE_UNKNOWN);
  EXPECT_EQ(Engine.OptNameCount, 3);
  EXPECT_EQ(DictValue(Engine.CodecPrivateOptions[0], "profile"), "main");
  EXPECT_EQ(DictValue(Engine.CodecPrivateOptions[3], "profile"), "<absent>")
      << "no subtitle encoder has a profile";

  AVDictionary *options = Engine.CopyPrivateOptions(0, x264.codec->priv_class);
  EXPECT_EQ(avlib.av_dict_count(options), 3);
  ASSERT_EQ(avlib.avcodec_open2(x264.context, x264.codec, &options), 0);
  EXPECT_EQ(avlib.av_dict_count(options), 0) << "libx264 took every option";
  avlib.av_dict_free(&options);
  EXPECT_EQ(PrivateText(x264.context->priv_data, "profile"), "main");
  EXPECT_EQ(PrivateText(x264.context->priv_data, "preset"), "ultrafast");
  EXPECT_EQ(PrivateText(x264.context->priv_data, "coder"), "1");

  // The store keeps its own copy; an encoder without these options gets none of them.
  AVDictionary *all = Engine.CopyPrivateOptions(0);
  EXPECT_EQ(avlib.av_dict_count(all), 3);
  avlib.av_dict_free(&all);
  EncoderContext mpeg4("mpeg4");
  ASSERT_NE(mpeg4.codec, nullptr);
  AVDictionary *none = Engine.CopyPrivateOptions(0, mpeg4.codec->priv_class);
  EXPECT_EQ(avlib.av_dict_count(none), 0);
  ASSERT_EQ(avlib.avcodec_open2(mpeg4.context, mpeg4.codec, &none), 0);
  avlib.av_dict_free(&none);
}

TEST_F(OptionsTest, ScanOffsetFlagBecomesTheMpeg2Option) {
  EXPECT_TRUE(Engine.SetGenericOption("flags", "+SCAN_OFFSET+qscale"));
  EXPECT_TRUE(Engine.CodecDefaults[0]->flags & AV_CODEC_FLAG_QSCALE) << "the rest still applies";
  EXPECT_EQ(DictValue(Engine.CodecPrivateOptions[0], "scan_offset"), "1");

  EncoderContext mpeg2("mpeg2video");
  ASSERT_NE(mpeg2.codec, nullptr);
  AVDictionary *options = Engine.CopyPrivateOptions(0, mpeg2.codec->priv_class);
  ASSERT_EQ(avlib.avcodec_open2(mpeg2.context, mpeg2.codec, &options), 0);
  EXPECT_EQ(avlib.av_dict_count(options), 0);
  avlib.av_dict_free(&options);
  int64_t scanOffset = 0;
  avlib.av_opt_get_int(mpeg2.context->priv_data, "scan_offset", 0, &scanOffset);
  EXPECT_EQ(scanOffset, 1);
}

TEST_F(OptionsTest, PrivateMuxerOptionsGoToTheFormatStore) {
  EXPECT_TRUE(Engine.SetGenericOption("muxrate", "10080000"));
  AVDictionary *options = Engine.CopyPrivateOptions(-1);
  EXPECT_EQ(DictValue(options, "muxrate"), "10080000");
  avlib.av_dict_free(&options);
}

TEST_F(OptionsTest, DebugSettingRaisesTheLogLevel) {
  ASSERT_TRUE(Engine.SetGenericOption("debug", "pict"));
  EXPECT_EQ(Engine.Verbose, 2);
  EXPECT_EQ(CurrentLogLevel, 2);
  EXPECT_EQ(avlib.av_log_get_level(), AV_LOG_DEBUG);
}

TEST_F(OptionsTest, TypedSettersStoreOnlyUnderTheirConditions) {
  Engine.SetAudioSampleRate(0);
  Engine.SetAudioChannels(-1);
  Engine.SetAudioVolume(-1);
  Engine.SetMuxMaxDelay(0);
  Engine.SetMuxPreload(-1);
  Engine.SetTitle("");
  Engine.SetYear(0);
  Engine.SetTrack(-2);
  EXPECT_EQ(Engine.AudioSampleRate, 44100);
  EXPECT_EQ(Engine.AudioChannels, 2);
  EXPECT_EQ(Engine.AudioVolume, 256);
  EXPECT_FLOAT_EQ(Engine.MuxMaxDelay, 0.7f);
  EXPECT_FLOAT_EQ(Engine.MuxPreload, 0.5f);
  EXPECT_EQ(Engine.Year + Engine.Track, 0);

  Engine.SetAudioVolume(0);
  Engine.SetAudioSyncMethod(-5);
  Engine.SetAlbum("Live");
  Engine.SetYear(2008);
  Engine.SetGenericOptionInt("g", 48);
  EXPECT_EQ(Engine.AudioVolume, 0);
  EXPECT_EQ(Engine.AudioSyncMethod, -5);
  EXPECT_EQ(Engine.Album, "Live");
  EXPECT_EQ(Engine.Year, 2008);
  EXPECT_EQ(HolderInt(0, "g"), 48);

  Engine.SetTimeRanges({{0, 900}, {100, 300}, {50, 600}});
  ASSERT_EQ(Engine.TimeRangeCount, 3);
  EXPECT_EQ(Engine.TimeRanges[0].Stop, 300);
  EXPECT_EQ(Engine.TimeRanges[1].Stop, 600);
  EXPECT_EQ(Engine.TimeRanges[2].Start, 0);
  Engine.TimeRangeIndex = 2;
  Engine.SetTimeRanges({});
  EXPECT_EQ(Engine.TimeRangeCount + Engine.TimeRangeIndex, 0);
}

TEST(TableRoom, TheTwentyFirstEntryIsRefused) {
  EXPECT_NO_THROW(CheckTableRoom(19, MaxFiles, "input files"));
  try {
    CheckTableRoom(20, MaxFiles, "input files");
    FAIL() << "a 21st entry must be refused";
  } catch (const FFMpegException &e) {
    EXPECT_NE(std::string(e.what()).find("input files"), std::string::npos) << e.what();
  }
}

TEST(UnpreparedEngine, HasNoStoreAndNothingToFree) {
  testing_support::RequireMediaLibraries();
  TCustomFFmpeg engine;
  EXPECT_FALSE(engine.SetGenericOption("g", "30"));
  EXPECT_EQ(engine.OptNameCount, 0);
  engine.FreeFiles();
  engine.SetOption("title", "x");
  EXPECT_EQ(engine.Title, "x");
}

// An output file opened for writing and put into the engine's table, as OpenOutputFile does.
AVFormatContext *OpenOutput(const std::string &APath) {
  AVFormatContext *context = nullptr;
  if (avlib.avformat_alloc_output_context2(&context, nullptr, "mp4", APath.c_str()) < 0)
    return nullptr;
  if (avlib.avio_open(&context->pb, APath.c_str(), AVIO_FLAG_WRITE) < 0) {
    avlib.avformat_free_context(context);
    return nullptr;
  }
  return context;
}

TEST_F(OptionsTest, FreeFilesDeletesEmptyOutputsAndCanRunTwice) {
  testing_support::TempDir dir;
  const std::string empty = dir.file("empty.mp4");
  const std::string written = dir.file("written.mp4");
  const std::string bystander = dir.file("bystander.mp4");
  std::ofstream(bystander).close(); // 0 bytes, but no output of the engine
  Engine.OutputFiles[0] = OpenOutput(empty);
  Engine.OutputFiles[1] = OpenOutput(written);
  ASSERT_TRUE(Engine.OutputFiles[0] && Engine.OutputFiles[1]);
  Engine.OutputFileCount = 2;
  std::ofstream(written, std::ios::binary | std::ios::app) << "data"; // as a muxer would
  Engine.OutputCodecs[1][0] = avlib.avcodec_alloc_context3(nullptr);
  avlib.av_dict_set(&Engine.OutputCodecOptions[1][0], "preset", "fast", 0);
  Engine.SetOption("tvstd", "PAL");
  Engine.SetGenericOption("preset", "fast");

  Engine.FreeFiles();
  EXPECT_FALSE(std::filesystem::exists(empty)) << "never written: removed";
  EXPECT_TRUE(std::filesystem::exists(written));
  EXPECT_EQ(std::filesystem::file_size(written), 4u);
  EXPECT_TRUE(std::filesystem::exists(bystander));
  EXPECT_EQ(Engine.OutputFileCount, 0);
  EXPECT_EQ(Engine.OutputFiles[0], nullptr);
  EXPECT_EQ(Engine.OutputCodecs[1][0], nullptr);
  EXPECT_EQ(Engine.OutputCodecOptions[1][0], nullptr);
  EXPECT_EQ(Engine.CodecDefaults[0], nullptr);
  EXPECT_EQ(Engine.FormatDefaults, nullptr);
  EXPECT_EQ(Engine.ScalerDefaults, nullptr);
  EXPECT_EQ(Engine.VideoStandard, nullptr);
  EXPECT_EQ(Engine.CodecPrivateOptions[0], nullptr);
  EXPECT_EQ(Engine.OptNameCount, 0);

  Engine.FreeFiles(); // nothing left: must not touch freed objects
  Engine.Prepare();
  EXPECT_NE(Engine.CodecDefaults[0], nullptr);
}

} // namespace
