#include "app/output_claim.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "app/folders.h"
#include "app/i18n.h"
#include "app/output_options.h"
#include "app/thumbnail.h"
#include "engine/unfinished_outputs.h"

namespace {

// This run's record: one file per run, locked for the run's life, so that a record found
// unlocked belongs to a run that has ended. Entries end with a zero byte (a file name may hold
// a line break): "C <device> <inode> <path>" for a claim, "R <device> <inode>" for its release.
struct TRecord {
  std::mutex Lock;
  int Fd = -1;
  bool Tried = false; // opened once: a failure is not retried for every claim
  pid_t Owner = 0;    // a forked child keeps no claims of its parent's and records its own
  std::string Path;
  std::vector<TClaimedFile> Held;
};

TRecord &Record() {
  static TRecord record;
  return record;
}

bool SameFile(const struct stat &AInfo, uint64_t ADevice, uint64_t AInode) {
  return static_cast<uint64_t>(AInfo.st_dev) == ADevice &&
         static_cast<uint64_t>(AInfo.st_ino) == AInode;
}

// Removes APath only while it is the empty regular file created under it.
bool RemoveIfUnwritten(const std::string &APath, uint64_t ADevice, uint64_t AInode) {
  struct stat st {};
  return ::lstat(APath.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0 &&
         SameFile(st, ADevice, AInode) && ::unlink(APath.c_str()) == 0;
}

// A program that ends without EndOutputClaims (a tool, a test) leaves no empty record behind;
// one that still holds claims leaves them to the next start. Never waits: another thread may
// hold the lock as the program ends.
void DropEmptyRecordAtExit() {
  TRecord &record = Record();
  if (!record.Lock.try_lock())
    return;
  if (record.Fd >= 0 && record.Held.empty() && record.Owner == ::getpid()) {
    ::unlink(record.Path.c_str());
    ::close(record.Fd);
    record.Fd = -1;
  }
  record.Lock.unlock();
}

// Opens this run's record under ARecord.Lock; false when there is no state folder or it fails
// (claims then work as before, only without the clean-up after a crash).
bool OpenRecord(TRecord &ARecord) {
  if (ARecord.Owner != ::getpid()) {
    if (ARecord.Fd >= 0)
      ::close(ARecord.Fd);
    ARecord.Fd = -1;
    ARecord.Tried = false;
    ARecord.Path.clear();
    ARecord.Held.clear();
    ARecord.Owner = ::getpid();
  }
  if (ARecord.Fd >= 0 || ARecord.Tried)
    return ARecord.Fd >= 0;
  ARecord.Tried = true;
  const std::string folder = ClaimRecordFolder();
  std::error_code error;
  if (folder.empty() || (std::filesystem::create_directories(folder, error), error))
    return false;
  for (int n = 0; n < 100 && ARecord.Fd < 0; ++n) {
    const std::string path =
        folder + "/" + std::to_string(::getpid()) + (n > 0 ? "-" + std::to_string(n) : "");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_APPEND, 0600);
    if (fd < 0 && errno != EEXIST)
      return false;
    if (fd < 0)
      continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      ::unlink(path.c_str());
      return false;
    }
    ARecord.Fd = fd;
    ARecord.Path = path;
    static const bool registered = std::atexit(DropEmptyRecordAtExit) == 0;
    (void)registered;
  }
  return ARecord.Fd >= 0;
}

void Append(TRecord &ARecord, const std::string &AEntry) {
  if (!OpenRecord(ARecord))
    return;
  const std::string entry = AEntry + '\0';
  [[maybe_unused]] const ssize_t written = ::write(ARecord.Fd, entry.data(), entry.size());
}

std::string IdsOf(const TClaimedFile &AClaimed) {
  return std::to_string(AClaimed.Device) + " " + std::to_string(AClaimed.Inode);
}

// The claims of a record that were never released.
std::vector<TClaimedFile> UnreleasedClaims(int AFd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::pread(AFd, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  std::vector<TClaimedFile> claims;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\0', at), text.size());
    const std::string entry = text.substr(at, end - at);
    at = end + 1;
    TClaimedFile file;
    unsigned long long device = 0, inode = 0;
    int used = 0;
    if (entry.size() < 2 ||
        std::sscanf(entry.c_str() + 2, "%llu %llu %n", &device, &inode, &used) < 2)
      continue;
    file.Device = device;
    file.Inode = inode;
    if (entry[0] == 'C') {
      file.Path = entry.substr(2 + static_cast<size_t>(used));
      claims.push_back(file);
    } else if (entry[0] == 'R') {
      claims.erase(std::remove_if(claims.begin(), claims.end(),
                                  [&](const TClaimedFile &AOld) {
                                    return AOld.Device == file.Device && AOld.Inode == file.Inode;
                                  }),
                   claims.end());
    }
  }
  return claims;
}

void Forget(TRecord &ARecord, const TClaimedFile &AClaimed) {
  auto &held = ARecord.Held;
  held.erase(std::remove_if(held.begin(), held.end(),
                            [&](const TClaimedFile &AOld) {
                              return AOld.Device == AClaimed.Device && AOld.Inode == AClaimed.Inode;
                            }),
             held.end());
  Append(ARecord, "R " + IdsOf(AClaimed));
  // Nothing held: the record starts again empty, so a long session keeps it small.
  if (held.empty() && ARecord.Fd >= 0) [[maybe_unused]]
    const int truncated = ::ftruncate(ARecord.Fd, 0);
}

std::string NumberedName(const TPSPOutputSettings &ASettings, int AN) {
  return ASettings.NameStem + "(" + std::to_string(AN) + ")" + ASettings.FileExt;
}

} // namespace

bool OutputNameTaken(const std::string &AFileName) {
  struct stat st {};
  return ::lstat(AFileName.c_str(), &st) == 0 ||
         ::lstat(ThumbnailFileName(AFileName).c_str(), &st) == 0;
}

std::string ClaimRecordFolder() {
  const std::string state = StateFolder();
  return state.empty() ? state : state + "/claims";
}

bool ClaimOutputFile(TPSPOutputSettings &ASettings, std::string &AError) {
  TClaimedFile claimed;
  return ClaimOutputFile(ASettings, claimed, AError);
}

bool ClaimOutputFile(TPSPOutputSettings &ASettings, TClaimedFile &AClaimed, std::string &AError) {
  int n = 0;
  for (;;) {
    // The thumbnail's name is checked first: one left without its video is never replaced.
    struct stat st {};
    const bool thumbnailTaken = ::lstat(ThumbnailFileName(ASettings.FileName).c_str(), &st) == 0;
    const int fd = thumbnailTaken ? -1
                                  : ::open(ASettings.FileName.c_str(),
                                           O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      const bool known = ::fstat(fd, &st) == 0;
      ::close(fd);
      AClaimed = {ASettings.FileName, known ? static_cast<uint64_t>(st.st_dev) : 0,
                  known ? static_cast<uint64_t>(st.st_ino) : 0};
      TRecord &record = Record();
      const std::lock_guard<std::mutex> lock(record.Lock);
      Append(record, "C " + IdsOf(AClaimed) + " " + AClaimed.Path);
      record.Held.push_back(AClaimed);
      return true;
    }
    if (!thumbnailTaken && errno != EEXIST) {
      AError = ASettings.FileName + ": " + std::strerror(errno);
      return false;
    }
    if (ASettings.NameStem.empty() || n >= 99999) {
      AError = ASettings.FileName + ": " + std::strerror(EEXIST);
      return false;
    }
    do
      ASettings.FileName = NumberedName(ASettings, ++n);
    while (OutputNameTaken(ASettings.FileName) && n < 99999);
  }
}

bool ClaimStillHeld(const TClaimedFile &AClaimed, std::string &AError) {
  struct stat st {};
  if (::lstat(AClaimed.Path.c_str(), &st) != 0) {
    const std::string why = std::strerror(errno); // before the catalogue is read
    AError =
        FormatText(_("%s: %s (removed since it was chosen)"), AClaimed.Path.c_str(), why.c_str());
    return false;
  }
  if (!S_ISREG(st.st_mode) || st.st_size != 0 || !SameFile(st, AClaimed.Device, AClaimed.Inode)) {
    AError = FormatText(
        _("%s: another file is under this name since it was chosen; it is left as it is"),
        AClaimed.Path.c_str());
    return false;
  }
  return true;
}

void ReleaseClaim(const TClaimedFile &AClaimed) {
  if (AClaimed.Path.empty())
    return;
  RemoveIfUnwritten(AClaimed.Path, AClaimed.Device, AClaimed.Inode);
  TRecord &record = Record();
  const std::lock_guard<std::mutex> lock(record.Lock);
  Forget(record, AClaimed);
}

int RemoveAbandonedClaims() {
  const std::string folder = ClaimRecordFolder();
  DIR *dir = folder.empty() ? nullptr : ::opendir(folder.c_str());
  if (!dir)
    return 0;
  int removed = 0;
  while (const dirent *entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.')
      continue;
    const std::string path = folder + "/" + entry->d_name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
      continue;
    // Locked: its run is still going (another window, a command line).
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      for (const TClaimedFile &claim : UnreleasedClaims(fd))
        removed += RemoveIfUnwritten(claim.Path, claim.Device, claim.Inode) ? 1 : 0;
      ::unlink(path.c_str());
    }
    ::close(fd);
  }
  ::closedir(dir);
  return removed;
}

void EndOutputClaims() {
  TRecord &record = Record();
  const std::lock_guard<std::mutex> lock(record.Lock);
  for (const TClaimedFile &claim : record.Held)
    RemoveIfUnwritten(claim.Path, claim.Device, claim.Inode);
  record.Held.clear();
  if (record.Fd >= 0) {
    ::unlink(record.Path.c_str());
    ::close(record.Fd);
    record.Fd = -1;
  }
}

int RemoveUnfinishedConversions(void (*AOnRemoved)(const char *APath)) {
  return RemoveUnfinishedOutputs(AOnRemoved);
}
