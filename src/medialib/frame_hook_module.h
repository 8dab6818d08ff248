/* The contract between the engine and a frame-hook module. Plain C, so that modules written in
 * C include it as well as the engine does.
 *
 * A module is a shared library exporting, by these names:
 *   int  Configure(void **ctxp, int argc, char *argv[]);   -- needed when given arguments;
 *        argv[0] is the module file name, argv[argc] is NULL; 0 means success.
 *   void Process(void *ctx, KorveloHookPicture *pict, int pix_fmt, int width, int height,
 *                int64_t pts);                              -- always needed; edits in place.
 *   void Release(void *ctx);                                -- optional.
 * pix_fmt is the media library's pixel format number (0 = yuv420p, 3 = bgr24, 8 = gray,
 * 12 = yuvj420p); pts is in microseconds. */
#ifndef KORVELO_FRAME_HOOK_MODULE_H
#define KORVELO_FRAME_HOOK_MODULE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The picture handed to a module: four plane pointers and four line sizes. */
typedef struct KorveloHookPicture {
  uint8_t *data[4];
  int linesize[4];
} KorveloHookPicture;

typedef int (*FrameHookConfigureFn)(void **ctxp, int argc, char *argv[]);
typedef void (*FrameHookProcessFn)(void *ctx, KorveloHookPicture *pict, int pix_fmt, int width,
                                   int height, int64_t pts);
typedef void (*FrameHookReleaseFn)(void *ctx);

#ifdef __cplusplus
}
#endif

#endif
