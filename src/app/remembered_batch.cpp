#include "app/remembered_batch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/folders.h"

namespace {

// One job a line, its fields split by tabs; a line break, tab or backslash in a field is
// written as "\n", "\t" or "\\".
std::string Escaped(const std::string &AField) {
  std::string text;
  for (const char c : AField) {
    if (c == '\\')
      text += "\\\\";
    else if (c == '\n')
      text += "\\n";
    else if (c == '\t')
      text += "\\t";
    else
      text += c;
  }
  return text;
}

// The fields of a line, unescaped.
std::vector<std::string> FieldsOf(const std::string &ALine) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < ALine.size(); ++i) {
    if (ALine[i] == '\t') {
      fields.emplace_back();
    } else if (ALine[i] == '\\' && i + 1 < ALine.size()) {
      const char next = ALine[++i];
      fields.back() += next == 'n' ? '\n' : next == 't' ? '\t' : next;
    } else {
      fields.back() += ALine[i];
    }
  }
  return fields;
}

std::string LineOf(const TRememberedJob &AJob) {
  const TContentChoice &c = AJob.Choice;
  return Escaped(AJob.FileName) + '\t' + std::to_string(AJob.Profile) + '\t' +
         Escaped(c.AudioTrack) + '\t' + Escaped(c.Subtitles) + '\t' + std::to_string(c.StartMs) +
         '\t' + std::to_string(c.EndMs) + '\t' + std::to_string(c.StillSeconds) + '\n';
}

long long NumberOr(const std::vector<std::string> &AFields, size_t AIndex, long long ADefault) {
  if (AIndex >= AFields.size() || AFields[AIndex].empty())
    return ADefault;
  char *end = nullptr;
  const long long value = std::strtoll(AFields[AIndex].c_str(), &end, 10);
  return *end == '\0' ? value : ADefault;
}

TRememberedJob JobOf(const std::vector<std::string> &AFields) {
  TRememberedJob job;
  job.FileName = AFields[0];
  job.Profile = static_cast<int>(NumberOr(AFields, 1, -1));
  job.Choice.AudioTrack = AFields.size() > 2 ? AFields[2] : std::string();
  job.Choice.Subtitles = AFields.size() > 3 ? AFields[3] : std::string();
  job.Choice.StartMs = NumberOr(AFields, 4, -1);
  job.Choice.EndMs = NumberOr(AFields, 5, -1);
  job.Choice.StillSeconds = static_cast<int>(NumberOr(AFields, 6, job.Choice.StillSeconds));
  return job;
}

std::vector<TRememberedJob> WithoutRepeats(const std::vector<TRememberedJob> &AJobs) {
  std::vector<TRememberedJob> once;
  for (const TRememberedJob &job : AJobs)
    if (std::find(once.begin(), once.end(), job) == once.end())
      once.push_back(job);
  return once;
}

bool Fail(std::string &AError, const std::string &AFile) {
  AError = AFile + ": " + std::strerror(errno != 0 ? errno : EIO);
  return false;
}

} // namespace

bool operator==(const TRememberedJob &A, const TRememberedJob &B) {
  return A.FileName == B.FileName && A.Profile == B.Profile &&
         A.Choice.AudioTrack == B.Choice.AudioTrack && A.Choice.Subtitles == B.Choice.Subtitles &&
         A.Choice.StartMs == B.Choice.StartMs && A.Choice.EndMs == B.Choice.EndMs &&
         A.Choice.StillSeconds == B.Choice.StillSeconds;
}

std::string RememberedBatchPath() {
  const std::string folder = StateFolder();
  return folder.empty() ? folder : folder + "/waiting-files";
}

bool WriteRememberedBatch(const std::string &APath, const std::vector<TRememberedJob> &AJobs,
                          std::string &AError) {
  if (APath.empty())
    return true;
  errno = 0;
  if (AJobs.empty())
    return ::unlink(APath.c_str()) == 0 || errno == ENOENT || Fail(AError, APath);
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(APath).parent_path(), ignored);
  std::string text;
  for (const TRememberedJob &job : WithoutRepeats(AJobs))
    text += LineOf(job);
  // A name of its own beside the list: two windows closing at once never mix their lists.
  std::string temporary = APath + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0)
    return Fail(AError, temporary);
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                       ::fsync(fd) == 0;
  const int savedErrno = errno;
  ::close(fd);
  if (!written || ::rename(temporary.c_str(), APath.c_str()) != 0) {
    errno = written ? errno : savedErrno;
    Fail(AError, written ? APath : temporary);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

std::vector<TRememberedJob> ReadRememberedBatch(const std::string &APath) {
  std::vector<TRememberedJob> jobs;
  if (APath.empty())
    return jobs;
  std::ifstream in(APath);
  for (std::string line; std::getline(in, line);) {
    const TRememberedJob job = JobOf(FieldsOf(line));
    struct stat info {};
    if (!job.FileName.empty() && ::stat(job.FileName.c_str(), &info) == 0 && S_ISREG(info.st_mode))
      jobs.push_back(job);
  }
  return WithoutRepeats(jobs);
}
