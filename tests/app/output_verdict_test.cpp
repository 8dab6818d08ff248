// The outcome recorded with a converted file decides whether it is finished.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/conversion_outcome.h"
#include "app/output_verdict.h"
#include "support/test_support.h"

namespace {

void Write(const std::string &AName, const std::string &AContent) {
  std::ofstream(AName, std::ios::binary) << AContent;
}

void SetModified(const std::string &APath, time_t ASeconds) {
  const struct timespec times[2] = {{ASeconds, 0}, {ASeconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, APath.c_str(), times, 0), 0);
}

} // namespace

TEST(OutputVerdict, TheRecordNotALeftoverThumbnailDecidesFinished) {
  testing_support::TempDir dir, state;
  ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
  const std::string stopped = dir.file("stopped.mp4"), noThumb = dir.file("nothumb.mp4"),
                    old = dir.file("old.mp4"), legacy = dir.file("legacy.mp4");

  // A stopped file beside a thumbnail (a stale one, or one written later) stays stopped.
  Write(stopped, "partial");
  ASSERT_TRUE(RecordOutputVerdict(stopped, TOutputVerdict::ovStopped));
  Write(dir.file("stopped.THM"), "someone else's thumbnail");
  EXPECT_EQ(ReadOutputVerdict(stopped), TOutputVerdict::ovStopped);
  EXPECT_FALSE(IsFinishedConversion(stopped));

  // Finished whose thumbnail failed: complete all the same.
  Write(noThumb, "whole video");
  ASSERT_TRUE(RecordOutputVerdict(noThumb, TOutputVerdict::ovFinishedNoThumbnail));
  EXPECT_TRUE(IsFinishedConversion(noThumb));

  // The file written again since its record (a new conversion cut off under the same name):
  // the old record no longer speaks for it.
  Write(old, "whole video");
  ASSERT_TRUE(RecordOutputVerdict(old, TOutputVerdict::ovFinished));
  EXPECT_TRUE(IsFinishedConversion(old));
  Write(old, "cut off");
  EXPECT_EQ(ReadOutputVerdict(old), TOutputVerdict::ovUnknown);
  EXPECT_TRUE(IsPartialConversion(old));
  // Another file under the same inode (the first deleted, its inode given to a new file): the
  // record is not its.
  const std::string other = dir.file("other.mp4");
  std::filesystem::rename(old, other);
  Write(other, "someone's own video");
  EXPECT_FALSE(IsPartialConversion(other));

  // No record at all (converted before records were kept): finished only when its thumbnail
  // came after it; a thumbnail older than the video was left by a deleted file.
  Write(legacy, "video");
  Write(dir.file("legacy.THM"), "thumb");
  SetModified(legacy, 1000000000);
  SetModified(dir.file("legacy.THM"), 1000000100);
  EXPECT_TRUE(IsFinishedConversion(legacy));
  SetModified(dir.file("legacy.THM"), 999999000);
  EXPECT_FALSE(IsFinishedConversion(legacy));
  ::unsetenv("XDG_STATE_HOME");
}
