// Korvelo Converter's window program. File names on the command line are added to the
// conversion list, as if chosen with Add; --help and --version answer on the terminal.
#include <QDir>
#include <QStringList>
#include <QTimer>
#include <cstdio>

#include "app/ui/application.h"
#include "app/ui/main_window.h"
#include "app/ui/window_command_line.h"

namespace {

QStringList ArgumentsOf(int argc, char **argv) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i)
    arguments << QString::fromLocal8Bit(argv[i]);
  return arguments;
}

int Print(std::FILE *AStream, const QString &AText, int AExitCode) {
  std::fputs(AText.toLocal8Bit().constData(), AStream);
  return AExitCode;
}

} // namespace

int main(int argc, char **argv) {
  // Help and version need no display: answered before Qt looks for one.
  const TWindowCommandLine early = ParseWindowCommandLine(ArgumentsOf(argc, argv), QString());
  if (early.Command == TWindowCommand::wcHelp || early.Command == TWindowCommand::wcVersion)
    return Print(stdout, early.Text, 0);

  TKorveloApplication app(argc, argv);
  // Qt has taken its own options out of the arguments by now.
  QStringList arguments = QCoreApplication::arguments();
  arguments.removeFirst();
  const TWindowCommandLine command = ParseWindowCommandLine(arguments, QDir::currentPath());
  if (command.Command == TWindowCommand::wcError)
    return Print(stderr, command.Text, 2);

  TfrmMain window;
  window.show();
  if (!command.Files.isEmpty())
    QTimer::singleShot(0, &window, [&window, files = command.Files] { window.AddFiles(files); });
  return app.exec();
}
