// The bit rate that makes a batch fit the stick, and the floor below which it is refused.
#include <gtest/gtest.h>

#include "app/profiles.h"
#include "app/size_estimate.h"
#include "app/stick_fit.h"

TEST(StickFit, LowersTheRateToFitOrRefusesBelowTheFloorWithTheRoomMissing) {
  const std::vector<TFitInput> films(4, TFitInput{600 * 1000000LL, true}); // four 10-minute films
  const int64_t usual = 4 * StickRoomOfEstimate(EstimateOutputSize(4, 600 * 1000000LL), 32768);

  const TStickFit roomy = FitToStick(4, films, 0, usual + 1, 32768);
  EXPECT_TRUE(roomy.FitsAsIs);
  EXPECT_EQ(roomy.VideoBitrate, PSPVideoBitrate);

  // Three quarters of the room: a lower rate whose expected total stays under it.
  const TStickFit lowered = FitToStick(4, films, 0, usual * 3 / 4, 32768);
  EXPECT_FALSE(lowered.FitsAsIs);
  ASSERT_TRUE(lowered.Possible);
  EXPECT_LT(lowered.VideoBitrate, PSPVideoBitrate);
  EXPECT_GE(lowered.VideoBitrate, FitFloorBitrate);
  EXPECT_LE(lowered.Expected, usual * 3 / 4);
  EXPECT_EQ(lowered.Text().rfind("about " + std::to_string(lowered.VideoBitrate / 1000) +
                                     " kbit/s, a little softer picture",
                                 0),
            0u)
      << lowered.Text();
  // Files taken as they are leave less room for the conversions.
  EXPECT_LT(FitToStick(4, films, usual / 8, usual * 3 / 4, 32768).VideoBitrate,
            lowered.VideoBitrate);

  // A tenth of the room: not even the floor fits, and the room missing is said.
  const TStickFit refused = FitToStick(4, films, 0, usual / 10, 32768);
  EXPECT_FALSE(refused.Possible);
  EXPECT_EQ(refused.Missing, refused.Expected - usual / 10);
  EXPECT_GT(refused.Missing, 0);
  EXPECT_NE(refused.Text().find(FormatSizeKB(refused.Missing) + " more room is needed"),
            std::string::npos)
      << refused.Text();
}
