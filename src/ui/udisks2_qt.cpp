#include "ui/udisks2_qt.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QVariantMap>

namespace {

const char *const Service = "org.freedesktop.UDisks2";

TBusAnswer Call(const QDBusConnection &ABus, const std::string &APath, const char *AInterface,
                const char *AMethod, const QVariantList &AArgs, QDBusMessage *AReply = nullptr) {
  QDBusMessage message =
      QDBusMessage::createMethodCall(Service, QString::fromStdString(APath), AInterface, AMethod);
  message.setArguments(AArgs);
  const QDBusMessage reply = ABus.call(message, QDBus::Block, UDisks2CallTimeoutMs);
  if (AReply)
    *AReply = reply;
  if (reply.type() == QDBusMessage::ReplyMessage)
    return {};
  // A reply that never came has no error name of its own: it still is no success.
  const QString name = reply.errorName().isEmpty()
                           ? QStringLiteral("org.freedesktop.DBus.Error.NoReply")
                           : reply.errorName();
  return {name.toStdString(), reply.errorMessage().toStdString()};
}

} // namespace

TQtUDisks2Bus::TQtUDisks2Bus(const QDBusConnection &ABus) : FBus(ABus) {}

bool TQtUDisks2Bus::Connected() const { return FBus.isConnected(); }

TBusAnswer TQtUDisks2Bus::ResolveDevice(const std::string &ADevice,
                                        std::vector<std::string> &ABlocks) {
  QVariantMap spec;
  spec.insert(QStringLiteral("path"), QString::fromStdString(ADevice));
  QDBusMessage reply;
  const TBusAnswer answer =
      Call(FBus, "/org/freedesktop/UDisks2/Manager", "org.freedesktop.UDisks2.Manager",
           "ResolveDevice", {spec, QVariantMap()}, &reply);
  if (answer.Ok())
    for (const QDBusObjectPath &block :
         qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0)))
      ABlocks.push_back(block.path().toStdString());
  return answer;
}

TBusAnswer TQtUDisks2Bus::Unmount(const std::string &ABlock) {
  return Call(FBus, ABlock, "org.freedesktop.UDisks2.Filesystem", "Unmount", {QVariantMap()});
}

TBusAnswer TQtUDisks2Bus::BlockDrive(const std::string &ABlock, std::string &ADrive) {
  QDBusMessage reply;
  const TBusAnswer answer =
      Call(FBus, ABlock, "org.freedesktop.DBus.Properties", "Get",
           {QStringLiteral("org.freedesktop.UDisks2.Block"), QStringLiteral("Drive")}, &reply);
  if (answer.Ok())
    ADrive = qvariant_cast<QDBusObjectPath>(
                 qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant())
                 .path()
                 .toStdString();
  return answer;
}

TBusAnswer TQtUDisks2Bus::PowerOff(const std::string &ADrive) {
  return Call(FBus, ADrive, "org.freedesktop.UDisks2.Drive", "PowerOff", {QVariantMap()});
}
