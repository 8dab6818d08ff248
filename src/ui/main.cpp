// Korvelo Converter's window program. File names on the command line are added to the
// conversion list, as if chosen with Add; --help and --version answer on the terminal.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <csignal>
#include <cstdio>

#include "app/i18n.h"
#include "app/output_claim.h"
#include "ui/application.h"
#include "ui/main_window.h"
#include "ui/single_instance.h"
#include "ui/window_command_line.h"

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

int SignalPipe[2] = {-1, -1};
volatile sig_atomic_t SignalsArrived = 0;

// The signal that closed the window: the program ends with 128 + its number, as a command
// line program ended by it would, so that scripts and session managers tell it from a normal end.
volatile sig_atomic_t ClosingSignal = 0;

void SignalArrived(int ASignal) {
  if (SignalsArrived == 0) {
    SignalsArrived = 1;
    ClosingSignal = ASignal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(SignalPipe[1], &byte, 1);
    return;
  }
  // The second one ends the program as the signal would have, but a file cut off before its
  // index, which would not play, is not left under its name.
  RemoveUnfinishedConversions();
  ::signal(ASignal, SIG_DFL);
  ::raise(ASignal);
}

// Ctrl+C in the terminal, the terminal closing or the session ending close the window as its
// close button does: conversions stop, the settings are saved and no held output name stays
// behind. A second signal ends the program at once, as it would have without this.
void CloseOnSignals(TfrmMain &AWindow) {
  if (::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    return;
  auto *notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, &AWindow);
  QObject::connect(notifier, &QSocketNotifier::activated, &AWindow, [&AWindow] {
    char byte;
    while (::read(SignalPipe[0], &byte, 1) > 0) {
    }
    AWindow.FClosingForSignal = true;
    AWindow.close();
  });
  struct sigaction action {};
  action.sa_handler = SignalArrived;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP})
    ::sigaction(signal, &action, nullptr);
}

// Each panel may hold files open while it converts or shows a picture; a long list must not
// meet the usual soft limit of 1,024 when the system allows more.
void RaiseOpenFileLimit() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

int RunWindow(TSingleInstance &AInstance, const QStringList &AFiles) {
  TfrmMain window;
  AInstance.FOnArrived = [&window](const QString &AFolder, const QStringList &AArguments) {
    window.TakeLaunch(AFolder, AArguments);
  };
  AInstance.FAccepting = [&window] { return !window.Closing(); };
  CloseOnSignals(window);
  window.show();
  if (!AFiles.isEmpty())
    QTimer::singleShot(0, &window, [&window, AFiles] { window.AddFiles(AFiles); });
  const int status = QApplication::exec();
  AInstance.FOnArrived = nullptr;
  AInstance.FAccepting = [] { return false; };
  return status;
}

} // namespace

int main(int argc, char **argv) {
  // Help and version need no display: answered before Qt looks for one, in the desktop's
  // language.
  InitTranslations();
  const TWindowCommandLine early = ParseWindowCommandLine(ArgumentsOf(argc, argv), QString());
  if (early.Command == TWindowCommand::wcHelp || early.Command == TWindowCommand::wcVersion)
    return Print(stdout, early.Text, 0);

  RaiseOpenFileLimit();
  TKorveloApplication app(argc, argv);
  // Qt has taken its own options out of the arguments by now.
  QStringList arguments = QCoreApplication::arguments();
  arguments.removeFirst();
  const TWindowCommandLine command = ParseWindowCommandLine(arguments, QDir::currentPath());
  if (command.Command == TWindowCommand::wcError)
    return Print(stderr, command.Text, 2);

  // A window already open takes the files: the menu entry and the file manager start the
  // program once per choice.
  TSingleInstance instance;
  if (instance.HandOverOrListen(QDir::currentPath(), arguments))
    return 0;

  // Names a run that was killed left claimed, empty, go before this run claims any.
  RemoveAbandonedClaims();
  const int status = RunWindow(instance, command.Files);
  // After the window and its loaders are gone: what they still held was never written.
  EndOutputClaims();
  return ClosingSignal != 0 ? 128 + ClosingSignal : status;
}
