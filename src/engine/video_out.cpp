// Video frame output: picture pre-processing (deinterlacing, the application's custom hook, the
// frame-hook modules), the constant-frame-rate rule, crop, scale, pad, encoding and the video
// statistics file.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/custom_ffmpeg.h"
#include "engine/picture_ops.h"
#include "engine/transcode_types.h"
#include "medialib/words.h"

namespace {

// Grows an av_malloc'd buffer to at least ASize bytes; its content is not kept.
bool growBuffer(uint8_t *&ABuffer, int &ABufferSize, int ASize) {
  if (ABuffer && ABufferSize >= ASize)
    return true;
  avlib.av_freep(&ABuffer);
  ABufferSize = 0;
  ABuffer = static_cast<uint8_t *>(avlib.av_malloc(static_cast<size_t>(ASize)));
  if (!ABuffer)
    return false;
  ABufferSize = ASize;
  return true;
}

// The bitmap holds 3 bytes per pixel in one plane; the RGB side of the round trip must match.
bool isPacked24(AVPixelFormat AFormat) {
  const AVPixFmtDescriptor *desc = avlib.av_pix_fmt_desc_get(AFormat);
  return desc && (desc->flags & AV_PIX_FMT_FLAG_RGB) && !(desc->flags & AV_PIX_FMT_FLAG_PLANAR) &&
         desc->nb_components == 3 && desc->comp[0].step == 3;
}

std::string exceptionText(const std::exception_ptr &AError) {
  try {
    std::rethrow_exception(AError);
  } catch (const std::exception &e) {
    return e.what();
  } catch (...) {
    return M_("unknown exception");
  }
}

double psnr(double ADistortion) { return -10.0 * std::log10(ADistortion); }

} // namespace

// ---------------------------------------------------------------------------------------------
// Picture pre-processing
// ---------------------------------------------------------------------------------------------

void TCustomFFmpeg::PreProcessVideoFrame(TInputStream &AIst, AVFrame *APicture) {
  const int64_t pts = AIst.Pts;
  // The picture describes itself; the decoder context may already speak of the next one.
  const auto format = static_cast<AVPixelFormat>(APicture->format);
  const int width = APicture->width, height = APicture->height;
  ++HookFrameNumber;

  if (!OnCustomHook && UsingVHook) {
    if (OnBeforeHook) {
      try {
        OnBeforeHook(this, HookAction, pts);
      } catch (...) {
        Log(0, M_("Error occurs OnBeforeHook: ") + exceptionText(std::current_exception()));
        HookAction = haStop;
      }
      if (HookAction == haStop)
        UsingVHook = false;
    } else if (TimeRangeCount > 0) {
      const int count = std::min(TimeRangeCount, static_cast<int>(TimeRanges.size()));
      if (TimeRangeIndex < 0 || TimeRangeIndex >= count)
        TimeRangeIndex = 0;
      HookAction = haIgnore;
      for (int i = TimeRangeIndex; i < count; ++i) {
        const TTimeRange &range = TimeRanges[i];
        if (range.Start <= pts && pts <= range.Stop) {
          TimeRangeIndex = i;
          HookAction = haContinue;
          break;
        }
        if (i == count - 1 && pts > range.Stop) {
          HookAction = haStop;
          UsingVHook = false;
        }
      }
    }
  }

  const bool modulesRun = UsingVHook && HookAction == haContinue;
  if (!(Deinterlace || OnCustomHook || modulesRun))
    return;
  if (width <= 0 || height <= 0)
    return;

  // Hooks never write into the decoder's picture: the decoder may still refer to it.
  const TPicturePlanes input = PlanesOf(APicture);
  TPicturePlanes work;
  const int size = avlib.av_image_get_buffer_size(format, width, height, 1);
  if (size <= 0 || !growBuffer(HookBuffer, HookBufferSize, size)) {
    Log(0, M_("hook buf malloc error."));
    return;
  }
  avlib.av_image_fill_arrays(work.data, work.linesize, HookBuffer, format, width, height, 1);
  bool copy = !Deinterlace;
  if (Deinterlace && !DeinterlacePicture(work, input, format, width, height)) {
    Log(0, M_("deinterlace error."));
    copy = true; // the picture goes on as it came
  }
  if (copy)
    avlib.av_image_copy(work.data, work.linesize, const_cast<const uint8_t **>(input.data),
                        input.linesize, format, width, height);

  if (OnCustomHook) {
    RunCustomHook(work, format, APicture->color_range, APicture->colorspace, width, height, pts);
  } else if (modulesRun) {
    KorveloHookPicture picture;
    std::memcpy(picture.data, work.data, sizeof picture.data);
    std::memcpy(picture.linesize, work.linesize, sizeof picture.linesize);
    FrameHookProcess(FrameHooks, &picture, format, width, height, pts);
    std::memcpy(work.data, picture.data, sizeof work.data);
    std::memcpy(work.linesize, picture.linesize, sizeof work.linesize);
  }
  SetPlanes(APicture, work);
}

void TCustomFFmpeg::RunCustomHook(TPicturePlanes &AWork, AVPixelFormat AFormat, AVColorRange ARange,
                                  AVColorSpace AColorspace, int AWidth, int AHeight, int64_t APts) {
  const auto rgbFormat = static_cast<AVPixelFormat>(HookRGBPixFmt);
  bool stop = false;
  TPicturePlanes rgb;
  if (!isPacked24(rgbFormat)) {
    Log(0, M_("Cannot initialize the toRGB conversion context"));
    stop = true;
  } else if (AFormat == rgbFormat) {
    rgb = AWork;
  } else {
    const int size = avlib.av_image_get_buffer_size(rgbFormat, AWidth, AHeight, 1);
    if (size <= 0 || !growBuffer(RGBBuffer, RGBBufferSize, size)) {
      Log(0, M_("hook buf malloc error."));
      return;
    }
    avlib.av_image_fill_arrays(rgb.data, rgb.linesize, RGBBuffer, rgbFormat, AWidth, AHeight, 1);
    // The bitmap shows full-range, deep-colour and HD pictures in their true colours.
    TScalerSetup toRGB;
    toRGB.SrcWidth = toRGB.DstWidth = AWidth;
    toRGB.SrcHeight = toRGB.DstHeight = AHeight;
    toRGB.SetSource(AFormat, ARange, AColorspace);
    toRGB.SetDestination(rgbFormat, AVCOL_RANGE_JPEG);
    toRGB.Flags = SWS_BICUBIC;
    if (!FitScaler(ToRGBContext, ToRGBSetup, toRGB)) {
      Log(0, M_("Cannot initialize the toRGB conversion context"));
      stop = true;
    } else {
      avlib.sws_scale(ToRGBContext, AWork.data, AWork.linesize, 0, AHeight, rgb.data, rgb.linesize);
    }
  }

  if (!stop) {
    bool update = true, stopHook = false;
    {
      std::lock_guard<std::mutex> guard(HookBitmapLock);
      if (!HookBitmap)
        HookBitmap = new TBGRImage();
      if (HookBitmap->Width != AWidth || HookBitmap->Height != AHeight)
        HookBitmap->Resize(AWidth, AHeight, true);
      const size_t rowBytes = static_cast<size_t>(AWidth) * 3;
      for (int y = 0; y < AHeight; ++y)
        std::memcpy(HookBitmap->Row(y), rgb.data[0] + static_cast<ptrdiff_t>(y) * rgb.linesize[0],
                    rowBytes);
      try {
        OnCustomHook(this, *HookBitmap, HookFrameNumber, APts, update, stopHook);
      } catch (...) {
        Log(0, M_("Error occurs OnCustomHook: ") + exceptionText(std::current_exception()));
        update = false;
      }
      // The handler may have resized the bitmap; only a picture of the right size comes back.
      if (update && HookBitmap->Width == AWidth && HookBitmap->Height == AHeight)
        for (int y = 0; y < AHeight; ++y)
          std::memcpy(rgb.data[0] + static_cast<ptrdiff_t>(y) * rgb.linesize[0], HookBitmap->Row(y),
                      rowBytes);
      else
        update = false;
    }
    if (update && AFormat != rgbFormat) {
      TScalerSetup fromRGB;
      fromRGB.SrcWidth = fromRGB.DstWidth = AWidth;
      fromRGB.SrcHeight = fromRGB.DstHeight = AHeight;
      fromRGB.SetSource(rgbFormat, AVCOL_RANGE_JPEG, AVCOL_SPC_UNSPECIFIED);
      fromRGB.SetDestination(AFormat, ARange, AColorspace);
      fromRGB.Flags = SWS_BICUBIC;
      if (!FitScaler(FromRGBContext, FromRGBSetup, fromRGB)) {
        Log(0, M_("Cannot initialize the fromRGB conversion context"));
        stop = true;
      } else {
        avlib.sws_scale(FromRGBContext, rgb.data, rgb.linesize, 0, AHeight, AWork.data,
                        AWork.linesize);
      }
    }
    stop = stop || stopHook;
  }

  if (stop) {
    OnCustomHook = nullptr;
    HookAction = haStop;
    UsingVHook = false;
  }
}

// ---------------------------------------------------------------------------------------------
// Encoding
// ---------------------------------------------------------------------------------------------

void TCustomFFmpeg::DoVideoOut(AVFormatContext *AOutput, TOutputStream &AOst, TInputStream &AIst,
                               AVFrame *APicture, int &AFrameSize) {
  AVCodecContext *enc = AOst.Codec;
  AFrameSize = 0;

  const double timeBase = av_q2d(enc->time_base);
  const double ipts =
      AOst.SyncIst ? GetSyncIpts(AOst, StartTime)
                   : static_cast<double>(AIst.Pts - StartTime) / 1000000.0 - AOst.JumpedSeconds;
  const int64_t before = AOst.SyncOpts;
  int count = VideoSyncFrameCount(VideoSyncMethod, timeBase, ipts, AOst.SyncOpts);
  // A gap too long to fill: the picture follows on where the output is rather than start or
  // stand for hours there, and the pictures after it keep the shift.
  const double jumped = static_cast<double>(AOst.SyncOpts - before) * timeBase;
  if (jumped > MaxFilledGapSeconds) {
    AOst.JumpedSeconds += jumped;
    AOst.SyncOpts = before;
  }
  if (count == 0) {
    ++FramesDrop;
    if (Verbose > 2)
      Log(1, "*** drop!");
  } else if (count > 1) {
    // One picture sent count times is count - 1 duplicates.
    FramesDup += count - 1;
    if (Verbose > 2)
      LogF(1, "*** %d dup!", count - 1);
  }
  count = std::min(count, MaxFrames[AVMEDIA_TYPE_VIDEO] - AOst.FrameNumber);
  if (count <= 0)
    return;
  // A late picture (a hole in the input's timeline, or a slower input rate): until it is due,
  // the viewer goes on seeing the picture before it.
  const AVFrame *previous = AIst.LastPicture;
  if (count > 1 && previous && previous != APicture && previous->data[0]) {
    OutputPicture(AOutput, AOst, AIst, previous, count - 1, AFrameSize);
    count = 1;
  }
  OutputPicture(AOutput, AOst, AIst, APicture, count, AFrameSize);
}

// One picture on its way to the encoder: its planes at each step and where they are drawn.
struct TPictureDraw {
  AVPixelFormat DecFormat = AV_PIX_FMT_NONE;
  AVPixelFormat EncFormat = AV_PIX_FMT_NONE;
  int SrcWidth = 0, SrcHeight = 0; // of the cropped input picture
  bool Turn = false;
  TPicturePlanes Formatted; // the input picture without its bands
  TPicturePlanes Final;     // what the encoder gets
  const TPicturePlanes *PadSource = nullptr;
  TPicturePlanes Tmp;         // the canvas's planes
  TPicturePlanes ScaleTarget; // inside the pads of the canvas
  TPicturePlanes TurnSource;
  int TurnWidth = 0, TurnHeight = 0;
  TEncodePipe *Pipe = nullptr;
  AVFrame *Canvas = nullptr;
};

// Crops, scales, turns and pads the picture, then encodes it ACount times.
void TCustomFFmpeg::OutputPicture(AVFormatContext *AOutput, TOutputStream &AOst, TInputStream &AIst,
                                  const AVFrame *APicture, int ACount, int &AFrameSize) {
  TPictureDraw draw;
  if (!CropInputPicture(draw, AOst, APicture) || !PrepareCanvas(draw, AOst))
    return;
  if (AOst.VideoPad) {
    draw.Final = draw.Tmp;
    if ((AOst.VideoResample || draw.Turn) &&
        !CropPicture(draw.ScaleTarget, draw.Tmp, draw.EncFormat, AOst.PadTop, AOst.PadLeft)) {
      Log(0, M_("error padding picture"));
      return;
    }
  }
  if (!ScalePicture(draw, AOst, APicture) || !TurnAndPadPicture(draw, AOst))
    return;
  BurnSubtitles(draw, AOst);
  SendPicture(AOutput, AOst, AIst, APicture, draw, ACount, AFrameSize);
}

// The picture without its bands (of the picture as stored).
bool TCustomFFmpeg::CropInputPicture(TPictureDraw &ADraw, const TOutputStream &AOst,
                                     const AVFrame *APicture) {
  ADraw.DecFormat = static_cast<AVPixelFormat>(APicture->format);
  ADraw.EncFormat = AOst.Codec->pix_fmt;
  ADraw.SrcWidth = APicture->width;
  ADraw.SrcHeight = APicture->height;
  ADraw.Turn = !AOst.Turn.None();
  ADraw.Formatted = PlanesOf(APicture);
  if (AOst.VideoCrop) {
    ADraw.SrcWidth -= AOst.LeftBand + AOst.RightBand;
    ADraw.SrcHeight -= AOst.TopBand + AOst.BottomBand;
    TPicturePlanes cropped;
    if (ADraw.SrcWidth <= 0 || ADraw.SrcHeight <= 0 ||
        !CropPicture(cropped, ADraw.Formatted, ADraw.DecFormat, AOst.TopBand, AOst.LeftBand)) {
      Log(0, M_("error cropping picture"));
      return false;
    }
    ADraw.Formatted = cropped;
  }
  ADraw.Final = ADraw.Formatted;
  ADraw.PadSource = &ADraw.Formatted;
  return true;
}

// The picture drawn into: PictTmp, or with an encoder thread one of its pictures, as the
// decoder's picture may change before the encoder has read it.
bool TCustomFFmpeg::PrepareCanvas(TPictureDraw &ADraw, TOutputStream &AOst) {
  const bool drawn = AOst.VideoPad || AOst.VideoResample || ADraw.Turn;
  ADraw.Pipe = AOst.Pipe.get();
  ADraw.Canvas = ADraw.Pipe ? ADraw.Pipe->FreeFrame() : AOst.PictTmp;
  // An encoder that holds pictures back may still hold the last one: draw into a buffer of our
  // own (a no-op while nobody else refers to it).
  if (ADraw.Canvas && (drawn || ADraw.Pipe) && avlib.av_frame_make_writable(ADraw.Canvas) < 0)
    throw FFMpegException(M_("Video encoding failed"));
  if (ADraw.Canvas)
    ADraw.Tmp = PlanesOf(ADraw.Canvas);
  ADraw.ScaleTarget = ADraw.Tmp;
  if (drawn && !ADraw.Tmp.data[0]) {
    Log(0, AOst.VideoPad ? M_("error padding picture") : M_("Cannot get resampling context"));
    return false;
  }
  int seenWidth = ADraw.SrcWidth, seenHeight = ADraw.SrcHeight;
  TurnedSize(AOst.Turn, seenWidth, seenHeight);
  const AVCodecContext *enc = AOst.Codec;
  if (!AOst.VideoResample && (ADraw.DecFormat != ADraw.EncFormat ||
                              seenWidth + AOst.PadLeft + AOst.PadRight != enc->width ||
                              seenHeight + AOst.PadTop + AOst.PadBottom != enc->height))
    StartScalingMidRun(ADraw, AOst);
  return true;
}

// The input changed its picture size or format during the run: from here on it is scaled
// to the encoder's, as it would have been had it started so.
void TCustomFFmpeg::StartScalingMidRun(TPictureDraw &ADraw, TOutputStream &AOst) {
  const AVCodecContext *enc = AOst.Codec;
  auto allocate = [&](AVFrame *&AFrame, int AWidth, int AHeight) {
    if (!AllocPicture(AFrame, ADraw.EncFormat, AWidth, AHeight))
      throw FFMpegException(M_("Cannot allocate temp picture, check pix fmt"));
  };
  if (!ADraw.Canvas) {
    allocate(AOst.PictTmp, enc->width, enc->height);
    ADraw.Canvas = AOst.PictTmp;
    ADraw.Tmp = ADraw.ScaleTarget = PlanesOf(ADraw.Canvas);
  }
  if (ADraw.Turn && !AOst.TurnTmp) {
    int scaledWidth = enc->width - AOst.PadLeft - AOst.PadRight;
    int scaledHeight = enc->height - AOst.PadTop - AOst.PadBottom;
    TurnedSize(AOst.Turn, scaledWidth, scaledHeight);
    allocate(AOst.TurnTmp, scaledWidth, scaledHeight);
  }
  AOst.VideoResample = true;
}

// Scales into the canvas inside its pads, or into TurnTmp when the picture is turned after.
// The cached scaler follows the input should its size change during the run.
bool TCustomFFmpeg::ScalePicture(TPictureDraw &ADraw, TOutputStream &AOst,
                                 const AVFrame *APicture) {
  const AVCodecContext *enc = AOst.Codec;
  ADraw.TurnSource = ADraw.Formatted;
  ADraw.TurnWidth = ADraw.SrcWidth;
  ADraw.TurnHeight = ADraw.SrcHeight;
  if (!AOst.VideoResample)
    return true;
  ADraw.PadSource = nullptr;
  ADraw.Final = ADraw.Tmp;
  ADraw.TurnWidth = enc->width - AOst.PadLeft - AOst.PadRight;
  ADraw.TurnHeight = enc->height - AOst.PadTop - AOst.PadBottom;
  TurnedSize(AOst.Turn, ADraw.TurnWidth, ADraw.TurnHeight);
  TScalerSetup scaler;
  scaler.SrcWidth = ADraw.SrcWidth;
  scaler.SrcHeight = ADraw.SrcHeight;
  scaler.SetSource(ADraw.DecFormat, APicture->color_range, APicture->colorspace);
  scaler.DstWidth = ADraw.TurnWidth;
  scaler.DstHeight = ADraw.TurnHeight;
  scaler.SetDestination(ADraw.EncFormat, enc->color_range);
  scaler.Flags = SwsFlags;
  if (!FitScaler(AOst.ImgResampleCtx, AOst.ImgResampleSetup, scaler) ||
      (ADraw.Turn && !AOst.TurnTmp)) {
    Log(0, M_("Cannot get resampling context"));
    return false;
  }
  if (ADraw.Turn)
    ADraw.TurnSource = PlanesOf(AOst.TurnTmp);
  const TPicturePlanes &scaled = ADraw.Turn ? ADraw.TurnSource : ADraw.ScaleTarget;
  avlib.sws_scale(AOst.ImgResampleCtx, ADraw.Formatted.data, ADraw.Formatted.linesize, 0,
                  ADraw.SrcHeight, scaled.data, scaled.linesize);
  return true;
}

// Turns the (scaled) picture into the canvas as its viewer sees it, then fills the pads.
bool TCustomFFmpeg::TurnAndPadPicture(TPictureDraw &ADraw, const TOutputStream &AOst) {
  const AVCodecContext *enc = AOst.Codec;
  if (ADraw.Turn) {
    ADraw.PadSource = nullptr;
    ADraw.Final = ADraw.Tmp;
    if (!TurnPicture(ADraw.ScaleTarget, ADraw.TurnSource, ADraw.EncFormat, ADraw.TurnWidth,
                     ADraw.TurnHeight, AOst.Turn)) {
      Log(0, M_("error turning picture"));
      return false;
    }
  }
  if (AOst.VideoPad &&
      !PadPicture(ADraw.Final, ADraw.PadSource, enc->height, enc->width, ADraw.EncFormat,
                  AOst.PadTop, AOst.PadBottom, AOst.PadLeft, AOst.PadRight, PadColor)) {
    Log(0, M_("error padding picture"));
    return false;
  }
  return true;
}

// Burn-in: subtitles are drawn last, on the encoder's picture, into a buffer of our own (the
// decoder's picture is not ours to write).
void TCustomFFmpeg::BurnSubtitles(TPictureDraw &ADraw, TOutputStream &AOst) {
  TSubtitleBurner *burner = TranscodeRun->Burner.get();
  if (!burner)
    return;
  const AVCodecContext *enc = AOst.Codec;
  if (ADraw.Final.data[0] != ADraw.Tmp.data[0]) {
    if (!ADraw.Canvas) {
      if (!AllocPicture(AOst.PictTmp, ADraw.EncFormat, enc->width, enc->height))
        throw FFMpegException(M_("Cannot allocate temp picture, check pix fmt"));
      ADraw.Canvas = AOst.PictTmp;
    }
    if (avlib.av_frame_make_writable(ADraw.Canvas) < 0)
      throw FFMpegException(M_("Video encoding failed"));
    ADraw.Tmp = PlanesOf(ADraw.Canvas);
    avlib.av_image_copy(ADraw.Tmp.data, ADraw.Tmp.linesize,
                        const_cast<const uint8_t **>(ADraw.Final.data), ADraw.Final.linesize,
                        ADraw.EncFormat, enc->width, enc->height);
    ADraw.Final = ADraw.Tmp;
  }
  burner->Draw(ADraw.Final.data, ADraw.Final.linesize,
               std::llrint(static_cast<double>(AOst.SyncOpts) * av_q2d(enc->time_base) * 1000.0));
}

// No muxer of these libraries takes raw pictures instead of packets, so every picture goes
// through the encoder. A scaled or padded picture goes as the canvas itself: its buffer is
// reference-counted, so the encoder takes a reference instead of allocating and filling a copy
// of every picture. Any other picture goes in EncoderFrame, which only points at it; the
// library copies what it keeps.
void TCustomFFmpeg::SendPicture(AVFormatContext *AOutput, TOutputStream &AOst,
                                const TInputStream &AIst, const AVFrame *APicture,
                                TPictureDraw &ADraw, int ACount, int &AFrameSize) {
  const AVCodecContext *enc = AOst.Codec;
  if (!AOst.EncoderFrame) {
    AOst.EncoderFrame = avlib.av_frame_alloc();
    if (!AOst.EncoderFrame)
      throw FFMpegException(M_("Video encoding failed"));
  }
  if (ADraw.Pipe && ADraw.Final.data[0] != ADraw.Tmp.data[0]) {
    avlib.av_image_copy(ADraw.Tmp.data, ADraw.Tmp.linesize,
                        const_cast<const uint8_t **>(ADraw.Final.data), ADraw.Final.linesize,
                        ADraw.EncFormat, enc->width, enc->height);
    ADraw.Final = ADraw.Tmp;
  }
  const bool sendCanvas = ADraw.Canvas && ADraw.Final.data[0] == ADraw.Tmp.data[0];
  AVFrame *frame = sendCanvas ? ADraw.Canvas : AOst.EncoderFrame;

  if (ADraw.Pipe) {
    // The encoder thread reads the picture from its first hand-over on: it is described once,
    // and a repeated picture only gets another time stamp. Its packets are counted as they
    // come back.
    DescribePicture(frame, AOst, AIst, APicture);
    for (int i = 0; i < ACount && !StopRequested; ++i) {
      CheckPause();
      if (StopRequested)
        break;
      ADraw.Pipe->Send(frame, AOst.SyncOpts);
      ++AOst.SyncOpts;
      ++AOst.FrameNumber;
    }
    return;
  }
  for (int i = 0; i < ACount && !StopRequested; ++i) {
    CheckPause();
    if (StopRequested)
      break;
    if (!sendCanvas) {
      avlib.av_frame_unref(frame);
      SetPlanes(frame, ADraw.Final);
    }
    DescribePicture(frame, AOst, AIst, APicture);
    frame->pts = AOst.SyncOpts;
    const int64_t written = EncodeFrame(AOutput, AOst, frame, M_("Video encoding failed"));
    if (written > 0) {
      AFrameSize = static_cast<int>(written);
      VideoSize += written;
    }
    if (!sendCanvas)
      avlib.av_frame_unref(frame);
    ++AOst.SyncOpts;
    ++AOst.FrameNumber;
  }
}

// What the encoder reads beside the planes: format, size, aspect, range, fields and quality.
void TCustomFFmpeg::DescribePicture(AVFrame *AFrame, const TOutputStream &AOst,
                                    const TInputStream &AIst, const AVFrame *APicture) const {
  const AVCodecContext *enc = AOst.Codec;
  int interlaceFlags = enc->flags;
  if (CodecDefaults[AVMEDIA_TYPE_VIDEO])
    interlaceFlags |= CodecDefaults[AVMEDIA_TYPE_VIDEO]->flags;
  const bool interlacedCoding =
      (interlaceFlags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME)) != 0;
  AFrame->format = enc->pix_fmt;
  AFrame->width = enc->width;
  AFrame->height = enc->height;
  AFrame->sample_aspect_ratio = enc->sample_aspect_ratio;
  AFrame->color_range = enc->color_range;
  AFrame->interlaced_frame = APicture->interlaced_frame;
  AFrame->top_field_first = APicture->top_field_first;
  if (interlacedCoding && TopFieldFirst != -1)
    AFrame->top_field_first = TopFieldFirst;
  AFrame->quality = static_cast<int>(std::lrint(SameQuality ? AIst.Quality : enc->global_quality));
  AFrame->pict_type = MeThreshold == 0 ? AV_PICTURE_TYPE_NONE : APicture->pict_type;
}

// ---------------------------------------------------------------------------------------------
// Video statistics
// ---------------------------------------------------------------------------------------------

void TCustomFFmpeg::DoVideoStats(AVFormatContext *, TOutputStream &AOst, int AFrameSize,
                                 int AFrameNumber, int64_t ASyncOpts) {
  if (!VStatsFile) {
    VStatsFile = VStatsFileName ? std::fopen(VStatsFileName, "w") : nullptr;
    if (!VStatsFile)
      throw FFMpegException(std::string(M_("fopen fail: ")) +
                            (VStatsFileName ? VStatsFileName : ""));
  }
  const AVCodecContext *enc = AOst.Codec;
  if (enc->codec_type != AVMEDIA_TYPE_VIDEO)
    return;
  const TCodedFrameInfo &coded = AOst.CodedFrame;
  std::fprintf(VStatsFile, "frame= %5d q= %2.1f ", AFrameNumber,
               coded.Quality / static_cast<float>(FF_QP2LAMBDA));
  if (enc->flags & AV_CODEC_FLAG_PSNR)
    std::fprintf(VStatsFile, "PSNR= %6.2f ",
                 psnr(coded.Error[0] / (enc->width * enc->height * 255.0 * 255.0)));
  std::fprintf(VStatsFile, "f_size= %6d ", AFrameSize);
  const double timeBase = av_q2d(enc->time_base);
  const double ti1 = std::max(ASyncOpts * timeBase, 0.01);
  const double bitrate = timeBase > 0 ? AFrameSize * 8 / timeBase / 1000.0 : 0;
  const double avgBitrate = VideoSize * 8 / ti1 / 1000.0;
  std::fprintf(VStatsFile, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
               VideoSize / 1024.0, ti1, bitrate, avgBitrate);
  std::fprintf(VStatsFile, "type= %c\n", avlib.av_get_picture_type_char(coded.PictType));
}
