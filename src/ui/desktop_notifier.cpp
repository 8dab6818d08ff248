#include "ui/desktop_notifier.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QVariantMap>
#include <algorithm>

namespace {

// Docks and Plasma's task manager find the entry by the menu entry's file name.
const char *const LauncherUri = "application://korvelo-converter.desktop";
const char *const LauncherPath = "/org/korvelo/converter/LauncherEntry";

QString Tr(const char *AText) { return QCoreApplication::translate("TDesktopNotifier", AText); }

} // namespace

TDesktopNotifier::TDesktopNotifier() : FConnection(QDBusConnection::sessionBus()) {}

void TDesktopNotifier::SetConnection(const QDBusConnection &AConnection) {
  FConnection = AConnection;
  FShownPercent = -1;
}

void TDesktopNotifier::ShowProgress(int APercent) {
  APercent = std::clamp(APercent, 0, 100);
  if (APercent == FShownPercent)
    return;
  FShownPercent = APercent;
  SendLauncherUpdate(APercent / 100.0, true);
}

void TDesktopNotifier::HideProgress() {
  if (FShownPercent == -1)
    return;
  FShownPercent = -1;
  SendLauncherUpdate(0, false);
}

void TDesktopNotifier::SendLauncherUpdate(double AProgress, bool AVisible) {
  if (!FConnection.isConnected())
    return;
  QDBusMessage signal = QDBusMessage::createSignal(
      QString::fromUtf8(LauncherPath), QStringLiteral("com.canonical.Unity.LauncherEntry"),
      QStringLiteral("Update"));
  QVariantMap properties;
  properties.insert(QStringLiteral("progress"), AProgress);
  properties.insert(QStringLiteral("progress-visible"), AVisible);
  signal << QString::fromUtf8(LauncherUri) << properties;
  FConnection.send(signal);
}

QString TDesktopNotifier::SummaryOf(int, const QStringList &AFailedNames) {
  return AFailedNames.isEmpty() ? Tr("All conversions finished") : Tr("A conversion failed");
}

QString TDesktopNotifier::BodyOf(int AConverted, const QStringList &AFailedNames) {
  QString body = Tr("%1 converted").arg(AConverted);
  if (!AFailedNames.isEmpty())
    body +=
        Tr(", %1 failed: %2").arg(AFailedNames.size()).arg(AFailedNames.join(QStringLiteral(", ")));
  return body;
}

void TDesktopNotifier::BatchEnded(int AConverted, const QStringList &AFailedNames) {
  Tell(SummaryOf(AConverted, AFailedNames), BodyOf(AConverted, AFailedNames),
       !AFailedNames.isEmpty());
}

void TDesktopNotifier::Tell(const QString &ASummary, const QString &ABody, bool AProblem) {
  if (!FConnection.isConnected())
    return;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"),
      QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("korvelo-converter"));
  hints.insert(QStringLiteral("category"),
               AProblem ? QStringLiteral("transfer.error") : QStringLiteral("transfer.complete"));
  // Servers may read the body as markup: a file name is text.
  call << QStringLiteral("Korvelo Converter") << uint(0) << QStringLiteral("korvelo-converter")
       << ASummary << ABody.toHtmlEscaped() << QStringList() << hints << int(-1);
  // Not waited for: the window never hangs on a notification service.
  FConnection.send(call);
}
