// korvelo-convert: the command-line front end. Converts files with a PSP profile, lists the
// converted files of an output folder, copies them to the memory stick and ejects it.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/file_reasons.h"
#include "app/folders.h"
#include "app/i18n.h"
#include "app/media_setup.h"
#include "app/output_claim.h"
#include "app/profiles.h"
#include "cli/batch.h"
#include "cli/command_line.h"
#include "cli/device_commands.h"
#include "cli/progress_view.h"
#include "cli/signals.h"

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
// How long a stop request may take before the command ends without waiting for the jobs.
constexpr int StopGraceMs = 3000;

std::string ProgramFolder() {
  std::vector<char> buffer(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0)
    return {};
  const std::string path(buffer.data(), static_cast<size_t>(n));
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void WriteError(const std::string &AText) {
  if (::write(STDERR_FILENO, AText.data(), AText.size()) < 0) {
  }
}

// Ends the program at once, for when a stop takes too long. A file cut off before its index
// does not play: it is removed rather than left under its real name.
[[noreturn]] void ExitNow(int ASignal, const char *AWhy) {
  WriteError("\nkorvelo-convert: " + FormatText(_("%s, exiting without waiting"), AWhy) + "\n");
  RemoveUnfinishedConversions([](const char *APath) {
    WriteError(
        "korvelo-convert: " +
        FormatText(_("%s: removed, it was cut off before its end"), PrintableText(APath).c_str()) +
        "\n");
  });
  ::_exit(128 + ASignal);
}

// A second Ctrl-C ends the program at once.
void ForcedExit(int ASignal) { ExitNow(ASignal, _("second interrupt")); }

// Converts AFiles as ACommand says and prints the summary; AJobs, when given, gets how each
// file ended. Returns the exit status.
int Convert(const TCommandLine &ACommand, const std::vector<std::string> &AFiles,
            std::vector<TJobStatus> *AJobs = nullptr) {
  const std::string outputDir = ACommand.OutputDir.empty() ? "." : ACommand.OutputDir;
  if (!PrepareOutputFolder(outputDir)) {
    // The message, then why: a file in the way, a read-only disk, no permission.
    const std::string why = WhyNotWritableFolder(outputDir);
    std::fprintf(stderr, "korvelo-convert: %s: %s%s%s%s\n", PrintableText(outputDir).c_str(),
                 _(OutputFolderErrorMessage), why.empty() ? "" : " (", PrintableText(why).c_str(),
                 why.empty() ? "" : ")");
    return ExitFailure;
  }
  TBatchSettings settings;
  settings.ProfileIndex = ACommand.ProfileIndex >= 0 ? ACommand.ProfileIndex : DefaultProfileIndex;
  settings.Jobs = ACommand.Jobs > 0
                      ? ACommand.Jobs
                      : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  settings.LibraryPath = ProgramFolder();
  settings.Content = ACommand.Content;

  // Names a run that was killed left claimed, empty, go before this run claims any.
  RemoveAbandonedClaims();
  std::unique_ptr<TProgressView> view = MakeProgressView(stdout, stderr);
  TBatch batch(settings, AFiles, *view);
  int result = 0;
  {
    std::atomic<int> signals{0};
    // A job blocked in the system (a stalled network file, a device) cannot see the stop: the
    // command ends all the same a few seconds after the request.
    TSignalWatcher watcher(
        [&](int ASignal) {
          if (signals.fetch_add(1) > 0)
            ForcedExit(ASignal);
          batch.RequestStop(ASignal);
        },
        StopGraceMs, [](int ASignal) { ExitNow(ASignal, _("a conversion did not stop in time")); });
    batch.Run();
    if (watcher.FirstSignal() != 0)
      result = 128 + watcher.FirstSignal();
  }

  EndOutputClaims();
  const std::vector<TJobStatus> &jobs = batch.Jobs();
  std::fflush(stdout);
  std::printf(TranslatePlural("Converted %zu of %zu file (profile %d: %s).\n",
                              "Converted %zu of %zu files (profile %d: %s).\n", jobs.size()),
              batch.FinishedCount(), jobs.size(), settings.ProfileIndex,
              PSPProfiles[settings.ProfileIndex].Name.c_str());
  std::fflush(stdout);
  bool allConverted = true;
  for (const TJobStatus &job : jobs) {
    const bool finished = job.State == TJobState::jsFinished;
    if (finished && job.Message.empty())
      continue;
    allConverted = allConverted && finished;
    const char *what = finished                           ? _("Warning")
                       : job.State == TJobState::jsFailed ? _("Failed")
                                                          : _("Stopped");
    std::fprintf(stderr, "%s: %s: %s\n", what, PrintableText(job.InputFile).c_str(),
                 PrintableText(job.Message).c_str());
  }
  if (result == 0 && !allConverted)
    result = ExitFailure;
  if (AJobs)
    *AJobs = jobs;
  return result;
}

// Converts what is waiting, then sends every finished video to the stick; Ctrl-C during the
// copy cancels it as it does for --copy-to.
int ToStick(const TCommandLine &ACommand) {
  auto convert = [&](const std::vector<std::string> &AFiles, const TContentChoice &AContent,
                     std::vector<TJobStatus> &AJobs) {
    TCommandLine command = ACommand;
    command.Content = AContent;
    return Convert(command, AFiles, &AJobs);
  };
  auto guarded = [](const std::function<int(const std::atomic<int> &)> &ACopy) {
    std::atomic<int> cancel{0};
    TSignalWatcher watcher([&](int ASignal) {
      if (cancel.exchange(ASignal) != 0)
        ForcedExit(ASignal);
    });
    const int status = ACopy(cancel);
    return watcher.FirstSignal() != 0 ? 128 + watcher.FirstSignal() : status;
  };
  return ToStickCommand(ACommand, convert, guarded, stdout, stderr);
}

int Copy(const TCommandLine &ACommand) {
  std::atomic<int> cancel{0};
  TSignalWatcher watcher([&](int ASignal) {
    if (cancel.exchange(ASignal) != 0)
      ForcedExit(ASignal);
  });
  const int status =
      CopyCommand(ACommand.DeviceDir, ACommand.Files, cancel, stdout, stderr, ACommand.TakePartial);
  return watcher.FirstSignal() != 0 ? 128 + watcher.FirstSignal() : status;
}

} // namespace

int main(int argc, char **argv) {
  // Before any thread exists, so that every thread inherits the blocked signals.
  TSignalWatcher::BlockSignals();
  // The messages in the desktop's language; also before any thread, as it may set LANGUAGE.
  InitTranslations();
  // A closed pipe on the output must not kill a conversion half-way through its file.
  ::signal(SIGPIPE, SIG_IGN);

  TCommandLine command;
  std::string error;
  if (!ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), command, error)) {
    std::fprintf(stderr,
                 _("korvelo-convert: %s\nTry 'korvelo-convert --help' for more information.\n"),
                 PrintableText(error).c_str());
    return ExitUsage;
  }
  switch (command.Mode) {
  case TCommandMode::cmHelp:
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  case TCommandMode::cmVersion:
    std::printf("korvelo-convert %s\n", KORVELO_VERSION);
    return 0;
  case TCommandMode::cmEject:
    // No media library is needed; udisks2 finishes an unmount once asked, so Ctrl-C may end
    // the wait.
    TSignalWatcher::UnblockSignals();
    return EjectCommand(command.DeviceDir, stdout, stderr);
  default:
    break;
  }

  std::string libraryError;
  if (!LoadMediaLibraries(ProgramFolder(), libraryError)) {
    std::fprintf(stderr, "korvelo-convert: %s\n", libraryError.c_str());
    return ExitFailure;
  }
  // The libraries' own messages would interleave with ours; a conversion's converter installs
  // its log bridge instead and the failures reach the summary.
  SilenceMediaLibraries();
  switch (command.Mode) {
  case TCommandMode::cmList:
    // Listing writes nothing: Ctrl-C may end it at once.
    TSignalWatcher::UnblockSignals();
    return ListCommand(command.ListDir, stdout, stderr);
  case TCommandMode::cmStickList:
    TSignalWatcher::UnblockSignals();
    return StickListCommand(command.DeviceDir, stdout, stderr);
  case TCommandMode::cmCopy:
    return Copy(command);
  case TCommandMode::cmToStick:
    return ToStick(command);
  default:
    return Convert(command, command.Files);
  }
}
