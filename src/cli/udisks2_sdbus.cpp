#include "cli/udisks2_sdbus.h"

#include <systemd/sd-bus.h>

#include <cstring>
#include <functional>

namespace {

const char *const Service = "org.freedesktop.UDisks2";

// Calls AMethod with the arguments AAppend adds, and hands the reply to ARead.
TBusAnswer Call(sd_bus *ABus, const std::string &APath, const char *AInterface, const char *AMethod,
                const std::function<int(sd_bus_message *)> &AAppend,
                const std::function<int(sd_bus_message *)> &ARead = nullptr) {
  sd_bus_message *call = nullptr, *reply = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int r = sd_bus_message_new_method_call(ABus, &call, Service, APath.c_str(), AInterface, AMethod);
  if (r >= 0)
    r = AAppend(call);
  if (r >= 0)
    r = sd_bus_call(ABus, call, static_cast<uint64_t>(UDisks2CallTimeoutMs) * 1000, &error, &reply);
  if (r >= 0 && ARead)
    r = ARead(reply);
  TBusAnswer answer;
  if (r < 0) {
    // An error of the bus's or the service's has its name; a local failure gets errno's.
    if (!sd_bus_error_is_set(&error))
      sd_bus_error_set_errno(&error, r);
    answer.ErrorName = error.name ? error.name : "System.Error";
    answer.ErrorMessage = error.message ? error.message : std::strerror(-r);
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
  return answer;
}

int NoOptions(sd_bus_message *AMessage) { return sd_bus_message_append(AMessage, "a{sv}", 0); }

} // namespace

TSdBusUDisks2Bus::TSdBusUDisks2Bus() {
  if (sd_bus_open_system(&FBus) < 0)
    FBus = nullptr;
}

TSdBusUDisks2Bus::~TSdBusUDisks2Bus() { sd_bus_flush_close_unref(FBus); }

TBusAnswer TSdBusUDisks2Bus::ResolveDevice(const std::string &ADevice,
                                           std::vector<std::string> &ABlocks) {
  return Call(
      FBus, "/org/freedesktop/UDisks2/Manager", "org.freedesktop.UDisks2.Manager", "ResolveDevice",
      [&](sd_bus_message *AMessage) {
        return sd_bus_message_append(AMessage, "a{sv}a{sv}", 1, "path", "s", ADevice.c_str(), 0);
      },
      [&](sd_bus_message *AReply) {
        int r = sd_bus_message_enter_container(AReply, 'a', "o");
        const char *path = nullptr;
        while (r >= 0 && (r = sd_bus_message_read(AReply, "o", &path)) > 0)
          ABlocks.emplace_back(path);
        return r < 0 ? r : sd_bus_message_exit_container(AReply);
      });
}

TBusAnswer TSdBusUDisks2Bus::Unmount(const std::string &ABlock) {
  return Call(FBus, ABlock, "org.freedesktop.UDisks2.Filesystem", "Unmount", NoOptions);
}

TBusAnswer TSdBusUDisks2Bus::BlockDrive(const std::string &ABlock, std::string &ADrive) {
  return Call(
      FBus, ABlock, "org.freedesktop.DBus.Properties", "Get",
      [](sd_bus_message *AMessage) {
        return sd_bus_message_append(AMessage, "ss", "org.freedesktop.UDisks2.Block", "Drive");
      },
      [&](sd_bus_message *AReply) {
        const char *path = nullptr;
        const int r = sd_bus_message_read(AReply, "v", "o", &path);
        if (r >= 0)
          ADrive = path;
        return r;
      });
}

TBusAnswer TSdBusUDisks2Bus::PowerOff(const std::string &ADrive) {
  return Call(FBus, ADrive, "org.freedesktop.UDisks2.Drive", "PowerOff", NoOptions);
}
