// The bridge that turns the media libraries' log messages into lines for every converter.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

// The library log lines for one owner (a converter): the bridge only queues them here and tells
// the owner through AOnArrival (called outside the bridge's lock); the owner drains them. The
// bridge never reaches the owner itself.
class TLogInbox {
public:
  struct Line {
    int ThreadID = 0;
    int Level = 0;
    std::string Text;
  };
  explicit TLogInbox(std::function<void()> AOnArrival) : FOnArrival(std::move(AOnArrival)) {}
  TLogInbox(const TLogInbox &) = delete;
  TLogInbox &operator=(const TLogInbox &) = delete;

  bool Empty();
  // Takes the oldest line; false when there is none.
  bool Take(Line &ALine);
  // After UnregisterLogInbox: returns once the bridge no longer touches the inbox.
  void WaitUnused();

  // The bridge's side: it marks the inbox in use while it may touch it, queues, then tells.
  void AddUser();
  void Push(int AThreadID, int ALevel, const std::string &AText);
  void Arrived() { FOnArrival(); }
  void ReleaseUser();
  // A quiet inbox (its owner has no log handler) is passed over.
  void SetQuiet(bool AQuiet) { FQuiet = AQuiet; }
  bool Quiet() const { return FQuiet.load(); }

private:
  std::atomic<bool> FQuiet{false};
  std::function<void()> FOnArrival;
  std::mutex FMutex;
  std::deque<Line> FLines;
  std::mutex FUsersMutex;
  std::condition_variable FUsersChanged;
  int FUsers = 0;
};

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

// Registers / unregisters an inbox with the bridge: every registered inbox gets every line.
void RegisterLogInbox(TLogInbox *AInbox);
void UnregisterLogInbox(TLogInbox *AInbox);
void ClearLogList();

// The library log callback (installed with av_log_set_callback).
void LogBridge(void *ASource, int ALevel, const char *AFormat, va_list AArgs);

// Formats the library message into ABuffer behind the APrefixLength bytes already there, never
// past ASize; returns the new length. Exposed for its tests.
size_t FormatLogMessage(char *ABuffer, size_t ASize, size_t APrefixLength, const char *AFormat,
                        va_list AArgs);
