#include "app/stick_eject.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "app/profiles.h"
#include "app/psp_stick.h"

namespace {

TEjectResult Refused(const std::string &AMessage) { return {false, AMessage}; }

bool ServiceAbsent(const TBusAnswer &AAnswer) {
  return AAnswer.ErrorName == "org.freedesktop.DBus.Error.ServiceUnknown" ||
         AAnswer.ErrorName == "org.freedesktop.DBus.Error.NameHasNoOwner";
}

std::string BusyMessage(const std::string &AMountPoint) {
  std::string programs;
  for (const std::string &program : ProgramsUsing(AMountPoint))
    programs += (programs.empty() ? "" : ", ") + program;
  return programs.empty() ? "The stick is busy: a file on it is still open. Close it and eject "
                            "again."
                          : "The stick is busy: a file on the stick is still open in " + programs +
                                ". Close it and eject again.";
}

} // namespace

TEjectResult EjectStick(const std::string &APath, TUDisks2Bus &AUDisks) {
  // The root file system is never the stick: there, the stick's mount folder was left behind.
  std::error_code ec;
  const std::string point = std::filesystem::exists(APath, ec) ? VolumeOf(APath) : "";
  if (point.empty() || point == "/")
    return Refused("Nothing is mounted at " + APath + ": the stick may be gone already.");
  // What the stick's cache still holds goes out first, whatever udisks2 does next.
  const int fd = ::open(point.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    ::syncfs(fd);
    ::close(fd);
  }
  const std::string device = MountSource(point);
  if (device.empty())
    return Refused("Nothing is mounted at " + point + ": the stick may be gone already.");
  if (!AUDisks.Connected())
    return Refused("The desktop has no system bus, so udisks2 cannot eject the stick: unmount " +
                   point + " with the file manager.");

  std::vector<std::string> blocks;
  const TBusAnswer resolved = AUDisks.ResolveDevice(device, blocks);
  if (!resolved.Ok())
    return Refused(ServiceAbsent(resolved)
                       ? "This desktop has no udisks2 service, so the stick cannot be ejected "
                         "from here: unmount " +
                             point + " with the file manager."
                       : "udisks2 does not know " + device + ": " + resolved.ErrorMessage);
  if (blocks.empty())
    return Refused("udisks2 does not know " + device + ".");

  const TBusAnswer unmounted = AUDisks.Unmount(blocks.front());
  if (!unmounted.Ok())
    return Refused(unmounted.ErrorName == "org.freedesktop.UDisks2.Error.DeviceBusy"
                       ? BusyMessage(point)
                       : "The stick could not be unmounted: " + unmounted.ErrorMessage);

  // The drive the file system lies on; "/" for one udisks2 cannot power off (a loop image).
  std::string drive;
  if (!AUDisks.BlockDrive(blocks.front(), drive).Ok() || drive == "/")
    drive.clear();
  if (drive.empty())
    return {true, "The stick has been unmounted: it can be removed."};
  const TBusAnswer off = AUDisks.PowerOff(drive);
  return {true, off.Ok() ? "The stick has been ejected: it can be removed."
                         : "The stick has been unmounted and can be removed (its drive could not "
                           "be powered off: " +
                               off.ErrorMessage + ")."};
}
