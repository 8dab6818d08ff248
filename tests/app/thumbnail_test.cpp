// Picture scaling and the ".THM" files, decoded back with the JPEG library.
#include <gtest/gtest.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <random>

#include <jpeglib.h>

#include "app/thumbnail.h"
#include "support/test_support.h"

namespace {

using testing_support::ReadFile;

TBGRImage Solid(int AW, int AH, uint8_t AB, uint8_t AG, uint8_t AR) {
  TBGRImage image;
  image.Resize(AW, AH);
  for (int y = 0; y < AH; ++y)
    for (int x = 0; x < AW; ++x) {
      uint8_t *p = image.Row(y) + 3 * x;
      p[0] = AB;
      p[1] = AG;
      p[2] = AR;
    }
  return image;
}

TBGRImage Noise(int AW, int AH, unsigned ASeed) {
  std::mt19937 random(ASeed);
  TBGRImage image;
  image.Resize(AW, AH);
  for (int y = 0; y < AH; ++y)
    for (int x = 0; x < AW * 3; ++x)
      image.Row(y)[x] = static_cast<uint8_t>(random() & 0xFF);
  return image;
}

// The mean of the source area each output pixel covers, computed directly in floating point.
double AreaMean(const TBGRImage &ASrc, int AW, int AH, int AX, int AY, int AC) {
  const double sx = double(ASrc.Width) / AW, sy = double(ASrc.Height) / AH;
  double sum = 0, weight = 0;
  for (int y = int(AY * sy); y < ASrc.Height && y < (AY + 1) * sy; ++y) {
    const double wy = std::min<double>((AY + 1) * sy, y + 1) - std::max<double>(AY * sy, y);
    for (int x = int(AX * sx); x < ASrc.Width && x < (AX + 1) * sx; ++x) {
      const double wx = std::min<double>((AX + 1) * sx, x + 1) - std::max<double>(AX * sx, x);
      sum += wx * wy * ASrc.Row(y)[3 * x + AC];
      weight += wx * wy;
    }
  }
  return sum / weight;
}

// Largest difference between ADst and the exact area means of ASrc.
double WorstError(const TBGRImage &ASrc, const TBGRImage &ADst) {
  double worst = 0;
  for (int y = 0; y < ADst.Height; ++y)
    for (int x = 0; x < ADst.Width; ++x)
      for (int c = 0; c < 3; ++c)
        worst = std::max(worst, std::fabs(ADst.Row(y)[3 * x + c] -
                                          AreaMean(ASrc, ADst.Width, ADst.Height, x, y, c)));
  return worst;
}

struct TDecoded {
  int Width = 0, Height = 0, Components = 0;
  bool Progressive = true;
  std::vector<uint8_t> Luma; // one byte per pixel, rows top to bottom
};

struct TDecodeError {
  jpeg_error_mgr Base;
  jmp_buf Jump;
};

void OnDecodeError(j_common_ptr AInfo) {
  longjmp(reinterpret_cast<TDecodeError *>(AInfo->err)->Jump, 1);
}

// Decodes AData to grey: luma is stored at full resolution, so band edges stay sharp.
bool DecodeLuma(const std::string &AData, TDecoded &AOut) {
  jpeg_decompress_struct info;
  TDecodeError err;
  info.err = jpeg_std_error(&err.Base);
  err.Base.error_exit = OnDecodeError;
  if (setjmp(err.Jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(AData.data()),
               static_cast<unsigned long>(AData.size()));
  jpeg_read_header(&info, TRUE);
  AOut.Width = static_cast<int>(info.image_width);
  AOut.Height = static_cast<int>(info.image_height);
  AOut.Components = info.num_components;
  AOut.Progressive = info.progressive_mode;
  info.out_color_space = JCS_GRAYSCALE;
  jpeg_start_decompress(&info);
  AOut.Luma.resize(static_cast<size_t>(AOut.Width) * AOut.Height);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = AOut.Luma.data() + static_cast<size_t>(info.output_scanline) * AOut.Width;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

bool HasMarker(const std::string &AData, unsigned char AMarker) {
  for (size_t i = 0; i + 1 < AData.size(); ++i)
    if (static_cast<unsigned char>(AData[i]) == 0xFF &&
        static_cast<unsigned char>(AData[i + 1]) == AMarker)
      return true;
  return false;
}

int RowMax(const TDecoded &AImage, int AY) {
  int m = 0;
  for (int x = 0; x < AImage.Width; ++x)
    m = std::max<int>(m, AImage.Luma[static_cast<size_t>(AY) * AImage.Width + x]);
  return m;
}

int RowMin(const TDecoded &AImage, int AY, int AFrom = 0, int ATo = -1) {
  int m = 255;
  for (int x = AFrom; x < (ATo < 0 ? AImage.Width : ATo); ++x)
    m = std::min<int>(m, AImage.Luma[static_cast<size_t>(AY) * AImage.Width + x]);
  return m;
}

TEST(Resample, BoxFilterGivesTheAreaMeanOfWhatEachPixelCovers) {
  // Whole ratios, fractional ratios and a very uneven one.
  const int cases[][4] = {{640, 480, 160, 120}, {1280, 720, 160, 90}, {720, 480, 160, 107},
                          {480, 272, 138, 78},  {333, 211, 97, 50},   {50, 900, 7, 3}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c[0]) + "x" + std::to_string(c[1]));
    const TBGRImage src = Noise(c[0], c[1], 7);
    TBGRImage dst;
    ResamplePicture(src, dst, c[2], c[3]);
    ASSERT_EQ(dst.Width, c[2]);
    ASSERT_EQ(dst.Height, c[3]);
    // Weights are kept in 1/1024 and the result truncated: within 2 of the exact mean.
    EXPECT_LE(WorstError(src, dst), 2.0);
  }
}

TEST(Resample, SolidColourFillsEveryPixelWhateverTheDirection) {
  // Reductions (box filter), enlargements and mixed cases (area stretch).
  const int sizes[][4] = {
      {1280, 720, 160, 90}, {3, 3, 2, 2}, {128, 96, 160, 120}, {400, 100, 160, 120}};
  for (const auto &s : sizes) {
    SCOPED_TRACE(std::to_string(s[0]) + "x" + std::to_string(s[1]));
    TBGRImage dst;
    ResamplePicture(Solid(s[0], s[1], 10, 120, 250), dst, s[2], s[3], ColorBlack);
    ASSERT_EQ(dst.Width, s[2]);
    ASSERT_EQ(dst.Height, s[3]);
    for (int y = 0; y < dst.Height; ++y)
      for (int x = 0; x < dst.Width; ++x) // none left at the background, none off by one
        ASSERT_EQ(std::vector<uint8_t>(dst.Row(y) + 3 * x, dst.Row(y) + 3 * x + 3),
                  (std::vector<uint8_t>{10, 120, 250}))
            << x << "," << y;
  }
  // An enlargement stays close to the area means too.
  const TBGRImage noise = Noise(128, 96, 3);
  TBGRImage dst;
  ResamplePicture(noise, dst, 160, 120);
  EXPECT_LE(WorstError(noise, dst), 1.0);
}

struct TThumbCase {
  int W, H;
  double Aspect;   // shown shape, 0 = square pixels
  int Top, Bottom; // black rows above and below
  int Left, Right; // black columns left and right
};

TEST(Thumbnail, FrameFittedAndCentredOnBlackInABaselineJpeg) {
  // The last one is an anamorphic 16:9 picture stored as 720 x 480.
  const TThumbCase cases[] = {{640, 480, 0, 0, 0, 0, 0},
                              {1280, 720, 0, 15, 15, 0, 0},
                              {720, 480, 0, 6, 7, 0, 0},
                              {480, 640, 0, 0, 0, 35, 35},
                              {720, 480, 16.0 / 9, 15, 15, 0, 0}};
  testing_support::TempDir dir;
  for (const TThumbCase &c : cases) {
    SCOPED_TRACE(std::to_string(c.W) + "x" + std::to_string(c.H) + " " + std::to_string(c.Aspect));
    const std::string output = dir.file("clip-480x272-AVC.mp4");
    std::string error;
    ASSERT_TRUE(MakeThumbnail(Solid(c.W, c.H, 160, 180, 200), output, error, c.Aspect)) << error;
    const std::string data = ReadFile(ThumbnailFileName(output));
    ASSERT_GT(data.size(), 100u);
    EXPECT_EQ(data.substr(6, 5), std::string("JFIF\0", 5));
    EXPECT_TRUE(HasMarker(data, 0xC0));  // baseline frame header
    EXPECT_FALSE(HasMarker(data, 0xC2)); // no progressive one
    TDecoded image;
    ASSERT_TRUE(DecodeLuma(data, image));
    EXPECT_EQ(image.Width, 160);
    EXPECT_EQ(image.Height, 120);
    EXPECT_EQ(image.Components, 3);
    EXPECT_FALSE(image.Progressive);
    for (int y = 0; y < 120; ++y) {
      const bool band = y < c.Top || y >= 120 - c.Bottom;
      if (band) {
        EXPECT_LE(RowMax(image, y), 4) << "row " << y;
      } else {
        EXPECT_GE(RowMin(image, y, c.Left + 1, 160 - c.Right - 1), 150) << "row " << y;
        if (c.Left > 0) {
          EXPECT_LE(image.Luma[y * 160 + c.Left - 1], 4) << "row " << y;
          EXPECT_LE(image.Luma[y * 160 + 160 - c.Right], 4) << "row " << y;
          EXPECT_GE(image.Luma[y * 160 + c.Left], 150) << "row " << y;
        }
      }
    }
  }
}

TEST(Thumbnail, SecondWriteReplacesTheFirstAndLeavesNothingElse) {
  testing_support::TempDir dir;
  const std::string output = dir.file("x.mp4");
  std::string error;
  ASSERT_TRUE(MakeThumbnail(Solid(64, 48, 255, 255, 255), output, error)) << error;
  ASSERT_TRUE(MakeThumbnail(Solid(64, 48, 0, 0, 0), output, error)) << error;
  TDecoded image;
  ASSERT_TRUE(DecodeLuma(ReadFile(dir.file("x.THM")), image));
  EXPECT_LE(RowMax(image, 60), 4); // the second, black picture
  int files = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
  // An empty picture (no video) still gives a black thumbnail.
  ASSERT_TRUE(MakeThumbnail(TBGRImage{}, output, error)) << error;
  ASSERT_TRUE(DecodeLuma(ReadFile(dir.file("x.THM")), image));
  EXPECT_EQ(image.Width, 160);
  EXPECT_LE(RowMax(image, 0), 4);
  // A folder that does not exist fails with a message and writes nothing.
  EXPECT_FALSE(MakeThumbnail(Solid(8, 8, 1, 2, 3), dir.file("none/x.mp4"), error));
  EXPECT_NE(error.find("none/x.THM"), std::string::npos) << error;
}

} // namespace
