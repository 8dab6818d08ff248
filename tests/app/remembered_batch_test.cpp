// The files left waiting, kept for the next start: where they may be written, and a failure.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/remembered_batch.h"
#include "support/test_support.h"

namespace {

TEST(RememberedBatch, WithoutAStateFolderNothingIsWrittenAndAFailedWriteSaysWhy) {
  testing_support::TempDir dir;
  std::ofstream(dir.file("film.mkv")) << "x";
  TRememberedJob job{dir.file("film.mkv"), 1, TContentChoice()};
  job.Choice.AudioTrack = "fre";
  std::string error;

  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  const char *state = std::getenv("XDG_STATE_HOME");
  const std::string savedState = state ? state : "";
  const std::filesystem::path here = std::filesystem::current_path();
  ::unsetenv("HOME");
  ::unsetenv("XDG_STATE_HOME");
  std::filesystem::current_path(dir.path());
  EXPECT_TRUE(WriteRememberedBatch(RememberedBatchPath(), {job}, error)) << error;
  std::filesystem::current_path(here);
  ::setenv("HOME", home.c_str(), 1);
  if (state)
    ::setenv("XDG_STATE_HOME", savedState.c_str(), 1);
  EXPECT_EQ(testing_support::FolderEntries(dir.path().string()),
            std::vector<std::string>{"film.mkv"});

  EXPECT_FALSE(WriteRememberedBatch(dir.file("film.mkv/waiting-files"), {job}, error));
  EXPECT_NE(error.find("Not a directory"), std::string::npos) << error;
  const std::string list = dir.file("waiting-files");
  ASSERT_TRUE(WriteRememberedBatch(list, {job, job}, error)) << error;
  EXPECT_EQ(ReadRememberedBatch(list), std::vector<TRememberedJob>{job});
}

} // namespace
