// What goes into the PSP file besides the profile: which sound track, which subtitles burned
// into the picture, which part of the input, and how long a picture shows. The panel and the
// command line both describe it with TContentChoice; ResolveContentChoice checks it against the
// probed input and turns it into stream numbers and times.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TAVProbe;
struct TAVStreamInfo;

struct TContentChoice {
  // Empty: the stream the engine takes by itself (the first sound stream). "N": the Nth sound
  // stream of the file, counted from 1. Anything else: a language code ("eng", "de", "fre").
  std::string AudioTrack;
  // Empty: automatic (none, or a forced stream when the sound's language is not the person's).
  // "none", "N" (the Nth from 1 of the subtitle streams, then of the subtitle files beside the
  // input), a language code (a stream, else a subtitle
  // file beside the input tagged with it), or the name of a subtitle file.
  std::string Subtitles;
  int64_t StartMs = -1; // -1: from the beginning
  int64_t EndMs = -1;   // -1: to the end
  int StillSeconds = 5; // how long a picture input lasts
  int VideoBitrate = 0; // bit/s of the picture; 0: the profiles' usual rate
};

enum class TSubtitleKind { skNone, skStream, skFile };

struct TSubtitleSource {
  TSubtitleKind Kind = TSubtitleKind::skNone;
  int StreamIndex = -1; // skStream: the input's stream number
  std::string FileName; // skFile
  std::string Label;    // how the panel and the log name it
};

// What a choice means for one probed input.
struct TResolvedContent {
  int AudioStream = -1; // the input stream to take the sound from; -1: the engine's own choice
  int VideoStream = -1; // the first video stream (the engine's choice), -1 without one
  bool Still = false;   // a single picture, converted into StillSeconds of video
  int StillSeconds = 0;
  int64_t StartMs = 0;   // where the conversion begins in the input
  int64_t LengthMs = -1; // how much is converted; -1: the rest of the input, of unknown length
  TSubtitleSource Subtitle;
};

// A sound or subtitle stream as the panel lists it.
struct TTrackEntry {
  int StreamIndex = -1;
  std::string Label; // "eng · AC-3 5.1", "fre · SubRip", or a side file's name
  bool Forced = false;
  std::string Language;
  std::string FileName; // a subtitle file beside the input: its path
};

// "eng · AC-3 5.1": language (when tagged), codec, and for sound the channels.
std::string TrackLabel(const TAVStreamInfo &AInfo);

// The sound streams and subtitle streams of the probed input, in file order.
std::vector<TTrackEntry> SoundTracks(TAVProbe &AProbe);
std::vector<TTrackEntry> SubtitleTracks(TAVProbe &AProbe);

// Subtitle files beside AVideoFile with its base name: name.srt, name.ass, name.ssa and
// name.LANG.srt (and .ass, .ssa), sorted by name. Language from the name's middle part.
std::vector<TTrackEntry> SideSubtitleFiles(const std::string &AVideoFile);

// The person's language from the locale (LC_ALL, LC_MESSAGES, LANG): "de" for "de_DE.UTF-8";
// empty for "C" and "POSIX".
std::string LocaleLanguage();

// Whether two language codes name the same language: ISO 639-1 and both 639-2 forms of the
// common ones ("de", "deu", "ger"), case ignored.
bool SameLanguage(const std::string &A, const std::string &B);

// "HH:MM:SS", "HH:MM:SS.mmm", "MM:SS" or seconds ("90", "90.5") into milliseconds; false for
// anything else.
bool ParseClockTime(const std::string &AText, int64_t &AMs);
// "00:01:30", with ".250" when there are milliseconds.
std::string FormatClockTime(int64_t AMs);

// Whether a subtitle file can be read as text: not empty, not huge, and UTF-8 (or UTF-16 with
// its byte-order mark). False with the reason, naming the file, in AError.
bool CheckSubtitleFile(const std::string &AFileName, std::string &AError);

// Whether the probed input is a single picture (JPEG, PNG, BMP...).
bool IsStillPicture(TAVProbe &AProbe);

// Checks AChoice against the probed input AFileName (its duration ADurationUs, -1 unknown) and
// fills AResolved. False with a message a person understands: a track that does not exist, an
// end before the start, a start past the end, a subtitle file that is missing.
bool ResolveContentChoice(TAVProbe &AProbe, const std::string &AFileName, int64_t ADurationUs,
                          const TContentChoice &AChoice, const std::string &ALocaleLanguage,
                          TResolvedContent &AResolved, std::string &AError);
