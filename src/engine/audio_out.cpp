// Audio and subtitle output. Audio arrives as 16-bit interleaved samples at the decoder's rate
// and channel count; the output's sample clock is kept in step with its sync input (silence,
// dropping, or resampler compensation), the samples are converted to the encoder's rate and
// channels, cut into encoder frames through a byte fifo, converted to the encoder's sample
// format and encoded.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/custom_ffmpeg.h"
#include "engine/transcode_types.h"
#include "medialib/words.h"

namespace {

constexpr size_t ResampleBufferSize = 262144;
constexpr int MaxSilenceBytes = 131072;
constexpr size_t SubtitleBufferSize = 65536;
constexpr int MaxPieceSamples = 16384; // output samples resampled at a time

int Channels(const AVCodecContext *AContext) { return AContext->ch_layout.nb_channels; }

} // namespace

// Encodes ASamples sample frames of 16-bit interleaved audio with the given pts (encoder time
// base). Returns the encoded bytes written.
int64_t TCustomFFmpeg::EncodeAudioSamples(AVFormatContext *AOutput, TOutputStream &AOst,
                                          const uint8_t *AData, int ASamples, int64_t APts) {
  AVCodecContext *enc = AOst.Codec;
  TEncodePipe *pipe = AOst.Pipe.get();
  AVFrame *frame = pipe ? pipe->FreeFrame() : AOst.EncoderFrame;
  if (pipe) {
    // The thread's frames hold one encoder frame: the fifo never gives more.
    frame->nb_samples = enc->frame_size;
    if (ASamples > enc->frame_size || avlib.av_frame_make_writable(frame) < 0)
      throw FFMpegException(M_("Audio encoding failed"));
  } else if (frame->buf[0]) {
    // A copy made writable gets the size the frame claims: claim its whole capacity, not the
    // previous call's count.
    frame->nb_samples = AOst.EncoderFrameCapacity;
    if (ASamples > AOst.EncoderFrameCapacity || avlib.av_frame_make_writable(frame) < 0) {
      avlib.av_frame_unref(frame);
      AOst.EncoderFrameCapacity = 0;
    }
  }
  if (!frame->buf[0]) {
    frame->format = enc->sample_fmt;
    frame->sample_rate = enc->sample_rate;
    if (avlib.av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout) < 0)
      throw FFMpegException(M_("Audio encoding failed"));
    frame->nb_samples = std::max(ASamples, enc->frame_size);
    if (avlib.av_frame_get_buffer(frame, 0) < 0)
      throw FFMpegException(M_("Audio encoding failed"));
    AOst.EncoderFrameCapacity = frame->nb_samples;
  }
  frame->nb_samples = ASamples;
  if (enc->sample_fmt == AV_SAMPLE_FMT_S16) {
    std::memcpy(frame->data[0], AData, static_cast<size_t>(ASamples) * Channels(enc) * 2);
  } else {
    if (!AOst.EncoderConverter) {
      if (avlib.swr_alloc_set_opts2(&AOst.EncoderConverter, &enc->ch_layout, enc->sample_fmt,
                                    enc->sample_rate, &enc->ch_layout, AV_SAMPLE_FMT_S16,
                                    enc->sample_rate, 0, nullptr) < 0 ||
          avlib.swr_init(AOst.EncoderConverter) < 0) {
        avlib.swr_free(&AOst.EncoderConverter);
        throw FFMpegException(M_("Audio encoding failed"));
      }
    }
    // Same rate on both sides: the converter holds nothing back.
    if (avlib.swr_convert(AOst.EncoderConverter, frame->extended_data, ASamples, &AData,
                          ASamples) != ASamples)
      throw FFMpegException(M_("Audio encoding failed"));
  }
  // The sample clock follows the input clock, which may jitter by a few samples; the muxer
  // refuses timestamps that go back, so a frame never starts before the previous one ended.
  if (AOst.EncoderNextPts != AV_NOPTS_VALUE && APts < AOst.EncoderNextPts)
    APts = AOst.EncoderNextPts;
  AOst.EncoderNextPts = APts + ASamples;
  if (pipe) {
    pipe->Send(frame, APts);
    return 0; // counted as its packets come back
  }
  frame->pts = APts;
  return EncodeFrame(AOutput, AOst, frame, M_("Audio encoding failed"));
}

// Sound of one decoded packet to its encoder: kept in sync with the run's clock, converted to
// the encoder's rate and channels, and cut into the encoder's frames.
void TCustomFFmpeg::DoAudioOut(AVFormatContext *AOutput, TOutputStream &AOst, TInputStream &AIst,
                               const uint8_t *ABuf, int ASize) {
  TTranscodeRun &run = *TranscodeRun;
  AVCodecContext *enc = AOst.Codec;
  const int encChannels = Channels(enc);
  const int encRate = enc->sample_rate;
  const int decChannels = AIst.ConverterChannels;
  const int decRate = AIst.ConverterRate;
  if (encChannels <= 0 || decChannels <= 0 || encRate <= 0 || decRate <= 0 || ASize <= 0)
    return;
  if (run.ResampleBuffer.size() < ResampleBufferSize)
    run.ResampleBuffer.resize(ResampleBufferSize);
  if (encChannels != decChannels || encRate != decRate)
    AOst.AudioResample = true;
  FitResampler(AOst, AIst);

  const uint8_t *buf = ABuf;
  int size = ASize;
  if (!SyncAudio(AOst, AIst, buf, size))
    return;
  if (!AOst.AudioResample) {
    if (size > 0)
      EncodeAudioBuffer(AOutput, AOst, buf, size);
    return;
  }
  // Rate and channel conversion in pieces of at most about MaxPieceSamples output samples: a
  // header that claims a rate of a few Hz makes each input sample thousands of output samples,
  // and a packet hours of sound. Between pieces the run keeps up and sees a stop.
  const int decFrameBytes = decChannels * 2;
  const int piece = static_cast<int>(
      std::clamp<int64_t>(int64_t{MaxPieceSamples} * decRate / encRate, 1, MaxPieceSamples));
  for (int done = 0, total = size / decFrameBytes; done < total;) {
    const int count = std::min(piece, total - done);
    const uint8_t *pieceBuf = buf + static_cast<size_t>(done) * decFrameBytes;
    int pieceSize = count * decFrameBytes;
    done += count;
    ResampleAudio(AOst, AIst, pieceBuf, pieceSize);
    if (pieceSize > 0)
      EncodeAudioBuffer(AOutput, AOst, pieceBuf, pieceSize);
    if (done < total) {
      CheckPause();
      if (StopRequested)
        return;
      KeepUp();
    }
  }
}

// The resampler for the decoder's rate and channels, which may change within a stream.
void TCustomFFmpeg::FitResampler(TOutputStream &AOst, TInputStream &AIst) {
  const AVCodecContext *enc = AOst.Codec;
  const int decChannels = AIst.ConverterChannels;
  const int decRate = AIst.ConverterRate;
  if (AOst.Resampler &&
      (AOst.ResamplerInRate != decRate || AOst.ResamplerInChannels != decChannels))
    avlib.swr_free(&AOst.Resampler);
  if (!AOst.AudioResample || AOst.Resampler)
    return;
  AVChannelLayout outLayout{};
  avlib.av_channel_layout_copy(&outLayout, &enc->ch_layout);
  const int ret =
      avlib.swr_alloc_set_opts2(&AOst.Resampler, &outLayout, AV_SAMPLE_FMT_S16, enc->sample_rate,
                                &AIst.ConverterLayout, AV_SAMPLE_FMT_S16, decRate, 0, nullptr);
  avlib.av_channel_layout_uninit(&outLayout);
  if (ret < 0 || avlib.swr_init(AOst.Resampler) < 0) {
    avlib.swr_free(&AOst.Resampler);
    throw FFMpegException(
        FormatText(M_("Can not resample %d channels @ %d Hz to %d channels @ %d Hz"), decChannels,
                   decRate, Channels(enc), enc->sample_rate));
  }
  AOst.ResamplerInRate = decRate;
  AOst.ResamplerInChannels = decChannels;
}

// Keeps the sound on the run's clock: samples before their time are dropped, a gap is filled
// with silence, a small drift is compensated by the resampler. ABuf/ASize may be repointed;
// false when nothing is left of the packet.
bool TCustomFFmpeg::SyncAudio(TOutputStream &AOst, TInputStream &AIst, const uint8_t *&ABuf,
                              int &ASize) {
  TTranscodeRun &run = *TranscodeRun;
  const int encRate = AOst.Codec->sample_rate;
  const int encFrameBytes = Channels(AOst.Codec) * 2; // bytes of one sample frame
  const int decRate = AIst.ConverterRate;
  const int decFrameBytes = AIst.ConverterChannels * 2;
  // Whole sample frames waiting in the fifo (it holds whole frames only).
  const int64_t fifoFrames =
      static_cast<int64_t>(avlib.av_fifo_can_read(AOst.Fifo) / static_cast<size_t>(encFrameBytes));
  // Sound that starts after the picture is preceded by silence, and sound before the output's
  // start is cut, so that both streams start together as players show them; a start further
  // off than a gap is filled is damage, which the jump below handles.
  const double startGap = GetSyncIpts(AOst, StartTime);
  const bool startsApart = AIst.IsStart && std::fabs(startGap) <= MaxFilledGapSeconds;
  if (AudioSyncMethod == 0 && !startsApart) {
    AIst.IsStart = false;
    const int64_t before = AOst.SyncOpts;
    AOst.SyncOpts = std::llrint(GetSyncIpts(AOst, StartTime) * encRate) - fifoFrames;
    // As for pictures: a gap too long to be real (a damaged time stamp) is not carried into
    // the output; the sound follows on and keeps the shift.
    const double jumped = static_cast<double>(AOst.SyncOpts - before) / encRate;
    if (jumped > MaxFilledGapSeconds) {
      AOst.JumpedSeconds += jumped;
      AOst.SyncOpts = before;
    }
    return true;
  }
  const double delta = GetSyncIpts(AOst, StartTime) * encRate - static_cast<double>(AOst.SyncOpts) -
                       static_cast<double>(fifoFrames);
  if (std::fabs(delta) <= 50) {
    if (AudioSyncMethod == 0)
      AIst.IsStart = false; // started together: the clock alone keeps them so
    return true;
  }
  // A gap of hours is more bytes than an int holds: no more than a few MiB are ever used of
  // it at once (silence is added in steps, and at most the packet is discarded).
  const double idelta = std::clamp(delta * decRate / encRate, -1e6, 1e6);
  int byteDelta = static_cast<int>(idelta) * decFrameBytes;
  if (AIst.IsStart || std::fabs(delta) > encRate * AudioDriftThreshold) {
    if (byteDelta < 0) {
      byteDelta = std::max(byteDelta, -ASize);
      ABuf += -byteDelta;
      ASize += byteDelta;
      if (Verbose > 2 && OnLog)
        LogF(1, "discarding %d audio samples", static_cast<int>(-delta));
      if (ASize == 0)
        return false;
      AIst.IsStart = false;
    } else {
      // At most 128 KiB of silence and input per call, in whole sample frames; the rest
      // follows on the next calls while IsStart stays set.
      if (byteDelta + ASize <= MaxSilenceBytes) {
        AIst.IsStart = false;
      } else {
        byteDelta = std::max(0, MaxSilenceBytes - ASize);
        byteDelta -= byteDelta % decFrameBytes;
      }
      const size_t needed = static_cast<size_t>(byteDelta) + static_cast<size_t>(ASize);
      if (run.SilenceBuffer.size() < needed)
        run.SilenceBuffer.resize(needed);
      std::memset(run.SilenceBuffer.data(), 0, static_cast<size_t>(byteDelta));
      std::memcpy(run.SilenceBuffer.data() + byteDelta, ABuf, static_cast<size_t>(ASize));
      ABuf = run.SilenceBuffer.data();
      ASize += byteDelta;
      if (Verbose > 2 && OnLog)
        LogF(1, "adding %d audio samples of silence", static_cast<int>(delta));
    }
  } else if (AudioSyncMethod > 1 && AOst.Resampler) {
    const int comp = std::clamp(static_cast<int>(delta), -AudioSyncMethod, AudioSyncMethod);
    if (Verbose > 2 && OnLog)
      LogF(1, "compensating audio timestamp drift:%f compensation:%d in:%d", delta, comp, encRate);
    avlib.swr_set_compensation(AOst.Resampler, comp, encRate);
  }
  return true;
}

// Rate and channel conversion into the run's resample buffer; ABuf/ASize point at the result.
void TCustomFFmpeg::ResampleAudio(TOutputStream &AOst, const TInputStream &AIst,
                                  const uint8_t *&ABuf, int &ASize) {
  TTranscodeRun &run = *TranscodeRun;
  const int encFrameBytes = Channels(AOst.Codec) * 2;
  const int inSamples = ASize / (AIst.ConverterChannels * 2);
  const int outMax = avlib.swr_get_out_samples(AOst.Resampler, inSamples);
  if (outMax < 0)
    throw FFMpegException(M_("Audio resampling failed"));
  const size_t needed = static_cast<size_t>(outMax) * encFrameBytes;
  if (run.ResampleBuffer.size() < needed)
    run.ResampleBuffer.resize(needed);
  uint8_t *out = run.ResampleBuffer.data();
  const int got = avlib.swr_convert(AOst.Resampler, &out, outMax, &ABuf, inSamples);
  if (got < 0)
    throw FFMpegException(M_("Audio resampling failed"));
  ABuf = run.ResampleBuffer.data();
  ASize = got * encFrameBytes;
}

// A framed encoder gets whole frames through the fifo (the remainder waits); encoders of any
// frame length (the PCM family) take the samples as they come.
void TCustomFFmpeg::EncodeAudioBuffer(AVFormatContext *AOutput, TOutputStream &AOst,
                                      const uint8_t *ABuf, int ASize) {
  TTranscodeRun &run = *TranscodeRun;
  const AVCodecContext *enc = AOst.Codec;
  const int encFrameBytes = Channels(enc) * 2;
  if (enc->frame_size <= 1) {
    const int samples = ASize / encFrameBytes;
    const int64_t pts = AOst.SyncOpts;
    AOst.SyncOpts += samples;
    AudioSize += EncodeAudioSamples(AOutput, AOst, ABuf, samples, pts);
    return;
  }
  const size_t canWrite = avlib.av_fifo_can_write(AOst.Fifo);
  if (canWrite < static_cast<size_t>(ASize) &&
      avlib.av_fifo_grow2(AOst.Fifo, static_cast<size_t>(ASize) - canWrite) < 0)
    throw FFMpegException(M_("Not enough memory"));
  avlib.av_fifo_write(AOst.Fifo, ABuf, static_cast<size_t>(ASize));
  const size_t frameBytes = static_cast<size_t>(enc->frame_size) * encFrameBytes;
  if (run.ResampleBuffer.size() < frameBytes)
    run.ResampleBuffer.resize(frameBytes);
  while (avlib.av_fifo_can_read(AOst.Fifo) >= frameBytes) {
    avlib.av_fifo_read(AOst.Fifo, run.ResampleBuffer.data(), frameBytes);
    AudioSize += EncodeAudioSamples(AOutput, AOst, run.ResampleBuffer.data(), enc->frame_size,
                                    AOst.SyncOpts);
    AOst.SyncOpts += enc->frame_size;
  }
}

void TCustomFFmpeg::FlushAudioEncoder(AVFormatContext *AOutput, TOutputStream &AOst) {
  TTranscodeRun &run = *TranscodeRun;
  AVCodecContext *enc = AOst.Codec;
  if (enc->frame_size <= 1)
    return; // nothing is held back by encoders of any frame length
  const int frameBytes = Channels(enc) * 2;
  const size_t left = avlib.av_fifo_can_read(AOst.Fifo);
  if (left >= static_cast<size_t>(frameBytes) &&
      (enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME)) {
    if (run.ResampleBuffer.size() < left)
      run.ResampleBuffer.resize(left);
    avlib.av_fifo_read(AOst.Fifo, run.ResampleBuffer.data(), left);
    const int samples = static_cast<int>(left / frameBytes);
    AudioSize +=
        EncodeAudioSamples(AOutput, AOst, run.ResampleBuffer.data(), samples, AOst.SyncOpts);
    AOst.SyncOpts += samples;
  }
  if (AOst.Pipe)
    AOst.Pipe->Finish();
  else
    AudioSize += EncodeFrame(AOutput, AOst, nullptr, M_("Audio encoding failed"));
}

void TCustomFFmpeg::DoSubtitleOut(AVFormatContext *AOutput, TOutputStream &AOst, TInputStream &AIst,
                                  const AVSubtitle *ASub, int64_t APts) {
  if (APts == AV_NOPTS_VALUE) {
    if (OnLog)
      Log(0, M_("Subtitle packets must have a pts"));
    return;
  }
  TTranscodeRun &run = *TranscodeRun;
  if (run.SubtitleBuffer.size() < SubtitleBufferSize)
    run.SubtitleBuffer.resize(SubtitleBufferSize);
  AVCodecContext *enc = AOst.Codec;
  const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
  // DVB subtitles need one packet that draws and one that clears.
  const int packets = dvb ? 2 : 1;
  for (int i = 0; i < packets; ++i) {
    AVSubtitle sub = *ASub;
    if (i == 1)
      sub.num_rects = 0;
    const int size = avlib.avcodec_encode_subtitle(
        enc, run.SubtitleBuffer.data(), static_cast<int>(run.SubtitleBuffer.size()), &sub);
    if (size < 0)
      throw FFMpegException(M_("Subtitle encoding failed"));
    AVPacket *pkt = run.OutPacket;
    if (avlib.av_new_packet(pkt, size) < 0)
      throw FFMpegException(M_("Not enough memory"));
    std::memcpy(pkt->data, run.SubtitleBuffer.data(), static_cast<size_t>(size));
    pkt->stream_index = AOst.Index;
    pkt->pts = avlib.av_rescale_q(APts, AIst.Stream->time_base, AOst.Stream->time_base);
    if (dvb)
      pkt->pts +=
          90 * static_cast<int64_t>(i == 0 ? ASub->start_display_time : ASub->end_display_time);
    pkt->dts = pkt->pts;
    if (!dvb && ASub->end_display_time > ASub->start_display_time)
      pkt->duration = avlib.av_rescale_q(ASub->end_display_time - ASub->start_display_time,
                                         AVRational{1, 1000}, AOst.Stream->time_base);
    pkt->flags |= AV_PKT_FLAG_KEY;
    WriteFrame(AOutput, pkt, AOst);
  }
}
