#include "app/ui/stick_eject.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QStringList>
#include <QVariantMap>

#include "app/psp_stick.h"

namespace {

const char *const Service = "org.freedesktop.UDisks2";
const char *const ManagerPath = "/org/freedesktop/UDisks2/Manager";
constexpr int CallTimeoutMs = 60000; // a slow stick's unmount writes what was still cached

QDBusMessage Call(const QDBusConnection &ABus, const QString &APath, const QString &AInterface,
                  const QString &AMethod, const QVariantList &AArgs) {
  QDBusMessage message = QDBusMessage::createMethodCall(Service, APath, AInterface, AMethod);
  message.setArguments(AArgs);
  return ABus.call(message, QDBus::Block, CallTimeoutMs);
}

bool Failed(const QDBusMessage &AReply) { return AReply.type() != QDBusMessage::ReplyMessage; }

} // namespace

TEjectResult EjectStick(const QString &AMountPoint, const QDBusConnection &ABus) {
  TEjectResult result;
  const std::string point = AMountPoint.toStdString();
  // What the stick's cache still holds goes out first, whatever udisks2 does next.
  const int fd = ::open(point.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    ::syncfs(fd);
    ::close(fd);
  }
  const QString device = QString::fromStdString(MountSource(point));
  if (device.isEmpty()) {
    result.Message =
        QObject::tr("Nothing is mounted at %1: the stick may be gone already.").arg(AMountPoint);
    return result;
  }
  if (!ABus.isConnected()) {
    result.Message = QObject::tr("The desktop has no system bus, so udisks2 cannot eject the "
                                 "stick: unmount %1 with the file manager.")
                         .arg(AMountPoint);
    return result;
  }
  QVariantMap spec;
  spec.insert(QStringLiteral("path"), device);
  const QDBusMessage resolved =
      Call(ABus, ManagerPath, QStringLiteral("org.freedesktop.UDisks2.Manager"),
           QStringLiteral("ResolveDevice"), {spec, QVariantMap()});
  if (Failed(resolved)) {
    const bool absent =
        resolved.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        resolved.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
    result.Message =
        absent ? QObject::tr("This desktop has no udisks2 service, so the stick "
                             "cannot be ejected from here: unmount %1 with the "
                             "file manager.")
                     .arg(AMountPoint)
               : QObject::tr("udisks2 does not know %1: %2").arg(device, resolved.errorMessage());
    return result;
  }
  const QList<QDBusObjectPath> blocks =
      qdbus_cast<QList<QDBusObjectPath>>(resolved.arguments().value(0));
  if (blocks.isEmpty()) {
    result.Message = QObject::tr("udisks2 does not know %1.").arg(device);
    return result;
  }
  const QString block = blocks.first().path();

  const QDBusMessage unmounted =
      Call(ABus, block, QStringLiteral("org.freedesktop.UDisks2.Filesystem"),
           QStringLiteral("Unmount"), {QVariantMap()});
  if (Failed(unmounted)) {
    if (unmounted.errorName() == QLatin1String("org.freedesktop.UDisks2.Error.DeviceBusy")) {
      QStringList programs;
      for (const std::string &program : ProgramsUsing(point))
        programs << QString::fromStdString(program);
      result.Message = programs.isEmpty()
                           ? QObject::tr("The stick is busy: a file on it is still open. Close "
                                         "it and eject again.")
                           : QObject::tr("The stick is busy: a file on the stick is still open "
                                         "in %1. Close it and eject again.")
                                 .arg(programs.join(QStringLiteral(", ")));
    } else {
      result.Message =
          QObject::tr("The stick could not be unmounted: %1").arg(unmounted.errorMessage());
    }
    return result;
  }

  // The drive the file system lies on; "/" for one udisks2 cannot power off (a loop image).
  const QDBusMessage drive =
      Call(ABus, block, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
           {QStringLiteral("org.freedesktop.UDisks2.Block"), QStringLiteral("Drive")});
  const QString drivePath =
      Failed(drive) ? QString()
                    : qvariant_cast<QDBusObjectPath>(
                          qvariant_cast<QDBusVariant>(drive.arguments().value(0)).variant())
                          .path();
  result.Ejected = true;
  if (drivePath.isEmpty() || drivePath == QLatin1String("/")) {
    result.Message = QObject::tr("The stick has been unmounted: it can be removed.");
    return result;
  }
  const QDBusMessage off = Call(ABus, drivePath, QStringLiteral("org.freedesktop.UDisks2.Drive"),
                                QStringLiteral("PowerOff"), {QVariantMap()});
  result.Message = Failed(off) ? QObject::tr("The stick has been unmounted and can be removed "
                                             "(its drive could not be powered off: %1).")
                                     .arg(off.errorMessage())
                               : QObject::tr("The stick has been ejected: it can be removed.");
  return result;
}
