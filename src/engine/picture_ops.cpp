#include "engine/picture_ops.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

// Width or height of plane APlane of a picture (chroma planes are subsampled).
int planeSize(int ASize, int APlane, int AShift) { return APlane == 0 ? ASize : -((-ASize) >> AShift); }

uint8_t clip8(int AValue) { return static_cast<uint8_t>(std::clamp(AValue, 0, 255)); }

void deinterlacePlane(uint8_t *ADst, int ADstWrap, const uint8_t *ASrc, int ASrcWrap, int AWidth,
                      int AHeight) {
  auto srcRow = [&](int AY) {
    return ASrc + static_cast<ptrdiff_t>(std::clamp(AY, 0, AHeight - 1)) * ASrcWrap;
  };
  for (int y = 0; y < AHeight; ++y) {
    uint8_t *dst = ADst + static_cast<ptrdiff_t>(y) * ADstWrap;
    if ((y & 1) == 0) {
      std::memcpy(dst, srcRow(y), AWidth);
      continue;
    }
    const uint8_t *m2 = srcRow(y - 2), *m1 = srcRow(y - 1), *c = srcRow(y), *p1 = srcRow(y + 1),
                  *p2 = srcRow(y + 2);
    for (int x = 0; x < AWidth; ++x) {
      const int sum = -m2[x] + 4 * m1[x] + 2 * c[x] + 4 * p1[x] - p2[x];
      dst[x] = clip8((sum + 4) >> 3);
    }
  }
}

} // namespace

TPicturePlanes PlanesOf(const AVFrame *AFrame) {
  TPicturePlanes planes;
  for (int i = 0; i < 4; ++i) {
    planes.data[i] = AFrame->data[i];
    planes.linesize[i] = AFrame->linesize[i];
  }
  return planes;
}

void SetPlanes(AVFrame *AFrame, const TPicturePlanes &APlanes) {
  for (int i = 0; i < 4; ++i) {
    AFrame->data[i] = APlanes.data[i];
    AFrame->linesize[i] = APlanes.linesize[i];
  }
}

bool IsPlanarYUV8(AVPixelFormat AFormat) {
  const AVPixFmtDescriptor *desc = avlib.av_pix_fmt_desc_get(AFormat);
  if (!desc)
    return false;
  const uint64_t refused = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                           AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_ALPHA |
                           AV_PIX_FMT_FLAG_FLOAT;
  if ((desc->flags & refused) || (desc->nb_components != 1 && desc->nb_components != 3))
    return false;
  for (int i = 0; i < desc->nb_components; ++i) {
    const AVComponentDescriptor &comp = desc->comp[i];
    if (comp.plane != i || comp.step != 1 || comp.depth != 8 || comp.shift != 0 || comp.offset != 0)
      return false;
  }
  return true;
}

bool DeinterlacePicture(const TPicturePlanes &ADst, const TPicturePlanes &ASrc,
                        AVPixelFormat AFormat, int AWidth, int AHeight) {
  if (AWidth <= 0 || AHeight <= 0 || !IsPlanarYUV8(AFormat))
    return false;
  const AVPixFmtDescriptor *desc = avlib.av_pix_fmt_desc_get(AFormat);
  for (int p = 0; p < desc->nb_components; ++p)
    deinterlacePlane(ADst.data[p], ADst.linesize[p], ASrc.data[p], ASrc.linesize[p],
                     planeSize(AWidth, p, desc->log2_chroma_w),
                     planeSize(AHeight, p, desc->log2_chroma_h));
  return true;
}

bool CropPicture(TPicturePlanes &ADst, const TPicturePlanes &ASrc, AVPixelFormat AFormat, int ATop,
                 int ALeft) {
  const AVPixFmtDescriptor *desc = avlib.av_pix_fmt_desc_get(AFormat);
  if (!desc || ATop < 0 || ALeft < 0 ||
      (desc->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL)))
    return false;
  const bool yuv = !(desc->flags & AV_PIX_FMT_FLAG_RGB);
  ptrdiff_t offsets[4];
  bool known[4] = {};
  for (int c = 0; c < desc->nb_components; ++c) {
    const AVComponentDescriptor &comp = desc->comp[c];
    const bool chroma = yuv && (c == 1 || c == 2);
    const int top = chroma ? ATop >> desc->log2_chroma_h : ATop;
    const int left = chroma ? ALeft >> desc->log2_chroma_w : ALeft;
    const ptrdiff_t offset =
        static_cast<ptrdiff_t>(top) * ASrc.linesize[comp.plane] + static_cast<ptrdiff_t>(left) * comp.step;
    // Packed formats with subsampled chroma (e.g. 4:2:2 in one plane) can only be cut at the
    // start of a pixel group: every component of a plane must agree on the offset.
    if (known[comp.plane] && offsets[comp.plane] != offset)
      return false;
    offsets[comp.plane] = offset;
    known[comp.plane] = true;
  }
  ADst = ASrc;
  for (int p = 0; p < 4; ++p)
    if (known[p] && ASrc.data[p])
      ADst.data[p] = ASrc.data[p] + offsets[p];
  return true;
}

bool PadPicture(const TPicturePlanes &ADst, const TPicturePlanes *ASrc, int AHeight, int AWidth,
                AVPixelFormat AFormat, int APadTop, int APadBottom, int APadLeft, int APadRight,
                const int AColor[3]) {
  if (!IsPlanarYUV8(AFormat) || AWidth <= 0 || AHeight <= 0 || APadTop < 0 || APadBottom < 0 ||
      APadLeft < 0 || APadRight < 0 || APadTop + APadBottom > AHeight ||
      APadLeft + APadRight > AWidth)
    return false;
  const AVPixFmtDescriptor *desc = avlib.av_pix_fmt_desc_get(AFormat);
  for (int p = 0; p < desc->nb_components; ++p) {
    const int xs = p ? desc->log2_chroma_w : 0, ys = p ? desc->log2_chroma_h : 0;
    const int width = planeSize(AWidth, p, xs), height = planeSize(AHeight, p, ys);
    const int top = APadTop >> ys, left = APadLeft >> xs;
    const int bottom = std::min(APadBottom >> ys, height - top);
    const int right = std::min(APadRight >> xs, width - left);
    const int inner = width - left - right;
    const uint8_t color = clip8(AColor[p]);
    for (int y = 0; y < height; ++y) {
      uint8_t *row = ADst.data[p] + static_cast<ptrdiff_t>(y) * ADst.linesize[p];
      if (y < top || y >= height - bottom) {
        std::memset(row, color, width);
        continue;
      }
      std::memset(row, color, left);
      std::memset(row + width - right, color, right);
      if (ASrc)
        std::memcpy(row + left,
                    ASrc->data[p] + static_cast<ptrdiff_t>(y - top) * ASrc->linesize[p], inner);
    }
  }
  return true;
}

int VideoSyncFrameCount(int AVideoSyncMethod, double AEncTimeBase, double AIpts,
                        int64_t &ASyncOpts) {
  if (!(AEncTimeBase > 0))
    return 1;
  const double outputPts = AIpts / AEncTimeBase;
  if (!(AVideoSyncMethod > 0 || (AVideoSyncMethod != 0 && AEncTimeBase > 0.001))) {
    ASyncOpts = std::llrint(outputPts);
    return 1;
  }
  const double vdelta = outputPts - static_cast<double>(ASyncOpts);
  if (vdelta < -1.1)
    return 0;
  if (AVideoSyncMethod == 2) {
    ASyncOpts = std::llrint(outputPts);
    return 1;
  }
  if (vdelta > 1.1) {
    // Damaged timestamps open gaps of hours; repeating a picture through them would write
    // for hours. A longer gap is jumped: the picture stands for it once.
    if (vdelta * AEncTimeBase > MaxFilledGapSeconds) {
      ASyncOpts = std::llrint(outputPts);
      return 1;
    }
    return static_cast<int>(std::nearbyint(vdelta));
  }
  return 1;
}
