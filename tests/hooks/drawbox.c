/* Example frame-hook module: fills a box of the luma plane with one value.
 * Arguments: x y w h [luma]; luma defaults to 235 (white). Works on 8-bit planar YUV and gray,
 * leaves other pictures alone. */
#include <stdlib.h>

#include "medialib/frame_hook_module.h"

typedef struct {
  int x, y, w, h;
  int luma;
} DrawBox;

/* Contexts alive in this module, for the tests that check Release. */
static int liveContexts = 0;

int drawbox_live_contexts(void) { return liveContexts; }

static int parseInt(const char *text, int *value) {
  char *end;
  long v;
  if (!text || !*text)
    return 0;
  v = strtol(text, &end, 10);
  if (*end || v < 0 || v > 100000)
    return 0;
  *value = (int)v;
  return 1;
}

int Configure(void **ctxp, int argc, char *argv[]) {
  DrawBox box;
  DrawBox *ctx;
  if (argc != 5 && argc != 6)
    return 1;
  box.luma = 235;
  if (!parseInt(argv[1], &box.x) || !parseInt(argv[2], &box.y) || !parseInt(argv[3], &box.w) ||
      !parseInt(argv[4], &box.h) || (argc == 6 && !parseInt(argv[5], &box.luma)) || box.luma > 255)
    return 1;
  ctx = malloc(sizeof *ctx);
  if (!ctx)
    return 1;
  *ctx = box;
  *ctxp = ctx;
  ++liveContexts;
  return 0;
}

static int hasLumaPlane(int pix_fmt) {
  /* yuv420p, yuv422p, yuv444p, yuv410p, yuv411p, gray, yuvj420p, yuvj422p, yuvj444p */
  switch (pix_fmt) {
  case 0:
  case 4:
  case 5:
  case 6:
  case 7:
  case 8:
  case 12:
  case 13:
  case 14:
    return 1;
  default:
    return 0;
  }
}

void Process(void *ctx, KorveloHookPicture *pict, int pix_fmt, int width, int height, int64_t pts) {
  const DrawBox *box = ctx;
  int x1, y1, x, y;
  (void)pts;
  if (!box || !hasLumaPlane(pix_fmt))
    return;
  x1 = box->x + box->w < width ? box->x + box->w : width;
  y1 = box->y + box->h < height ? box->y + box->h : height;
  for (y = box->y; y < y1; ++y) {
    unsigned char *row = pict->data[0] + (long)y * pict->linesize[0];
    for (x = box->x; x < x1; ++x)
      row[x] = (unsigned char)box->luma;
  }
}

void Release(void *ctx) {
  if (ctx) {
    free(ctx);
    --liveContexts;
  }
}
