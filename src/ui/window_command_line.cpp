#include "ui/window_command_line.h"

#include <QDir>

#include "app/i18n.h"

namespace {

const char *const ProgramName = "korvelo-converter";

// Answered before Qt starts, so through the core's catalogue (InitTranslations) rather than Qt's.
QString UsageText() {
  return QString::fromUtf8(
             _("Usage: %1 [FILE]...\n"
               "Open the Korvelo Converter window and add each FILE (video, audio or picture) to\n"
               "its conversion list.\n"
               "\n"
               "  -h, --help     show this help and exit\n"
               "  -V, --version  show the version and exit\n"
               "  --             the arguments after it are file names, even when they start\n"
               "                 with \"-\"\n"
               "\n"
               "Qt's own options, such as -platform or -style, are also taken.\n"))
      .arg(QString::fromUtf8(ProgramName));
}

} // namespace

TWindowCommandLine ParseWindowCommandLine(const QStringList &AArguments,
                                          const QString &AWorkingFolder) {
  TWindowCommandLine result;
  const QDir folder(AWorkingFolder);
  bool optionsEnded = false;
  for (const QString &arg : AArguments) {
    if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
      // The panel reloads its file at every Start: a name relative to the folder the program
      // was started in must not depend on it.
      result.Files << QDir::cleanPath(folder.absoluteFilePath(arg));
      continue;
    }
    if (arg == QLatin1String("--")) {
      optionsEnded = true;
    } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
      return {TWindowCommand::wcHelp, {}, UsageText()};
    } else if (arg == QLatin1String("--version") || arg == QLatin1String("-V")) {
      return {TWindowCommand::wcVersion,
              {},
              QStringLiteral("%1 %2\n").arg(QString::fromUtf8(ProgramName),
                                            QStringLiteral(KORVELO_VERSION))};
    } else if (result.Command != TWindowCommand::wcError) {
      // Help or version later on the line still win, as they do in other programs.
      result.Command = TWindowCommand::wcError;
      result.Text = QString::fromUtf8(_("%1: unrecognized option '%2'\n"
                                        "Try '%1 --help' for more information.\n"))
                        .arg(QString::fromUtf8(ProgramName), arg);
    }
  }
  if (result.Command == TWindowCommand::wcError)
    result.Files.clear();
  return result;
}
