// The transcode loop: picks the input that lags most, reads a packet, corrects its timestamps and
// hands it to OutputPacket, which decodes it (or passes it through for stream copy) and feeds
// every output stream it serves. Then the end of the run: flushing, trailers, the final report
// and the closing of the codecs. WriteFrame is the one path by which packets reach a muxer.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "engine/custom_ffmpeg.h"
#include "engine/transcode_types.h"
#include "medialib/medialib.h"

namespace {

constexpr AVRational MicrosecondsBase = {1, AV_TIME_BASE};

int64_t ToMicroseconds(int64_t ATimestamp, AVRational ATimeBase) {
  return avlib.av_rescale_q(ATimestamp, ATimeBase, MicrosecondsBase);
}

// Frames per second of a decoded video stream, for advancing its clock by one picture.
AVRational VideoFrameRate(const TInputStream &AIst) {
  const AVRational candidates[] = {AIst.Codec ? AIst.Codec->framerate : AVRational{0, 1},
                                   AIst.Stream->avg_frame_rate, AIst.Stream->r_frame_rate};
  for (const AVRational &rate : candidates)
    if (rate.num > 0 && rate.den > 0 && av_q2d(rate) < 1000)
      return rate;
  return AVRational{25, 1};
}

} // namespace

void TCustomFFmpeg::TranscodeLoop() {
  TTranscodeRun &run = *TranscodeRun;
  run.ReadPacket = avlib.av_packet_alloc();
  run.OutPacket = avlib.av_packet_alloc();
  run.FilterPacket = avlib.av_packet_alloc();
  run.DecodedFrame = avlib.av_frame_alloc();
  if (!run.ReadPacket || !run.OutPacket || !run.FilterPacket || !run.DecodedFrame)
    throw FFMpegException("av_mallocz fail");
  AVPacket *pkt = run.ReadPacket;
  bool subtitlesOnly = true;
  for (const TOutputStream &ost : run.OutputStreams)
    if (!ost.Codec || ost.Codec->codec_type != AVMEDIA_TYPE_SUBTITLE)
      subtitlesOnly = false;

  while (!StopRequested) {
    CheckPause();
    if (StopRequested)
      break;

    // 1: the input whose outputs lag most. Subtitles are sparse: their position says nothing
    // about how far the run has got, so they count only when there is nothing else.
    double iptsMin = 1e100, optsMin = 1e100;
    int fileIndex = -1;
    for (TOutputStream &ost : run.OutputStreams) {
      if (ost.Generated)
        continue; // follows the real streams; reads nothing
      const TInputStream &ist = run.InputStreams[ost.SourceIndex];
      double opts;
      const AVMediaType type = ost.Codec ? ost.Codec->codec_type : AVMEDIA_TYPE_UNKNOWN;
      const int kind = type >= 0 && type < 4 ? type : 2;
      if (type == AVMEDIA_TYPE_SUBTITLE && !subtitlesOnly) {
        if (ost.FrameNumber >= MaxFrames[kind]) {
          fileIndex = -1;
          break;
        }
        continue;
      }
      // Encoded audio counts what was handed to its encoder, as video does: what the encoder
      // has given back lags by its delay.
      if (type == AVMEDIA_TYPE_VIDEO || (type == AVMEDIA_TYPE_AUDIO && ost.EncodingNeeded))
        opts = static_cast<double>(ost.SyncOpts) * av_q2d(ost.Codec->time_base);
      else
        opts = ost.CurrentPts == AV_NOPTS_VALUE
                   ? 0.0
                   : static_cast<double>(ost.CurrentPts) * av_q2d(ost.Stream->time_base);
      const double ipts = static_cast<double>(ist.Pts);
      if (!run.InputFileTable[ist.FileIndex].EofReached) {
        if (ipts < iptsMin) {
          iptsMin = ipts;
          if (InputSync)
            fileIndex = ist.FileIndex;
        }
        if (opts < optsMin) {
          optsMin = opts;
          if (!InputSync)
            fileIndex = ist.FileIndex;
        }
      }
      if (ost.FrameNumber >= MaxFrames[kind]) {
        fileIndex = -1;
        break;
      }
    }
    // 2, 3, 4: nothing left to read, recording time reached, file size limit reached.
    if (fileIndex < 0)
      break;
    if (static_cast<double>(RecordingTime) / 1000000.0 <= optsMin)
      break;
    if (LimitFileSize != 0 && OutputFiles[0]->pb && LimitFileSize < avlib.avio_seek(OutputFiles[0]->pb, 0, SEEK_CUR))
      break;

    // 5: read.
    AVFormatContext *ic = InputFiles[fileIndex];
    if (avlib.av_read_frame(ic, pkt) < 0) {
      run.InputFileTable[fileIndex].EofReached = true;
      if (Shortest)
        break;
      continue;
    }
    const TInputFile &file = run.InputFileTable[fileIndex];
    if (PktDump && pkt->stream_index >= 0 && pkt->stream_index < static_cast<int>(ic->nb_streams))
      avlib.av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, pkt, HexDump ? 1 : 0,
                             ic->streams[pkt->stream_index]);

    // 7: packets of streams nobody takes are dropped.
    if (pkt->stream_index >= 0 && pkt->stream_index < file.NbStreams &&
        !run.InputStreams[file.IstIndex + pkt->stream_index].Discard) {
      const int istIndex = file.IstIndex + pkt->stream_index;
      TInputStream &ist = run.InputStreams[istIndex];
      const AVRational tb = ist.Stream->time_base;

      // 8: file offset; a file without a start time starts at its first timestamp.
      if (InputStartUnknown[fileIndex]) {
        const int64_t first = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
        if (first != AV_NOPTS_VALUE) {
          InputTsOffsets[fileIndex] -= ToMicroseconds(first, tb);
          InputStartUnknown[fileIndex] = false;
        }
      }
      const int64_t offset = avlib.av_rescale_q(InputTsOffsets[fileIndex], MicrosecondsBase, tb);
      if (pkt->dts != AV_NOPTS_VALUE)
        pkt->dts += offset;
      if (pkt->pts != AV_NOPTS_VALUE)
        pkt->pts += offset;

      // 9: scale.
      if (pkt->stream_index < MAX_STREAMS) {
        const double scale = InputTsScales[fileIndex][pkt->stream_index];
        if (scale != 0) {
          if (pkt->pts != AV_NOPTS_VALUE)
            pkt->pts = static_cast<int64_t>(std::nearbyint(static_cast<double>(pkt->pts) * scale));
          if (pkt->dts != AV_NOPTS_VALUE)
            pkt->dts = static_cast<int64_t>(std::nearbyint(static_cast<double>(pkt->dts) * scale));
        }
      }

      // 10: timestamp discontinuity.
      if (pkt->dts != AV_NOPTS_VALUE && ist.NextPts != AV_NOPTS_VALUE) {
        const int64_t pktDts = ToMicroseconds(pkt->dts, tb);
        const int64_t delta = pktDts - ist.NextPts;
        if ((static_cast<double>(std::llabs(delta)) > DtsDeltaThreshold * 1000000.0 ||
             pktDts + 1 < ist.Pts) &&
            !CopyTs) {
          InputTsOffsets[fileIndex] -= delta;
          if (Verbose > 2 && OnLog)
            LogF(1, "timestamp discontinuity %lld, new offset= %lld",
                 static_cast<long long>(delta), static_cast<long long>(InputTsOffsets[fileIndex]));
          const int64_t shift = avlib.av_rescale_q(delta, MicrosecondsBase, tb);
          pkt->dts -= shift;
          if (pkt->pts != AV_NOPTS_VALUE)
            pkt->pts -= shift;
        }
      }

      // 11: decode and serve.
      if (OutputPacket(ist, istIndex, pkt) < 0) {
        if (Verbose >= 0 && OnLog)
          LogF(1, "Error while decoding stream #%d.%d", ist.FileIndex, ist.Index);
        avlib.av_packet_unref(pkt);
        continue;
      }
    }
    avlib.av_packet_unref(pkt);
    // What the encoder threads have finished goes to the muxer as soon as possible.
    for (TOutputStream &ost : run.OutputStreams)
      if (ost.Pipe)
        ost.Pipe->Deliver();

    // 12: streams without an input keep level with the others.
    FeedGeneratedStreams(false);

    // 13: running report.
    const int64_t now = avlib.av_gettime();
    if (now - run.LastReportTime > ProgressInterval) {
      run.LastReportTime = now;
      PrintReport(false);
    }
  }

  // End of the run (also after a stop request): flush, trailers, final report, close.
  for (int i = 0; i < static_cast<int>(run.InputStreams.size()); ++i) {
    TInputStream &ist = run.InputStreams[i];
    if (ist.DecodingNeeded && OutputPacket(ist, i, nullptr) < 0 && Verbose >= 0)
      LogF(1, "Error while decoding stream #%d.%d", ist.FileIndex, ist.Index);
  }
  FeedGeneratedStreams(true);
  for (int k = 0; k < OutputFileCount; ++k) {
    const int ret = avlib.av_write_trailer(OutputFiles[k]);
    if (ret < 0)
      throw FFMpegException(ErrorText("av_write_trailer()", ret));
  }
  PrintReport(true);
  for (TOutputStream &ost : run.OutputStreams)
    if (ost.EncodingNeeded)
      CloseEncoder(ost);
  for (TInputStream &ist : run.InputStreams)
    if (ist.DecodingNeeded)
      CloseDecoder(ist);
  Finished = !StopRequested;
}

// Decodes one packet of AIst (nullptr: drain the decoder at the end) and serves every output
// stream fed by it. Returns 0, or -1 when the packet could not be decoded.
int TCustomFFmpeg::OutputPacket(TInputStream &AIst, int AIstIndex, const AVPacket *APacket) {
  TTranscodeRun &run = *TranscodeRun;
  const AVRational tb = AIst.Stream->time_base;

  if (AIst.NextPts == AV_NOPTS_VALUE)
    AIst.NextPts = AIst.Pts;
  if (APacket && APacket->dts != AV_NOPTS_VALUE)
    AIst.NextPts = AIst.Pts = ToMicroseconds(APacket->dts, tb);

  const AVMediaType type = AIst.Stream->codecpar->codec_type;
  const int64_t pts = APacket ? APacket->pts : AV_NOPTS_VALUE;
  if (!AIst.DecodingNeeded) {
    if (!APacket)
      return 0;
    // Stream copy: the clock advances by the packet's length.
    AIst.Pts = AIst.NextPts;
    if (type == AVMEDIA_TYPE_AUDIO) {
      const int frameSize = AIst.Stream->codecpar->frame_size;
      const int rate = AIst.Stream->codecpar->sample_rate;
      if (APacket->duration > 0)
        AIst.NextPts += ToMicroseconds(APacket->duration, tb);
      else if (frameSize > 0 && rate > 0)
        AIst.NextPts += static_cast<int64_t>(1000000) * frameSize / rate;
    } else if (type == AVMEDIA_TYPE_VIDEO) {
      const AVRational rate = VideoFrameRate(AIst);
      AIst.NextPts += static_cast<int64_t>(1000000) * rate.den / rate.num;
    }
    EmulateRate(AIst);
    ServeCopies(AIst, AIstIndex, APacket);
    return 0;
  }

  AVCodecContext *dec = AIst.Codec;
  bool failed = false;
  switch (type) {
  case AVMEDIA_TYPE_AUDIO:
  case AVMEDIA_TYPE_VIDEO: {
    if (type == AVMEDIA_TYPE_AUDIO && APacket) {
      const size_t wanted = std::max<size_t>(2 * static_cast<size_t>(APacket->size), 192000);
      if (run.SampleBuffer.size() < wanted)
        run.SampleBuffer.resize(wanted);
    }
    // While draining, a picture the decoder fails on is skipped: the ones it still holds, the
    // last picture's repetition and the encoders' flush below must not be lost with it.
    int ret = avlib.avcodec_send_packet(dec, APacket);
    if (ret < 0 && ret != AVERROR_EOF && ret != AVERROR(EAGAIN)) {
      if (APacket)
        return -1;
      failed = true;
    }
    AVFrame *frame = run.DecodedFrame;
    for (int errors = 0;;) {
      ret = avlib.avcodec_receive_frame(dec, frame);
      if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
        break;
      if (ret < 0) {
        if (APacket)
          return -1;
        failed = true;
        if (++errors > 64) // a decoder that only fails any more
          break;
        continue;
      }
      AIst.Pts = AIst.NextPts;
      // A decoder on frame threads hands each picture back some packets later: its clock is
      // that of the packet it was decoded from, as with a decoder on one thread, or the video
      // would start late against the sound and outlast it.
      if (type == AVMEDIA_TYPE_VIDEO && (dec->active_thread_type & FF_THREAD_FRAME) &&
          frame->pkt_dts != AV_NOPTS_VALUE)
        AIst.Pts = ToMicroseconds(frame->pkt_dts, tb);
      if (type == AVMEDIA_TYPE_AUDIO) {
        const int bytes = ConvertDecodedAudio(AIst, frame);
        if (bytes < 1) {
          avlib.av_frame_unref(frame);
          continue;
        }
        AIst.NextPts += static_cast<int64_t>(500000) * bytes /
                        (static_cast<int64_t>(AIst.ConverterRate) * AIst.ConverterChannels);
        ApplyVolume(run.SampleBuffer.data(), bytes);
        ServeEncoders(AIst, AIstIndex, run.SampleBuffer.data(), bytes, nullptr, nullptr, pts);
      } else {
        AIst.Quality = frame->quality;
        const AVRational rate = VideoFrameRate(AIst);
        AIst.NextPts = AIst.Pts + static_cast<int64_t>(1000000) * rate.den / rate.num;
        PreProcessVideoFrame(AIst, frame);
        ServeEncoders(AIst, AIstIndex, nullptr, 0, frame, nullptr, pts);
        if (!AIst.LastPicture)
          AIst.LastPicture = avlib.av_frame_alloc();
        if (AIst.LastPicture) {
          avlib.av_frame_unref(AIst.LastPicture);
          avlib.av_frame_move_ref(AIst.LastPicture, frame);
        }
      }
      avlib.av_frame_unref(frame);
    }
    break;
  }
  case AVMEDIA_TYPE_SUBTITLE: {
    AVSubtitle subtitle{};
    int got = 0;
    AVPacket *input = run.FilterPacket;
    if (APacket) {
      if (avlib.av_packet_ref(input, APacket) < 0)
        return -1;
    }
    const int ret = avlib.avcodec_decode_subtitle2(dec, &subtitle, &got, input);
    avlib.av_packet_unref(input);
    if (ret < 0) {
      if (APacket)
        return -1;
      failed = true;
    } else if (got) {
      AIst.Pts = AIst.NextPts;
      try {
        ServeEncoders(AIst, AIstIndex, nullptr, 0, nullptr, &subtitle, pts);
      } catch (...) {
        avlib.avsubtitle_free(&subtitle);
        throw;
      }
      avlib.avsubtitle_free(&subtitle);
    }
    break;
  }
  default:
    return -1;
  }

  // A stream that is decoded for one output may be copied to another.
  if (APacket) {
    ServeCopies(AIst, AIstIndex, APacket);
  } else {
    if (type == AVMEDIA_TYPE_VIDEO)
      ShowLastPicture(AIst, AIstIndex);
    FlushEncoders(AIstIndex);
  }
  return failed ? -1 : 0;
}

// Rate emulation: reads no faster than the input plays, by waiting until the wall clock reaches
// the stream clock.
void TCustomFFmpeg::EmulateRate(TInputStream &AIst) {
  if (!AIst.RateEmu)
    return;
  // The time spent paused does not count, and a stop or pause ends the wait at once.
  for (;;) {
    const int64_t ahead = AIst.Pts - (avlib.av_gettime() - AIst.RateEmuStart - PausedTime);
    if (ahead <= 50000 || StopRequested)
      break;
    if (!PausableSleep(ahead))
      CheckPause();
  }
  AIst.FrameCount++;
}

// Serves every encoding output stream fed by AIst with what was decoded.
void TCustomFFmpeg::ServeEncoders(TInputStream &AIst, int AIstIndex, const uint8_t *ASamples,
                                  int ABytes, AVFrame *APicture, const AVSubtitle *ASubtitle,
                                  int64_t APacketPts) {
  EmulateRate(AIst);
  if (StartTime != 0 && AIst.Pts < StartTime)
    return;
  for (TOutputStream &ost : TranscodeRun->OutputStreams) {
    if (ost.SourceIndex != AIstIndex || !ost.EncodingNeeded)
      continue;
    AVFormatContext *os = OutputFiles[ost.FileIndex];
    switch (AIst.Stream->codecpar->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      DoAudioOut(os, ost, AIst, ASamples, ABytes);
      break;
    case AVMEDIA_TYPE_VIDEO: {
      int frameSize = 0;
      DoVideoOut(os, ost, AIst, APicture, frameSize);
      if (VStatsFileName && frameSize != 0)
        DoVideoStats(os, ost, frameSize, ost.FrameNumber, ost.SyncOpts);
      break;
    }
    case AVMEDIA_TYPE_SUBTITLE:
      DoSubtitleOut(os, ost, AIst, ASubtitle, APacketPts);
      break;
    default:
      throw FFMpegException("invalid codec_type");
    }
  }
}

// Copies the packet to every stream-copy output fed by AIst; a copy starts at a key packet.
void TCustomFFmpeg::ServeCopies(TInputStream &AIst, int AIstIndex, const AVPacket *APacket) {
  if (StartTime != 0 && AIst.Pts < StartTime)
    return;
  TTranscodeRun &run = *TranscodeRun;
  for (TOutputStream &ost : run.OutputStreams) {
    if (ost.SourceIndex != AIstIndex || ost.EncodingNeeded)
      continue;
    if (ost.FrameNumber == 0 && !(APacket->flags & AV_PKT_FLAG_KEY))
      continue;
    const AVMediaType type = AIst.Stream->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_AUDIO) {
      AudioSize += APacket->size;
    } else if (type == AVMEDIA_TYPE_VIDEO) {
      VideoSize += APacket->size;
      ost.SyncOpts++;
    }
    AVPacket *out = run.OutPacket;
    if (avlib.av_packet_ref(out, APacket) < 0)
      throw FFMpegException("av_mallocz fail");
    const AVRational itb = AIst.Stream->time_base;
    const AVRational otb = ost.Stream->time_base;
    out->stream_index = ost.Index;
    out->pts = APacket->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE
                                              : avlib.av_rescale_q(APacket->pts, itb, otb);
    out->dts = APacket->dts == AV_NOPTS_VALUE ? avlib.av_rescale_q(AIst.Pts, MicrosecondsBase, otb)
                                              : avlib.av_rescale_q(APacket->dts, itb, otb);
    out->duration = avlib.av_rescale_q(APacket->duration, itb, otb);
    out->flags = APacket->flags;
    WriteFrame(OutputFiles[ost.FileIndex], out, ost);
    ost.FrameNumber++;
  }
}

// Turns a decoded audio frame into 16-bit interleaved samples in the sample buffer, at the
// frame's rate and channel count. Returns the byte count.
int TCustomFFmpeg::ConvertDecodedAudio(TInputStream &AIst, const AVFrame *AFrame) {
  TTranscodeRun &run = *TranscodeRun;
  const int channels = AFrame->ch_layout.nb_channels;
  if (channels <= 0 || AFrame->sample_rate <= 0 || AFrame->nb_samples <= 0)
    return 0;
  if (!AIst.SampleConverter || AIst.ConverterFormat != AFrame->format ||
      AIst.ConverterRate != AFrame->sample_rate || AIst.ConverterChannels != channels) {
    avlib.swr_free(&AIst.SampleConverter);
    avlib.av_channel_layout_uninit(&AIst.ConverterLayout);
    if (AFrame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
      avlib.av_channel_layout_default(&AIst.ConverterLayout, channels);
    else if (avlib.av_channel_layout_copy(&AIst.ConverterLayout, &AFrame->ch_layout) < 0)
      return 0;
    const AVSampleFormat format = static_cast<AVSampleFormat>(AFrame->format);
    if (avlib.swr_alloc_set_opts2(&AIst.SampleConverter, &AIst.ConverterLayout, AV_SAMPLE_FMT_S16,
                                  AFrame->sample_rate, &AIst.ConverterLayout, format,
                                  AFrame->sample_rate, 0, nullptr) < 0 ||
        avlib.swr_init(AIst.SampleConverter) < 0) {
      avlib.swr_free(&AIst.SampleConverter);
      throw FFMpegException(FormatText("Can not convert audio of input stream #%d.%d", AIst.FileIndex,
                                   AIst.Index));
    }
    AIst.ConverterFormat = AFrame->format;
    AIst.ConverterRate = AFrame->sample_rate;
    AIst.ConverterChannels = channels;
  }
  const size_t needed = static_cast<size_t>(AFrame->nb_samples) * channels * 2;
  if (run.SampleBuffer.size() < needed)
    run.SampleBuffer.resize(needed);
  uint8_t *out = run.SampleBuffer.data();
  const int capacity = static_cast<int>(run.SampleBuffer.size() / (channels * 2));
  const int samples =
      avlib.swr_convert(AIst.SampleConverter, &out, capacity,
                        const_cast<const uint8_t **>(AFrame->extended_data), AFrame->nb_samples);
  return samples > 0 ? samples * channels * 2 : 0;
}

void TCustomFFmpeg::ApplyVolume(uint8_t *ASamples, int ABytes) {
  if (AudioVolume == 256)
    return;
  int16_t *samples = reinterpret_cast<int16_t *>(ASamples);
  for (int i = 0; i < ABytes / 2; ++i) {
    const int64_t v = (int64_t{samples[i]} * AudioVolume + 128) >> 8;
    samples[i] = static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767));
  }
}

// End of stream: a constant-rate output whose last picture would end more than half a frame
// before the input's last picture ends shows that picture once more (or as often as needed),
// so that the output lasts as long as the input.
void TCustomFFmpeg::ShowLastPicture(TInputStream &AIst, int AIstIndex) {
  if (!AIst.LastPicture || !AIst.LastPicture->data[0] || AIst.NextPts == AV_NOPTS_VALUE ||
      VideoSyncMethod == 0 || VideoSyncMethod == 2)
    return;
  const int64_t lastPts = AIst.Pts;
  AIst.Pts = AIst.NextPts;
  for (TOutputStream &ost : TranscodeRun->OutputStreams) {
    if (ost.SourceIndex != AIstIndex || !ost.EncodingNeeded || ost.SyncIst != &AIst ||
        ost.Codec->codec_type != AVMEDIA_TYPE_VIDEO)
      continue;
    const double timeBase = av_q2d(ost.Codec->time_base);
    if (VideoSyncMethod < 0 && timeBase <= 0.001)
      continue;
    if (GetSyncIpts(ost, StartTime) / timeBase - static_cast<double>(ost.SyncOpts) <= 0.5)
      continue;
    int frameSize = 0;
    DoVideoOut(OutputFiles[ost.FileIndex], ost, AIst, AIst.LastPicture, frameSize);
    if (VStatsFileName && frameSize != 0)
      DoVideoStats(OutputFiles[ost.FileIndex], ost, frameSize, ost.FrameNumber, ost.SyncOpts);
  }
  AIst.Pts = lastPts;
  avlib.av_frame_unref(AIst.LastPicture);
}

// End of stream: what the encoders fed by this input still hold is written out.
void TCustomFFmpeg::FlushEncoders(int AIstIndex) {
  TTranscodeRun &run = *TranscodeRun;
  for (TOutputStream &ost : run.OutputStreams) {
    if (ost.SourceIndex != AIstIndex || !ost.EncodingNeeded)
      continue;
    AVFormatContext *os = OutputFiles[ost.FileIndex];
    switch (ost.Codec->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      FlushAudioEncoder(os, ost);
      break;
    case AVMEDIA_TYPE_VIDEO:
      if (ost.Pipe)
        ost.Pipe->Finish();
      else
        VideoSize += EncodeFrame(os, ost, nullptr, "Video encoding failed");
      break;
    default:
      break;
    }
  }
}

int64_t TCustomFFmpeg::EncodeFrame(AVFormatContext *AOutput, TOutputStream &AOst,
                                   const AVFrame *AFrame, const char *AFailText) {
  AVCodecContext *enc = AOst.Codec;
  int ret = avlib.avcodec_send_frame(enc, AFrame);
  if (ret == AVERROR_EOF)
    return 0; // already drained
  if (ret < 0)
    throw FFMpegException(AFailText);
  AVPacket *pkt = TranscodeRun->OutPacket;
  int64_t written = 0;
  for (;;) {
    ret = avlib.avcodec_receive_packet(enc, pkt);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
      break;
    if (ret < 0)
      throw FFMpegException(AFailText);
    if (AOst.LogFile && enc->stats_out)
      std::fprintf(AOst.LogFile, "%s", enc->stats_out);
    written += WriteEncodedPacket(AOutput, AOst, pkt);
  }
  return written;
}

int64_t TCustomFFmpeg::WriteEncodedPacket(AVFormatContext *AOutput, TOutputStream &AOst,
                                          AVPacket *APacket) {
  const AVCodecContext *enc = AOst.Codec;
  NoteCodedFrame(AOst, APacket);
  AOst.Quality = AOst.CodedFrame.Quality;
  for (int i = 0; i < 4; ++i)
    AOst.Error[i] = AOst.CodedFrame.Error[i];
  if (enc->codec_type == AVMEDIA_TYPE_VIDEO && APacket->duration == 0 && enc->framerate.num > 0)
    APacket->duration = avlib.av_rescale_q(1, av_inv_q(enc->framerate), enc->time_base);
  const int64_t size = APacket->size;
  avlib.av_packet_rescale_ts(APacket, enc->time_base, AOst.Stream->time_base);
  APacket->stream_index = AOst.Index;
  WriteFrame(AOutput, APacket, AOst);
  return size;
}

void TCustomFFmpeg::WriteFrame(AVFormatContext *AOutput, AVPacket *APacket, TOutputStream &AOst) {
  AVPacket *pkt = APacket;
  if (AOst.BitstreamFilter) {
    AVPacket *filtered = TranscodeRun->FilterPacket;
    int ret = avlib.av_bsf_send_packet(AOst.BitstreamFilter, pkt);
    while (ret >= 0) {
      ret = avlib.av_bsf_receive_packet(AOst.BitstreamFilter, filtered);
      if (ret < 0)
        break;
      filtered->stream_index = AOst.Index;
      WritePacket(AOutput, filtered, AOst);
    }
    if (ret < 0 && ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) {
      if (OnLog) {
        const std::string what = FormatText("%s failed for stream %d, codec %s",
                                        AOst.BitstreamFilter->filter->name, AOst.Index,
                                        AOst.EncodingNeeded && AOst.Codec && AOst.Codec->codec
                                            ? AOst.Codec->codec->name
                                            : "copy");
        Log(0, ErrorText(what, ret));
      }
      // The unfiltered packet goes out as it is.
      if (pkt->data || pkt->side_data_elems)
        WritePacket(AOutput, pkt, AOst);
    }
    avlib.av_packet_unref(pkt);
    return;
  }
  WritePacket(AOutput, pkt, AOst);
}

void TCustomFFmpeg::WritePacket(AVFormatContext *AOutput, AVPacket *APacket, TOutputStream &AOst) {
  if (APacket->pts != AV_NOPTS_VALUE)
    AOst.CurrentPts = APacket->pts + std::max<int64_t>(APacket->duration, 0);
  else if (APacket->dts != AV_NOPTS_VALUE)
    AOst.CurrentPts = APacket->dts + std::max<int64_t>(APacket->duration, 0);
  const int ret = avlib.av_interleaved_write_frame(AOutput, APacket);
  avlib.av_packet_unref(APacket);
  if (ret < 0)
    throw FFMpegException(ErrorText("av_interleaved_write_frame()", ret));
}
