#include <gtest/gtest.h>

#include <string>

#include "app/content_choice.h"
#include "probe/av_probe.h"
#include "support/test_support.h"

namespace {

// forced_subtitles.mkv: sound in English (1st) and French (2nd), and forced German subtitles.
// With no subtitles asked for, what shows is the forced stream, or nothing.
TEST(ContentChoice, ForcedSubtitlesShowWhenTheSoundIsNotThePersonsLanguage) {
  testing_support::RequireMediaLibraries();
  const std::string input = testing_support::MediaFile("forced_subtitles.mkv");
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(input));
  const std::vector<TTrackEntry> streams = SubtitleTracks(probe);
  ASSERT_EQ(streams.size(), 1u);
  ASSERT_TRUE(streams[0].Forced);

  struct TCase {
    const char *Locale;
    const char *Sound;
    bool Shown;
  } cases[] = {
      {"de", "", true},     // English sound for a German speaker
      {"de", "fre", true},  // so is French
      {"fr", "", true},     // English sound for a French speaker
      {"en", "", false},    // the person's own language
      {"fr", "fre", false}, // the chosen sound is the person's
      {"", "", false},      // no language known ("C" locale)
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(std::string("locale ") + c.Locale + ", sound " + c.Sound);
    TContentChoice choice;
    choice.AudioTrack = c.Sound;
    TResolvedContent resolved;
    std::string error;
    ASSERT_TRUE(ResolveContentChoice(probe, input, 2500000, choice, c.Locale, resolved, error))
        << error;
    if (c.Shown) {
      EXPECT_EQ(resolved.Subtitle.Kind, TSubtitleKind::skStream);
      EXPECT_EQ(resolved.Subtitle.StreamIndex, streams[0].StreamIndex);
    } else {
      EXPECT_EQ(resolved.Subtitle.Kind, TSubtitleKind::skNone);
    }
  }

  // Asked for none, none it is, whatever the languages.
  TContentChoice none;
  none.Subtitles = "none";
  TResolvedContent resolved;
  std::string error;
  ASSERT_TRUE(ResolveContentChoice(probe, input, 2500000, none, "de", resolved, error));
  EXPECT_EQ(resolved.Subtitle.Kind, TSubtitleKind::skNone);
}

} // namespace
