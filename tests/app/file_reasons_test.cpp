#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/file_reasons.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

// The reasons added to "Error while opening file" and "can not be written".
TEST(FileReasons, ALinkLoopAFileInAFoldersPlaceAndAReadableFileAreToldApart) {
  testing_support::TempDir dir;
  const std::string loop = dir.file("loop.mkv");
  fs::create_symlink(loop, loop);
  EXPECT_EQ(WhyNotReadable(loop), "a symbolic link that leads back to itself (a link loop)");
  const std::string clip = dir.file("clip.mkv");
  std::ofstream(clip) << "x";
  EXPECT_EQ(WhyNotReadable(clip), "");
  EXPECT_EQ(WhyNotReadable(dir.path().string()), "a folder, not a file");

  EXPECT_EQ(WhyNotWritableFolder(clip), clip + " is a file, not a folder");
  EXPECT_EQ(WhyNotWritableFolder(clip + "/videos/"), clip + " is a file, not a folder");
  EXPECT_EQ(WhyNotWritableFolder(loop), loop + ": " + WhyNotReadable(loop));
  fs::create_directories(dir.file("out/AVC"));
  EXPECT_EQ(WhyNotWritableFolder(dir.file("out")), "");
}
