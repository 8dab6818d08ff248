#include "app/mount_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

TMountWatcher::TMountWatcher(std::function<void()> AOnChange) : FOnChange(std::move(AOnChange)) {
  FMountsFd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  if (::pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0)
    FWake[0] = FWake[1] = -1;
  FThread = std::thread([this] { Run(); });
}

TMountWatcher::~TMountWatcher() {
  if (FWake[1] >= 0)
    ::close(FWake[1]); // the reader sees the end and stops
  FWake[1] = -1;
  if (FThread.joinable())
    FThread.join();
  if (FWake[0] >= 0)
    ::close(FWake[0]);
  if (FMountsFd >= 0)
    ::close(FMountsFd);
}

void TMountWatcher::Rescan() {
  const char byte = 1;
  if (FWake[1] >= 0 && ::write(FWake[1], &byte, 1) < 0) {
    // A full pipe already holds a wake-up: nothing is lost.
  }
}

void TMountWatcher::Run() {
  FOnChange();
  char buffer[4096];
  for (;;) {
    pollfd fds[2] = {{FWake[0], POLLIN, 0}, {FMountsFd, POLLPRI | POLLERR, 0}};
    const int n = ::poll(fds, FMountsFd >= 0 ? 2 : 1, -1);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 || FWake[0] < 0)
      return;
    bool changed = false;
    if (fds[0].revents & (POLLIN | POLLHUP)) {
      const ssize_t got = ::read(FWake[0], buffer, sizeof buffer);
      if (got == 0)
        return; // the writer was closed: stop
      changed = got > 0;
    }
    if (FMountsFd >= 0 && (fds[1].revents & (POLLPRI | POLLERR))) {
      // Reading the table to its end marks this change as seen.
      ::lseek(FMountsFd, 0, SEEK_SET);
      while (::read(FMountsFd, buffer, sizeof buffer) > 0) {
      }
      changed = true;
    }
    if (changed)
      FOnChange();
  }
}
