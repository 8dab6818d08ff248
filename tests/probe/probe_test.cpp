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
#include "support/test_support.h"

using testing_support::MediaFile;

namespace {

// Stand-ins made with the ffmpeg tool while the generated test media are not there yet:
// a blue-grey background with a white square moving to the right.
const char *const kPattern =
    "color=c=0x3366CC:s=320x240:r=25:d=2[bg];color=c=white:s=40x40:r=25[sq];"
    "[bg][sq]overlay=x=t*100:y=20:shortest=1[out0]";

std::string Media(const std::string &AName) {
  const std::string generated = MediaFile(AName);
  if (std::filesystem::exists(generated))
    return generated;
  static testing_support::TempDir folder;
  const std::string path = folder.file(AName);
  if (std::filesystem::exists(path))
    return path;
  std::string args;
  const std::string pattern = std::string("-f lavfi -i \"") + kPattern + "\" ";
  const std::string tone = "-f lavfi -i \"sine=f=440:d=2:sample_rate=44100\" -ac 2 ";
  if (AName == "avi_mpeg4_mp3.avi")
    args = pattern + tone + "-c:v mpeg4 -q:v 2 -c:a libmp3lame";
  else if (AName == "wav_pcm.wav")
    args = tone + "-c:a pcm_s16le";
  else if (AName == "picture.png" || AName == "picture.jpg")
    args = pattern + "-frames:v 1";
  else if (AName == "start_time.ts")
    args = pattern + tone + "-c:v mpeg2video -q:v 2 -c:a mp2 -output_ts_offset 10";
  else if (AName == "anamorphic.mp4")
    args = "-f lavfi -i \"testsrc=s=720x480:r=25:d=2\" -vf setsar=32/27 -c:v mpeg4";
  const std::string command = "ffmpeg -v error -y " + args + " \"" + path + "\"";
  if (args.empty() || std::system(command.c_str()) != 0)
    ADD_FAILURE() << "could not make " << AName;
  return path;
}

// Collects what the probe writes to the library log.
std::mutex logMutex;
std::vector<std::string> logLines;

void captureLog(void *, int, const char *AFormat, va_list AArgs) {
  char line[1024];
  std::vsnprintf(line, sizeof line, AFormat, AArgs);
  std::lock_guard<std::mutex> lock(logMutex);
  logLines.push_back(line);
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

// Blue, green, red at a pixel of the picture.
struct Bgr {
  int b, g, r;
};
Bgr PixelAt(const TBGRImage &AImage, int AX, int AY) {
  const uint8_t *p = AImage.Row(AY) + AX * 3;
  return {p[0], p[1], p[2]};
}

void ExpectBackground(const TBGRImage &AImage, int AX, int AY) {
  const Bgr pixel = PixelAt(AImage, AX, AY);
  // 0x3366CC after a round trip through 4:2:0 video.
  EXPECT_NEAR(pixel.r, 0x33, 12) << "at " << AX << "," << AY;
  EXPECT_NEAR(pixel.g, 0x66, 12) << "at " << AX << "," << AY;
  EXPECT_NEAR(pixel.b, 0xCC, 12) << "at " << AX << "," << AY;
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

bool AllAtDefaults(const TAVVideoInfo &AInfo) {
  const TAVVideoInfo defaults;
  return std::memcmp(AInfo.Language, defaults.Language, sizeof defaults.Language) == 0 &&
         AInfo.CodecName[0] == 0 && AInfo.StartTime == -1 && AInfo.StartTimeUS == -1 &&
         AInfo.Duration == -1 && AInfo.DurationUS == -1 && AInfo.BitRate == -1 &&
         AInfo.Width == -1 && AInfo.Height == -1 && AInfo.DisplayAspect == -1.0f &&
         AInfo.PixelFormat == -1 && AInfo.FrameRateNum == -1 && AInfo.FrameRateDen == -1;
}

void ExpectNoFileCounters(const TAVProbe &AProbe) {
  EXPECT_FALSE(AProbe.FileLoaded());
  EXPECT_EQ(AProbe.StreamCount(), -1);
  EXPECT_EQ(AProbe.ProgramCount(), -1);
  EXPECT_EQ(AProbe.VideoStreamCount(), -1);
  EXPECT_EQ(AProbe.AudioStreamCount(), -1);
  EXPECT_EQ(AProbe.SubtitleStreamCount(), -1);
  EXPECT_EQ(AProbe.FirstVideoStream(), -1);
  EXPECT_EQ(AProbe.FirstAudioStream(), -1);
  EXPECT_EQ(AProbe.FirstSubtitleStream(), -1);
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
  EXPECT_EQ(file.Duration, -1);
  EXPECT_EQ(file.StartTime, -1);
  EXPECT_EQ(file.BitRate, -1);
  EXPECT_EQ(file.Year, -1);
  EXPECT_EQ(file.Title[0], 0);
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
  EXPECT_NEAR(static_cast<double>(info.Duration), 2e6, 0.2e6);
  EXPECT_GT(info.BitRate, 0);

  TAVVideoInfo v;
  probe.GetVideoInfo(-1, v);
  EXPECT_EQ(v.Width, 320);
  EXPECT_EQ(v.Height, 240);
  EXPECT_STREQ(v.CodecName, "mpeg4");
  EXPECT_EQ(v.FrameRateNum * 1.0 / v.FrameRateDen, 25.0);
  EXPECT_EQ(v.PixelFormat, AV_PIX_FMT_YUV420P);
  EXPECT_NE(v.DurationUS, -1);
  EXPECT_NEAR(static_cast<double>(v.DurationUS), 2e6, 0.2e6);

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

TEST_F(ProbeTest, DecodesPicturesTopDownInBlueGreenRed) {
  ASSERT_TRUE(probe.LoadFile(Media("avi_mpeg4_mp3.avi"), "")) << probe.LastErrorMessage();
  const TBGRImage first = *probe.GetFrameBitmap(-1);
  ASSERT_EQ(first.Width, 320);
  ASSERT_EQ(first.Height, 240);
  ExpectBackground(first, 5, 5);
  ExpectBackground(first, 300, 230);
  // The white square starts at the left edge, 20 rows down: rows run top to bottom.
  const Bgr square = PixelAt(first, 20, 40);
  EXPECT_GT(square.r, 230);
  EXPECT_GT(square.g, 230);
  EXPECT_GT(square.b, 230);
  ExpectBackground(first, 20, 240 - 1 - 40);

  // Every call gives the next picture; the square moves to the right.
  const TBGRImage second = *probe.GetFrameBitmap(-1);
  EXPECT_FALSE(SamePicture(first, second));
}

TEST_F(ProbeTest, AfterTheLastPictureTheBitmapIsBlack) {
  ASSERT_TRUE(probe.LoadFile(Media("avi_mpeg4_mp3.avi"), "")) << probe.LastErrorMessage();
  int pictures = 0;
  const TBGRImage *bitmap = nullptr;
  for (;;) {
    bitmap = probe.GetFrameBitmap(-1);
    ASSERT_EQ(bitmap->Width, 320);
    ASSERT_EQ(bitmap->Height, 240);
    if (AllBlack(*bitmap))
      break;
    ASSERT_LT(++pictures, 200) << "never reached the end";
  }
  EXPECT_EQ(pictures, 50); // 2 s at 25 pictures a second, none lost at the end
  EXPECT_TRUE(Logged("stream eof reached.\n"));
  EXPECT_TRUE(AllBlack(*probe.GetFrameBitmap(-1)));
}

TEST_F(ProbeTest, SeekingBeforeTheStartGoesBackToTheFirstPicture) {
  for (const char *name : {"avi_mpeg4_mp3.avi", "start_time.ts"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(probe.LoadFile(Media(name), "")) << probe.LastErrorMessage();
    const TBGRImage first = *probe.GetFrameBitmap(-1);
    ASSERT_FALSE(first.Empty());
    for (int i = 0; i < 20; ++i)
      probe.GetFrameBitmap(-1);
    EXPECT_FALSE(SamePicture(first, *probe.GetFrameBitmap(-1)));

    EXPECT_TRUE(probe.Seek(-1, -5));
    EXPECT_FALSE(Logged("could not seek to position -0.000\n"));
    EXPECT_TRUE(SamePicture(first, *probe.GetFrameBitmap(-1)));

    // Forward: the picture one second in has the square 100 pixels further right.
    EXPECT_TRUE(probe.Seek(-1, 1000000));
    const TBGRImage later = *probe.GetFrameBitmap(-1);
    ASSERT_FALSE(later.Empty());
    EXPECT_FALSE(SamePicture(first, later));
    ExpectBackground(later, 20, 40);
  }
  EXPECT_FALSE(probe.Seek(9, 0));
  EXPECT_TRUE(Logged("stream index #9 is invalid.\n"));
}

TEST_F(ProbeTest, StillPictureIsDecodedOnceAndNeverSeeks) {
  for (const char *name : {"picture.png", "picture.jpg"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(probe.LoadFile(Media(name), "")) << probe.LastErrorMessage();
    const TBGRImage first = *probe.GetFrameBitmap(-1);
    ASSERT_EQ(first.Width, 320);
    ASSERT_EQ(first.Height, 240);
    ASSERT_FALSE(AllBlack(first));
    ExpectBackground(first, 5, 5);

    EXPECT_TRUE(probe.Seek(-1, 1000000));
    EXPECT_TRUE(Logged("\"image2\" format cannot to be seeked.\n"));
    // A file of one picture would be at its end now; the picture stays.
    EXPECT_TRUE(SamePicture(first, *probe.GetFrameBitmap(-1)));
    EXPECT_TRUE(SamePicture(first, *probe.GetFrameBitmap(-1)));
  }

  // Forced by name, the same rule holds.
  ASSERT_TRUE(probe.LoadFile(Media("picture.png"), "image2")) << probe.LastErrorMessage();
  EXPECT_EQ(probe.LoadedFormat(), "image2");
  EXPECT_EQ(probe.GetFormatName(), "image2");
  const TBGRImage first = *probe.GetFrameBitmap(-1);
  EXPECT_TRUE(SamePicture(first, *probe.GetFrameBitmap(-1)));

  // Closing forgets the picture.
  probe.CloseFile();
  EXPECT_EQ(probe.LoadedFormat(), "");
  EXPECT_TRUE(probe.GetFrameBitmap(-1)->Empty());
}

TEST(ProbeErrors, OpenErrorTextsByMeaning) {
  EXPECT_EQ(TAVProbe::OpenErrorText("a.avi", AVERROR_INVALIDDATA), "a.avi: Unknown format");
  EXPECT_EQ(TAVProbe::OpenErrorText("a.avi", AVERROR(EINVAL)),
            "a.avi: Error while parsing header");
  EXPECT_EQ(TAVProbe::OpenErrorText("a.avi", AVERROR(ENOMEM)),
            "a.avi: memory allocation error occurred");
  EXPECT_EQ(TAVProbe::OpenErrorText("a.avi", AVERROR(EIO)),
            "a.avi: I/O error occurred\r\nUsually that means that input file is truncated "
            "and/or corrupted.");
  EXPECT_EQ(TAVProbe::OpenErrorText("img.jpg", AVERROR(EDOM)).rfind(
                "img.jpg: Incorrect image filename syntax.\r\nUse '%d'", 0),
            0u);
  EXPECT_EQ(TAVProbe::OpenErrorText("a.avi", AVERROR(EACCES)),
            "a.avi: Error while opening file");
}

TEST(ProbeLibraries, NamesTheFirstLibraryThatIsMissing) {
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

  UnloadLibraries();
  testing_support::RequireMediaLibraries();
  EXPECT_NO_THROW(TAVProbe::CheckLibraries());
  EXPECT_TRUE(probe.LoadFile(Media("wav_pcm.wav"), "")) << probe.LastErrorMessage();
}
