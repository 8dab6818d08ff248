#include "app/psp_volumes.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <sstream>

#include "app/folders.h"

namespace {

// File systems that never hold a memory stick, or that can hang when looked into.
const std::set<std::string> &SkippedTypes() {
  static const std::set<std::string> types = {
      "proc",     "sysfs",       "devtmpfs",        "devpts",     "cgroup",
      "cgroup2",  "securityfs",  "pstore",          "debugfs",    "tracefs",
      "configfs", "fusectl",     "mqueue",          "hugetlbfs",  "bpf",
      "autofs",   "binfmt_misc", "efivarfs",        "rpc_pipefs", "nsfs",
      "ramfs",    "squashfs",    "overlay",         "nfs",        "nfs4",
      "cifs",     "smb3",        "smbfs",           "ncpfs",      "afs",
      "9p",       "fuse.sshfs",  "fuse.gvfsd-fuse", "fuse.portal"};
  return types;
}

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// Mount tables write blanks, tabs, newlines and backslashes as "\ooo".
std::string Unescape(const std::string &AField) {
  std::string out;
  for (size_t i = 0; i < AField.size(); ++i) {
    if (AField[i] == '\\' && i + 3 < AField.size() && IsOctal(AField[i + 1]) &&
        IsOctal(AField[i + 2]) && IsOctal(AField[i + 3])) {
      out += static_cast<char>(std::stoi(AField.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += AField[i];
    }
  }
  return out;
}

bool IsFolder(const std::string &APath) {
  struct stat st {};
  return ::stat(APath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool HoldsPSPFolder(const std::string &ARoot) {
  DIR *dir = ::opendir(ARoot.c_str());
  if (!dir)
    return false;
  bool found = false;
  while (const dirent *entry = ::readdir(dir)) {
    if (::strcasecmp(entry->d_name, "PSP") == 0 && IsFolder(ARoot + entry->d_name)) {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

} // namespace

std::vector<std::string> ParseMountPoints(const std::string &AMountsTable) {
  std::vector<std::string> points;
  std::istringstream lines(AMountsTable);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string device, point, type;
    // The system's own root is no memory stick, whatever it holds.
    if (!(fields >> device >> point >> type) || SkippedTypes().count(type) || point == "/")
      continue;
    points.push_back(Unescape(point));
  }
  return points;
}

std::vector<std::string> MountedVolumes() {
  std::ifstream in("/proc/self/mounts");
  std::stringstream table;
  table << in.rdbuf();
  return ParseMountPoints(table.str());
}

std::string FindPSPVolume(const std::vector<std::string> &AVolumes) {
  for (const std::string &volume : AVolumes) {
    const std::string root = WithSeparator(volume);
    if (!root.empty() && HoldsPSPFolder(root))
      return root;
  }
  return {};
}

std::string StickRootAbove(const std::string &AFolder) {
  std::string path = AFolder;
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  for (size_t cut = path.rfind('/'); cut != std::string::npos && cut > 0;
       cut = path.rfind('/', cut - 1)) {
    const std::string above = path.substr(0, cut + 1);
    const size_t end = path.find('/', cut + 1);
    const std::string part = path.substr(cut + 1, end == std::string::npos ? end : end - cut - 1);
    const bool stickFolder = ::strcasecmp(part.c_str(), "PSP") == 0 ||
                             ::strcasecmp(part.c_str(), "MP_ROOT") == 0 ||
                             ::strcasecmp(part.c_str(), "VIDEO") == 0;
    if (stickFolder && HoldsPSPFolder(above))
      return above;
  }
  return {};
}

std::string SuggestDeviceFolder(const std::string &ADeviceFolder,
                                const std::vector<std::string> &AVolumes) {
  if (!ADeviceFolder.empty() && IsFolder(ADeviceFolder))
    return {};
  return FindPSPVolume(AVolumes);
}
