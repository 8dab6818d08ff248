#include "app/folders.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "app/profiles.h"

namespace fs = std::filesystem;

const char *const OutputFolderErrorMessage = "The selected output folder can not be written!";

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

// The file's lines without line ends. A UTF-8 byte-order mark, as editors on other systems
// write it, is no part of the first line: ABom tells whether there was one.
std::vector<std::string> ReadLines(const std::string &AFile, bool *ABom = nullptr) {
  std::vector<std::string> lines;
  std::ifstream in(AFile);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
  }
  const bool bom = !lines.empty() && lines[0].compare(0, 3, ByteOrderMark) == 0;
  if (bom)
    lines[0].erase(0, 3);
  if (ABom)
    *ABom = bom;
  return lines;
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

void SetDeviceFolder(const std::string &AFolder) {
  DeviceFolder = AFolder;
  DeviceDrive = VolumeOf(AFolder);
}

TFolderSettings LoadFolderSettings(const std::string &AIniFile, const std::string &AAppPath) {
  TFolderSettings settings;
  settings.OutputFolder = AAppPath;
  bool inSection = false, haveOutput = false;
  for (const std::string &line : ReadLines(AIniFile)) {
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
  bool bom = false;
  std::vector<std::string> lines = ReadLines(AIniFile, &bom);
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
    if (bom)
      out << ByteOrderMark;
    for (const std::string &line : lines)
      out << line << "\n";
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
