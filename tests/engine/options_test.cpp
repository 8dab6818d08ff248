// The engine object's lifecycle, option table and generic option store.
#include <gtest/gtest.h>

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
  TCustomFFmpeg Engine;
  std::vector<LoggedLine> Lines;
};

TEST_F(OptionsTest, PrepareGivesDefaultsAndHolders) {
  EXPECT_EQ(Engine.FramePixFmt, -1);
  EXPECT_EQ(Engine.AudioChannels, 2);
  EXPECT_EQ(Engine.AudioSampleRate, 44100);
  for (int t = 0; t < 5; ++t)
    ASSERT_NE(Engine.CodecDefaults[t], nullptr);
  EXPECT_NE(Engine.FormatDefaults, nullptr);
  EXPECT_NE(Engine.ScalerDefaults, nullptr);
}

} // namespace
