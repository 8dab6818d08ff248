#include "app/file_reasons.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/i18n.h"

namespace {

std::string ReasonOf(int AError) {
  switch (AError) {
  case ELOOP:
    return _("a symbolic link that leads back to itself (a link loop)");
  case EACCES:
  case EPERM:
    return _("permission denied");
  case ENOENT:
    return _("no such file or folder");
  case EROFS:
    return _("on a read-only disk");
  case ENOTDIR:
    return _("a part of its path is a file, not a folder");
  case ENOSPC:
    return _("no space left on the disk");
  default:
    return std::strerror(AError);
  }
}

// The reason one folder (existing or to be created) cannot take files.
std::string FolderReason(const std::string &AFolder) {
  struct stat st {};
  if (::stat(AFolder.c_str(), &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR)
      return AFolder + ": " + ReasonOf(errno);
    // Missing, or under a file: what stops it being created is in the folder above.
    const auto slash = AFolder.find_last_of('/', AFolder.size() > 1 ? AFolder.size() - 2 : 0);
    if (slash == std::string::npos || slash == 0)
      return AFolder + ": " + ReasonOf(ENOENT);
    return FolderReason(AFolder.substr(0, slash));
  }
  if (!S_ISDIR(st.st_mode))
    return FormatText(_("%s is a file, not a folder"), AFolder.c_str());
  if (::access(AFolder.c_str(), W_OK | X_OK) != 0)
    return AFolder + ": " + ReasonOf(errno);
  return {};
}

} // namespace

std::string WhyNotReadable(const std::string &AFile, bool AMissingIsFine) {
  const int fd = ::open(AFile.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return AMissingIsFine && errno == ENOENT ? std::string() : ReasonOf(errno);
  struct stat st {};
  const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
  ::close(fd);
  return folder ? _("a folder, not a file") : std::string();
}

std::string WhyNotWritableFolder(const std::string &AFolder) {
  if (AFolder.empty())
    return _("no folder chosen");
  std::string folder = AFolder;
  while (folder.size() > 1 && folder.back() == '/')
    folder.pop_back();
  std::string reason = FolderReason(folder);
  for (const char *sub : {"/AVC", "/MPEG4"})
    if (reason.empty())
      reason = FolderReason(folder + sub);
  return reason;
}
