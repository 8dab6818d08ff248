#include "ui/single_instance.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDataStream>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace {

// Sent first, so that a window of another version never takes a stranger's message for files.
constexpr quint32 Greeting = 0x4b560002;
// The window's answers and the launch's confirmation: the files count as handed over only once
// the launch has confirmed the offer, so a launch that gave up waiting keeps them.
constexpr char Offered = 'k';
constexpr char Refused = 'r';
constexpr char Confirmed = 'a';
constexpr int AnswerMs = 10000;

// A folder under the shared temporary folder is used only when it is ours alone: created by
// us, not a link, and closed to everyone else.
bool OwnPrivateFolder(const QString &AFolder) {
  const QByteArray path = QFile::encodeName(AFolder);
  ::mkdir(path.constData(), 0700);
  struct stat st {};
  return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 077) == 0;
}

} // namespace

TSingleInstance::TSingleInstance(QObject *AParent) : QObject(AParent) {}

TSingleInstance::~TSingleInstance() {
  if (FServer)
    FServer->close(); // removes the socket file: the next launch opens a window of its own
}

QString TSingleInstance::SocketPath() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) {
    folder = QDir::tempPath() + QStringLiteral("/korvelo-converter-%1").arg(::getuid());
    if (!OwnPrivateFolder(folder))
      return {};
  }
  QDir().mkpath(folder);
  return folder + QStringLiteral("/korvelo-converter.socket");
}

bool TSingleInstance::HandOver(const QString &APath, const QString &AWorkingFolder,
                               const QStringList &AArguments) {
  QLocalSocket socket;
  socket.connectToServer(APath);
  if (!socket.waitForConnected(2000))
    return false;
  QByteArray message;
  QDataStream out(&message, QIODevice::WriteOnly);
  out << Greeting << AWorkingFolder << AArguments;
  socket.write(message);
  socket.flush();
  // A window that does not answer (hung) is not relied on: it gets nothing, as no
  // confirmation comes.
  while (socket.bytesAvailable() == 0 && socket.waitForReadyRead(AnswerMs)) {
  }
  if (socket.bytesAvailable() == 0 || !socket.read(1).startsWith(Offered))
    return false;
  socket.write(&Confirmed, 1);
  return socket.waitForBytesWritten(2000) || socket.bytesToWrite() == 0;
}

bool TSingleInstance::HandOverOrListen(const QString &AWorkingFolder,
                                       const QStringList &AArguments) {
  const QString path = SocketPath();
  if (path.isEmpty())
    return false;
  // Two launches at once (several files opened from a file manager) must not both decide to be
  // the first: the decision is taken under a lock.
  QLockFile lock(path + QStringLiteral(".lock"));
  lock.setStaleLockTime(15000);
  const bool locked = lock.tryLock(AnswerMs);
  if (HandOver(path, AWorkingFolder, AArguments))
    return true;
  // Without the lock another launch may be deciding too: this one opens its window without
  // taking the place of the one that listens.
  if (!locked)
    return false;
  // Nobody answers: whatever is at the path was left by a window that ended without closing it.
  QLocalServer::removeServer(path);
  FServer = new QLocalServer(this);
  FServer->setSocketOptions(QLocalServer::UserAccessOption);
  connect(FServer, &QLocalServer::newConnection, this, [this] { Accept(); });
  if (!FServer->listen(path)) {
    delete FServer;
    FServer = nullptr;
  }
  return false;
}

void TSingleInstance::Accept() {
  while (FServer) {
    QLocalSocket *socket = FServer->nextPendingConnection();
    if (!socket)
      return;
    socket->setParent(this); // outlives the server, which a closing window gives up
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
  }
}

void TSingleInstance::Read(QLocalSocket *ASocket) {
  if (ASocket->property("offered").toBool()) {
    // The launch confirms: the files are ours now, and only now.
    const bool confirmed = ASocket->read(1).startsWith(Confirmed);
    const QString folder = ASocket->property("folder").toString();
    const QStringList arguments = ASocket->property("arguments").toStringList();
    ASocket->setProperty("offered", false);
    ASocket->disconnectFromServer();
    if (confirmed && FOnArrived)
      FOnArrived(folder, arguments);
    return;
  }
  QDataStream in(ASocket);
  in.startTransaction();
  quint32 greeting = 0;
  QString folder;
  QStringList arguments;
  in >> greeting >> folder >> arguments;
  if (!in.commitTransaction())
    return; // the rest is still on its way
  if (greeting != Greeting) {
    ASocket->abort();
    return;
  }
  if (FAccepting && !FAccepting()) {
    // Closing: the place is given up before the answer, so the launch can listen there itself.
    FServer->close();
    FServer->deleteLater();
    FServer = nullptr;
    ASocket->write(&Refused, 1);
    ASocket->flush();
    ASocket->disconnectFromServer();
    return;
  }
  ASocket->setProperty("offered", true);
  ASocket->setProperty("folder", folder);
  ASocket->setProperty("arguments", arguments);
  ASocket->write(&Offered, 1);
  ASocket->flush();
  if (ASocket->bytesAvailable() > 0)
    Read(ASocket);
}
