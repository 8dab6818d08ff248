// udisks2's calls for an eject through sd-bus (libsystemd): the command line has no Qt. Like
// Qt D-Bus, sd-bus takes the system bus from DBUS_SYSTEM_BUS_ADDRESS when it is set.
#pragma once

#include "app/stick_eject.h"

struct sd_bus;

class TSdBusUDisks2Bus : public TUDisks2Bus {
public:
  TSdBusUDisks2Bus(); // connects to the system bus
  ~TSdBusUDisks2Bus() override;
  TSdBusUDisks2Bus(const TSdBusUDisks2Bus &) = delete;
  TSdBusUDisks2Bus &operator=(const TSdBusUDisks2Bus &) = delete;

  bool Connected() const override { return FBus != nullptr; }
  TBusAnswer ResolveDevice(const std::string &ADevice, std::vector<std::string> &ABlocks) override;
  TBusAnswer Unmount(const std::string &ABlock) override;
  TBusAnswer BlockDrive(const std::string &ABlock, std::string &ADrive) override;
  TBusAnswer PowerOff(const std::string &ADrive) override;

private:
  sd_bus *FBus = nullptr;
};
