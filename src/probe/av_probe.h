// TAVProbe: opens one media file for inspection (no transcoding), reports its format, streams
// and duration, seeks, and decodes single video pictures into 24-bit BGR images for previews
// and thumbnails. Used from one thread; its codec calls take CodecLock because engines run
// beside it on worker threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/picture_ops.h"
#include "medialib/bgr_image.h"
#include "medialib/media_functions.h"

// Container information; every number is -1 and every text empty when no file is loaded.
struct TAVFileInfo {
  int64_t StartTime = -1; // microseconds
  int64_t Duration = -1;  // microseconds
  int32_t BitRate = -1;   // bit/s
  int64_t Timestamp = -1; // creation time, seconds since 1 January 1970 UTC; 0 when unknown
  char Title[512] = {};
  char Author[512] = {};
  char Copyright[512] = {};
  char Comment[512] = {};
  char Album[512] = {};
  int32_t Year = -1;
  int32_t Track = -1;
  char Genre[32] = {};
};

// Parameters of one video stream.
struct TAVVideoInfo {
  char Language[4] = {};
  char CodecName[32] = {};
  int64_t StartTime = -1;   // stream time base
  int64_t StartTimeUS = -1; // microseconds
  int64_t Duration = -1;    // stream time base
  int64_t DurationUS = -1;  // microseconds
  int32_t BitRate = -1;
  int32_t Height = -1;
  int32_t Width = -1;
  float DisplayAspect = -1.0f; // 0 when the sample aspect ratio is unknown
  int32_t PixelFormat = -1;
  int32_t FrameRateNum = -1;
  int32_t FrameRateDen = -1;
  int32_t Profile = -1; // the codec's profile number, -99 when unknown
  int32_t Level = -1;   // the codec's level number, -99 when unknown
};

// One stream as a person chooses among them: what its tags and parameters say.
struct TAVStreamInfo {
  int Index = -1;
  AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
  AVCodecID CodecId = AV_CODEC_ID_NONE;
  std::string Language; // the "language" tag, empty when untagged or "und"
  std::string Title;    // the "title" tag
  int Channels = 0;     // sound streams
  bool Default = false;
  bool Forced = false;
};

class TAVProbe {
public:
  TAVProbe();
  ~TAVProbe();
  TAVProbe(const TAVProbe &) = delete;
  TAVProbe &operator=(const TAVProbe &) = delete;

  // Closes any open file first. False with LastErrorMessage on failure; throws FFMpegException
  // when a media library is not loaded. AFormat empty = detect.
  bool LoadFile(const std::string &AFileName, const std::string &AFormat = "");
  void CloseFile();
  // Throws FFMpegException naming the first library that is not bound.
  static void CheckLibraries();

  void GetFileInfo(TAVFileInfo &AInfo);
  // AStreamIndex -1 = the first video stream.
  void GetVideoInfo(int AStreamIndex, TAVVideoInfo &AInfo);
  // Media type and codec name of any stream; AVMEDIA_TYPE_UNKNOWN and "" for no such stream.
  AVMediaType StreamType(int AStreamIndex) const;
  std::string StreamCodecName(int AStreamIndex) const;
  // Tags and parameters of any stream; Index -1 for no such stream.
  TAVStreamInfo GetStreamInfo(int AStreamIndex) const;
  std::string GetFileName();
  std::string GetFormatName();
  // Whether the loaded file's duration is only guessed from its size and bit rate (no index or
  // header gives it): such a guess can be far off for variable-rate sound.
  bool DurationGuessed() const;
  // AStreamIndex -1 = automatic; ATime in microseconds from the file's start, negative = the
  // start. The next GetFrameBitmap gives the picture shown at that time (the last one that
  // starts at or before it), decoded forward from the key picture before it, in any container;
  // the calls after it go on with the pictures that follow. A time a little after the picture
  // given last is reached by decoding on, without a seek.
  bool Seek(int AStreamIndex, int64_t ATime);
  // Decodes the next picture of the stream (-1 = the first video stream) into the probe's
  // bitmap and returns it; never null, owned by the probe, valid until the next call or
  // CloseFile. Empty (0 x 0) when there is nothing to decode, black after the last picture.
  // Throws FFMpegException when the stream's decoder is missing or does not open.
  TBGRImage *GetFrameBitmap(int AStreamIndex = -1);
  // The time the picture GetFrameBitmap gave last is shown at, in microseconds from the file's
  // start (the clock Seek takes); -1 when there was none or it has no time. Seeking to it gives
  // that picture again.
  int64_t PictureTime() const;
  // After an exact seek: the time the picture after the one GetFrameBitmap gave starts at (the
  // same clock); -1 when unknown or there is none.
  int64_t NextPictureTime() const;
  // Pictures larger than AMaxWidth x AMaxHeight come out of GetFrameBitmap fitted into that
  // size, keeping their shape: a thumbnail of a 16000x16000 picture needs no 768 MB bitmap.
  // 0 (the default) delivers every picture at its own size.
  void SetPictureLimit(int AMaxWidth, int AMaxHeight) {
    FMaxWidth = AMaxWidth;
    FMaxHeight = AMaxHeight;
  }

  // While *AStop is set, reading the file fails at once: a decode under way ends within a
  // packet (its picture comes out black). Takes effect for files loaded afterwards.
  void SetStopFlag(const std::atomic<bool> *AStop) { FStop = AStop; }

  bool FileLoaded() const { return FFormatContext != nullptr; }
  const std::string &LastErrorMessage() const { return FLastErrorMessage; }
  const std::string &LoadedFormat() const { return FLoadedFormat; }
  int StreamCount() const { return FStreamCount; }
  int ProgramCount() const { return FProgramCount; }
  int AudioStreamCount() const { return FAudioStreamCount; }
  int VideoStreamCount() const { return FVideoStreamCount; }
  int SubtitleStreamCount() const { return FSubtitleStreamCount; }
  int FirstAudioStream() const { return FFirstAudioStream; }
  int FirstVideoStream() const { return FFirstVideoStream; }
  int FirstSubtitleStream() const { return FFirstSubtitleStream; }

  // The open-error text for a library result code, with the file name filled in.
  static std::string OpenErrorText(const std::string &AFileName, int AResultCode);

private:
  void UpdateStreamCounts();
  bool IsSingleImageFormat() const;
  // Checks the stream index for GetFrameBitmap; false (with a log line) when it cannot decode.
  bool ResolveVideoStream(int &AStreamIndex);
  void OpenDecoder(int AStreamIndex);
  void CloseDecoder();
  // Decodes the next picture of FDecoderStream into FFrame; false at the end of the stream.
  bool DecodeNextPicture();
  bool NextPictureToShow();
  // Whether decoding on from the picture held reaches the picture at ATarget (stream time base)
  // sooner than a seek to the key picture before it.
  bool DecodingOnReaches(int64_t ATarget) const;
  // A stream time of the decoder's stream in microseconds from the file's start, rounded up.
  int64_t FileTime(int64_t AStreamTime) const;
  // The last picture at or before ATarget into FFrame, the one after it held.
  bool DecodeTowards(int64_t ATarget);
  // Far before the picture wanted, pictures that no other refers to need no decoding.
  void ChooseSkipping(const AVPacket &APacket);
  // Gives the picture in FFrame its time (stream time base) in best_effort_timestamp.
  void StampDecodedPicture();
  // The file's start in the time base of AStream, the zero of Seek's times.
  int64_t StartInStream(const AVStream *AStream) const;
  // Delivers FFrame into the bitmap (already of the turned size), turned by ATurn.
  bool ConvertPicture(const TPictureTurn &ATurn);

  AVFormatContext *FFormatContext = nullptr;
  std::string FLastErrorMessage;
  std::string FLoadedFormat;
  std::string FFileName; // as given to LoadFile; the library's name has "file:" before it
  int FMaxWidth = 0, FMaxHeight = 0;        // SetPictureLimit
  const std::atomic<bool> *FStop = nullptr; // SetStopFlag
  int FStreamCount = -1;
  int FProgramCount = -1;
  int FAudioStreamCount = -1, FVideoStreamCount = -1, FSubtitleStreamCount = -1;
  int FFirstAudioStream = -1, FFirstVideoStream = -1, FFirstSubtitleStream = -1;

  AVCodecContext *FDecoderContext = nullptr;
  int FDecoderStream = -1;      // the stream FDecoderContext decodes
  bool FDecoderDrained = false; // the end of the file was sent to the decoder
  SwsContext *FSwsContext = nullptr;
  TScalerSetup FSwsSetup; // what FSwsContext was made for
  AVPacket *FPacket = nullptr;
  AVFrame *FFrame = nullptr;
  // After an exact seek: the picture before the time while decoding towards it, then the one
  // after it, which the next GetFrameBitmap shows (FNextPictureHeld).
  AVFrame *FHeldFrame = nullptr;
  int64_t FPictureTarget = AV_NOPTS_VALUE;   // stream time base of FFirstVideoStream
  int64_t FLastDecodedTime = AV_NOPTS_VALUE; // of the picture decoded last, stream time base
  int64_t FPictureTime = AV_NOPTS_VALUE;     // of the picture delivered last, stream time base
  int64_t FLastPacketTime = AV_NOPTS_VALUE;  // of the packet sent last, stream time base
  int64_t FSkipBefore = AV_NOPTS_VALUE; // ChooseSkipping: the decoding time where skipping ends
  bool FNextPictureHeld = false;
  std::unique_ptr<TBGRImage> FBitmap;
  bool FLastWasImage2 = false;
  uint8_t *FRGBBuffer = nullptr;
  int FRGBBufferSize = 0;
};
