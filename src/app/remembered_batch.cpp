#include "app/remembered_batch.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// One name a line: a line break or backslash in a name is written as "\n" or "\\".
std::string Escaped(const std::string &AName) {
  std::string line;
  for (const char c : AName) {
    if (c == '\\')
      line += "\\\\";
    else if (c == '\n')
      line += "\\n";
    else
      line += c;
  }
  return line;
}

std::string Unescaped(const std::string &ALine) {
  std::string name;
  for (size_t i = 0; i < ALine.size(); ++i) {
    if (ALine[i] == '\\' && i + 1 < ALine.size()) {
      name += ALine[i + 1] == 'n' ? '\n' : ALine[i + 1];
      ++i;
    } else {
      name += ALine[i];
    }
  }
  return name;
}

} // namespace

std::string RememberedBatchPath() {
  const char *state = std::getenv("XDG_STATE_HOME");
  std::string folder;
  if (state && *state == '/') {
    folder = state;
  } else {
    const char *home = std::getenv("HOME");
    if (!home || !*home)
      return {};
    folder = std::string(home) + "/.local/state";
  }
  return folder + "/korvelo-converter/waiting-files";
}

bool WriteRememberedBatch(const std::string &APath, const std::vector<std::string> &AFiles) {
  std::error_code error;
  if (AFiles.empty()) {
    std::filesystem::remove(APath, error);
    return !error;
  }
  std::filesystem::create_directories(std::filesystem::path(APath).parent_path(), error);
  // Written beside and renamed, so that a crash never leaves half a list.
  const std::string temporary = APath + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    for (const std::string &file : AFiles)
      out << Escaped(file) << '\n';
    if (!out.flush())
      return false;
  }
  std::filesystem::rename(temporary, APath, error);
  return !error;
}

std::vector<std::string> ReadRememberedBatch(const std::string &APath) {
  std::vector<std::string> files;
  std::ifstream in(APath);
  std::string line;
  while (std::getline(in, line)) {
    const std::string name = Unescaped(line);
    struct stat info {};
    if (!name.empty() && ::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode))
      files.push_back(name);
  }
  return files;
}
