// Fitting a source into each profile, the output name and the options handed to the engine.
#include <gtest/gtest.h>

#include <fstream>

#include "app/output_claim.h"
#include "app/output_options.h"
#include "app/thumbnail.h"
#include "converter/option_records.h"
#include "support/test_support.h"

namespace {

struct TFitCase {
  int SrcW, SrcH, Profile;
  const char *FrameSize;
  int PadTop, PadBottom, PadLeft, PadRight;
};

// Expected values worked out by hand from the fitting rule (nearest, ties to even; odd sizes
// grow by one; the first pad is half the band, made even).
const TFitCase FitCases[] = {
    {640, 480, 0, "320x240", -1, -1, -1, -1},
    {640, 480, 1, "278x208", -1, -1, 46, 44},
    {640, 480, 2, "320x240", -1, -1, -1, -1},
    {640, 480, 3, "278x208", -1, -1, 46, 44},
    {640, 480, 4, "364x272", -1, -1, 58, 58},
    {640, 480, 5, "640x480", -1, -1, 40, 40},
    {1280, 720, 0, "320x180", 30, 30, -1, -1},
    {1280, 720, 1, "368x208", 0, 0, -1, -1},
    {1280, 720, 2, "320x180", 30, 30, -1, -1},
    {1280, 720, 3, "368x208", 0, 0, -1, -1},
    {1280, 720, 4, "480x270", 2, 0, -1, -1},
    {1280, 720, 5, "720x406", 38, 36, -1, -1},
    {720, 480, 0, "320x214", 14, 12, -1, -1},
    {720, 480, 1, "312x208", -1, -1, 28, 28},
    {720, 480, 2, "320x214", 14, 12, -1, -1},
    {720, 480, 3, "312x208", -1, -1, 28, 28},
    {720, 480, 4, "408x272", -1, -1, 36, 36},
    {720, 480, 5, "720x480", -1, -1, -1, -1},
    // Extreme shapes keep two pixels of picture.
    {4096, 2, 4, "480x2", 136, 134, -1, -1},
    {2, 4096, 4, "2x272", -1, -1, 240, 238},
};

TEST(Fitting, LargestSizeWithTheSourceAspectInsideTheBox) {
  // Source, box, expected size; rounding to the nearest, ties to even (7.5, 8.5, 9.5).
  const int cases[][6] = {
      {1280, 720, 160, 120, 160, 90}, {720, 480, 160, 120, 160, 107}, {480, 272, 138, 102, 138, 78},
      {640, 480, 480, 272, 363, 272}, {640, 480, 320, 240, 320, 240}, {480, 640, 160, 120, 90, 120},
      {100, 75, 10, 100, 10, 8},      {100, 85, 10, 100, 10, 8},      {100, 95, 10, 100, 10, 10},
      {0, 0, 160, 120, 160, 120},     {4096, 2, 480, 272, 480, 2},    {2, 4096, 480, 272, 2, 272}};
  for (const auto &c : cases) {
    int w = 0, h = 0;
    FitSize(c[0], c[1], c[2], c[3], w, h);
    EXPECT_EQ(w, c[4]) << c[0] << "x" << c[1] << " into " << c[2] << "x" << c[3];
    EXPECT_EQ(h, c[5]) << c[0] << "x" << c[1] << " into " << c[2] << "x" << c[3];
  }
}

TEST(Fitting, FrameSizeAndPadsForEverySourceAndProfile) {
  for (const TFitCase &c : FitCases) {
    SCOPED_TRACE(std::to_string(c.SrcW) + "x" + std::to_string(c.SrcH) + " into profile " +
                 std::to_string(c.Profile));
    const TPSPOutputSettings out =
        BuildOutputOptions(c.Profile, true, "t", "/in/a.avi", "", "", c.SrcW, c.SrcH);
    EXPECT_EQ(out.FrameSize, c.FrameSize);
    EXPECT_EQ(out.PadTop, c.PadTop);
    EXPECT_EQ(out.PadBottom, c.PadBottom);
    EXPECT_EQ(out.PadLeft, c.PadLeft);
    EXPECT_EQ(out.PadRight, c.PadRight);
    // Whatever the source, the padded frame is exactly the profile's size.
    int w = 0, h = 0, tw = 0, th = 0;
    ASSERT_TRUE(ParseSize(out.FrameSize, w, h));
    ASSERT_TRUE(ParseSize(PSPProfiles[c.Profile].Size, tw, th));
    EXPECT_EQ(w + std::max(out.PadLeft, 0) + std::max(out.PadRight, 0), tw);
    EXPECT_EQ(h + std::max(out.PadTop, 0) + std::max(out.PadBottom, 0), th);
    EXPECT_EQ(out.AspectRatio, std::to_string(tw) + ":" + std::to_string(th));
  }
}

TEST(Fitting, WithoutFittingOrWithoutVideoTheProfileSizeStands) {
  TPSPOutputSettings out = BuildOutputOptions(4, false, "t", "a.avi", "", "", 640, 480);
  EXPECT_EQ(out.FrameSize, "480x272");
  EXPECT_EQ(out.PadLeft, -1);
  out = BuildOutputOptions(4, true, "t", "a.wav", "", "", -1, -1);
  EXPECT_EQ(out.FrameSize, "480x272");
  EXPECT_EQ(out.PadTop, -1);
  EXPECT_EQ(out.PadLeft, -1);
  EXPECT_THROW(BuildOutputOptions(6, true, "t", "a.avi", "", "", 640, 480), std::out_of_range);
}

TEST(Fitting, AnamorphicSourceFittedByItsDisplayedShape) {
  // 720x480 with 32:27 pixels is a 16:9 picture: it gets bands above and below, not beside.
  const TPSPOutputSettings out =
      BuildOutputOptions(4, true, "t", "a.mp4", "", "", 720, 480, 16.0 / 9);
  EXPECT_EQ(out.FrameSize, "480x270");
  EXPECT_EQ(out.PadTop, 2);
  EXPECT_EQ(out.PadBottom, 0);
  EXPECT_EQ(out.PadLeft, -1);
}

TEST(OutputName, BaseNameSizeKindInTheKindsFolderNumberedWhenTaken) {
  testing_support::TempDir dir;
  const std::string avc = dir.file("AVC") + "/", mpeg4 = dir.file("MPEG4") + "/";
  std::filesystem::create_directories(avc);
  std::filesystem::create_directories(mpeg4);
  const std::string input = "/videos/my.holiday.avi";
  std::string expected[] = {avc + "my.holiday-480x272-AVC.mp4",
                            avc + "my.holiday-480x272-AVC(1).mp4",
                            avc + "my.holiday-480x272-AVC(2).mp4"};
  for (const std::string &name : expected) {
    const TPSPOutputSettings out = BuildOutputOptions(4, true, "t", input, avc, mpeg4, 640, 480);
    EXPECT_EQ(out.FileName, name);
    std::ofstream(out.FileName) << "x"; // taken by the conversion
  }
  const TPSPOutputSettings m = BuildOutputOptions(0, true, "t", input, avc, mpeg4, 640, 480);
  EXPECT_EQ(m.FileName, mpeg4 + "my.holiday-320x240-MPEG4.mp4");
  // The thumbnail beside it.
  EXPECT_EQ(ThumbnailFileName(m.FileName), mpeg4 + "my.holiday-320x240-MPEG4.THM");
  EXPECT_EQ(ThumbnailFileName("/a.b/c"), "/a.b/c.THM");
  // Without output folders (not ready) the name has no folder.
  EXPECT_EQ(BuildOutputOptions(2, true, "t", input, "", "", 640, 480).FileName,
            "my.holiday-320x240-AVC.mp4");
}

TEST(OutputName, ClaimedExclusivelyTakingTheNextNumberWhenAnotherProcessWasFaster) {
  testing_support::TempDir dir;
  const std::string avc = dir.file("AVC") + "/";
  std::filesystem::create_directories(avc);
  TPSPOutputSettings first = BuildOutputOptions(4, true, "t", "/in/clip.avi", avc, "", 640, 480);
  TPSPOutputSettings second = BuildOutputOptions(4, true, "t", "/in/clip.avi", avc, "", 640, 480);
  ASSERT_EQ(first.FileName, second.FileName); // both chose before either created the file
  std::string error;
  ASSERT_TRUE(ClaimOutputFile(first, error)) << error;
  EXPECT_EQ(first.FileName, avc + "clip-480x272-AVC.mp4");
  std::ofstream(avc + "clip-480x272-AVC(1).mp4") << "a third one";
  ASSERT_TRUE(ClaimOutputFile(second, error)) << error;
  EXPECT_EQ(second.FileName, avc + "clip-480x272-AVC(2).mp4");
  EXPECT_TRUE(std::filesystem::exists(second.FileName));
  TPSPOutputSettings nowhere =
      BuildOutputOptions(4, true, "t", "clip.avi", dir.file("no/"), "", 1, 1);
  EXPECT_FALSE(ClaimOutputFile(nowhere, error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

TEST(OutputName, TitleFromMetadataElseFileNameCutWithoutBreakingACharacter) {
  EXPECT_EQ(TitleFor("Summer", "/v/holiday.avi"), "Summer");
  EXPECT_EQ(TitleFor("", "/v/holiday.avi"), "holiday");
  EXPECT_EQ(TitleFor(std::string(1, '\0'), "/v/holiday.avi"), "holiday");
  std::string longTitle;
  for (int i = 0; i < 300; ++i)
    longTitle += "\xC3\xA9"; // two bytes each
  const TPSPOutputSettings out = BuildOutputOptions(4, true, longTitle, "a.avi", "", "", 640, 480);
  EXPECT_EQ(out.Title.size(), 510u);
  EXPECT_EQ(out.Title, longTitle.substr(0, 510));
}

TEST(EngineOptions, EncoderOptionsFirstThenTheFieldsInOrder) {
  const TPSPOutputSettings out = BuildOutputOptions(4, true, "Summer", "a.avi", "", "", 640, 480);
  const TEngineOptionList expected = {
      {"profile", "main"},   {"level", "21"},       {"coder", "1"},      {"refs", "3"},
      {"slices", "1"},       {"b-pyramid", "none"}, {"weightp", "0"},    {"8x8dct", "0"},
      {"f", "psp"},          {"acodec", "aac"},     {"ac", "2"},         {"ar", "48000"},
      {"ab", "128000"},      {"vcodec", "libx264"}, {"r", "30000/1001"}, {"s", "364x272"},
      {"aspect", "480:272"}, {"padleft", "58"},     {"padright", "58"},  {"vb", "768000"},
      {"title", "Summer"}};
  EXPECT_EQ(out.EngineOptions(), expected);
  EXPECT_EQ(out.ExtOptionsText(), "profile=main\r\nlevel=21\r\ncoder=1\r\nrefs=3\r\nslices=1\r\n"
                                  "b-pyramid=none\r\nweightp=0\r\n8x8dct=0");
  EXPECT_EQ(out.FileFormat, "psp");
  EXPECT_EQ(out.FileExt, ".mp4");
}

TEST(EngineOptions, MPEG4KindsGetNoH264OptionsAndTheirOwnRate) {
  const TPSPOutputSettings out = BuildOutputOptions(1, true, "", "a.avi", "", "", 1280, 720);
  const TEngineOptionList expected = {
      {"bf", "0"},         {"flags", "-qpel"}, {"f", "psp"},          {"acodec", "aac"},
      {"ac", "2"},         {"ar", "24000"},    {"ab", "128000"},      {"vcodec", "mpeg4"},
      {"r", "30000/1001"}, {"s", "368x208"},   {"aspect", "368:208"}, {"padtop", "0"},
      {"padbottom", "0"},  {"vb", "768000"}};
  EXPECT_EQ(out.EngineOptions(), expected); // an empty title sets none
}

} // namespace

namespace {

TEST(EngineOptions, ConverterRecordFilledFromTheSettings) {
  const TPSPOutputSettings s =
      BuildOutputOptions(0, true, "Summer", "/v/a.avi", "/o/AVC/", "/o/MPEG4/", 1280, 720);
  TOutputOptions o;
  InitOutputOptions(o);
  FillOutputOptions(s, o);
  EXPECT_EQ(o.FileName, "/o/MPEG4/a-320x240-MPEG4.mp4");
  EXPECT_EQ(o.AudioChannels, 2);
  EXPECT_EQ(o.AudioSampleRate, 24000);
  EXPECT_EQ(o.FrameSize, "320x180");
  EXPECT_EQ(o.PadTop, 30);
  EXPECT_EQ(o.PadBottom, 30);
  EXPECT_EQ(o.PadLeft, -1);
  EXPECT_STREQ(o.Title, "Summer");
  EXPECT_EQ(o.ExtOptions, "bf=0\r\nflags=-qpel");
  // A title of the longest length still ends in a zero.
  FillOutputOptions(BuildOutputOptions(4, true, std::string(2000, 'x'), "a", "", "", 1, 1), o);
  EXPECT_EQ(std::string(o.Title).size(), MaxTitleBytes);
}

} // namespace
