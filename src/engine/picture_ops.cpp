#include "engine/picture_ops.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

// Width or height of plane APlane of a picture (chroma planes are subsampled).
int planeSize(int ASize, int APlane, int AShift) {
  return APlane == 0 ? ASize : -((-ASize) >> AShift);
}

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

// The plain format of a "J" format, which the library takes for full range.
AVPixelFormat PlainFormatOf(AVPixelFormat AFormat, bool &AFull) {
  switch (AFormat) {
  case AV_PIX_FMT_YUVJ420P:
    AFull = true;
    return AV_PIX_FMT_YUV420P;
  case AV_PIX_FMT_YUVJ422P:
    AFull = true;
    return AV_PIX_FMT_YUV422P;
  case AV_PIX_FMT_YUVJ444P:
    AFull = true;
    return AV_PIX_FMT_YUV444P;
  case AV_PIX_FMT_YUVJ440P:
    AFull = true;
    return AV_PIX_FMT_YUV440P;
  case AV_PIX_FMT_YUVJ411P:
    AFull = true;
    return AV_PIX_FMT_YUV411P;
  default:
    return AFormat;
  }
}

// The library's matrix numbers are those of the colour space tags; only these differ from
// its default (BT.601).
int SwsColorspaceOf(AVColorSpace AColorspace) {
  switch (AColorspace) {
  case AVCOL_SPC_BT709:
  case AVCOL_SPC_FCC:
  case AVCOL_SPC_SMPTE240M:
  case AVCOL_SPC_BT2020_NCL:
  case AVCOL_SPC_BT2020_CL:
    return static_cast<int>(AColorspace);
  default:
    return 0;
  }
}

} // namespace

TPictureTurn PictureTurnOfMatrix(const int32_t AMatrix[9]) {
  // Stored (p, q) is shown at (a p + c q, b p + d q), rows going down.
  const double a = AMatrix[0], b = AMatrix[1], c = AMatrix[3], d = AMatrix[4];
  const double straight = std::max(std::fabs(a), std::fabs(d));
  const double crossed = std::max(std::fabs(b), std::fabs(c));
  const double largest = std::max(straight, crossed);
  TPictureTurn turn;
  if (largest <= 0)
    return turn;
  const double small = largest / 64; // about one degree off a quarter turn
  if (std::fabs(b) < small && std::fabs(c) < small && std::fabs(a) > small &&
      std::fabs(d) > small) {
    turn.FlipX = a < 0;
    turn.FlipY = d < 0;
  } else if (std::fabs(a) < small && std::fabs(d) < small && std::fabs(b) > small &&
             std::fabs(c) > small) {
    turn.Transpose = true;
    turn.FlipX = b < 0;
    turn.FlipY = c < 0;
  }
  return turn;
}

TPictureTurn PictureTurnOf(const AVStream *AStream) {
  size_t size = 0;
  const uint8_t *matrix = avlib.av_stream_get_side_data(AStream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (!matrix || size < 9 * sizeof(int32_t))
    return TPictureTurn();
  int32_t values[9];
  std::memcpy(values, matrix, sizeof values);
  return PictureTurnOfMatrix(values);
}

void TurnedSize(const TPictureTurn &ATurn, int &AWidth, int &AHeight) {
  if (ATurn.Transpose)
    std::swap(AWidth, AHeight);
}

void TurnPlane(uint8_t *ADst, int ADstLinesize, const uint8_t *ASrc, int ASrcLinesize, int AWidth,
               int AHeight, int AElementBytes, const TPictureTurn &ATurn) {
  int width = AWidth, height = AHeight;
  TurnedSize(ATurn, width, height);
  // Walking the stored picture: one step across or down the turned picture.
  const ptrdiff_t across = ATurn.Transpose ? ASrcLinesize : AElementBytes;
  const ptrdiff_t down = ATurn.Transpose ? AElementBytes : ASrcLinesize;
  const bool backAcross = ATurn.Transpose ? ATurn.FlipY : ATurn.FlipX;
  const bool backDown = ATurn.Transpose ? ATurn.FlipX : ATurn.FlipY;
  const uint8_t *origin =
      ASrc + (backAcross ? (width - 1) * across : 0) + (backDown ? (height - 1) * down : 0);
  const ptrdiff_t stepAcross = backAcross ? -across : across;
  const ptrdiff_t stepDown = backDown ? -down : down;
  for (int y = 0; y < height; ++y) {
    const uint8_t *src = origin + y * stepDown;
    uint8_t *dst = ADst + static_cast<ptrdiff_t>(y) * ADstLinesize;
    if (AElementBytes == 1) {
      for (int x = 0; x < width; ++x, src += stepAcross)
        dst[x] = *src;
    } else {
      for (int x = 0; x < width; ++x, src += stepAcross, dst += AElementBytes)
        std::memcpy(dst, src, AElementBytes);
    }
  }
}

bool CanTurn(AVPixelFormat AFormat, const TPictureTurn &ATurn) {
  if (!IsPlanarYUV8(AFormat))
    return false;
  const AVPixFmtDescriptor *desc = avlib.av_pix_fmt_desc_get(AFormat);
  return !ATurn.Transpose || desc->log2_chroma_w == desc->log2_chroma_h;
}

bool TurnPicture(const TPicturePlanes &ADst, const TPicturePlanes &ASrc, AVPixelFormat AFormat,
                 int AWidth, int AHeight, const TPictureTurn &ATurn) {
  if (AWidth <= 0 || AHeight <= 0 || !CanTurn(AFormat, ATurn))
    return false;
  const AVPixFmtDescriptor *desc = avlib.av_pix_fmt_desc_get(AFormat);
  for (int p = 0; p < desc->nb_components; ++p)
    TurnPlane(ADst.data[p], ADst.linesize[p], ASrc.data[p], ASrc.linesize[p],
              planeSize(AWidth, p, desc->log2_chroma_w), planeSize(AHeight, p, desc->log2_chroma_h),
              1, ATurn);
  return true;
}

void StoredBands(const TPictureTurn &ATurn, int &ATop, int &ABottom, int &ALeft, int &ARight) {
  // The viewer's top and bottom are stored columns when the turn transposes.
  int top = ATop, bottom = ABottom, left = ALeft, right = ARight;
  if (ATurn.Transpose) {
    std::swap(top, left);
    std::swap(bottom, right);
  }
  if (ATurn.FlipX)
    std::swap(left, right);
  if (ATurn.FlipY)
    std::swap(top, bottom);
  ATop = top;
  ABottom = bottom;
  ALeft = left;
  ARight = right;
}

bool IsFullRange(AVPixelFormat AFormat, AVColorRange ARange) {
  bool full = false;
  AFormat = PlainFormatOf(AFormat, full);
  if (full || ARange == AVCOL_RANGE_JPEG)
    return true;
  if (ARange == AVCOL_RANGE_MPEG)
    return false;
  const AVPixFmtDescriptor *desc = avlib.av_pix_fmt_desc_get(AFormat);
  return desc &&
         ((desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) || desc->nb_components <= 2);
}

void TScalerSetup::SetSource(AVPixelFormat AFormat, AVColorRange ARange, AVColorSpace AColorspace) {
  SrcFullRange = IsFullRange(AFormat, ARange);
  bool full = false;
  SrcFormat = PlainFormatOf(AFormat, full);
  SrcColorspace = SwsColorspaceOf(AColorspace);
}

void TScalerSetup::SetDestination(AVPixelFormat AFormat, AVColorRange ARange,
                                  AVColorSpace AColorspace) {
  DstFullRange = IsFullRange(AFormat, ARange);
  bool full = false;
  DstFormat = PlainFormatOf(AFormat, full);
  DstColorspace = SwsColorspaceOf(AColorspace);
}

bool TScalerSetup::operator==(const TScalerSetup &AOther) const {
  return SrcWidth == AOther.SrcWidth && SrcHeight == AOther.SrcHeight &&
         SrcFormat == AOther.SrcFormat && SrcFullRange == AOther.SrcFullRange &&
         SrcColorspace == AOther.SrcColorspace && DstWidth == AOther.DstWidth &&
         DstHeight == AOther.DstHeight && DstFormat == AOther.DstFormat &&
         DstFullRange == AOther.DstFullRange && DstColorspace == AOther.DstColorspace &&
         Flags == AOther.Flags;
}

SwsContext *FitScaler(SwsContext *&AScaler, TScalerSetup &AMade, const TScalerSetup &AWanted) {
  if (AScaler && AMade == AWanted)
    return AScaler;
  avlib.sws_freeContext(AScaler);
  AScaler = nullptr;
  AMade = TScalerSetup();
  SwsContext *scaler = avlib.sws_alloc_context();
  if (!scaler)
    return nullptr;
  const std::pair<const char *, int64_t> options[] = {
      {"srcw", AWanted.SrcWidth},        {"srch", AWanted.SrcHeight},
      {"src_format", AWanted.SrcFormat}, {"src_range", AWanted.SrcFullRange},
      {"dstw", AWanted.DstWidth},        {"dsth", AWanted.DstHeight},
      {"dst_format", AWanted.DstFormat}, {"dst_range", AWanted.DstFullRange},
      {"sws_flags", AWanted.Flags}};
  bool ok = true;
  for (const auto &option : options)
    ok = ok && avlib.av_opt_set_int(scaler, option.first, option.second, 0) >= 0;
  if (!ok || avlib.sws_init_context(scaler, nullptr, nullptr) < 0) {
    avlib.sws_freeContext(scaler);
    return nullptr;
  }
  // The matrices matter only between YUV and RGB; between YUV formats the library would
  // convert through RGB, which the old path never did.
  auto isRGB = [](AVPixelFormat AFormat) {
    const AVPixFmtDescriptor *desc = avlib.av_pix_fmt_desc_get(AFormat);
    return desc && (desc->flags & AV_PIX_FMT_FLAG_RGB);
  };
  auto matrix = [](int AColorspace) {
    return avlib.sws_getCoefficients(AColorspace ? AColorspace : SWS_CS_DEFAULT);
  };
  if ((AWanted.SrcColorspace != 0 || AWanted.DstColorspace != 0) &&
      isRGB(AWanted.SrcFormat) != isRGB(AWanted.DstFormat))
    avlib.sws_setColorspaceDetails(scaler, matrix(AWanted.SrcColorspace), AWanted.SrcFullRange,
                                   matrix(AWanted.DstColorspace), AWanted.DstFullRange, 0, 1 << 16,
                                   1 << 16);
  AScaler = scaler;
  AMade = AWanted;
  return scaler;
}

TPicturePlanes PlanesOf(const AVFrame *AFrame) {
  TPicturePlanes planes;
  for (int i = 0; i < 4; ++i) {
    planes.data[i] = AFrame->data[i];
    planes.linesize[i] = AFrame->linesize[i];
  }
  return planes;
}

bool AllocPicture(AVFrame *&APicture, AVPixelFormat AFormat, int AWidth, int AHeight) {
  avlib.av_frame_free(&APicture);
  APicture = avlib.av_frame_alloc();
  if (!APicture)
    return false;
  APicture->format = AFormat;
  APicture->width = AWidth;
  APicture->height = AHeight;
  return AFormat != AV_PIX_FMT_NONE && avlib.av_frame_get_buffer(APicture, 0) >= 0;
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
    const ptrdiff_t offset = static_cast<ptrdiff_t>(top) * ASrc.linesize[comp.plane] +
                             static_cast<ptrdiff_t>(left) * comp.step;
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
        std::memcpy(row + left, ASrc->data[p] + static_cast<ptrdiff_t>(y - top) * ASrc->linesize[p],
                    inner);
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
  if (AVideoSyncMethod == 2) {
    if (vdelta < -1.1)
      return 0;
    ASyncOpts = std::llrint(outputPts);
    return 1;
  }
  // The picture takes the output frame nearest to its time, the frames before it repeat the
  // picture before: a flash stays within half a frame of its beep. A picture whose frame is
  // already taken is dropped.
  const int64_t frame = std::llrint(outputPts);
  if (frame < ASyncOpts)
    return 0;
  // Damaged timestamps open gaps of hours; repeating a picture through them would write
  // for hours. A longer gap is jumped: the picture stands for it once.
  if (vdelta * AEncTimeBase > MaxFilledGapSeconds) {
    ASyncOpts = frame;
    return 1;
  }
  return static_cast<int>(frame - ASyncOpts) + 1;
}
