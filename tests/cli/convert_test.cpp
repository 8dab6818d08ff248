// korvelo-convert converting: the command line, batches on generated media, failures, stops.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/command_runner.h"
#include "converter/av_converter.h"
#include "probe/av_probe.h"
#include "support/test_support.h"

extern char **environ;

namespace fs = std::filesystem;
using namespace cli_test;
using testing_support::MediaFile;
using testing_support::TempDir;

namespace {

const char *const Hint = "Try 'korvelo-convert --help' for more information.";

// The output of a finished conversion: an MP4 of the profile's video and audio, about as long
// as its input, with a 160x120 baseline JPEG thumbnail beside it.
void ExpectConverted(const std::string &AInput, const std::string &AOutput,
                     const std::string &AVideoCodec, int AWidth, int AHeight, int ASampleRate) {
  SCOPED_TRACE(AInput + " -> " + AOutput);
  const TMediaInfo input = ReadMedia(AInput);
  const TMediaInfo output = ReadMedia(AOutput);
  ASSERT_TRUE(output.Opened);
  EXPECT_NE(output.Format.find("mp4"), std::string::npos);
  if (input.Video.empty()) {
    EXPECT_TRUE(output.Video.empty());
  } else {
    ASSERT_EQ(output.Video.size(), 1u);
    EXPECT_EQ(output.Video[0].Codec, AVideoCodec);
    EXPECT_EQ(output.Video[0].Width, AWidth);
    EXPECT_EQ(output.Video[0].Height, AHeight);
  }
  ASSERT_EQ(output.Audio.size(), 1u);
  EXPECT_EQ(output.Audio[0].Codec, "aac");
  EXPECT_EQ(output.Audio[0].SampleRate, ASampleRate);
  EXPECT_EQ(output.Audio[0].Channels, 2);
  EXPECT_NEAR(output.DurationSeconds, input.DurationSeconds, 0.35);

  const std::string thumbnail = AOutput.substr(0, AOutput.rfind('.')) + ".THM";
  int width = 0, height = 0;
  EXPECT_TRUE(BaselineJpegSize(ReadFile(thumbnail), width, height)) << thumbnail;
  EXPECT_EQ(width, 160);
  EXPECT_EQ(height, 120);
  // It shows the input's picture (a bright test pattern), not an empty black one.
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(thumbnail)) << probe.LastErrorMessage();
  const TBGRImage *picture = probe.GetFrameBitmap(-1);
  ASSERT_EQ(picture->Width, 160);
  ASSERT_EQ(picture->Height, 120);
  int64_t sum = 0;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 160 * 3; ++x)
      sum += picture->Row(y)[x];
  EXPECT_GT(sum / (160 * 120 * 3), 40) << "mean brightness of " << thumbnail;
}

// The text of a terminal line without its cursor and erase sequences.
std::string StripEscapes(const std::string &AText) {
  std::string text;
  for (size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] == '\033' && i + 1 < AText.size() && AText[i + 1] == '[') {
      i += 2;
      while (i < AText.size() && !std::isalpha(static_cast<unsigned char>(AText[i])))
        ++i;
      continue;
    }
    text += AText[i];
  }
  return text;
}

} // namespace

TEST(CliCommandLine, HelpVersionAndUsageErrors) {
  const TRun help = RunConvert({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_NE(help.Out.find("Usage: korvelo-convert [--profile N|NAME]"), std::string::npos);
  EXPECT_NE(help.Out.find("--copy-to DEVICE"), std::string::npos);
  EXPECT_NE(help.Out.find("4  AVC 480x272 768kbps Stereo/128kbps  (AVC-480x272)  default"),
            std::string::npos);
  EXPECT_TRUE(help.Err.empty());

  const TRun version = RunConvert({"-V"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out, std::string("korvelo-convert ") + KORVELO_VERSION + "\n");

  TempDir work;
  const struct {
    std::vector<std::string> Args;
    std::string Message;
  } errors[] = {
      {{}, "no input files"},
      {{"--bogus", "a.avi"}, "unrecognized option '--bogus'"},
      {{"-x", "a.avi"}, "unrecognized option '-x'"},
      {{"--profile", "6", "a.avi"}, "invalid profile '6'"},
      {{"--profile=AVC-640x480", "a.avi"}, "invalid profile 'AVC-640x480'"},
      {{"--jobs", "0", "a.avi"}, "invalid number of jobs '0'"},
      {{"-jx", "a.avi"}, "invalid number of jobs 'x'"},
      {{"a.avi", "--output"}, "option '--output' requires an argument"},
      {{"--list", "d", "--copy-to", "e"},
       "options '--list' and '--copy-to' cannot be used together"},
      {{"--list", "d", "a.avi"}, "option '--list' takes no files"},
      {{"--copy-to", "d", "--profile", "1", "a.avi"},
       "option '--profile' cannot be used with '--copy-to'"},
  };
  for (const auto &error : errors) {
    std::string line;
    for (const std::string &arg : error.Args)
      line += arg + " ";
    SCOPED_TRACE(line);
    const TRun run = RunConvert(error.Args, work.path().string());
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Err.rfind("korvelo-convert: " + error.Message, 0), 0u) << run.Err;
    EXPECT_NE(run.Err.find(Hint), std::string::npos);
    EXPECT_TRUE(run.Out.empty());
  }
  // A refused command line touches nothing: no output folders appear.
  EXPECT_TRUE(FilesIn(work.path()).empty());
}

TEST(CliConvert, BatchOfEveryKindWithTwoJobs) {
  TempDir work;
  const std::string out = work.file("out");
  const std::vector<std::string> inputs = {
      MediaFile("avi_mpeg4_mp3.avi"), MediaFile("mkv_h264_vorbis.mkv"),
      MediaFile("3gp_h263_aac.3gp"),  MediaFile("webm_vp8_vorbis.webm"),
      MediaFile("anamorphic.mp4"),    MediaFile("avi_mpeg4_mp3.avi")};
  std::vector<std::string> args = {"--jobs", "2", "--output", out};
  args.insert(args.end(), inputs.begin(), inputs.end());
  const TRun run = RunConvert(args, work.path().string());
  ASSERT_EQ(run.Status, 0) << run.All();
  EXPECT_NE(run.Out.find("Converted 6 of 6 files (profile 4: AVC 480x272 768kbps Stereo/128kbps)"),
            std::string::npos)
      << run.Out;
  EXPECT_TRUE(run.Err.empty()) << run.Err;

  const std::string avc = out + "/AVC/";
  const std::vector<std::string> outputs = {
      avc + "avi_mpeg4_mp3-480x272-AVC.mp4", avc + "mkv_h264_vorbis-480x272-AVC.mp4",
      avc + "3gp_h263_aac-480x272-AVC.mp4",  avc + "webm_vp8_vorbis-480x272-AVC.mp4",
      avc + "anamorphic-480x272-AVC.mp4",    avc + "avi_mpeg4_mp3-480x272-AVC(1).mp4"};
  for (size_t i = 0; i < inputs.size(); ++i)
    ExpectConverted(inputs[i], outputs[i], "h264", 480, 272, 48000);
  // Twelve files and nothing else: no temporary or partial files are left behind.
  EXPECT_EQ(FilesIn(avc).size(), 12u);
  EXPECT_TRUE(FilesIn(out + "/MPEG4").empty());

  // The two files that start together share the cores rather than each taking them all.
  bool sliced[2] = {true, true};
  const int threads[2] = {testing_support::X264Threads(outputs[0], sliced[0]),
                          testing_support::X264Threads(outputs[1], sliced[1])};
  const int cores = TCustomAVConverter::CoreCount();
  EXPECT_LE(threads[0] + threads[1], std::max(2, cores + cores / 2));
  EXPECT_FALSE(sliced[0] || sliced[1]);

  // Plain lines, as the output is no terminal; the second file started before the first ended.
  const size_t secondStarted = run.Out.find("[2/6] " + inputs[1] + ": converting to " + outputs[1]);
  const size_t firstDone = run.Out.find("[1/6] " + inputs[0] + ": done, ");
  ASSERT_NE(secondStarted, std::string::npos) << run.Out;
  ASSERT_NE(firstDone, std::string::npos) << run.Out;
  EXPECT_LT(secondStarted, firstDone);
  EXPECT_EQ(run.Out.find("\033["), std::string::npos);
}

TEST(CliConvert, BadInputsFailAloneWithTheirMessages) {
  TempDir work;
  const std::string broken = work.file("broken.avi");
  WriteFile(broken, std::string(4096, 'x'));
  const std::string missing = work.file("missing.mkv");
  const std::string good = MediaFile("mkv_h264_vorbis.mkv");
  // Opens, but has neither sound nor picture for the PSP's MP4: the run itself fails.
  const std::string textOnly = work.file("text.srt");
  WriteFile(textOnly, "1\n00:00:00,000 --> 00:00:01,000\nHello\n\n"
                      "2\n00:00:01,500 --> 00:00:02,500\nWorld\n");
  // Sound only: the picture is made (black), so it converts.
  const std::string soundOnly = MediaFile("mp3_audio.mp3");
  const TRun run =
      RunConvert({"-j", "2", "-o", work.file("out"), broken, textOnly, good, missing, soundOnly},
                 work.path().string());
  EXPECT_EQ(run.Status, 1) << run.All();
  EXPECT_NE(run.Out.find("Converted 2 of 5 files"), std::string::npos) << run.Out;
  EXPECT_NE(run.Err.find("Failed: " + broken + ": ***File load error: "), std::string::npos)
      << run.Err;
  EXPECT_NE(run.Err.find("Failed: " + missing + ": ***File load error: "), std::string::npos)
      << run.Err;
  // The engine's reason; the broken file is not kept.
  const size_t textFailed = run.Err.find("Failed: " + textOnly + ": ");
  ASSERT_NE(textFailed, std::string::npos) << run.Err;
  const std::string textLine =
      run.Err.substr(textFailed, run.Err.find('\n', textFailed) - textFailed);
  EXPECT_NE(textLine.find("Output file does not contain any stream"), std::string::npos)
      << textLine;
  // The other files' loads, under way meanwhile, lend it no library line as its reason.
  EXPECT_EQ(textLine.find(" ("), std::string::npos) << textLine;
  EXPECT_EQ(run.Err.find("Failed: " + good), std::string::npos) << run.Err;
  EXPECT_EQ(run.Err.find("Failed: " + soundOnly), std::string::npos) << run.Err;
  ExpectConverted(good, work.file("out") + "/AVC/mkv_h264_vorbis-480x272-AVC.mp4", "h264", 480, 272,
                  48000);
  EXPECT_EQ(FilesIn(work.file("out") + "/AVC"),
            (std::vector<std::string>{"mkv_h264_vorbis-480x272-AVC.THM",
                                      "mkv_h264_vorbis-480x272-AVC.mp4",
                                      "mp3_audio-480x272-AVC.THM", "mp3_audio-480x272-AVC.mp4"}));
}

// With a German desktop the reasons from below the app core come in German too: a file that
// cannot be opened, with why, and the engine's own failure.
TEST(CliConvert, FailuresInTheDesktopsLanguage) {
  TempDir work;
  const std::string loop = work.file("loop.mkv");
  fs::create_symlink(loop, loop);
  const std::string textOnly = work.file("text.srt");
  WriteFile(textOnly, "1\n00:00:00,000 --> 00:00:01,000\nHallo\n\n");
  std::vector<std::pair<std::string, std::string>> saved;
  for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG", "KORVELO_PSEUDO"}) {
    const char *value = std::getenv(name);
    saved.emplace_back(name, value ? value : "\x01");
    ::unsetenv(name);
  }
  ::setenv("LANGUAGE", "de", 1);
  const TRun run = RunConvert({"-o", work.file("out"), loop, textOnly}, work.path().string());
  for (const auto &[name, value] : saved)
    value == "\x01" ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
  EXPECT_NE(run.Err.find("Fehlgeschlagen: " + loop + ": ***Fehler beim Laden der Datei: " + loop +
                         ": Fehler beim Öffnen der Datei: ein symbolischer Link, der auf sich "
                         "selbst zurückführt"),
            std::string::npos)
      << run.Err;
  const size_t textFailed = run.Err.find("Fehlgeschlagen: " + textOnly + ": ");
  ASSERT_NE(textFailed, std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("Die Ausgabedatei enthält keinen Stream", textFailed), std::string::npos)
      << run.Err;
}

TEST(CliConvert, MPEG4ProfileIntoTheCurrentFolder) {
  TempDir work;
  const std::string input = MediaFile("avi_mpeg4_mp3.avi");
  const TRun run = RunConvert({"--profile", "mpeg4-320x240", input}, work.path().string());
  ASSERT_EQ(run.Status, 0) << run.All();
  ExpectConverted(input, work.file("MPEG4/avi_mpeg4_mp3-320x240-MPEG4.mp4"), "mpeg4", 320, 240,
                  24000);
  EXPECT_TRUE(FilesIn(work.file("AVC")).empty());
}

TEST(CliConvert, OutputFolderThatCannotBeWritten) {
  TempDir work;
  WriteFile(work.file("plain-file"), "x");
  const TRun run = RunConvert({"-o", work.file("plain-file"), MediaFile("mov_h264_aac.mov")});
  EXPECT_EQ(run.Status, 1);
  // The message, then why, in words a person can act on.
  EXPECT_NE(run.Err.find("The selected output folder can not be written! (" +
                         work.file("plain-file") + " is a file, not a folder)"),
            std::string::npos)
      << run.Err;
}

// Ctrl-C stops the running conversion with its file completed up to there, never starts the
// waiting one, and ends with the status of the signal.
TEST(CliConvert, InterruptStopsCleanly) {
  TempDir work;
  const std::string longInput = work.file("long.mkv");
  {
    TProcess make(TestMediaBinary(), {"--one", longInput, "--duration", "30", "--size", "640x480"});
    ASSERT_EQ(make.Wait().Status, 0);
  }
  const std::string shortInput = MediaFile("avi_mpeg4_mp3.avi");
  TProcess convert(ConvertBinary(), {"--jobs", "1", "-o", work.file("out"), longInput, shortInput});
  // A tenth of the first file done: well inside it, as the whole takes seconds.
  ASSERT_TRUE(convert.WaitForOutput("% (overall ", 60000)) << convert.Out();
  convert.Signal(SIGINT);
  const TRun run = convert.Wait(30000);
  EXPECT_EQ(run.Status, 128 + SIGINT) << run.All();
  const std::string output = work.file("out") + "/AVC/long-480x272-AVC.mp4";
  EXPECT_NE(run.Err.find("Stopped: " + longInput + ": partial output kept: " + output),
            std::string::npos)
      << run.Err;
  EXPECT_NE(run.Err.find("Stopped: " + shortInput + ": not started"), std::string::npos);
  EXPECT_NE(run.Out.find("Converted 0 of 2 files"), std::string::npos);
  // Readable to its end: the trailer was written.
  const TMediaInfo media = ReadMedia(output);
  ASSERT_TRUE(media.Opened);
  EXPECT_GT(media.DurationSeconds, 1.0);
  EXPECT_LT(media.DurationSeconds, 29.0);
  EXPECT_EQ(FilesIn(work.file("out") + "/AVC"), std::vector<std::string>{"long-480x272-AVC.mp4"});
}

// A second Ctrl-C ends the command without waiting: the file it cut off before its index, which
// would not play, is not left under its name.
TEST(CliConvert, SecondInterruptLeavesNoFileWithoutItsIndex) {
  TempDir work;
  const std::string input = work.file("long.mkv");
  {
    TProcess make(TestMediaBinary(), {"--one", input, "--duration", "20", "--size", "640x480"});
    ASSERT_EQ(make.Wait().Status, 0);
  }
  TProcess convert(ConvertBinary(), {"-o", work.file("out"), input});
  ASSERT_TRUE(convert.WaitForOutput("converting to", 30000)) << convert.Out();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  convert.Signal(SIGINT);
  // Apart, or the two arrive as one; well before the stop has written the index.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  convert.Signal(SIGINT);
  const TRun run = convert.Wait(30000);
  EXPECT_EQ(run.Status, 128 + SIGINT) << run.All();
  const std::string output = work.file("out") + "/AVC/long-480x272-AVC.mp4";
  if (run.Err.find("second interrupt, exiting without waiting") == std::string::npos)
    GTEST_SKIP() << "the stop was done before the second interrupt came: " << run.Err;
  EXPECT_NE(run.Err.find("korvelo-convert: " + output + ": removed, it was cut off before its end"),
            std::string::npos)
      << run.Err;
  EXPECT_FALSE(fs::exists(output));
}

// On a terminal: a live line per running file and the overall bar with the remaining time.
TEST(CliConvert, TerminalShowsLiveLinesAndOverallBar) {
  TempDir work;
  int master = -1, slave = -1;
  struct winsize size {};
  size.ws_col = 100;
  size.ws_row = 30;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
  std::vector<std::string> args = {ConvertBinary(), "-o", work.file("out"),
                                   MediaFile("mov_h264_aac.mov"), MediaFile("ts_h264_aac.ts")};
  std::vector<char *> argv;
  for (std::string &arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, slave, 1);
  posix_spawn_file_actions_adddup2(&actions, slave, 2);
  posix_spawn_file_actions_addclose(&actions, master);
  pid_t pid = -1;
  std::vector<std::string> env = {"TERM=xterm", "PATH=/usr/bin:/bin"};
  std::vector<char *> envp;
  for (std::string &e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  ASSERT_EQ(posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(slave);
  std::string screen;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n > 0)
      screen.append(buffer, static_cast<size_t>(n));
    else if (n < 0 && errno == EINTR)
      continue;
    else
      break; // EIO: the program has closed the terminal
  }
  ::close(master);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << screen;
  EXPECT_NE(screen.find("\033["), std::string::npos);
  EXPECT_NE(screen.find("remaining "), std::string::npos) << screen;
  EXPECT_NE(screen.find("] 100%  2/2 files  elapsed "), std::string::npos) << screen;
  EXPECT_NE(screen.find("[1/2] mov_h264_aac.mov: done, "), std::string::npos) << screen;
  EXPECT_NE(screen.find("[2/2] ts_h264_aac.ts: done, "), std::string::npos) << screen;
  // No line is wider than the terminal: a wrapped line would break the redrawing.
  size_t start = 0;
  while (start < screen.size()) {
    size_t end = screen.find('\n', start);
    if (end == std::string::npos)
      end = screen.size();
    std::string line = StripEscapes(screen.substr(start, end - start));
    const size_t lastReturn = line.rfind('\r', line.size() >= 2 ? line.size() - 2 : 0);
    if (lastReturn != std::string::npos)
      line = line.substr(lastReturn + 1);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.find("files  elapsed") != std::string::npos || line.find("% [") != std::string::npos) {
      EXPECT_LT(line.size(), 100u) << line;
    }
    start = end + 1;
  }
}
