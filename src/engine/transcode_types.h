// Per-run records of the transcode: created zero-filled by Transcode and freed by it.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/text.h"
#include "engine/custom_ffmpeg.h"
#include "engine/encode_pipe.h"
#include "engine/picture_ops.h"
#include "engine/subtitle_burn.h"

struct TInputFile {
  bool EofReached = false;
  int IstIndex = 0;  // index in InputStreams of the file's first stream
  int NbStreams = 0; // number of streams of the file when the run started
};

struct TInputStream {
  int FileIndex = 0;
  int Index = 0;
  AVStream *Stream = nullptr;
  AVCodecContext *Codec = nullptr; // the decoder context (owned by the engine's InputCodecs)
  bool Discard = true;
  bool DecodingNeeded = false;
  bool RateEmu = false;
  int64_t RateEmuStart = 0;
  int FrameCount = 0;
  int64_t NextPts = AV_NOPTS_VALUE; // microseconds
  int64_t Pts = 0;                  // microseconds
  int64_t LastDts = AV_NOPTS_VALUE; // of the last packet read, microseconds
  bool IsStart = true;
  double Quality = 0; // quality of the last decoded picture (lambda units)
  // The last decoded picture (moved, not copied), shown until the end of the input at the end.
  AVFrame *LastPicture = nullptr;
  AVFrame *HookedPicture = nullptr; // owned; LastPicture's buffer when hooks drew it

  // Decoded audio arrives in the decoder's sample format; it is turned into signed 16-bit
  // interleaved samples at the decoder's rate and channel count before anything else sees it.
  SwrContext *SampleConverter = nullptr;
  int ConverterFormat = -1, ConverterRate = 0, ConverterChannels = 0;
  AVChannelLayout ConverterLayout{}; // layout of the 16-bit samples
};

// What the encoder reported about the last packet it produced: its quality statistics side
// data (lambda, picture type, squared errors per plane) and its key flag.
struct TCodedFrameInfo {
  int Quality = 0;
  AVPictureType PictType = AV_PICTURE_TYPE_NONE;
  int64_t Error[4] = {};
  bool KeyFrame = false;
};

struct TOutputStream {
  int FileIndex = 0;
  int Index = 0;
  int SourceIndex = 0; // -1 for a generated stream: no input feeds it
  bool Generated = false;
  AVStream *Stream = nullptr;
  AVCodecContext *Codec = nullptr; // the encoder context (owned by the engine's OutputCodecs)
  bool EncodingNeeded = false;
  int FrameNumber = 0;
  TInputStream *SyncIst = nullptr;
  int64_t SyncOpts = 0;
  // Seconds of the input's clock jumped over: a gap too long to fill (a damaged time stamp
  // hours or days away) is not carried into the output, which goes on where it was.
  double JumpedSeconds = 0;

  // Video.
  bool VideoResample = false;
  AVFrame *PictTmp = nullptr; // owned; its buffer is at the encoder's format and size
  SwsContext *ImgResampleCtx = nullptr;
  TScalerSetup ImgResampleSetup; // what ImgResampleCtx was made for
  int ResampleHeight = 0;
  bool VideoCrop = false;
  int TopBand = 0, LeftBand = 0, BottomBand = 0, RightBand = 0; // of the stored picture
  TPictureTurn Turn;          // how the input's pictures are turned for the viewer
  AVFrame *TurnTmp = nullptr; // owned; the scaled picture before it is turned
  bool VideoPad = false;
  int PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
  // The encoder's own thread (StartEncodePipe), or none: the engine thread encodes. Ended by
  // CloseEncoder before the encoder closes.
  std::unique_ptr<TEncodePipe> Pipe;
  TCodedFrameInfo CodedFrame; // of the last encoded packet (NoteCodedFrame)

  // Audio.
  bool AudioResample = false;
  SwrContext *Resampler = nullptr; // 16-bit decoder rate/channels -> 16-bit encoder rate/channels
  int ResamplerInRate = 0, ResamplerInChannels = 0;
  AVFifo *Fifo = nullptr; // bytes of 16-bit interleaved audio waiting for a full encoder frame
  SwrContext *EncoderConverter = nullptr; // 16-bit interleaved -> the encoder's sample format
  // One encoder frame, reused. Audio: with its own buffer. Video: only points at the picture
  // being encoded (the encoder copies what it keeps). Freed for every stream at the end of a run.
  AVFrame *EncoderFrame = nullptr;
  int EncoderFrameCapacity = 0;            // samples EncoderFrame's buffer holds (audio)
  int64_t EncoderNextPts = AV_NOPTS_VALUE; // end of the audio handed to the encoder so far

  FILE *LogFile = nullptr; // two-pass statistics (pass 1)
  AVBSFContext *BitstreamFilter = nullptr;

  // Read by the progress report: the quality (lambda) and the per-plane errors of the last
  // encoded frame (from the packet's quality side data), and the end of the last packet
  // written (pts + duration, stream time base; AV_NOPTS_VALUE before the first), which is also
  // the output position the main loop uses to choose the next input.
  int Quality = 0;
  int64_t Error[4] = {};
  int64_t CurrentPts = AV_NOPTS_VALUE;
};

// Everything one run owns. Scratch buffers are per engine (here), never per process.
struct TTranscodeRun {
  TTranscodeRun() = default;
  ~TTranscodeRun(); // frees what the records own (setup.cpp)
  TTranscodeRun(const TTranscodeRun &) = delete;
  TTranscodeRun &operator=(const TTranscodeRun &) = delete;

  std::vector<TInputFile> InputFileTable;
  std::vector<TInputStream> InputStreams;
  std::vector<TOutputStream> OutputStreams;

  AVPacket *ReadPacket = nullptr;      // the packet read from the demuxer
  AVPacket *OutPacket = nullptr;       // copied or encoded packet on its way to the muxer
  AVPacket *FilterPacket = nullptr;    // bitstream filter output
  AVFrame *DecodedFrame = nullptr;     // the decoder's output
  std::vector<uint8_t> SampleBuffer;   // decoded audio, 16-bit interleaved; grows only
  std::vector<uint8_t> ResampleBuffer; // resampler output, then one encoder frame
  std::vector<uint8_t> SilenceBuffer;  // silence followed by input; grows only
  std::vector<uint8_t> SubtitleBuffer; // encoded subtitle
  bool HasGeneratedStreams = false;
  int64_t LastReportTime = 0;              // microseconds
  std::unique_ptr<TSubtitleBurner> Burner; // subtitles burned into the picture, when chosen
};

// The sync clock of an output stream, in seconds from the start time.
inline double GetSyncIpts(const TOutputStream &AOst, int64_t AStartTime) {
  return static_cast<double>(AOst.SyncIst->Pts - AStartTime) / 1000000.0 - AOst.JumpedSeconds;
}

// Records in AOst.CodedFrame what the encoder reported with APacket; called for every packet an
// encoder returns, before the packet goes to the muxer.
inline void NoteCodedFrame(TOutputStream &AOst, const AVPacket *APacket) {
  TCodedFrameInfo &info = AOst.CodedFrame;
  info.KeyFrame = (APacket->flags & AV_PKT_FLAG_KEY) != 0;
  size_t size = 0;
  const uint8_t *stats = avlib.av_packet_get_side_data(APacket, AV_PKT_DATA_QUALITY_STATS, &size);
  if (!stats || size < 6)
    return;
  // Layout: quality (32-bit LE), picture type (8 bits), error count (8 bits), 2 reserved bytes,
  // then that many 64-bit LE errors.
  auto le = [stats](size_t AAt, int ABytes) {
    uint64_t v = 0;
    for (int i = ABytes - 1; i >= 0; --i)
      v = (v << 8) | stats[AAt + i];
    return v;
  };
  info.Quality = static_cast<int>(le(0, 4));
  info.PictType = static_cast<AVPictureType>(stats[4]);
  const int count = stats[5] < 4 ? stats[5] : 4;
  for (int i = 0; i < 4; ++i)
    info.Error[i] = (i < count && size >= 8 + 8 * static_cast<size_t>(i + 1))
                        ? static_cast<int64_t>(le(8 + 8 * i, 8))
                        : 0;
}
