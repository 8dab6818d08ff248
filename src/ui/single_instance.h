// TSingleInstance: one window per user. A second launch hands its files, with the folder it was
// started in (for relative names), to the window already running and ends; the running window
// adds them and comes to the front.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QLocalServer;

class TSingleInstance : public QObject {
  Q_OBJECT

public:
  explicit TSingleInstance(QObject *AParent = nullptr);
  ~TSingleInstance() override;

  // The socket's path, in the user's runtime folder.
  static QString SocketPath();

  // Hands AArguments (the window's command line without its own name and Qt's options) and
  // AWorkingFolder to a running window: true when it took them, and this process should end.
  // Otherwise this object listens for later launches and returns false; a socket left behind
  // by a window that crashed is replaced.
  bool HandOverOrListen(const QString &AWorkingFolder, const QStringList &AArguments);

  // Called for each later launch, on the window's thread.
  std::function<void(const QString &AWorkingFolder, const QStringList &AArguments)> FOnArrived;

private:
  void Accept();

  QLocalServer *FServer = nullptr;
};
