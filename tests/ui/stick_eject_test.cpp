// Eject through udisks2, tried against a private D-Bus bus started here with a stand-in for
// the udisks2 service: this machine has no system bus and no udev for the real daemon. The
// calls, their arguments and the answers' handling are real; the stand-in only answers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QVariantMap>
#include <future>
#include <string>
#include <thread>

#include "app/psp_stick.h"
#include "app/ui/stick_eject.h"
#include "support/fat_image.h"
#include "wait_until.h"

namespace {

const char *const BlockPath = "/org/freedesktop/UDisks2/block_devices/sdx1";
const char *const DrivePath = "/org/freedesktop/UDisks2/drives/Stick";

class TFakeUDisks : public QDBusVirtualObject {
public:
  bool Busy = false;
  QString ResolvedPath; // the "path" ResolveDevice was asked for
  QStringList Calls;    // "Member path"

  QString introspect(const QString &) const override { return {}; }
  bool handleMessage(const QDBusMessage &AMessage, const QDBusConnection &ABus) override {
    Calls << AMessage.member() + " " + AMessage.path();
    QDBusMessage reply = AMessage.createReply();
    if (AMessage.member() == "ResolveDevice") {
      ResolvedPath =
          qdbus_cast<QVariantMap>(AMessage.arguments().value(0)).value("path").toString();
      reply = AMessage.createReply(
          QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(BlockPath)}));
    } else if (AMessage.member() == "Unmount" && Busy) {
      reply =
          AMessage.createErrorReply("org.freedesktop.UDisks2.Error.DeviceBusy", "target is busy");
    } else if (AMessage.member() == "Get") {
      reply = AMessage.createReply(
          QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusObjectPath(DrivePath)))));
    }
    ABus.send(reply);
    return true;
  }
};

// Runs EjectStick on a thread of its own, as the page does, while this thread serves the bus.
TEjectResult EjectOffThread(const QString &APoint, const QDBusConnection &ABus) {
  std::promise<TEjectResult> done;
  std::future<TEjectResult> result = done.get_future();
  std::thread worker([&] { done.set_value(EjectStick(APoint, ABus)); });
  WaitUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            30000);
  worker.join();
  return result.get();
}

} // namespace

TEST(StickEject, UnmountsAndPowersOffThroughUDisks2AndSaysWhyNot) {
  testing_support::TFatStick stick;
  if (!stick.Mounted())
    GTEST_SKIP() << "no stick to eject: " << stick.WhyNot();
  QProcess daemon;
  daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
  if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000))
    GTEST_SKIP() << "dbus-daemon (Debian's dbus-daemon) is needed for a private bus";
  const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
  QDBusConnection client = QDBusConnection::connectToBus(address, "eject-client");
  ASSERT_TRUE(client.isConnected()) << address.toStdString();
  const QString point = QString::fromStdString(stick.Root());

  // No udisks2 on the bus.
  TEjectResult result = EjectOffThread(point, client);
  EXPECT_FALSE(result.Ejected);
  EXPECT_TRUE(result.Message.contains("no udisks2 service")) << result.Message.toStdString();

  QDBusConnection service = QDBusConnection::connectToBus(address, "eject-udisks");
  ASSERT_TRUE(service.registerService("org.freedesktop.UDisks2"));
  TFakeUDisks udisks;
  ASSERT_TRUE(
      service.registerVirtualObject("/org/freedesktop/UDisks2", &udisks, QDBusConnection::SubPath));

  // Busy: a file open on the stick, and who holds it.
  udisks.Busy = true;
  // The stick's top folder held open, as a file manager or shell does (no write through fusefat).
  const int fd = ::open(stick.Root().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  result = EjectOffThread(point, client);
  ::close(fd);
  EXPECT_FALSE(result.Ejected);
  EXPECT_TRUE(result.Message.contains("a file on the stick is still open in test_ui (" +
                                      QString::number(::getpid()) + ")"))
      << result.Message.toStdString();
  EXPECT_EQ(udisks.ResolvedPath.toStdString(), MountSource(stick.Root()));

  udisks.Busy = false;
  udisks.Calls.clear();
  result = EjectOffThread(point, client);
  EXPECT_TRUE(result.Ejected) << result.Message.toStdString();
  EXPECT_TRUE(result.Message.contains("ejected")) << result.Message.toStdString();
  EXPECT_EQ(udisks.Calls, (QStringList{"ResolveDevice /org/freedesktop/UDisks2/Manager",
                                       QString("Unmount ") + BlockPath, QString("Get ") + BlockPath,
                                       QString("PowerOff ") + DrivePath}));
  service.unregisterObject("/org/freedesktop/UDisks2", QDBusConnection::UnregisterTree);
  QDBusConnection::disconnectFromBus("eject-udisks");
  QDBusConnection::disconnectFromBus("eject-client");
  daemon.kill();
  daemon.waitForFinished(5000);
}
