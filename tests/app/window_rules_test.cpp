// What the window shows of a batch: percentages, the list's scrolling, the time left, and the
// text of an unexpected error.
#include <gtest/gtest.h>

#include "app/window_rules.h"

TEST(WindowRules, OverallPercentCountsEarlierPanelsDoneAndLaterOnesNotStarted) {
  EXPECT_EQ(OverallPercent(1, 4, 500, 1000), 37); // 25 + 50 div 4
  EXPECT_EQ(OverallPercent(0, 2, 1000, 1000), 50);
  EXPECT_EQ(OverallPercent(2, 3, 999, 1000), 66 + 33);
  EXPECT_EQ(OverallPercent(0, 1, 500, 0), -1); // no total: the bar keeps its value
  EXPECT_EQ(PanelPercent(1999, 2000), 99);
  EXPECT_EQ(PanelPercent(5, 0), -1);
}

TEST(WindowRules, ScrollOffsetShowsTheWholeLastPanelAndNothingWhenAllFit) {
  // Four panels of 138, 2 apart, in 300 pixels: 258 do not fit.
  EXPECT_EQ(ListScrollOffset(4, 138, 2, 300, 0), 0);
  EXPECT_EQ(ListScrollOffset(4, 138, 2, 300, 500), 129);
  EXPECT_EQ(ListScrollOffset(4, 138, 2, 300, 1000), 258);
  EXPECT_EQ(ListScrollOffset(2, 138, 2, 300, 1000), 0);
}

TEST(WindowRules, TimeLeftFollowsTheRateSoFarOnceThereIsEnoughToGoOn) {
  EXPECT_EQ(EstimateTimeLeftMs(0, 60000, 10000), -1);
  EXPECT_EQ(EstimateTimeLeftMs(1000, 60000, 1000), -1);
  EXPECT_EQ(EstimateTimeLeftMs(20000, 60000, 10000), 20000); // twice real time
  EXPECT_EQ(EstimateTimeLeftMs(40000, 60000, 1000), 500);    // a short batch, half done at once
  EXPECT_EQ(FormatTimeLeft(44200), "about 45 s left");
  EXPECT_EQ(FormatTimeLeft(185000), "about 3 min 05 s left");
  EXPECT_EQ(FormatTimeLeft(4320000), "about 1 h 12 min left");
}

TEST(WindowRules, ErrorTextsEndWithAFullStopUnlessTheyEndInPunctuation) {
  EXPECT_EQ(WithFullStop("Cannot open file"), "Cannot open file.");
  EXPECT_EQ(WithFullStop("Why?"), "Why?.");
  EXPECT_EQ(WithFullStop("Stop!"), "Stop!");
  EXPECT_EQ(WithFullStop("(see above)"), "(see above)");
  EXPECT_EQ(WithFullStop("Done."), "Done.");
  EXPECT_EQ(WithFullStop(""), "");
}
