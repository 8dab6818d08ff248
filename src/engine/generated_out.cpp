// Streams the inputs have nothing for: silence for an audio stream, black pictures for a video
// stream. Each is encoded from one frame made once and reused, and kept level with the real
// (input-fed) streams of its file, so that both end together.
#include <algorithm>
#include <cmath>

#include "engine/custom_ffmpeg.h"
#include "engine/transcode_types.h"
#include "medialib/words.h"

namespace {

// Seconds of output the real audio and video streams of a file have reached (the furthest of
// them); negative when the file has none.
double RealPosition(const TTranscodeRun &ARun, int AFileIndex) {
  double position = -1;
  for (const TOutputStream &ost : ARun.OutputStreams) {
    if (ost.FileIndex != AFileIndex || ost.Generated || !ost.Codec)
      continue;
    const AVMediaType type = ost.Codec->codec_type;
    if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO)
      continue;
    // Encoded streams: what was handed to the encoder, which is what the stream will last.
    double at;
    if (ost.EncodingNeeded)
      at = static_cast<double>(ost.SyncOpts) * av_q2d(ost.Codec->time_base);
    else
      at = ost.CurrentPts == AV_NOPTS_VALUE
               ? 0.0
               : static_cast<double>(ost.CurrentPts) * av_q2d(ost.Stream->time_base);
    position = std::max(position, at);
  }
  return position;
}

} // namespace

void TCustomFFmpeg::OpenGeneratedStream(TOutputStream &AOst) {
  AVCodecContext *enc = AOst.Codec;
  if (!AOst.EncoderFrame) {
    AOst.EncoderFrame = avlib.av_frame_alloc();
    if (!AOst.EncoderFrame)
      throw FFMpegException(M_("Not enough memory"));
  }
  AVFrame *frame = AOst.EncoderFrame;
  avlib.av_frame_unref(frame);
  const std::string failText =
      FormatText(enc->codec_type == AVMEDIA_TYPE_VIDEO
                     ? M_("Cannot make the black picture of output stream #%d.%d")
                     : M_("Cannot make the silence of output stream #%d.%d"),
                 AOst.FileIndex, AOst.Index);
  switch (enc->codec_type) {
  case AVMEDIA_TYPE_AUDIO: {
    frame->format = enc->sample_fmt;
    frame->sample_rate = enc->sample_rate;
    if (avlib.av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout) < 0)
      throw FFMpegException(failText);
    // Encoders of any frame length take the silence in frames of this size.
    frame->nb_samples = enc->frame_size > 0 ? enc->frame_size : 1024;
    if (enc->sample_rate <= 0 || frame->ch_layout.nb_channels <= 0 ||
        avlib.av_frame_get_buffer(frame, 0) < 0)
      throw FFMpegException(failText);
    avlib.av_samples_set_silence(frame->extended_data, 0, frame->nb_samples,
                                 frame->ch_layout.nb_channels, enc->sample_fmt);
    AOst.EncoderFrameCapacity = frame->nb_samples;
    break;
  }
  case AVMEDIA_TYPE_VIDEO: {
    frame->format = enc->pix_fmt;
    frame->width = enc->width;
    frame->height = enc->height;
    if (enc->pix_fmt == AV_PIX_FMT_NONE || enc->width <= 0 || enc->height <= 0 ||
        avlib.av_frame_get_buffer(frame, 0) < 0)
      throw FFMpegException(failText);
    ptrdiff_t linesizes[4];
    for (int i = 0; i < 4; ++i)
      linesizes[i] = frame->linesize[i];
    if (avlib.av_image_fill_black(frame->data, linesizes, enc->pix_fmt, enc->color_range,
                                  enc->width, enc->height) < 0)
      throw FFMpegException(failText);
    frame->sample_aspect_ratio = enc->sample_aspect_ratio;
    break;
  }
  default:
    throw FFMpegException(failText);
  }
}

void TCustomFFmpeg::FeedGeneratedStreams(bool AEndOfRun) {
  TTranscodeRun &run = *TranscodeRun;
  if (!run.HasGeneratedStreams)
    return;
  for (TOutputStream &ost : run.OutputStreams) {
    if (!ost.Generated || !ost.Codec || !ost.EncoderFrame)
      continue;
    AVFormatContext *os = OutputFiles[ost.FileIndex];
    AVCodecContext *enc = ost.Codec;
    AVFrame *frame = ost.EncoderFrame; // its buffer is never written again: it may be shared
    const double target = RealPosition(run, ost.FileIndex);

    if (enc->codec_type == AVMEDIA_TYPE_AUDIO) {
      // The sample clock counts in the encoder time base, one tick per sample.
      const int64_t end = std::llround(std::max(target, 0.0) / av_q2d(enc->time_base));
      const int full = ost.EncoderFrameCapacity;
      const bool shortLast = enc->frame_size <= 0 ||
                             (enc->codec->capabilities &
                              (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE));
      while (ost.SyncOpts < end) {
        int samples = full;
        if (end - ost.SyncOpts < full) {
          // While the real stream goes on, only whole frames; at the end, the rest exactly
          // where the encoder allows a short last frame, else one whole frame more.
          if (!AEndOfRun)
            break;
          if (shortLast)
            samples = static_cast<int>(end - ost.SyncOpts);
        }
        frame->nb_samples = samples;
        frame->pts = ost.SyncOpts;
        AudioSize += EncodeFrame(os, ost, frame, M_("Audio encoding failed"));
        ost.SyncOpts += samples;
        ++ost.FrameNumber;
        if (samples < full)
          break; // a short frame is the last one an encoder takes
      }
      if (AEndOfRun)
        AudioSize += EncodeFrame(os, ost, nullptr, M_("Audio encoding failed"));
    } else if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
      const double tick = av_q2d(enc->time_base);
      // While the run goes on, pictures that end by the real position; at the end, every
      // picture that starts before the real end by more than half a picture.
      auto wanted = [&]() {
        return AEndOfRun ? (static_cast<double>(ost.SyncOpts) + 0.5) * tick < target
                         : (static_cast<double>(ost.SyncOpts) + 1.0) * tick <= target;
      };
      while (tick > 0 && wanted()) {
        frame->pts = ost.SyncOpts;
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        VideoSize += EncodeFrame(os, ost, frame, M_("Video encoding failed"));
        ++ost.SyncOpts;
        ++ost.FrameNumber;
      }
      if (AEndOfRun)
        VideoSize += EncodeFrame(os, ost, nullptr, M_("Video encoding failed"));
    }
  }
}
