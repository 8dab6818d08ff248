#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "engine/custom_ffmpeg.h"
#include "engine/transcode_types.h"

namespace {

// Appends to a fixed line buffer, never past its end.
class ReportLine {
public:
  void Append(const char *AFormat, ...) __attribute__((format(printf, 2, 3))) {
    if (FLength >= sizeof FBuffer - 1)
      return;
    va_list args;
    va_start(args, AFormat);
    const int written = std::vsnprintf(FBuffer + FLength, sizeof FBuffer - FLength, AFormat, args);
    va_end(args);
    if (written > 0)
      FLength = std::min(sizeof FBuffer - 1, FLength + static_cast<size_t>(written));
  }
  const char *Text() const { return FBuffer; }

private:
  char FBuffer[1024] = {};
  size_t FLength = 0;
};

double Psnr(double AError) { return -10.0 * std::log10(AError); }

// The quantiser histogram of the first video stream, one hex digit (log2 of the count) per value.
void AppendQpHistogram(ReportLine &ALine, int *AHistogram, int AQuality) {
  const int qp = static_cast<int>(std::lround(AQuality / static_cast<double>(FF_QP2LAMBDA)));
  if (qp >= 0 && qp < 52)
    ++AHistogram[qp];
  for (int j = 0; j < 32; ++j)
    ALine.Append("%X",
                 static_cast<int>(std::lround(std::log(AHistogram[j] + 1.0) / std::log(2.0))));
}

// The picture quality per plane: of the last picture while running, of the whole run at the end.
void AppendPsnr(ReportLine &ALine, const AVCodecContext *AEnc, const TOutputStream &AOst,
                bool AIsLastReport, int AFrameNumber) {
  double errorSum = 0, scaleSum = 0;
  ALine.Append("PSNR=");
  for (int j = 0; j < 3; ++j) {
    double error =
        AIsLastReport ? static_cast<double>(AEnc->error[j]) : static_cast<double>(AOst.Error[j]);
    double scale = static_cast<double>(AEnc->width) * AEnc->height * 255.0 * 255.0;
    if (AIsLastReport)
      scale *= AFrameNumber;
    if (j)
      scale /= 4;
    errorSum += error;
    scaleSum += scale;
    ALine.Append("%c:%2.2f ", "YUV"[j], Psnr(error / scale));
  }
  ALine.Append("*:%2.2f ", Psnr(errorSum / scaleSum));
}

} // namespace

// The progress line (or the OnProgress call) with frames, speed, quality, size and time; at the
// end of the run also the sizes of the streams.
void TCustomFFmpeg::PrintReport(bool AIsLastReport) {
  if (!TranscodeRun || OutputFileCount == 0)
    return;
  AVFormatContext *output = OutputFiles[0];
  int64_t totalSize = 0;
  if (output && output->pb) {
    totalSize = avlib.avio_size(output->pb);
    if (totalSize < 0)
      totalSize = avlib.avio_seek(output->pb, 0, SEEK_CUR); // avio_tell, through the table
  }

  ReportLine line;
  double ti1 = 1e10;
  int frameNumber = -1;
  int fps = -1;
  float q = -1.0f;
  bool firstVideo = true;
  for (TOutputStream &ost : TranscodeRun->OutputStreams) {
    AVCodecContext *enc = ost.Codec;
    const bool isVideo = ost.Stream && ost.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    if (isVideo) {
      const float streamQ =
          ost.EncodingNeeded ? ost.Quality / static_cast<float>(FF_QP2LAMBDA) : -1.0f;
      if (!firstVideo) {
        line.Append("q=%2.1f ", streamQ);
      } else {
        firstVideo = false;
        const double t = (avlib.av_gettime() - TimerStart) / 1000000.0;
        frameNumber = ost.FrameNumber;
        // Nothing is reported before the first video frame has been encoded.
        if (frameNumber < 1)
          return;
        fps = t > 1 ? static_cast<int>(std::lround(frameNumber / t)) : 0;
        q = streamQ;
        line.Append("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, q);
        if (AIsLastReport)
          line.Append("L");
        if (QpHist && ost.EncodingNeeded)
          AppendQpHistogram(line, QpHistogram, ost.Quality);
        if (enc && (enc->flags & AV_CODEC_FLAG_PSNR))
          AppendPsnr(line, enc, ost, AIsLastReport, frameNumber);
      }
    }
    if (ost.Stream && ost.CurrentPts != AV_NOPTS_VALUE) {
      const double pts = ost.CurrentPts * av_q2d(ost.Stream->time_base);
      if (pts > 0 && pts < ti1)
        ti1 = pts;
    }
  }
  if (ti1 < 0.01)
    ti1 = 0.01;

  if (OnProgress || Verbose > 0 || AIsLastReport) {
    const double bitrate = totalSize * 8 / ti1 / 1000.0;
    line.Append("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", totalSize / 1024.0, ti1, bitrate);
    if (Verbose > 1)
      line.Append(" dup=%d drop=%d", FramesDup, FramesDrop);
    // Before any stream has a time, ti1 is still its 1e10 start value: no duration yet.
    const int currentMs = ti1 >= 1e10 ? 0 : static_cast<int>(std::min(ti1 * 1000, 2147483647.0));
    if (OnProgress)
      OnProgress(this, frameNumber, fps, currentMs, q, static_cast<float>(bitrate), totalSize,
                 OutputDurationMs);
    else if (Verbose >= 0)
      Log(1, line.Text());
  }

  if (AIsLastReport && Verbose >= 0 && OnLog)
    LogMuxingOverhead(totalSize);
}

// The sizes of the encoded streams and what the container added to them.
void TCustomFFmpeg::LogMuxingOverhead(int64_t ATotalSize) {
  const int64_t raw = VideoSize + AudioSize + ExtraSize;
  char overhead[64];
  // With nothing written there is no overhead to compute.
  if (raw > 0)
    std::snprintf(overhead, sizeof overhead, "%f%%", 100.0 * (ATotalSize - raw) / raw);
  else
    std::snprintf(overhead, sizeof overhead, "unknown");
  LogF(1, "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %s\r\n",
       VideoSize / 1024.0, AudioSize / 1024.0, ExtraSize / 1024.0, overhead);
}
