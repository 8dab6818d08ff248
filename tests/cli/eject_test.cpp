// korvelo-convert --eject against the real udisks2 daemon on a private system bus (see
// support/udisks2_stick.h). A loop device has no drive to power off, so the last call is not
// made here: the stand-in test in tests/ui checks it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "app/psp_stick.h"
#include "support/command_runner.h"
#include "support/udisks2_stick.h"

using namespace cli_test;

TEST(CliEject, TheRealUDisks2UnmountsTheStickOrNamesWhoKeepsItBusy) {
  testing_support::TUDisks2Stick stick;
  if (!stick.Unavailable().empty())
    GTEST_SKIP() << stick.Unavailable();
  ASSERT_EQ(stick.Error(), "");
  const std::string folder = stick.Root() + "/VIDEO";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);

  // Busy: a folder of the stick held open by this test (and not by korvelo-convert).
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  TRun run = RunConvert({"--eject", folder});
  ::close(fd);
  EXPECT_EQ(run.Status, 1) << run.All();
  EXPECT_EQ(run.Err, "korvelo-convert: The stick is busy: a file on the stick is still open in "
                     "test_cli (" +
                         std::to_string(::getpid()) + "). Close it and eject again.\n");
  EXPECT_EQ(MountSource(stick.Root()), stick.Device());

  run = RunConvert({"--eject", folder});
  EXPECT_EQ(run.Status, 0) << run.All();
  EXPECT_EQ(run.Out, "The stick has been unmounted: it can be removed.\n") << run.Err;
  EXPECT_EQ(MountSource(stick.Root()), "");
}
