// The bridge that turns the media libraries' log messages into lines for every converter.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <mutex>
#include <string>

class TCustomAVConverter;

// Pending (not yet line-feed-ended) log text per thread. Process-wide, guarded by the
// converter list's lock.
class TLogList {
public:
  struct Entry {
    int ThreadID = 0; // 0 = free
    std::string Text;
    Entry *Next = nullptr;
  };
  TLogList() = default;
  ~TLogList() { Clear(); }
  TLogList(const TLogList &) = delete;
  TLogList &operator=(const TLogList &) = delete;

  Entry &FindOrAdd(int AThreadID);
  void Clear();

private:
  Entry FFirst;
};

// Registers / unregisters a converter with the bridge. Unregister returns only when no log line
// is being delivered to the converter any more.
void RegisterConverter(TCustomAVConverter *AConverter);
void UnregisterConverter(TCustomAVConverter *AConverter);
void ClearLogList();

// The library log callback (installed with av_log_set_callback).
void LogBridge(void *ASource, int ALevel, const char *AFormat, va_list AArgs);

// Formats the library message into ABuffer behind the APrefixLength bytes already there, never
// past ASize; returns the new length. Exposed for its tests.
size_t FormatLogMessage(char *ABuffer, size_t ASize, size_t APrefixLength, const char *AFormat,
                        va_list AArgs);
