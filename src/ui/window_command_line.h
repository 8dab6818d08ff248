// The window program's command line: file names to add, and the few options a desktop
// program answers on its terminal (help, version) without opening a window.
#pragma once

#include <QString>
#include <QStringList>

enum class TWindowCommand { wcOpen, wcHelp, wcVersion, wcError };

struct TWindowCommandLine {
  TWindowCommand Command = TWindowCommand::wcOpen;
  QStringList Files; // absolute, in the order given
  QString Text;      // what to print for help, version or an error
};

// AArguments: without the program's name and without the options Qt has taken. Names that
// start with "-" are files after "--" or written as "./-name".
TWindowCommandLine ParseWindowCommandLine(const QStringList &AArguments,
                                          const QString &AWorkingFolder);
