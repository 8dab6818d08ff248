#include "app/output_verdict.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/conversion_outcome.h"
#include "app/remembered_batch.h"
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

std::string AbsolutePath(const std::string &APath) {
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::absolute(APath, ec);
  return ec ? APath : path.lexically_normal().string();
}

// How the record under a file's identity relates to it.
enum class TRecordMatch {
  rmNone,      // no record
  rmForeign,   // a record of another file that had its inode before
  rmRewritten, // this file's record, but the file was written again since
  rmMatch,     // this file's record, and AVerdict is its verdict
};

TRecordMatch ReadRecord(const std::string &APath, TOutputVerdict &AVerdict) {
  const std::string record = VerdictRecordName(APath);
  std::ifstream in;
  if (!record.empty())
    in.open(record);
  if (!in.is_open())
    return TRecordMatch::rmNone;
  std::string header, word, path;
  TFileStamp recorded, now;
  std::getline(in, header);
  in >> word >> recorded.Size >> recorded.Seconds >> recorded.Nanoseconds;
  in.ignore(1);
  std::getline(in, path);
  if (!in || header != RecordHeader || !StampOf(APath, now))
    return TRecordMatch::rmForeign;
  if (now == recorded) {
    AVerdict = VerdictFromWord(word);
    return TRecordMatch::rmMatch;
  }
  return path == AbsolutePath(APath) ? TRecordMatch::rmRewritten : TRecordMatch::rmForeign;
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
  struct stat st {};
  if (::stat(APath.c_str(), &st) != 0)
    return {};
  // The program's state folder, where the waiting batch is kept too.
  const std::string batch = RememberedBatchPath();
  if (batch.empty())
    return {};
  const std::string folder = std::filesystem::path(batch).parent_path().string();
  return folder + "/outcomes/" + std::to_string(static_cast<unsigned long long>(st.st_dev)) + "-" +
         std::to_string(static_cast<unsigned long long>(st.st_ino));
}

bool RecordOutputVerdict(const std::string &APath, TOutputVerdict AVerdict) {
  const std::string record = VerdictRecordName(APath);
  TFileStamp stamp;
  if (record.empty() || AVerdict == TOutputVerdict::ovUnknown || !StampOf(APath, stamp)) {
    if (!record.empty())
      ::unlink(record.c_str());
    return AVerdict == TOutputVerdict::ovUnknown;
  }
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(record).parent_path(), ec);
  // Written whole under another name first: a record is either the old one or the new one.
  const std::string temp = record + ".new";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << RecordHeader << "\n"
        << VerdictWord(AVerdict) << " " << stamp.Size << " " << stamp.Seconds << " "
        << stamp.Nanoseconds << "\n"
        << AbsolutePath(APath) << "\n";
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
  TOutputVerdict verdict = TOutputVerdict::ovUnknown;
  switch (ReadRecord(APath, verdict)) {
  case TRecordMatch::rmMatch:
    return verdict;
  case TRecordMatch::rmRewritten:
    return TOutputVerdict::ovUnknown;
  default: // no record of this file (another file had its inode before)
    return VerdictWithoutRecord(APath);
  }
}

bool IsPartialConversion(const std::string &APath) {
  TOutputVerdict verdict = TOutputVerdict::ovUnknown;
  const TRecordMatch match = ReadRecord(APath, verdict);
  return match == TRecordMatch::rmRewritten ||
         (match == TRecordMatch::rmMatch && verdict == TOutputVerdict::ovStopped);
}
