// Frame-hook modules: shared libraries with "Configure", "Process" and "Release" that process
// decoded pictures in place. Each engine keeps its own list; module files are loaded once per
// process and stay loaded.
#pragma once

#include <cstdint>

extern "C" {
// The picture handed to a module: four plane pointers and four line sizes.
struct KorveloHookPicture {
  uint8_t *data[4];
  int linesize[4];
};
typedef int (*FrameHookConfigureFn)(void **ctxp, int argc, char *argv[]);
typedef void (*FrameHookProcessFn)(void *ctx, KorveloHookPicture *pict, int pix_fmt, int width,
                                   int height, int64_t pts);
typedef void (*FrameHookReleaseFn)(void *ctx);
}

struct TFrameHookEntry {
  TFrameHookEntry *Next = nullptr;
  FrameHookConfigureFn Configure = nullptr;
  FrameHookProcessFn Process = nullptr;
  FrameHookReleaseFn Release = nullptr;
  void *Context = nullptr;
};

// Codes: 0 success, -1 module not loadable, -2 no arguments / entry point missing,
// -12 out of memory, -22 Configure failed.
int FrameHookAdd(TFrameHookEntry *&AList, int AArgc, char *AArgv[]);
void FrameHookProcess(TFrameHookEntry *AList, KorveloHookPicture *APicture, int APixFmt, int AWidth,
                      int AHeight, int64_t APts);
void FrameHookRelease(TFrameHookEntry *&AList);
