// The text helpers the user sees, the profile table and the volume of a folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "app/profiles.h"
#include "support/test_support.h"

namespace {

std::map<std::string, std::string> OptionsOf(const TPSPProfile &AProfile) {
  std::map<std::string, std::string> options;
  for (const auto &option : AProfile.EncoderOptions)
    options[option.first] = option.second;
  return options;
}

TEST(TextHelpers, SizesInKilobytesOfAThousandGroupedByCommas) {
  EXPECT_EQ(FormatSizeKB(0), "0 KB");
  EXPECT_EQ(FormatSizeKB(999), "0 KB");
  EXPECT_EQ(FormatSizeKB(1000), "1 KB");
  EXPECT_EQ(FormatSizeKB(57000), "57 KB");
  EXPECT_EQ(FormatSizeKB(999999), "999 KB");
  EXPECT_EQ(FormatSizeKB(1000000), "1,000 KB");
  EXPECT_EQ(FormatSizeKB(123456789), "123,456 KB");
  EXPECT_EQ(FormatSizeKB(1234567890), "1,234,567 KB");
  EXPECT_EQ(FormatSizeKB(int64_t{5} * 1000 * 1000 * 1000 * 1000), "5,000,000,000 KB");
  EXPECT_EQ(FormatSizeKB(-1), "0 KB"); // an unmeasurable free space
}

TEST(TextHelpers, DurationsAsHoursMinutesSecondsAndHundredths) {
  EXPECT_EQ(FormatDuration(0), "00:00:00.00");
  EXPECT_EQ(FormatDuration(5025678), "01:23:45.67");
  EXPECT_EQ(FormatDuration(360000000), "100:00:00.00");
  EXPECT_EQ(FormatDuration(59999), "00:00:59.99");
  EXPECT_EQ(FormatDuration(3600000 - 1), "00:59:59.99");
  EXPECT_EQ(FormatDuration(-1), "--:--:--.--");
  EXPECT_EQ(TwoDigits(7), "07");
  EXPECT_EQ(TwoDigits(10), "10");
  EXPECT_EQ(TwoDigits(123), "123");
}

TEST(TextHelpers, FileNumbersPaddedToFiveDigits) {
  EXPECT_EQ(PadNumber5(7), "00007");
  EXPECT_EQ(PadNumber5(0), "00000");
  EXPECT_EQ(PadNumber5(12345), "12345");
  EXPECT_EQ(PadNumber5(99999), "99999");
  EXPECT_EQ(PadNumber5(-1), "00000");
  EXPECT_EQ(PadNumber5(100000), "00000");
}

TEST(Profiles, SixRowsInOrderWithRowFourPreselected) {
  ASSERT_EQ(PSPProfiles.size(), 6u);
  EXPECT_EQ(PSPProfiles[DefaultProfileIndex].Name, "AVC 480x272 768kbps Stereo/128kbps");
  const char *sizes[] = {"320x240", "368x208", "320x240", "368x208", "480x272", "720x480"};
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    const TPSPProfile &p = PSPProfiles[i];
    EXPECT_EQ(p.Size, sizes[i]);
    EXPECT_EQ(p.Name.find(p.Kind + " " + p.Size + " "), 0u);
    EXPECT_EQ(p.Kind, i < 2 ? "MPEG4" : "AVC");
    EXPECT_EQ(p.VideoCodec, i < 2 ? "mpeg4" : "libx264");
    EXPECT_EQ(p.AudioSampleRate, i < 2 ? 24000 : 48000);
    EXPECT_EQ(p.AudioChannels, 2); // a 5.1 input must still give stereo
    EXPECT_EQ(FindProfileByName(p.Name), i);
  }
}

TEST(Profiles, H264OptionsOnlyOnAVCRowsWithTheLevelTheSizeNeeds) {
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    const auto options = OptionsOf(PSPProfiles[i]);
    if (PSPProfiles[i].Kind == "AVC") {
      EXPECT_EQ(options.at("profile"), "main");
      EXPECT_EQ(options.at("coder"), "1");
      EXPECT_EQ(options.at("refs"), "3");
      EXPECT_EQ(options.at("slices"), "1");
      EXPECT_EQ(options.at("b-pyramid"), "none");
      EXPECT_EQ(options.at("weightp"), "0");
      EXPECT_EQ(options.at("8x8dct"), "0");
      // 720x480 has more macroblocks than level 2.1 allows.
      EXPECT_EQ(options.at("level"), PSPProfiles[i].Size == "720x480" ? "30" : "21");
    } else {
      // "level" would turn the MPEG-4 header into Simple Scalable Profile; "profile" and
      // "coder" belong to the H.264 encoder.
      EXPECT_EQ(options.count("level"), 0u);
      EXPECT_EQ(options.count("coder"), 0u);
      EXPECT_EQ(options.count("profile"), 0u);
      EXPECT_EQ(options.at("bf"), "0");
      EXPECT_EQ(options.at("flags"), "-qpel");
    }
  }
}

TEST(Volumes, FolderMapsToTheMountPointThatHoldsIt) {
  testing_support::TempDir dir;
  const std::string volume = VolumeOf(dir.path().string());
  ASSERT_FALSE(volume.empty());
  // A folder that does not exist yet lies on the volume of its nearest existing parent.
  EXPECT_EQ(VolumeOf(dir.file("not/yet/there")), volume);
  EXPECT_EQ(VolumeOf("/proc/self/fd"), "/proc");
  EXPECT_EQ(VolumeOf("/"), "/");
  EXPECT_EQ(VolumeOf(""), "");
}

} // namespace
