#include "medialib/frame_hook.h"

// Not built yet: adding a module fails until the module cache exists.
int FrameHookAdd(TFrameHookEntry *&, int, char *[]) { return -1; }
void FrameHookProcess(TFrameHookEntry *, KorveloHookPicture *, int, int, int, int64_t) {}
void FrameHookRelease(TFrameHookEntry *&AList) { AList = nullptr; }
