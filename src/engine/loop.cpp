// The transcode loop: picks the input that lags most, reads a packet, corrects its timestamps and
// hands it to OutputPacket, which decodes it (or passes it through for stream copy) and feeds
// every output stream it serves. Then the end of the run: flushing, trailers, the final report
// and the closing of the codecs. WriteFrame is the one path by which packets reach a muxer.
#include <algorithm>
#include <limits>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "engine/custom_ffmpeg.h"
#include "engine/transcode_types.h"
#include "engine/unfinished_outputs.h"
#include "medialib/medialib.h"
#include "medialib/words.h"

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

// Reads from the input that lags most and serves its packet, until the inputs end, a limit is
// reached or a stop is asked for; then ends the run.
void TCustomFFmpeg::TranscodeLoop() {
  TTranscodeRun &run = *TranscodeRun;
  run.ReadPacket = avlib.av_packet_alloc();
  run.OutPacket = avlib.av_packet_alloc();
  run.FilterPacket = avlib.av_packet_alloc();
  run.DecodedFrame = avlib.av_frame_alloc();
  if (!run.ReadPacket || !run.OutPacket || !run.FilterPacket || !run.DecodedFrame)
    throw FFMpegException(M_("Not enough memory"));
  AVPacket *pkt = run.ReadPacket;
  bool subtitlesOnly = true;
  for (const TOutputStream &ost : run.OutputStreams)
    if (!ost.Codec || ost.Codec->codec_type != AVMEDIA_TYPE_SUBTITLE)
      subtitlesOnly = false;

  while (!StopRequested) {
    CheckPause();
    if (StopRequested)
      break;
    double optsMin = 1e100;
    const int fileIndex = LaggingInputFile(subtitlesOnly, optsMin);
    if (fileIndex < 0 || OutputLimitReached(optsMin))
      break;

    AVFormatContext *ic = InputFiles[fileIndex];
    if (avlib.av_read_frame(ic, pkt) < 0) {
      run.InputFileTable[fileIndex].EofReached = true;
      if (Shortest)
        break;
      continue;
    }
    if (PktDump && pkt->stream_index >= 0 && pkt->stream_index < static_cast<int>(ic->nb_streams))
      avlib.av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, pkt, HexDump ? 1 : 0,
                             ic->streams[pkt->stream_index]);
    const bool served = ServeReadPacket(fileIndex, pkt);
    avlib.av_packet_unref(pkt);
    if (!served)
      continue; // a packet that could not be decoded: on with the next one
    // Generated streams level, running report.
    KeepUp();
  }
  EndTranscodeLoop();
}

// The input file whose outputs lag most, or -1 when nothing is left to read. Subtitles are
// sparse: their position says nothing about how far the run has got, so they count only when
// there is nothing else. AOptsMin: the position of the output that lags most, in seconds.
int TCustomFFmpeg::LaggingInputFile(bool ASubtitlesOnly, double &AOptsMin) {
  const TTranscodeRun &run = *TranscodeRun;
  double iptsMin = 1e100;
  int fileIndex = -1;
  for (const TOutputStream &ost : run.OutputStreams) {
    if (ost.Generated)
      continue; // follows the real streams; reads nothing
    const TInputStream &ist = run.InputStreams[ost.SourceIndex];
    double opts;
    const AVMediaType type = ost.Codec ? ost.Codec->codec_type : AVMEDIA_TYPE_UNKNOWN;
    const int kind = type >= 0 && type < 4 ? type : 2;
    if (type == AVMEDIA_TYPE_SUBTITLE && !ASubtitlesOnly) {
      if (ost.FrameNumber >= MaxFrames[kind])
        return -1;
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
      if (opts < AOptsMin) {
        AOptsMin = opts;
        if (!InputSync)
          fileIndex = ist.FileIndex;
      }
    }
    if (ost.FrameNumber >= MaxFrames[kind])
      return -1;
  }
  return fileIndex;
}

// The recording time or the file size limit reached. The recording time is also reached when
// every stream has been read past it: sound waiting for a whole encoder frame would otherwise
// keep the output short of it, and the rest of the file would be read for nothing.
bool TCustomFFmpeg::OutputLimitReached(double AOptsMin) {
  if (static_cast<double>(RecordingTime) / 1000000.0 <= AOptsMin)
    return true;
  if (RecordingTime != std::numeric_limits<int64_t>::max()) {
    bool allPast = true;
    for (const TOutputStream &ost : TranscodeRun->OutputStreams)
      if (!ost.Generated && ost.Codec && ost.Codec->codec_type != AVMEDIA_TYPE_SUBTITLE &&
          TranscodeRun->InputStreams[ost.SourceIndex].Pts < RecordingTime)
        allPast = false;
    if (allPast)
      return true;
  }
  return LimitFileSize != 0 && OutputFiles[0]->pb &&
         LimitFileSize < avlib.avio_seek(OutputFiles[0]->pb, 0, SEEK_CUR);
}

// A packet read from input file AFileIndex, on the input's clock, to the streams it serves.
// Packets of streams nobody takes are dropped. False when the packet could not be decoded.
bool TCustomFFmpeg::ServeReadPacket(int AFileIndex, AVPacket *APacket) {
  TTranscodeRun &run = *TranscodeRun;
  const TInputFile &file = run.InputFileTable[AFileIndex];
  // The subtitles burned into the picture are read from their stream as it comes.
  if (run.Burner && AFileIndex == 0 && APacket->stream_index == run.Burner->StreamIndex())
    run.Burner->TakePacket(APacket, InputTsOffsets[AFileIndex]);
  if (APacket->stream_index < 0 || APacket->stream_index >= file.NbStreams ||
      run.InputStreams[file.IstIndex + APacket->stream_index].Discard)
    return true;
  const int istIndex = file.IstIndex + APacket->stream_index;
  TInputStream &ist = run.InputStreams[istIndex];
  ShiftToInputClock(AFileIndex, ist, APacket);
  if (OutputPacket(ist, istIndex, APacket) >= 0)
    return true;
  if (Verbose >= 0 && OnLog)
    LogF(1, "Error while decoding stream #%d.%d", ist.FileIndex, ist.Index);
  return false;
}

// The file's offset (a file without a start time starts at its first timestamp), the stream's
// time scale, and a jump in the timestamps taken out of the offset.
void TCustomFFmpeg::ShiftToInputClock(int AFileIndex, const TInputStream &AIst, AVPacket *APacket) {
  const AVRational tb = AIst.Stream->time_base;
  if (InputStartUnknown[AFileIndex]) {
    const int64_t first = APacket->dts != AV_NOPTS_VALUE ? APacket->dts : APacket->pts;
    if (first != AV_NOPTS_VALUE) {
      InputTsOffsets[AFileIndex] -= ToMicroseconds(first, tb);
      InputStartUnknown[AFileIndex] = false;
    }
  }
  const int64_t offset = avlib.av_rescale_q(InputTsOffsets[AFileIndex], MicrosecondsBase, tb);
  if (APacket->dts != AV_NOPTS_VALUE)
    APacket->dts += offset;
  if (APacket->pts != AV_NOPTS_VALUE)
    APacket->pts += offset;

  if (APacket->stream_index < MAX_STREAMS) {
    const double scale = InputTsScales[AFileIndex][APacket->stream_index];
    if (scale != 0) {
      if (APacket->pts != AV_NOPTS_VALUE)
        APacket->pts =
            static_cast<int64_t>(std::nearbyint(static_cast<double>(APacket->pts) * scale));
      if (APacket->dts != AV_NOPTS_VALUE)
        APacket->dts =
            static_cast<int64_t>(std::nearbyint(static_cast<double>(APacket->dts) * scale));
    }
  }

  if (APacket->dts == AV_NOPTS_VALUE || AIst.NextPts == AV_NOPTS_VALUE || CopyTs)
    return;
  const int64_t pktDts = ToMicroseconds(APacket->dts, tb);
  const int64_t delta = pktDts - AIst.NextPts;
  // Going back is measured against the packets' own order: a picture's time may lie ahead.
  const int64_t current = AIst.LastDts != AV_NOPTS_VALUE ? AIst.LastDts : AIst.Pts;
  if (static_cast<double>(std::llabs(delta)) > DtsDeltaThreshold * 1000000.0 ||
      pktDts + 1 < current) {
    InputTsOffsets[AFileIndex] -= delta;
    if (Verbose > 2 && OnLog)
      LogF(1, "timestamp discontinuity %lld, new offset= %lld", static_cast<long long>(delta),
           static_cast<long long>(InputTsOffsets[AFileIndex]));
    const int64_t shift = avlib.av_rescale_q(delta, MicrosecondsBase, tb);
    APacket->dts -= shift;
    if (APacket->pts != AV_NOPTS_VALUE)
      APacket->pts -= shift;
  }
}

// End of the run (also after a stop request): flush, trailers, final report, close.
void TCustomFFmpeg::EndTranscodeLoop() {
  TTranscodeRun &run = *TranscodeRun;
  for (int i = 0; i < static_cast<int>(run.InputStreams.size()); ++i) {
    TInputStream &ist = run.InputStreams[i];
    if (ist.DecodingNeeded && OutputPacket(ist, i, nullptr) < 0 && Verbose >= 0)
      LogF(1, "Error while decoding stream #%d.%d", ist.FileIndex, ist.Index);
  }
  FeedGeneratedStreams(true);
  for (int k = 0; k < OutputFileCount; ++k) {
    const int ret = avlib.av_write_trailer(OutputFiles[k]);
    if (ret < 0)
      throw FFMpegException(
          ErrorText(FillName(M_("Could not finish the output file %s"), OutputFiles[k]->url), ret));
    ForgetUnfinishedOutput(UnfinishedNotes[k]);
    UnfinishedNotes[k] = -1;
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

void TCustomFFmpeg::KeepUp() {
  TTranscodeRun &run = *TranscodeRun;
  // What the encoder threads have finished goes to the muxer as soon as possible.
  for (TOutputStream &ost : run.OutputStreams)
    if (ost.Pipe)
      ost.Pipe->Deliver();
  FeedGeneratedStreams(false);
  const int64_t now = avlib.av_gettime();
  if (now - run.LastReportTime > ProgressInterval) {
    run.LastReportTime = now;
    PrintReport(false);
  }
}

// Decodes one packet of AIst (nullptr: drain the decoder at the end) and serves every output
// stream fed by it. Returns 0, or -1 when the packet could not be decoded.
int TCustomFFmpeg::OutputPacket(TInputStream &AIst, int AIstIndex, const AVPacket *APacket) {
  if (AIst.NextPts == AV_NOPTS_VALUE) {
    // A first packet without a dts (Matroska's first key picture) starts the clock at its pts:
    // from 0, a cut's pictures before the start would look like a jump and shift the part.
    if (APacket && APacket->dts == AV_NOPTS_VALUE && APacket->pts != AV_NOPTS_VALUE)
      AIst.Pts = ToMicroseconds(APacket->pts, AIst.Stream->time_base);
    AIst.NextPts = AIst.Pts;
  }
  if (APacket && APacket->dts != AV_NOPTS_VALUE)
    AIst.NextPts = AIst.Pts = AIst.LastDts = ToMicroseconds(APacket->dts, AIst.Stream->time_base);

  const AVMediaType type = AIst.Stream->codecpar->codec_type;
  const int64_t pts = APacket ? APacket->pts : AV_NOPTS_VALUE;
  if (!AIst.DecodingNeeded) {
    if (!APacket)
      return 0;
    AdvanceCopyClock(AIst, APacket);
    EmulateRate(AIst);
    ServeCopies(AIst, AIstIndex, APacket);
    return 0;
  }

  bool decoded;
  switch (type) {
  case AVMEDIA_TYPE_AUDIO:
  case AVMEDIA_TYPE_VIDEO:
    decoded = DecodeFrames(AIst, AIstIndex, APacket, pts);
    break;
  case AVMEDIA_TYPE_SUBTITLE:
    decoded = DecodeSubtitle(AIst, AIstIndex, APacket, pts);
    break;
  default:
    return -1;
  }
  // A packet that fails is skipped; while draining, the rest must not be lost with it.
  if (!decoded && APacket)
    return -1;

  // A stream that is decoded for one output may be copied to another.
  if (APacket) {
    ServeCopies(AIst, AIstIndex, APacket);
  } else {
    if (type == AVMEDIA_TYPE_VIDEO)
      ShowLastPicture(AIst, AIstIndex);
    FlushEncoders(AIstIndex);
  }
  return decoded ? 0 : -1;
}

// Stream copy: the clock advances by the packet's length.
void TCustomFFmpeg::AdvanceCopyClock(TInputStream &AIst, const AVPacket *APacket) {
  AIst.Pts = AIst.NextPts;
  const AVMediaType type = AIst.Stream->codecpar->codec_type;
  if (type == AVMEDIA_TYPE_AUDIO) {
    const int frameSize = AIst.Stream->codecpar->frame_size;
    const int rate = AIst.Stream->codecpar->sample_rate;
    if (APacket->duration > 0)
      AIst.NextPts += ToMicroseconds(APacket->duration, AIst.Stream->time_base);
    else if (frameSize > 0 && rate > 0)
      AIst.NextPts += static_cast<int64_t>(1000000) * frameSize / rate;
  } else if (type == AVMEDIA_TYPE_VIDEO) {
    const AVRational rate = VideoFrameRate(AIst);
    AIst.NextPts += static_cast<int64_t>(1000000) * rate.den / rate.num;
  }
}

// Sends a sound or video packet (nullptr: drain) to the decoder and serves every frame it gives
// back. False when it failed: at once for a packet, after the rest of the frames when draining.
bool TCustomFFmpeg::DecodeFrames(TInputStream &AIst, int AIstIndex, const AVPacket *APacket,
                                 int64_t APts) {
  TTranscodeRun &run = *TranscodeRun;
  AVCodecContext *dec = AIst.Codec;
  bool failed = false;
  if (AIst.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && APacket) {
    const size_t wanted = std::max<size_t>(2 * static_cast<size_t>(APacket->size), 192000);
    if (run.SampleBuffer.size() < wanted)
      run.SampleBuffer.resize(wanted);
  }
  // While draining, a picture the decoder fails on is skipped: the ones it still holds, the
  // last picture's repetition and the encoders' flush must not be lost with it.
  int ret = avlib.avcodec_send_packet(dec, APacket);
  if (ret < 0 && ret != AVERROR_EOF && ret != AVERROR(EAGAIN)) {
    if (APacket)
      return false;
    failed = true;
  }
  AVFrame *frame = run.DecodedFrame;
  for (int errors = 0;;) {
    ret = avlib.avcodec_receive_frame(dec, frame);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
      break;
    if (ret < 0) {
      if (APacket)
        return false;
      failed = true;
      if (++errors > 64) // a decoder that only fails any more
        break;
      continue;
    }
    ServeDecodedFrame(AIst, AIstIndex, frame, APts);
    avlib.av_frame_unref(frame);
  }
  return !failed;
}

// One decoded frame on the stream's clock to the encoders it feeds; a picture is kept as the
// last one shown.
void TCustomFFmpeg::ServeDecodedFrame(TInputStream &AIst, int AIstIndex, AVFrame *AFrame,
                                      int64_t APts) {
  TTranscodeRun &run = *TranscodeRun;
  const AVCodecContext *dec = AIst.Codec;
  const bool video = AIst.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
  AIst.Pts = AIst.NextPts;
  // A decoder on frame threads (video, and sound such as FLAC) hands each frame back some
  // packets later: its clock is that of the packet it was decoded from, as with a decoder on
  // one thread, or that stream would start late against the other and outlast it.
  if ((dec->active_thread_type & FF_THREAD_FRAME) && AFrame->pkt_dts != AV_NOPTS_VALUE)
    AIst.Pts = ToMicroseconds(AFrame->pkt_dts, AIst.Stream->time_base);
  // A picture is shown at its own time, which with reordered pictures is not its packet's:
  // a cut starts with the chosen picture and the flash stays with its beep.
  if (video && AFrame->best_effort_timestamp != AV_NOPTS_VALUE)
    AIst.Pts = ToMicroseconds(AFrame->best_effort_timestamp, AIst.Stream->time_base);
  if (!video) {
    const int bytes = ConvertDecodedAudio(AIst, AFrame);
    if (bytes < 1)
      return;
    AIst.NextPts += static_cast<int64_t>(500000) * bytes /
                    (static_cast<int64_t>(AIst.ConverterRate) * AIst.ConverterChannels);
    ApplyVolume(run.SampleBuffer.data(), bytes);
    // Sound before a chosen start is cut off to the sample, so that it starts with the
    // picture; a stretch muxed at negative times would play on players that ignore edits.
    int skip = 0;
    if (InputCutAtStart[AIst.FileIndex] && AIst.Pts < 0) {
      const int frameBytes = 2 * AIst.ConverterChannels;
      const int64_t samples =
          (-AIst.Pts * AIst.ConverterRate + 999999) / static_cast<int64_t>(1000000);
      if (samples * frameBytes >= bytes)
        return;
      skip = static_cast<int>(samples) * frameBytes;
      AIst.Pts = 0;
    }
    // And at the recording time ("t"), so that it ends with the picture.
    int keep = bytes - skip;
    if (RecordingTime != std::numeric_limits<int64_t>::max()) {
      const int frameBytes = 2 * AIst.ConverterChannels;
      const int64_t room = RecordingTime - AIst.Pts;
      const int64_t samples = room <= 0 ? 0 : room * AIst.ConverterRate / 1000000;
      if (samples * frameBytes < keep)
        keep = static_cast<int>(samples) * frameBytes;
    }
    if (keep > 0)
      ServeEncoders(AIst, AIstIndex, run.SampleBuffer.data() + skip, keep, nullptr, nullptr, APts);
    return;
  }
  AIst.Quality = AFrame->quality;
  const AVRational rate = VideoFrameRate(AIst);
  AIst.NextPts = AIst.Pts + static_cast<int64_t>(1000000) * rate.den / rate.num;
  PreProcessVideoFrame(AIst, AFrame);
  // Pictures before a chosen start are left out (the one nearest to it is the first), and
  // so are those past the recording time.
  const int64_t middle = AIst.Pts + (AIst.NextPts - AIst.Pts) / 2;
  const bool beforeStart = InputCutAtStart[AIst.FileIndex] && middle <= 0;
  if (middle >= RecordingTime)
    return;
  if (!beforeStart)
    ServeEncoders(AIst, AIstIndex, nullptr, 0, AFrame, nullptr, APts);
  if (!AIst.LastPicture)
    AIst.LastPicture = avlib.av_frame_alloc();
  if (!AIst.LastPicture)
    return;
  avlib.av_frame_unref(AIst.LastPicture);
  // A hooked picture lies in the hook buffer, which the next picture overwrites before this
  // one is repeated: it is kept in a buffer of the stream's own, reused while it fits.
  if (HookBuffer && AFrame->data[0] == HookBuffer) {
    KeepHookedPicture(AIst, AFrame);
    return;
  }
  avlib.av_frame_move_ref(AIst.LastPicture, AFrame);
}

void TCustomFFmpeg::KeepHookedPicture(TInputStream &AIst, const AVFrame *AFrame) {
  AVFrame *&held = AIst.HookedPicture;
  if (held && (held->format != AFrame->format || held->width != AFrame->width ||
               held->height != AFrame->height || avlib.av_frame_make_writable(held) < 0))
    avlib.av_frame_free(&held);
  if (!held) {
    held = avlib.av_frame_alloc();
    if (!held)
      return;
    held->format = AFrame->format;
    held->width = AFrame->width;
    held->height = AFrame->height;
    if (avlib.av_frame_get_buffer(held, 0) < 0) {
      avlib.av_frame_free(&held);
      return;
    }
  }
  avlib.av_image_copy(held->data, held->linesize, const_cast<const uint8_t **>(AFrame->data),
                      AFrame->linesize, static_cast<AVPixelFormat>(AFrame->format), AFrame->width,
                      AFrame->height);
  if (avlib.av_frame_copy_props(held, AFrame) < 0 || avlib.av_frame_ref(AIst.LastPicture, held) < 0)
    avlib.av_frame_unref(AIst.LastPicture);
}

// Decodes a subtitle packet (nullptr: drain) and serves what it gives. False when it failed.
bool TCustomFFmpeg::DecodeSubtitle(TInputStream &AIst, int AIstIndex, const AVPacket *APacket,
                                   int64_t APts) {
  AVSubtitle subtitle{};
  int got = 0;
  AVPacket *input = TranscodeRun->FilterPacket;
  if (APacket && avlib.av_packet_ref(input, APacket) < 0)
    return false;
  const int ret = avlib.avcodec_decode_subtitle2(AIst.Codec, &subtitle, &got, input);
  avlib.av_packet_unref(input);
  if (ret < 0)
    return false;
  if (!got)
    return true;
  AIst.Pts = AIst.NextPts;
  try {
    ServeEncoders(AIst, AIstIndex, nullptr, 0, nullptr, &subtitle, APts);
  } catch (...) {
    avlib.avsubtitle_free(&subtitle);
    throw;
  }
  avlib.avsubtitle_free(&subtitle);
  return true;
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
      throw FFMpegException(M_("invalid codec_type"));
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
      throw FFMpegException(M_("Not enough memory"));
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
      throw FFMpegException(FormatText(M_("Can not convert audio of input stream #%d.%d"),
                                       AIst.FileIndex, AIst.Index));
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
  // Pictures past the recording time were not shown: the output ends there. A long last
  // picture (a still's one picture) is shown in steps that stay below the longest gap the
  // frame-rate keeping fills.
  const int64_t end = std::min(AIst.NextPts, RecordingTime);
  const auto step = static_cast<int64_t>(MaxFilledGapSeconds * 1000000.0 / 2);
  for (int64_t at = std::min(end, lastPts + step);; at = std::min(end, at + step)) {
    AIst.Pts = at;
    for (TOutputStream &ost : TranscodeRun->OutputStreams) {
      if (ost.SourceIndex != AIstIndex || !ost.EncodingNeeded || ost.SyncIst != &AIst ||
          ost.Codec->codec_type != AVMEDIA_TYPE_VIDEO)
        continue;
      const double timeBase = av_q2d(ost.Codec->time_base);
      if (VideoSyncMethod < 0 && timeBase <= 0.001)
        continue;
      if (GetSyncIpts(ost, StartTime) / timeBase - static_cast<double>(ost.SyncOpts) <= 0.5)
        continue;
      // The frames up to the end: as if a picture came one frame before it.
      AIst.Pts = at - std::llrint(timeBase * 1000000.0);
      int frameSize = 0;
      DoVideoOut(OutputFiles[ost.FileIndex], ost, AIst, AIst.LastPicture, frameSize);
      AIst.Pts = at;
      if (VStatsFileName && frameSize != 0)
        DoVideoStats(OutputFiles[ost.FileIndex], ost, frameSize, ost.FrameNumber, ost.SyncOpts);
    }
    if (at >= end || StopRequested)
      break;
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
        VideoSize += EncodeFrame(os, ost, nullptr, M_("Video encoding failed"));
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
        const std::string what = FormatText(
            M_("%s failed for stream %d, codec %s"), AOst.BitstreamFilter->filter->name, AOst.Index,
            AOst.EncodingNeeded && AOst.Codec && AOst.Codec->codec ? AOst.Codec->codec->name
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
