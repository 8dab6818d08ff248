// A stick known to the real udisks2 daemon: an ext4 image on a loop device (this kernel has no
// vfat, and udisks2 handles only block devices, so not fusefat), mounted, with Debian's udisks2
// daemon on a private bus that stands in for the system bus. udisks2 learns of block devices
// from udev: where no udevd runs, one is started for as long as the stick lives.
#pragma once

#include <memory>
#include <string>

namespace cli_test {
class TProcess;
}

namespace testing_support {

class TUDisks2Stick {
public:
  // Sets DBUS_SYSTEM_BUS_ADDRESS of this process (and so of what it starts) to the private bus.
  TUDisks2Stick();
  ~TUDisks2Stick();
  TUDisks2Stick(const TUDisks2Stick &) = delete;
  TUDisks2Stick &operator=(const TUDisks2Stick &) = delete;

  // Why this machine cannot have such a stick (not root, a tool missing, no loop device): the
  // test skips. Empty when it can.
  const std::string &Unavailable() const { return FUnavailable; }
  // What went wrong setting it up on a machine that can: the test fails. Empty when ready.
  const std::string &Error() const { return FError; }
  const std::string &Root() const { return FMountPoint; } // the mount point, no "/" at the end
  const std::string &Device() const { return FDevice; }   // "/dev/loop3"

private:
  void SetUp();
  std::string FFolder, FMountPoint, FDevice, FUnavailable, FError;
  bool FHadUdev = false;
  int FLock = -1;
  std::unique_ptr<cli_test::TProcess> FUdevd, FBus, FUDisks;
};

} // namespace testing_support
