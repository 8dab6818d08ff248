// udisks2's calls for an eject through Qt D-Bus, the desktop's own way for the window.
#pragma once

#include <QDBusConnection>

#include "app/stick_eject.h"

class TQtUDisks2Bus : public TUDisks2Bus {
public:
  explicit TQtUDisks2Bus(const QDBusConnection &ABus = QDBusConnection::systemBus());
  bool Connected() const override;
  TBusAnswer ResolveDevice(const std::string &ADevice, std::vector<std::string> &ABlocks) override;
  TBusAnswer Unmount(const std::string &ABlock) override;
  TBusAnswer BlockDrive(const std::string &ABlock, std::string &ADrive) override;
  TBusAnswer PowerOff(const std::string &ADrive) override;

private:
  QDBusConnection FBus;
};
