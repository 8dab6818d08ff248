#include "ui/application.h"

#include <QIcon>
#include <QStyleFactory>

#include "ui/messages.h"
#include "app/window_rules.h"
#include "app/media_setup.h"

TKorveloApplication::TKorveloApplication(int &AArgc, char **AArgv) : QApplication(AArgc, AArgv) {
  setApplicationName(QStringLiteral("korvelo-converter"));
  setApplicationVersion(QStringLiteral(KORVELO_VERSION));
  // The installed menu entry and icon carry the program's name.
  setDesktopFileName(QStringLiteral("korvelo-converter"));
  setWindowIcon(QIcon::fromTheme(QStringLiteral("korvelo-converter")));
  // Fusion draws the same on every desktop; the palette stays the platform's.
  setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  InstallTranslations();
}

bool TKorveloApplication::notify(QObject *AReceiver, QEvent *AEvent) {
  try {
    return QApplication::notify(AReceiver, AEvent);
  } catch (const std::exception &e) {
    AppException(e);
  }
  return false;
}

void AppException(const std::exception &AError) {
  const bool engine = IsEngineError(AError);
  ShowMessage(QApplication::activeWindow(), QString::fromStdString(WithFullStop(AError.what())),
              engine ? QMessageBox::Warning : QMessageBox::Critical);
}
