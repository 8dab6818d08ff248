// Frame-hook modules: shared libraries with "Configure", "Process" and "Release" that process
// decoded pictures in place. Each engine keeps its own list; module files are loaded once per
// process and stay loaded.
#pragma once

#include <cstdint>

#include "medialib/frame_hook_module.h"

struct TFrameHookEntry {
  TFrameHookEntry *Next = nullptr;
  FrameHookConfigureFn Configure = nullptr;
  FrameHookProcessFn Process = nullptr;
  FrameHookReleaseFn Release = nullptr;
  void *Context = nullptr;
};

// The most words a module is given, its file name included; argv holds one more, the end mark.
constexpr int FrameHookMaxArgs = 63;

// Loads argv[0] (once per process; names compared without regard to case), configures a new
// entry with the arguments and appends it to AList. Failures are logged through the library log.
// Codes: 0 success, -1 module not loadable, -2 no arguments / entry point missing,
// -12 out of memory, -22 Configure failed.
int FrameHookAdd(TFrameHookEntry *&AList, int AArgc, char *AArgv[]);
// Runs every entry's Process on the picture, in the order the entries were added.
void FrameHookProcess(TFrameHookEntry *AList, KorveloHookPicture *APicture, int APixFmt, int AWidth,
                      int AHeight, int64_t APts);
// Calls each entry's Release and frees the entries; AList is empty afterwards.
void FrameHookRelease(TFrameHookEntry *&AList);

// Number of distinct module files loaded so far in this process.
int FrameHookLoadedModuleCount();
