#include "app/stick_eject.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "app/i18n.h"
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
  return programs.empty()
             ? _("The stick is busy: a file on it is still open. Close it and eject again.")
             : FormatText(_("The stick is busy: a file on the stick is still open in %s. Close it "
                            "and eject again."),
                          programs.c_str());
}

} // namespace

TEjectResult EjectStick(const std::string &APath, TUDisks2Bus &AUDisks) {
  // The root file system is never the stick: there, the stick's mount folder was left behind.
  std::error_code ec;
  const std::string point = std::filesystem::exists(APath, ec) ? VolumeOf(APath) : "";
  if (point.empty() || point == "/")
    return Refused(
        FormatText(_("Nothing is mounted at %s: the stick may be gone already."), APath.c_str()));
  // What the stick's cache still holds goes out first, whatever udisks2 does next.
  const int fd = ::open(point.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    ::syncfs(fd);
    ::close(fd);
  }
  const std::string device = MountSource(point);
  if (device.empty())
    return Refused(
        FormatText(_("Nothing is mounted at %s: the stick may be gone already."), point.c_str()));
  if (!AUDisks.Connected())
    return Refused(FormatText(_("The desktop has no system bus, so udisks2 cannot eject the "
                                "stick: unmount %s with the file manager."),
                              point.c_str()));

  std::vector<std::string> blocks;
  const TBusAnswer resolved = AUDisks.ResolveDevice(device, blocks);
  if (!resolved.Ok())
    return Refused(ServiceAbsent(resolved)
                       ? FormatText(_("This desktop has no udisks2 service, so the stick "
                                      "cannot be ejected from here: unmount %s with the file "
                                      "manager."),
                                    point.c_str())
                       : FormatText(_("udisks2 does not know %s: %s"), device.c_str(),
                                    resolved.ErrorMessage.c_str()));
  if (blocks.empty())
    return Refused(FormatText(_("udisks2 does not know %s."), device.c_str()));

  const TBusAnswer unmounted = AUDisks.Unmount(blocks.front());
  if (!unmounted.Ok())
    return Refused(unmounted.ErrorName == "org.freedesktop.UDisks2.Error.DeviceBusy"
                       ? BusyMessage(point)
                       : FormatText(_("The stick could not be unmounted: %s"),
                                    unmounted.ErrorMessage.c_str()));

  // The drive the file system lies on; "/" for one udisks2 cannot power off (a loop image).
  std::string drive;
  if (!AUDisks.BlockDrive(blocks.front(), drive).Ok() || drive == "/")
    drive.clear();
  if (drive.empty())
    return {true, _("The stick has been unmounted: it can be removed.")};
  const TBusAnswer off = AUDisks.PowerOff(drive);
  return {true, off.Ok() ? _("The stick has been ejected: it can be removed.")
                         : FormatText(_("The stick has been unmounted and can be removed (its "
                                        "drive could not be powered off: %s)."),
                                      off.ErrorMessage.c_str())};
}
