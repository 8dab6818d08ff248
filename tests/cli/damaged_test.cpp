// korvelo-convert on damaged and unusual inputs (files the libraries cannot describe, broken
// timestamps, pipes, hostile names, extreme picture shapes), on full disks, and its figures.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/conversion_outcome.h"
#include "app/thumbnail.h"
#include "support/command_runner.h"
#include "medialib/media_functions.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace cli_test;
using testing_support::MediaFile;
using testing_support::TempDir;

namespace {

// AInput copied packet by packet into AOutput of the container AFormat, the packets of AShifted
// streams moved AShiftSeconds later (a file whose pictures start hours after its sound); with
// AOnlyShifted the other streams are left out.
void RemuxShifted(const std::string &AInput, const std::string &AOutput, const char *AFormat,
                  AVMediaType AShifted, int64_t AShiftSeconds, bool AOnlyShifted = false) {
  testing_support::RequireMediaLibraries();
  AVFormatContext *in = nullptr;
  ASSERT_GE(avlib.avformat_open_input(&in, AInput.c_str(), nullptr, nullptr), 0);
  ASSERT_GE(avlib.avformat_find_stream_info(in, nullptr), 0);
  AVFormatContext *out = nullptr;
  ASSERT_GE(avlib.avformat_alloc_output_context2(&out, nullptr, AFormat, AOutput.c_str()), 0);
  std::vector<int> outIndex(in->nb_streams, -1);
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    if (AOnlyShifted && in->streams[i]->codecpar->codec_type != AShifted)
      continue;
    outIndex[i] = static_cast<int>(out->nb_streams);
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
    if (outIndex[packet->stream_index] < 0) {
      avlib.av_packet_unref(packet);
      continue;
    }
    packet->stream_index = outIndex[packet->stream_index];
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

  const TRun run =
      RunConvert({"--jobs", "2", "-o", work.file("out"), png, good, work.file("zeroed.jpg")});
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

// Pictures whose headers read well but whose picture data does not decode: failed with the
// reason, not "converted" into a file without a track, and nothing left behind.
TEST(CliDamaged, PictureDataThatDoesNotDecodeFailsWithItsReasonAndLeavesNothing) {
  TempDir work;
  std::string jpeg = ReadFile(MediaFile("picture.jpg"));
  const size_t table = jpeg.find("\xFF\xC4");
  ASSERT_NE(table, std::string::npos);
  jpeg.replace(table + 5, 20, std::string(20, '\xFF'));
  WriteFile(work.file("tables.jpg"), jpeg);
  std::string png = ReadFile(MediaFile("picture.png"));
  const size_t data = png.find("IDAT");
  ASSERT_NE(data, std::string::npos);
  png.replace(data + 10, 190, std::string(190, '\0'));
  WriteFile(work.file("inflate.png"), png);

  const TRun run =
      RunConvert({"-o", work.file("out"), work.file("tables.jpg"), work.file("inflate.png")});
  EXPECT_EQ(run.Status, 1) << run.All();
  for (const std::string &name : {work.file("tables.jpg"), work.file("inflate.png")})
    EXPECT_NE(run.Err.find("Failed: " + name + ": no picture could be decoded ("),
              std::string::npos)
        << run.Err;
  EXPECT_NE(run.Err.find("huffman table decode error"), std::string::npos) << run.Err;
  EXPECT_TRUE(FilesIn(work.file("out/AVC")).empty());
}

// Timestamps hours in: the conversion takes seconds and its output only what the input shows.
TEST(CliDamaged, PicturesHoursInConvertInSeconds) {
  TempDir work;
  const std::string input = MediaFile("mkv_h264_vorbis.mkv");
  // Pictures 25 hours after the sound: a few seconds at most are filled between them.
  const std::string late = work.file("late.mkv");
  RemuxShifted(input, late, "matroska", AVMEDIA_TYPE_VIDEO, 25 * 3600);
  // Pictures alone, 25 hours in, in a container that leaves the start time unknown (ASF gives
  // an H.264 stream's first packet no presentation time): the output starts at the first one.
  const std::string unknownStart = work.file("unknown-start.asf");
  RemuxShifted(input, unknownStart, "asf", AVMEDIA_TYPE_VIDEO, 25 * 3600, true);
  {
    AVFormatContext *context = nullptr;
    ASSERT_GE(avlib.avformat_open_input(&context, unknownStart.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avlib.avformat_find_stream_info(context, nullptr), 0);
    const int64_t startTime = context->start_time;
    avlib.avformat_close_input(&context);
    ASSERT_EQ(startTime, AV_NOPTS_VALUE) << "the library now knows this file's start";
  }
  const std::string lateOutput = work.file("out/AVC/late-480x272-AVC.mp4");
  for (const std::string &name : {late, unknownStart}) {
    SCOPED_TRACE(name);
    const auto start = std::chrono::steady_clock::now();
    TProcess process(ConvertBinary(), {"-o", work.file("out"), name});
    const TRun run = process.Wait(60000);
    // The 25 hours are damage, not a start: sound and pictures start together at 0.
    EXPECT_EQ(run.Status, 0) << run.All();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  }
  // Not 25 hours of repeated pictures or of silence.
  EXPECT_LT(fs::file_size(lateOutput), 2000000u);
  EXPECT_EQ(ConvertedOutputProblem(lateOutput, true), "");
  EXPECT_NEAR(ReadMedia(lateOutput).DurationSeconds, ReadMedia(input).DurationSeconds, 0.35);
  EXPECT_NEAR(ReadMedia(work.file("out/AVC/unknown-start-480x272-AVC.mp4")).DurationSeconds,
              ReadMedia(input).DurationSeconds, 0.35);
}

TEST(CliDamaged, PipeRefusedAtOnce) {
  TempDir work;
  const std::string pipe = work.file("pipe.mkv");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  TProcess process(ConvertBinary(), {"-o", work.file("out"), pipe, MediaFile("flv_h264_aac.flv")});
  const TRun run = process.Wait(30000);
  EXPECT_EQ(run.Status, 1) << run.All();
  EXPECT_NE(run.Err.find(pipe + ": not a regular file, it cannot be read twice"), std::string::npos)
      << run.Err;
  EXPECT_EQ(FilesIn(work.file("out/AVC")).size(), 2u); // the other file and its thumbnail
}

// Another program holds a write lease on the input: opening it waits until the lease is given up
// or the system's lease-break time (45 s by default) has run out, as on a stalled network file.
// A stop request ends the command all the same, within its grace of a few seconds.
TEST(CliDamaged, AStopEndsTheCommandWhileAJobIsBlockedOpeningItsInput) {
  int breakSeconds = 0;
  if (FILE *f = std::fopen("/proc/sys/fs/lease-break-time", "r")) {
    if (std::fscanf(f, "%d", &breakSeconds) != 1)
      breakSeconds = 0;
    std::fclose(f);
  }
  if (breakSeconds < 20)
    GTEST_SKIP() << "the lease-break time here (" << breakSeconds << " s) is too short to tell";
  TempDir work;
  // The kernel tells the lease holder about the waiting opener with SIGIO, which would end us.
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGIO, &ignore, &previous), 0);
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(signal));
    const std::string input = work.file("held-" + std::to_string(signal) + ".flv");
    fs::copy_file(MediaFile("flv_h264_aac.flv"), input);
    const int held = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    if (::fcntl(held, F_SETLEASE, F_WRLCK) != 0) {
      const int error = errno;
      ::close(held);
      ::sigaction(SIGIO, &previous, nullptr);
      GTEST_SKIP() << "no file leases here: " << std::strerror(error);
    }
    TProcess convert(ConvertBinary(), {"-o", work.file("out"), input});
    // The lease is being broken (its holder is asked to step down) once the command waits.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (::fcntl(held, F_GETLEASE) == F_WRLCK && std::chrono::steady_clock::now() < deadline)
      ::usleep(20000);
    ASSERT_NE(::fcntl(held, F_GETLEASE), F_WRLCK) << convert.Out();
    const auto stopped = std::chrono::steady_clock::now();
    convert.Signal(signal);
    const TRun run = convert.Wait(20000);
    const auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - stopped)
                            .count();
    ::close(held);
    EXPECT_EQ(run.Status, 128 + signal) << run.All();
    EXPECT_LT(tookMs, 7000);
    EXPECT_NE(run.Err.find("korvelo-convert: a conversion did not stop in time, exiting without "
                           "waiting"),
              std::string::npos)
        << run.Err;
    // Nothing was claimed before the input opened.
    EXPECT_TRUE(FilesIn(work.file("out/AVC")).empty());
  }
  ::sigaction(SIGIO, &previous, nullptr);
}

// A WAV header that says 1 Hz would make its 2.5 s of sound last 30 hours, each packet of it
// hours of output: no recording has such a rate, so the file fails at once with the reason and
// leaves nothing behind.
TEST(CliDamaged, ALyingSampleRateFailsAtOnceWithItsReason) {
  TempDir work;
  const auto started = std::chrono::steady_clock::now();
  const TRun run = RunConvert({"-o", work.file("out"), MediaFile("wav_1hz_header.wav")});
  const auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - started)
                          .count();
  EXPECT_EQ(run.Status, 1) << run.All();
  EXPECT_LT(tookMs, 10000);
  EXPECT_NE(run.Err.find("declares a sample rate of 1 Hz, which no recording has"),
            std::string::npos)
      << run.Err;
  EXPECT_TRUE(FilesIn(work.file("out/AVC")).empty());

  // The same 44.1 kHz sound under a header of 500 Hz (both of its rates), and of 4 kHz whose
  // bytes a second still say 44.1 kHz: minutes of output from seconds of sound.
  const std::string sound = ReadFile(MediaFile("wav_pcm.wav"));
  ASSERT_GT(sound.size(), 44u);
  const auto lying = [&](const std::string &AName, uint32_t ARate, uint32_t AByteRate) {
    std::string header = sound;
    for (int i = 0; i < 4; ++i) {
      header[24 + i] = static_cast<char>(ARate >> (8 * i));
      header[28 + i] = static_cast<char>(AByteRate >> (8 * i));
    }
    std::ofstream(work.file(AName), std::ios::binary) << header;
    return work.file(AName);
  };
  const TRun low = RunConvert({"-o", work.file("out"), lying("low.wav", 500, 500 * 4)});
  EXPECT_EQ(low.Status, 1) << low.All();
  EXPECT_NE(low.Err.find("declares a sample rate of 500 Hz, which no recording has"),
            std::string::npos)
      << low.Err;
  const TRun contradicted =
      RunConvert({"-o", work.file("out"), lying("contradicted.wav", 4000, 44100 * 4)});
  EXPECT_EQ(contradicted.Status, 1) << contradicted.All();
  EXPECT_NE(contradicted.Err.find("declares a sample rate of 4000 Hz, but bytes for 44100 Hz"),
            std::string::npos)
      << contradicted.Err;
  EXPECT_TRUE(FilesIn(work.file("out/AVC")).empty());
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
  for (const char *name :
       {"clip:one-480x272-AVC", "shape-4096x2-480x272-AVC", "shape-2x4096-480x272-AVC"}) {
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

// ---- names, disks and the progress figures ----

TEST(CliOutputNames, TwoProcessesIntoOneFolderKeepEveryConversion) {
  TempDir work;
  // Two different inputs of the same base name, converted by two processes at once, twice.
  for (const char *folder : {"a", "b"})
    fs::create_directories(work.file(folder));
  fs::copy_file(MediaFile("flv_h264_aac.flv"), work.file("a/clip.flv"));
  const std::string tinyInput = testing_support::GeneratedMediaFile("tiny_96x64.mp4", 0.6, "96x64");
  fs::copy_file(tinyInput, work.file("b/clip.mp4"));
  const std::vector<std::string> args = {"-o", work.file("out"), work.file("a/clip.flv"),
                                         work.file("b/clip.mp4")};
  TProcess first(ConvertBinary(), args), second(ConvertBinary(), args);
  const TRun one = first.Wait(), two = second.Wait();
  EXPECT_EQ(one.Status, 0) << one.All();
  EXPECT_EQ(two.Status, 0) << two.All();
  // Four files under four names, each with its own thumbnail; two of each input's length.
  std::vector<std::string> videos;
  for (const std::string &name : FilesIn(work.file("out/AVC")))
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mp4") == 0)
      videos.push_back(name);
  ASSERT_EQ(videos.size(), 4u) << one.All() << two.All();
  std::vector<double> durations;
  for (const std::string &name : videos) {
    const std::string path = work.file("out/AVC/" + name);
    EXPECT_GT(fs::file_size(path.substr(0, path.size() - 4) + ".THM"), 0u) << name;
    durations.push_back(ReadMedia(path).DurationSeconds);
  }
  const double tiny = ReadMedia(tinyInput).DurationSeconds;
  EXPECT_EQ(std::count_if(durations.begin(), durations.end(),
                          [&](double d) { return std::fabs(d - tiny) < 0.35; }),
            2);
}

// A small memory file system mounted for the test, when the test may mount one.
struct TSmallDisk {
  TempDir Dir;
  bool Mounted = false;
  TSmallDisk() { Mounted = ::mount("tmpfs", Dir.path().c_str(), "tmpfs", 0, "size=8m") == 0; }
  ~TSmallDisk() {
    if (Mounted)
      ::umount2(Dir.path().c_str(), MNT_DETACH);
  }
  // Fills the disk so that exactly ABytes (rounded up to pages) stay free.
  void LeaveFree(uint64_t ABytes) {
    std::error_code ec;
    fs::remove(Dir.file("filler"), ec);
    struct statvfs st {};
    ASSERT_EQ(::statvfs(Dir.path().c_str(), &st), 0);
    const uint64_t page = st.f_frsize;
    const uint64_t keep = (ABytes + page - 1) / page * page;
    const uint64_t free = static_cast<uint64_t>(st.f_bavail) * page;
    ASSERT_GE(free, keep);
    WriteFile(Dir.file("filler"), std::string(free - keep, 'f'));
  }
};

// The engine reads a cut file to its break and ends as finished: what it held is converted, and
// the person is told it ended short rather than reading a plain "done".
TEST(CliDamaged, AnInputCutShortIsConvertedWithAWarning) {
  TempDir work;
  const std::string whole = ReadFile(MediaFile("mkv_h264_vorbis.mkv"));
  const std::string cut = work.file("cut.mkv");
  std::ofstream(cut, std::ios::binary) << whole.substr(0, whole.size() / 2);
  const TRun run = RunConvert({"-o", work.file("out"), cut});
  EXPECT_EQ(run.Status, 0) << run.All();
  EXPECT_NE(run.Err.find("warning: the input ended at 00:00:0"), std::string::npos) << run.All();
  EXPECT_NE(run.Err.find("it may be cut short or damaged"), std::string::npos) << run.All();
  EXPECT_TRUE(fs::exists(work.file("out/AVC/cut-480x272-AVC.THM"))) << run.All();

  const TRun complete = RunConvert({"-o", work.file("out"), MediaFile("mkv_h264_vorbis.mkv")});
  EXPECT_EQ(complete.Status, 0) << complete.All();
  EXPECT_EQ(complete.Err.find("warning"), std::string::npos) << complete.All();
}

TEST(CliDisk, AFullDiskIsCalledSoAndAMissingThumbnailIsAWarning) {
  TSmallDisk disk;
  if (!disk.Mounted)
    GTEST_SKIP() << "cannot mount a small memory file system here (needs root)";
  TempDir work;
  const std::string input = MediaFile("flv_h264_aac.flv");
  const TRun reference = RunConvert({"-o", work.file("out"), input});
  ASSERT_EQ(reference.Status, 0) << reference.All();
  const std::string name = "flv_h264_aac-480x272-AVC";
  const uint64_t videoSize = fs::file_size(work.file("out/AVC/" + name + ".mp4"));
  const std::string out = disk.Dir.file("out"), video = out + "/AVC/" + name + ".mp4";

  // Room for the video, none for its thumbnail: converted, with the warning.
  fs::create_directories(out + "/AVC");
  fs::create_directories(out + "/MPEG4");
  disk.LeaveFree(videoSize);
  TRun run = RunConvert({"-o", out, input});
  EXPECT_EQ(run.Status, 0) << run.All();
  EXPECT_NE(run.Out.find("Converted 1 of 1 file"), std::string::npos) << run.All();
  EXPECT_NE(run.Err.find("warning: thumbnail not written: "), std::string::npos) << run.All();
  EXPECT_NE(run.Err.find("No space left on device"), std::string::npos) << run.All();
  EXPECT_NEAR(ReadMedia(video).DurationSeconds, ReadMedia(input).DurationSeconds, 0.35);
  EXPECT_FALSE(fs::exists(out + "/AVC/" + name + ".THM"));

  // Half the room, then none: the run fails as a full disk and leaves no broken video.
  for (const uint64_t room : {videoSize / 2, uint64_t{0}}) {
    SCOPED_TRACE(room);
    fs::remove(video);
    disk.LeaveFree(room);
    run = RunConvert({"-o", out, input});
    EXPECT_EQ(run.Status, 1) << run.All();
    EXPECT_NE(run.Err.find("No space left on device"), std::string::npos) << run.All();
    EXPECT_FALSE(fs::exists(video)) << run.All();
  }
}

TEST(CliNames, ControlCharactersInNamesArePrintedEscaped) {
  TempDir work;
  const std::string input = work.file("two\nlines\x1b[2J.flv");
  fs::copy_file(MediaFile("flv_h264_aac.flv"), input);
  const TRun run = RunConvert({"-o", work.file("out"), input});
  ASSERT_EQ(run.Status, 0) << run.All();
  const std::string shown = work.file("two\\nlines\\x1b[2J.flv");
  EXPECT_NE(run.Out.find("[1/1] " + shown + ": converting to "), std::string::npos) << run.Out;
  EXPECT_EQ(run.Out.find('\x1b'), std::string::npos);
  // Every line of the output is one of ours: none starts with the rest of a split name.
  for (size_t at = 0; at < run.Out.size(); at = run.Out.find('\n', at) + 1) {
    if (run.Out.compare(at, 5, "lines") == 0)
      ADD_FAILURE() << run.Out;
    if (run.Out.find('\n', at) == std::string::npos)
      break;
  }
  const TRun list = RunConvert({"--list", work.file("out")});
  EXPECT_NE(list.Out.find("\ntwo\\nlines\\x1b[2J-480x272-AVC.mp4 "), std::string::npos) << list.Out;
}

TEST(CliProgress, FiguresWeightedByDurationAndFailuresCountForWhatTheyConverted) {
  TempDir work;
  const std::string broken = work.file("broken.avi");
  WriteFile(broken, std::string(4096, 'x'));
  const std::string longInput = testing_support::LongMediaFile(20);
  const TRun run = RunConvert({"--jobs", "1", "-o", work.file("out"), broken, longInput});
  EXPECT_EQ(run.Status, 1) << run.All();
  // The broken file converted nothing: the other one never makes the whole batch done.
  EXPECT_EQ(run.Out.find("(overall 100%)"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("[2/2] " + longInput + ": done, "), std::string::npos) << run.Out;

  // One file: its own share and the overall one are the same figure, and the time left is
  // known once half of it is done.
  const TRun single = RunConvert({"-o", work.file("single"), longInput});
  ASSERT_EQ(single.Status, 0) << single.All();
  int lines = 0;
  for (size_t at = single.Out.find("[1/1] "); at != std::string::npos;
       at = single.Out.find("[1/1] ", at + 1)) {
    const std::string line = single.Out.substr(at, single.Out.find('\n', at) - at);
    int own = -1, overall = -1;
    const size_t colon = line.find(": ", 6);
    if (line.find("% (overall ") == std::string::npos ||
        std::sscanf(line.c_str() + colon + 2, "%d%% (overall %d%%", &own, &overall) != 2)
      continue;
    ++lines;
    EXPECT_EQ(own, overall) << line;
    if (own >= 50) {
      EXPECT_EQ(line.find("remaining --:--:--"), std::string::npos) << line;
    }
  }
  EXPECT_GE(lines, 5) << single.Out;
}

TEST(CliMemory, AHugePictureIsNotHeldWholeMoreThanOnce) {
  // 8000x8000: 192 MB as a 24-bit picture. Its decoded form is held once; the thumbnail takes
  // no full-size copy of it.
  TBGRImage picture;
  picture.Resize(8000, 8000);
  for (int y = 0; y < picture.Height; ++y)
    std::memset(picture.Row(y), y * 255 / picture.Height, static_cast<size_t>(picture.Stride));
  std::string jpeg, error;
  ASSERT_TRUE(EncodeJpeg(picture, 90, jpeg, error)) << error;
  picture = TBGRImage();
  TempDir work;
  WriteFile(work.file("huge.jpg"), jpeg);
  const TRun run = RunConvert({"-o", work.file("out"), work.file("huge.jpg")});
  ASSERT_EQ(run.Status, 0) << run.All();
  EXPECT_GT(fs::file_size(work.file("out/AVC/huge-480x272-AVC.THM")), 0u);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's own memory hides the picture's";
#endif
  // About 150 MB with one copy; three copies made it above 500 MB.
  struct rusage usage {};
  ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 300 * 1024) << "kilobytes at the peak";
}
