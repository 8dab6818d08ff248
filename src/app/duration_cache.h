// The durations of the converted files, kept between starts in the user's cache folder, so that
// listing the output folder needs no probe for a file that has not changed since it was read.
// A file is known by its path, its size and its modification time to the nanosecond.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

// What tells one version of a file from another.
struct TFileStamp {
  int64_t Size = -1;
  int64_t MTimeNs = 0;
  bool operator==(const TFileStamp &AOther) const {
    return Size == AOther.Size && MTimeNs == AOther.MTimeNs;
  }
};

// False when APath is not a regular file (or a link to one).
bool ReadFileStamp(const std::string &APath, TFileStamp &AStamp);

// $XDG_CACHE_HOME/korvelo-converter/durations, by default under ~/.cache; empty when neither
// is set.
std::string DurationCachePath();

// Not thread-safe: its user holds a lock around it.
class TDurationCache {
public:
  explicit TDurationCache(std::string AFileName = DurationCachePath());

  // Reads the cache file. A missing, damaged or foreign one leaves the cache empty, and the next
  // Save writes it anew.
  bool Load();
  // The duration stored for APath when its stamp is still AStamp.
  bool Find(const std::string &APath, const TFileStamp &AStamp, int64_t &ADurationUs) const;
  void Store(const std::string &APath, const TFileStamp &AStamp, int64_t ADurationUs);
  // Something stored since the last Load or Save.
  bool Changed() const { return FChanged; }
  // Writes the cache file beside and renames it over the old one, without the entries of files
  // that have gone or changed since: it never grows beyond the files there are. False when it
  // could not be written.
  bool Save();
  size_t Count() const { return FEntries.size(); }

private:
  struct TEntry {
    TFileStamp Stamp;
    int64_t DurationUs = 0;
  };
  std::string FFileName;
  std::unordered_map<std::string, TEntry> FEntries;
  bool FChanged = false;
};
