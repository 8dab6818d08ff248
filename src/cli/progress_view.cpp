#include "cli/progress_view.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/i18n.h"
#include "app/profiles.h"
#include "app/window_rules.h"

namespace {

using Clock = std::chrono::steady_clock;

// The name part of APath, printable.
std::string FileNameOf(const std::string &APath) {
  const size_t slash = APath.find_last_of('/');
  return PrintableText(slash == std::string::npos ? APath : APath.substr(slash + 1));
}

double JobFraction(const TJobStatus &AJob) {
  switch (AJob.State) {
  case TJobState::jsWaiting:
    return 0;
  case TJobState::jsFinished:
    return 1;
  default:
    // Converting, and also failed or stopped: what was converted counts, no more.
    if (AJob.DurationMs <= 0)
      return 0;
    return std::clamp(static_cast<double>(AJob.CurrentMs) / AJob.DurationMs, 0.0, 1.0);
  }
}

int Percent(double AFraction) { return static_cast<int>(std::floor(AFraction * 100.0)); }

std::string Bar(double AFraction, int AWidth) {
  const int filled = std::clamp(static_cast<int>(AFraction * AWidth), 0, AWidth);
  return "[" + std::string(filled, '#') + std::string(AWidth - filled, '-') + "]";
}

std::string PadLeft(const std::string &AText, size_t AWidth) {
  return AText.size() >= AWidth ? AText : std::string(AWidth - AText.size(), ' ') + AText;
}

// The time left at the speed measured so far, by the window's rule; unknown (-1) at first.
double Remaining(double AFraction, double AElapsed) {
  if (AFraction >= 1)
    return 0;
  constexpr double Scale = 1e6; // the fraction as parts of a million "milliseconds"
  const int64_t left =
      EstimateTimeLeftMs(static_cast<int64_t>(AFraction * Scale), static_cast<int64_t>(Scale),
                         static_cast<int64_t>(AElapsed * 1000));
  return left < 0 ? -1 : left / 1000.0;
}

std::string Counter(size_t AIndex, size_t ACount) {
  return "[" + std::to_string(AIndex + 1) + "/" + std::to_string(ACount) + "]";
}

size_t CountDone(const std::vector<TJobStatus> &AJobs) {
  return static_cast<size_t>(std::count_if(AJobs.begin(), AJobs.end(), [](const TJobStatus &j) {
    return j.State != TJobState::jsWaiting && j.State != TJobState::jsConverting;
  }));
}

// ---- terminal: live lines redrawn in place ----

class TTerminalView : public TProgressView {
public:
  TTerminalView(FILE *AOut, FILE *AErr) : FOut(AOut), FErr(AErr) {}

  void JobChanged(const std::vector<TJobStatus> &AJobs, size_t AIndex) override {
    const TJobStatus &job = AJobs[AIndex];
    std::string line;
    const std::string prefix = Counter(AIndex, AJobs.size()) + " " + FileNameOf(job.InputFile);
    switch (job.State) {
    case TJobState::jsFinished:
      line = prefix + ": " +
             FormatText(_("done, %s -> %s"), FormatSizeKB(job.Size).c_str(),
                        PrintableText(job.OutputFile).c_str());
      if (!job.Message.empty())
        line += " (" + FormatText(_("warning: %s"), PrintableText(job.Message).c_str()) + ")";
      break;
    case TJobState::jsFailed:
      line = prefix + ": " + FormatText(_("FAILED: %s"), PrintableText(job.Message).c_str());
      break;
    case TJobState::jsStopped:
      line = prefix + ": " + _("stopped") +
             (job.Message.empty() ? "" : ": " + PrintableText(job.Message));
      break;
    default:
      break;
    }
    Redraw(AJobs, line);
  }

  void JobProgress(const std::vector<TJobStatus> &AJobs, size_t) override {
    if (Clock::now() - FLastDraw > std::chrono::milliseconds(100))
      Redraw(AJobs, {});
  }

  void Tick(const std::vector<TJobStatus> &AJobs) override {
    if (Clock::now() - FLastDraw > std::chrono::milliseconds(200))
      Redraw(AJobs, {});
  }

  void Message(const std::vector<TJobStatus> &AJobs, const std::string &AText,
               bool AError) override {
    if (!AError) {
      Redraw(AJobs, PrintableText(AText));
      return;
    }
    Clear();
    std::fputs((PrintableText(AText) + "\n").c_str(), FErr);
    std::fflush(FErr);
    Redraw(AJobs, {});
  }

  void Finish(const std::vector<TJobStatus> &AJobs) override {
    FFinished = true;
    Redraw(AJobs, {});
  }

private:
  size_t Columns() const {
    struct winsize size {};
    if (::ioctl(::fileno(FOut), TIOCGWINSZ, &size) == 0 && size.ws_col > 10)
      return size.ws_col;
    return 80;
  }

  std::string UpSequence() const {
    return FLiveLines ? "\r\033[" + std::to_string(FLiveLines) + "A\033[J" : std::string();
  }

  void Clear() {
    std::fputs(UpSequence().c_str(), FOut);
    std::fflush(FOut);
    FLiveLines = 0;
  }

  // Prints APermanent (if any) above the live lines, which are drawn anew.
  void Redraw(const std::vector<TJobStatus> &AJobs, const std::string &APermanent) {
    const size_t columns = Columns() - 1; // never the last column: no automatic wrap
    std::string frame = UpSequence();
    if (!APermanent.empty())
      frame += APermanent + "\n";
    size_t lines = 0;
    if (!FFinished) {
      for (const TJobStatus &job : AJobs) {
        if (job.State != TJobState::jsConverting)
          continue;
        const double fraction = JobFraction(job);
        std::string numbers = PadLeft(std::to_string(Percent(fraction)), 4) + "% " +
                              Bar(fraction, 20) + " " + FormatDuration(job.CurrentMs);
        if (job.DurationMs >= 0)
          numbers += "/" + FormatDuration(job.DurationMs);
        numbers += "  " + std::to_string(job.Fps) + " fps  " + FormatSizeKB(job.Size);
        // The name first, shortened when the numbers would not fit beside it.
        const size_t room = columns > numbers.size() + 12 ? columns - numbers.size() - 2 : 10;
        const std::string line = FitToColumns(FileNameOf(job.InputFile), room) + "  " + numbers;
        frame += FitToColumns(line, columns) + "\n";
        ++lines;
      }
    }
    const double fraction = BatchFraction(AJobs);
    const double elapsed = std::chrono::duration<double>(Clock::now() - FStart).count();
    std::string bar = Bar(fraction, columns >= 100 ? 30 : 20) +
                      PadLeft(std::to_string(Percent(fraction)), 4) + "%  " +
                      FormatText(_("%zu/%zu files  elapsed %s"), CountDone(AJobs), AJobs.size(),
                                 FormatClock(elapsed).c_str());
    if (!FFinished)
      bar +=
          "  " + FormatText(_("remaining %s"), FormatClock(Remaining(fraction, elapsed)).c_str());
    frame += FitToColumns(bar, columns) + "\n";
    ++lines;
    std::fputs(frame.c_str(), FOut);
    std::fflush(FOut);
    FLiveLines = lines;
    FLastDraw = Clock::now();
  }

  FILE *FOut;
  FILE *FErr;
  size_t FLiveLines = 0;
  bool FFinished = false;
  Clock::time_point FStart = Clock::now();
  Clock::time_point FLastDraw{};
};

// ---- plain: appended lines only ----

class TPlainView : public TProgressView {
public:
  TPlainView(FILE *AOut, FILE *AErr) : FOut(AOut), FErr(AErr) {}

  void JobChanged(const std::vector<TJobStatus> &AJobs, size_t AIndex) override {
    FLastStep.resize(AJobs.size(), -1);
    const TJobStatus &job = AJobs[AIndex];
    const std::string prefix = Counter(AIndex, AJobs.size()) + " " + job.InputFile + ": ";
    switch (job.State) {
    case TJobState::jsConverting:
      Out(prefix + FormatText(_("converting to %s"), job.OutputFile.c_str()));
      break;
    case TJobState::jsFinished:
      Out(prefix + FormatText(_("done, %s (overall %d%%)"), FormatSizeKB(job.Size).c_str(),
                              Percent(BatchFraction(AJobs))));
      if (!job.Message.empty())
        Err(prefix + FormatText(_("warning: %s"), job.Message.c_str()));
      break;
    case TJobState::jsFailed:
      Err(prefix + FormatText(_("failed: %s"), job.Message.c_str()));
      break;
    case TJobState::jsStopped:
      Out(prefix + _("stopped") + (job.Message.empty() ? "" : ": " + job.Message));
      break;
    default:
      break;
    }
  }

  // One line each time a file passes a tenth of its length, with its share done.
  void JobProgress(const std::vector<TJobStatus> &AJobs, size_t AIndex) override {
    FLastStep.resize(AJobs.size(), -1);
    const TJobStatus &job = AJobs[AIndex];
    const int step = Percent(JobFraction(job)) / 10;
    if (job.DurationMs <= 0 || step <= FLastStep[AIndex] || step >= 10)
      return;
    FLastStep[AIndex] = step;
    if (step == 0)
      return;
    const double fraction = BatchFraction(AJobs);
    const double elapsed = std::chrono::duration<double>(Clock::now() - FStart).count();
    Out(Counter(AIndex, AJobs.size()) + " " + job.InputFile + ": " +
        FormatText(_("%d%% (overall %d%%, remaining %s)"), Percent(JobFraction(job)),
                   Percent(fraction), FormatClock(Remaining(fraction, elapsed)).c_str()));
  }

  void Tick(const std::vector<TJobStatus> &) override {}

  void Message(const std::vector<TJobStatus> &, const std::string &AText, bool AError) override {
    if (AError)
      Err(AText);
    else
      Out(AText);
  }

  void Finish(const std::vector<TJobStatus> &) override {}

private:
  // Every line printable: a name or message never splits it.
  void Out(const std::string &ALine) {
    std::fputs((PrintableText(ALine) + "\n").c_str(), FOut);
    std::fflush(FOut);
  }
  void Err(const std::string &ALine) {
    std::fflush(FOut);
    std::fputs((PrintableText(ALine) + "\n").c_str(), FErr);
    std::fflush(FErr);
  }

  FILE *FOut;
  FILE *FErr;
  std::vector<int> FLastStep;
  Clock::time_point FStart = Clock::now();
};

} // namespace

double BatchFraction(const std::vector<TJobStatus> &AJobs) {
  double total = 0, done = 0;
  for (const TJobStatus &job : AJobs) {
    const double weight = job.DurationMs > 0 ? static_cast<double>(job.DurationMs) : 1000.0;
    total += weight;
    done += weight * JobFraction(job);
  }
  return total > 0 ? done / total : 1.0;
}

std::string FormatClock(double ASeconds) {
  if (ASeconds < 0 || !std::isfinite(ASeconds))
    return "--:--:--";
  const int64_t s = static_cast<int64_t>(std::llround(ASeconds));
  return TwoDigits(s / 3600) + ":" + TwoDigits(s % 3600 / 60) + ":" + TwoDigits(s % 60);
}

namespace {

// The length of the valid UTF-8 character at AText[AAt], or 0 when the bytes there are not one
// (a stray continuation byte, a cut or overlong sequence, a surrogate, past U+10FFFF).
size_t Utf8Length(const std::string &AText, size_t AAt) {
  const auto lead = static_cast<unsigned char>(AText[AAt]);
  const size_t length = lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
  if (length == 0 || AAt + length > AText.size())
    return 0;
  uint32_t code = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(AText[AAt + i]);
    if ((next & 0xC0) != 0x80)
      return 0;
    code = code << 6 | (next & 0x3F);
  }
  const uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
    return 0;
  return length;
}

} // namespace

std::string PrintableText(const std::string &AText) {
  static const char *const hex = "0123456789abcdef";
  std::string text;
  text.reserve(AText.size());
  for (size_t at = 0; at < AText.size();) {
    const auto u = static_cast<unsigned char>(AText[at]);
    if (u >= 0x20 && u < 0x7F) {
      text += AText[at++];
      continue;
    }
    // A whole character, unless it is a C1 control (U+0080..U+009F), which terminals obey.
    const size_t length = u >= 0x80 ? Utf8Length(AText, at) : 0;
    if (length > 0 && !(u == 0xC2 && static_cast<unsigned char>(AText[at + 1]) < 0xA0)) {
      text.append(AText, at, length);
      at += length;
      continue;
    }
    switch (AText[at]) {
    case '\n':
      text += "\\n";
      break;
    case '\r':
      text += "\\r";
      break;
    case '\t':
      text += "\\t";
      break;
    default:
      text += std::string("\\x") + hex[u >> 4] + hex[u & 15];
    }
    ++at;
  }
  return text;
}

std::string FitToColumns(const std::string &AText, size_t AColumns) {
  size_t characters = 0;
  for (size_t i = 0; i < AText.size(); ++i) {
    if ((static_cast<unsigned char>(AText[i]) & 0xC0) == 0x80)
      continue; // a continuation byte belongs to the character before
    if (characters == AColumns)
      return AText.substr(0, i);
    ++characters;
  }
  return AText;
}

std::unique_ptr<TProgressView> MakeProgressView(FILE *AOut, FILE *AErr) {
  const char *term = std::getenv("TERM");
  if (::isatty(::fileno(AOut)) && !(term && std::strcmp(term, "dumb") == 0))
    return std::make_unique<TTerminalView>(AOut, AErr);
  return std::make_unique<TPlainView>(AOut, AErr);
}
