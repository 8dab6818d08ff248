#include "support/udisks2_stick.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/psp_stick.h"
#include "support/command_runner.h"

namespace fs = std::filesystem;
using cli_test::TProcess;
using cli_test::TRun;

namespace testing_support {

namespace {

const char *const UDisksDaemon = "/usr/libexec/udisks2/udisksd";

TRun Shell(const std::string &ACommand) { return TProcess("/bin/sh", {"-c", ACommand}).Wait(); }

// Ends a daemon started here the polite way, so that udevd takes its workers along.
void Stop(std::unique_ptr<TProcess> &AProcess) {
  if (!AProcess)
    return;
  AProcess->Signal(SIGTERM);
  AProcess->Wait(5000);
  AProcess.reset();
}

} // namespace

TUDisks2Stick::TUDisks2Stick() {
  // One such stick at a time on the machine, whichever build's tests run: they would share
  // (and stop) one udevd.
  FLock = ::open("/tmp/korvelo-udisks2-stick.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0666);
  if (FLock >= 0)
    ::flock(FLock, LOCK_EX);
  char name[] = "/tmp/korvelo-udisks-XXXXXX";
  if (!::mkdtemp(name)) {
    FUnavailable = "no temporary folder";
    return;
  }
  FFolder = name;
  FMountPoint = FFolder + "/stick";
  SetUp();
}

void TUDisks2Stick::SetUp() {
  if (::geteuid() != 0) {
    FUnavailable = "a loop device needs root";
    return;
  }
  for (const char *tool : {UDisksDaemon, "/usr/bin/udisksctl", "/usr/bin/dbus-daemon",
                           "/lib/systemd/systemd-udevd", "/usr/sbin/mkfs.ext4"})
    if (!fs::exists(tool)) {
      FUnavailable = std::string(tool) + " is missing (Debian's udisks2, udev, dbus-daemon, "
                                         "e2fsprogs)";
      return;
    }
  const std::string image = FFolder + "/stick.img";
  fs::create_directories(FMountPoint);
  if (Shell("truncate -s 32M " + image + " && mkfs.ext4 -q " + image).Status != 0) {
    FError = "mkfs.ext4 failed";
    return;
  }
  const TRun loop = Shell("losetup --find --show " + image);
  if (loop.Status != 0) {
    FUnavailable = "no loop device: " + loop.Err;
    return;
  }
  FDevice = loop.Out.substr(0, loop.Out.find('\n'));

  FHadUdev = fs::exists("/run/udev");
  if (Shell("udevadm control --ping").Status != 0)
    FUdevd = std::make_unique<TProcess>("/lib/systemd/systemd-udevd", std::vector<std::string>{});
  if (Shell("for i in $(seq 50); do udevadm control --ping && break; sleep 0.1; done; "
            "udevadm trigger --action=add /sys/class/block/" +
            fs::path(FDevice).filename().string() + " && udevadm settle -t 10")
          .Status != 0) {
    FError = "udev did not take " + FDevice;
    return;
  }
  if (Shell("mount " + FDevice + " " + FMountPoint).Status != 0) {
    FError = "cannot mount " + FDevice;
    return;
  }

  FBus = std::make_unique<TProcess>(
      "/usr/bin/dbus-daemon",
      std::vector<std::string>{"--session", "--nofork", "--print-address=1"});
  if (!FBus->WaitForOutput("\n", 5000)) {
    FError = "dbus-daemon gave no address";
    return;
  }
  const std::string address = FBus->Out().substr(0, FBus->Out().find('\n'));
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
  FUDisks = std::make_unique<TProcess>(UDisksDaemon, std::vector<std::string>{});
  for (int i = 0; i < 100; ++i) {
    if (Shell("udisksctl info -b " + FDevice).Status == 0)
      return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  FError = "udisks2 does not know " + FDevice;
}

TUDisks2Stick::~TUDisks2Stick() {
  if (!FMountPoint.empty() && !MountSource(FMountPoint).empty())
    Shell("umount " + FMountPoint);
  Stop(FUDisks);
  Stop(FBus);
  const bool startedUdev = FUdevd != nullptr;
  Stop(FUdevd);
  ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  // The machine is left as it was: no udev database where there was none.
  std::error_code ec;
  if (startedUdev && !FHadUdev)
    fs::remove_all("/run/udev", ec);
  if (!FDevice.empty())
    Shell("losetup -d " + FDevice);
  if (!FFolder.empty())
    fs::remove_all(FFolder, ec);
  if (FLock >= 0)
    ::close(FLock);
}

} // namespace testing_support
