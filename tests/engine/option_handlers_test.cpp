// The checked option handlers: what a wrong value does, and what a right one stores.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/custom_ffmpeg.h"
#include "support/test_support.h"

namespace {

template <class E, class F> std::string ErrorOf(F AAction) {
  try {
    AAction();
  } catch (const E &e) {
    return e.what();
  }
  return "<no error>";
}

std::string Matrix(int ACount, int AValue = 16) {
  std::string text;
  for (int i = 0; i < ACount; ++i)
    text += (i ? "," : "") + std::to_string(AValue + i % 3);
  return text;
}

class OptionHandlers : public ::testing::Test {
protected:
  void SetUp() override {
    testing_support::RequireMediaLibraries();
    engine = std::make_unique<TCustomFFmpeg>();
    engine->OnLog = [this](TCustomFFmpeg *, int, const std::string &AMsg) { log.push_back(AMsg); };
  }
  void TearDown() override {
    // Stand-in inputs are the test's own: the engine closes only those it opened.
    for (int i = 0; i < engine->InputFileCount; ++i)
      if (std::find(ownInputs.begin(), ownInputs.end(), engine->InputFiles[i]) != ownInputs.end())
        engine->InputFiles[i] = nullptr;
    for (AVFormatContext *&input : ownInputs)
      avlib.avformat_free_context(input);
  }
  // A stand-in for an opened input: one video stream of the given frame rate.
  void AddInputWithVideoRate(AVRational ARate) {
    AVFormatContext *input = avlib.avformat_alloc_context();
    ASSERT_NE(input, nullptr);
    ownInputs.push_back(input);
    AVStream *audio = avlib.avformat_new_stream(input, nullptr);
    audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    AVStream *video = avlib.avformat_new_stream(input, nullptr);
    video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    video->r_frame_rate = ARate;
    engine->InputFiles[engine->InputFileCount++] = input;
  }
  bool Logged(const std::string &ALine) const {
    for (const std::string &line : log)
      if (line == ALine)
        return true;
    return false;
  }

  std::unique_ptr<TCustomFFmpeg> engine;
  std::vector<std::string> log;
  std::vector<AVFormatContext *> ownInputs;
};

TEST_F(OptionHandlers, SizeRateAndAspectRefuseBadTextsAndKeepThePreviousValue) {
  engine->SetFrameSize("640x480");
  engine->SetFrameRate("30000/1001");
  for (const char *odd : {"321x240", "320x241"})
    EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetFrameSize(odd); }),
              "Frame size must be a multiple of 2");
  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetFrameSize("big"); }), "Incorrect frame size");
  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetFrameRate("-25"); }), "Incorrect frame rate");
  engine->SetFrameSize("");
  EXPECT_EQ(engine->FrameWidth * 10000 + engine->FrameHeight, 640 * 10000 + 480);
  EXPECT_EQ(engine->FrameRate.num * 10000 + engine->FrameRate.den, 30000 * 10000 + 1001);

  for (auto [text, ratio] : {std::pair{"16:9", 16.0 / 9.0}, {"1.3333", 1.3333}, {"-1", -1.0}}) {
    engine->SetAspectRatio(text);
    EXPECT_NEAR(engine->FrameAspectRatio, ratio, 1e-6) << text;
  }
  for (const char *bad : {"4:0", "0", "abc", "x:9", "4:-3", "1.5x"})
    EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetAspectRatio(bad); }),
              "Incorrect aspect ratio specification.")
        << bad;
  EXPECT_EQ(engine->FrameAspectRatio, -1.0f);
}

TEST_F(OptionHandlers, CropsAndPadsCheckParityAndRange) {
  engine->FrameWidth = 320;
  engine->FrameHeight = 240;
  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetCropTop(7); }),
            "Top crop size must be a multiple of 2");
  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetCropRight(3); }),
            "Right crop size must be a multiple of 2");
  engine->SetCropTop(-2);
  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetCropTop(240); }),
            "Vertical crop dimensions are outside the range of the original image.\n"
            "Remember to crop first and scale second.");
  engine->SetCropTop(100);
  EXPECT_THROW(engine->SetCropBottom(140), FFMpegException); // counts against what is left
  engine->SetCropBottom(20);
  engine->SetCropLeft(16);
  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetCropRight(304); }),
            "Horizontal crop dimensions are outside the range of the original image.\n"
            "Remember to crop first and scale second.");
  EXPECT_EQ((std::vector<int>{engine->CropTop, engine->CropBottom, engine->CropLeft,
                              engine->CropRight, engine->FrameWidth, engine->FrameHeight}),
            (std::vector<int>{100, 20, 16, 0, 304, 120}));

  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetPadTop(5); }),
            "Top pad size must be a multiple of 2");
  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetPadLeft(1); }),
            "Left pad size must be a multiple of 2");
  engine->SetPadBottom(24);
  engine->SetPadBottom(-4);
  EXPECT_EQ(engine->PadBottom, 24);
}

// Video levels: a chosen black pads like the default pad colour, white stays in range.
TEST_F(OptionHandlers, PadColourBecomesVideoLevelYCbCr) {
  struct {
    int Colour, Y, Cb, Cr;
  } cases[] = {{0x000000, 16, 128, 128},  {0xFFFFFF, 235, 128, 128},
               {0x808080, 126, 128, 128}, {0x0000FF, 81, 90, 240} /* red in the low byte */,
               {0xFF0000, 41, 240, 110},  {0x00FF00, 144, 54, 34}};
  for (const auto &c : cases) {
    engine->SetPadColor(c.Colour);
    EXPECT_EQ((std::vector<int>{engine->PadColor[0], engine->PadColor[1], engine->PadColor[2]}),
              (std::vector<int>{c.Y, c.Cb, c.Cr}))
        << std::hex << c.Colour;
  }
}

TEST_F(OptionHandlers, QScalePassCodecNamesAndTags) {
  for (double bad : {0.0, -1.0, 255.5, std::nan("")})
    EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetQScale(bad); }),
              "qscale must be > 0.0 and <= 255");
  engine->SetQScale(255);
  EXPECT_EQ(engine->VideoQScale, 255.0f);
  for (int bad : {0, 3})
    EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetPass(bad); }),
              "pass number can be only 1 or 2");

  engine->SetVideoCodec("copy");
  EXPECT_TRUE(engine->VideoStreamCopy);
  EXPECT_EQ(engine->VideoCodecName, nullptr);
  engine->SetVideoCodec("mpeg4");
  engine->SetVideoCodec("");
  EXPECT_STREQ(engine->VideoCodecName, "mpeg4");
  EXPECT_TRUE(engine->VideoStreamCopy); // a later name does not clear the mark

  engine->SetVideoTag("XVID");
  EXPECT_EQ(engine->VideoCodecTag, 0x44495658u); // 'X' in the low byte
  // The length check has its own error type.
  EXPECT_EQ(ErrorOf<ECodecTagError>([&] {
              engine->SetVideoTag("DX5");
            }).rfind("video tag parameter must be 4 chars", 0),
            0u);
  EXPECT_EQ(ErrorOf<ECodecTagError>([&] {
              engine->SetAudioTag("mp4a ");
            }).rfind("audio tag parameter must be 4 chars", 0),
            0u);
  EXPECT_EQ(engine->VideoCodecTag, 0x44495658u);
}

TEST_F(OptionHandlers, MatricesTakeExactly64SafeCoefficients) {
  engine->SetIntraMatrix(Matrix(64));
  ASSERT_NE(engine->IntraMatrix, nullptr);
  for (int i = 0; i < 64; ++i)
    ASSERT_EQ(engine->IntraMatrix[i], 16 + i % 3) << i;
  uint16_t *kept = engine->IntraMatrix;
  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetIntraMatrix(Matrix(63)); }),
            "Syntax error in matrix \"" + Matrix(63) + "\" at coeff 62");
  EXPECT_EQ(engine->IntraMatrix, kept); // a refused matrix never reaches the encoder

  engine->SetInterMatrix(" 8, 9," + Matrix(62) + ",99");
  ASSERT_NE(engine->InterMatrix, nullptr);
  EXPECT_EQ(engine->InterMatrix[0] * 100 + engine->InterMatrix[1], 809);
  EXPECT_EQ(engine->InterMatrix[63], 16 + 61 % 3); // the 65th number is ignored
  // The encoders divide by every coefficient (0 kills the process) and store it in 8 bits.
  for (const std::string &bad :
       {"0," + Matrix(63), Matrix(63) + ",256", Matrix(10) + ",," + Matrix(53)})
    EXPECT_THROW(engine->SetInterMatrix(bad), FFMpegException) << bad;
  EXPECT_EQ(engine->InterMatrix[0], 8);
}

TEST_F(OptionHandlers, MapsAndTimestampScales) {
  engine->AddStreamMap("0.1");
  engine->AddStreamMap("0.1:1.0");
  engine->AddStreamMap("0x2:010"); // hexadecimal and octal as C reads them
  const TStreamMap *m = engine->StreamMaps;
  EXPECT_EQ((std::vector<int>{m[0].FileIndex, m[0].StreamIndex, m[0].SyncFileIndex,
                              m[0].SyncStreamIndex, m[1].SyncFileIndex, m[1].SyncStreamIndex,
                              m[2].FileIndex, m[2].StreamIndex}),
            (std::vector<int>{0, 1, 0, 1, 1, 0, 2, 8}));
  while (engine->StreamMapCount < MaxStreamMaps)
    engine->AddStreamMap("1.1");
  EXPECT_THROW(engine->AddStreamMap("2.2"), FFMpegException);
  EXPECT_EQ(engine->StreamMapCount, MaxStreamMaps);

  engine->AddMetaDataMap("1:0");
  EXPECT_EQ(engine->MetaDataMaps[0].OutFile * 10 + engine->MetaDataMaps[0].InFile, 10);
  while (engine->MetaDataMapCount < MaxMetaDataMaps)
    engine->AddMetaDataMap("0:0");
  EXPECT_THROW(engine->AddMetaDataMap("0:1"), FFMpegException);
  EXPECT_EQ(engine->MetaDataMapCount, MaxMetaDataMaps);

  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetInputTsScale("25:1.5"); }),
            "stream index over MAX_STREAMS(20)");
  EXPECT_THROW(engine->SetInputTsScale("-1:2"), FFMpegException);
  engine->SetInputTsScale("1:1.5");
  AddInputWithVideoRate({25, 1});
  engine->SetInputTsScale("19:0.25"); // for the input opened next
  EXPECT_EQ(engine->InputTsScales[0][1], 1.5);
  EXPECT_EQ(engine->InputTsScales[1][19], 0.25);
  EXPECT_EQ(engine->InputTsScales[0][19], 0.0);
}

TEST_F(OptionHandlers, TimeOptions) {
  engine->SetRecordingTime("01:00:00");
  EXPECT_EQ(engine->RecordingTime, int64_t(3600) * 1000000);
  EXPECT_EQ(engine->OutputDurationMs, 3600000);
  engine->SetRecordingTime("0.0004"); // below a millisecond: no new limit
  engine->SetRecordingTimeMs(0);
  EXPECT_EQ(engine->OutputDurationMs, 3600000);
  // Longer than the millisecond counter holds: still a limit, never a wrapped negative one.
  engine->SetRecordingTime("3000000");
  EXPECT_GE(engine->RecordingTime, int64_t(2147483) * 1000000);
  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetRecordingTime("1 hour"); }),
            "Invalid duration specification for t: 1 hour");

  engine->SetStartTimeText("1.5");
  engine->SetInputTsOffset("-00:00:02");
  engine->SetRecTimestamp("1970-01-01 00:00:10.6Z");
  EXPECT_EQ((std::vector<int64_t>{engine->StartTime, engine->InputTsOffset, engine->RecTimestamp}),
            (std::vector<int64_t>{1500000, -2000000, 11}));
  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetInputTsOffset("soon"); }),
            "Invalid duration specification for itsoffset: soon");
  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetRecTimestamp("yesterday"); }),
            "Invalid date specification for timestamp: yesterday");
}

TEST_F(OptionHandlers, FormatsAndPixelFormats) {
  engine->SetFormat("psp"); // a muxer only
  EXPECT_EQ(engine->InputFormat, nullptr);
  ASSERT_NE(engine->OutputFormat, nullptr);
  engine->SetFormat("avi");
  EXPECT_NE(engine->InputFormat, nullptr);
  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetFormat("nosuchformat"); }),
            "Unknown input or output format: nosuchformat");
  engine->SetFormat("pgmyuv");
  EXPECT_TRUE(engine->PgmyuvCompatibilityHack);
  EXPECT_TRUE(Logged("pgmyuv format is deprecated, use image2"));
  EXPECT_STREQ(engine->OutputFormat->name, "image2");

  engine->SetPixelFormat("nosuchformat");
  EXPECT_EQ(engine->FramePixFmt, -1);
  engine->SetPixelFormat("bgr24");
  log.clear();
  engine->SetPixelFormat("list");
  EXPECT_EQ(engine->FramePixFmt, AV_PIX_FMT_BGR24);
  ASSERT_GT(log.size(), 40u);
  EXPECT_EQ(log[0], "name nb_components nb_bits");
  EXPECT_EQ(log[1].rfind("yuv420p", 0), 0u);
  EXPECT_NE(log.back().back(), ' ');
}

TEST_F(OptionHandlers, BitRatesBelowOneKilobitAreStoredWithAWarning) {
  const std::string warning =
      "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
  engine->Prepare();
  engine->OnLog = [this](TCustomFFmpeg *, int, const std::string &AMsg) { log.push_back(AMsg); };
  engine->SetOptionText("b=800000\nab=128000\nvb=768000");
  EXPECT_FALSE(Logged(warning));
  EXPECT_EQ(engine->CodecDefaults[AVMEDIA_TYPE_VIDEO]->bit_rate, 768000);
  EXPECT_EQ(engine->CodecDefaults[AVMEDIA_TYPE_AUDIO]->bit_rate, 128000);
  engine->SetOption("b", "64"); // meant as kbit/s
  EXPECT_EQ(engine->CodecDefaults[AVMEDIA_TYPE_VIDEO]->bit_rate, 64);
  EXPECT_TRUE(Logged(warning));
  log.clear();
  engine->SetOption("ab", "96"); // the audio holder is judged for "ab"
  EXPECT_TRUE(Logged(warning));
}

// Puts the current directory and PATH back however the test ends.
struct TProcessStateGuard {
  std::filesystem::path Directory = std::filesystem::current_path();
  const char *Path = std::getenv("PATH");
  std::string SavedPath = Path ? Path : "";
  ~TProcessStateGuard() {
    std::filesystem::current_path(Directory);
    setenv("PATH", SavedPath.c_str(), 1);
  }
};

TEST_F(OptionHandlers, FrameHookModulesLoadFromTheirFolderWithTheirArguments) {
  TProcessStateGuard guard;
  const std::filesystem::path hooks = testing_support::HookDir();
  std::filesystem::current_path(hooks.parent_path());
  const auto start = std::filesystem::current_path();
  // A relative folder leads to the module, and the process's current directory, which other
  // threads use meanwhile, never changes.
  std::atomic<bool> loading{true};
  std::atomic<int> moved{0};
  std::thread watcher([&] {
    while (loading)
      moved += std::filesystem::current_path() != start;
  });
  for (int i = 0; i < 20; ++i)
    engine->AddFrameHook((hooks.filename() / "drawbox.so").string() + " 0 0 16 16");
  loading = false;
  watcher.join();
  EXPECT_EQ(moved, 0);
  EXPECT_TRUE(engine->UsingVHook);
  ASSERT_NE(engine->FrameHooks, nullptr);
  EXPECT_NE(engine->FrameHooks->Context, nullptr);
  EXPECT_EQ(std::filesystem::current_path(), start);
  const std::string path = std::getenv("PATH");
  EXPECT_EQ(path.rfind((start / hooks.filename()).string() + ":", 0), 0u) << path;

  // With "|" blanks stay inside the words: "0 0" is one argument, which Configure refuses.
  const std::string module = (hooks / "drawbox.so").string();
  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->AddFrameHook(module + "|0 0|16|16"); }),
            "Failed to add video hook function: " + module + "|0 0|16|16");
  EXPECT_EQ(std::filesystem::current_path(), start);
  EXPECT_EQ(std::getenv("PATH"), path); // the folder is not added twice
  engine->AddFrameHook(module + "|2|2|8|8|16");
  int hooksAdded = 0;
  for (TFrameHookEntry *hook = engine->FrameHooks; hook; hook = hook->Next)
    ++hooksAdded;
  EXPECT_EQ(hooksAdded, 21);
}

// Norm detection runs before the type is looked up, so an unknown type shows the chosen norm
// without applying any preset.
TEST_F(OptionHandlers, TargetNormComesFromThePrefixTheRateTheInputsOrTheDefault) {
  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetTargetOption("vcd"); }),
            "frame_rate is invalid.");
  EXPECT_EQ(ErrorOf<FFMpegException>([&] { engine->SetTargetOption("pal-xvcd"); }),
            "Unknown target type");
  EXPECT_TRUE(log.empty()); // an explicit norm is not announced

  engine->FrameRate = {30000, 1001};
  EXPECT_THROW(engine->SetTargetOption("  xvcd "), FFMpegException);
  EXPECT_TRUE(Logged("Assuming NTSC for target."));

  log.clear();
  engine->FrameRate = {30, 1}; // neither norm: the inputs decide
  AddInputWithVideoRate({25, 1});
  EXPECT_THROW(engine->SetTargetOption("xvcd"), FFMpegException);
  EXPECT_TRUE(Logged("Assuming PAL for target.")) << (log.empty() ? "" : log[0]);

  log.clear();
  engine->InputFiles[0]->streams[1]->r_frame_rate = {15, 1};
  EXPECT_THROW(engine->SetTarget("xvcd", "auto", "pal"), FFMpegException);
  EXPECT_TRUE(Logged("Assuming PAL for target."));
  log.clear();
  EXPECT_THROW(engine->SetTargetOption("xvcd"), FFMpegException); // default "ntsc"
  EXPECT_TRUE(Logged("Assuming NTSC for target."));
}

class TargetPresets : public OptionHandlers {
protected:
  void SetUp() override {
    OptionHandlers::SetUp();
    engine->Prepare();
    engine->OnLog = [this](TCustomFFmpeg *, int, const std::string &AMsg) { log.push_back(AMsg); };
  }
  std::string FormatPrivate(const char *AName) const {
    const AVDictionaryEntry *entry =
        avlib.av_dict_get(engine->FormatPrivateOptions, AName, nullptr, 0);
    return entry ? entry->value : "";
  }
};

TEST_F(TargetPresets, VcdNormFromThePrefixOrTheInputRate) {
  engine->FrameRate = {30000, 1001};
  AddInputWithVideoRate({30000, 1001});
  engine->SetTargetOption("pal-vcd");
  EXPECT_TRUE(log.empty());
  EXPECT_STREQ(engine->VideoCodecName, "mpeg1video");
  EXPECT_STREQ(engine->AudioCodecName, "mp2");
  EXPECT_STREQ(engine->OutputFormat->name, "vcd");
  EXPECT_EQ((std::vector<int>{engine->FrameWidth, engine->FrameHeight, engine->FrameRate.num,
                              engine->FrameRate.den, engine->AudioSampleRate}),
            (std::vector<int>{352, 288, 25, 1, 44100}));
  const AVCodecContext *video = engine->CodecDefaults[AVMEDIA_TYPE_VIDEO];
  EXPECT_EQ((std::vector<int64_t>{video->gop_size, video->bit_rate, video->rc_max_rate,
                                  video->rc_min_rate, video->rc_buffer_size,
                                  engine->CodecDefaults[AVMEDIA_TYPE_AUDIO]->bit_rate,
                                  engine->FormatDefaults->packet_size}),
            (std::vector<int64_t>{15, 1150000, 1150000, 1150000, 327680, 224000, 2324}));
  EXPECT_EQ(FormatPrivate("muxrate"), "1411200");
  EXPECT_FLOAT_EQ(engine->MuxPreload, 0.44f);
  EXPECT_NEAR(engine->FrameAspectRatio, 4.0 / 3.0, 1e-6);

  engine->FrameRate = {30000, 1001}; // as the input left it
  engine->SetTargetOption("vcd");
  EXPECT_TRUE(Logged("Assuming NTSC for target."));
  EXPECT_EQ(engine->FrameHeight, 240);
  EXPECT_EQ(engine->FrameRate.num * 10000 + engine->FrameRate.den, 30000 * 10000 + 1001);
  EXPECT_EQ(video->gop_size, 18);
}

TEST_F(TargetPresets, DvdAndDvKeepWhatTheyDoNotSet) {
  engine->SetAspectRatio("4:3");
  engine->AudioChannels = 1;
  engine->SetTargetOption("pal-dvd");
  EXPECT_NEAR(engine->FrameAspectRatio, 4.0 / 3.0, 1e-6);
  EXPECT_EQ(engine->AudioChannels, 2);
  EXPECT_STREQ(engine->AudioCodecName, "ac3");
  EXPECT_EQ(FormatPrivate("muxrate"), "10080000");
  engine->FrameAspectRatio = 0;
  engine->AudioChannels = 6;
  engine->SetTargetOption("ntsc-dvd");
  EXPECT_NEAR(engine->FrameAspectRatio, 16.0 / 9.0, 1e-6);
  EXPECT_EQ(engine->AudioChannels, 6);

  engine->SetVideoCodec("mpeg4");
  engine->SetTargetOption("ntsc-dv50");
  EXPECT_EQ(engine->FramePixFmt, AV_PIX_FMT_YUV422P);
  EXPECT_EQ(engine->FrameHeight, 480);
  EXPECT_STREQ(engine->VideoCodecName, "mpeg4"); // dv sets no codecs
  engine->SetTargetOption("ntsc-dv");
  EXPECT_EQ(engine->FramePixFmt, AV_PIX_FMT_YUV411P);
  engine->SetTargetOption("pal-dv");
  EXPECT_EQ(engine->FramePixFmt, AV_PIX_FMT_YUV420P);
  engine->SetTargetOption("film-svcd");
  EXPECT_EQ(engine->FrameRate.num * 10000 + engine->FrameRate.den, 24000 * 10000 + 1001);
  EXPECT_EQ(engine->FrameHeight, 480); // film uses the NTSC sizes
  const AVDictionaryEntry *scan =
      avlib.av_dict_get(engine->CodecPrivateOptions[AVMEDIA_TYPE_VIDEO], "scan_offset", nullptr, 0);
  ASSERT_NE(scan, nullptr);
  EXPECT_STREQ(scan->value, "1");
}

TEST_F(TargetPresets, AnOpenedPalInputMakesAPalTarget) {
  ASSERT_TRUE(engine->OpenInputFile(testing_support::MediaFile("avi_mpeg4_mp3.avi")))
      << engine->ErrorMessage;
  log.clear();
  engine->SetTargetOption("dvd");
  EXPECT_TRUE(Logged("Assuming PAL for target."));
  EXPECT_EQ(engine->FrameHeight, 576);
}

} // namespace
