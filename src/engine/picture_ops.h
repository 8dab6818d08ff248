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

// Makes APicture a AWidth x AHeight AFormat picture with a buffer of its own, freeing the one it
// held. False when the libraries cannot make it (APicture is then freed or without a buffer).
bool AllocPicture(AVFrame *&APicture, AVPixelFormat AFormat, int AWidth, int AHeight);

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

// How a stored picture is turned for the viewer (the display matrix phones write): the pixel
// the viewer sees at (X, Y) is the stored pixel (x, y) with (u, v) = Transpose ? (Y, X) : (X, Y),
// x = FlipX ? width - 1 - u : u and y = FlipY ? height - 1 - v : v.
struct TPictureTurn {
  bool Transpose = false, FlipX = false, FlipY = false;
  bool None() const { return !Transpose && !FlipX && !FlipY; }
};

// The turn a display matrix asks for: quarter turns and mirrors; none for other angles, which
// these pictures are not turned by.
TPictureTurn PictureTurnOfMatrix(const int32_t AMatrix[9]);
// The turn of a stream's display matrix; none without one.
TPictureTurn PictureTurnOf(const AVStream *AStream);

// The size as seen of a AWidth x AHeight stored picture.
void TurnedSize(const TPictureTurn &ATurn, int &AWidth, int &AHeight);

// Writes into ADst the AWidth x AHeight stored plane ASrc of AElementBytes per pixel as the
// viewer sees it (ADst has the turned size).
void TurnPlane(uint8_t *ADst, int ADstLinesize, const uint8_t *ASrc, int ASrcLinesize, int AWidth,
               int AHeight, int AElementBytes, const TPictureTurn &ATurn);

// Whether TurnPicture can turn AFormat pictures so: 8-bit planar YUV or grey, with chroma
// subsampled alike across and down when the turn transposes.
bool CanTurn(AVPixelFormat AFormat, const TPictureTurn &ATurn);
// Writes into ADst the AWidth x AHeight stored picture ASrc as the viewer sees it.
bool TurnPicture(const TPicturePlanes &ADst, const TPicturePlanes &ASrc, AVPixelFormat AFormat,
                 int AWidth, int AHeight, const TPictureTurn &ATurn);

// Crop bands given as the viewer sees the picture (top, bottom, left, right), as bands of the
// stored picture.
void StoredBands(const TPictureTurn &ATurn, int &ATop, int &ABottom, int &ALeft, int &ARight);

// What a scaler converts from and to. The library's "J" formats are kept out of it: they are
// the plain formats at full range (a scaler made for one is re-made for every picture).
struct TScalerSetup {
  int SrcWidth = 0, SrcHeight = 0;
  AVPixelFormat SrcFormat = AV_PIX_FMT_NONE;
  bool SrcFullRange = false;
  int SrcColorspace = 0; // the source's YUV matrix as an SWS_CS_ value; 0 = the default
  int DstWidth = 0, DstHeight = 0;
  AVPixelFormat DstFormat = AV_PIX_FMT_NONE;
  bool DstFullRange = false;
  int DstColorspace = 0; // the destination's YUV matrix, as SrcColorspace
  int Flags = 0;

  // The picture format and range of the source or destination, for AFormat pictures that say
  // ARange (unspecified: full for RGB, palette and grey, limited for YUV).
  void SetSource(AVPixelFormat AFormat, AVColorRange ARange, AVColorSpace AColorspace);
  void SetDestination(AVPixelFormat AFormat, AVColorRange ARange,
                      AVColorSpace AColorspace = AVCOL_SPC_UNSPECIFIED);
  bool operator==(const TScalerSetup &AOther) const;
};

// Whether AFormat pictures that say ARange hold full-range values (see TScalerSetup).
bool IsFullRange(AVPixelFormat AFormat, AVColorRange ARange);

// Makes AScaler convert as AWanted says: kept when it was made for the same setup (AMade),
// made anew otherwise, with the ranges set before the library chooses its method (set
// afterwards, it ignores them for same-size and for deeper-than-8-bit pictures). Null when the
// library cannot convert so; AMade then says nothing was made.
SwsContext *FitScaler(SwsContext *&AScaler, TScalerSetup &AMade, const TScalerSetup &AWanted);

// The constant-frame-rate rule: how many output frames one input picture becomes (0 = drop).
// AIpts is the picture's time in seconds, AEncTimeBase the encoder's time base in seconds;
// ASyncOpts is the next output frame number and is moved when the rule follows the input clock.
// A gap of more than MaxFilledGapSeconds is not filled with repeated pictures.
constexpr double MaxFilledGapSeconds = 3.0;
int VideoSyncFrameCount(int AVideoSyncMethod, double AEncTimeBase, double AIpts,
                        int64_t &ASyncOpts);
