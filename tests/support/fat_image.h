// A real FAT32 file system for the memory-stick tests: an image made with mkfs.vfat and mounted
// through a loop device (the kernel's vfat), or through fusefat where the kernel has no vfat.
#pragma once

#include <string>

namespace testing_support {

class TFatStick {
public:
  // Makes an image of AMegabytes MB under a fresh folder and mounts it. Mounted() tells whether
  // that worked; WhyNot() says why not (for the test's skip message).
  explicit TFatStick(int AMegabytes = 64);
  ~TFatStick();
  TFatStick(const TFatStick &) = delete;
  TFatStick &operator=(const TFatStick &) = delete;

  bool Mounted() const { return FMounted; }
  const std::string &WhyNot() const { return FWhyNot; }
  // The mount point, ending with "/".
  std::string Root() const { return FMountPoint + "/"; }
  // True when mounted through fusefat, which reports no free space.
  bool ThroughFuse() const { return FFuse; }
  // Unmounts (the test's "stick pulled"); Mount() mounts the same image again.
  bool Unmount();
  bool Mount();

private:
  std::string FFolder, FImage, FMountPoint, FWhyNot;
  bool FMounted = false, FFuse = false;
};

} // namespace testing_support
