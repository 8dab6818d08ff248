#include "support/fat_image.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace testing_support {

namespace {

int Run(const std::string &ACommand) {
  return std::system((ACommand + " >/dev/null 2>&1").c_str());
}

std::string Quoted(const std::string &AText) { return "'" + AText + "'"; }

} // namespace

TFatStick::TFatStick(int AMegabytes) {
  char name[] = "/tmp/korvelo-fat-XXXXXX";
  if (!::mkdtemp(name)) {
    FWhyNot = "no temporary folder";
    return;
  }
  FFolder = name;
  FImage = FFolder + "/stick.img";
  FMountPoint = FFolder + "/PSPSTICK";
  fs::create_directories(FMountPoint);
  if (::geteuid() != 0) {
    FWhyNot = "mounting a FAT image needs root";
    return;
  }
  if (Run("mkfs.vfat --help") == 127 ||
      Run("truncate -s " + std::to_string(AMegabytes) + "M " + Quoted(FImage) +
          " && mkfs.vfat -F 32 -n KORVELO " + Quoted(FImage)) != 0) {
    FWhyNot = "mkfs.vfat (dosfstools) could not make a FAT32 image";
    return;
  }
  Mount();
}

bool TFatStick::Mount() {
  if (FMounted || FImage.empty())
    return FMounted;
  if (Run("mount -t vfat -o loop " + Quoted(FImage) + " " + Quoted(FMountPoint)) == 0) {
    FMounted = true;
    FFuse = false;
  } else if (Run("fusefat -o rw+ " + Quoted(FImage) + " " + Quoted(FMountPoint)) == 0) {
    FMounted = true;
    FFuse = true;
  } else {
    FWhyNot = "neither a loop mount of vfat (no loop device or no vfat in this kernel) nor "
              "fusefat could mount the FAT32 image";
  }
  return FMounted;
}

bool TFatStick::Unmount() {
  if (!FMounted)
    return true;
  // A window of another test running at the same time may be looking into this stick's PSP
  // folder for a moment (it offers every mounted PSP): busy for that long, not for good.
  for (int attempt = 0; attempt < 30; ++attempt) {
    if (Run((FFuse ? "fusermount -u " : "umount ") + Quoted(FMountPoint)) == 0) {
      FMounted = false;
      return true;
    }
    ::usleep(100000);
  }
  return false;
}

TFatStick::~TFatStick() {
  Unmount();
  if (!FFolder.empty()) {
    std::error_code ec;
    fs::remove_all(FFolder, ec);
  }
}

} // namespace testing_support
