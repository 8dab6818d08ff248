// The program's application object: its title, the Fusion style with the platform's palette,
// and the handler of errors that nothing else handled (AppException).
#pragma once

#include <QApplication>
#include <exception>

class TKorveloApplication : public QApplication {
  Q_OBJECT

public:
  TKorveloApplication(int &AArgc, char **AArgv);
  // Delivers every event; an exception that escapes a handler is shown, and the program goes on.
  bool notify(QObject *AReceiver, QEvent *AEvent) override;
};

// Shows AError's message with a full stop added where it lacks one: a warning for the
// engine's own errors, an error otherwise.
void AppException(const std::exception &AError);
