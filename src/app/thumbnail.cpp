#include "app/thumbnail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "app/i18n.h"

namespace {

// ANum / ADen rounded to the nearest integer, ties to even (both positive).
int64_t RoundDivToEven(int64_t ANum, int64_t ADen) {
  const int64_t q = ANum / ADen;
  const int64_t twiceRest = 2 * (ANum % ADen);
  if (twiceRest > ADen || (twiceRest == ADen && (q & 1)))
    return q + 1;
  return q;
}

void Fill(TBGRImage &AImage, TRGBColor AColor) {
  const uint8_t b = AColor & 0xFF, g = (AColor >> 8) & 0xFF, r = (AColor >> 16) & 0xFF;
  for (int y = 0; y < AImage.Height; ++y) {
    uint8_t *p = AImage.Row(y);
    for (int x = 0; x < AImage.Width; ++x, p += 3) {
      p[0] = b;
      p[1] = g;
      p[2] = r;
    }
  }
}

// Per source column (or row), the share in 1/1024 that belongs to the output column it starts
// in; a value other than 1024 marks the column where an output column ends.
std::vector<uint32_t> BoxWeights(int ASrc, double AScale) {
  std::vector<uint32_t> w(ASrc, 1024);
  int k = 0;
  for (int i = 0; i < ASrc; ++i) {
    const double b = (k + 1) * AScale;
    if (i + 1 <= b) {
      w[i] = 1024;
    } else if (i <= b) {
      w[i] = static_cast<uint32_t>((b - i) * 1024);
      ++k;
    }
  }
  return w;
}

void BoxReduce(const TBGRImage &ASrc, TBGRImage &ADst) {
  const int srcW = ASrc.Width, srcH = ASrc.Height, w = ADst.Width, h = ADst.Height;
  const std::vector<uint32_t> wx = BoxWeights(srcW, static_cast<double>(srcW) / w);
  const std::vector<uint32_t> wy = BoxWeights(srcH, static_cast<double>(srcH) / h);
  // 64-bit sums: 32 bits overflow for very tall reductions (more than ~8000 rows per output row).
  std::vector<uint64_t> acc(static_cast<size_t>(srcW) * 3, 0);
  uint64_t rowWeights = 0;
  int outY = 0;
  for (int j = 0; j < srcH; ++j) {
    const uint8_t *row = ASrc.Row(j);
    for (int i = 0; i < srcW * 3; ++i)
      acc[i] += uint64_t{wy[j]} * row[i];
    rowWeights += wy[j];
    if (wy[j] == 1024 && j != srcH - 1)
      continue;
    if (outY < h) {
      uint8_t *out = ADst.Row(outY);
      uint64_t sum[3] = {0, 0, 0};
      uint64_t colWeights = 0;
      int outX = 0;
      for (int i = 0; i < srcW; ++i) {
        for (int c = 0; c < 3; ++c)
          sum[c] += uint64_t{wx[i]} * acc[3 * i + c];
        colWeights += wx[i];
        if (wx[i] == 1024 && i != srcW - 1)
          continue;
        const uint64_t total = rowWeights * colWeights;
        if (outX < w && total > 0)
          for (int c = 0; c < 3; ++c)
            out[3 * outX + c] = static_cast<uint8_t>(std::min<uint64_t>(sum[c] / total, 255));
        ++outX;
        const uint64_t carry = 1024 - wx[i];
        for (int c = 0; c < 3; ++c)
          sum[c] = carry * acc[3 * i + c];
        colWeights = carry;
      }
      ++outY;
    }
    const uint64_t carry = 1024 - wy[j];
    for (int i = 0; i < srcW * 3; ++i)
      acc[i] = carry * row[i];
    rowWeights = carry;
  }
}

// Area-averaging weights of one axis: each output pixel covers [i*s, (i+1)*s) of the source,
// and every source pixel contributes by the length it shares with that interval.
struct TAreaTaps {
  std::vector<int> First, Count;
  std::vector<size_t> Offset; // index of each output pixel's first weight
  std::vector<float> Weight;
};

TAreaTaps AreaTaps(int ASrc, int ADst) {
  TAreaTaps taps;
  const double scale = static_cast<double>(ASrc) / ADst;
  for (int i = 0; i < ADst; ++i) {
    const double a = i * scale, b = std::min<double>((i + 1) * scale, ASrc);
    int first = std::min(static_cast<int>(a), ASrc - 1);
    int count = 0;
    double total = 0;
    const size_t start = taps.Weight.size();
    for (int j = first; j < ASrc && j < b; ++j) {
      const double overlap = std::min<double>(b, j + 1) - std::max<double>(a, j);
      if (overlap <= 0)
        continue;
      if (count == 0)
        first = j;
      taps.Weight.push_back(static_cast<float>(overlap));
      total += overlap;
      ++count;
    }
    if (count == 0) { // cannot happen for sane sizes; keep the nearest pixel
      taps.Weight.push_back(1.0f);
      total = 1;
      count = 1;
    }
    for (size_t k = start; k < taps.Weight.size(); ++k)
      taps.Weight[k] = static_cast<float>(taps.Weight[k] / total);
    taps.First.push_back(first);
    taps.Count.push_back(count);
    taps.Offset.push_back(start);
  }
  return taps;
}

void AreaStretch(const TBGRImage &ASrc, TBGRImage &ADst) {
  const int srcH = ASrc.Height, w = ADst.Width, h = ADst.Height;
  const TAreaTaps tx = AreaTaps(ASrc.Width, w), ty = AreaTaps(srcH, h);
  std::vector<float> columns(static_cast<size_t>(srcH) * w * 3); // horizontal pass
  for (int y = 0; y < srcH; ++y) {
    const uint8_t *row = ASrc.Row(y);
    float *out = &columns[static_cast<size_t>(y) * w * 3];
    for (int x = 0; x < w; ++x) {
      float s[3] = {0, 0, 0};
      const float *weights = &tx.Weight[tx.Offset[x]];
      for (int t = 0; t < tx.Count[x]; ++t) {
        const uint8_t *p = row + 3 * (tx.First[x] + t);
        for (int c = 0; c < 3; ++c)
          s[c] += weights[t] * p[c];
      }
      for (int c = 0; c < 3; ++c)
        out[3 * x + c] = s[c];
    }
  }
  for (int y = 0; y < h; ++y) {
    uint8_t *out = ADst.Row(y);
    const float *weights = &ty.Weight[ty.Offset[y]];
    for (int x = 0; x < w * 3; ++x) {
      float s = 0;
      for (int t = 0; t < ty.Count[y]; ++t)
        s += weights[t] * columns[static_cast<size_t>(ty.First[y] + t) * w * 3 + x];
      out[x] = static_cast<uint8_t>(std::clamp(s + 0.5f, 0.0f, 255.0f));
    }
  }
}

// libjpeg reports errors through error_exit, which must not return; we jump back out of the
// compression (no C++ objects with destructors live between setjmp and longjmp).
struct TJpegErrorManager {
  jpeg_error_mgr Base;
  jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr AInfo) {
  auto *err = reinterpret_cast<TJpegErrorManager *>(AInfo->err);
  (*AInfo->err->format_message)(AInfo, err->Message);
  longjmp(err->Jump, 1);
}

// Plain C-style core of EncodeJpeg; ARowBuffer holds one RGB row. Returns false on failure.
bool CompressRGB(const TBGRImage &APicture, int AQuality, unsigned char *ARowBuffer,
                 unsigned char **AOut, unsigned long *AOutSize, char *AMessage) {
  jpeg_compress_struct info;
  TJpegErrorManager err;
  info.err = jpeg_std_error(&err.Base);
  err.Base.error_exit = JpegErrorExit;
  err.Message[0] = '\0';
  if (setjmp(err.Jump)) {
    std::memcpy(AMessage, err.Message, JMSG_LENGTH_MAX); // AMessage holds JMSG_LENGTH_MAX
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, AOut, AOutSize);
  info.image_width = static_cast<JDIMENSION>(APicture.Width);
  info.image_height = static_cast<JDIMENSION>(APicture.Height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, AQuality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    const uint8_t *src = APicture.Row(static_cast<int>(info.next_scanline));
    for (int x = 0; x < APicture.Width; ++x) {
      ARowBuffer[3 * x] = src[3 * x + 2];
      ARowBuffer[3 * x + 1] = src[3 * x + 1];
      ARowBuffer[3 * x + 2] = src[3 * x];
    }
    JSAMPROW rows[1] = {ARowBuffer};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

bool WriteAll(int AFd, const std::string &AData) {
  size_t done = 0;
  while (done < AData.size()) {
    const ssize_t n = ::write(AFd, AData.data() + done, AData.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

} // namespace

void FitSize(int ASrcW, int ASrcH, int ABoxW, int ABoxH, int &AW, int &AH) {
  AW = ABoxW;
  AH = ABoxH;
  if (ASrcW <= 0 || ASrcH <= 0 || ABoxW <= 0 || ABoxH <= 0)
    return;
  // Compared by cross products: exact, and the same answer as comparing the two ratios.
  const int64_t box = int64_t{ABoxW} * ASrcH, src = int64_t{ASrcW} * ABoxH;
  if (box < src)
    AH = static_cast<int>(RoundDivToEven(int64_t{ASrcH} * ABoxW, ASrcW));
  else if (box > src)
    AW = static_cast<int>(RoundDivToEven(int64_t{ASrcW} * ABoxH, ASrcH));
  // A very long picture (4096x2) would get a side of 0 pixels, which no encoder takes; 2 keeps
  // the side even for the chroma planes.
  AW = std::max(AW, std::min(2, ABoxW));
  AH = std::max(AH, std::min(2, ABoxH));
}

void ResamplePicture(const TBGRImage &ASrc, TBGRImage &ADst, int AW, int AH,
                     TRGBColor ABackground) {
  ADst.Resize(std::max(AW, 0), std::max(AH, 0));
  Fill(ADst, ABackground);
  if (ASrc.Empty() || ADst.Empty())
    return;
  if (ASrc.Width > AW && ASrc.Height > AH)
    BoxReduce(ASrc, ADst);
  else
    AreaStretch(ASrc, ADst);
}

int DisplayWidth(int AW, int AH, double ADisplayAspect) {
  if (ADisplayAspect <= 0 || AH <= 0 || AW <= 0 || ADisplayAspect > 100)
    return AW;
  return static_cast<int>(std::lround(AH * ADisplayAspect));
}

void FitOnCanvas(const TBGRImage &APicture, TBGRImage &ACanvas, int ABoxW, int ABoxH,
                 double ADisplayAspect) {
  ACanvas.Resize(ABoxW, ABoxH, true);
  if (APicture.Empty())
    return;
  int w = 0, h = 0;
  FitSize(DisplayWidth(APicture.Width, APicture.Height, ADisplayAspect), APicture.Height, ABoxW,
          ABoxH, w, h);
  TBGRImage fitted;
  ResamplePicture(APicture, fitted, w, h, ColorBlack);
  const int left = (ABoxW - w) / 2, top = (ABoxH - h) / 2;
  for (int y = 0; y < h; ++y)
    std::memcpy(ACanvas.Row(top + y) + 3 * left, fitted.Row(y), static_cast<size_t>(w) * 3);
}

std::string ThumbnailFileName(const std::string &AOutputFileName) {
  const size_t slash = AOutputFileName.find_last_of('/');
  const size_t dot = AOutputFileName.find_last_of('.');
  const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExt ? AOutputFileName.substr(0, dot) : AOutputFileName) + ".THM";
}

bool EncodeJpeg(const TBGRImage &APicture, int AQuality, std::string &AJpeg, std::string &AError) {
  if (APicture.Empty()) {
    AError = _("empty picture");
    return false;
  }
  std::vector<unsigned char> row(static_cast<size_t>(APicture.Width) * 3);
  unsigned char *out = nullptr;
  unsigned long outSize = 0;
  char message[JMSG_LENGTH_MAX] = {};
  const bool ok = CompressRGB(APicture, AQuality, row.data(), &out, &outSize, message);
  if (ok)
    AJpeg.assign(reinterpret_cast<const char *>(out), outSize);
  else
    AError = std::string("JPEG compression failed: ") + message;
  std::free(out);
  return ok;
}

bool MakeThumbnail(const TBGRImage &APicture, const std::string &AOutputFileName,
                   std::string &AError, double ADisplayAspect) {
  TBGRImage canvas;
  FitOnCanvas(APicture, canvas, ThumbnailWidth, ThumbnailHeight, ADisplayAspect);
  std::string jpeg;
  if (!EncodeJpeg(canvas, ThumbnailQuality, jpeg, AError))
    return false;
  const std::string name = ThumbnailFileName(AOutputFileName);
  std::string temp = name + ".tmp-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    AError = FormatText(_("Cannot create %s: %s"), name.c_str(), std::strerror(errno));
    return false;
  }
  // mkstemp makes the file private; a thumbnail is as readable as the video beside it.
  if (::fchmod(fd, 0644) != 0) {
  }
  bool ok = WriteAll(fd, jpeg);
  if (::close(fd) != 0)
    ok = false;
  if (ok && ::rename(temp.c_str(), name.c_str()) == 0)
    return true;
  AError = FormatText(_("Cannot write %s: %s"), name.c_str(), std::strerror(errno));
  ::unlink(temp.c_str());
  return false;
}
