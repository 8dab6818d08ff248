// korvelo-convert choosing what goes into the file: the sound track, a part of the input,
// pictures as stills.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "support/command_runner.h"
#include "support/decoded_media.h"
#include "support/psp_checks.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace cli_test;
using namespace testing_support;

namespace {

std::string OutputOf(const TempDir &ADir, const std::string &AStem) {
  return ADir.file("AVC/" + AStem + "-480x272-AVC.mp4");
}

} // namespace

TEST(CliContent, SoundTrackByNumberOrLanguage) {
  RequireMediaLibraries();
  const std::string input = MediaFile("two_languages.mkv");
  TempDir byDefault, byLanguage, byNumber;
  // The first track (English, 440 Hz) unless another is chosen; the French one is 5.1 at 880 Hz.
  const TRun first = RunConvert({"-o", byDefault.path().string(), input});
  const TRun french = RunConvert({"-o", byLanguage.path().string(), "--audio-track", "fr", input});
  const TRun second = RunConvert({"-o", byNumber.path().string(), "--audio-track=2", input});
  ASSERT_EQ(first.Status, 0) << first.All();
  ASSERT_EQ(french.Status, 0) << french.All();
  ASSERT_EQ(second.Status, 0) << second.All();
  EXPECT_NEAR(ToneFrequency(DecodeSound(OutputOf(byDefault, "two_languages"))), 440, 15);
  EXPECT_NEAR(ToneFrequency(DecodeSound(OutputOf(byLanguage, "two_languages"))), 880, 25);
  EXPECT_NEAR(ToneFrequency(DecodeSound(OutputOf(byNumber, "two_languages"))), 880, 25);
  ExpectPlaysOnPSP(OutputOf(byNumber, "two_languages"), 4);

  // A track that is not there fails with the tracks there are, and leaves no file behind.
  TempDir missing;
  const TRun none = RunConvert({"-o", missing.path().string(), "--audio-track", "3", input});
  EXPECT_EQ(none.Status, 1);
  EXPECT_NE(none.All().find("no sound track 3 in two_languages.mkv (its sound tracks: 1 eng · "
                            "AAC stereo, 2 fre · AAC 5.1)"),
            std::string::npos)
      << none.All();
  const TRun german = RunConvert({"-o", missing.path().string(), "--audio-track", "de", input});
  EXPECT_EQ(german.Status, 1);
  EXPECT_NE(german.All().find("no sound track in the language 'de'"), std::string::npos)
      << german.All();
  EXPECT_TRUE(FilesIn(missing.path() / "AVC").empty());
}

TEST(CliContent, StartAndEndCutTheInput) {
  RequireMediaLibraries();
  // 25 pictures a second, each different: the picture at 1.000 s is number 25.
  const std::string input = MediaFile("mov_h264_aac.mov");
  TempDir dir;
  const TRun run =
      RunConvert({"-o", dir.path().string(), "--start", "00:00:01", "--end", "2.000", input});
  ASSERT_EQ(run.Status, 0) << run.All();
  const std::string output = OutputOf(dir, "mov_h264_aac");
  const FileFacts facts = ExpectPlaysOnPSP(output, 4);
  EXPECT_NEAR(facts.video.duration, 1.0, 0.05);
  EXPECT_NEAR(facts.audio.duration, 1.0, 0.05);
  EXPECT_TRUE(fs::exists(dir.file("AVC/mov_h264_aac-480x272-AVC.THM")));

  // The first output picture is the source's picture at the start, of those around it: the
  // source sampled where the fitted picture (363x272 in the middle of 480) shows it.
  const std::vector<TDecodedPicture> out = DecodePictures(output, 1);
  const std::vector<TDecodedPicture> source = DecodePictures(input, 30);
  ASSERT_EQ(out.size(), 1u);
  ASSERT_GE(source.size(), 28u);
  int best = -1;
  double bestDifference = 1e9;
  for (int index = 22; index <= 28; ++index) {
    double difference = 0;
    const TDecodedPicture &picture = source[index];
    for (int y = 0; y < 272; y += 2)
      for (int x = 60; x < 420; x += 2) {
        const int sx = (x - 58) * picture.Width / 363, sy = y * picture.Height / 272;
        difference += std::abs(out[0].Y(x, y) - picture.Y(std::min(sx, picture.Width - 1), sy));
      }
    if (difference < bestDifference) {
      bestDifference = difference;
      best = index;
    }
  }
  EXPECT_EQ(best, 25);

  // An end before the start is a usage error; a start past the end fails the file alone.
  const TRun backwards =
      RunConvert({"-o", dir.path().string(), "--start", "5", "--end", "0:04", input});
  EXPECT_EQ(backwards.Status, 2);
  EXPECT_NE(backwards.Err.find("the end (00:00:04) is not after the start (00:00:05)"),
            std::string::npos)
      << backwards.Err;
  const TRun late = RunConvert({"-o", dir.path().string(), "--start", "00:01:00", input});
  EXPECT_EQ(late.Status, 1);
  EXPECT_NE(late.All().find("the start (00:01:00) is past the end of mov_h264_aac.mov"),
            std::string::npos)
      << late.All();
  EXPECT_EQ(FilesIn(dir.path() / "AVC").size(), 2u); // the one conversion and its thumbnail
}

TEST(CliContent, PictureBecomesAStillWithSilentSound) {
  RequireMediaLibraries();
  TempDir dir;
  const TRun run = RunConvert({"-o", dir.path().string(), MediaFile("picture.jpg")});
  const TRun shorter =
      RunConvert({"-o", dir.path().string(), "--still-seconds", "2", MediaFile("picture.png")});
  ASSERT_EQ(run.Status, 0) << run.All();
  ASSERT_EQ(shorter.Status, 0) << shorter.All();
  const FileFacts still = ExpectPlaysOnPSP(OutputOf(dir, "picture"), 4);
  EXPECT_NEAR(still.duration, 5.0, 0.15);
  EXPECT_NEAR(still.video.duration, 5.0, 0.15);
  const TDecodedSound sound = DecodeSound(OutputOf(dir, "picture"));
  float loudest = 0;
  for (float sample : sound.Mono)
    loudest = std::max(loudest, std::abs(sample));
  EXPECT_LT(loudest, 0.001f);
  EXPECT_NEAR(ExpectPlaysOnPSP(dir.file("AVC/picture-480x272-AVC(1).mp4"), 4).duration, 2.0, 0.15);
}

namespace {

// Pictures of the bottom rows where AWith differs strongly from AWithout (the same conversion
// without subtitles): the drawn text or box.
int ChangedPoints(const TDecodedPicture &AWith, const TDecodedPicture &AWithout, int ATop) {
  int changed = 0;
  for (int y = ATop; y < AWith.Height; ++y)
    for (int x = 0; x < AWith.Width; ++x)
      changed += std::abs(AWith.Y(x, y) - AWithout.Y(x, y)) > 50;
  return changed;
}

// Each picture's changed points, checked against when a subtitle shows ([start, end) in
// seconds); pictures within a frame of an edge are not judged.
void ExpectShownOnlyWithin(const std::string &AWith, const std::string &AWithout,
                           const std::vector<std::pair<double, double>> &ATimes, int ATop) {
  const std::vector<TDecodedPicture> with = DecodePictures(AWith);
  const std::vector<TDecodedPicture> without = DecodePictures(AWithout);
  ASSERT_EQ(with.size(), without.size());
  ASSERT_GT(with.size(), 60u);
  int shown = 0, hidden = 0;
  for (size_t i = 0; i < with.size(); ++i) {
    const double t = with[i].Time;
    bool inside = false, nearEdge = false;
    for (const auto &[start, end] : ATimes) {
      inside = inside || (t >= start && t < end);
      nearEdge = nearEdge || std::abs(t - start) < 0.05 || std::abs(t - end) < 0.05;
    }
    if (nearEdge)
      continue;
    const int changed = ChangedPoints(with[i], without[i], ATop);
    if (inside) {
      EXPECT_GT(changed, 40) << "no subtitle at " << t << " s";
      ++shown;
    } else {
      EXPECT_LT(changed, 10) << "a subtitle at " << t << " s";
      ++hidden;
    }
  }
  EXPECT_GT(shown, 10);
  EXPECT_GT(hidden, 5);
}

} // namespace

TEST(CliContent, TextSubtitlesAreDrawnOnlyWhileTheyShow) {
  RequireMediaLibraries();
  // ASS in Cyrillic and Greek at 0.22-0.92, 1.02-1.72 and 1.82-2.42 s (Matroska's times).
  const std::string input = MediaFile("subtitles_ass.mkv");
  TempDir plain, burned;
  const TRun without = RunConvert({"-o", plain.path().string(), input});
  const TRun with = RunConvert({"-o", burned.path().string(), "--subtitles", "rus", input});
  ASSERT_EQ(without.Status, 0) << without.All();
  ASSERT_EQ(with.Status, 0) << with.All();
  ExpectShownOnlyWithin(OutputOf(burned, "subtitles_ass"), OutputOf(plain, "subtitles_ass"),
                        {{0.223, 0.923}, {1.023, 1.723}, {1.823, 2.423}}, 230);

  // A SubRip file beside the video, with its name and language, found by itself; its times
  // count from the chosen start.
  TempDir side;
  fs::create_symlink(MediaFile("mov_h264_aac.mov"), side.file("film.mov"));
  WriteFile(side.file("film.ru.srt"), "1\n00:00:01,000 --> 00:00:01,600\nПривет из файла\n\n");
  const TRun found = RunConvert(
      {"-o", side.file("out"), "--subtitles", "ru", "--start", "0.5", side.file("film.mov")});
  const TRun cut = RunConvert({"-o", side.file("plain"), "--start", "0.5", side.file("film.mov")});
  ASSERT_EQ(found.Status, 0) << found.All();
  ASSERT_EQ(cut.Status, 0) << cut.All();
  ExpectShownOnlyWithin(side.file("out/AVC/film-480x272-AVC.mp4"),
                        side.file("plain/AVC/film-480x272-AVC.mp4"), {{0.5, 1.1}}, 230);
}

TEST(CliContent, DvdSubtitlesAreBlendedScaledWithThePicture) {
  RequireMediaLibraries();
  // A white box over the middle half of the 320x240 picture, rows 180-210: in the 363x272
  // picture 58 points from the left, that is x 149-330, y 204-238.
  const std::string input = MediaFile("subtitles_dvd.mkv");
  TempDir plain, burned;
  const TRun without = RunConvert({"-o", plain.path().string(), input});
  const TRun with = RunConvert({"-o", burned.path().string(), "--subtitles", "1", input});
  ASSERT_EQ(without.Status, 0) << without.All();
  ASSERT_EQ(with.Status, 0) << with.All();
  const std::string output = OutputOf(burned, "subtitles_dvd");
  ExpectShownOnlyWithin(output, OutputOf(plain, "subtitles_dvd"),
                        {{0.2, 0.9}, {1.0, 1.7}, {1.8, 2.4}}, 200);
  const std::vector<TDecodedPicture> pictures = DecodePictures(output, 20);
  ASSERT_GE(pictures.size(), 16u); // 0.5 s
  const TDecodedPicture &shown = pictures[15];
  EXPECT_GT(shown.MeanLuma(155, 208, 325, 234), 225);
  EXPECT_LT(shown.MeanLuma(155, 244, 325, 270), 200); // below the box: the picture
}

TEST(CliContent, BadSubtitleChoicesFailAloneWithTheirReason) {
  RequireMediaLibraries();
  TempDir dir;
  fs::create_symlink(MediaFile("mov_h264_aac.mov"), dir.file("film.mov"));
  WriteFile(dir.file("latin1.srt"), "1\n00:00:01,000 --> 00:00:02,000\nGr\xfc\xdf"
                                    "e\n\n");
  WriteFile(dir.file("broken.srt"), "this is no subtitle file at all\n");
  struct TCase {
    std::vector<std::string> Args;
    std::string Message;
  } cases[] = {
      {{"--subtitles", dir.file("latin1.srt")},
       "latin1.srt: the subtitles are not UTF-8 text (byte 35)"},
      {{"--subtitles", dir.file("broken.srt")}, "broken.srt: not a subtitle file that can be read"},
      {{"--subtitles", dir.file("missing.srt")}, "subtitle file not found: "},
      {{"--subtitles", "3"}, "no subtitles 3 for film.mov (it has none, and no subtitle file"},
  };
  for (const TCase &c : cases) {
    std::vector<std::string> args = {"-o", dir.file("out")};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    args.push_back(dir.file("film.mov"));
    const TRun run = RunConvert(args);
    EXPECT_EQ(run.Status, 1) << run.All();
    EXPECT_NE(run.All().find(c.Message), std::string::npos) << run.All();
  }
  // Nothing half-made is left, and the video is untouched.
  EXPECT_TRUE(FilesIn(dir.path() / "out" / "AVC").empty());
  EXPECT_TRUE(fs::exists(dir.file("latin1.srt")));
}
