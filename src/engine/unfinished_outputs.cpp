#include "engine/unfinished_outputs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

namespace {

enum TNoteState : int { nsFree, nsWriting, nsNoted, nsRemoving };

struct TNote {
  std::atomic<int> State{nsFree};
  uint64_t Device = 0, Inode = 0;
  char Path[PATH_MAX] = {};
};

// Conversions at the same time, each with its output: far fewer than this.
constexpr int NoteCount = 64;
TNote Notes[NoteCount];

static_assert(std::atomic<int>::is_always_lock_free, "used from a signal handler");

} // namespace

int NoteUnfinishedOutput(const char *APath, uint64_t ADevice, uint64_t AInode) {
  if (!APath || std::strlen(APath) >= PATH_MAX)
    return -1;
  for (int i = 0; i < NoteCount; ++i) {
    int expected = nsFree;
    if (!Notes[i].State.compare_exchange_strong(expected, nsWriting))
      continue;
    std::strcpy(Notes[i].Path, APath);
    Notes[i].Device = ADevice;
    Notes[i].Inode = AInode;
    Notes[i].State.store(nsNoted);
    return i;
  }
  return -1;
}

void ForgetUnfinishedOutput(int ANote) {
  if (ANote < 0 || ANote >= NoteCount)
    return;
  // A note being removed right now stays as it is: the program is ending.
  int expected = nsNoted;
  Notes[ANote].State.compare_exchange_strong(expected, nsFree);
}

int RemoveUnfinishedOutputs(void (*AOnRemoved)(const char *APath)) {
  int removed = 0;
  for (TNote &note : Notes) {
    int expected = nsNoted;
    if (!note.State.compare_exchange_strong(expected, nsRemoving))
      continue;
    // Only the file that was opened: not one another program has put under that name since.
    struct stat st;
    if (::stat(note.Path, &st) == 0 && static_cast<uint64_t>(st.st_dev) == note.Device &&
        static_cast<uint64_t>(st.st_ino) == note.Inode && ::unlink(note.Path) == 0) {
      ++removed;
      if (AOnRemoved)
        AOnRemoved(note.Path);
    }
  }
  return removed;
}
