// A whole conversion the way a conversion panel makes it: probe, profile options, converter on a
// worker thread, thumbnail.
#include <gtest/gtest.h>

#include <jpeglib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "app/folders.h"
#include "app/output_options.h"
#include "app/profiles.h"
#include "app/thumbnail.h"
#include "converter/av_converter.h"
#include "support/test_support.h"

namespace {

struct StreamFacts {
  int width = 0, height = 0, sampleRate = 0, channels = 0;
  AVCodecID video = AV_CODEC_ID_NONE, audio = AV_CODEC_ID_NONE;
  int profile = -1;
  int64_t durationMs = 0;
};

StreamFacts Inspect(const std::string &AFile) {
  StreamFacts facts;
  AVFormatContext *context = nullptr;
  if (avlib.avformat_open_input(&context, AFile.c_str(), nullptr, nullptr) < 0)
    return facts;
  avlib.avformat_find_stream_info(context, nullptr);
  facts.durationMs = context->duration / 1000;
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    const AVCodecParameters *par = context->streams[i]->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
      facts.video = par->codec_id;
      facts.width = par->width;
      facts.height = par->height;
      facts.profile = par->profile;
    } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
      facts.audio = par->codec_id;
      facts.sampleRate = par->sample_rate;
      facts.channels = par->ch_layout.nb_channels;
    }
  }
  avlib.avformat_close_input(&context);
  return facts;
}

bool JpegSize(const std::string &AFile, int &AWidth, int &AHeight) {
  FILE *file = std::fopen(AFile.c_str(), "rb");
  if (!file)
    return false;
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  const bool ok = jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK;
  AWidth = info.image_width;
  AHeight = info.image_height;
  jpeg_destroy_decompress(&info);
  std::fclose(file);
  return ok;
}

TEST(ConverterEndToEnd, ProfileFourThroughAWorkerThreadGivesAPlayableFileAndItsThumbnail) {
  TCustomAVConverter converter;
  ASSERT_TRUE(converter.LoadLibraries("", true)) << converter.LastErrorMessage();
  converter.SetLogLevel(llError);
  testing_support::TempDir dir;
  const std::string input = testing_support::MediaFile("avi_mpeg4_mp3.avi");

  TAVProbe &probe = converter.AVProbe();
  ASSERT_TRUE(probe.LoadFile(input)) << probe.LastErrorMessage();
  TAVVideoInfo video;
  probe.GetVideoInfo(-1, video);
  TAVFileInfo info;
  probe.GetFileInfo(info);

  std::string error;
  ASSERT_TRUE(PrepareOutputFolder(dir.path().string() + "/"));
  const TPSPOutputSettings settings =
      BuildOutputOptions(4, true, TitleFor(info.Title, input), input, dir.file("AVC/"),
                         dir.file("MPEG4/"), video.Width, video.Height, video.DisplayAspect);
  TOutputOptions output;
  InitOutputOptions(output);
  FillOutputOptions(settings, output);

  std::mutex mutex;
  std::condition_variable ended;
  std::vector<int> order;
  bool finished = false;
  std::string message;
  converter.OnTerminate = [&](int AIndex, bool AFinished, bool, const std::string &AMessage) {
    std::lock_guard<std::mutex> lock(mutex);
    order.push_back(AIndex);
    if (AIndex == 0) {
      finished = AFinished;
      message = AMessage;
    }
    ended.notify_all();
  };
  ASSERT_EQ(converter.AddInputFile(input, nullptr), 0) << converter.LastErrorMessage();
  ASSERT_TRUE(converter.SetOutputFile(0, settings.FileName, &output))
      << converter.LastErrorMessage();
  converter.StartConvert(1);
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(ended.wait_for(lock, std::chrono::seconds(60), [&] { return order.size() == 2; }));
  }
  EXPECT_EQ(order, (std::vector<int>{0, -1}));
  ASSERT_TRUE(finished) << message;
  ASSERT_TRUE(
      MakeThumbnail(*probe.GetFrameBitmap(-1), settings.FileName, error, video.DisplayAspect))
      << error;

  EXPECT_EQ(std::filesystem::path(settings.FileName).parent_path(), dir.path() / "AVC");
  const StreamFacts facts = Inspect(settings.FileName);
  EXPECT_EQ(facts.video, AV_CODEC_ID_H264);
  EXPECT_EQ(facts.profile, 77); // Main
  EXPECT_EQ(facts.width, 480);
  EXPECT_EQ(facts.height, 272);
  EXPECT_EQ(facts.audio, AV_CODEC_ID_AAC);
  EXPECT_EQ(facts.channels, 2);
  EXPECT_NEAR(facts.durationMs, 2500, 100);
  // A lone conversion works on every core, with frame threads: one slice per picture.
  bool sliced = true;
  const int threads = testing_support::X264Threads(settings.FileName, sliced);
  EXPECT_FALSE(sliced);
  EXPECT_GT(threads, TCustomAVConverter::CoreCount() > 1 ? 1 : 0);

  int width = 0, height = 0;
  ASSERT_TRUE(JpegSize(ThumbnailFileName(settings.FileName), width, height));
  EXPECT_EQ(width, 160);
  EXPECT_EQ(height, 120);
}

} // namespace
