// korvelo-convert on damaged and unusual inputs: files the libraries cannot describe, broken
// timestamps, pipes, hostile names and extreme picture shapes.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "command_runner.h"
#include "medialib/media_functions.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace cli_test;
using testing_support::MediaFile;
using testing_support::TempDir;

namespace {

// AInput copied packet by packet into the Matroska file AOutput, the packets of AShifted streams
// moved AShiftSeconds later: a file whose pictures start hours after its sound.
void RemuxShifted(const std::string &AInput, const std::string &AOutput, AVMediaType AShifted,
                  int64_t AShiftSeconds) {
  testing_support::RequireMediaLibraries();
  AVFormatContext *in = nullptr;
  ASSERT_GE(avlib.avformat_open_input(&in, AInput.c_str(), nullptr, nullptr), 0);
  ASSERT_GE(avlib.avformat_find_stream_info(in, nullptr), 0);
  AVFormatContext *out = nullptr;
  ASSERT_GE(avlib.avformat_alloc_output_context2(&out, nullptr, "matroska", AOutput.c_str()), 0);
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    AVStream *stream = avlib.avformat_new_stream(out, nullptr);
    ASSERT_NE(stream, nullptr);
    ASSERT_GE(avlib.avcodec_parameters_copy(stream->codecpar, in->streams[i]->codecpar), 0);
    stream->codecpar->codec_tag = 0;
    stream->time_base = in->streams[i]->time_base;
  }
  ASSERT_GE(avlib.avio_open(&out->pb, AOutput.c_str(), AVIO_FLAG_WRITE), 0);
  ASSERT_GE(avlib.avformat_write_header(out, nullptr), 0);
  AVPacket *packet = avlib.av_packet_alloc();
  while (avlib.av_read_frame(in, packet) >= 0) {
    const AVStream *from = in->streams[packet->stream_index];
    const AVStream *to = out->streams[packet->stream_index];
    if (from->codecpar->codec_type == AShifted) {
      const int64_t shift = avlib.av_rescale_q(AShiftSeconds, AVRational{1, 1}, from->time_base);
      if (packet->pts != AV_NOPTS_VALUE)
        packet->pts += shift;
      if (packet->dts != AV_NOPTS_VALUE)
        packet->dts += shift;
    }
    avlib.av_packet_rescale_ts(packet, from->time_base, to->time_base);
    ASSERT_GE(avlib.av_interleaved_write_frame(out, packet), 0);
  }
  avlib.av_packet_free(&packet);
  ASSERT_GE(avlib.av_write_trailer(out), 0);
  avlib.avio_closep(&out->pb);
  avlib.avformat_free_context(out);
  avlib.avformat_close_input(&in);
}

// A copy of the generated AName whose bytes AFrom.. are zeros: a header that names no size.
std::string Zeroed(const TempDir &AWork, const std::string &AName, size_t AFrom, size_t ACount) {
  std::string data = ReadFile(MediaFile(AName));
  data.replace(AFrom, ACount, std::string(ACount, '\0'));
  const std::string path = AWork.file("zeroed-" + AName);
  WriteFile(path, data);
  return path;
}

} // namespace

TEST(CliDamaged, PictureWithoutSizeOrFormatRefusedWhileTheOtherJobFinishes) {
  TempDir work;
  // The PNG header's width, and the JPEG frame header's height and width.
  const std::string png = Zeroed(work, "picture.png", 16, 4);
  std::string jpeg = ReadFile(MediaFile("picture.jpg"));
  const size_t frame = jpeg.find("\xFF\xC0");
  ASSERT_NE(frame, std::string::npos);
  jpeg.replace(frame + 5, 4, std::string(4, '\0'));
  WriteFile(work.file("zeroed.jpg"), jpeg);
  const std::string good = MediaFile("mkv_h264_vorbis.mkv");

  const TRun run = RunConvert({"--jobs", "2", "-o", work.file("out"), png, good,
                               work.file("zeroed.jpg")});
  EXPECT_EQ(run.Status, 1) << run.All();
  for (const std::string &name : {png, work.file("zeroed.jpg")})
    EXPECT_NE(run.Err.find(name + ": ***File open error: Cannot determine the picture format of "
                                  "input stream #0.0"),
              std::string::npos)
        << run.Err;
  // The other job ran to its end beside them; the refused ones left nothing.
  EXPECT_EQ(FilesIn(work.file("out/AVC")),
            (std::vector<std::string>{"mkv_h264_vorbis-480x272-AVC.THM",
                                      "mkv_h264_vorbis-480x272-AVC.mp4"}));
  const TMediaInfo output = ReadMedia(work.file("out/AVC/mkv_h264_vorbis-480x272-AVC.mp4"));
  EXPECT_NEAR(output.DurationSeconds, ReadMedia(good).DurationSeconds, 0.35);
}

TEST(CliDamaged, PicturesHoursAfterTheSoundConvertInSeconds) {
  TempDir work;
  const std::string late = work.file("late.mkv");
  RemuxShifted(MediaFile("mkv_h264_vorbis.mkv"), late, AVMEDIA_TYPE_VIDEO, 25 * 3600);
  const auto start = std::chrono::steady_clock::now();
  TProcess process(ConvertBinary(), {"-o", work.file("out"), late});
  const TRun run = process.Wait(60000);
  EXPECT_EQ(run.Status, 0) << run.All();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  // Not 25 hours of repeated pictures: a few seconds at most were filled.
  const std::string output = work.file("out/AVC/late-480x272-AVC.mp4");
  EXPECT_LT(fs::file_size(output), 2000000u);
}

TEST(CliDamaged, PipeRefusedAtOnce) {
  TempDir work;
  const std::string pipe = work.file("pipe.mkv");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  TProcess process(ConvertBinary(), {"-o", work.file("out"), pipe, MediaFile("flv_h264_aac.flv")});
  const TRun run = process.Wait(30000);
  EXPECT_EQ(run.Status, 1) << run.All();
  EXPECT_NE(run.Err.find(pipe + ": not a regular file, it cannot be read twice"),
            std::string::npos)
      << run.Err;
  EXPECT_EQ(FilesIn(work.file("out/AVC")).size(), 2u); // the other file and its thumbnail
}

TEST(CliDamaged, ColonNamesAndExtremeShapesConvert) {
  TempDir work;
  fs::copy_file(MediaFile("flv_h264_aac.flv"), work.file("clip:one.flv"));
  for (const char *size : {"4096x2", "2x4096"}) {
    TProcess make(TestMediaBinary(), {"--one", work.file(std::string("shape-") + size + ".mkv"),
                                      "--duration", "1", "--size", size});
    ASSERT_EQ(make.Wait().Status, 0);
  }
  // Relative names, as a user types them in the folder of the files.
  const TRun run = RunConvert({"-o", "out", "clip:one.flv", "shape-4096x2.mkv", "shape-2x4096.mkv"},
                              work.path().string());
  ASSERT_EQ(run.Status, 0) << run.All();
  for (const char *name : {"clip:one-480x272-AVC", "shape-4096x2-480x272-AVC",
                           "shape-2x4096-480x272-AVC"}) {
    SCOPED_TRACE(name);
    const TMediaInfo output = ReadMedia(work.file(std::string("out/AVC/") + name + ".mp4"));
    ASSERT_EQ(output.Video.size(), 1u);
    EXPECT_EQ(output.Video[0].Width, 480);
    EXPECT_EQ(output.Video[0].Height, 272);
    EXPECT_GT(fs::file_size(work.file(std::string("out/AVC/") + name + ".THM")), 0u);
  }
  // Listed and copied under its own name too.
  const TRun list = RunConvert({"--list", "out"}, work.path().string());
  EXPECT_NE(list.Out.find("clip:one-480x272-AVC.mp4 "), std::string::npos) << list.All();
  fs::create_directories(work.file("stick"));
  const TRun copy =
      RunConvert({"--copy-to", "stick", "out/AVC/clip:one-480x272-AVC.mp4"}, work.path().string());
  EXPECT_EQ(copy.Status, 0) << copy.All();
  EXPECT_EQ(ReadFile(work.file("stick/MP_ROOT/100ANV01/MAQ00000.MP4")),
            ReadFile(work.file("out/AVC/clip:one-480x272-AVC.mp4")));
}
