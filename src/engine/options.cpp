// The engine's option table and its generic option store (the lifecycle is in lifecycle.cpp).
#include "engine/custom_ffmpeg.h"
#include "engine/text.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#include "medialib/medialib.h"
#include "medialib/words.h"

// ---------------------------------------------------------------------------------------------
// Free helpers

void CheckTableRoom(int ACount, int AMax, const char *AWhat) {
  if (ACount >= AMax)
    throw FFMpegException(
        FormatText(M_("Too many %s: at most %d are allowed"), LayerText(AWhat), AMax));
}

namespace {

// Leading blanks and a "+" sign are skipped; from_chars then needs the rest to be the number.
const char *numberStart(const std::string &AValue) {
  const char *p = AValue.data();
  const char *end = p + AValue.size();
  while (p < end && (*p == ' ' || *p == '\t'))
    ++p;
  if (p + 1 < end && *p == '+' && *(p + 1) != '-' && *(p + 1) != '+')
    ++p;
  return p;
}

template <typename T> T convertInteger(const std::string &AValue) {
  const char *begin = numberStart(AValue);
  const char *end = AValue.data() + AValue.size();
  T result{};
  const auto [ptr, ec] = std::from_chars(begin, end, result, 10);
  if (begin == end || ec != std::errc() || ptr != end)
    throw EConvertError(FormatText(M_("'%s' is not a valid integer value"), AValue.c_str()));
  return result;
}

float convertSingle(const std::string &AValue) {
  const double value = StrToFloat(AValue);
  if (std::fabs(value) > FLT_MAX)
    throw EConvertError(FormatText(M_("'%s' is not a valid floating point value"), AValue.c_str()));
  return static_cast<float>(value);
}

// Media types of the codec holders and the option flags each one takes.
constexpr int kCodecHolderMasks[5] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                                      AV_OPT_FLAG_SUBTITLE_PARAM, 0};

// Replaces an owned library text with a copy of AValue.
void replaceText(char *&AField, const std::string &AValue) {
  avlib.av_freep(&AField);
  AField = avlib.av_strdup(AValue.c_str());
}

// Splits a flags value such as "+SCAN_OFFSET+qscale" into the named token (returned with its
// sign, '+' when none) and the rest of the value.
bool takeFlagToken(const std::string &AValue, const char *AToken, char &ASign, std::string &ARest) {
  bool found = false;
  size_t i = 0;
  ARest.clear();
  while (i < AValue.size()) {
    char sign = 0;
    if (AValue[i] == '+' || AValue[i] == '-')
      sign = AValue[i++];
    size_t j = i;
    while (j < AValue.size() && AValue[j] != '+' && AValue[j] != '-')
      ++j;
    const std::string word = AValue.substr(i, j - i);
    if (strcasecmp(word.c_str(), AToken) == 0) {
      found = true;
      ASign = sign ? sign : '+';
    } else if (!word.empty()) {
      if (sign)
        ARest += sign;
      ARest += word;
    }
    i = j;
  }
  return found;
}

// ---- the option table ----

using OptionHandler = void (*)(TCustomFFmpeg &, const std::string &);

struct OptionEntry {
  enum Kind { Handler, DoNothing, Refused } kind;
  OptionHandler handler;
};

#define KORVELO_OPTION(body)                                                                       \
  OptionEntry {                                                                                    \
    OptionEntry::Handler, [](TCustomFFmpeg &E, const std::string &V) { body; }                     \
  }
#define KORVELO_SWITCH(field) KORVELO_OPTION((void)V; E.field = true)
#define KORVELO_INT(field) KORVELO_OPTION(E.field = StrToInt(V))
#define KORVELO_FLOAT(field) KORVELO_OPTION(E.field = convertSingle(V))
#define KORVELO_TEXT_KEEP(field) KORVELO_OPTION(if (!V.empty()) E.field = V)

// NOLINTNEXTLINE(readability-function-size): the option table itself, data rather than code
const std::unordered_map<std::string, OptionEntry> &optionTable() {
  static const OptionEntry doNothing{OptionEntry::DoNothing, nullptr};
  static const OptionEntry refused{OptionEntry::Refused, nullptr};
  static const std::unordered_map<std::string, OptionEntry> table = {
      // Accepted without effect: input files are opened by OpenInputFile, outputs are always
      // overwritten, and the rest belong to a command line this engine does not have.
      {"L", doNothing},
      {"h", doNothing},
      {"version", doNothing},
      {"formats", doNothing},
      {"i", doNothing},
      {"y", doNothing},
      {"benchmark", doNothing},
      {"apre", doNothing},
      {"vpre", doNothing},
      {"spre", doNothing},
      {"threads", refused},
      {"absf", refused},
      {"vbsf", refused},
      {"sbsf", refused},

      {"dump", KORVELO_SWITCH(PktDump)},
      {"hex", KORVELO_SWITCH(HexDump)},
      {"re", KORVELO_SWITCH(RateEmu)},
      {"loop_input", KORVELO_SWITCH(LoopInput)},
      {"copyts", KORVELO_SWITCH(CopyTs)},
      {"shortest", KORVELO_SWITCH(Shortest)},
      {"intra", KORVELO_SWITCH(IntraOnly)},
      {"vn", KORVELO_SWITCH(VideoDisable)},
      {"sameq", KORVELO_SWITCH(SameQuality)},
      {"deinterlace", KORVELO_SWITCH(Deinterlace)},
      {"psnr", KORVELO_SWITCH(DoPsnr)},
      {"qphist", KORVELO_SWITCH(QpHist)},
      {"an", KORVELO_SWITCH(AudioDisable)},
      {"sn", KORVELO_SWITCH(SubtitleDisable)},
      {"isync", KORVELO_SWITCH(InputSync)},

      {"vframes", KORVELO_INT(MaxFrames[0])},
      {"aframes", KORVELO_INT(MaxFrames[1])},
      {"dframes", KORVELO_INT(MaxFrames[2])},
      {"loop_output", KORVELO_INT(LoopOutput)},
      {"vsync", KORVELO_INT(VideoSyncMethod)},
      {"async", KORVELO_INT(AudioSyncMethod)},
      {"vglobal", KORVELO_INT(VideoGlobalHeader)},
      {"programid", KORVELO_INT(ProgramId)},
      {"vdt", KORVELO_INT(VideoDiscard)},
      {"dc", KORVELO_INT(IntraDcPrecision)},
      {"vol", KORVELO_INT(AudioVolume)},
      {"me_threshold", KORVELO_INT(MeThreshold)},
      {"top", KORVELO_INT(TopFieldFirst)},
      {"vc", KORVELO_INT(VideoChannel)},
      {"ar", KORVELO_OPTION(const int n = StrToInt(V); if (n > 0) E.AudioSampleRate = n)},
      {"ac", KORVELO_OPTION(const int n = StrToInt(V); if (n > 0) E.AudioChannels = n)},
      {"v", KORVELO_OPTION(E.SetVerbose(StrToInt(V)))},
      {"fs", KORVELO_OPTION(E.LimitFileSize = StrToInt64(V))},

      {"adrift_threshold", KORVELO_FLOAT(AudioDriftThreshold)},
      {"dts_delta_threshold", KORVELO_FLOAT(DtsDeltaThreshold)},
      {"aq", KORVELO_FLOAT(AudioQScale)},
      {"muxdelay", KORVELO_FLOAT(MuxMaxDelay)},
      {"muxpreload", KORVELO_FLOAT(MuxPreload)},

      {"title", KORVELO_TEXT_KEEP(Title)},
      {"author", KORVELO_TEXT_KEEP(Author)},
      {"copyright", KORVELO_TEXT_KEEP(Copyright)},
      {"comment", KORVELO_TEXT_KEEP(Comment)},
      {"genre", KORVELO_TEXT_KEEP(Genre)},
      {"album", KORVELO_TEXT_KEEP(Album)},
      {"alang", KORVELO_OPTION(E.AudioLanguage = V)},
      {"slang", KORVELO_OPTION(E.SubtitleLanguage = V)},
      {"burn_subtitles", KORVELO_OPTION(E.BurnSubtitleStream = StrToInt(V))},
      {"burn_subtitles_file", KORVELO_OPTION(E.BurnSubtitleFile = V)},
      {"passlogfile", KORVELO_OPTION(E.PassLogFileName = V)},
      {"rc_override", KORVELO_OPTION(replaceText(E.VideoRcOverride, V))},
      {"tvstd", KORVELO_OPTION(replaceText(E.VideoStandard, V))},

      {"f", KORVELO_OPTION(E.SetFormat(V))},
      {"r", KORVELO_OPTION(E.SetFrameRate(V))},
      {"s", KORVELO_OPTION(E.SetFrameSize(V))},
      {"aspect", KORVELO_OPTION(E.SetAspectRatio(V))},
      {"pix_fmt", KORVELO_OPTION(E.SetPixelFormat(V))},
      {"croptop", KORVELO_OPTION(E.SetCropTop(StrToInt(V)))},
      {"cropbottom", KORVELO_OPTION(E.SetCropBottom(StrToInt(V)))},
      {"cropleft", KORVELO_OPTION(E.SetCropLeft(StrToInt(V)))},
      {"cropright", KORVELO_OPTION(E.SetCropRight(StrToInt(V)))},
      {"padtop", KORVELO_OPTION(E.SetPadTop(StrToInt(V)))},
      {"padbottom", KORVELO_OPTION(E.SetPadBottom(StrToInt(V)))},
      {"padleft", KORVELO_OPTION(E.SetPadLeft(StrToInt(V)))},
      {"padright", KORVELO_OPTION(E.SetPadRight(StrToInt(V)))},
      {"padcolor", KORVELO_OPTION(E.SetPadColor(StrToInt(V)))},
      {"qscale", KORVELO_OPTION(E.SetQScale(StrToFloat(V)))},
      {"b", KORVELO_OPTION(E.SetBitRate("b", V))},
      {"vb", KORVELO_OPTION(E.SetBitRate("vb", V))},
      {"ab", KORVELO_OPTION(E.SetBitRate("ab", V))},
      {"vcodec", KORVELO_OPTION(E.SetVideoCodec(V))},
      {"acodec", KORVELO_OPTION(E.SetAudioCodec(V))},
      {"scodec", KORVELO_OPTION(E.SetSubtitleCodec(V))},
      {"vtag", KORVELO_OPTION(E.SetVideoTag(V))},
      {"atag", KORVELO_OPTION(E.SetAudioTag(V))},
      {"intra_matrix", KORVELO_OPTION(E.SetIntraMatrix(V))},
      {"inter_matrix", KORVELO_OPTION(E.SetInterMatrix(V))},
      {"pass", KORVELO_OPTION(E.SetPass(StrToInt(V)))},
      {"vstats", KORVELO_OPTION((void)V; E.SetVStats())},
      {"vstats_file", KORVELO_OPTION(E.SetVStatsFile(V))},
      {"map", KORVELO_OPTION(E.AddStreamMap(V))},
      {"map_meta_data", KORVELO_OPTION(E.AddMetaDataMap(V))},
      {"itsscale", KORVELO_OPTION(E.SetInputTsScale(V))},
      {"t", KORVELO_OPTION(E.SetRecordingTime(V))},
      {"ss", KORVELO_OPTION(E.SetStartTimeText(V))},
      {"itsoffset", KORVELO_OPTION(E.SetInputTsOffset(V))},
      {"timestamp", KORVELO_OPTION(E.SetRecTimestamp(V))},
      {"target", KORVELO_OPTION(E.SetTargetOption(V))},
      {"vhook", KORVELO_OPTION(E.AddFrameHook(V))},

      {"newvideo", KORVELO_OPTION((void)V; if (E.OutputFileCount == 0) throw FFMpegException(
                                      M_("At least one output file must be specified"));
                                  E.NewVideoStream(E.OutputFiles[E.OutputFileCount - 1]))},
      {"newaudio", KORVELO_OPTION((void)V; if (E.OutputFileCount == 0) throw FFMpegException(
                                      M_("At least one output file must be specified"));
                                  E.NewAudioStream(E.OutputFiles[E.OutputFileCount - 1]))},
      {"newsubtitle", KORVELO_OPTION((void)V; if (E.OutputFileCount == 0) throw FFMpegException(
                                         M_("At least one output file must be specified"));
                                     E.NewSubtitleStream(E.OutputFiles[E.OutputFileCount - 1]))},
  };
  return table;
}

#undef KORVELO_OPTION
#undef KORVELO_SWITCH
#undef KORVELO_INT
#undef KORVELO_FLOAT
#undef KORVELO_TEXT_KEEP

} // namespace

int StrToInt(const std::string &AValue) { return convertInteger<int>(AValue); }
int64_t StrToInt64(const std::string &AValue) { return convertInteger<int64_t>(AValue); }

double StrToFloat(const std::string &AValue) {
  const char *begin = numberStart(AValue);
  const char *end = AValue.data() + AValue.size();
  double result = 0;
  const auto [ptr, ec] = std::from_chars(begin, end, result, std::chars_format::general);
  if (begin == end || ec != std::errc() || ptr != end || !std::isfinite(result))
    throw EConvertError(FormatText(M_("'%s' is not a valid floating point value"), AValue.c_str()));
  return result;
}

// ---------------------------------------------------------------------------------------------
// Options

void TCustomFFmpeg::SetOption(const std::string &AName, const std::string &AValue) {
  const auto &table = optionTable();
  const auto it = table.find(AName);
  if (it == table.end()) {
    SetGenericOption(AName, AValue);
    return;
  }
  switch (it->second.kind) {
  case OptionEntry::DoNothing:
    Log(1, "Do nothing: option - " + AName);
    return;
  case OptionEntry::Refused:
    // Said as what it is: threads follow the engine's share of the cores, and the engine has
    // no bitstream filters to name.
    throw FFMpegException(FillName(
        AName == "threads" ? M_("Unsupported option: %s (the engine chooses its own threads)")
                           : M_("Unsupported option: %s (bitstream filters are not available)"),
        AName));
  case OptionEntry::Handler:
    it->second.handler(*this, AValue);
    return;
  }
}

void TCustomFFmpeg::SetOptionText(const std::string &AText) {
  const std::string text = TrimBlanks(AText);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos)
      end = text.size();
    const std::string line = text.substr(pos, end - pos);
    const size_t eq = line.find('=');
    if (eq == std::string::npos)
      SetOption(line, "");
    else
      SetOption(line.substr(0, eq), line.substr(eq + 1));
    // CR LF counts as one line break.
    pos = end + 1;
    if (end < text.size() && text[end] == '\r' && pos < text.size() && text[pos] == '\n')
      ++pos;
  }
}

bool TCustomFFmpeg::SetGenericOption(const std::string &AName, const std::string &AValue) {
  if (TrimBlanks(AName).empty() || TrimBlanks(AValue).empty())
    return false;
  if (!CodecDefaults[0] || !FormatDefaults || !ScalerDefaults)
    return false; // not prepared: there is no store

  // Old names the libraries no longer know.
  if (AName == "gop")
    return SetGenericOption("g", AValue);
  if (AName == "flags") {
    char sign = '+';
    std::string rest;
    if (takeFlagToken(AValue, "SCAN_OFFSET", sign, rest)) {
      bool accepted = SetGenericOption("scan_offset", sign == '-' ? "0" : "1");
      if (!TrimBlanks(rest).empty())
        accepted = SetGenericOption("flags", rest) || accepted;
      return accepted;
    }
  }

  const char *name = AName.c_str();
  const char *value = AValue.c_str();
  const char *acceptedName = nullptr;
  // A value one holder refuses another may take ("profile=main" is libx264's, not the
  // generic profile's): the refusals are not errors.
  const TLibraryTrial trial;
  for (int t = 0; t < 5; ++t) {
    const AVOption *option =
        avlib.av_opt_find(CodecDefaults[0], name, nullptr, kCodecHolderMasks[t], 0);
    if (option && avlib.av_opt_set(CodecDefaults[t], name, value, 0) >= 0)
      acceptedName = option->name;
  }
  // The name of the option a holder took, as the library describes it.
  const auto setOn = [value](void *AHolder, const char *AOptionName) -> const char * {
    if (avlib.av_opt_set(AHolder, AOptionName, value, 0) < 0)
      return nullptr;
    const AVOption *option = avlib.av_opt_find(AHolder, AOptionName, nullptr, 0, 0);
    return option ? option->name : nullptr;
  };
  if (!acceptedName)
    acceptedName = setOn(FormatDefaults, name);
  if (!acceptedName)
    acceptedName = setOn(ScalerDefaults, name);

  // "vb" reaches the video "b", "ab" the audio one.
  if (!acceptedName && AName.size() > 1 &&
      (AName[0] == 'a' || AName[0] == 'v' || AName[0] == 's')) {
    AVCodecContext *holder = CodecDefaults[AName[0] == 'a' ? 1 : AName[0] == 'v' ? 0 : 3];
    acceptedName = setOn(holder, name + 1);
  }

  if (!acceptedName)
    acceptedName = KeepPrivateOption(name, value);
  if (!acceptedName)
    return false;

  OptNames.emplace_back(acceptedName);
  OptNameCount = static_cast<int>(OptNames.size());

  if (CodecDefaults[0]->debug != 0 || FormatDefaults->debug != 0) {
    Verbose = 2;
    SetMediaLogLevel(2);
  }
  return true;
}

// Options that only a codec's or a muxer's own class knows (libx264's "profile" or "preset", the
// mpeg muxer's "muxrate") are kept for avcodec_open2 / avformat_write_header. Returns the name
// the library gives the option, or nullptr when no class knows it.
const char *TCustomFFmpeg::KeepPrivateOption(const char *AName, const char *AValue) {
  const char *acceptedName = nullptr;
  const AVClass *codecClass = avlib.avcodec_get_class();
  const AVOption *generic =
      avlib.av_opt_find(&codecClass, AName, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
  for (int t = 0; t < 5; ++t) {
    const AVOption *option = avlib.av_opt_find(&codecClass, AName, nullptr, kCodecHolderMasks[t],
                                               AV_OPT_SEARCH_CHILDREN | AV_OPT_SEARCH_FAKE_OBJ);
    if (option && option != generic &&
        avlib.av_dict_set(&CodecPrivateOptions[t], AName, AValue, 0) >= 0)
      acceptedName = option->name;
  }
  if (acceptedName)
    return acceptedName;
  const AVClass *formatClass = avlib.avformat_get_class();
  generic = avlib.av_opt_find(&formatClass, AName, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
  const AVOption *option = avlib.av_opt_find(&formatClass, AName, nullptr, 0,
                                             AV_OPT_SEARCH_CHILDREN | AV_OPT_SEARCH_FAKE_OBJ);
  if (option && option != generic &&
      avlib.av_dict_set(&FormatPrivateOptions, AName, AValue, 0) >= 0)
    return option->name;
  return nullptr;
}

void TCustomFFmpeg::ApplyContextOptions(void *ATarget, void *AHolder, int AFlags) {
  if (!ATarget || !AHolder)
    return;
  for (const std::string &name : OptNames) {
    const AVOption *option = avlib.av_opt_find(AHolder, name.c_str(), nullptr, 0, 0);
    if (!option || (option->flags & AFlags) != AFlags)
      continue;
    uint8_t *text = nullptr;
    if (avlib.av_opt_get(AHolder, name.c_str(), 0, &text) >= 0 && text)
      avlib.av_opt_set(ATarget, name.c_str(), reinterpret_cast<const char *>(text), 0);
    avlib.av_free(text);
  }
}

AVDictionary *TCustomFFmpeg::CopyPrivateOptions(int AMediaType) const {
  const AVDictionary *source = AMediaType == -1                    ? FormatPrivateOptions
                               : AMediaType >= 0 && AMediaType < 5 ? CodecPrivateOptions[AMediaType]
                                                                   : nullptr;
  AVDictionary *copy = nullptr;
  if (source)
    avlib.av_dict_copy(&copy, source, 0);
  return copy;
}

AVDictionary *TCustomFFmpeg::CopyPrivateOptions(int AMediaType,
                                                const AVClass *APrivateClass) const {
  AVDictionary *all = CopyPrivateOptions(AMediaType);
  if (!all)
    return nullptr;
  AVDictionary *known = nullptr;
  if (APrivateClass) {
    const AVDictionaryEntry *entry = nullptr;
    while ((entry = avlib.av_dict_get(all, "", entry, AV_DICT_IGNORE_SUFFIX)))
      if (avlib.av_opt_find(&APrivateClass, entry->key, nullptr, 0,
                            AV_OPT_SEARCH_CHILDREN | AV_OPT_SEARCH_FAKE_OBJ))
        avlib.av_dict_set(&known, entry->key, entry->value, 0);
  }
  avlib.av_dict_free(&all);
  return known;
}

// ---- typed setters ----

void TCustomFFmpeg::SetVerbose(int AValue) {
  Verbose = AValue;
  SetMediaLogLevel(AValue);
}
void TCustomFFmpeg::SetGenericOptionInt(const std::string &AName, int AValue) {
  SetGenericOption(AName, std::to_string(AValue));
}
void TCustomFFmpeg::SetAudioSampleRate(int AValue) {
  if (AValue > 0)
    AudioSampleRate = AValue;
}
void TCustomFFmpeg::SetAudioChannels(int AValue) {
  if (AValue > 0)
    AudioChannels = AValue;
}
void TCustomFFmpeg::SetAudioVolume(int AValue) {
  if (AValue >= 0)
    AudioVolume = AValue;
}
void TCustomFFmpeg::SetAudioSyncMethod(int AValue) { AudioSyncMethod = AValue; }
void TCustomFFmpeg::SetVideoSyncMethod(int AValue) { VideoSyncMethod = AValue; }
void TCustomFFmpeg::SetMuxMaxDelay(float AValue) {
  if (AValue > 0)
    MuxMaxDelay = AValue;
}
void TCustomFFmpeg::SetMuxPreload(float AValue) {
  if (AValue > 0)
    MuxPreload = AValue;
}
void TCustomFFmpeg::SetTitle(const std::string &AValue) {
  if (!AValue.empty())
    Title = AValue;
}
void TCustomFFmpeg::SetAuthor(const std::string &AValue) {
  if (!AValue.empty())
    Author = AValue;
}
void TCustomFFmpeg::SetCopyright(const std::string &AValue) {
  if (!AValue.empty())
    Copyright = AValue;
}
void TCustomFFmpeg::SetComment(const std::string &AValue) {
  if (!AValue.empty())
    Comment = AValue;
}
void TCustomFFmpeg::SetAlbum(const std::string &AValue) {
  if (!AValue.empty())
    Album = AValue;
}
void TCustomFFmpeg::SetGenre(const std::string &AValue) {
  if (!AValue.empty())
    Genre = AValue;
}
void TCustomFFmpeg::SetYear(int AValue) {
  if (AValue > 0)
    Year = AValue;
}
void TCustomFFmpeg::SetTrack(int AValue) {
  if (AValue > 0)
    Track = AValue;
}
void TCustomFFmpeg::SetTimeRanges(const std::vector<TTimeRange> &ARanges) {
  TimeRanges = ARanges;
  std::sort(TimeRanges.begin(), TimeRanges.end(),
            [](const TTimeRange &a, const TTimeRange &b) { return a.Stop < b.Stop; });
  TimeRangeCount = static_cast<int>(TimeRanges.size());
  TimeRangeIndex = 0;
}

// ---------------------------------------------------------------------------------------------
// The log

void TCustomFFmpeg::Log(int ALevel, const std::string &AMessage) {
  if (!OnLog)
    return;
  try {
    OnLog(this, ALevel, AMessage);
  } catch (...) {
    // A log handler's failure is its own: the run goes on, and it reports its own errors after
    // one, from a thread that such an exception would otherwise end.
  }
}

void TCustomFFmpeg::LogF(int ALevel, const char *AFormat, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, AFormat);
  std::vsnprintf(buffer, sizeof buffer, AFormat, args);
  va_end(args);
  Log(ALevel, buffer);
}
