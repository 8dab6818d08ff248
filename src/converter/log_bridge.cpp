#include "converter/log_bridge.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <utility>
#include <vector>

#include "medialib/medialib.h"

namespace {

// The inbox list and the pending text per thread share one lock.
std::mutex &ListLock() {
  static std::mutex lock;
  return lock;
}
std::vector<TLogInbox *> &Inboxes() {
  static std::vector<TLogInbox *> inboxes;
  return inboxes;
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

bool TLogInbox::Empty() {
  std::lock_guard<std::mutex> lock(FMutex);
  return FLines.empty();
}

bool TLogInbox::Take(Line &ALine) {
  std::lock_guard<std::mutex> lock(FMutex);
  if (FLines.empty())
    return false;
  ALine = std::move(FLines.front());
  FLines.pop_front();
  return true;
}

void TLogInbox::Push(int AThreadID, int ALevel, const std::string &AText) {
  std::lock_guard<std::mutex> lock(FMutex);
  FLines.push_back(Line{AThreadID, ALevel, AText});
}

void TLogInbox::AddUser() {
  std::lock_guard<std::mutex> lock(FUsersMutex);
  ++FUsers;
}

void TLogInbox::ReleaseUser() {
  std::lock_guard<std::mutex> lock(FUsersMutex);
  --FUsers;
  FUsersChanged.notify_all();
}

void TLogInbox::WaitUnused() {
  std::unique_lock<std::mutex> lock(FUsersMutex);
  FUsersChanged.wait(lock, [this] { return FUsers == 0; });
}

void RegisterLogInbox(TLogInbox *AInbox) {
  PendingText(); // made before the task reaper, so it outlives the workers the reaper waits for
  std::lock_guard<std::mutex> lock(ListLock());
  Inboxes().push_back(AInbox);
}

void UnregisterLogInbox(TLogInbox *AInbox) {
  std::lock_guard<std::mutex> lock(ListLock());
  auto &list = Inboxes();
  list.erase(std::remove(list.begin(), list.end(), AInbox), list.end());
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
  const int written =
      std::vsnprintf(ABuffer + APrefixLength, ASize - APrefixLength, AFormat, AArgs);
  if (written < 0) {
    ABuffer[APrefixLength] = 0;
    return APrefixLength;
  }
  return std::min(ASize - 1, APrefixLength + static_cast<size_t>(written));
}

void LogBridge(void *ASource, int ALevel, const char *AFormat, va_list AArgs) {
  const int level = LoggedLevel(ALevel);
  if (CurrentLogLevel < level)
    return;
  const int threadId = static_cast<int>(syscall(SYS_gettid));
  std::vector<std::string> lines;
  std::vector<TLogInbox *> receivers;
  {
    std::lock_guard<std::mutex> lock(ListLock());
    TLogList::Entry &entry = PendingText().FindOrAdd(threadId);
    char buffer[kLogBufferSize] = {};
    size_t length = 0;
    if (ASource && entry.Text.empty()) {
      const AVClass *avClass = *static_cast<const AVClass *const *>(ASource);
      if (avClass) {
        const char *name = avClass->item_name ? avClass->item_name(ASource) : avClass->class_name;
        const int n = std::snprintf(buffer, sizeof buffer, "[%s @ %08" PRIXPTR "]",
                                    name ? name : "", reinterpret_cast<uintptr_t>(avClass));
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
      // Only converters that listen get the lines (a waiting panel's does not).
      for (TLogInbox *inbox : Inboxes())
        if (!inbox->Quiet()) {
          receivers.push_back(inbox);
          inbox->AddUser();
        }
    }
  }
  // Queued outside the list lock; each inbox's owner drains it when told.
  for (TLogInbox *inbox : receivers) {
    for (const std::string &line : lines)
      inbox->Push(threadId, level, line);
    inbox->Arrived();
    inbox->ReleaseUser();
  }
}
