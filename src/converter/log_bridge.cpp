#include "converter/log_bridge.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <utility>
#include <vector>

#include "converter/av_converter.h"
#include "medialib/medialib.h"

namespace {

// The converter list and the pending text per thread share one lock.
std::mutex &ListLock() {
  static std::mutex lock;
  return lock;
}
std::vector<TCustomAVConverter *> &Converters() {
  static std::vector<TCustomAVConverter *> converters;
  return converters;
}
TLogList &PendingText() {
  static TLogList list;
  return list;
}

constexpr size_t kLogBufferSize = 2048;

} // namespace

TLogList::Entry &TLogList::FindOrAdd(int AThreadID) {
  if (FFirst.ThreadID == 0 || FFirst.ThreadID == AThreadID) {
    FFirst.ThreadID = AThreadID;
    return FFirst;
  }
  for (Entry *e = FFirst.Next; e; e = e->Next)
    if (e->ThreadID == AThreadID)
      return *e;
  Entry *added = new Entry;
  added->ThreadID = AThreadID;
  added->Next = FFirst.Next;
  FFirst.Next = added;
  return *added;
}

void TLogList::Clear() {
  FFirst.ThreadID = 0;
  FFirst.Text.clear();
  for (Entry *e = FFirst.Next; e;) {
    Entry *next = e->Next;
    delete e;
    e = next;
  }
  FFirst.Next = nullptr;
}

void RegisterConverter(TCustomAVConverter *AConverter) {
  PendingText(); // made before the task reaper, so it outlives the workers the reaper waits for
  std::lock_guard<std::mutex> lock(ListLock());
  Converters().push_back(AConverter);
}

void UnregisterConverter(TCustomAVConverter *AConverter) {
  std::lock_guard<std::mutex> lock(ListLock());
  auto &list = Converters();
  list.erase(std::remove(list.begin(), list.end(), AConverter), list.end());
}

void ClearLogList() {
  std::lock_guard<std::mutex> lock(ListLock());
  PendingText().Clear();
}

size_t FormatLogMessage(char *ABuffer, size_t ASize, size_t APrefixLength, const char *AFormat,
                        va_list AArgs) {
  if (ASize == 0)
    return 0;
  if (APrefixLength >= ASize - 1) {
    ABuffer[ASize - 1] = 0;
    return ASize - 1;
  }
  const int written = std::vsnprintf(ABuffer + APrefixLength, ASize - APrefixLength, AFormat, AArgs);
  if (written < 0) {
    ABuffer[APrefixLength] = 0;
    return APrefixLength;
  }
  return std::min(ASize - 1, APrefixLength + static_cast<size_t>(written));
}

void LogBridge(void *ASource, int ALevel, const char *AFormat, va_list AArgs) {
  const int level = FromLibraryLogLevel(ALevel);
  if (CurrentLogLevel < level)
    return;
  const int threadId = static_cast<int>(syscall(SYS_gettid));
  std::vector<std::string> lines;
  std::vector<TCustomAVConverter *> receivers;
  {
    std::lock_guard<std::mutex> lock(ListLock());
    TLogList::Entry &entry = PendingText().FindOrAdd(threadId);
    char buffer[kLogBufferSize] = {};
    size_t length = 0;
    if (ASource && entry.Text.empty()) {
      const AVClass *avClass = *static_cast<const AVClass *const *>(ASource);
      if (avClass) {
        const char *name = avClass->item_name ? avClass->item_name(ASource) : avClass->class_name;
        const int n = std::snprintf(buffer, sizeof buffer, "[%s @ %08" PRIXPTR "]", name ? name : "",
                                    reinterpret_cast<uintptr_t>(avClass));
        length = n > 0 ? std::min(sizeof buffer - 1, static_cast<size_t>(n)) : 0;
      }
    } else if (!entry.Text.empty()) {
      length = std::min(sizeof buffer - 1, entry.Text.size());
      std::copy_n(entry.Text.data(), length, buffer);
    }
    length = FormatLogMessage(buffer, sizeof buffer, length, AFormat, AArgs);
    std::string text(buffer, length);
    size_t start = 0;
    for (size_t lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1)
      lines.push_back(text.substr(start, lf - start));
    entry.Text = text.substr(start);
    // A text that fills the buffer goes out as it is, cut there: held back, it would leave no
    // room for the line feed that ends it, and the thread would never be heard again.
    if (length >= sizeof buffer - 1 && !entry.Text.empty()) {
      lines.push_back(std::move(entry.Text));
      entry.Text.clear();
    }
    if (!lines.empty()) {
      for (TCustomAVConverter *c : Converters())
        if (!c->FLogQuiet.load()) {
          receivers.push_back(c);
          c->AddUser();
        }
    }
  }
  // Delivered outside the list lock: each converter takes the lines under its own lock when it
  // can, or its current lock holder delivers them on leaving.
  for (TCustomAVConverter *c : receivers) {
    for (const std::string &line : lines)
      c->QueueLibraryLine(threadId, level, line);
    c->DeliverQueuedLines();
    c->ReleaseUser();
  }
}
