// Watching the mount table for memory sticks that come and go. The kernel marks the
// per-process mount table readable with an exception (POLLPRI/POLLERR) whenever a file
// system is mounted or unmounted, so the watch costs nothing while nothing changes and never
// touches a disk.
#pragma once

#include <functional>
#include <thread>

class TMountWatcher {
public:
  // AOnChange runs on the watcher's own thread: once at start, after every change of the mount
  // table, and after each Rescan. It must not touch a window; a window posts to itself.
  explicit TMountWatcher(std::function<void()> AOnChange);
  // Stops the thread and waits for it (a running AOnChange is finished first).
  ~TMountWatcher();
  TMountWatcher(const TMountWatcher &) = delete;
  TMountWatcher &operator=(const TMountWatcher &) = delete;

  // Asks for one more AOnChange soon, as if the table had changed. Safe from any thread.
  void Rescan();
  // False when the mount table cannot be watched (then only Rescan brings AOnChange).
  bool Watching() const { return FMountsFd >= 0; }

private:
  void Run();

  std::function<void()> FOnChange;
  int FMountsFd = -1;
  int FWake[2] = {-1, -1}; // a pipe: a byte wakes the thread, closing the writer stops it
  std::thread FThread;
};
