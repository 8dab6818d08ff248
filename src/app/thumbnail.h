// Picture fitting and scaling, and the PSP thumbnail (".THM") files.
#pragma once

#include <cstdint>
#include <string>

#include "medialib/bgr_image.h"

// A colour as 0xRRGGBB.
using TRGBColor = uint32_t;
constexpr TRGBColor ColorBlack = 0x000000;
constexpr TRGBColor ColorWhite = 0xFFFFFF;

constexpr int ThumbnailWidth = 160;
constexpr int ThumbnailHeight = 120;
constexpr int ThumbnailQuality = 100;

// The largest size with the source's aspect ratio that fits ABoxW x ABoxH, rounded to the
// nearest pixel (ties to even), never below 2 pixels. A source without a size fills the box.
void FitSize(int ASrcW, int ASrcH, int ABoxW, int ABoxH, int &AW, int &AH);

// Makes ADst exactly AW x AH holding ASrc scaled to that size: a box filter (area-weighted mean
// in 1/1024 units) when reducing in both directions, an area-averaging stretch otherwise.
// An empty source gives a picture of ABackground.
void ResamplePicture(const TBGRImage &ASrc, TBGRImage &ADst, int AW, int AH,
                     TRGBColor ABackground = ColorBlack);

// The width a AW x AH picture is shown with: AH x ADisplayAspect when that is known (> 0),
// else AW (square pixels).
int DisplayWidth(int AW, int AH, double ADisplayAspect);

// Draws APicture fitted into a new ABoxW x ABoxH canvas, centred on black (offsets rounded
// toward zero), with the shape ADisplayAspect (0 = square pixels). Used for the 160x120
// thumbnail and the panels' preview.
void FitOnCanvas(const TBGRImage &APicture, TBGRImage &ACanvas, int ABoxW, int ABoxH,
                 double ADisplayAspect = 0);

// The thumbnail name of an output file: its extension replaced by ".THM".
std::string ThumbnailFileName(const std::string &AOutputFileName);

// Compresses APicture as a baseline JFIF JPEG of the library's default settings at AQuality
// into AJpeg. False (with AError) when the picture is empty or the library fails.
bool EncodeJpeg(const TBGRImage &APicture, int AQuality, std::string &AJpeg, std::string &AError);

// Writes the ".THM" of AOutputFileName from APicture (any size, shown with ADisplayAspect;
// fitted into 160x120 on black).
// An existing thumbnail is replaced as a whole: the file is written under a temporary name
// first, so a failure never leaves a broken thumbnail. False with AError on failure.
bool MakeThumbnail(const TBGRImage &APicture, const std::string &AOutputFileName,
                   std::string &AError, double ADisplayAspect = 0);
