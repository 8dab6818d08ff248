// Picture operations of the video path that the media libraries no longer offer: deinterlacing,
// cropping by plane offsets, padding with a colour; and the frame-rate rule of the output.
#pragma once

#include <cstdint>

#include "medialib/media_functions.h"

// A picture as plane pointers and line sizes; the pixels belong to someone else.
struct TPicturePlanes {
  uint8_t *data[4] = {};
  int linesize[4] = {};
};

TPicturePlanes PlanesOf(const AVFrame *AFrame);
void SetPlanes(AVFrame *AFrame, const TPicturePlanes &APlanes);

// 8-bit planar YUV (any chroma subsampling, no alpha) or 8-bit gray: what deinterlacing and
// padding support.
bool IsPlanarYUV8(AVPixelFormat AFormat);

// Writes into ADst the picture ASrc with each odd row replaced by the vertical low-pass
// (-1, 4, 2, 4, -1) / 8 around it; even rows are copied. False for unsupported formats.
bool DeinterlacePicture(const TPicturePlanes &ADst, const TPicturePlanes &ASrc,
                        AVPixelFormat AFormat, int AWidth, int AHeight);

// ADst = ASrc without its first ATop rows and ALeft columns (chroma offsets follow the format's
// subsampling). False for formats whose planes cannot be offset so.
bool CropPicture(TPicturePlanes &ADst, const TPicturePlanes &ASrc, AVPixelFormat AFormat, int ATop,
                 int ALeft);

// Paints the borders of the AWidth x AHeight picture ADst with AColor (Y, Cb, Cr) and, when
// ASrc is given, copies ASrc into the inner area. False for unsupported formats or sizes.
bool PadPicture(const TPicturePlanes &ADst, const TPicturePlanes *ASrc, int AHeight, int AWidth,
                AVPixelFormat AFormat, int APadTop, int APadBottom, int APadLeft, int APadRight,
                const int AColor[3]);

// The constant-frame-rate rule: how many output frames one input picture becomes (0 = drop).
// AIpts is the picture's time in seconds, AEncTimeBase the encoder's time base in seconds;
// ASyncOpts is the next output frame number and is moved when the rule follows the input clock.
// A gap of more than MaxFilledGapSeconds is not filled with repeated pictures.
constexpr double MaxFilledGapSeconds = 3.0;
int VideoSyncFrameCount(int AVideoSyncMethod, double AEncTimeBase, double AIpts,
                        int64_t &ASyncOpts);
