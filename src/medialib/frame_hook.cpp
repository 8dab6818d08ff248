#include "medialib/frame_hook.h"

#include <dlfcn.h>
#include <strings.h>

#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "medialib/media_functions.h"
#include "medialib/words.h"

namespace {

struct TLoadedModule {
  std::string FileName;
  void *Handle;
};

// Module files loaded by any engine of the process. Modules are never unloaded: entries of
// other engines may still point into them. Engines configure on several threads, hence the lock.
std::mutex moduleCacheLock;
std::vector<TLoadedModule> &moduleCache() {
  static auto *cache = new std::vector<TLoadedModule>(); // outlives every static destructor
  return *cache;
}

// The library log at error level, when the libraries are there to carry it.
template <typename... TArgs> void logError(const char *AFormat, TArgs... AArgs) {
  if (avlib.av_log)
    avlib.av_log(nullptr, AV_LOG_ERROR, AFormat, AArgs...);
}

// The loaded module of AFileName, loading it on first use; nullptr when it cannot be loaded.
void *moduleHandle(const char *AFileName) {
  std::lock_guard<std::mutex> guard(moduleCacheLock);
  for (const TLoadedModule &module : moduleCache())
    if (strcasecmp(module.FileName.c_str(), AFileName) == 0)
      return module.Handle;
  void *handle = dlopen(AFileName, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char *why = dlerror();
    logError("%s\n", why ? why : AFileName);
    return nullptr;
  }
  moduleCache().push_back({AFileName, handle});
  return handle;
}

} // namespace

int FrameHookAdd(TFrameHookEntry *&AList, int AArgc, char *AArgv[]) {
  if (AArgc < 1 || AArgc > FrameHookMaxArgs || !AArgv || !AArgv[0])
    return -2;
  // The module is promised argv[argc] == NULL whatever the caller passed.
  char *args[FrameHookMaxArgs + 1];
  for (int i = 0; i < AArgc; ++i)
    args[i] = AArgv[i];
  args[AArgc] = nullptr;

  void *handle = moduleHandle(args[0]);
  if (!handle)
    return -1;

  auto *entry = new (std::nothrow) TFrameHookEntry();
  if (!entry)
    return -12;
  entry->Configure = reinterpret_cast<FrameHookConfigureFn>(dlsym(handle, "Configure"));
  entry->Process = reinterpret_cast<FrameHookProcessFn>(dlsym(handle, "Process"));
  entry->Release = reinterpret_cast<FrameHookReleaseFn>(dlsym(handle, "Release"));

  int result = 0;
  if (!entry->Process) {
    logError(M_("Failed to find Process entrypoint in %s\n"), args[0]);
    result = -2;
  } else if (!entry->Configure && AArgc > 1) {
    logError(M_("Failed to find Configure entrypoint in %s\n"), args[0]);
    result = -2;
  } else if (entry->Configure && entry->Configure(&entry->Context, AArgc, args) != 0) {
    logError(M_("Failed to Configure %s\n"), args[0]);
    result = -22;
  }
  if (result != 0) {
    delete entry;
    return result;
  }

  TFrameHookEntry **tail = &AList;
  while (*tail)
    tail = &(*tail)->Next;
  *tail = entry;
  return 0;
}

void FrameHookProcess(TFrameHookEntry *AList, KorveloHookPicture *APicture, int APixFmt, int AWidth,
                      int AHeight, int64_t APts) {
  for (TFrameHookEntry *entry = AList; entry; entry = entry->Next)
    entry->Process(entry->Context, APicture, APixFmt, AWidth, AHeight, APts);
}

void FrameHookRelease(TFrameHookEntry *&AList) {
  TFrameHookEntry *entry = AList;
  while (entry) {
    TFrameHookEntry *next = entry->Next;
    if (entry->Release)
      entry->Release(entry->Context);
    delete entry;
    entry = next;
  }
  AList = nullptr;
}

int FrameHookLoadedModuleCount() {
  std::lock_guard<std::mutex> guard(moduleCacheLock);
  return static_cast<int>(moduleCache().size());
}
