// The option records and the builder that turns them into engine options.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "converter/option_records.h"
#include "medialib/medialib.h"
#include "support/test_support.h"

namespace {

class OptionBuilderTest : public ::testing::Test {
protected:
  void SetUp() override {
    testing_support::RequireMediaLibraries();
    Engine.Prepare();
  }

  int64_t CodecInt(int AType, const char *AName) {
    int64_t value = 0;
    EXPECT_GE(avlib.av_opt_get_int(Engine.CodecDefaults[AType], AName, 0, &value), 0) << AName;
    return value;
  }
  std::string PrivateOption(int AType, const char *AName) {
    const AVDictionaryEntry *entry =
        avlib.av_dict_get(Engine.CodecPrivateOptions[AType], AName, nullptr, 0);
    return entry ? entry->value : "<absent>";
  }

  TCustomFFmpeg Engine;
};

// Runs the body with the process's time zone set to AZone, restoring the old one after.
class ZoneGuard {
public:
  explicit ZoneGuard(const char *AZone) {
    const char *old = std::getenv("TZ");
    hadZone_ = old != nullptr;
    if (old)
      oldZone_ = old;
    setenv("TZ", AZone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (hadZone_)
      setenv("TZ", oldZone_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

private:
  bool hadZone_ = false;
  std::string oldZone_;
};

// Days since 30 December 1899 for a wall-clock time given as seconds since 1970 "as if UTC".
double DaysOf(int64_t AWallSeconds) { return 25569.0 + AWallSeconds / 86400.0; }

void ExpectRanges(const std::vector<TTimeRange> &ARanges,
                  const std::vector<std::pair<int64_t, int64_t>> &AExpected) {
  ASSERT_EQ(ARanges.size(), AExpected.size());
  for (size_t i = 0; i < ARanges.size(); ++i) {
    EXPECT_EQ(ARanges[i].Start, AExpected[i].first) << "range " << i;
    EXPECT_EQ(ARanges[i].Stop, AExpected[i].second) << "range " << i;
  }
}

} // namespace

TEST(OptionRecords, InitRestoresEveryDefault) {
  TOutputOptions o;
  o.FileName = "x.mp4";
  o.AudioSyncMethod = 5;
  o.PadColor = 0xFFFFFF;
  std::memset(o.Genre, 'g', sizeof o.Genre);
  o.TargetNormDefault = 2;
  o.CustomHook = true;
  InitOutputOptions(o);
  EXPECT_EQ(o.FileName, "");
  EXPECT_EQ(o.AudioSyncMethod, 0);
  EXPECT_EQ(o.VideoSyncMethod, -1);
  EXPECT_EQ(o.PadColor, 0u);
  EXPECT_EQ(o.Timestamp, -1.0);
  EXPECT_EQ(std::string(o.Genre, sizeof o.Genre), std::string(sizeof o.Genre, '\0'));
  EXPECT_EQ(o.TargetNormDefault, 1);
  EXPECT_FALSE(o.CustomHook);

  TInputOptions i;
  i.StartTime = 5;
  InitInputOptions(i);
  EXPECT_EQ(i.StartTime, -1);
}

TEST(OptionRecords, HookTimeRangesKeepOnlyRangesThatEndAfterTheirStart) {
  // The second entry ends before it starts; the third has no end (-1 ms).
  ExpectRanges(ParseHookTimeRanges("1000-2000,5000-4000,7000"), {{1000000, 2000000}});
  // An unreadable start counts as -1 ms.
  ExpectRanges(ParseHookTimeRanges("abc-3000"), {{-1000, 3000000}});
  // Blanks around entries and parts; text order is kept.
  ExpectRanges(ParseHookTimeRanges("  5000 - 6000 , 0-1500 "), {{5000000, 6000000}, {0, 1500000}});
  EXPECT_TRUE(ParseHookTimeRanges("").empty());
  EXPECT_TRUE(ParseHookTimeRanges(",,").empty());
  EXPECT_TRUE(ParseHookTimeRanges("1000-2x").empty());
  // Numbers too large for microseconds are clamped, not wrapped into negative ranges.
  ExpectRanges(ParseHookTimeRanges("0-9223372036854775807"), {{0, INT64_MAX}});
}

TEST(OptionRecords, TimestampIsLocalTimeAsSecondsSince1970) {
  {
    ZoneGuard zone("UTC0");
    EXPECT_EQ(TimestampToUnixTime(25569.0), 0);
    EXPECT_EQ(TimestampToUnixTime(25569.5), 43200);
    EXPECT_EQ(TimestampToUnixTime(25568.75), -21600);
  }
  {
    // Central Europe: one hour ahead in winter, two in summer.
    ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const int64_t winterNoon = 1168862400; // 2007-01-15 12:00 as wall-clock seconds
    const int64_t summerNoon = 1184500800; // 2007-07-15 12:00
    EXPECT_EQ(TimestampToUnixTime(DaysOf(winterNoon)), winterNoon - 3600);
    EXPECT_EQ(TimestampToUnixTime(DaysOf(summerNoon)), summerNoon - 7200);
    // 0 is now, whatever the zone.
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    EXPECT_NEAR(static_cast<double>(TimestampToUnixTime(0)), static_cast<double>(now), 2);
  }
}

TEST_F(OptionBuilderTest, DefaultRecordsSetOnlyTheAlwaysAssignedFields) {
  const int64_t videoBitRate = CodecInt(AVMEDIA_TYPE_VIDEO, "b");
  Engine.AudioLanguage = "deu";
  Engine.CopyTs = true;
  Engine.AudioSyncMethod = 7;
  Engine.RecTimestamp = 42;
  ApplyInputOptions(Engine, TInputOptions());
  ApplyOutputOptions(Engine, TOutputOptions());

  EXPECT_EQ(Engine.AudioSampleRate, 44100);
  EXPECT_EQ(Engine.AudioChannels, 2);
  EXPECT_EQ(Engine.AudioVolume, 256);
  EXPECT_EQ(Engine.FrameWidth, 0);
  EXPECT_EQ(Engine.PadTop, 0);
  EXPECT_EQ(Engine.CropLeft, 0);
  EXPECT_EQ(Engine.StartTime, 0);
  EXPECT_EQ(Engine.ProgramId, 0);
  EXPECT_EQ(Engine.InputFormat, nullptr);
  EXPECT_EQ(Engine.OutputFormat, nullptr);
  EXPECT_EQ(Engine.RecordingTime, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(Engine.RecTimestamp, 42); // a negative Timestamp sets nothing
  EXPECT_EQ(Engine.Title, "");
  EXPECT_EQ(Engine.Year, 0);
  EXPECT_FALSE(Engine.AudioDisable);
  EXPECT_FALSE(Engine.VideoDisable);
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "b"), videoBitRate);
  EXPECT_TRUE(Engine.TimeRanges.empty());
  EXPECT_FALSE(Engine.OnCustomHook);
  EXPECT_FALSE(Engine.OnBeforeHook);
  // Always assigned, to the record's defaults.
  EXPECT_EQ(Engine.AudioLanguage, "");
  EXPECT_FALSE(Engine.CopyTs);
  EXPECT_EQ(Engine.AudioSyncMethod, 0);
  EXPECT_EQ(Engine.VideoSyncMethod, -1);
  EXPECT_EQ(Engine.PadColor[0], 16); // black
  EXPECT_EQ(Engine.PadColor[1], 128);
  EXPECT_EQ(Engine.PadColor[2], 128);
}

TEST_F(OptionBuilderTest, FieldsReachTheEngineAndWinOverExtOptions) {
  TOutputOptions o;
  o.FileFormat = "psp";
  o.ExtOptions = "ar=22050\r\nab=64000\r\nac=1\r\ncoder=1\r\nlevel=21\r\ns=640x480";
  o.AudioSampleRate = 48000;
  o.AudioBitrate = 128000;
  o.FrameSize = "320x240";
  o.PadTop = 16;
  o.PadBottom = 16;
  o.PadColor = 0x0000FF; // red
  o.FrameRate = "30000/1001";
  o.VideoBitrate = 768000;
  o.GOPSize = 30;
  o.AudioLanguage = "eng";
  o.DisableSubtitle = true;
  o.CopyTimestamps = true;
  o.RecordingTime = 2500;
  o.Year = 2007;
  o.Track = 3;
  std::strcpy(o.Title, "Holiday");
  std::memset(o.Genre, 'x', sizeof o.Genre); // no zero byte: the whole array counts
  ApplyOutputOptions(Engine, o);

  ASSERT_NE(Engine.OutputFormat, nullptr);
  EXPECT_STREQ(Engine.OutputFormat->name, "psp");
  EXPECT_EQ(Engine.AudioSampleRate, 48000);
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_AUDIO, "b"), 128000);
  EXPECT_EQ(Engine.AudioChannels, 1) << "an option no field sets stays";
  EXPECT_EQ(Engine.FrameWidth, 320);
  EXPECT_EQ(Engine.FrameHeight, 240);
  EXPECT_EQ(PrivateOption(AVMEDIA_TYPE_VIDEO, "coder"), "1");
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "level"), 21);
  EXPECT_EQ(Engine.PadTop, 16);
  EXPECT_EQ(Engine.PadBottom, 16);
  EXPECT_EQ(Engine.PadColor[0], 81); // red in Y, Cb, Cr
  EXPECT_EQ(Engine.PadColor[1], 90);
  EXPECT_EQ(Engine.PadColor[2], 240);
  EXPECT_EQ(Engine.FrameRate.num, 30000);
  EXPECT_EQ(Engine.FrameRate.den, 1001);
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "b"), 768000);
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "g"), 30);
  EXPECT_EQ(Engine.AudioLanguage, "eng");
  EXPECT_TRUE(Engine.SubtitleDisable);
  EXPECT_TRUE(Engine.CopyTs);
  EXPECT_EQ(Engine.RecordingTime, 2500000);
  EXPECT_EQ(Engine.OutputDurationMs, 2500);
  EXPECT_EQ(Engine.Year, 2007);
  EXPECT_EQ(Engine.Track, 3);
  EXPECT_EQ(Engine.Title, "Holiday");
  EXPECT_EQ(Engine.Genre, std::string(32, 'x'));
}

TEST_F(OptionBuilderTest, EngineRefusalsReachTheCaller) {
  TOutputOptions o;
  o.AudioTag = "mp4"; // three characters
  try {
    ApplyOutputOptions(Engine, o);
    ADD_FAILURE() << "no exception";
  } catch (const std::exception &e) {
    EXPECT_EQ(std::string(e.what()), "audio tag parameter must be 4 chars");
  }
  TOutputOptions unknown;
  unknown.FileFormat = "no_such_muxer";
  EXPECT_THROW(ApplyOutputOptions(Engine, unknown), FFMpegException);
  TInputOptions input;
  input.FileFormat = "no_such_demuxer";
  try {
    ApplyInputOptions(Engine, input);
    ADD_FAILURE() << "no exception";
  } catch (const FFMpegException &e) {
    EXPECT_EQ(std::string(e.what()), "Unknown input format: no_such_demuxer");
  }
}

TEST_F(OptionBuilderTest, InputRecordReachesTheEngine) {
  TInputOptions i;
  i.ExtOptions = "ar=22050";
  i.FileFormat = "avi";
  i.StartTime = 1500;
  i.ProgramID = 2;
  ApplyInputOptions(Engine, i);
  EXPECT_EQ(Engine.AudioSampleRate, 22050);
  ASSERT_NE(Engine.InputFormat, nullptr);
  EXPECT_STREQ(Engine.InputFormat->name, "avi");
  EXPECT_EQ(Engine.StartTime, 1500000);
  EXPECT_EQ(Engine.ProgramId, 2);

  // Forty minutes in microseconds does not fit 32 bits.
  TInputOptions late;
  late.StartTime = 40 * 60 * 1000;
  ApplyInputOptions(Engine, late);
  EXPECT_EQ(Engine.StartTime, int64_t(40) * 60 * 1000000);

  // Zero start time and negative program number leave the engine alone.
  TInputOptions zero;
  zero.StartTime = 0;
  zero.ProgramID = -1;
  ApplyInputOptions(Engine, zero);
  EXPECT_EQ(Engine.StartTime, int64_t(40) * 60 * 1000000);
  EXPECT_EQ(Engine.ProgramId, 2);
}

TEST_F(OptionBuilderTest, TargetRunsAfterTheFields) {
  TOutputOptions o;
  o.FrameSize = "320x240";
  o.AudioSampleRate = 22050;
  o.VideoCodec = "mpeg4";
  o.TargetType = 3; // dvd
  o.TargetNorm = 1; // pal
  ApplyOutputOptions(Engine, o);
  EXPECT_EQ(Engine.FrameWidth, 720);
  EXPECT_EQ(Engine.FrameHeight, 576);
  EXPECT_EQ(Engine.AudioSampleRate, 48000);
  EXPECT_STREQ(Engine.VideoCodecName, "mpeg2video");
  ASSERT_NE(Engine.OutputFormat, nullptr);
  EXPECT_STREQ(Engine.OutputFormat->name, "dvd");
  EXPECT_EQ(Engine.FrameRate.num, 25);

  // "auto" with nothing to decide from takes the fallback norm.
  TCustomFFmpeg ntsc;
  ntsc.Prepare();
  TOutputOptions fallback;
  fallback.TargetType = 3;
  fallback.TargetNorm = 0;
  fallback.TargetNormDefault = 2;
  fallback.FrameRate = "15"; // tells neither norm, and no input is open
  ApplyOutputOptions(ntsc, fallback);
  EXPECT_EQ(ntsc.FrameHeight, 480);
  EXPECT_EQ(ntsc.FrameRate.num, 30000);
  EXPECT_EQ(ntsc.FrameRate.den, 1001);
}

TEST_F(OptionBuilderTest, HookChoiceConnectsAtMostOneWay) {
  int customCalls = 0, beforeCalls = 0;
  THookHandlers hooks;
  hooks.CustomHook = [&](TCustomFFmpeg *, TBGRImage &, int, int64_t, bool &, bool &) {
    ++customCalls;
  };
  hooks.BeforeHook = [&](TCustomFFmpeg *, THookAction &, int64_t) { ++beforeCalls; };

  TOutputOptions o;
  o.CustomHook = true;
  o.BeforeHook = true;
  o.HookTimeRanges = "1000-2000";
  ApplyOutputOptions(Engine, o, hooks);
  ASSERT_TRUE(Engine.OnCustomHook);
  EXPECT_FALSE(Engine.OnBeforeHook);
  EXPECT_TRUE(Engine.TimeRanges.empty()) << "ranges are ignored with a custom hook";
  TBGRImage picture;
  bool update = false, stop = false;
  Engine.OnCustomHook(&Engine, picture, 0, 0, update, stop);
  EXPECT_EQ(customCalls, 1);

  TCustomFFmpeg before;
  before.Prepare();
  o.CustomHook = false;
  ApplyOutputOptions(before, o, hooks);
  EXPECT_FALSE(before.OnCustomHook);
  ASSERT_TRUE(before.OnBeforeHook);
  THookAction action = haContinue;
  before.OnBeforeHook(&before, action, 0);
  EXPECT_EQ(beforeCalls, 1);
  EXPECT_TRUE(before.TimeRanges.empty());

  // Without either hook the ranges reach the engine, ordered by their end.
  TCustomFFmpeg ranged;
  ranged.Prepare();
  o.BeforeHook = false;
  o.HookTimeRanges = "5000-6000, 0-1500, 9000-8000";
  ApplyOutputOptions(ranged, o, hooks);
  EXPECT_FALSE(ranged.OnCustomHook);
  EXPECT_FALSE(ranged.OnBeforeHook);
  ExpectRanges(ranged.TimeRanges, {{0, 1500000}, {5000000, 6000000}});

  // An empty text clears ranges set before.
  o.HookTimeRanges = "";
  ApplyOutputOptions(ranged, o, hooks);
  EXPECT_TRUE(ranged.TimeRanges.empty());
}

TEST_F(OptionBuilderTest, TimestampFieldSetsTheRecordingTimestamp) {
  ZoneGuard zone("UTC0");
  TOutputOptions o;
  o.Timestamp = 25569.0 + 1.0; // 2 January 1970, 00:00
  ApplyOutputOptions(Engine, o);
  EXPECT_EQ(Engine.RecTimestamp, 86400);
  o.Timestamp = 0;
  ApplyOutputOptions(Engine, o);
  EXPECT_NEAR(static_cast<double>(Engine.RecTimestamp), static_cast<double>(std::time(nullptr)), 2);
}
