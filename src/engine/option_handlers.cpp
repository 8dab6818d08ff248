// The option handlers that check their value or do more than store it, and the presets of the
// "target" option (VCD, SVCD, DVD, DV).
#include "engine/custom_ffmpeg.h"
#include "engine/text.h"
#include "medialib/words.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace {

// Blanks and control characters, as a trimmed option text loses them.
bool IsBlank(char C) { return static_cast<unsigned char>(C) <= ' '; }

bool StartsWith(const std::string &AText, const char *APrefix) {
  return AText.compare(0, std::strlen(APrefix), APrefix) == 0;
}

// A whole text as a decimal integer (leading blanks allowed); false when anything else is left.
bool WholeInteger(const std::string &AText, long &AValue) {
  const char *start = AText.c_str();
  char *end = nullptr;
  errno = 0;
  long value = std::strtol(start, &end, 10);
  if (end == start || *end != '\0' || errno == ERANGE || value < INT_MIN || value > INT_MAX)
    return false;
  AValue = value;
  return true;
}

// A decimal number at the start of AText, read with "." as the separator whatever the process
// locale says (a GUI sets the user's locale, which may use ","). Leading blanks and "+" are
// skipped. AEnd receives the first character not read; returns false when no number is there.
bool LeadingDecimal(const char *AText, double &AValue, const char *&AEnd) {
  const char *p = AText;
  while (*p && IsBlank(*p))
    ++p;
  if (*p == '+' && p[1] != '-')
    ++p;
  auto result = std::from_chars(p, p + std::strlen(p), AValue, std::chars_format::general);
  if (result.ec != std::errc()) {
    AEnd = AText;
    return false;
  }
  AEnd = result.ptr;
  return true;
}

bool WholeDecimal(const std::string &AText, double &AValue) {
  const char *end = nullptr;
  return LeadingDecimal(AText.c_str(), AValue, end) && *end == '\0';
}

// The integer at APos as C's strtol reads it with base 0 (decimal, 0x hexadecimal, leading-0
// octal), clamped to int; APos moves past it.
int LeadingIndex(const char *&APos) {
  char *end = nullptr;
  long value = std::strtol(APos, &end, 0);
  APos = end;
  if (value > INT_MAX)
    return INT_MAX;
  if (value < INT_MIN)
    return INT_MIN;
  return static_cast<int>(value);
}

void SkipOne(const char *&APos) {
  if (*APos)
    ++APos;
}

// ---- cropping and padding ----

// AOddText: the message for an odd size, marked where the side is named.
void ApplyCrop(int AValue, const char *AOddText, bool AVertical, int &ACrop, int &ADimension) {
  if (AValue < 0)
    return;
  if (AValue % 2 != 0)
    throw FFMpegException(LayerText(AOddText));
  if (AValue >= ADimension)
    throw FFMpegException(
        AVertical ? M_("Vertical crop dimensions are outside the range of the original image.\n"
                       "Remember to crop first and scale second.")
                  : M_("Horizontal crop dimensions are outside the range of the original image.\n"
                       "Remember to crop first and scale second."));
  ACrop = AValue;
  ADimension -= AValue;
}

void ApplyPad(int AValue, const char *AOddText, int &APad) {
  if (AValue < 0)
    return;
  if (AValue % 2 != 0)
    throw FFMpegException(LayerText(AOddText));
  APad = AValue;
}

// BT.601 with the video levels the encoders write (luma 16..235, chroma 16..240), so that a
// chosen black pads exactly like the default pad colour (16, 128, 128). 10-bit fixed point.
constexpr int Fixed10(double AValue) {
  return static_cast<int>(AValue * 1024 + (AValue < 0 ? -0.5 : 0.5));
}
constexpr double LumaScale = 219.0 / 255.0;
constexpr double ChromaScale = 224.0 / 255.0;
constexpr int YR = Fixed10(0.299 * LumaScale), YG = Fixed10(0.587 * LumaScale),
              YB = Fixed10(0.114 * LumaScale);
constexpr int CbR = Fixed10(-0.16874 * ChromaScale), CbG = Fixed10(-0.33126 * ChromaScale),
              CbB = Fixed10(0.5 * ChromaScale);
constexpr int CrR = Fixed10(0.5 * ChromaScale), CrG = Fixed10(-0.41869 * ChromaScale),
              CrB = Fixed10(-0.08131 * ChromaScale);
// Each chroma row must sum to zero, or grey would come out tinted.
static_assert(CbR + CbG + CbB == 0 && CrR + CrG + CrB == 0, "chroma coefficients of grey");

// ---- matrices ----

// 64 comma-separated coefficients. A coefficient outside 1..255 is refused: the encoders divide
// by it (0 stops the process with a division fault) and store it in 8 bits.
void ParseMatrix(const std::string &AText, uint16_t *&AMatrix) {
  uint16_t values[64];
  const char *p = AText.c_str();
  for (int i = 0; i < 64; ++i) {
    errno = 0;
    long value = std::strtol(p, nullptr, 10);
    if (value < 1 || value > 255 || errno == ERANGE)
      throw FFMpegException(
          FormatText(M_("Invalid coefficient in matrix \"%s\" at coeff %d: it must lie "
                        "between 1 and 255"),
                     AText.c_str(), i));
    values[i] = static_cast<uint16_t>(value);
    if (i == 63)
      break;
    p = std::strchr(p, ',');
    if (!p)
      throw FFMpegException(
          FormatText(M_("Syntax error in matrix \"%s\" at coeff %d"), AText.c_str(), i));
    ++p;
  }
  auto *matrix = static_cast<uint16_t *>(avlib.av_mallocz(sizeof values));
  if (!matrix)
    throw FFMpegException(M_("Out of memory for the quantisation matrix"));
  std::memcpy(matrix, values, sizeof values);
  avlib.av_freep(&AMatrix);
  AMatrix = matrix;
}

// ---- codec names and tags ----

void ApplyCodecName(const std::string &AValue, char *&AName, bool &ACopy) {
  if (AValue.empty())
    return;
  avlib.av_freep(&AName);
  if (AValue == "copy")
    ACopy = true;
  else
    AName = avlib.av_strdup(AValue.c_str());
}

// AWrongSizeText: the message for a tag that is not four characters long.
void ApplyCodecTag(const std::string &AValue, const char *AWrongSizeText, uint32_t &ATag) {
  if (AValue.empty())
    return;
  if (AValue.size() != 4)
    throw ECodecTagError(LayerText(AWrongSizeText));
  const auto *c = reinterpret_cast<const unsigned char *>(AValue.data());
  ATag = uint32_t(c[0]) | uint32_t(c[1]) << 8 | uint32_t(c[2]) << 16 | uint32_t(c[3]) << 24;
}

// ---- time values ----

int64_t ParseTime(const std::string &AText, bool ADuration, const char *AOption) {
  int64_t result = 0;
  if (avlib.av_parse_time(&result, AText.c_str(), ADuration ? 1 : 0) < 0)
    throw FFMpegException(FormatText(ADuration ? M_("Invalid duration specification for %s: %s")
                                               : M_("Invalid date specification for %s: %s"),
                                     AOption, AText.c_str()));
  return result;
}

// ---- frame hooks ----

// Words of a "vhook" text: split at "|" when it holds one (so arguments may contain blanks),
// otherwise at blanks; empty words are dropped.
std::vector<std::string> SplitHookWords(const std::string &AText) {
  constexpr size_t MaxWords = 254;
  const char *separators = AText.find('|') != std::string::npos ? "|" : " \t";
  std::vector<std::string> words;
  size_t pos = 0;
  while (words.size() < MaxWords) {
    pos = AText.find_first_not_of(separators, pos);
    if (pos == std::string::npos)
      break;
    size_t end = AText.find_first_of(separators, pos);
    words.push_back(AText.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
    pos = end;
  }
  return words;
}

// Puts AFolder in front of PATH unless it is already one of its entries. File names are
// case-sensitive here, so neither the folder nor PATH is changed in case.
void PrependToPath(const std::string &AFolder) {
  const char *current = std::getenv("PATH");
  std::string path = current ? current : "";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos)
      end = path.size();
    if (path.compare(start, end - start, AFolder) == 0)
      return;
    start = end + 1;
  }
  std::string value = path.empty() ? AFolder : AFolder + ":" + path;
  setenv("PATH", value.c_str(), 1);
}

std::string ProgramFolder() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec)
    return "";
  std::string folder = exe.parent_path().string();
  if (folder.empty() || folder.back() != '/')
    folder += '/';
  return folder;
}

// ---- targets ----

enum class TTargetChannels { Unchanged, Stereo, StereoIfMono };

struct TTargetOption {
  const char *Name; // nullptr ends the list
  const char *PalValue;
  const char *NtscValue; // for the NTSC and film norms
};

// One target. A text that is nullptr is not set. Generic options are applied in the order listed.
struct TTargetPreset {
  const char *Type;
  const char *VideoCodec;
  const char *AudioCodec;
  const char *Format;
  const char *SizePal;
  const char *SizeNtsc;
  const char *PixFmtPal;
  const char *PixFmtNtsc;
  TTargetOption Options[10];
  int AudioSampleRate;
  TTargetChannels Channels;
  float MuxPreload; // below 0: not set
  const char *Aspect;
};

const TTargetPreset TargetPresets[] = {
    {"vcd",
     "mpeg1video",
     "mp2",
     "vcd",
     "352x288",
     "352x240",
     nullptr,
     nullptr,
     {{"gop", "15", "18"},
      {"b", "1150000", "1150000"},
      {"maxrate", "1150000", "1150000"},
      {"minrate", "1150000", "1150000"},
      {"bufsize", "327680", "327680"},
      {"ab", "224000", "224000"},
      {"packetsize", "2324", "2324"},
      {"muxrate", "1411200", "1411200"},
      {nullptr, nullptr, nullptr}},
     44100,
     TTargetChannels::Stereo,
     0.44f,
     "4:3"},
    {"svcd",
     "mpeg2video",
     "mp2",
     "svcd",
     "480x576",
     "480x480",
     nullptr,
     nullptr,
     {{"gop", "15", "18"},
      {"b", "2040000", "2040000"},
      {"maxrate", "2516000", "2516000"},
      {"minrate", "0", "0"},
      {"bufsize", "1835008", "1835008"},
      {"flags", "+SCAN_OFFSET", "+SCAN_OFFSET"},
      {"ab", "224000", "224000"},
      {"packetsize", "2324", "2324"},
      {nullptr, nullptr, nullptr}},
     44100,
     TTargetChannels::StereoIfMono,
     -1,
     "4:3"},
    {"dvd",
     "mpeg2video",
     "ac3",
     "dvd",
     "720x576",
     "720x480",
     nullptr,
     nullptr,
     {{"gop", "15", "18"},
      {"b", "6000000", "6000000"},
      {"maxrate", "9000000", "9000000"},
      {"minrate", "0", "0"},
      {"bufsize", "1835008", "1835008"},
      {"packetsize", "2048", "2048"},
      {"muxrate", "10080000", "10080000"},
      {"ab", "448000", "448000"},
      {nullptr, nullptr, nullptr}},
     48000,
     TTargetChannels::StereoIfMono,
     -1,
     "16:9"},
    {"dv",
     nullptr,
     nullptr,
     "dv",
     "720x576",
     "720x480",
     "yuv420p",
     "yuv411p",
     {{nullptr, nullptr, nullptr}},
     48000,
     TTargetChannels::Stereo,
     -1,
     nullptr},
    {"dv50",
     nullptr,
     nullptr,
     "dv",
     "720x576",
     "720x480",
     "yuv422p",
     "yuv422p",
     {{nullptr, nullptr, nullptr}},
     48000,
     TTargetChannels::Stereo,
     -1,
     nullptr},
};

// Frame rates by norm: PAL, NTSC, film.
const char *const TargetFrameRates[] = {"25", "30000/1001", "24000/1001"};

// 0 PAL (25 fps), 1 NTSC (29.97 or 23.976 fps), -1 neither.
int NormOfRate(AVRational ARate) {
  if (ARate.num <= 0 || ARate.den <= 0)
    return -1;
  long r = std::lround(ARate.num * 1000.0 / ARate.den);
  if (r == 25000)
    return 0;
  if (r == 29970 || r == 23976)
    return 1;
  return -1;
}

// The norm of an open input's first video stream that has a PAL or NTSC rate.
int NormOfInputs(const TCustomFFmpeg &AEngine) {
  for (int f = 0; f < AEngine.InputFileCount; ++f) {
    const AVFormatContext *input = AEngine.InputFiles[f];
    if (!input)
      continue;
    for (unsigned s = 0; s < input->nb_streams; ++s) {
      const AVStream *stream = input->streams[s];
      if (!stream->codecpar || stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        continue;
      AVRational rate = stream->r_frame_rate;
      if (rate.num <= 0 || rate.den <= 0)
        rate = stream->avg_frame_rate;
      int norm = NormOfRate(rate);
      if (norm >= 0)
        return norm;
    }
  }
  return -1;
}

} // namespace

void TCustomFFmpeg::SetFormat(const std::string &AValue) {
  if (AValue.empty())
    return;
  const std::string name = FormatNameOf(AValue);
  InputFormat = avlib.av_find_input_format(name.c_str());
  OutputFormat = avlib.av_guess_format(name.c_str(), nullptr, nullptr);
  if (!InputFormat && !OutputFormat)
    throw FFMpegException(FormatText(M_("Unknown input or output format: %s"), AValue.c_str()));
}

void TCustomFFmpeg::SetFrameRate(const std::string &AValue) {
  if (AValue.empty())
    return;
  AVRational rate{0, 0};
  if (avlib.av_parse_video_rate(&rate, AValue.c_str()) < 0)
    throw FFMpegException(M_("Incorrect frame rate"));
  FrameRate = rate;
}

void TCustomFFmpeg::SetFrameSize(const std::string &AValue) {
  if (AValue.empty())
    return;
  int width = 0, height = 0;
  if (avlib.av_parse_video_size(&width, &height, AValue.c_str()) < 0)
    throw FFMpegException(M_("Incorrect frame size"));
  // A refused size is not kept: the encoders need even dimensions.
  if (width % 2 != 0 || height % 2 != 0)
    throw FFMpegException(M_("Frame size must be a multiple of 2"));
  FrameWidth = width;
  FrameHeight = height;
}

void TCustomFFmpeg::SetAspectRatio(const std::string &AValue) {
  if (AValue.empty())
    return;
  double ratio = 0;
  size_t colon = AValue.find(':');
  if (colon != std::string::npos) {
    long x = 0, y = 0;
    if (!WholeInteger(AValue.substr(0, colon), x))
      x = 0;
    if (!WholeInteger(AValue.substr(colon + 1), y))
      y = 0;
    if (y > 0)
      ratio = double(x) / double(y);
  } else if (!WholeDecimal(AValue, ratio) || !std::isfinite(ratio)) {
    ratio = 0;
  }
  if (ratio == 0)
    throw FFMpegException(M_("Incorrect aspect ratio specification."));
  FrameAspectRatio = static_cast<float>(ratio);
}

void TCustomFFmpeg::SetPixelFormat(const std::string &AValue) {
  if (AValue != "list") {
    FramePixFmt = avlib.av_get_pix_fmt(AValue.c_str());
    return;
  }
  if (!OnLog)
    return;
  // The heading, then every format this library generation knows.
  char line[128];
  for (int i = -1; i < 0 || avlib.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(i)); ++i) {
    avlib.av_get_pix_fmt_string(line, sizeof line, static_cast<AVPixelFormat>(i));
    Log(1, TrimBlanks(line));
  }
}

void TCustomFFmpeg::SetCropTop(int AValue) {
  ApplyCrop(AValue, MN_("Top crop size must be a multiple of 2"), true, CropTop, FrameHeight);
}
void TCustomFFmpeg::SetCropBottom(int AValue) {
  ApplyCrop(AValue, MN_("Bottom crop size must be a multiple of 2"), true, CropBottom, FrameHeight);
}
void TCustomFFmpeg::SetCropLeft(int AValue) {
  ApplyCrop(AValue, MN_("Left crop size must be a multiple of 2"), false, CropLeft, FrameWidth);
}
void TCustomFFmpeg::SetCropRight(int AValue) {
  ApplyCrop(AValue, MN_("Right crop size must be a multiple of 2"), false, CropRight, FrameWidth);
}

void TCustomFFmpeg::SetPadTop(int AValue) {
  ApplyPad(AValue, MN_("Top pad size must be a multiple of 2"), PadTop);
}
void TCustomFFmpeg::SetPadBottom(int AValue) {
  ApplyPad(AValue, MN_("Bottom pad size must be a multiple of 2"), PadBottom);
}
void TCustomFFmpeg::SetPadLeft(int AValue) {
  ApplyPad(AValue, MN_("Left pad size must be a multiple of 2"), PadLeft);
}
void TCustomFFmpeg::SetPadRight(int AValue) {
  ApplyPad(AValue, MN_("Right pad size must be a multiple of 2"), PadRight);
}

void TCustomFFmpeg::SetPadColor(int AValue) {
  // Red in the lowest byte, then green, then blue.
  const int r = AValue & 0xFF, g = (AValue >> 8) & 0xFF, b = (AValue >> 16) & 0xFF;
  PadColor[0] = ((YR * r + YG * g + YB * b + 512) >> 10) + 16;
  PadColor[1] = ((CbR * r + CbG * g + CbB * b + 512) >> 10) + 128;
  PadColor[2] = ((CrR * r + CrG * g + CrB * b + 512) >> 10) + 128;
}

void TCustomFFmpeg::SetQScale(double AValue) {
  if (!(AValue > 0 && AValue <= 255))
    throw FFMpegException(M_("qscale must be > 0.0 and <= 255"));
  VideoQScale = static_cast<float>(AValue);
}

void TCustomFFmpeg::SetBitRate(const std::string &AName, const std::string &AValue) {
  if (AName.empty() || AValue.empty())
    return;
  if (!SetGenericOption(AName, AValue) || !OnLog)
    return;
  AVCodecContext *holder = CodecDefaults[AName[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO];
  int64_t bitRate = 0;
  if (holder && avlib.av_opt_get_int(holder, "b", 0, &bitRate) >= 0 && bitRate < 1000)
    Log(1, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not "
           "kbits/s");
}

void TCustomFFmpeg::SetVideoCodec(const std::string &AValue) {
  ApplyCodecName(AValue, VideoCodecName, VideoStreamCopy);
}
void TCustomFFmpeg::SetAudioCodec(const std::string &AValue) {
  ApplyCodecName(AValue, AudioCodecName, AudioStreamCopy);
}
void TCustomFFmpeg::SetSubtitleCodec(const std::string &AValue) {
  ApplyCodecName(AValue, SubtitleCodecName, SubtitleStreamCopy);
}

void TCustomFFmpeg::SetVideoTag(const std::string &AValue) {
  ApplyCodecTag(AValue, MN_("video tag parameter must be 4 chars"), VideoCodecTag);
}
void TCustomFFmpeg::SetAudioTag(const std::string &AValue) {
  ApplyCodecTag(AValue, MN_("audio tag parameter must be 4 chars"), AudioCodecTag);
}

void TCustomFFmpeg::SetIntraMatrix(const std::string &AValue) { ParseMatrix(AValue, IntraMatrix); }
void TCustomFFmpeg::SetInterMatrix(const std::string &AValue) { ParseMatrix(AValue, InterMatrix); }

void TCustomFFmpeg::SetPass(int AValue) {
  if (AValue != 1 && AValue != 2)
    throw FFMpegException(M_("pass number can be only 1 or 2"));
  DoPass = AValue;
}

void TCustomFFmpeg::SetVStats() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::string name = FormatText("%svstats_%02d%02d%02d.log", ProgramFolder().c_str(), local.tm_hour,
                                local.tm_min, local.tm_sec);
  avlib.av_freep(&VStatsFileName);
  VStatsFileName = avlib.av_strdup(name.c_str());
}

void TCustomFFmpeg::SetVStatsFile(const std::string &AValue) {
  avlib.av_freep(&VStatsFileName);
  VStatsFileName = avlib.av_strdup(AValue.c_str());
}

void TCustomFFmpeg::AddStreamMap(const std::string &AValue) {
  CheckTableRoom(StreamMapCount, MaxStreamMaps, MN_("stream mappings"));
  TStreamMap map;
  const char *p = AValue.c_str();
  map.FileIndex = LeadingIndex(p);
  if (*p) {
    SkipOne(p);
    map.StreamIndex = LeadingIndex(p);
  }
  if (*p) {
    SkipOne(p);
    map.SyncFileIndex = LeadingIndex(p);
    SkipOne(p);
    map.SyncStreamIndex = LeadingIndex(p);
  } else {
    map.SyncFileIndex = map.FileIndex;
    map.SyncStreamIndex = map.StreamIndex;
  }
  StreamMaps[StreamMapCount++] = map;
}

void TCustomFFmpeg::AddMetaDataMap(const std::string &AValue) {
  CheckTableRoom(MetaDataMapCount, MaxMetaDataMaps, MN_("metadata mappings"));
  TMetaDataMap map;
  const char *p = AValue.c_str();
  map.OutFile = LeadingIndex(p);
  SkipOne(p);
  map.InFile = LeadingIndex(p);
  MetaDataMaps[MetaDataMapCount++] = map;
}

void TCustomFFmpeg::SetInputTsScale(const std::string &AValue) {
  const char *p = AValue.c_str();
  int stream = LeadingIndex(p);
  SkipOne(p);
  double scale = 0;
  const char *end = nullptr;
  if (!LeadingDecimal(p, scale, end))
    scale = 0;
  if (stream < 0 || stream >= MAX_STREAMS)
    throw FFMpegException(FormatText(M_("stream index over MAX_STREAMS(%d)"), MAX_STREAMS));
  // The scale belongs to the input opened next; with every input slot taken there is none.
  CheckTableRoom(InputFileCount, MaxFiles, MN_("input files"));
  InputTsScales[InputFileCount][stream] = scale;
}

void TCustomFFmpeg::SetRecordingTime(const std::string &AValue) {
  int64_t ms = ParseTime(AValue, true, "t") / 1000;
  // Beyond the millisecond counter's range the limit is as good as none: keep the largest.
  if (ms > INT_MAX)
    ms = INT_MAX;
  SetRecordingTimeMs(static_cast<int>(ms < INT_MIN ? INT_MIN : ms));
}

void TCustomFFmpeg::SetRecordingTimeMs(int AValue) {
  if (AValue <= 0)
    return;
  RecordingTime = int64_t(AValue) * 1000;
  OutputDurationMs = AValue;
}

void TCustomFFmpeg::SetStartTimeText(const std::string &AValue) {
  StartTime = ParseTime(AValue, true, "ss");
}

void TCustomFFmpeg::SetInputTsOffset(const std::string &AValue) {
  InputTsOffset = ParseTime(AValue, true, "itsoffset");
}

void TCustomFFmpeg::SetRecTimestamp(const std::string &AValue) {
  int64_t us = ParseTime(AValue, false, "timestamp");
  RecTimestamp = us >= 0 ? (us + 500000) / 1000000 : -((-us + 500000) / 1000000);
}

void TCustomFFmpeg::AddFrameHook(const std::string &AValue) {
  std::vector<std::string> words = SplitHookWords(AValue);
  // argv holds at most 64 entries and always ends with an empty one.
  constexpr size_t MaxHookArgs = 63;
  if (words.size() > MaxHookArgs)
    words.resize(MaxHookArgs);

  if (!words.empty()) {
    std::filesystem::path module(words[0]);
    if (module.has_parent_path()) {
      // A relative folder is resolved here, never by changing the current directory: that
      // belongs to the whole process, where other engines open relative names meanwhile.
      std::filesystem::path folder = module.parent_path();
      if (folder.is_relative()) {
        std::error_code ec;
        folder = std::filesystem::absolute(folder, ec);
        if (!ec)
          words[0] = (folder / module.filename()).string();
      }
      PrependToPath(folder.string());
    }
  }

  std::vector<char *> argv;
  for (std::string &word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  int result = FrameHookAdd(FrameHooks, static_cast<int>(words.size()), argv.data());
  if (result != 0)
    throw FFMpegException(M_("Failed to add video hook function: ") + AValue);
  UsingVHook = true;
}

void TCustomFFmpeg::SetTargetOption(const std::string &AValue) {
  std::string type = TrimBlanks(AValue);
  std::string norm = "auto";
  for (const char *prefix : {"pal-", "ntsc-", "film-"}) {
    if (StartsWith(type, prefix)) {
      size_t length = std::strlen(prefix);
      norm = type.substr(0, length - 1);
      type = type.substr(length);
      break;
    }
  }
  SetTarget(type, norm, "ntsc");
}

void TCustomFFmpeg::SetTarget(const std::string &ATargetType, const std::string &ANorm,
                              const std::string &ADefaultNorm) {
  int norm;
  if (ANorm == "pal") {
    norm = 0;
  } else if (ANorm == "ntsc") {
    norm = 1;
  } else if (ANorm == "film") {
    norm = 2;
  } else {
    if (FrameRate.den == 0)
      throw FFMpegException(M_("frame_rate is invalid."));
    norm = NormOfRate(FrameRate);
    if (norm < 0)
      norm = NormOfInputs(*this);
    if (norm < 0)
      norm = ADefaultNorm == "film" ? 2 : ADefaultNorm == "ntsc" ? 1 : 0;
    if (Verbose > 0 && OnLog)
      LogF(1, "Assuming %s for target.", norm != 0 ? "NTSC" : "PAL");
  }

  const TTargetPreset *preset = nullptr;
  for (const TTargetPreset &candidate : TargetPresets)
    if (ATargetType == candidate.Type)
      preset = &candidate;
  if (!preset)
    throw FFMpegException(M_("Unknown target type"));

  const bool pal = norm == 0;
  if (preset->VideoCodec)
    SetVideoCodec(preset->VideoCodec);
  if (preset->AudioCodec)
    SetAudioCodec(preset->AudioCodec);
  SetOutputFormat(preset->Format);
  SetFrameSize(pal ? preset->SizePal : preset->SizeNtsc);
  if (preset->PixFmtPal)
    SetPixelFormat(pal ? preset->PixFmtPal : preset->PixFmtNtsc);
  SetFrameRate(TargetFrameRates[norm]);
  for (const TTargetOption *option = preset->Options; option->Name; ++option)
    SetGenericOption(option->Name, pal ? option->PalValue : option->NtscValue);
  AudioSampleRate = preset->AudioSampleRate;
  if (preset->Channels == TTargetChannels::Stereo ||
      (preset->Channels == TTargetChannels::StereoIfMono && AudioChannels == 1))
    AudioChannels = 2;
  if (preset->MuxPreload >= 0)
    MuxPreload = preset->MuxPreload;
  if (preset->Aspect && FrameAspectRatio == 0)
    SetAspectRatio(preset->Aspect);
}
