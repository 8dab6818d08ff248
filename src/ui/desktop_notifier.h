// TDesktopNotifier: tells the desktop about the batch through the session bus: its progress on
// the program's launcher or task-bar entry while it runs, and a notification when it ends.
// Without a session bus it tells nothing.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <QStringList>

class TDesktopNotifier {
public:
  TDesktopNotifier();

  // The bus to tell; the session bus unless set.
  void SetConnection(const QDBusConnection &AConnection);

  // The batch's progress (0-100) on the launcher entry; only a change is sent.
  void ShowProgress(int APercent);
  void HideProgress();
  // A notification: "4 converted, 1 failed" with the failed files' names.
  void BatchEnded(int AConverted, const QStringList &AFailedNames);
  // A notification with ASummary and ABody (plain text); AProblem: something went wrong.
  void Tell(const QString &ASummary, const QString &ABody, bool AProblem);

  // The notification's texts, as sent.
  static QString SummaryOf(int AConverted, const QStringList &AFailedNames);
  static QString BodyOf(int AConverted, const QStringList &AFailedNames);

private:
  void SendLauncherUpdate(double AProgress, bool AVisible);

  QDBusConnection FConnection;
  int FShownPercent = -1; // -1: hidden
};
