// Shared helpers of the test executables.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// Loads the media libraries once for the process; fails the calling test when they cannot load.
void RequireMediaLibraries();

// Folder of the generated test media, and the path of one of its files.
std::filesystem::path MediaDir();
std::string MediaFile(const std::string &AName);

// A longer H.264 + AAC file (320x240) of ASeconds seconds, made once with the test-media
// generator and kept beside the other test media.
std::string LongMediaFile(int ASeconds);
// An H.264 + AAC file of the given length and picture size, made once like the one above.
std::string GeneratedMediaFile(const std::string &AName, double ASeconds, const std::string &ASize);

// The threads libx264 says it encoded AFile's video with (from the settings it writes into the
// stream), -1 when there are none; ASliced tells whether they were sliced threads.
int X264Threads(const std::string &AFile, bool &ASliced);

// Folder of the built frame-hook example modules.
std::filesystem::path HookDir();

// The whole content of a file; empty when it cannot be read.
std::string ReadFile(const std::string &AName);
// The names in a folder, sorted; empty when it cannot be listed.
std::vector<std::string> FolderEntries(const std::string &AFolder);

// A fresh empty folder under the system temp folder, removed when the object goes.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::filesystem::path &path() const { return path_; }
  std::string file(const std::string &AName) const { return (path_ / AName).string(); }

private:
  std::filesystem::path path_;
};

} // namespace testing_support
