/* Example frame-hook module without Configure: inverts the luma plane of 8-bit planar YUV and
 * gray pictures. Counts the pictures it has seen, for the tests. */
#include "medialib/frame_hook_module.h"

static int processed = 0;

int invert_processed_count(void) { return processed; }

void Process(void *ctx, KorveloHookPicture *pict, int pix_fmt, int width, int height, int64_t pts) {
  int x, y;
  (void)ctx;
  (void)pts;
  ++processed;
  /* yuv420p, yuv422p, yuv444p, yuv410p, yuv411p, gray, yuvj420p, yuvj422p, yuvj444p */
  if (!(pix_fmt == 0 || (pix_fmt >= 4 && pix_fmt <= 8) || (pix_fmt >= 12 && pix_fmt <= 14)))
    return;
  for (y = 0; y < height; ++y) {
    unsigned char *row = pict->data[0] + (long)y * pict->linesize[0];
    for (x = 0; x < width; ++x)
      row[x] = (unsigned char)(255 - row[x]);
  }
}
