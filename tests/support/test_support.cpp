#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <random>
#include <unistd.h>

#include "medialib/medialib.h"
#include "support/sanitizer_suppressions.h"

namespace testing_support {

void RequireMediaLibraries() {
  if (!LoadLibraries("", true))
    FAIL() << "media libraries did not load: " << LibraryLoadError();
}

std::filesystem::path MediaDir() { return KORVELO_TEST_MEDIA_DIR; }
std::string MediaFile(const std::string &AName) { return (MediaDir() / AName).string(); }

int X264Threads(const std::string &AFile, bool &ASliced) {
  const std::string content = ReadFile(AFile);
  const size_t at = content.find("x264 - core");
  if (at == std::string::npos)
    return -1;
  const std::string settings = content.substr(at, content.find('\0', at) - at);
  const size_t threads = settings.find(" threads=");
  ASliced = settings.find(" sliced_threads=0") == std::string::npos;
  return threads == std::string::npos ? -1 : std::atoi(settings.c_str() + threads + 9);
}

std::string GeneratedMediaFile(const std::string &AName, double ASeconds,
                               const std::string &ASize) {
  const std::filesystem::path file = MediaDir() / AName;
  if (!std::filesystem::exists(file)) {
    const std::string command = std::string(KORVELO_BINARY_DIR) +
                                "/tests/korvelo-testmedia --one '" + file.string() +
                                "' --duration " + std::to_string(ASeconds) + " --size " + ASize;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }
  return file.string();
}

std::string LongMediaFile(int ASeconds) {
  return GeneratedMediaFile("long_" + std::to_string(ASeconds) + "s.mp4", ASeconds, "320x240");
}

std::filesystem::path HookDir() { return KORVELO_HOOK_DIR; }

std::string ReadFile(const std::string &AName) {
  std::ifstream in(AName, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> FolderEntries(const std::string &AFolder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(AFolder, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() /
          ("korvelo-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "-" +
           std::to_string(rd() % 100000));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

} // namespace testing_support
