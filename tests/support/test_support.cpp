#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <unistd.h>

#include "medialib/medialib.h"

namespace testing_support {

void RequireMediaLibraries() {
  if (!LoadLibraries("", true))
    FAIL() << "media libraries did not load: " << LibraryLoadError();
}

std::filesystem::path MediaDir() { return KORVELO_TEST_MEDIA_DIR; }
std::string MediaFile(const std::string &AName) { return (MediaDir() / AName).string(); }
std::filesystem::path HookDir() { return KORVELO_HOOK_DIR; }

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
