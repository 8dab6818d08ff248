// Output names held between load and conversion: what they reserve, and what a killed run leaves.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/output_claim.h"
#include "app/output_options.h"
#include "app/thumbnail.h"
#include "support/test_support.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;

TEST(OutputClaim, NeitherAThumbnailLeftAloneNorAFilePutInPlaceOfAClaimIsReplaced) {
  TempDir dir;
  const std::string avc = dir.file("AVC") + "/";
  std::filesystem::create_directories(avc);
  TPSPOutputSettings late = BuildOutputOptions(4, true, "t", "/in/a.jpg", avc, "", 640, 480);
  std::ofstream(avc + "a-480x272-AVC.THM") << "someone's picture";
  // Chosen before and after the thumbnail appeared: both go to the next number.
  TPSPOutputSettings early = BuildOutputOptions(4, true, "t", "/in/a.jpg", avc, "", 640, 480);
  EXPECT_EQ(early.FileName, avc + "a-480x272-AVC(1).mp4");
  std::string error;
  ASSERT_TRUE(ClaimOutputFile(late, error)) << error;
  EXPECT_EQ(late.FileName, avc + "a-480x272-AVC(1).mp4");
  EXPECT_EQ(ReadFile(avc + "a-480x272-AVC.THM"), "someone's picture");
  EXPECT_FALSE(std::filesystem::exists(avc + "a-480x272-AVC.mp4"));

  TClaimedFile claimed;
  ASSERT_TRUE(ClaimOutputFile(early, claimed, error)) << error;
  EXPECT_TRUE(ClaimStillHeld(claimed, error)) << error;
  std::filesystem::remove(claimed.Path);
  std::ofstream(claimed.Path) << "another program's file";
  EXPECT_FALSE(ClaimStillHeld(claimed, error));
  ReleaseClaim(claimed);
  EXPECT_EQ(ReadFile(claimed.Path), "another program's file");
}

TEST(OutputClaim, ALongInputNameIsShortenedToFitTheFolderWithItsThumbnail) {
  TempDir dir;
  const std::string avc = dir.file("AVC") + "/";
  std::filesystem::create_directories(avc);
  std::string name;
  for (int i = 0; i < 121; ++i)
    name += "\xC3\xA9"; // é, two bytes: a cut must not split one
  name += "xxxx.mkv";   // 250 bytes
  ASSERT_EQ(name.size(), 250u);
  TPSPOutputSettings out = BuildOutputOptions(4, true, "t", "/in/" + name, avc, "", 640, 480);
  std::string error;
  ASSERT_TRUE(ClaimOutputFile(out, error)) << error;
  const std::string file = std::filesystem::path(out.FileName).filename().string();
  EXPECT_LE(file.size(), 255u);
  const std::string tail = "-480x272-AVC.mp4";
  ASSERT_GT(file.size(), tail.size());
  EXPECT_EQ(file.substr(file.size() - tail.size()), tail);
  const std::string kept = file.substr(0, file.size() - tail.size());
  EXPECT_EQ(name.compare(0, kept.size(), kept), 0);
  EXPECT_EQ(kept.size() % 2, 0u) << "a character was cut in two";
  TBGRImage picture;
  picture.Resize(64, 48, true);
  EXPECT_TRUE(MakeThumbnail(picture, out.FileName, error)) << error;
}

// A run killed while files wait leaves its empty claims; the next start removes them, so the
// next conversion takes the plain name again. A run still going keeps its own.
TEST(OutputClaim, TheClaimsOfAKilledRunGoAtTheNextStartThoseOfALiveOneStay) {
  TempDir dir;
  const std::string avc = dir.file("AVC") + "/";
  std::filesystem::create_directories(avc);
  const char *saved = std::getenv("XDG_STATE_HOME");
  const std::string savedState = saved ? saved : "";
  ::setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1);
  auto claimInChild = [&](const std::string &APrefix, int ACount, int AReadyFd) {
    const pid_t child = ::fork();
    if (child != 0)
      return child;
    for (int i = 0; i < ACount; ++i) {
      TPSPOutputSettings out = BuildOutputOptions(
          4, true, "t", "/in/" + APrefix + std::to_string(i) + ".avi", avc, "", 640, 480);
      std::string error;
      if (!ClaimOutputFile(out, error))
        ::_exit(3);
    }
    if (AReadyFd < 0)
      ::raise(SIGKILL);
    [[maybe_unused]] const ssize_t written = ::write(AReadyFd, "x", 1);
    ::pause(); // alive until killed
    ::_exit(0);
  };
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t live = claimInChild("live", 3, ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  int status = 0;
  const pid_t killed = claimInChild("clip", 150, -1);
  ASSERT_EQ(::waitpid(killed, &status, 0), killed);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  EXPECT_EQ(testing_support::FolderEntries(avc).size(), 153u);

  EXPECT_EQ(RemoveAbandonedClaims(), 150);
  EXPECT_EQ(testing_support::FolderEntries(avc),
            (std::vector<std::string>{"live0-480x272-AVC.mp4", "live1-480x272-AVC.mp4",
                                      "live2-480x272-AVC.mp4"}));
  EXPECT_EQ(BuildOutputOptions(4, true, "t", "/in/clip7.avi", avc, "", 640, 480).FileName,
            avc + "clip7-480x272-AVC.mp4");
  ::kill(live, SIGKILL);
  ::waitpid(live, &status, 0);
  EXPECT_EQ(RemoveAbandonedClaims(), 3);
  EXPECT_TRUE(testing_support::FolderEntries(dir.file("state/korvelo-converter/claims")).empty());
  ::close(ready[0]);
  ::close(ready[1]);
  if (saved)
    ::setenv("XDG_STATE_HOME", savedState.c_str(), 1);
  else
    ::unsetenv("XDG_STATE_HOME");
}

} // namespace
