// What a person sees and hears of a file: its pictures' brightness and its sound, decoded with
// the media libraries, for tests that measure the content of an output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct TDecodedPicture {
  int Width = 0, Height = 0;
  double Time = 0;                 // seconds
  std::vector<uint8_t> Luma, U, V; // 4:2:0 planes without padding

  uint8_t Y(int AX, int AY) const { return Luma[static_cast<size_t>(AY) * Width + AX]; }
  // Mean brightness of a rectangle (x0, y0 inclusive; x1, y1 exclusive).
  double MeanLuma(int AX0, int AY0, int AX1, int AY1) const;
};

// The first AMax pictures of AFile's first video stream (8-bit 4:2:0 only); empty when the
// file does not open or has none.
std::vector<TDecodedPicture> DecodePictures(const std::string &AFile, size_t AMax = 1000);

struct TDecodedSound {
  int Rate = 0, Channels = 0;
  double Start = 0;        // seconds, of the first decoded samples
  std::vector<float> Mono; // the channels' mean
};

// All the sound of the first (or AStreamIndex) audio stream of AFile.
TDecodedSound DecodeSound(const std::string &AFile, int AStreamIndex = -1);

// The frequency of a steady tone, from its rising zero crossings.
double ToneFrequency(const TDecodedSound &ASound);

} // namespace testing_support
