// Per-run records of the transcode: created zero-filled by Transcode and freed by it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/custom_ffmpeg.h"

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
  int64_t RateEmuStart = 0;
  int FrameCount = 0;
  int64_t NextPts = AV_NOPTS_VALUE; // microseconds
  int64_t Pts = 0;                  // microseconds
  bool IsStart = true;
};

struct TOutputStream {
  int FileIndex = 0;
  int Index = 0;
  int SourceIndex = 0;
  AVStream *Stream = nullptr;
  AVCodecContext *Codec = nullptr; // the encoder context (owned by the engine's OutputCodecs)
  bool EncodingNeeded = false;
  int FrameNumber = 0;
  TInputStream *SyncIst = nullptr;
  int64_t SyncOpts = 0;

  // Video.
  bool VideoResample = false;
  AVFrame *PictTmp = nullptr;
  SwsContext *ImgResampleCtx = nullptr;
  int ResampleHeight = 0;
  bool VideoCrop = false;
  int TopBand = 0, LeftBand = 0;
  bool VideoPad = false;
  int PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;

  // Audio.
  bool AudioResample = false;
  SwrContext *Resampler = nullptr;
  AVFifo *Fifo = nullptr; // bytes of 16-bit interleaved audio waiting for a full encoder frame

  FILE *LogFile = nullptr; // two-pass statistics (pass 1)
  AVBSFContext *BitstreamFilter = nullptr;
};

// Everything one run owns. Scratch buffers are per engine (here), never per process.
struct TTranscodeRun {
  std::vector<TInputFile> InputFileTable;
  std::vector<TInputStream> InputStreams;
  std::vector<TOutputStream> OutputStreams;
};
