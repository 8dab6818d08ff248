#include "app/output_verdict.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/conversion_outcome.h"
#include "app/thumbnail.h"

namespace {

constexpr const char *RecordHeader = "korvelo-outcome 1";

struct TFileStamp {
  long long Size = -1, Seconds = 0, Nanoseconds = 0;
  bool operator==(const TFileStamp &AOther) const {
    return Size == AOther.Size && Seconds == AOther.Seconds && Nanoseconds == AOther.Nanoseconds;
  }
};

bool StampOf(const std::string &APath, TFileStamp &AStamp) {
  struct stat st {};
  if (::stat(APath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  AStamp.Size = static_cast<long long>(st.st_size);
  AStamp.Seconds = static_cast<long long>(st.st_mtim.tv_sec);
  AStamp.Nanoseconds = static_cast<long long>(st.st_mtim.tv_nsec);
  return true;
}

const char *VerdictWord(TOutputVerdict AVerdict) {
  switch (AVerdict) {
  case TOutputVerdict::ovFinished:
    return "finished";
  case TOutputVerdict::ovFinishedNoThumbnail:
    return "finished-no-thumbnail";
  case TOutputVerdict::ovStopped:
    return "stopped";
  default:
    return "unknown";
  }
}

TOutputVerdict VerdictFromWord(const std::string &AWord) {
  for (TOutputVerdict verdict : {TOutputVerdict::ovFinished, TOutputVerdict::ovFinishedNoThumbnail,
                                 TOutputVerdict::ovStopped})
    if (AWord == VerdictWord(verdict))
      return verdict;
  return TOutputVerdict::ovUnknown;
}

// Files converted before records were kept: the thumbnail is written once the video is whole.
TOutputVerdict VerdictWithoutRecord(const std::string &APath) {
  struct stat video {
  }, thumbnail{};
  if (::stat(APath.c_str(), &video) != 0 ||
      ::stat(ThumbnailFileName(APath).c_str(), &thumbnail) != 0)
    return TOutputVerdict::ovUnknown;
  const bool newer = thumbnail.st_mtim.tv_sec > video.st_mtim.tv_sec ||
                     (thumbnail.st_mtim.tv_sec == video.st_mtim.tv_sec &&
                      thumbnail.st_mtim.tv_nsec >= video.st_mtim.tv_nsec);
  return newer ? TOutputVerdict::ovFinished : TOutputVerdict::ovUnknown;
}

} // namespace

TOutputVerdict VerdictOf(const TConversionOutcome &AOutcome) {
  if (AOutcome.Kind == TOutcomeKind::okStopped)
    return TOutputVerdict::ovStopped;
  if (!AOutcome.Finished())
    return TOutputVerdict::ovUnknown;
  return AOutcome.ThumbnailWritten ? TOutputVerdict::ovFinished
                                   : TOutputVerdict::ovFinishedNoThumbnail;
}

std::string VerdictRecordName(const std::string &APath) {
  const size_t slash = APath.find_last_of('/');
  const size_t name = slash == std::string::npos ? 0 : slash + 1;
  return APath.substr(0, name) + "." + APath.substr(name) + ".outcome";
}

bool RecordOutputVerdict(const std::string &APath, TOutputVerdict AVerdict) {
  const std::string record = VerdictRecordName(APath);
  TFileStamp stamp;
  if (AVerdict == TOutputVerdict::ovUnknown || !StampOf(APath, stamp)) {
    ::unlink(record.c_str());
    return AVerdict == TOutputVerdict::ovUnknown;
  }
  // Written whole under another name first: a record is either the old one or the new one.
  const std::string temp = record + ".new";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << RecordHeader << "\n"
        << VerdictWord(AVerdict) << " " << stamp.Size << " " << stamp.Seconds << " "
        << stamp.Nanoseconds << "\n";
    out.close();
    if (!out) {
      ::unlink(temp.c_str());
      ::unlink(record.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), record.c_str()) != 0) {
    ::unlink(temp.c_str());
    ::unlink(record.c_str());
    return false;
  }
  return true;
}

TOutputVerdict ReadOutputVerdict(const std::string &APath) {
  std::ifstream in(VerdictRecordName(APath));
  if (!in)
    return VerdictWithoutRecord(APath);
  std::string header, word;
  TFileStamp recorded, now;
  std::getline(in, header);
  in >> word >> recorded.Size >> recorded.Seconds >> recorded.Nanoseconds;
  // A record that does not describe the file as it is now belongs to an earlier file of that
  // name, or the file was written again since: nothing is known of it.
  if (!in || header != RecordHeader || !StampOf(APath, now) || !(now == recorded))
    return TOutputVerdict::ovUnknown;
  return VerdictFromWord(word);
}

bool IsPartialConversion(const std::string &APath) {
  const TOutputVerdict verdict = ReadOutputVerdict(APath);
  if (verdict == TOutputVerdict::ovStopped)
    return true;
  struct stat record {};
  return verdict == TOutputVerdict::ovUnknown &&
         ::stat(VerdictRecordName(APath).c_str(), &record) == 0;
}
