#include "app/duration_cache.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

// The first line names the file's kind and layout: anything else is not ours to read.
const char *const Header = "korvelo-converter durations 1";

// One entry a line, "<size> <mtime ns> <duration us> <path>"; a line break or backslash in a
// path is written as "\n" or "\\".
std::string Escaped(const std::string &APath) {
  std::string text;
  for (const char c : APath) {
    if (c == '\\')
      text += "\\\\";
    else if (c == '\n')
      text += "\\n";
    else
      text += c;
  }
  return text;
}

bool Unescape(const std::string &AText, std::string &APath) {
  APath.clear();
  for (size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] != '\\') {
      APath += AText[i];
      continue;
    }
    if (++i == AText.size() || (AText[i] != 'n' && AText[i] != '\\'))
      return false;
    APath += AText[i] == 'n' ? '\n' : '\\';
  }
  return !APath.empty();
}

// Reads one number and the space after it from AText at APos.
bool ReadNumber(const std::string &AText, size_t &APos, int64_t &AValue) {
  const char *begin = AText.data() + APos, *end = AText.data() + AText.size();
  const auto [next, error] = std::from_chars(begin, end, AValue);
  if (error != std::errc() || next == end || *next != ' ')
    return false;
  APos += static_cast<size_t>(next - begin) + 1;
  return true;
}

// A damaged file is told by the sum of its entries in its last line, not taken for a short one.
uint64_t Checksum(uint64_t ASum, const std::string &ALine) {
  for (const unsigned char c : ALine)
    ASum = (ASum ^ c) * 1099511628211u; // FNV-1a
  return (ASum ^ '\n') * 1099511628211u;
}
constexpr uint64_t ChecksumStart = 14695981039346656037u;

std::string EndLine(size_t ACount, uint64_t ASum) {
  char text[64];
  std::snprintf(text, sizeof text, "end %zu %016llx", ACount,
                static_cast<unsigned long long>(ASum));
  return text;
}

} // namespace

bool ReadFileStamp(const std::string &APath, TFileStamp &AStamp) {
  struct stat st {};
  if (::stat(APath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  AStamp.Size = static_cast<int64_t>(st.st_size);
  AStamp.MTimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

std::string DurationCachePath() {
  const char *cache = std::getenv("XDG_CACHE_HOME");
  std::string folder;
  if (cache && *cache == '/') {
    folder = cache;
  } else {
    const char *home = std::getenv("HOME");
    if (!home || !*home)
      return {};
    folder = std::string(home) + "/.cache";
  }
  return folder + "/korvelo-converter/durations";
}

TDurationCache::TDurationCache(std::string AFileName) : FFileName(std::move(AFileName)) {}

bool TDurationCache::Load() {
  FEntries.clear();
  FChanged = false;
  std::ifstream in(FFileName, std::ios::binary);
  std::string line;
  if (FFileName.empty() || !std::getline(in, line) || line != Header)
    return false;
  std::unordered_map<std::string, TEntry> entries;
  uint64_t sum = ChecksumStart;
  while (std::getline(in, line)) {
    if (line.rfind("end ", 0) == 0) {
      // The last line, and nothing after it.
      if (line != EndLine(entries.size(), sum) || in.peek() != std::char_traits<char>::eof())
        return false;
      FEntries = std::move(entries);
      return true;
    }
    size_t pos = 0;
    TEntry entry;
    std::string path;
    if (!ReadNumber(line, pos, entry.Stamp.Size) || !ReadNumber(line, pos, entry.Stamp.MTimeNs) ||
        !ReadNumber(line, pos, entry.DurationUs) || !Unescape(line.substr(pos), path) ||
        entry.Stamp.Size < 0)
      return false;
    sum = Checksum(sum, line);
    entries[path] = entry;
  }
  return false; // cut short: no last line
}

bool TDurationCache::Find(const std::string &APath, const TFileStamp &AStamp,
                          int64_t &ADurationUs) const {
  const auto found = FEntries.find(APath);
  if (found == FEntries.end() || !(found->second.Stamp == AStamp))
    return false;
  ADurationUs = found->second.DurationUs;
  return true;
}

void TDurationCache::Store(const std::string &APath, const TFileStamp &AStamp,
                           int64_t ADurationUs) {
  TEntry &entry = FEntries[APath];
  if (entry.Stamp == AStamp && entry.DurationUs == ADurationUs)
    return;
  entry = {AStamp, ADurationUs};
  FChanged = true;
}

bool TDurationCache::Save() {
  if (FFileName.empty())
    return false;
  std::ostringstream text;
  text << Header << '\n';
  uint64_t sum = ChecksumStart;
  size_t count = 0;
  for (auto entry = FEntries.begin(); entry != FEntries.end();) {
    TFileStamp now;
    if (!ReadFileStamp(entry->first, now) || !(now == entry->second.Stamp)) {
      entry = FEntries.erase(entry);
      continue;
    }
    const std::string line = std::to_string(entry->second.Stamp.Size) + ' ' +
                             std::to_string(entry->second.Stamp.MTimeNs) + ' ' +
                             std::to_string(entry->second.DurationUs) + ' ' + Escaped(entry->first);
    text << line << '\n';
    sum = Checksum(sum, line);
    ++count;
    ++entry;
  }
  text << EndLine(count, sum) << '\n';

  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(fs::path(FFileName).parent_path(), error);
  // Written beside and renamed, so that a reader never sees half a file.
  const std::string temporary = FFileName + ".new-" + std::to_string(::getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text.str();
    if (!out.flush()) {
      out.close();
      fs::remove(temporary, error);
      return false;
    }
  }
  fs::rename(temporary, FFileName, error);
  if (error) {
    fs::remove(temporary, error);
    return false;
  }
  FChanged = false;
  return true;
}
