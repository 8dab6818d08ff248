#include "app/folders.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "app/i18n.h"
#include "app/profiles.h"

namespace fs = std::filesystem;

const char *const OutputFolderErrorMessage = N_("The selected output folder can not be written!");

namespace {

const char *const SettingsSection = "Folders";

bool MakeWritableFolder(const std::string &AFolder) {
  std::error_code ec;
  fs::create_directories(AFolder, ec);
  // An existing folder counts, but only when files can be written into it.
  return fs::is_directory(AFolder, ec) && ::access(AFolder.c_str(), W_OK | X_OK) == 0;
}

std::string Trim(const std::string &AText) {
  const auto first = AText.find_first_not_of(" \t\r\n");
  if (first == std::string::npos)
    return {};
  return AText.substr(first, AText.find_last_not_of(" \t\r\n") - first + 1);
}

bool SameKey(const std::string &A, const std::string &B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The section name of a "[name]" line, or empty when the line is no section header.
std::string SectionOf(const std::string &ALine) {
  const std::string t = Trim(ALine);
  if (t.size() >= 2 && t.front() == '[' && t.back() == ']')
    return Trim(t.substr(1, t.size() - 2));
  return {};
}

bool SplitKey(const std::string &ALine, std::string &AKey, std::string &AValue) {
  const auto eq = ALine.find('=');
  if (eq == std::string::npos)
    return false;
  AKey = Trim(ALine.substr(0, eq));
  AValue = Trim(ALine.substr(eq + 1));
  return true;
}

const char *const ByteOrderMark = "\xEF\xBB\xBF";

// The settings file as it was found: its lines without line ends, and how to write it back.
struct TIniText {
  std::vector<std::string> Lines;
  bool Bom = false;  // a UTF-8 byte-order mark, as editors on other systems write it, came first
  bool Crlf = false; // its lines end with CR LF, as a file from Windows does
  std::string Error; // it is there but cannot be read: the reason
};

TIniText ReadLines(const std::string &AFile) {
  TIniText ini;
  std::string text;
  const int fd = ::open(AFile.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT)
      ini.Error = AFile + ": " + std::strerror(errno);
    return ini;
  }
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<size_t>(n));
  if (n < 0)
    ini.Error = AFile + ": " + std::strerror(errno);
  ::close(fd);
  if (!ini.Error.empty())
    return ini;
  ini.Bom = text.compare(0, 3, ByteOrderMark) == 0;
  const size_t firstEnd = text.find('\n');
  ini.Crlf = firstEnd != std::string::npos && firstEnd > 0 && text[firstEnd - 1] == '\r';
  for (size_t at = ini.Bom ? 3 : 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    ini.Lines.push_back(line);
    at = end + 1;
  }
  return ini;
}

} // namespace

std::string WithSeparator(const std::string &AFolder) {
  if (AFolder.empty() || AFolder.back() == '/')
    return AFolder;
  return AFolder + "/";
}

bool PrepareOutputFolder(const std::string &AFolder) {
  const std::string f = WithSeparator(AFolder);
  const bool ok = !f.empty() && MakeWritableFolder(f + "AVC/") && MakeWritableFolder(f + "MPEG4/");
  AVCFolder = ok ? f + "AVC/" : std::string();
  MPEG4Folder = ok ? f + "MPEG4/" : std::string();
  return ok;
}

std::string StateFolder() {
  const char *state = std::getenv("XDG_STATE_HOME");
  if (state && *state == '/')
    return std::string(state) + "/korvelo-converter";
  const char *home = std::getenv("HOME");
  if (!home || *home != '/')
    return {};
  return std::string(home) + "/.local/state/korvelo-converter";
}

void SetDeviceFolder(const std::string &AFolder) {
  DeviceFolder = AFolder;
  DeviceDrive = VolumeOf(AFolder);
}

TFolderSettings LoadFolderSettings(const std::string &AIniFile, const std::string &AAppPath,
                                   std::string *AReadError) {
  TFolderSettings settings;
  settings.OutputFolder = AAppPath;
  bool inSection = false, haveOutput = false;
  TIniText ini = ReadLines(AIniFile);
  if (AReadError)
    *AReadError = ini.Error;
  for (const std::string &line : ini.Lines) {
    const std::string section = SectionOf(line);
    if (!section.empty()) {
      inSection = SameKey(section, SettingsSection);
      continue;
    }
    std::string key, value;
    if (!inSection || !SplitKey(line, key, value))
      continue;
    if (SameKey(key, "DeviceFolder"))
      settings.DeviceFolder = value;
    else if (SameKey(key, "OutputFolder") && !haveOutput) {
      settings.OutputFolder = value;
      haveOutput = true;
    }
  }
  return settings;
}

bool SaveFolderSettings(const std::string &AIniFile, const TFolderSettings &ASettings,
                        std::string *AError) {
  auto fail = [&](const std::string &AFile) {
    if (AError)
      *AError = AFile + ": " + std::strerror(errno != 0 ? errno : EIO);
    return false;
  };
  std::error_code ec;
  const fs::path folder = fs::path(AIniFile).parent_path();
  if (!folder.empty())
    fs::create_directories(folder, ec); // the user's configuration folder on a first start
  TIniText ini = ReadLines(AIniFile);
  if (!ini.Error.empty()) {
    // What it holds is unknown: writing three lines over it would lose the rest.
    if (AError)
      *AError = ini.Error + "; it is left as it is";
    return false;
  }
  std::vector<std::string> &lines = ini.Lines;
  const std::pair<const char *, std::string> keys[] = {{"DeviceFolder", ASettings.DeviceFolder},
                                                       {"OutputFolder", ASettings.OutputFolder}};
  // Find the section; replace the keys in it, or add them at its end.
  auto sectionStart = std::find_if(lines.begin(), lines.end(), [](const std::string &l) {
    return SameKey(SectionOf(l), SettingsSection);
  });
  if (sectionStart == lines.end()) {
    if (!lines.empty() && !Trim(lines.back()).empty())
      lines.emplace_back();
    lines.push_back(std::string("[") + SettingsSection + "]");
    sectionStart = lines.end() - 1;
  }
  size_t end = static_cast<size_t>(sectionStart - lines.begin()) + 1;
  while (end < lines.size() && SectionOf(lines[end]).empty())
    ++end;
  for (const auto &[name, value] : keys) {
    bool found = false;
    for (size_t i = static_cast<size_t>(sectionStart - lines.begin()) + 1; i < end; ++i) {
      std::string key, old;
      if (SplitKey(lines[i], key, old) && SameKey(key, name)) {
        lines[i] = std::string(name) + "=" + value;
        found = true;
      }
    }
    if (!found) {
      // Before the blank lines that close the section.
      size_t at = end;
      while (at > static_cast<size_t>(sectionStart - lines.begin()) + 1 &&
             Trim(lines[at - 1]).empty())
        --at;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at),
                   std::string(name) + "=" + value);
      ++end;
    }
  }
  // Written beside and renamed, so a failed write keeps the previous settings.
  const std::string temp = AIniFile + ".tmp";
  {
    errno = 0;
    std::ofstream out(temp, std::ios::trunc);
    if (ini.Bom)
      out << ByteOrderMark;
    for (const std::string &line : lines)
      out << line << (ini.Crlf ? "\r\n" : "\n");
    // What is still buffered is written by the close: a full disk shows there.
    out.close();
    if (!out) {
      const bool failed = fail(temp);
      std::remove(temp.c_str());
      return failed;
    }
  }
  if (std::rename(temp.c_str(), AIniFile.c_str()) != 0) {
    const bool failed = fail(AIniFile);
    std::remove(temp.c_str());
    return failed;
  }
  return true;
}

TFolderPlaces FindFolderPlaces(const std::string &AAppPath, const std::string &AUserConfigFolder,
                               const std::string &AVideosFolder) {
  const std::string app = WithSeparator(AAppPath);
  // A program in a "bin" folder was installed (/usr/bin, ~/.local/bin): that folder is no place
  // for settings or videos even when it can be written, as it can for root.
  const bool installed = fs::path(app).parent_path().filename() == "bin";
  const bool appWritable = !app.empty() && !installed && ::access(app.c_str(), W_OK | X_OK) == 0;
  std::error_code ec;
  TFolderPlaces places;
  places.SettingsFile = appWritable && fs::is_regular_file(app + "Config.ini", ec)
                            ? app + "Config.ini"
                            : WithSeparator(AUserConfigFolder) + "Config.ini";
  places.DefaultOutput =
      appWritable || AVideosFolder.empty() ? app : WithSeparator(AVideosFolder) + "Korvelo/";
  return places;
}

TOutputFolderChoice ChooseOutputFolder(const std::string &AStored, const std::string &AAppPath) {
  TOutputFolderChoice choice;
  std::error_code ec;
  if (!AStored.empty() && fs::is_directory(AStored, ec)) {
    choice.Folder = AStored;
    OutputFolder = AStored;
    choice.OK = PrepareOutputFolder(AStored);
    if (choice.OK)
      return choice;
    ++choice.ErrorCount; // told even when the program's folder works
  }
  choice.Folder = AAppPath;
  OutputFolder = AAppPath;
  choice.OK = PrepareOutputFolder(AAppPath);
  if (!choice.OK)
    ++choice.ErrorCount;
  return choice;
}

bool ChangeOutputFolder(const std::string &AFolder) {
  OutputFolder = AFolder;
  return PrepareOutputFolder(AFolder);
}
