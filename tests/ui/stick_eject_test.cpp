// Eject through udisks2, from the window (Qt D-Bus) and from korvelo-convert --eject (sd-bus),
// tried against a private D-Bus bus started here with a stand-in for the udisks2 service. The
// calls, their arguments and the answers' handling are real; the stand-in only answers, and it
// has a drive to power off, which the real daemon's test (tests/cli/eject_test.cpp, a loop
// device) cannot have.
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
#include <QProcessEnvironment>
#include <QVariantMap>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include "app/psp_stick.h"
#include "app/stick_eject.h"
#include "ui/udisks2_qt.h"
#include "support/command_runner.h"
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

// What an eject asks udisks2, in order.
std::string EjectCalls() {
  return std::string("ResolveDevice /org/freedesktop/UDisks2/Manager; Unmount ") + BlockPath +
         "; Get " + BlockPath + "; PowerOff " + DrivePath;
}

// Runs EjectStick on a thread of its own, as the page does, while this thread serves the bus.
TEjectResult EjectOffThread(const std::string &APoint, const QDBusConnection &ABus) {
  std::promise<TEjectResult> done;
  std::future<TEjectResult> result = done.get_future();
  std::thread worker([&] {
    TQtUDisks2Bus udisks(ABus);
    done.set_value(EjectStick(APoint, udisks));
  });
  WaitUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            30000);
  worker.join();
  return result.get();
}

// A FAT stick, and a private bus (the "system bus" here) with the stand-in for udisks2 put on it
// when asked.
class StickEject : public testing::Test {
protected:
  void SetUp() override {
    if (!Stick.Mounted())
      GTEST_SKIP() << "no stick to eject: " << Stick.WhyNot();
    Daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!Daemon.waitForStarted(5000) || !Daemon.waitForReadyRead(5000))
      GTEST_SKIP() << "dbus-daemon (Debian's dbus-daemon) is needed for a private bus";
    Address = QString::fromUtf8(Daemon.readLine()).trimmed();
  }
  void TearDown() override {
    if (Served)
      QDBusConnection(QStringLiteral("eject-udisks"))
          .unregisterObject("/org/freedesktop/UDisks2", QDBusConnection::UnregisterTree);
    QDBusConnection::disconnectFromBus("eject-udisks");
    if (Daemon.state() != QProcess::NotRunning) {
      Daemon.kill();
      Daemon.waitForFinished(5000);
    }
  }
  void ServeUDisks() {
    QDBusConnection service = QDBusConnection::connectToBus(Address, "eject-udisks");
    ASSERT_TRUE(service.registerService("org.freedesktop.UDisks2"));
    ASSERT_TRUE(service.registerVirtualObject("/org/freedesktop/UDisks2", &UDisks,
                                              QDBusConnection::SubPath));
    Served = true;
  }

  testing_support::TFatStick Stick;
  QProcess Daemon;
  QString Address;
  TFakeUDisks UDisks;
  bool Served = false;
};

struct TCliRun {
  int Status = -1;
  std::string Out, Err;
};

// The real korvelo-convert --eject APath with the private bus as its system bus, while this
// thread serves the stand-in.
TCliRun RunEject(const std::string &APath, const QString &ABusAddress) {
  QProcess cli;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("DBUS_SYSTEM_BUS_ADDRESS", ABusAddress);
  cli.setProcessEnvironment(environment);
  cli.start(QString::fromStdString(cli_test::ConvertBinary()),
            {"--eject", QString::fromStdString(APath)});
  TCliRun run;
  if (!cli.waitForStarted(5000) ||
      !WaitUntil([&] { return cli.state() == QProcess::NotRunning; }, 30000))
    return run;
  run.Status = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
  run.Out = cli.readAllStandardOutput().toStdString();
  run.Err = cli.readAllStandardError().toStdString();
  return run;
}

} // namespace

TEST_F(StickEject, UnmountsAndPowersOffThroughUDisks2AndSaysWhyNot) {
  QDBusConnection client = QDBusConnection::connectToBus(Address, "eject-client");
  ASSERT_TRUE(client.isConnected()) << Address.toStdString();
  const std::string point = Stick.Root();

  // No udisks2 on the bus.
  TEjectResult result = EjectOffThread(point, client);
  EXPECT_FALSE(result.Ejected);
  EXPECT_NE(result.Message.find("no udisks2 service"), std::string::npos) << result.Message;

  ServeUDisks();
  // Busy: a file open on the stick, and who holds it.
  UDisks.Busy = true;
  // The stick's top folder held open, as a file manager or shell does (no write through fusefat).
  const int fd = ::open(point.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  result = EjectOffThread(point, client);
  ::close(fd);
  EXPECT_FALSE(result.Ejected);
  EXPECT_NE(result.Message.find("a file on the stick is still open in test_ui (" +
                                std::to_string(::getpid()) + ")"),
            std::string::npos)
      << result.Message;
  EXPECT_EQ(UDisks.ResolvedPath.toStdString(), MountSource(point));

  UDisks.Busy = false;
  UDisks.Calls.clear();
  result = EjectOffThread(point, client);
  EXPECT_TRUE(result.Ejected) << result.Message;
  EXPECT_EQ(result.Message, "The stick has been ejected: it can be removed.");
  EXPECT_EQ(UDisks.Calls.join("; ").toStdString(), EjectCalls());
  QDBusConnection::disconnectFromBus("eject-client");
}

// The command line's own D-Bus transport (sd-bus) against the same stand-in, from a folder on
// the stick rather than its top.
TEST_F(StickEject, CommandLineEjectsThroughTheSameCallsAndSaysWhyNot) {
  const std::string folder = Stick.Root() + "VIDEO";
  ASSERT_TRUE(std::filesystem::create_directories(folder));

  TCliRun run = RunEject(folder, Address);
  EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
  EXPECT_EQ(run.Err, "korvelo-convert: This desktop has no udisks2 service, so the stick cannot "
                     "be ejected from here: unmount " +
                         Stick.Root().substr(0, Stick.Root().size() - 1) +
                         " with the file manager.\n");

  ServeUDisks();
  run = RunEject(folder, Address);
  EXPECT_EQ(run.Status, 0) << run.Out << run.Err;
  EXPECT_EQ(run.Out, "The stick has been ejected: it can be removed.\n") << run.Err;
  EXPECT_EQ(UDisks.ResolvedPath.toStdString(), MountSource(Stick.Root()));
  EXPECT_EQ(UDisks.Calls.join("; ").toStdString(), EjectCalls());
}
