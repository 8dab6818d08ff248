#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "engine/custom_ffmpeg.h"
#include "medialib/medialib.h"
#include "probe/av_probe.h"
#include "support/decoded_media.h"
#include "support/test_support.h"

using testing_support::DecodePictures;
using testing_support::MediaFile;
using testing_support::TDecodedPicture;

namespace {

std::string Media(const std::string &AName) { return MediaFile(AName); }

// Collects what the probe writes to the library log.
std::mutex logMutex;
std::vector<std::string> logLines;

void captureLog(void *, int, const char *AFormat, va_list AArgs) {
  char line[1024];
  std::vsnprintf(line, sizeof line, AFormat, AArgs);
  std::lock_guard<std::mutex> lock(logMutex);
  logLines.emplace_back(line);
}

class ProbeTest : public ::testing::Test {
protected:
  void SetUp() override {
    testing_support::RequireMediaLibraries();
    avlib.av_log_set_callback(captureLog);
    std::lock_guard<std::mutex> lock(logMutex);
    logLines.clear();
  }
  void TearDown() override { avlib.av_log_set_callback(avlib.av_log_default_callback); }

  static bool Logged(const std::string &ALine) {
    std::lock_guard<std::mutex> lock(logMutex);
    for (const std::string &line : logLines)
      if (line == ALine)
        return true;
    return false;
  }

  TAVProbe probe;
};

// The test pattern: colour bars 40 pixels wide (white, yellow, cyan, green, magenta, red,
// blue, black) scrolling left by 4 pixels a picture, and a white 40 x 40 square that starts in
// the top left corner and moves 5 pixels right and 3 down with every picture.
// AHue names the primaries present, e.g. "rg" for yellow; the others must be nearly absent.
void ExpectHue(const TBGRImage &AImage, int AX, int AY, const std::string &AHue) {
  const uint8_t *p = AImage.Row(AY) + AX * 3; // blue, green, red
  const int rgb[3] = {p[2], p[1], p[0]};
  for (int c = 0; c < 3; ++c) {
    const bool present = AHue.find("rgb"[c]) != std::string::npos;
    EXPECT_TRUE(present ? rgb[c] > 190 : rgb[c] < 70)
        << "at " << AX << "," << AY << ": r=" << rgb[0] << " g=" << rgb[1] << " b=" << rgb[2];
  }
}

bool AllBlack(const TBGRImage &AImage) {
  for (int y = 0; y < AImage.Height; ++y)
    for (int x = 0; x < AImage.Width * 3; ++x)
      if (AImage.Row(y)[x] != 0)
        return false;
  return true;
}

bool SamePicture(const TBGRImage &A, const TBGRImage &B) {
  if (A.Width != B.Width || A.Height != B.Height)
    return false;
  for (int y = 0; y < A.Height; ++y)
    if (std::memcmp(A.Row(y), B.Row(y), A.Width * 3) != 0)
      return false;
  return true;
}

bool AllAtDefaults(const TAVVideoInfo &I) {
  return I.Language[0] == 0 && I.CodecName[0] == 0 && I.StartTime == -1 && I.StartTimeUS == -1 &&
         I.Duration == -1 && I.DurationUS == -1 && I.BitRate == -1 && I.Width == -1 &&
         I.Height == -1 && I.DisplayAspect == -1.0f && I.PixelFormat == -1 &&
         I.FrameRateNum == -1 && I.FrameRateDen == -1;
}

void ExpectNoFileCounters(const TAVProbe &P) {
  EXPECT_FALSE(P.FileLoaded());
  for (int value : {P.StreamCount(), P.ProgramCount(), P.VideoStreamCount(), P.AudioStreamCount(),
                    P.SubtitleStreamCount(), P.FirstVideoStream(), P.FirstAudioStream(),
                    P.FirstSubtitleStream()})
    EXPECT_EQ(value, -1);
}

} // namespace

TEST_F(ProbeTest, FailedLoadsExplainThemselvesAndLeaveNoFile) {
  testing_support::TempDir dir;
  const std::string missing = dir.file("missing.avi");
  EXPECT_FALSE(probe.LoadFile(missing, ""));
  EXPECT_EQ(probe.LastErrorMessage(), missing + ": no such file or directory");
  ExpectNoFileCounters(probe);

  EXPECT_FALSE(probe.LoadFile(Media("avi_mpeg4_mp3.avi"), "no_such_demuxer"));
  EXPECT_EQ(probe.LastErrorMessage(), "Unknown input format: no_such_demuxer");

  // A file the library recognises no format in.
  const std::string garbage = dir.file("garbage.bin");
  {
    std::ofstream out(garbage, std::ios::binary);
    for (int i = 0; i < 4096; ++i)
      out.put(static_cast<char>((i * 7919) % 251));
  }
  EXPECT_FALSE(probe.LoadFile(garbage, ""));
  EXPECT_EQ(probe.LastErrorMessage(), garbage + ": Unknown format");
  // A known format whose header cannot be read: an MP4 cut before its index (at its end).
  const std::string cut = dir.file("cut.mp4");
  {
    const std::string whole = testing_support::ReadFile(Media("anamorphic.mp4"));
    std::ofstream(cut, std::ios::binary) << whole.substr(0, 4096);
  }
  EXPECT_FALSE(probe.LoadFile(cut, ""));
  EXPECT_EQ(probe.LastErrorMessage(), cut + ": Error while parsing header");

  // A failed load closes the file that was open before.
  ASSERT_TRUE(probe.LoadFile(Media("avi_mpeg4_mp3.avi"), ""));
  EXPECT_FALSE(probe.LoadFile(missing, ""));
  ExpectNoFileCounters(probe);
  EXPECT_EQ(probe.GetFrameBitmap(-1)->Width, 0);
}

TEST_F(ProbeTest, QueriesWithoutAFileGiveDefaults) {
  probe.CloseFile(); // harmless on an empty probe
  ExpectNoFileCounters(probe);

  TAVFileInfo file;
  file.Duration = 12345;
  file.Title[0] = 'x';
  probe.GetFileInfo(file);
  EXPECT_TRUE(file.Duration == -1 && file.StartTime == -1 && file.BitRate == -1 &&
              file.Year == -1 && file.Title[0] == 0);
  EXPECT_TRUE(Logged("file not loaded.\n"));

  TAVVideoInfo video;
  video.Width = 99;
  probe.GetVideoInfo(-1, video);
  EXPECT_TRUE(AllAtDefaults(video));
  EXPECT_EQ(probe.GetFileName(), "");
  EXPECT_EQ(probe.GetFormatName(), "");

  EXPECT_FALSE(probe.Seek(-1, 0));
  EXPECT_EQ(probe.LastErrorMessage(), "file not loaded.");
  const TBGRImage *bitmap = probe.GetFrameBitmap(-1);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_TRUE(bitmap->Empty());
}

TEST_F(ProbeTest, ReportsStreamsAndVideoParameters) {
  const std::string file = Media("avi_mpeg4_mp3.avi");
  ASSERT_TRUE(probe.LoadFile(file, "")) << probe.LastErrorMessage();
  EXPECT_EQ(probe.GetFormatName(), "avi");
  EXPECT_EQ(probe.GetFileName(), file);
  EXPECT_EQ(probe.LoadedFormat(), "");
  EXPECT_EQ(probe.StreamCount(), 2);
  EXPECT_EQ(probe.VideoStreamCount(), 1);
  EXPECT_EQ(probe.AudioStreamCount(), 1);
  EXPECT_EQ(probe.SubtitleStreamCount(), 0);
  const int video = probe.FirstVideoStream();
  const int audio = probe.FirstAudioStream();
  EXPECT_GE(video, 0);
  EXPECT_GE(audio, 0);
  EXPECT_NE(video, audio);
  EXPECT_EQ(probe.FirstSubtitleStream(), -1);

  TAVFileInfo info;
  probe.GetFileInfo(info);
  EXPECT_NEAR(static_cast<double>(info.Duration), 2.5e6, 0.1e6);
  EXPECT_GT(info.BitRate, 0);

  TAVVideoInfo v;
  probe.GetVideoInfo(-1, v);
  EXPECT_EQ(v.Width, 320);
  EXPECT_EQ(v.Height, 240);
  EXPECT_STREQ(v.CodecName, "mpeg4");
  EXPECT_EQ(v.FrameRateNum * 1.0 / v.FrameRateDen, 25.0);
  EXPECT_EQ(v.PixelFormat, AV_PIX_FMT_YUV420P);
  EXPECT_NE(v.DurationUS, -1);
  EXPECT_NEAR(static_cast<double>(v.DurationUS), 2.5e6, 0.1e6);

  // Bad stream choices leave the defaults and say why.
  probe.GetVideoInfo(audio, v);
  EXPECT_TRUE(AllAtDefaults(v));
  EXPECT_TRUE(Logged("stream #" + std::to_string(audio) + " is not video stream.\n"));
  probe.GetVideoInfo(7, v);
  EXPECT_TRUE(AllAtDefaults(v));
  EXPECT_TRUE(Logged("stream index #7 is invalid.\n"));
  EXPECT_TRUE(probe.GetFrameBitmap(audio)->Empty());
  EXPECT_TRUE(probe.GetFrameBitmap(7)->Empty());

  probe.CloseFile();
  ExpectNoFileCounters(probe);
  EXPECT_EQ(probe.GetFormatName(), "");
}

TEST_F(ProbeTest, FileInfoCarriesTheContainerTags) {
  testing_support::TempDir dir;
  const std::string file = dir.file("tagged.mp3");
  const std::string command =
      "ffmpeg -v error -y -i \"" + Media("mp3_audio.mp3") +
      "\" -c copy -metadata title=Holiday -metadata artist=Someone -metadata album=Summer "
      "-metadata date=2007-05-01 -metadata track=3/12 -metadata genre=Pop "
      "-metadata comment=Nice -metadata copyright=Us \"" +
      file + "\"";
  ASSERT_EQ(std::system(command.c_str()), 0);
  ASSERT_TRUE(probe.LoadFile(file, "")) << probe.LastErrorMessage();
  TAVFileInfo info;
  probe.GetFileInfo(info);
  EXPECT_STREQ(info.Title, "Holiday");
  EXPECT_STREQ(info.Author, "Someone");
  EXPECT_STREQ(info.Album, "Summer");
  EXPECT_STREQ(info.Comment, "Nice");
  EXPECT_STREQ(info.Copyright, "Us");
  EXPECT_STREQ(info.Genre, "Pop");
  EXPECT_EQ(info.Year, 2007);
  EXPECT_EQ(info.Track, 3);
  EXPECT_EQ(info.Timestamp, 0); // no creation time
}

TEST_F(ProbeTest, AudioOnlyFileHasNoVideo) {
  ASSERT_TRUE(probe.LoadFile(Media("wav_pcm.wav"), "")) << probe.LastErrorMessage();
  EXPECT_EQ(probe.VideoStreamCount(), 0);
  EXPECT_EQ(probe.AudioStreamCount(), 1);
  TAVVideoInfo v;
  probe.GetVideoInfo(-1, v);
  EXPECT_TRUE(AllAtDefaults(v));
  EXPECT_TRUE(Logged("no video stream.\n"));
  EXPECT_TRUE(probe.GetFrameBitmap(-1)->Empty());
  // Seeking falls back to the audio stream.
  EXPECT_TRUE(probe.Seek(-1, 1000000));
  EXPECT_FALSE(Logged("could not seek to position 1.000\n"));
}

TEST_F(ProbeTest, AnamorphicVideoReportsItsDisplayAspect) {
  ASSERT_TRUE(probe.LoadFile(Media("anamorphic.mp4"), "")) << probe.LastErrorMessage();
  TAVVideoInfo v;
  probe.GetVideoInfo(-1, v);
  EXPECT_EQ(v.Width, 720);
  EXPECT_EQ(v.Height, 480);
  EXPECT_NEAR(v.DisplayAspect, 16.0 / 9.0, 0.01);
}

// Every picture of the file in order, as GetFrameBitmap delivers them up to the black one.
std::vector<TBGRImage> AllPictures(TAVProbe &AProbe) {
  std::vector<TBGRImage> pictures;
  for (;;) {
    const TBGRImage *bitmap = AProbe.GetFrameBitmap(-1);
    if (bitmap->Empty() || AllBlack(*bitmap) || pictures.size() > 500)
      return pictures;
    pictures.push_back(*bitmap);
  }
}

int IndexOf(const std::vector<TBGRImage> &APictures, const TBGRImage &APicture) {
  for (size_t i = 0; i < APictures.size(); ++i)
    if (SamePicture(APictures[i], APicture))
      return static_cast<int>(i);
  return -1;
}

TEST_F(ProbeTest, DecodesPicturesTopDownInBlueGreenRed) {
  ASSERT_TRUE(probe.LoadFile(Media("avi_mpeg4_mp3.avi"), "")) << probe.LastErrorMessage();
  const TBGRImage first = *probe.GetFrameBitmap(-1);
  ASSERT_EQ(first.Width, 320);
  ASSERT_EQ(first.Height, 240);
  ExpectHue(first, 60, 120, "rg");
  ExpectHue(first, 220, 120, "r");
  ExpectHue(first, 260, 120, "b");

  // Each call gives the next picture: the eleventh has the square at 50..89 x 30..69 over
  // the cyan bar; its mirror row is plain cyan, so rows run top to bottom.
  for (int i = 1; i < 10; ++i)
    probe.GetFrameBitmap(-1);
  const TBGRImage eleventh = *probe.GetFrameBitmap(-1);
  EXPECT_FALSE(SamePicture(first, eleventh));
  ExpectHue(eleventh, 70, 50, "rgb");
  ExpectHue(eleventh, 70, 239 - 50, "gb");
}

TEST_F(ProbeTest, AfterTheLastPictureTheBitmapIsBlack) {
  // MPEG-2 with B-frames: the decoder holds a picture back until the end of the file.
  for (const char *name : {"avi_mpeg4_mp3.avi", "mpg_mpeg2_mp2.mpg"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(probe.LoadFile(Media(name), "")) << probe.LastErrorMessage();
    const std::vector<TBGRImage> pictures = AllPictures(probe);
    EXPECT_EQ(pictures.size(), 63u); // 2.5 s at 25 pictures a second, none lost
    const TBGRImage *bitmap = probe.GetFrameBitmap(-1);
    EXPECT_EQ(bitmap->Width, 320);
    EXPECT_EQ(bitmap->Height, 240);
    EXPECT_TRUE(AllBlack(*bitmap));
    EXPECT_TRUE(Logged("stream eof reached.\n"));
  }
}

TEST_F(ProbeTest, SeekingGoesToThePictureAtTheTime) {
  // Files whose timestamps start at 0, at 0.54 s with reordered pictures, and at 10 s.
  for (const char *name : {"avi_mpeg4_mp3.avi", "mpg_mpeg2_mp2.mpg", "start_time.ts"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(probe.LoadFile(Media(name), "")) << probe.LastErrorMessage();
    const std::vector<TBGRImage> pictures = AllPictures(probe);
    ASSERT_GT(pictures.size(), 60u);

    EXPECT_TRUE(probe.Seek(-1, -5));
    EXPECT_EQ(IndexOf(pictures, *probe.GetFrameBitmap(-1)), 0);
    EXPECT_EQ(IndexOf(pictures, *probe.GetFrameBitmap(-1)), 1);
    EXPECT_TRUE(probe.Seek(-1, 0));
    EXPECT_EQ(IndexOf(pictures, *probe.GetFrameBitmap(-1)), 0);
  }
  EXPECT_FALSE(Logged("could not seek to position 0.000\n"));
  EXPECT_FALSE(Logged("could not seek to position -0.000\n"));

  // Forward: a key picture at or after the time (key pictures come every half second or so),
  // and reading goes on from there.
  ASSERT_TRUE(probe.LoadFile(Media("avi_mpeg4_mp3.avi"), "")) << probe.LastErrorMessage();
  const std::vector<TBGRImage> pictures = AllPictures(probe);
  EXPECT_TRUE(probe.Seek(-1, 1000000));
  const int index = IndexOf(pictures, *probe.GetFrameBitmap(-1));
  EXPECT_GE(index, 20);
  EXPECT_LT(index, 40);
  EXPECT_EQ(IndexOf(pictures, *probe.GetFrameBitmap(-1)), index + 1);
  EXPECT_TRUE(probe.Seek(-1, 2000000));
  EXPECT_GT(IndexOf(pictures, *probe.GetFrameBitmap(-1)), index + 12);
  // Past the end: limited to the stream's duration, so still a success.
  EXPECT_TRUE(probe.Seek(-1, 60000000));

  // With a single key picture at the start, the picture at the time is decoded from it.
  ASSERT_TRUE(probe.LoadFile(Media("mkv_h264_vorbis.mkv"), "")) << probe.LastErrorMessage();
  const std::vector<TBGRImage> sparse = AllPictures(probe);
  ASSERT_GT(sparse.size(), 60u);
  EXPECT_TRUE(probe.Seek(-1, 1200000));
  // (Its pictures start at 0.023 s on the file's clock: the one shown at 1.2 s is 1.183 s.)
  EXPECT_EQ(IndexOf(sparse, *probe.GetFrameBitmap(-1)), 29);
  EXPECT_EQ(IndexOf(sparse, *probe.GetFrameBitmap(-1)), 30);
  EXPECT_FALSE(Logged("could not seek to position 1.200\n"));

  EXPECT_FALSE(probe.Seek(9, 0));
  EXPECT_TRUE(Logged("stream index #9 is invalid.\n"));
}

// The preview at a slider time is the picture shown at that time, in every container: the
// films flash white for one picture at 12 s (their own clock, which may start late).
TEST_F(ProbeTest, ThePictureAtATimeIsExactInEveryContainer) {
  auto white = [](const TBGRImage &AImage) {
    double sum = 0;
    for (int y = AImage.Height / 4; y < AImage.Height * 3 / 4; ++y)
      for (int x = AImage.Width / 4; x < AImage.Width * 3 / 4; ++x)
        sum += AImage.Row(y)[3 * x + 1];
    return sum / (AImage.Width / 2.0 * AImage.Height / 2.0) > 230;
  };
  for (const char *name :
       {"film_keys10.mkv", "film_keys10.mp4", "film_keys10.ts", "film_keys10.avi"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(probe.LoadFile(Media(name), "")) << probe.LastErrorMessage();
    TAVFileInfo file;
    probe.GetFileInfo(file);
    // The flash's time on the file's clock, as a player decoding from the start shows it.
    double flash = -1;
    for (const TDecodedPicture &picture : DecodePictures(Media(name), 1000))
      if (picture.MeanLuma(40, 30, 120, 90) > 225) {
        flash = picture.Time - static_cast<double>(file.StartTime) / 1e6;
        break;
      }
    ASSERT_NEAR(flash, 12, 0.1);
    const auto at = [&](double AOffset) { return std::llround((flash + AOffset) * 1e6); };
    ASSERT_TRUE(probe.Seek(-1, at(-0.02)));
    EXPECT_FALSE(white(*probe.GetFrameBitmap(-1)));
    ASSERT_TRUE(probe.Seek(-1, at(0.02)));
    EXPECT_TRUE(white(*probe.GetFrameBitmap(-1)));
    EXPECT_FALSE(white(*probe.GetFrameBitmap(-1))) << "the next picture follows";
  }
  // AVI keeps no presentation times: its key picture of 10 s is shown after the two B-frames
  // that follow it in the file, which belong to the pictures before it. Picture k is shown at
  // (k + 1) x 40 ms.
  ASSERT_TRUE(probe.LoadFile(Media("film_keys10.avi"), "")) << probe.LastErrorMessage();
  const std::vector<TBGRImage> avi = AllPictures(probe);
  ASSERT_GT(avi.size(), 300u);
  for (const int ms : {9980, 10020, 10060, 10100, 10150}) {
    SCOPED_TRACE(ms);
    ASSERT_TRUE(probe.Seek(-1, ms * 1000));
    EXPECT_EQ(IndexOf(avi, *probe.GetFrameBitmap(-1)), ms / 40 - 1);
    EXPECT_EQ(probe.PictureTime(), ms / 40 * 40000);
  }

  // Sorenson H.263 (old Flash video) at 2 s is the picture decoded there from the start (its
  // pictures start at 0.025 s: the one shown at 2 s is 1.985 s).
  ASSERT_TRUE(probe.LoadFile(Media("flv1_mp3.flv"), "")) << probe.LastErrorMessage();
  const std::vector<TBGRImage> pictures = AllPictures(probe);
  ASSERT_GT(pictures.size(), 90u);
  ASSERT_TRUE(probe.Seek(-1, 2000000));
  EXPECT_EQ(IndexOf(pictures, *probe.GetFrameBitmap(-1)), 49);
  // Its sound starts first: the start of the file, and times before its first picture, show
  // the first picture (an index-less demuxer sent before it lands seconds later).
  for (const int64_t time : {0, 10000}) {
    ASSERT_TRUE(probe.Seek(-1, time));
    EXPECT_EQ(IndexOf(pictures, *probe.GetFrameBitmap(-1)), 0) << time;
    EXPECT_EQ(probe.PictureTime(), 25000);
  }
}

TEST_F(ProbeTest, StillPictureIsDecodedOnceAndNeverSeeks) {
  for (const char *name : {"picture.png", "picture.jpg"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(probe.LoadFile(Media(name), "")) << probe.LastErrorMessage();
    const TBGRImage first = *probe.GetFrameBitmap(-1);
    ASSERT_EQ(first.Width, 320);
    ASSERT_EQ(first.Height, 240);
    ExpectHue(first, 60, 120, "rg");
    ExpectHue(first, 260, 120, "b");

    EXPECT_TRUE(probe.Seek(-1, 1000000));
    EXPECT_TRUE(Logged("\"image2\" format cannot to be seeked.\n"));
    // A file of one picture is at its end now; the picture stays.
    EXPECT_TRUE(SamePicture(first, *probe.GetFrameBitmap(-1)));
    EXPECT_TRUE(SamePicture(first, *probe.GetFrameBitmap(-1)));
  }

  // Forced by name, the same rule holds.
  ASSERT_TRUE(probe.LoadFile(Media("picture.png"), "image2")) << probe.LastErrorMessage();
  EXPECT_EQ(probe.LoadedFormat(), "image2");
  EXPECT_EQ(probe.GetFormatName(), "image2");
  const TBGRImage first = *probe.GetFrameBitmap(-1);
  EXPECT_FALSE(first.Empty());
  EXPECT_TRUE(SamePicture(first, *probe.GetFrameBitmap(-1)));

  // Closing forgets the picture.
  probe.CloseFile();
  EXPECT_EQ(probe.LoadedFormat(), "");
  EXPECT_TRUE(probe.GetFrameBitmap(-1)->Empty());
}

TEST(ProbeLibraries, NamesTheFirstLibraryThatIsMissing) {
  // Unloading only when needed: closing the libraries strands memory of their dependencies,
  // which leak checkers report.
  if (LibrariesLoaded() || AVUtilLoaded() || AVCodecLoaded())
    UnloadLibraries();
  auto expectMessage = [](const std::string &AMessage) {
    try {
      TAVProbe::CheckLibraries();
      ADD_FAILURE() << "no exception, expected " << AMessage;
    } catch (const FFMpegException &e) {
      EXPECT_EQ(std::string(e.what()), AMessage);
    }
  };
  expectMessage("LibAVCodec not loaded.");
  TAVProbe probe;
  EXPECT_THROW(probe.LoadFile(Media("wav_pcm.wav"), ""), FFMpegException);

  std::string error;
  ASSERT_TRUE(LoadAVCodec(true, false, error)) << error;
  expectMessage("LibAVFormat not loaded.");
  ASSERT_TRUE(LoadAVFormat(true, false, error)) << error;
  expectMessage("LibAVUtil not loaded.");
  ASSERT_TRUE(LoadAVUtil(true, error)) << error;
  expectMessage("LibSwScale not loaded.");

  testing_support::RequireMediaLibraries(); // binds the rest beside what is loaded
  EXPECT_NO_THROW(TAVProbe::CheckLibraries());
  EXPECT_TRUE(probe.LoadFile(Media("wav_pcm.wav"), "")) << probe.LastErrorMessage();
}
