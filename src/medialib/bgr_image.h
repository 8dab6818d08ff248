// A plain 24-bit picture: rows top to bottom, each row blue, green, red bytes per pixel.
// The window wraps it in a QImage (Format_BGR888) without copying.
#pragma once

#include <cstdint>
#include <vector>

struct TBGRImage {
  int Width = 0;
  int Height = 0;
  int Stride = 0; // bytes per row, a multiple of 4
  std::vector<uint8_t> Pixels;

  // Resizes to AWidth x AHeight; the content is undefined unless AClear (then black).
  void Resize(int AWidth, int AHeight, bool AClear = false) {
    Width = AWidth;
    Height = AHeight;
    Stride = (AWidth * 3 + 3) & ~3;
    const size_t size = static_cast<size_t>(Stride) * static_cast<size_t>(AHeight);
    if (AClear)
      Pixels.assign(size, 0);
    else
      Pixels.resize(size);
  }
  bool Empty() const { return Width <= 0 || Height <= 0; }
  uint8_t *Row(int AY) { return Pixels.data() + static_cast<size_t>(AY) * Stride; }
  const uint8_t *Row(int AY) const { return Pixels.data() + static_cast<size_t>(AY) * Stride; }
};
