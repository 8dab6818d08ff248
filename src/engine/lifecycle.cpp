// The engine object's lifecycle: creation, preparation for a job, the reset of its options and
// the release of its files and buffers.
#include "engine/custom_ffmpeg.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <limits>

#include "engine/unfinished_outputs.h"
#include "medialib/medialib.h"
#include "medialib/words.h"

namespace {

// An output that never got a byte is removed rather than left behind as an empty file; only the
// file this engine created (AId: device and inode, both 0 for a table filled without
// OpenOutputFile).
void RemoveIfEmpty(const char *AUrl, const uint64_t *AId) {
  struct stat st;
  if (!AUrl || !*AUrl || ::stat(AUrl, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0)
    return;
  const bool known = AId[0] != 0 || AId[1] != 0;
  if (!known ||
      (static_cast<uint64_t>(st.st_dev) == AId[0] && static_cast<uint64_t>(st.st_ino) == AId[1]))
    ::unlink(AUrl);
}

} // namespace

TCustomFFmpeg::TCustomFFmpeg() { Create(); }

TCustomFFmpeg::~TCustomFFmpeg() {
  // Never release the files under a worker that is still running.
  StopAndWait();
  FreeFiles();
}

void TCustomFFmpeg::Create() {
  ProgressInterval = 500000;
  OutputDurationMs = -1;
  ClearRunFlags();
  OpenedEncoders.clear();
  OpenedDecoders.clear();
  ResetOptions();
}

void TCustomFFmpeg::Prepare() {
  if (!LibrariesLoaded())
    return;
  FreeFiles();
  ResetOptions();
  ClearRunFlags();
  OutputDurationMs = -1;
  for (int t = 0; t < 5; ++t) {
    CodecDefaults[t] = avlib.avcodec_alloc_context3(nullptr);
    if (!CodecDefaults[t])
      throw FFMpegException(M_("Could not allocate the codec option holders"));
    CodecDefaults[t]->codec_type = static_cast<AVMediaType>(t);
  }
  FormatDefaults = avlib.avformat_alloc_context();
  ScalerDefaults = avlib.sws_alloc_context();
  if (!FormatDefaults || !ScalerDefaults)
    throw FFMpegException(M_("Could not allocate the option holders"));
  avlib.av_opt_set_int(ScalerDefaults, "sws_flags", SwsFlags, 0);
}

// Every option back to its default, and the file tables empty. Called by Create and by Prepare
// after FreeFiles, so the file tables hold nothing open here.
void TCustomFFmpeg::ResetOptions() {
  ResetFileTables();
  ReleaseOptionTexts();
  ResetPictureOptions();
  ResetSoundOptions();
  ResetRunOptions();
}

// The tables of input and output files, stream maps and metadata maps, emptied.
void TCustomFFmpeg::ResetFileTables() {
  for (int i = 0; i < MaxFiles; ++i) {
    InputFiles[i] = nullptr;
    InputTsOffsets[i] = 0;
    InputStartUnknown[i] = false;
    InputCutAtStart[i] = false;
    for (int s = 0; s < MAX_STREAMS; ++s)
      InputTsScales[i][s] = 0;
    OutputFiles[i] = nullptr;
    InputCodecs[i].clear();
    for (int s = 0; s < MAX_STREAMS; ++s) {
      OutputCodecs[i][s] = nullptr;
      OutputCodecOptions[i][s] = nullptr;
      OutputStreamCopy[i][s] = false;
      OutputStreamGenerated[i][s] = false;
    }
    OutputFormatOptions[i] = nullptr;
  }
  InputFileCount = 0;
  OutputFileCount = 0;
  for (TStreamMap &map : StreamMaps)
    map = TStreamMap{};
  StreamMapCount = 0;
  for (TMetaDataMap &map : MetaDataMaps)
    map = TMetaDataMap{};
  MetaDataMapCount = 0;
  InputFormat = nullptr;
  OutputFormat = nullptr;
}

// Owned option texts and matrices are option state, not files: release what a caller may
// have set since the last FreeFiles instead of dropping the reference.
void TCustomFFmpeg::ReleaseOptionTexts() {
  if (LibrariesLoaded()) {
    avlib.av_freep(&IntraMatrix);
    avlib.av_freep(&InterMatrix);
    avlib.av_freep(&VideoRcOverride);
    avlib.av_freep(&VideoCodecName);
    avlib.av_freep(&AudioCodecName);
    avlib.av_freep(&SubtitleCodecName);
    avlib.av_freep(&VideoStandard);
    avlib.av_freep(&VStatsFileName);
    for (AVDictionary *&dict : CodecPrivateOptions)
      avlib.av_dict_free(&dict);
    avlib.av_dict_free(&FormatPrivateOptions);
  }
}

// The picture options: size, pads, crop, rate, quality, fields.
void TCustomFFmpeg::ResetPictureOptions() {
  FrameWidth = FrameHeight = 0;
  FrameAspectRatio = 0;
  FramePixFmt = -1;
  AudioSampleFmt = -1;
  PadTop = PadBottom = PadLeft = PadRight = 0;
  PadColor[0] = 16;
  PadColor[1] = 128;
  PadColor[2] = 128;
  CropTop = CropBottom = CropLeft = CropRight = 0;
  for (int &max : MaxFrames)
    max = 2147483647;
  FrameRate = AVRational{0, 0};
  VideoQScale = 0;
  VideoDisable = false;
  VideoDiscard = 0;
  VideoCodecTag = 0;
  SameQuality = false;
  Deinterlace = false;
  TopFieldFirst = -1;
  MeThreshold = 0;
  IntraDcPrecision = 8;
  LoopInput = false;
  LoopOutput = -1;
  QpHist = false;
  IntraOnly = false;
}

// The sound and subtitle options.
void TCustomFFmpeg::ResetSoundOptions() {
  AudioSampleRate = 44100;
  AudioQScale = -99999;
  AudioDisable = false;
  AudioChannels = 2;
  AudioCodecTag = 0;
  AudioLanguage.clear();
  SubtitleDisable = false;
  SubtitleLanguage.clear();
  AudioVolume = 256;
  AudioStreamCopy = VideoStreamCopy = SubtitleStreamCopy = false;
}

// Muxing, timing, metadata, statistics, hook and run options.
void TCustomFFmpeg::ResetRunOptions() {
  MuxPreload = 0.5f;
  MuxMaxDelay = 0.7f;
  RecordingTime = std::numeric_limits<int64_t>::max();
  OutputDurationMs = -1;
  StartTime = 0;
  BurnSubtitleStream = -1;
  BurnSubtitleFile.clear();
  RecTimestamp = 0;
  InputTsOffset = 0;
  LimitFileSize = 0;
  VideoSyncMethod = -1;
  AudioSyncMethod = 0;
  AudioDriftThreshold = 0.1f;
  DtsDeltaThreshold = 10;
  CopyTs = false;
  Shortest = false;
  InputSync = false;
  RateEmu = false;
  VideoGlobalHeader = 0;
  ProgramId = 0;
  VideoChannel = 0;

  Title.clear();
  Author.clear();
  Copyright.clear();
  Comment.clear();
  Genre.clear();
  Album.clear();
  Year = Track = 0;

  HexDump = false;
  PktDump = false;
  DoPsnr = false;
  DoPass = 0;
  PassLogFileName.clear();
  Verbose = 1;
  ThreadCount = 1;
  UsingVHook = false;
  PgmyuvCompatibilityHack = false;
  SwsFlags = 4;

  OptNames.clear();
  OptNameCount = 0;
  BitBufferSize = 262144;

  VideoSize = AudioSize = ExtraSize = 0;
  FramesDup = FramesDrop = 0;
  TimerStart = 0;

  HookFrameNumber = 0;
  HookAction = haContinue;
  HookRGBPixFmt = 3;
  HookBitmapPixelFormat = 24;
  TimeRanges.clear();
  TimeRangeIndex = 0;
  TimeRangeCount = 0;

  ExceptionRaised = false;
}

// Closes every file and releases every library object the engine holds; idempotent.
void TCustomFFmpeg::FreeFiles() {
  if (!LibrariesLoaded())
    return;
  for (AVCodecContext *&holder : CodecDefaults)
    avlib.avcodec_free_context(&holder);
  avlib.avformat_free_context(FormatDefaults);
  FormatDefaults = nullptr;
  avlib.sws_freeContext(ScalerDefaults);
  ScalerDefaults = nullptr;
  FreeOutputFiles();
  FreeInputFiles();
  FreeOptionBuffers();
}

// Closes the outputs with their encoder contexts and options.
void TCustomFFmpeg::FreeOutputFiles() {
  for (int i = 0; i < OutputFileCount; ++i) {
    AVFormatContext *context = OutputFiles[i];
    {
      std::lock_guard<std::recursive_mutex> lock(CodecLock);
      for (AVCodecContext *&codec : OutputCodecs[i])
        avlib.avcodec_free_context(&codec);
    }
    for (AVDictionary *&dict : OutputCodecOptions[i])
      avlib.av_dict_free(&dict);
    avlib.av_dict_free(&OutputFormatOptions[i]);
    for (bool &copy : OutputStreamCopy[i])
      copy = false;
    for (bool &generated : OutputStreamGenerated[i])
      generated = false;
    // What becomes of a file released without its index is its caller's to decide.
    ForgetUnfinishedOutput(UnfinishedNotes[i]);
    UnfinishedNotes[i] = -1;
    if (!context)
      continue;
    if (context->oformat && !(context->oformat->flags & AVFMT_NOFILE) && context->pb)
      avlib.avio_closep(&context->pb);
    // An output that never got a byte is removed rather than left behind as an empty file.
    if (!KeepEmptyOutputs)
      RemoveIfEmpty(context->url, OutputFileIds[i]);
    OutputFileIds[i][0] = OutputFileIds[i][1] = 0;
    avlib.avformat_free_context(context);
    OutputFiles[i] = nullptr;
  }
  OutputFileCount = 0;
}

// Closes the inputs with their decoder contexts.
void TCustomFFmpeg::FreeInputFiles() {
  for (int i = 0; i < InputFileCount; ++i) {
    {
      std::lock_guard<std::recursive_mutex> lock(CodecLock);
      for (AVCodecContext *&codec : InputCodecs[i])
        avlib.avcodec_free_context(&codec);
    }
    InputCodecs[i].clear();
    if (InputFiles[i])
      avlib.avformat_close_input(&InputFiles[i]);
  }
  InputFileCount = 0;
}

// The option texts, the statistics file and the buffers of the hooks.
void TCustomFFmpeg::FreeOptionBuffers() {
  avlib.av_freep(&IntraMatrix);
  avlib.av_freep(&InterMatrix);
  if (VStatsFile) {
    std::fclose(VStatsFile);
    VStatsFile = nullptr;
  }
  avlib.av_freep(&VStatsFileName);
  OptNames.clear();
  OptNameCount = 0;
  for (AVDictionary *&dict : CodecPrivateOptions)
    avlib.av_dict_free(&dict);
  avlib.av_dict_free(&FormatPrivateOptions);
  avlib.av_freep(&VideoCodecName);
  avlib.av_freep(&AudioCodecName);
  avlib.av_freep(&SubtitleCodecName);
  avlib.av_freep(&VideoStandard);
  avlib.av_freep(&VideoRcOverride);
  AudioLanguage.clear();
  SubtitleLanguage.clear();
  avlib.av_freep(&BitBuffer);

  FrameHookRelease(FrameHooks);
  avlib.av_freep(&HookBuffer);
  HookBufferSize = 0;
  avlib.av_freep(&RGBBuffer);
  RGBBufferSize = 0;
  delete HookBitmap;
  HookBitmap = nullptr;
  avlib.sws_freeContext(ToRGBContext);
  ToRGBContext = nullptr;
  avlib.sws_freeContext(FromRGBContext);
  FromRGBContext = nullptr;
}

void TCustomFFmpeg::ClearRunFlags() {
  Running = false;
  StopRequested = false;
  Finished = false;
  Terminated = false;
  ExceptionRaised = false;
  ExceptionMessage.clear();
}
