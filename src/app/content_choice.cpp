#include "app/content_choice.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/i18n.h"
#include "app/profiles.h"
#include "probe/av_probe.h"

namespace {

std::string Lower(std::string AText) {
  for (char &c : AText)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return AText;
}

bool AllDigits(const std::string &AText) {
  return !AText.empty() && AText.size() <= 6 && std::all_of(AText.begin(), AText.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

bool EndsWith(const std::string &AText, const std::string &AEnd) {
  return AText.size() >= AEnd.size() &&
         AText.compare(AText.size() - AEnd.size(), AEnd.size(), AEnd) == 0;
}

bool IsRegularFile(const std::string &APath) {
  struct stat st {};
  return ::stat(APath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The names people see on players, not the libraries' short ids.
std::string CodecLabel(AVCodecID AId) {
  switch (AId) {
  case AV_CODEC_ID_AAC:
    return "AAC";
  case AV_CODEC_ID_AC3:
    return "AC-3";
  case AV_CODEC_ID_EAC3:
    return "E-AC-3";
  case AV_CODEC_ID_DTS:
    return "DTS";
  case AV_CODEC_ID_TRUEHD:
    return "TrueHD";
  case AV_CODEC_ID_MP2:
    return "MP2";
  case AV_CODEC_ID_MP3:
    return "MP3";
  case AV_CODEC_ID_VORBIS:
    return "Vorbis";
  case AV_CODEC_ID_OPUS:
    return "Opus";
  case AV_CODEC_ID_FLAC:
    return "FLAC";
  case AV_CODEC_ID_SUBRIP:
    return "SubRip";
  case AV_CODEC_ID_ASS:
    return "ASS";
  case AV_CODEC_ID_SSA:
    return "SSA";
  case AV_CODEC_ID_MOV_TEXT:
    return "mov_text";
  case AV_CODEC_ID_WEBVTT:
    return "WebVTT";
  case AV_CODEC_ID_DVD_SUBTITLE:
    return "DVD";
  case AV_CODEC_ID_DVB_SUBTITLE:
    return "DVB";
  case AV_CODEC_ID_HDMV_PGS_SUBTITLE:
    return "PGS";
  default:
    break;
  }
  if (AId >= AV_CODEC_ID_PCM_S16LE && AId < AV_CODEC_ID_ADPCM_IMA_QT)
    return "PCM";
  std::string name = avlib.avcodec_get_name(AId);
  for (char &c : name)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

std::string ChannelsLabel(int AChannels) {
  switch (AChannels) {
  case 1:
    return "mono";
  case 2:
    return "stereo";
  case 6:
    return "5.1";
  case 8:
    return "7.1";
  default:
    return AChannels > 0 ? std::to_string(AChannels) + " ch" : std::string();
  }
}

std::vector<TTrackEntry> TracksOf(TAVProbe &AProbe, AVMediaType AType) {
  std::vector<TTrackEntry> tracks;
  for (int i = 0; i < AProbe.StreamCount(); ++i) {
    const TAVStreamInfo info = AProbe.GetStreamInfo(i);
    if (info.Type != AType)
      continue;
    TTrackEntry entry;
    entry.StreamIndex = i;
    entry.Label = TrackLabel(info);
    entry.Forced = info.Forced;
    entry.Language = info.Language;
    tracks.push_back(entry);
  }
  return tracks;
}

// The tracks as an error message lists them: "1 eng · AAC stereo, 2 fre · AC-3 5.1".
std::string ListOf(const std::vector<TTrackEntry> &ATracks) {
  std::string text;
  for (size_t i = 0; i < ATracks.size(); ++i)
    text += (i ? ", " : "") + std::to_string(i + 1) + " " + ATracks[i].Label;
  return text;
}

// ISO 639-1 with the 639-2 terminology and bibliographic codes of the languages films come in.
struct TLanguageCodes {
  const char *Two, *Three, *Biblio;
};
constexpr TLanguageCodes LanguageTable[] = {
    {"ar", "ara", "ara"}, {"cs", "ces", "cze"}, {"da", "dan", "dan"}, {"de", "deu", "ger"},
    {"el", "ell", "gre"}, {"en", "eng", "eng"}, {"es", "spa", "spa"}, {"fa", "fas", "per"},
    {"fi", "fin", "fin"}, {"fr", "fra", "fre"}, {"he", "heb", "heb"}, {"hi", "hin", "hin"},
    {"hu", "hun", "hun"}, {"id", "ind", "ind"}, {"it", "ita", "ita"}, {"ja", "jpn", "jpn"},
    {"ko", "kor", "kor"}, {"nl", "nld", "dut"}, {"no", "nor", "nor"}, {"pl", "pol", "pol"},
    {"pt", "por", "por"}, {"ro", "ron", "rum"}, {"ru", "rus", "rus"}, {"sk", "slk", "slo"},
    {"sv", "swe", "swe"}, {"th", "tha", "tha"}, {"tr", "tur", "tur"}, {"uk", "ukr", "ukr"},
    {"vi", "vie", "vie"}, {"zh", "zho", "chi"},
};

// The 639-1 code of a language code when the table knows it, else the code itself, lower case.
std::string CanonicalLanguage(const std::string &ACode) {
  const std::string code = Lower(ACode);
  for (const TLanguageCodes &row : LanguageTable)
    if (code == row.Two || code == row.Three || code == row.Biblio)
      return row.Two;
  return code;
}

bool LooksLikeLanguage(const std::string &AText) {
  return (AText.size() == 2 || AText.size() == 3) &&
         std::all_of(AText.begin(), AText.end(),
                     [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; });
}

std::string DirectoryOf(const std::string &APath) {
  const size_t slash = APath.rfind('/');
  return slash == std::string::npos ? std::string(".") : APath.substr(0, slash);
}

std::string NameOf(const std::string &APath) {
  const size_t slash = APath.rfind('/');
  return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

} // namespace

std::string TrackLabel(const TAVStreamInfo &AInfo) {
  std::string label = AInfo.Language.empty() ? std::string() : AInfo.Language + " · ";
  label += CodecLabel(AInfo.CodecId);
  if (AInfo.Type == AVMEDIA_TYPE_AUDIO) {
    const std::string channels = ChannelsLabel(AInfo.Channels);
    if (!channels.empty())
      label += " " + channels;
  }
  if (AInfo.Forced)
    label += " (forced)";
  return label;
}

std::vector<TTrackEntry> SoundTracks(TAVProbe &AProbe) {
  return TracksOf(AProbe, AVMEDIA_TYPE_AUDIO);
}

std::vector<TTrackEntry> SubtitleTracks(TAVProbe &AProbe) {
  return TracksOf(AProbe, AVMEDIA_TYPE_SUBTITLE);
}

std::vector<TTrackEntry> SideSubtitleFiles(const std::string &AVideoFile) {
  std::vector<TTrackEntry> files;
  const std::string folder = DirectoryOf(AVideoFile);
  std::string stem = NameOf(AVideoFile);
  const size_t dot = stem.rfind('.');
  if (dot != std::string::npos && dot > 0)
    stem.resize(dot);
  DIR *dir = ::opendir(folder.c_str());
  if (!dir)
    return files;
  while (const dirent *entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() <= stem.size() + 4 || name.compare(0, stem.size() + 1, stem + ".") != 0)
      continue;
    const std::string lower = Lower(name);
    if (!EndsWith(lower, ".srt") && !EndsWith(lower, ".ass") && !EndsWith(lower, ".ssa"))
      continue;
    // What lies between the stem and the extension: nothing, or a language tag.
    const std::string rest = name.substr(stem.size() + 1); // "srt" or "ru.srt"
    std::string language;
    if (rest.size() > 4) {
      language = rest.substr(0, rest.size() - 4);
      if (rest[rest.size() - 4] != '.' || !LooksLikeLanguage(language))
        continue;
    }
    const std::string path =
        folder == "." && AVideoFile.find('/') == std::string::npos ? name : folder + "/" + name;
    if (!IsRegularFile(path))
      continue;
    TTrackEntry track;
    track.Label = name;
    track.FileName = path;
    track.Language = language;
    files.push_back(track);
  }
  ::closedir(dir);
  std::sort(files.begin(), files.end(),
            [](const TTrackEntry &A, const TTrackEntry &B) { return A.Label < B.Label; });
  return files;
}

std::string LocaleLanguage() {
  for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char *value = std::getenv(name);
    if (!value || !*value)
      continue;
    std::string text = value;
    if (text == "C" || text == "POSIX" || text.compare(0, 2, "C.") == 0)
      return {};
    const size_t end = text.find_first_of("_.@");
    return Lower(text.substr(0, end));
  }
  return {};
}

bool SameLanguage(const std::string &A, const std::string &B) {
  return !A.empty() && !B.empty() && CanonicalLanguage(A) == CanonicalLanguage(B);
}

bool ParseClockTime(const std::string &AText, int64_t &AMs) {
  if (AText.empty() || AText.size() > 20)
    return false;
  int64_t parts[3] = {0, 0, 0};
  int count = 0;
  size_t i = 0;
  int64_t fraction = 0;
  for (;;) {
    if (i >= AText.size() || !std::isdigit(static_cast<unsigned char>(AText[i])))
      return false;
    int64_t value = 0;
    while (i < AText.size() && std::isdigit(static_cast<unsigned char>(AText[i])))
      value = value * 10 + (AText[i++] - '0');
    if (count == 3 || value > 10000000)
      return false;
    parts[count++] = value;
    if (i == AText.size())
      break;
    if (AText[i] == ':') {
      ++i;
      continue;
    }
    if (AText[i] != '.')
      return false;
    // Milliseconds: up to three digits, "1.5" being 1500.
    ++i;
    int digits = 0;
    while (i < AText.size() && digits < 3 && std::isdigit(static_cast<unsigned char>(AText[i]))) {
      fraction = fraction * 10 + (AText[i++] - '0');
      ++digits;
    }
    if (digits == 0 || i != AText.size())
      return false;
    while (digits++ < 3)
      fraction *= 10;
    break;
  }
  // The parts other than the first are minutes and seconds of a clock.
  for (int k = 1; k < count; ++k)
    if (parts[k] >= 60)
      return false;
  int64_t seconds = 0;
  for (int k = 0; k < count; ++k)
    seconds = seconds * 60 + parts[k];
  AMs = seconds * 1000 + fraction;
  return true;
}

std::string FormatClockTime(int64_t AMs) {
  if (AMs < 0)
    AMs = 0;
  const int64_t s = AMs / 1000;
  std::string text =
      TwoDigits(s / 3600) + ":" + TwoDigits((s % 3600) / 60) + ":" + TwoDigits(s % 60);
  if (AMs % 1000 != 0) {
    char ms[8];
    std::snprintf(ms, sizeof ms, ".%03d", static_cast<int>(AMs % 1000));
    text += ms;
  }
  return text;
}

bool CheckSubtitleFile(const std::string &AFileName, std::string &AError) {
  // Subtitles of a whole film are a few hundred kilobytes; more is not a subtitle file.
  constexpr long MaxBytes = 32L * 1024 * 1024;
  const std::string name = NameOf(AFileName);
  FILE *file = std::fopen(AFileName.c_str(), "rb");
  if (!file) {
    AError = FormatText(_("cannot read the subtitle file %s: %s"), AFileName.c_str(),
                        std::strerror(errno));
    return false;
  }
  std::string text;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0 &&
         text.size() <= static_cast<size_t>(MaxBytes))
    text.append(buffer, got);
  std::fclose(file);
  if (text.size() > static_cast<size_t>(MaxBytes)) {
    AError = name + ": too large for a subtitle file";
    return false;
  }
  if (text.empty()) {
    AError = name + ": an empty subtitle file";
    return false;
  }
  const auto *bytes = reinterpret_cast<const unsigned char *>(text.data());
  const size_t size = text.size();
  if (size >= 2 &&
      ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF)))
    return true; // UTF-16 with its mark: the libraries' text readers convert it
  for (size_t i = 0; i < size;) {
    const unsigned char c = bytes[i];
    size_t more = 0;
    if (c < 0x80) {
      if (c == 0) {
        more = 99;
      }
    } else if (c >= 0xC2 && c <= 0xDF) {
      more = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3;
    } else {
      more = 99;
    }
    bool valid = more != 99 && i + more < size + (more ? 0 : 1);
    for (size_t k = 1; valid && k <= more; ++k)
      valid = i + k < size && (bytes[i + k] & 0xC0) == 0x80;
    if (!valid) {
      AError = name + ": the subtitles are not UTF-8 text (byte " + std::to_string(i + 1) +
               "); save them as UTF-8 and try again";
      return false;
    }
    i += more + 1;
  }
  return true;
}

bool IsStillPicture(TAVProbe &AProbe) {
  const std::string format = AProbe.GetFormatName();
  const bool imageFormat = format == "image2" || (format.size() > 5 && EndsWith(format, "_pipe"));
  return imageFormat && AProbe.VideoStreamCount() == 1 && AProbe.AudioStreamCount() <= 0;
}

namespace {

// The sound stream chosen: the number in ASound of the track taken (-1: the file has none),
// and the stream to map when it is not the engine's own choice.
bool ResolveSound(const std::vector<TTrackEntry> &ASound, const TContentChoice &AChoice,
                  const std::string &AName, TResolvedContent &AResolved, int &ATrack,
                  std::string &AError) {
  ATrack = ASound.empty() ? -1 : 0;
  if (AChoice.AudioTrack.empty())
    return true;
  if (ASound.empty()) {
    AError = FormatText(_("%s has no sound track to choose"), AName.c_str());
    return false;
  }
  if (AllDigits(AChoice.AudioTrack)) {
    const long n = std::strtol(AChoice.AudioTrack.c_str(), nullptr, 10);
    if (n < 1 || n > static_cast<long>(ASound.size())) {
      AError = FormatText(_("no sound track %s in %s (its sound tracks: %s)"),
                          AChoice.AudioTrack.c_str(), AName.c_str(), ListOf(ASound).c_str());
      return false;
    }
    ATrack = static_cast<int>(n - 1);
  } else {
    ATrack = -1;
    for (size_t i = 0; i < ASound.size() && ATrack < 0; ++i)
      if (SameLanguage(ASound[i].Language, AChoice.AudioTrack))
        ATrack = static_cast<int>(i);
    if (ATrack < 0) {
      AError = FormatText(_("no sound track in the language '%s' in %s (its sound tracks: %s)"),
                          AChoice.AudioTrack.c_str(), AName.c_str(), ListOf(ASound).c_str());
      return false;
    }
  }
  // The first one is what the engine takes anyway.
  if (ATrack > 0)
    AResolved.AudioStream = ASound[ATrack].StreamIndex;
  return true;
}

// The part of the input, or the length of a picture.
bool ResolveRange(bool AStill, int64_t ADurationUs, const TContentChoice &AChoice,
                  const std::string &AName, TResolvedContent &AResolved, std::string &AError) {
  AResolved.Still = AStill;
  if (AStill) {
    if (AChoice.StillSeconds < 1 || AChoice.StillSeconds > 3600) {
      AError = _("a picture's length must be from 1 to 3600 seconds");
      return false;
    }
    AResolved.StillSeconds = AChoice.StillSeconds;
    AResolved.LengthMs = int64_t(AChoice.StillSeconds) * 1000;
    return true;
  }
  const int64_t start = AChoice.StartMs > 0 ? AChoice.StartMs : 0;
  int64_t end = AChoice.EndMs;
  const int64_t durationMs = ADurationUs > 0 ? ADurationUs / 1000 : -1;
  if (end >= 0 && end <= start) {
    AError = FormatText(_("the end (%s) is not after the start (%s)"), FormatClockTime(end).c_str(),
                        FormatClockTime(start).c_str());
    return false;
  }
  if (durationMs > 0 && start >= durationMs) {
    AError =
        FormatText(_("the start (%s) is past the end of %s (%s)"), FormatClockTime(start).c_str(),
                   AName.c_str(), FormatClockTime(durationMs).c_str());
    return false;
  }
  if (durationMs > 0 && end > durationMs)
    end = durationMs;
  AResolved.StartMs = start;
  if (end >= 0)
    AResolved.LengthMs = end - start;
  else if (start > 0 && durationMs > 0)
    AResolved.LengthMs = durationMs - start;
  return true;
}

void TakeStream(const TTrackEntry &ATrack, TSubtitleSource &ASubtitle) {
  ASubtitle.Kind = TSubtitleKind::skStream;
  ASubtitle.StreamIndex = ATrack.StreamIndex;
  ASubtitle.Label = ATrack.Label;
}

void TakeFile(const std::string &APath, const std::string &ALabel, TSubtitleSource &ASubtitle) {
  ASubtitle.Kind = TSubtitleKind::skFile;
  ASubtitle.FileName = APath;
  ASubtitle.Label = ALabel;
}

// No choice made: a forced stream carries what the film's own sound leaves untranslated,
// wanted when the sound is in another language than the person's.
void ChooseForcedSubtitles(const std::vector<TTrackEntry> &AStreams,
                           const std::string &ASoundLanguage, const std::string &ALocaleLanguage,
                           TSubtitleSource &ASubtitle) {
  if (ASoundLanguage.empty() || ALocaleLanguage.empty() ||
      SameLanguage(ASoundLanguage, ALocaleLanguage))
    return;
  const TTrackEntry *forced = nullptr;
  for (const TTrackEntry &track : AStreams)
    if (track.Forced && (!forced || (SameLanguage(track.Language, ALocaleLanguage) &&
                                     !SameLanguage(forced->Language, ALocaleLanguage))))
      forced = &track;
  if (forced)
    TakeStream(*forced, ASubtitle);
}

// "N": the file's streams first, then the files beside it, as the panel lists them.
bool ChooseNumberedSubtitles(const std::vector<TTrackEntry> &AStreams, const std::string &AFileName,
                             const std::string &AWanted, TSubtitleSource &ASubtitle,
                             std::string &AError) {
  const std::vector<TTrackEntry> files = SideSubtitleFiles(AFileName);
  const long n = std::strtol(AWanted.c_str(), nullptr, 10);
  const long streamCount = static_cast<long>(AStreams.size());
  if (n < 1 || n > streamCount + static_cast<long>(files.size())) {
    std::vector<TTrackEntry> all = AStreams;
    all.insert(all.end(), files.begin(), files.end());
    AError = all.empty()
                 ? FormatText(_("no subtitles %s for %s (it has none, and no subtitle file "
                                "beside it)"),
                              AWanted.c_str(), NameOf(AFileName).c_str())
                 : FormatText(_("no subtitles %s for %s (its subtitles: %s)"), AWanted.c_str(),
                              NameOf(AFileName).c_str(), ListOf(all).c_str());
    return false;
  }
  if (n <= streamCount)
    TakeStream(AStreams[n - 1], ASubtitle);
  else
    TakeFile(files[n - streamCount - 1].FileName, files[n - streamCount - 1].Label, ASubtitle);
  return true;
}

// A language: a stream in it, else a file beside the input tagged with it.
bool ChooseSubtitlesInLanguage(const std::vector<TTrackEntry> &AStreams,
                               const std::string &AFileName, const std::string &AWanted,
                               TSubtitleSource &ASubtitle, std::string &AError) {
  for (const TTrackEntry &track : AStreams)
    if (SameLanguage(track.Language, AWanted)) {
      TakeStream(track, ASubtitle);
      return true;
    }
  for (const TTrackEntry &file : SideSubtitleFiles(AFileName))
    if (SameLanguage(file.Language, AWanted)) {
      TakeFile(file.FileName, file.Label, ASubtitle);
      return true;
    }
  AError = FormatText(_("no subtitles in the language '%s' for %s"), AWanted.c_str(),
                      NameOf(AFileName).c_str());
  return false;
}

bool ResolveSubtitles(TAVProbe &AProbe, const std::string &AFileName, const std::string &AWanted,
                      const std::string &ASoundLanguage, const std::string &ALocaleLanguage,
                      TSubtitleSource &ASubtitle, std::string &AError) {
  const std::vector<TTrackEntry> streams = SubtitleTracks(AProbe);
  bool ok = true;
  if (AWanted.empty()) {
    ChooseForcedSubtitles(streams, ASoundLanguage, ALocaleLanguage, ASubtitle);
  } else if (Lower(AWanted) == "none") {
    // nothing
  } else if (AllDigits(AWanted)) {
    ok = ChooseNumberedSubtitles(streams, AFileName, AWanted, ASubtitle, AError);
  } else if (LooksLikeLanguage(AWanted) && !IsRegularFile(AWanted)) {
    ok = ChooseSubtitlesInLanguage(streams, AFileName, AWanted, ASubtitle, AError);
  } else if (!IsRegularFile(AWanted)) {
    AError = FormatText(_("subtitle file not found: %s"), AWanted.c_str());
    ok = false;
  } else {
    TakeFile(AWanted, NameOf(AWanted), ASubtitle);
  }
  if (!ok || ASubtitle.Kind != TSubtitleKind::skFile)
    return ok;
  // The engine takes the name on one option line.
  if (ASubtitle.FileName.find_first_of("\r\n") != std::string::npos) {
    AError = _("a subtitle file name with a line break cannot be used: rename the file");
    return false;
  }
  return CheckSubtitleFile(ASubtitle.FileName, AError);
}

} // namespace

bool ResolveContentChoice(TAVProbe &AProbe, const std::string &AFileName, int64_t ADurationUs,
                          const TContentChoice &AChoice, const std::string &ALocaleLanguage,
                          TResolvedContent &AResolved, std::string &AError) {
  TResolvedContent resolved;
  for (int i = 0; i < AProbe.StreamCount(); ++i)
    if (AProbe.StreamType(i) == AVMEDIA_TYPE_VIDEO) {
      resolved.VideoStream = i;
      break;
    }
  const std::string name = NameOf(AFileName);
  const std::vector<TTrackEntry> sound = SoundTracks(AProbe);
  int soundTrack = -1;
  if (!ResolveSound(sound, AChoice, name, resolved, soundTrack, AError) ||
      !ResolveRange(IsStillPicture(AProbe), ADurationUs, AChoice, name, resolved, AError))
    return false;
  const std::string soundLanguage = soundTrack >= 0 ? sound[soundTrack].Language : "";
  if (!ResolveSubtitles(AProbe, AFileName, AChoice.Subtitles, soundLanguage, ALocaleLanguage,
                        resolved.Subtitle, AError))
    return false;
  AResolved = resolved;
  return true;
}
