#include "support/command_runner.h"

#include <algorithm>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "medialib/media_functions.h"
#include "support/test_support.h"

extern char **environ;

namespace cli_test {

std::string ConvertBinary() { return KORVELO_BINARY_DIR "/src/cli/korvelo-convert"; }
std::string TestMediaBinary() { return KORVELO_BINARY_DIR "/tests/korvelo-testmedia"; }

namespace {

int TempCounter = 0;

std::string TempName(const char *AWhat) {
  return (std::filesystem::temp_directory_path() /
          ("korvelo-cli-" + std::to_string(getpid()) + "-" + std::to_string(TempCounter++) + "." +
           AWhat))
      .string();
}

int DecodeStatus(int AStatus) {
  if (WIFEXITED(AStatus))
    return WEXITSTATUS(AStatus);
  if (WIFSIGNALED(AStatus))
    return 128 + WTERMSIG(AStatus);
  return -1;
}

} // namespace

TProcess::TProcess(const std::string &AProgram, const std::vector<std::string> &AArgs,
                   const std::string &AWorkDir)
    : FOutFile(TempName("out")), FErrFile(TempName("err")) {
  std::vector<std::string> args;
  args.push_back(AProgram);
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  std::vector<char *> argv;
  for (std::string &arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, FOutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, FErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  if (!AWorkDir.empty())
    posix_spawn_file_actions_addchdir_np(&actions, AWorkDir.c_str());
  // The child starts with the default signal handling and nothing blocked.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const int error =
      posix_spawn(&FPid, AProgram.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0)
    throw std::runtime_error("cannot start " + AProgram + ": " + std::strerror(error));
}

TProcess::~TProcess() {
  if (!FEnded) {
    ::kill(FPid, SIGKILL);
    int status = 0;
    ::waitpid(FPid, &status, 0);
  }
  ::unlink(FOutFile.c_str());
  ::unlink(FErrFile.c_str());
}

std::string TProcess::Out() const { return ReadFile(FOutFile); }

bool TProcess::WaitForOutput(const std::string &APattern, int ATimeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Out().find(APattern) != std::string::npos)
      return true;
    int status = 0;
    if (!FEnded && ::waitpid(FPid, &status, WNOHANG) == FPid) {
      FEnded = true;
      FStatus = DecodeStatus(status);
    }
    if (FEnded)
      return Out().find(APattern) != std::string::npos;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void TProcess::Signal(int ASignal) {
  if (!FEnded)
    ::kill(FPid, ASignal);
}

TRun TProcess::Wait(int ATimeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
  while (!FEnded) {
    int status = 0;
    const pid_t done = ::waitpid(FPid, &status, WNOHANG);
    if (done == FPid) {
      FEnded = true;
      FStatus = DecodeStatus(status);
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, &status, 0);
      FEnded = true;
      FStatus = -1; // hung: never a status a test expects
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  TRun run;
  run.Status = FStatus;
  run.Out = ReadFile(FOutFile);
  run.Err = ReadFile(FErrFile);
  return run;
}

TRun RunConvert(const std::vector<std::string> &AArgs, const std::string &AWorkDir) {
  TProcess process(ConvertBinary(), AArgs, AWorkDir);
  return process.Wait();
}

std::string ReadFile(const std::string &APath) {
  std::ifstream in(APath, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string &APath, const std::string &AContent) {
  std::ofstream out(APath, std::ios::binary | std::ios::trunc);
  out << AContent;
  if (!out)
    throw std::runtime_error("cannot write " + APath);
}

TMediaInfo ReadMedia(const std::string &APath) {
  testing_support::RequireMediaLibraries();
  TMediaInfo info;
  AVFormatContext *context = nullptr;
  if (avlib.avformat_open_input(&context, APath.c_str(), nullptr, nullptr) < 0)
    return info;
  if (avlib.avformat_find_stream_info(context, nullptr) >= 0) {
    info.Opened = true;
    info.Format = context->iformat->name;
    if (context->duration != AV_NOPTS_VALUE)
      info.DurationSeconds = context->duration / 1e6;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
      const AVCodecParameters *par = context->streams[i]->codecpar;
      TStreamInfo stream;
      stream.Codec = avlib.avcodec_get_name(par->codec_id);
      stream.Width = par->width;
      stream.Height = par->height;
      stream.SampleRate = par->sample_rate;
      stream.Channels = par->ch_layout.nb_channels;
      if (par->codec_type == AVMEDIA_TYPE_VIDEO)
        info.Video.push_back(stream);
      else if (par->codec_type == AVMEDIA_TYPE_AUDIO)
        info.Audio.push_back(stream);
    }
  }
  avlib.avformat_close_input(&context);
  return info;
}

bool BaselineJpegSize(const std::string &AData, int &AWidth, int &AHeight) {
  AWidth = AHeight = 0;
  auto byte = [&](size_t i) { return static_cast<unsigned char>(AData[i]); };
  if (AData.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8)
    return false;
  size_t i = 2;
  while (i + 4 <= AData.size()) {
    if (byte(i) != 0xFF)
      return false;
    const unsigned marker = byte(i + 1);
    const size_t length = (byte(i + 2) << 8) | byte(i + 3);
    if (marker == 0xC0) { // baseline DCT frame header
      if (i + 9 > AData.size())
        return false;
      AHeight = (byte(i + 5) << 8) | byte(i + 6);
      AWidth = (byte(i + 7) << 8) | byte(i + 8);
      return true;
    }
    if (marker == 0xDA ||
        (marker >= 0xC1 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC))
      return false; // scan data or a frame of another kind before any baseline header
    i += 2 + length;
  }
  return false;
}

bool MakeBusyClip(const std::string &APath, int ASeconds) {
  const std::string command = "ffmpeg -v error -y -f lavfi -i "
                              "\"testsrc2=s=640x480:r=30000/1001,noise=alls=12:allf=t\" -f lavfi "
                              "-i \"anoisesrc=r=48000:a=0.3\" -ac 2 -t " +
                              std::to_string(ASeconds) +
                              " -c:v libx264 -preset ultrafast -qp 18 -c:a aac -b:a 192k '" +
                              APath + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

std::vector<std::string> FilesIn(const std::filesystem::path &AFolder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto &entry : std::filesystem::directory_iterator(AFolder, ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

} // namespace cli_test
