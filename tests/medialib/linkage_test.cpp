// Nothing we build may link the media libraries: every call goes through the loaded table,
// so a program must start (and report a missing library) on a machine without them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool IsElfExecutableOrLibrary(const fs::path &APath) {
  std::error_code ec;
  if (!fs::is_regular_file(APath, ec))
    return false;
  const auto perms = fs::status(APath, ec).permissions();
  const bool executable = (perms & fs::perms::owner_exec) != fs::perms::none;
  const bool sharedObject = APath.string().find(".so") != std::string::npos;
  if (!executable && !sharedObject)
    return false;
  char magic[4] = {};
  std::ifstream(APath, std::ios::binary).read(magic, 4);
  return magic[0] == 0x7f && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F';
}

// The NEEDED entries of a binary, from readelf.
std::vector<std::string> NeededLibraries(const fs::path &APath) {
  std::vector<std::string> needed;
  const std::string command = "readelf -d '" + APath.string() + "' 2>/dev/null";
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe)
    return needed;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe)) {
    const std::string text = line;
    if (text.find("(NEEDED)") == std::string::npos)
      continue;
    const size_t open = text.find('['), close = text.find(']');
    if (open != std::string::npos && close != std::string::npos && close > open)
      needed.push_back(text.substr(open + 1, close - open - 1));
  }
  pclose(pipe);
  return needed;
}

TEST(Linkage, NoBuiltBinaryNeedsAMediaLibrary) {
  ASSERT_EQ(std::system("readelf --version >/dev/null 2>&1"), 0) << "readelf is needed";
  const fs::path root = KORVELO_BINARY_DIR;
  std::vector<fs::path> binaries;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    if (it->is_directory() && it->path().filename() == "CMakeFiles") {
      it.disable_recursion_pending(); // compiler probes and object files
      continue;
    }
    if (IsElfExecutableOrLibrary(it->path()))
      binaries.push_back(it->path());
  }
  // This test's own executable must be among them, and so must the command-line program
  // when it was built.
  const fs::path self = fs::canonical("/proc/self/exe");
  bool sawSelf = false;
  for (const fs::path &binary : binaries) {
    const std::vector<std::string> needed = NeededLibraries(binary);
    if (fs::equivalent(binary, self)) {
      sawSelf = true;
      EXPECT_FALSE(needed.empty()) << "readelf output not understood";
    }
    for (const std::string &library : needed)
      EXPECT_FALSE(library.rfind("libav", 0) == 0 || library.rfind("libsw", 0) == 0)
          << binary << " needs " << library;
  }
  EXPECT_TRUE(sawSelf) << "the search missed " << self;
  std::printf("checked %zu binaries\n", binaries.size());
}

} // namespace
