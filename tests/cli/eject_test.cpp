// korvelo-convert --eject against the real udisks2 daemon: a private bus started here stands in
// for the system bus, the daemon (Debian's udisks2) is put on it, and the stick is an ext4 image
// on a loop device (this kernel has no vfat, and udisks2 only handles block devices, so not
// fusefat). udisks2 learns of block devices from udev: where no udevd runs, one is started for
// the test. A loop device has no drive to power off, so the last call is not made here: the
// stand-in test in tests/ui checks it.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "app/psp_stick.h"
#include "support/command_runner.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace cli_test;

namespace {

const char *const UDisksDaemon = "/usr/libexec/udisks2/udisksd";

TRun Shell(const std::string &ACommand) { return TProcess("/bin/sh", {"-c", ACommand}).Wait(); }

// Ends a daemon started for the test the polite way, so that udevd takes its workers along.
void Stop(std::unique_ptr<TProcess> &AProcess) {
  if (!AProcess)
    return;
  AProcess->Signal(SIGTERM);
  AProcess->Wait(5000);
  AProcess.reset();
}

} // namespace

TEST(CliEject, TheRealUDisks2UnmountsTheStickOrNamesWhoKeepsItBusy) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "a loop device needs root";
  for (const char *tool : {UDisksDaemon, "/usr/bin/udisksctl", "/usr/bin/dbus-daemon",
                           "/lib/systemd/systemd-udevd", "/usr/sbin/mkfs.ext4"})
    if (!fs::exists(tool))
      GTEST_SKIP() << tool << " is missing (Debian's udisks2, udev, dbus-daemon, e2fsprogs)";
  testing_support::TempDir work;
  const std::string image = work.file("stick.img"), point = work.file("stick");
  fs::create_directories(point);
  ASSERT_EQ(Shell("truncate -s 32M " + image + " && mkfs.ext4 -q " + image).Status, 0);
  const TRun loop = Shell("losetup --find --show " + image);
  if (loop.Status != 0)
    GTEST_SKIP() << "no loop device: " << loop.Err;
  const std::string device = loop.Out.substr(0, loop.Out.find('\n'));
  struct TDetach {
    std::string Device;
    ~TDetach() { Shell("losetup -d " + Device); }
  } detach{device};

  // Whatever happens below, the daemons started here end and the stick is unmounted.
  struct TDaemons {
    std::unique_ptr<TProcess> Udevd, Bus, UDisks;
    bool HadUdev = fs::exists("/run/udev");
    std::string Point;
    ~TDaemons() {
      if (!MountSource(Point).empty())
        Shell("umount " + Point);
      Stop(UDisks);
      Stop(Bus);
      Stop(Udevd);
      ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
      std::error_code ec;
      if (!HadUdev)
        fs::remove_all("/run/udev", ec);
    }
  } daemons;
  daemons.Point = point;
  if (Shell("udevadm control --ping").Status != 0)
    daemons.Udevd =
        std::make_unique<TProcess>("/lib/systemd/systemd-udevd", std::vector<std::string>{});
  ASSERT_EQ(Shell("for i in $(seq 50); do udevadm control --ping && break; sleep 0.1; done; "
                  "udevadm trigger --action=add /sys/class/block/" +
                  fs::path(device).filename().string() + " && udevadm settle -t 10")
                .Status,
            0);
  ASSERT_EQ(Shell("mount " + device + " " + point).Status, 0);
  fs::create_directories(point + "/VIDEO");

  daemons.Bus = std::make_unique<TProcess>(
      "/usr/bin/dbus-daemon",
      std::vector<std::string>{"--session", "--nofork", "--print-address=1"});
  ASSERT_TRUE(daemons.Bus->WaitForOutput("\n", 5000));
  const std::string address = daemons.Bus->Out().substr(0, daemons.Bus->Out().find('\n'));
  // The private bus is the system bus of this test and of everything it starts.
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
  daemons.UDisks = std::make_unique<TProcess>(UDisksDaemon, std::vector<std::string>{});
  bool known = false;
  for (int i = 0; i < 100 && !known; ++i) {
    known = Shell("udisksctl info -b " + device).Status == 0;
    if (!known)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(known) << "udisks2 does not know " << device;

  // Busy: a folder of the stick held open by this test (and not by korvelo-convert).
  const int fd = ::open((point + "/VIDEO").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  TRun run = RunConvert({"--eject", point + "/VIDEO"});
  ::close(fd);
  EXPECT_EQ(run.Status, 1) << run.All();
  EXPECT_EQ(run.Err, "korvelo-convert: The stick is busy: a file on the stick is still open in "
                     "test_cli (" +
                         std::to_string(::getpid()) + "). Close it and eject again.\n");
  EXPECT_EQ(MountSource(point), device);

  run = RunConvert({"--eject", point + "/VIDEO"});
  EXPECT_EQ(run.Status, 0) << run.All();
  EXPECT_EQ(run.Out, "The stick has been unmounted: it can be removed.\n") << run.Err;
  EXPECT_EQ(MountSource(point), "");
}
