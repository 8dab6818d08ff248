// Safe removal of the memory stick the desktop's way: udisks2 on the system bus unmounts the
// stick and powers its drive off, with no root needed. The steps and what to tell the person
// live here once; the window talks to udisks2 through Qt D-Bus, the command line through
// sd-bus, each behind TUDisks2Bus.
#pragma once

#include <string>
#include <vector>

// A slow stick's unmount writes out what was still cached: udisks2 may take that long.
constexpr int UDisks2CallTimeoutMs = 60000;

// What udisks2 (or the bus) answered to one call: an empty ErrorName is success.
struct TBusAnswer {
  std::string ErrorName; // "org.freedesktop.UDisks2.Error.DeviceBusy", ...
  std::string ErrorMessage;
  bool Ok() const { return ErrorName.empty(); }
};

// The four udisks2 calls an eject makes, on the system bus.
class TUDisks2Bus {
public:
  virtual ~TUDisks2Bus() = default;
  // False when there is no system bus to talk on.
  virtual bool Connected() const = 0;
  // Manager.ResolveDevice({"path": ADevice}, {}): the object paths of ADevice's block devices.
  virtual TBusAnswer ResolveDevice(const std::string &ADevice,
                                   std::vector<std::string> &ABlocks) = 0;
  // Filesystem.Unmount({}) on the block device ABlock.
  virtual TBusAnswer Unmount(const std::string &ABlock) = 0;
  // The Block interface's Drive property of ABlock: "/" for one without a drive (a loop image).
  virtual TBusAnswer BlockDrive(const std::string &ABlock, std::string &ADrive) = 0;
  // Drive.PowerOff({}).
  virtual TBusAnswer PowerOff(const std::string &ADrive) = 0;
};

struct TEjectResult {
  bool Ejected = false; // unmounted (and powered off where the drive can be)
  std::string Message;  // what to tell the person, either way
};

// Writes everything out, then asks udisks2 to unmount the file system that APath (the device
// folder, or any path on the stick) lies on and to power its drive off. Blocks until udisks2
// answers: run it off the window's thread.
TEjectResult EjectStick(const std::string &APath, TUDisks2Bus &AUDisks);
