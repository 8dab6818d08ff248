#include "converter/option_records.h"
#include "engine/text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// A whole text as a decimal 64-bit number, ADefault when it is not one.
int64_t toInt64(const std::string &AText, int64_t ADefault) {
  const std::string text = TrimBlanks(AText);
  if (text.empty())
    return ADefault;
  errno = 0;
  char *end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0')
    return ADefault;
  return value;
}

// A character array of the record up to its first zero byte.
template <size_t N> std::string fixedText(const char (&AText)[N]) {
  return std::string(AText, strnlen(AText, N));
}

const char *targetName(int32_t AType) {
  switch (AType) {
  case 1:
    return "vcd";
  case 2:
    return "svcd";
  case 3:
    return "dvd";
  default:
    return nullptr;
  }
}

// Microseconds overflow past about 292,000 years; such ranges are clamped, not wrapped.
int64_t millisecondsToMicroseconds(int64_t AMilliseconds) {
  constexpr int64_t limit = INT64_MAX / 1000;
  if (AMilliseconds > limit)
    return INT64_MAX;
  if (AMilliseconds < -limit)
    return INT64_MIN;
  return AMilliseconds * 1000;
}

} // namespace

void InitInputOptions(TInputOptions &AOptions) { AOptions = TInputOptions(); }

void InitOutputOptions(TOutputOptions &AOptions) { AOptions = TOutputOptions(); }

void ApplyOptionText(TCustomFFmpeg &AEngine, const std::string &AText) {
  AEngine.SetOptionText(AText);
}

void ApplyInputOptions(TCustomFFmpeg &AEngine, const TInputOptions &AOptions) {
  ApplyOptionText(AEngine, AOptions.ExtOptions);
  if (!AOptions.FileFormat.empty())
    AEngine.SetInputFormat(AOptions.FileFormat);
  const int64_t start = int64_t(AOptions.StartTime) * 1000;
  if (start > 0)
    AEngine.SetStartTime(start);
  if (AOptions.ProgramID >= 0)
    AEngine.SetProgramId(AOptions.ProgramID);
}

std::vector<TTimeRange> ParseHookTimeRanges(const std::string &AText) {
  std::vector<TTimeRange> ranges;
  const std::string text = TrimBlanks(AText);
  size_t pos = 0;
  for (;;) {
    const size_t comma = text.find(',', pos);
    const std::string entry =
        TrimBlanks(text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
    const size_t dash = entry.find('-');
    const std::string startText = entry.substr(0, dash);
    const std::string stopText = dash == std::string::npos ? std::string() : entry.substr(dash + 1);
    TTimeRange range;
    range.Start = millisecondsToMicroseconds(toInt64(startText, -1));
    range.Stop = millisecondsToMicroseconds(toInt64(stopText, -1));
    if (range.Start <= range.Stop && range.Stop >= 0)
      ranges.push_back(range);
    if (comma == std::string::npos)
      break;
    pos = comma + 1;
  }
  return ranges;
}

int64_t TimestampToUnixTime(double ATimestamp) {
  if (ATimestamp == 0)
    return static_cast<int64_t>(std::time(nullptr));
  // The record holds local wall-clock time; the zone's rules for that date (daylight saving
  // included) give the UTC instant.
  constexpr double unixEpochDays = 25569.0; // 1 January 1970 in days since 30 December 1899
  const double wallSeconds = std::round((ATimestamp - unixEpochDays) * 86400.0);
  if (!(std::fabs(wallSeconds) < 9.0e15))
    return 0; // far outside any calendar: treat as the epoch rather than overflow
  const time_t wall = static_cast<time_t>(wallSeconds);
  std::tm fields{};
  if (!gmtime_r(&wall, &fields))
    return static_cast<int64_t>(wall);
  fields.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&fields));
}

namespace {

// The container and its muxing.
void ApplyMuxFields(TCustomFFmpeg &e, const TOutputOptions &o) {
  if (!o.FileFormat.empty())
    e.SetOutputFormat(o.FileFormat);
  if (o.PacketSize > 0)
    e.SetGenericOptionInt("packetsize", o.PacketSize);
  if (o.MuxRate > 0)
    e.SetGenericOptionInt("muxrate", o.MuxRate);
  if (o.MuxDelay > 0)
    e.SetMuxMaxDelay(o.MuxDelay);
  if (o.MuxPreload > 0)
    e.SetMuxPreload(o.MuxPreload);
}

// The sound.
void ApplyAudioFields(TCustomFFmpeg &e, const TOutputOptions &o) {
  if (!o.AudioCodec.empty())
    e.SetAudioCodec(o.AudioCodec);
  if (o.DisableAudio)
    e.AudioDisable = true;
  if (o.AudioVolume >= 0)
    e.SetAudioVolume(o.AudioVolume);
  if (o.AudioChannels > 0)
    e.SetAudioChannels(o.AudioChannels);
  if (o.AudioSampleRate > 0)
    e.SetAudioSampleRate(o.AudioSampleRate);
  if (o.AudioBitrate > 0)
    e.SetGenericOptionInt("ab", o.AudioBitrate);
  if (o.AudioBitrateTolerance > 0)
    e.SetGenericOptionInt("abt", o.AudioBitrateTolerance);
  e.AudioLanguage = o.AudioLanguage;
  e.SetAudioSyncMethod(o.AudioSyncMethod);
  if (!o.AudioTag.empty())
    e.SetAudioTag(o.AudioTag);
}

// The picture: codec, rate, size, shape, crop and pads.
void ApplyPictureFields(TCustomFFmpeg &e, const TOutputOptions &o) {
  if (!o.VideoCodec.empty())
    e.SetVideoCodec(o.VideoCodec);
  if (o.DisableVideo)
    e.VideoDisable = true;
  if (!o.FrameRate.empty())
    e.SetFrameRate(o.FrameRate);
  if (!o.FrameSize.empty())
    e.SetFrameSize(o.FrameSize);
  if (!o.AspectRatio.empty())
    e.SetAspectRatio(o.AspectRatio);
  if (o.CropTop >= 0)
    e.SetCropTop(o.CropTop);
  if (o.CropBottom >= 0)
    e.SetCropBottom(o.CropBottom);
  if (o.CropLeft >= 0)
    e.SetCropLeft(o.CropLeft);
  if (o.CropRight >= 0)
    e.SetCropRight(o.CropRight);
  if (o.PadTop >= 0)
    e.SetPadTop(o.PadTop);
  if (o.PadBottom >= 0)
    e.SetPadBottom(o.PadBottom);
  if (o.PadLeft >= 0)
    e.SetPadLeft(o.PadLeft);
  if (o.PadRight >= 0)
    e.SetPadRight(o.PadRight);
  // There are no system colours here: only the colour bytes count.
  e.SetPadColor(static_cast<int>(o.PadColor & 0xFFFFFF));
}

// The video bit rate and its limits.
void ApplyVideoRateFields(TCustomFFmpeg &e, const TOutputOptions &o) {
  if (o.GOPSize > 0)
    e.SetGenericOptionInt("gop", o.GOPSize);
  if (o.VideoBitrate > 0)
    e.SetGenericOptionInt("vb", o.VideoBitrate);
  if (o.VideoMaxRate > 0)
    e.SetGenericOptionInt("maxrate", o.VideoMaxRate);
  if (o.VideoMinRate > 0)
    e.SetGenericOptionInt("minrate", o.VideoMinRate);
  if (o.VideoBitrateTolerance > 0)
    e.SetGenericOptionInt("bt", o.VideoBitrateTolerance);
  if (o.VideoBufSize > 0)
    e.SetGenericOptionInt("bufsize", o.VideoBufSize);
  e.SetVideoSyncMethod(o.VideoSyncMethod);
  if (!o.VideoTag.empty())
    e.SetVideoTag(o.VideoTag);
}

// Subtitles, timestamps, length and the numbers of the description.
void ApplyStreamAndTimeFields(TCustomFFmpeg &e, const TOutputOptions &o) {
  if (o.DisableSubtitle)
    e.SubtitleDisable = true;
  e.SubtitleLanguage = o.SubtitleLanguage;
  e.CopyTs = o.CopyTimestamps;
  if (o.RecordingTime > 0)
    e.SetRecordingTimeMs(o.RecordingTime);
  if (o.Timestamp >= 0)
    e.RecTimestamp = TimestampToUnixTime(o.Timestamp);
  if (o.Year > 0)
    e.SetYear(o.Year);
  if (o.Track > 0)
    e.SetTrack(o.Track);
}

// The texts, each up to its first zero byte.
void ApplyTextFields(TCustomFFmpeg &e, const TOutputOptions &o) {
  const std::string title = fixedText(o.Title), author = fixedText(o.Author),
                    copyright = fixedText(o.Copyright), comment = fixedText(o.Comment),
                    album = fixedText(o.Album), genre = fixedText(o.Genre);
  if (!title.empty())
    e.SetTitle(title);
  if (!author.empty())
    e.SetAuthor(author);
  if (!copyright.empty())
    e.SetCopyright(copyright);
  if (!comment.empty())
    e.SetComment(comment);
  if (!album.empty())
    e.SetAlbum(album);
  if (!genre.empty())
    e.SetGenre(genre);
}

} // namespace

void ApplyOutputOptions(TCustomFFmpeg &AEngine, const TOutputOptions &AOptions,
                        const THookHandlers &AHooks) {
  const TOutputOptions &o = AOptions;
  TCustomFFmpeg &e = AEngine;

  // 1. Further options; the fields below override the same options given here.
  ApplyOptionText(e, o.ExtOptions);

  // 2. The fields, in the order of the record; 3. the texts.
  ApplyMuxFields(e, o);
  ApplyAudioFields(e, o);
  ApplyPictureFields(e, o);
  ApplyVideoRateFields(e, o);
  ApplyStreamAndTimeFields(e, o);
  ApplyTextFields(e, o);

  // 4. The target last, so that its settings win over the fields.
  if (const char *target = targetName(o.TargetType)) {
    const char *norm = o.TargetNorm == 1 ? "pal" : o.TargetNorm == 2 ? "ntsc" : "auto";
    e.SetTarget(target, norm, o.TargetNormDefault == 1 ? "pal" : "ntsc");
  }

  // 5. At most one way of choosing the pictures the frame hooks see.
  if (o.CustomHook)
    e.OnCustomHook = AHooks.CustomHook;
  else if (o.BeforeHook)
    e.OnBeforeHook = AHooks.BeforeHook;
  else
    e.SetTimeRanges(ParseHookTimeRanges(o.HookTimeRanges));
}
