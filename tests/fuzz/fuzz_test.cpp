// Damaged variants of the generated media, each through one conversion of korvelo-convert: none
// may crash it, hang it, or come out "converted" as a file the PSP would not play (nor fail and
// leave its output behind). Seeded: a failing case is repeated by its seed and number. Not part
// of the default run (see the README).
//
// KORVELO_FUZZ_SEED (default 1), KORVELO_FUZZ_COUNT (default 500), KORVELO_FUZZ_CASE (run only
// that case). Failing inputs are kept in fuzz-failures/ of the build folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/thumbnail.h"
#include "support/command_runner.h"
#include "support/psp_checks.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace cli_test;

namespace {

// A sanitizer's report ends the program with this status, which a refusal (1) never has.
constexpr int SanitizerExit = 86;

int64_t EnvNumber(const char *AName, int64_t ADefault) {
  const char *value = std::getenv(AName);
  return value && *value ? std::strtoll(value, nullptr, 10) : ADefault;
}

// The small generated files: every container kind, each quick to convert.
std::vector<fs::path> Seeds() {
  std::vector<fs::path> files;
  for (const auto &entry : fs::directory_iterator(testing_support::MediaDir()))
    if (entry.is_regular_file() && entry.file_size() < 2000000 &&
        entry.path().filename().string().rfind("long_", 0) != 0 &&
        entry.path().filename() != "wav_1hz_header.wav") // 30 hours long by its header
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

// One damage of AData chosen by ARandom, described in AWhat.
void Damage(std::string &AData, std::mt19937_64 &ARandom, std::string &AWhat) {
  auto below = [&](size_t AN) { return static_cast<size_t>(ARandom() % std::max<size_t>(AN, 1)); };
  switch (below(4)) {
  case 0: { // bytes changed here and there
    const size_t n = 1 + below(20);
    for (size_t i = 0; i < n; ++i)
      AData[below(AData.size())] = static_cast<char>(ARandom());
    AWhat = std::to_string(n) + " bytes changed";
    break;
  }
  case 1: { // a run of zeros, as a bad sector leaves
    const size_t at = below(AData.size()), n = std::min(AData.size() - at, 1 + below(512));
    AData.replace(at, n, std::string(n, '\0'));
    AWhat = std::to_string(n) + " zeros at " + std::to_string(at);
    break;
  }
  case 2: { // cut short, as an interrupted download
    const size_t keep = AData.size() / 4 + below(AData.size() * 3 / 4);
    AData.resize(keep);
    AWhat = "cut to " + std::to_string(keep) + " bytes";
    break;
  }
  default: { // a piece repeated, as a bad copy
    const size_t at = below(AData.size()), n = std::min(AData.size() - at, 1 + below(4096));
    AData.insert(below(AData.size()), AData.substr(at, n));
    AWhat = std::to_string(n) + " bytes repeated";
    break;
  }
  }
}

// What keeps a file said to be converted from playing on the PSP, empty when nothing does:
// the checks the other tests make of every profile's output, for the default profile.
std::string PSPProblem(const std::string &AOutput) {
  const testing_support::FileFacts out = testing_support::Inspect(AOutput);
  if (!out.opened)
    return "said converted, but its output does not open";
  if (!out.video.present || out.video.packets < 1)
    return "said converted, but its output has no picture";
  if (!out.audio.present)
    return "said converted, but its output has no sound";
  if (out.video.codec != AV_CODEC_ID_H264 || out.video.width != 480 || out.video.height != 272 ||
      out.video.format != AV_PIX_FMT_YUV420P)
    return "said converted, but its picture is not the profile's";
  if (out.audio.codec != AV_CODEC_ID_AAC || out.audio.channels != 2)
    return "said converted, but its sound is not the profile's";
  if (std::fabs(out.video.start) > 0.05 || std::fabs(out.audio.start - out.video.start) > 0.05)
    return "said converted, but its streams start at " + std::to_string(out.video.start) + " and " +
           std::to_string(out.audio.start) + " s";
  if (!fs::exists(ThumbnailFileName(AOutput)))
    return "said converted, but has no thumbnail";
  return {};
}

} // namespace

TEST(Fuzz, DamagedMediaNeverCrashOrHangTheConversion) {
  const uint64_t seed = static_cast<uint64_t>(EnvNumber("KORVELO_FUZZ_SEED", 1));
  const int64_t count = EnvNumber("KORVELO_FUZZ_COUNT", 500);
  const int64_t only = EnvNumber("KORVELO_FUZZ_CASE", -1);
  ::setenv("ASAN_OPTIONS", ("exitcode=" + std::to_string(SanitizerExit)).c_str(), 1);
  ::setenv("UBSAN_OPTIONS", ("exitcode=" + std::to_string(SanitizerExit)).c_str(), 1);
  testing_support::RequireMediaLibraries(); // for reading the outputs back
  const std::vector<fs::path> seeds = Seeds();
  ASSERT_FALSE(seeds.empty());
  testing_support::TempDir work;
  const fs::path failures = fs::path(KORVELO_BINARY_DIR) / "fuzz-failures";
  int failed = 0;
  for (int64_t n = only >= 0 ? only : 0; n < (only >= 0 ? only + 1 : count); ++n) {
    // Each case from its own generator: any one can be run again alone.
    std::mt19937_64 random(seed * 1000003u + static_cast<uint64_t>(n));
    const fs::path &source = seeds[random() % seeds.size()];
    std::string data = ReadFile(source.string()), what;
    if (data.empty())
      continue;
    Damage(data, random, what);
    const std::string input = work.file("case-" + std::to_string(n) + source.extension().string());
    WriteFile(input, data);
    const std::string out = work.file("out");
    TProcess convert(ConvertBinary(), {"--jobs", "1", "-o", out, input});
    const TRun run = convert.Wait(90000);
    const std::string output = out + "/AVC/" + fs::path(input).stem().string() + "-480x272-AVC.mp4";
    std::string problem;
    if (run.Status != 0 && run.Status != 1)
      problem = run.Status < 0 ? "hung" : "ended with status " + std::to_string(run.Status);
    else if (run.Status == 0)
      problem = PSPProblem(output);
    else if (fs::exists(output) || fs::exists(ThumbnailFileName(output)))
      problem = "failed, but left its output or thumbnail behind";
    if (!problem.empty()) {
      ++failed;
      ADD_FAILURE() << "seed " << seed << " case " << n << " (" << source.filename().string()
                    << ", " << what << "): " << problem << "\n"
                    << run.Err.substr(run.Err.size() > 2000 ? run.Err.size() - 2000 : 0);
      fs::create_directories(failures);
      fs::copy_file(input, failures / fs::path(input).filename(),
                    fs::copy_options::overwrite_existing);
    }
    std::error_code ec;
    fs::remove_all(out, ec);
    fs::remove(input, ec);
  }
  EXPECT_EQ(failed, 0) << "rerun one with KORVELO_FUZZ_SEED=" << seed << " KORVELO_FUZZ_CASE=<n>";
}
