// TCustomFFmpeg: one transcoding job with its complete option state, its files, its generic
// option store, its statistics and its run state. Nothing here is shared between engines;
// the process-wide items are the loaded libraries, CodecLock and CurrentLogLevel (medialib).
//
// The class is implemented in one file per concern:
//   lifecycle.cpp        creation, Prepare, ResetOptions, FreeFiles
//   options.cpp          SetOption, the option table, generic options
//   input.cpp            OpenInputFile and its setters
//   output.cpp           OpenOutputFile, new streams
//   option_handlers.cpp  the checked option handlers, targets
//   setup.cpp            Transcode set-up
//   loop.cpp             main loop, packet output, end of run
//   video_out.cpp        picture pre-processing, hooks, video encoding, video statistics
//   audio_out.cpp        audio and subtitle output
//   generated_out.cpp    silence and black pictures for streams the inputs do not have
//   report.cpp           progress report and statistics
//   run_control.cpp      Run, threads, pause, resume, stop
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_error.h"
#include "engine/picture_ops.h"
#include "engine/run_control.h"
#include "medialib/bgr_image.h"
#include "medialib/frame_hook.h"
#include "medialib/media_functions.h"

enum THookAction { haContinue = 0, haIgnore = 1, haStop = 2 };

struct TTimeRange {
  int64_t Start = 0; // microseconds
  int64_t Stop = 0;
};

constexpr int MaxFiles = 20;
constexpr int MAX_STREAMS = 20;
constexpr int MaxStreamMaps = 20;
constexpr int MaxMetaDataMaps = 20;

struct TStreamMap {
  int FileIndex = 0;
  int StreamIndex = 0;
  int SyncFileIndex = 0;
  int SyncStreamIndex = 0;
};

struct TMetaDataMap {
  int OutFile = 0;
  int InFile = 0;
};

// Per-run records of the transcode (transcode_types.h).
struct TInputFile;
struct TInputStream;
struct TOutputStream;
struct TTranscodeRun;
struct TPictureDraw;
class TFFmpegThread;

// Refuses the addition of one more entry to a fixed table (input or output files, stream or
// metadata mappings) that already holds AMax entries: raises FFMpegException naming AWhat.
void CheckTableRoom(int ACount, int AMax, const char *AWhat);

// Number conversion of option values. Raise EConvertError "'%s' is not a valid integer value"
// or "'%s' is not a valid floating point value"; leading blanks and a "+" sign are accepted,
// anything after the number is not. Independent of the process locale.
int StrToInt(const std::string &AValue);
int64_t StrToInt64(const std::string &AValue);
double StrToFloat(const std::string &AValue);

class TCustomFFmpeg;
using TLogEvent = std::function<void(TCustomFFmpeg *Sender, int ALevel, const std::string &AMsg)>;
using TProgressEvent =
    std::function<void(TCustomFFmpeg *Sender, int AFrameNumber, int AFPS, int ACurrentDurationMs,
                       float AQuality, float ABitRate, int64_t ACurrentSize, int ATotalDurationMs)>;
using TTerminateEvent = std::function<void(TCustomFFmpeg *Sender)>;
using TBeforeHookEvent =
    std::function<void(TCustomFFmpeg *Sender, THookAction &AHookAction, int64_t APTS)>;
using TCustomHookEvent =
    std::function<void(TCustomFFmpeg *Sender, TBGRImage &ABitmap, int AFrameNumber, int64_t APTS,
                       bool &AUpdate, bool &AStopHook)>;

class TCustomFFmpeg {
public:
  TCustomFFmpeg();
  virtual ~TCustomFFmpeg();
  TCustomFFmpeg(const TCustomFFmpeg &) = delete;
  TCustomFFmpeg &operator=(const TCustomFFmpeg &) = delete;

  // ---- lifecycle (options.cpp) ----
  virtual void Create(); // called by the constructor; a subclass may add its own set-up
  void Prepare();
  void ResetOptions();
  void FreeFiles();

  // ---- options (options.cpp) ----
  void SetOption(const std::string &AName, const std::string &AValue);
  // One option per line, each split at its first "=".
  void SetOptionText(const std::string &AText);
  bool SetGenericOption(const std::string &AName, const std::string &AValue);
  // Copies to ATarget every recorded generic option that AHolder knows with all AFlags bits.
  // Options private to a codec or muxer are not copied: see CopyPrivateOptions.
  void ApplyContextOptions(void *ATarget, void *AHolder, int AFlags);
  // The private (codec- or muxer-specific) options recorded for a holder, for avcodec_open2 /
  // avformat_write_header. AMediaType is 0..4; the format holder is -1. The caller owns the copy
  // (av_dict_free). With APrivateClass (the chosen codec's or muxer's priv_class) only the
  // entries that class knows are copied, so a name meant for another encoder cannot make
  // avcodec_open2 fail on the generic option of the same name; a null class gives an empty copy.
  AVDictionary *CopyPrivateOptions(int AMediaType) const;
  AVDictionary *CopyPrivateOptions(int AMediaType, const AVClass *APrivateClass) const;

  // Typed setters used by the converter.
  void SetVerbose(int AValue);
  void SetGenericOptionInt(const std::string &AName, int AValue);
  void SetAudioSampleRate(int AValue);
  void SetAudioChannels(int AValue);
  void SetAudioVolume(int AValue);
  void SetAudioSyncMethod(int AValue);
  void SetVideoSyncMethod(int AValue);
  void SetMuxMaxDelay(float AValue);
  void SetMuxPreload(float AValue);
  void SetTitle(const std::string &AValue);
  void SetAuthor(const std::string &AValue);
  void SetCopyright(const std::string &AValue);
  void SetComment(const std::string &AValue);
  void SetAlbum(const std::string &AValue);
  void SetGenre(const std::string &AValue);
  void SetYear(int AValue);
  void SetTrack(int AValue);
  void SetTimeRanges(const std::vector<TTimeRange> &ARanges);

  // ---- input files (input.cpp) ----
  bool OpenInputFile(const std::string &AFileName);
  bool LookupCodec(const char *AName, int AMediaType, bool AEncoder, AVCodecID &ACodecId);
  void SetInputFormat(const std::string &AName);
  void SetStartTime(int64_t AMicroseconds);
  void SetProgramId(int AId);
  static std::string ErrorText(const std::string &AFileName, int AResultCode);

  // ---- output files (output.cpp) ----
  bool OpenOutputFile(const std::string &AFileName);
  void SetOutputFormat(const std::string &AName);
  void NewVideoStream(AVFormatContext *AContext);
  void NewAudioStream(AVFormatContext *AContext);
  void NewSubtitleStream(AVFormatContext *AContext);
  void CheckInputStreamKinds(bool &AHasVideo, bool &AHasAudio, bool &AHasSubtitle);
  // The first of ARates (terminated by 0/0) closest to AFps; AFps itself when ARates is empty.
  static AVRational ClosestFrameRate(AVRational AFps, const AVRational *ARates);

  // ---- checked option handlers (option_handlers.cpp) ----
  void SetFormat(const std::string &AValue);
  void SetFrameRate(const std::string &AValue);
  void SetFrameSize(const std::string &AValue);
  void SetAspectRatio(const std::string &AValue);
  void SetPixelFormat(const std::string &AValue);
  void SetCropTop(int AValue);
  void SetCropBottom(int AValue);
  void SetCropLeft(int AValue);
  void SetCropRight(int AValue);
  void SetPadTop(int AValue);
  void SetPadBottom(int AValue);
  void SetPadLeft(int AValue);
  void SetPadRight(int AValue);
  void SetPadColor(int AValue);
  void SetQScale(double AValue);
  void SetBitRate(const std::string &AName, const std::string &AValue);
  void SetVideoCodec(const std::string &AValue);
  void SetAudioCodec(const std::string &AValue);
  void SetSubtitleCodec(const std::string &AValue);
  void SetVideoTag(const std::string &AValue);
  void SetAudioTag(const std::string &AValue);
  void SetIntraMatrix(const std::string &AValue);
  void SetInterMatrix(const std::string &AValue);
  void SetPass(int AValue);
  void SetVStats();
  void SetVStatsFile(const std::string &AValue);
  void AddStreamMap(const std::string &AValue);
  void AddMetaDataMap(const std::string &AValue);
  void SetInputTsScale(const std::string &AValue);
  void SetRecordingTime(const std::string &AValue);
  void SetRecordingTimeMs(int AValue);
  void SetStartTimeText(const std::string &AValue);
  void SetInputTsOffset(const std::string &AValue);
  void SetRecTimestamp(const std::string &AValue);
  void AddFrameHook(const std::string &AValue);
  void SetTargetOption(const std::string &AValue);
  // ATargetType: "vcd", "svcd", "dvd", "dv", "dv50"; ANorm: "pal", "ntsc", "film" or empty.
  void SetTarget(const std::string &ATargetType, const std::string &ANorm,
                 const std::string &ADefaultNorm);

  // ---- run control (run_control.cpp) ----
  // APriority is that of the worker thread; a run on the calling thread keeps the caller's.
  TFFmpegThread *Run(bool AThreaded, TThreadPriority APriority = tpNormal);
  void RunTranscode();
  void FinishRun();
  void Stop();
  void Pause();
  void Resume();
  // Cooperative pause point of the worker: waits while paused, never holding CodecLock.
  void CheckPause();
  // Sleeps up to AMicroseconds; returns false early when a pause or a stop is requested.
  bool PausableSleep(int64_t AMicroseconds);
  // For an owner that lets go of the engine without waiting: a running transcode is asked to
  // stop, an engine that has not run never will, and nothing more is raised for a run that did
  // not begin. True when no thread works on the engine any more, so it can be freed at once;
  // otherwise its destructor waits for those threads.
  bool Abandon();
  // Called on the worker thread with its kernel id before the run begins.
  virtual void WorkerStarted(int /*AThreadId*/) {}

  // ---- the log (options.cpp) ----
  // Delivers a line to OnLog when a handler is set; callers check Verbose where a message
  // depends on it.
  void Log(int ALevel, const std::string &AMessage);
  void LogF(int ALevel, const char *AFormat, ...) __attribute__((format(printf, 3, 4)));

  // ---- events ----
  TLogEvent OnLog;
  TProgressEvent OnProgress;
  TTerminateEvent OnTerminate;
  TBeforeHookEvent OnBeforeHook;
  TCustomHookEvent OnCustomHook;

  // ================= option state =================
  // Files and mappings.
  AVFormatContext *InputFiles[MaxFiles] = {};
  int InputFileCount = 0;
  int64_t InputTsOffsets[MaxFiles] = {};
  bool InputStartUnknown[MaxFiles] = {}; // no start time: the first timestamp read is the start
  // Opened at a start time ("ss"): the seek lands on a key picture before it, and what is
  // decoded before the start is left out rather than muxed at negative times.
  bool InputCutAtStart[MaxFiles] = {};
  bool InputRateEmu[MaxFiles] = {}; // "re" of each input, read by the transcode set-up
  double InputTsScales[MaxFiles][MAX_STREAMS] = {};
  AVFormatContext *OutputFiles[MaxFiles] = {};
  int OutputFileCount = 0;
  // Device and inode of each output file as created here: only that file is removed as empty
  // when released, never one that has taken its name meanwhile (the run may end long after its
  // converter let it go).
  uint64_t OutputFileIds[MaxFiles][2] = {};
  // Set when the application keeps the name claimed after letting the task go unrun (a panel
  // that waits without open files): its empty output then stays on disk.
  bool KeepEmptyOutputs = false;
  // Each output file's note among the unfinished outputs, from its header to its index (-1: none).
  std::array<int, MaxFiles> UnfinishedNotes = [] {
    std::array<int, MaxFiles> none;
    none.fill(-1);
    return none;
  }();
  TStreamMap StreamMaps[MaxStreamMaps];
  int StreamMapCount = 0;
  TMetaDataMap MetaDataMaps[MaxMetaDataMaps];
  int MetaDataMapCount = 0;
  const AVInputFormat *InputFormat = nullptr;
  const AVOutputFormat *OutputFormat = nullptr;

  // The library no longer keeps a codec context inside its streams: the engine owns one per
  // input stream (decoder) and one per output stream (encoder), indexed like the streams.
  std::vector<AVCodecContext *> InputCodecs[MaxFiles];
  AVCodecContext *OutputCodecs[MaxFiles][MAX_STREAMS] = {};
  // Codec- and muxer-private options that reach avcodec_open2 / avformat_write_header.
  AVDictionary *OutputCodecOptions[MaxFiles][MAX_STREAMS] = {};
  AVDictionary *OutputFormatOptions[MaxFiles] = {};
  // The stream-copy mark of each output stream.
  bool OutputStreamCopy[MaxFiles][MAX_STREAMS] = {};
  // A stream the inputs have nothing for (silence, black pictures), made because the muxer
  // needs it ("psp" refuses a file without both a video and an audio stream).
  bool OutputStreamGenerated[MaxFiles][MAX_STREAMS] = {};

  // Video options.
  int FrameWidth = 0, FrameHeight = 0;
  float FrameAspectRatio = 0;
  int FramePixFmt = -1;
  int AudioSampleFmt = -1;
  int PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
  int PadColor[3] = {16, 128, 128};
  int CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
  int MaxFrames[4] = {2147483647, 2147483647, 2147483647, 2147483647};
  AVRational FrameRate = {0, 0};
  float VideoQScale = 0;
  uint16_t *IntraMatrix = nullptr; // 64 entries, av_malloc'd
  uint16_t *InterMatrix = nullptr;
  char *VideoRcOverride = nullptr;
  bool VideoDisable = false;
  int VideoDiscard = 0;
  char *VideoCodecName = nullptr;
  uint32_t VideoCodecTag = 0;
  bool SameQuality = false;
  bool Deinterlace = false;
  int TopFieldFirst = -1;
  int MeThreshold = 0;
  int IntraDcPrecision = 8;
  bool LoopInput = false;
  int LoopOutput = -1;
  bool QpHist = false;
  bool IntraOnly = false;

  // Audio and subtitle options.
  int AudioSampleRate = 44100;
  float AudioQScale = -99999;
  bool AudioDisable = false;
  int AudioChannels = 2;
  char *AudioCodecName = nullptr;
  uint32_t AudioCodecTag = 0;
  std::string AudioLanguage;
  bool SubtitleDisable = false;
  char *SubtitleCodecName = nullptr;
  std::string SubtitleLanguage;
  int AudioVolume = 256;
  bool AudioStreamCopy = false, VideoStreamCopy = false, SubtitleStreamCopy = false;

  // Muxing, timing and synchronisation.
  float MuxPreload = 0.5f;
  float MuxMaxDelay = 0.7f;
  int64_t RecordingTime = std::numeric_limits<int64_t>::max();
  int OutputDurationMs = -1;
  int64_t StartTime = 0;
  // Subtitles burned into the picture: a subtitle stream of the first input, or a file.
  int BurnSubtitleStream = -1;
  std::string BurnSubtitleFile;
  int64_t RecTimestamp = 0;
  int64_t InputTsOffset = 0;
  int64_t LimitFileSize = 0;
  int VideoSyncMethod = -1;
  int AudioSyncMethod = 0;
  float AudioDriftThreshold = 0.1f;
  float DtsDeltaThreshold = 10;
  bool CopyTs = false;
  bool Shortest = false;
  bool InputSync = false;
  bool RateEmu = false;
  int VideoGlobalHeader = 0;
  int ProgramId = 0;
  int VideoChannel = 0;
  char *VideoStandard = nullptr;

  // Metadata of the next output file.
  std::string Title, Author, Copyright, Comment, Genre, Album;
  int Year = 0, Track = 0;

  // Diagnostics and two-pass encoding.
  bool HexDump = false;
  bool PktDump = false;
  bool DoPsnr = false;
  int DoPass = 0;
  std::string PassLogFileName;
  char *VStatsFileName = nullptr;
  FILE *VStatsFile = nullptr;
  int Verbose = 1;
  int ThreadCount = 1;
  bool UsingVHook = false;
  bool PgmyuvCompatibilityHack = false;
  int SwsFlags = 4; // SWS_BICUBIC

  // Generic option store.
  AVCodecContext *CodecDefaults[5] = {}; // video, audio, data, subtitle, attachment
  AVFormatContext *FormatDefaults = nullptr;
  SwsContext *ScalerDefaults = nullptr;
  AVDictionary *CodecPrivateOptions[5] = {}; // options only a codec's private class knows
  AVDictionary *FormatPrivateOptions = nullptr;
  std::vector<std::string> OptNames;
  int OptNameCount = 0;

  int BitBufferSize = 262144;
  uint8_t *BitBuffer = nullptr;

  // Statistics.
  int64_t VideoSize = 0, AudioSize = 0, ExtraSize = 0;
  int FramesDup = 0, FramesDrop = 0;
  int64_t TimerStart = 0;
  int QpHistogram[52] = {}; // quantisers of the first video stream at each report; never reset

  // Frame hooks and the custom hook.
  TFrameHookEntry *FrameHooks = nullptr;
  int HookFrameNumber = 0;
  THookAction HookAction = haContinue;
  int HookRGBPixFmt = 3; // AV_PIX_FMT_BGR24
  int HookBitmapPixelFormat = 24;
  uint8_t *HookBuffer = nullptr;
  int HookBufferSize = 0;
  uint8_t *RGBBuffer = nullptr;
  int RGBBufferSize = 0;
  TBGRImage *HookBitmap = nullptr;
  SwsContext *ToRGBContext = nullptr;
  SwsContext *FromRGBContext = nullptr;
  TScalerSetup ToRGBSetup, FromRGBSetup; // what the two contexts were made for
  std::vector<TTimeRange> TimeRanges;
  int TimeRangeIndex = 0;
  int TimeRangeCount = 0;
  // Held while HookBitmap is filled, handed to OnCustomHook and read back: whoever reads the
  // bitmap from another thread takes it too.
  std::mutex HookBitmapLock;

  // Run state.
  std::atomic<bool> Running{false};
  std::atomic<bool> StopRequested{false};
  std::atomic<bool> Finished{false};
  std::atomic<bool> Terminated{false};
  std::atomic<bool> ExceptionRaised{false};
  std::string ExceptionMessage;
  TFFmpegThread *Thread = nullptr;
  std::string ErrorMessage;
  int64_t ProgressInterval = 500000;
  std::vector<TOutputStream *> OpenedEncoders;
  std::vector<TInputStream *> OpenedDecoders;

  // Cooperative pause, and the count of threads that still work on this engine (worker or
  // terminating thread), so that destruction never runs under them.
  std::mutex PauseMutex;
  std::condition_variable PauseCondition;
  bool Paused = false;
  int ActiveThreads = 0;  // guarded by PauseMutex
  int64_t PausedTime = 0; // microseconds the worker spent paused in this run (worker only)

  // Per-run state of the transcode, created by Transcode and freed by it (transcode_types.h).
  TTranscodeRun *TranscodeRun = nullptr;

protected:
  // ---- transcode (setup.cpp, loop.cpp, video_out.cpp, audio_out.cpp, report.cpp) ----
  // Sets up the run (TranscodeRun), runs the main loop and ends the run. On return or throw the
  // run tables are freed and OpenedEncoders/OpenedDecoders are empty: every codec it opened has
  // been closed (its context freed and its InputCodecs/OutputCodecs slot cleared).
  void Transcode();
  void PrintReport(bool AIsLastReport);
  void LogMuxingOverhead(int64_t ATotalSize);

  // setup.cpp
  void SetupTranscode();
  // The stages of SetupTranscode, in their order.
  void SetupInputStreams();
  int CheckStreamMaps();
  void SetupOutputStreams(int ACount);
  void ChooseSourceStreams();
  int FindSourceStream(const TOutputStream &AOst, AVMediaType AType);
  void SetupStreamParameters(TOutputStream &AOst);
  void SetupStreamCopy(TOutputStream &AOst, const TInputStream &AIst);
  void CheckStreamCopy(TOutputStream &AOst, const TInputStream &AIst);
  void SetupVideoGeometry(TOutputStream &AOst, const TInputStream &AIst);
  void SetupVideoScaling(TOutputStream &AOst, const TInputStream &AIst);
  void PrepareStreamBuffers(TOutputStream &AOst, int AIndex);
  void ReadPassStatistics(AVCodecContext *AEncoder, const std::string &ALogName);
  void LogStreamMapping();
  void OpenRunCodecs();
  void CopyMappedMetadata();
  void WriteOutputHeaders();
  void LogSessionDescription();
  int FindStreamByProgram(AVMediaType AType);
  int CodecThreadCount() const;
  void OpenEncoder(TOutputStream &AOst, TInputStream &AIst);
  void OpenDecoder(TInputStream &AIst);
  bool IsOpenedDecoder(const TInputStream &AIst) const;
  // Closes the encoder/decoder of a stream under CodecLock and takes it off its opened list.
  void CloseEncoder(TOutputStream &AOst);
  void CloseDecoder(TInputStream &AIst);
  // Closes every codec still on OpenedEncoders/OpenedDecoders (end of an aborted run).
  void CloseOpenedCodecs();
  void FreeTranscodeRun();

  // loop.cpp
  void TranscodeLoop();
  int LaggingInputFile(bool ASubtitlesOnly, double &AOptsMin);
  bool OutputLimitReached(double AOptsMin);
  bool ServeReadPacket(int AFileIndex, AVPacket *APacket);
  void ShiftToInputClock(int AFileIndex, const TInputStream &AIst, AVPacket *APacket);
  void EndTranscodeLoop();
  int OutputPacket(TInputStream &AIst, int AIstIndex, const AVPacket *APacket);
  void AdvanceCopyClock(TInputStream &AIst, const AVPacket *APacket);
  bool DecodeFrames(TInputStream &AIst, int AIstIndex, const AVPacket *APacket, int64_t APts);
  void ServeDecodedFrame(TInputStream &AIst, int AIstIndex, AVFrame *AFrame, int64_t APts);
  bool DecodeSubtitle(TInputStream &AIst, int AIstIndex, const AVPacket *APacket, int64_t APts);
  void EmulateRate(TInputStream &AIst);
  void ServeEncoders(TInputStream &AIst, int AIstIndex, const uint8_t *ASamples, int ABytes,
                     AVFrame *APicture, const AVSubtitle *ASubtitle, int64_t APacketPts);
  void ServeCopies(TInputStream &AIst, int AIstIndex, const AVPacket *APacket);
  int ConvertDecodedAudio(TInputStream &AIst, const AVFrame *AFrame);
  void ApplyVolume(uint8_t *ASamples, int ABytes);
  void FlushEncoders(int AIstIndex);
  void ShowLastPicture(TInputStream &AIst, int AIstIndex);
  void WritePacket(AVFormatContext *AOutput, AVPacket *APacket, TOutputStream &AOst);
  // Runs the stream's bitstream filter and writes the packet (its stream index and timestamps
  // already in the muxer stream's terms). Throws FFMpegException when the muxer fails.
  void WriteFrame(AVFormatContext *AOutput, AVPacket *APacket, TOutputStream &AOst);
  // The encode path of every output stream without an encoder thread of its own (a stream with
  // one hands its frames to TEncodePipe, whose packets go through WriteEncodedPacket): sends
  // AFrame (nullptr = flush) to the encoder of AOst, then takes every packet it has ready,
  // rescales it from the encoder to the stream time base, records its quality statistics
  // (NoteCodedFrame, transcode_types.h), writes the two-pass statistics text to AOst.LogFile
  // and hands it to WriteFrame.
  // Returns the bytes of encoded data written (0 when the encoder had nothing ready).
  // AFrame->pts must be in the encoder time base. Throws on encoder failure with AFailText.
  int64_t EncodeFrame(AVFormatContext *AOutput, TOutputStream &AOst, const AVFrame *AFrame,
                      const char *AFailText);
  // What EncodeFrame does with each packet the encoder returns, from the quality statistics on
  // (not the two-pass text). Returns the packet's size.
  int64_t WriteEncodedPacket(AVFormatContext *AOutput, TOutputStream &AOst, AVPacket *APacket);
  // Gives an encoded output stream (video, or sound of fixed frames) a thread for its encoder
  // when the run has more than one core (encode_pipe.h); without one, EncodeFrame serves it.
  void StartEncodePipe(TOutputStream &AOst);

  // video_out.cpp (picture pre-processing, hooks, video encoding through EncodeFrame, statistics)
  // APicture: the decoded picture; PreProcessVideoFrame may repoint its data/linesize.
  void PreProcessVideoFrame(TInputStream &AIst, AVFrame *APicture);
  void KeepHookedPicture(TInputStream &AIst, const AVFrame *AFrame);
  // AFrameSize: bytes of the last encoded frame (0 if none).
  void DoVideoOut(AVFormatContext *AOutput, TOutputStream &AOst, TInputStream &AIst,
                  AVFrame *APicture, int &AFrameSize);
  // Crops, scales, pads and encodes APicture ACount times (part of DoVideoOut).
  void OutputPicture(AVFormatContext *AOutput, TOutputStream &AOst, TInputStream &AIst,
                     const AVFrame *APicture, int ACount, int &AFrameSize);
  // The stages of OutputPicture, in their order (TPictureDraw: video_out.cpp).
  bool CropInputPicture(TPictureDraw &ADraw, const TOutputStream &AOst, const AVFrame *APicture);
  bool PrepareCanvas(TPictureDraw &ADraw, TOutputStream &AOst);
  void StartScalingMidRun(TPictureDraw &ADraw, TOutputStream &AOst);
  bool ScalePicture(TPictureDraw &ADraw, TOutputStream &AOst, const AVFrame *APicture);
  bool TurnAndPadPicture(TPictureDraw &ADraw, const TOutputStream &AOst);
  void BurnSubtitles(TPictureDraw &ADraw, TOutputStream &AOst);
  void SendPicture(AVFormatContext *AOutput, TOutputStream &AOst, const TInputStream &AIst,
                   const AVFrame *APicture, TPictureDraw &ADraw, int ACount, int &AFrameSize);
  void DescribePicture(AVFrame *AFrame, const TOutputStream &AOst, const TInputStream &AIst,
                       const AVFrame *APicture) const;
  // AFrameNumber, ASyncOpts: the frames handed to the encoder so far, and the next frame's
  // time stamp (encoder time base).
  void DoVideoStats(AVFormatContext *AOutput, TOutputStream &AOst, int AFrameSize, int AFrameNumber,
                    int64_t ASyncOpts);
  // Hands the working picture to OnCustomHook as a BGR bitmap and takes back what it drew.
  void RunCustomHook(TPicturePlanes &AWork, AVPixelFormat AFormat, AVColorRange ARange,
                     AVColorSpace AColorspace, int AWidth, int AHeight, int64_t APts);

  // generated_out.cpp
  // Prepares the one reused frame of a generated stream (silence or a black picture) once its
  // encoder is open.
  void OpenGeneratedStream(TOutputStream &AOst);
  // The burn-in stage of the picture path (subtitle_burn.cpp).
  void OpenSubtitleBurn();
  // Encodes silence / black pictures into every generated stream up to the position of the real
  // streams of its file; at the end of the run up to their end, and then flushes them.
  void FeedGeneratedStreams(bool AEndOfRun);
  // Between packets, and between the pieces of a long one: what the encoder threads finished
  // goes to the muxer, generated streams keep level, and the running report is made when due.
  void KeepUp();

  // audio_out.cpp
  // ABuf: ASize bytes of signed 16-bit interleaved samples at the decoder's rate and channels.
  void DoAudioOut(AVFormatContext *AOutput, TOutputStream &AOst, TInputStream &AIst,
                  const uint8_t *ABuf, int ASize);
  // The stages of DoAudioOut, in their order.
  void FitResampler(TOutputStream &AOst, TInputStream &AIst);
  bool SyncAudio(TOutputStream &AOst, TInputStream &AIst, const uint8_t *&ABuf, int &ASize);
  void ResampleAudio(TOutputStream &AOst, const TInputStream &AIst, const uint8_t *&ABuf,
                     int &ASize);
  void EncodeAudioBuffer(AVFormatContext *AOutput, TOutputStream &AOst, const uint8_t *ABuf,
                         int ASize);
  // APts: the packet pts in the input stream time base.
  void DoSubtitleOut(AVFormatContext *AOutput, TOutputStream &AOst, TInputStream &AIst,
                     const AVSubtitle *ASub, int64_t APts);
  int64_t EncodeAudioSamples(AVFormatContext *AOutput, TOutputStream &AOst, const uint8_t *AData,
                             int ASamples, int64_t APts);
  // Encodes what the audio fifo still holds as a last, short frame, then flushes the encoder.
  void FlushAudioEncoder(AVFormatContext *AOutput, TOutputStream &AOst);

private:
  friend class TFFmpegThread;
  void ClearRunFlags();
  // lifecycle.cpp: the parts of ResetOptions and FreeFiles.
  void ResetFileTables();
  void ReleaseOptionTexts();
  void ResetPictureOptions();
  void ResetSoundOptions();
  void ResetRunOptions();
  void FreeOutputFiles();
  void FreeInputFiles();
  void FreeOptionBuffers();
  // options.cpp
  const char *KeepPrivateOption(const char *AName, const char *AValue);
  // run_control.cpp
  // A run that ends before it began: files released, message logged, termination raised.
  void FailRun(const std::string &AMessage);
  void ThreadLeft();

protected:
  // Stops a run and waits for every thread that still works on the engine. A subclass calls it
  // in its own destructor, so that no callback meets it half destroyed.
  void StopAndWait();

private:
  // input.cpp / output.cpp
  void ResetInputOptions();
  // The stages of OpenInputFile and OpenOutputFile, in their order.
  AVFormatContext *NewInputContext(const std::string &AFileName);
  void SetDemuxerParameters(AVDictionary *&AParameters);
  AVCodecContext *InputStreamCodec(AVFormatContext *AContext, unsigned AIndex, int AFileIndex,
                                   const std::string &AFileName);
  bool TakeInputPicture(AVFormatContext *AContext, AVStream *AStream, AVCodecContext *ACodec,
                        int AFileIndex, const std::string &AFileName);
  void EnterInputFile(AVFormatContext *AContext, int AFileIndex, int64_t ATimestamp,
                      const std::string &AFileName);
  void ForgetOutputFile(int AFileIndex, bool AEntered);
  std::string AddOutputStreams(AVFormatContext *AContext, int AFileIndex);
  void SetOutputMetadata(AVFormatContext *AContext);
  std::string OpenOutputTarget(AVFormatContext *AContext, int AFileIndex,
                               const std::string &AFileName, bool &ACreated);
  void SetMuxerOptions(AVFormatContext *AContext, int AFileIndex);
  void SetVideoPicture(AVCodecContext *ACodec, const AVCodec *AEncoder,
                       const AVOutputFormat *AFormat);
  void SetVideoCoding(AVCodecContext *ACodec, const std::vector<RcOverride> &AOverrides);
  int OutputFileIndexOf(AVFormatContext *AContext) const;
  // A forced format's name as the library knows it: "pgmyuv" is image2 with the pgmyuv codec.
  std::string FormatNameOf(const std::string &AName);
  // The encoder of a new output stream: the named one, else the muxer's choice for the type.
  // False with ErrorMessage when the name is no encoder of that type.
  bool ChooseEncoder(AVFormatContext *AContext, const char *AName, AVMediaType AType,
                     const AVCodec *&AEncoder, AVCodecID &ACodecId);
  // The generic options of the type onto a new encoder context; returns the private ones the
  // encoder knows, for its opening.
  AVDictionary *ApplyEncoderOptions(AVCodecContext *ACodec, AVMediaType AType, int AParamFlag,
                                    const AVCodec *AEncoder);
  // Hands a finished stream's encoder context and options to the file's tables.
  void StoreOutputStream(int AFileIndex, int AStreamIndex, bool AStreamCopy, AVCodecContext *ACodec,
                         AVDictionary *AOptions);
};
