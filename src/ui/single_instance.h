// TSingleInstance: one window per user. A second launch hands its files, with the folder it was
// started in (for relative names), to the window already running and ends; the running window
// adds them and comes to the front.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QLocalServer;
class QLocalSocket;

class TSingleInstance : public QObject {
  Q_OBJECT

public:
  explicit TSingleInstance(QObject *AParent = nullptr);
  ~TSingleInstance() override;

  // The socket's path, in the user's runtime folder; without one, in a folder of the user's own
  // under the temporary folder. Empty when that folder is not the user's alone (another user
  // could listen there and take the files): each launch then opens a window of its own.
  static QString SocketPath();

  // Hands AArguments (the window's command line without its own name and Qt's options) and
  // AWorkingFolder to a running window: true when it took them, and this process should end.
  // Otherwise this object listens for later launches and returns false; a socket left behind
  // by a window that crashed is replaced. A window that answers too late never gets the files:
  // they are delivered only once both sides have agreed, so no two windows take them.
  bool HandOverOrListen(const QString &AWorkingFolder, const QStringList &AArguments);

  // Called for each later launch, on the window's thread.
  std::function<void(const QString &AWorkingFolder, const QStringList &AArguments)> FOnArrived;
  // Asked before a launch's files are taken; false (the window is closing) refuses them and
  // stops listening, so that the launch opens a window of its own. Unset: always taken.
  std::function<bool()> FAccepting;

private:
  void Accept();
  void Read(QLocalSocket *ASocket);
  bool HandOver(const QString &APath, const QString &AWorkingFolder, const QStringList &AArguments);

  QLocalServer *FServer = nullptr;
};
