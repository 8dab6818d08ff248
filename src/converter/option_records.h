// The two plain records through which the application describes a conversion task, and the
// builder that turns them into options on a task's engine, in a fixed order, before the
// engine opens the file. A field left at its default sets nothing, so the engine's own default
// applies; AudioLanguage, AudioSyncMethod, PadColor, VideoSyncMethod, SubtitleLanguage and
// CopyTimestamps are always assigned.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/custom_ffmpeg.h"

struct TInputOptions {
  std::string FileName;   // filled with the file given to AddInputFile when empty
  std::string FileFormat; // forced demuxer
  int32_t StartTime = -1; // milliseconds
  int32_t ProgramID = -1;
  std::string ExtOptions; // further options, lines of name=value
};
using PInputOptions = TInputOptions *;

struct TOutputOptions {
  std::string FileName; // filled with the file given to SetOutputFile when empty
  std::string FileExt;  // kept for the application; the converter does not read it
  std::string FileFormat;
  int32_t PacketSize = -1;
  int32_t MuxRate = -1;
  float MuxDelay = -1.0f;   // seconds
  float MuxPreload = -1.0f; // seconds
  std::string AudioCodec;
  bool DisableAudio = false;
  int32_t AudioVolume = -1;
  int32_t AudioChannels = -1;
  int32_t AudioSampleRate = -1; // Hz
  int32_t AudioBitrate = -1;    // bit/s
  int32_t AudioBitrateTolerance = -1;
  std::string AudioLanguage;
  int32_t AudioSyncMethod = 0;
  std::string AudioTag; // four characters
  std::string VideoCodec;
  bool DisableVideo = false;
  std::string FrameRate;
  std::string FrameSize;
  std::string AspectRatio;
  int32_t CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;
  int32_t PadTop = -1, PadBottom = -1, PadLeft = -1, PadRight = -1;
  uint32_t PadColor = 0; // 0x00BBGGRR: red in the low byte
  int32_t GOPSize = -1;
  int32_t VideoBitrate = -1; // bit/s
  int32_t VideoMaxRate = -1;
  int32_t VideoMinRate = -1;
  int32_t VideoBitrateTolerance = -1;
  int32_t VideoBufSize = -1;
  int32_t VideoSyncMethod = -1;
  std::string VideoTag; // four characters
  bool DisableSubtitle = false;
  std::string SubtitleLanguage;
  bool CopyTimestamps = false;
  int32_t RecordingTime = -1; // milliseconds
  // Local date and time in days since 30 December 1899; 0 = now, negative = not set.
  double Timestamp = -1.0;
  int32_t Year = -1;
  int32_t Track = -1;
  char Title[512] = {};
  char Author[512] = {};
  char Copyright[512] = {};
  char Comment[512] = {};
  char Album[512] = {};
  char Genre[32] = {};
  int32_t TargetType = 0;        // 0 none, 1 "vcd", 2 "svcd", 3 "dvd"
  int32_t TargetNorm = 0;        // 0 "auto", 1 "pal", 2 "ntsc"; others "auto"
  int32_t TargetNormDefault = 1; // when "auto" cannot decide: 1 "pal", others "ntsc"
  bool CustomHook = false;       // every decoded picture goes to OnCustomHook
  bool BeforeHook = false;       // OnBeforeHook decides per picture about the frame hooks
  std::string HookTimeRanges;    // "start-end" in milliseconds, comma separated
  std::string ExtOptions;        // further options, lines of name=value
};
using POutputOptions = TOutputOptions *;

void InitInputOptions(TInputOptions &AOptions);
void InitOutputOptions(TOutputOptions &AOptions);

// Hands lines of name=value to the engine's option table.
void ApplyOptionText(TCustomFFmpeg &AEngine, const std::string &AText);

// The input record, before the engine opens the input. Throws what the engine throws.
void ApplyInputOptions(TCustomFFmpeg &AEngine, const TInputOptions &AOptions);

// The hook handlers the converter offers; the record chooses at most one of them.
struct THookHandlers {
  TCustomHookEvent CustomHook;
  TBeforeHookEvent BeforeHook;
};

// The output record, before the engine opens the output: ExtOptions first, so that every
// field that is set wins over the same option there, and the target last, so that its
// settings win over the fields. Throws what the engine throws.
void ApplyOutputOptions(TCustomFFmpeg &AEngine, const TOutputOptions &AOptions,
                        const THookHandlers &AHooks = THookHandlers());

// The kept ranges of a HookTimeRanges text, in text order, in microseconds.
std::vector<TTimeRange> ParseHookTimeRanges(const std::string &AText);

// A local date and time (days since 30 December 1899) as seconds since 1 January 1970 UTC;
// 0 means now.
int64_t TimestampToUnixTime(double ATimestamp);
