#include "app/conversion_outcome.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "app/i18n.h"
#include "app/output_verdict.h"
#include "app/profiles.h"
#include "app/thumbnail.h"
#include "app/window_rules.h"
#include "converter/av_converter.h"
#include "medialib/medialib.h"

namespace {

// The largest picture the probe delivers for a thumbnail: ample for 160x120, and a huge
// picture is fitted by the scaler rather than held whole.
constexpr int ThumbnailPictureLimit = 1920;
// Packets read back from a converted file to find where its streams start.
constexpr int StartPackets = 8;
constexpr int MaxPacketsRead = 4000;

std::string Seconds(double ASeconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", ASeconds);
  return text;
}

struct TStreamFacts {
  int Index = -1;
  int64_t Frames = 0; // from the file's index, else the packets seen
  int Packets = 0;
  double Start = std::numeric_limits<double>::infinity();
  double FrameTime = 0; // one frame's length, seconds
};

// The first picture and sound stream of a converted file, from its index and first packets.
bool ReadOutputFacts(const std::string &AFileName, TStreamFacts &AVideo, TStreamFacts &AAudio) {
  if (!LibrariesLoaded())
    return false;
  AVFormatContext *context = nullptr;
  if (avlib.avformat_open_input(&context, LocalFileUrl(AFileName).c_str(), nullptr, nullptr) < 0)
    return false;
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    const AVStream *stream = context->streams[i];
    const AVCodecParameters *par = stream->codecpar;
    TStreamFacts *facts = par->codec_type == AVMEDIA_TYPE_VIDEO   ? &AVideo
                          : par->codec_type == AVMEDIA_TYPE_AUDIO ? &AAudio
                                                                  : nullptr;
    if (!facts || facts->Index >= 0)
      continue;
    facts->Index = static_cast<int>(i);
    facts->Frames = stream->nb_frames;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
      AVRational rate =
          stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
      facts->FrameTime =
          rate.num > 0 && rate.den > 0 ? static_cast<double>(rate.den) / rate.num : 0.1;
    } else {
      const int samples = par->frame_size > 0 ? par->frame_size : 1024;
      facts->FrameTime =
          par->sample_rate > 0 ? static_cast<double>(samples) / par->sample_rate : 0.1;
    }
  }
  AVPacket *packet = avlib.av_packet_alloc();
  for (int n = 0; packet && n < MaxPacketsRead; ++n) {
    if (avlib.av_read_frame(context, packet) < 0)
      break;
    const AVStream *stream = context->streams[packet->stream_index];
    TStreamFacts *facts = packet->stream_index == AVideo.Index   ? &AVideo
                          : packet->stream_index == AAudio.Index ? &AAudio
                                                                 : nullptr;
    // Priming samples the file itself marks for discarding are not where its sound starts.
    if (facts && !(packet->flags & AV_PKT_FLAG_DISCARD)) {
      ++facts->Packets;
      const int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      if (time != AV_NOPTS_VALUE && facts->Packets <= StartPackets)
        facts->Start = std::min(facts->Start, time * av_q2d(stream->time_base));
    }
    avlib.av_packet_unref(packet);
    const bool videoSeen = AVideo.Index < 0 || AVideo.Packets >= StartPackets;
    const bool audioSeen = AAudio.Index < 0 || AAudio.Packets >= StartPackets;
    if (videoSeen && audioSeen)
      break;
  }
  avlib.av_packet_free(&packet);
  avlib.avformat_close_input(&context);
  for (TStreamFacts *facts : {&AVideo, &AAudio})
    if (facts->Frames <= 0)
      facts->Frames = facts->Packets;
  return true;
}

bool Remove(const std::string &AFileName) { return ::unlink(AFileName.c_str()) == 0; }

} // namespace

void TLibraryErrors::Add(const std::string &ALine, bool AOwnThread) {
  std::string text = LibraryErrorText(ALine);
  std::lock_guard<std::mutex> lock(FLock);
  (AOwnThread ? FCount : FOtherCount) += 1;
  (AOwnThread ? FLast : FOtherLast) = std::move(text);
}

void TLibraryErrors::Clear() {
  std::lock_guard<std::mutex> lock(FLock);
  FCount = FOtherCount = 0;
  FLast.clear();
  FOtherLast.clear();
}

int TLibraryErrors::Count() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FCount > 0 ? FCount : FOtherCount;
}

std::string TLibraryErrors::Last() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FCount > 0 ? FLast : FOtherLast;
}

std::string TLibraryErrors::Words() const {
  const int count = Count();
  if (count == 0)
    return {};
  std::string words = " (" + Last();
  if (count > 1)
    words += ", " + std::to_string(count - 1) + " more library error" + (count > 2 ? "s" : "");
  return words + ")";
}

std::string LibraryErrorText(const std::string &ALine) {
  std::string text = ALine;
  while (!text.empty() && (text.back() == ' ' || text.back() == '.' || text.back() == '\n'))
    text.pop_back();
  const size_t at = text.find(" @ ");
  const size_t close = text.find(']');
  if (text.empty() || text[0] != '[' || at == std::string::npos || close == std::string::npos ||
      at > close)
    return text;
  size_t start = close + 1;
  while (start < text.size() && text[start] == ' ')
    ++start;
  return text.substr(1, at - 1) + ": " + text.substr(start);
}

std::string TConversionOutcome::Notes() const {
  std::string notes;
  if (EndedEarly)
    notes = FormatText(_("the input ended at %s of the %s it states: it may be cut short or "
                         "damaged"),
                       FormatDuration(ReachedMs).c_str(), FormatDuration(StatedMs).c_str());
  if (Finished() && !ThumbnailWritten)
    notes += std::string(notes.empty() ? "" : "; ") +
             FormatText(_("thumbnail not written: %s"), ThumbnailError.c_str());
  return notes;
}

std::string ConvertedOutputProblem(const std::string &AFileName, bool ANeedSound) {
  TStreamFacts video, audio;
  if (!ReadOutputFacts(AFileName, video, audio))
    return _("the converted file cannot be read back");
  if (video.Index < 0 || video.Frames < 1)
    return _("no picture could be decoded");
  if (ANeedSound && (audio.Index < 0 || audio.Frames < 1))
    return _("the sound could not be decoded");
  // A damaged time stamp taken at its word would put the picture minutes into the file.
  // A millisecond of rounding is allowed beyond the frame.
  if (std::isfinite(video.Start) && std::fabs(video.Start) > video.FrameTime + 0.001)
    return FormatText(_("the picture would start at %s instead of 0"),
                      Seconds(video.Start).c_str());
  if (audio.Index >= 0 && std::isfinite(audio.Start) &&
      std::fabs(audio.Start) > audio.FrameTime + 0.001)
    return FormatText(_("the sound would start at %s instead of 0"), Seconds(audio.Start).c_str());
  return {};
}

bool OutputHasPicture(const std::string &AFileName) {
  TStreamFacts video, audio;
  return ReadOutputFacts(AFileName, video, audio) && video.Index >= 0 && video.Frames > 0;
}

bool IsFinishedConversion(const std::string &APath) {
  return IsCompleteVerdict(ReadOutputVerdict(APath));
}

TConversionOutcome ConcludeConversion(TCustomAVConverter &AConverter, const std::string &AInput,
                                      TLoadedConversion &ALoaded, const TTaskEnd &AEnd,
                                      int64_t AReachedMs, int64_t AStatedMs,
                                      const TLibraryErrors &AErrors, int64_t APictureTimeUs) {
  TConversionOutcome outcome;
  outcome.ReachedMs = AReachedMs;
  outcome.StatedMs = AStatedMs;
  const std::string &output = ALoaded.OutputFileName;
  if (AEnd.Ended && AEnd.Finished && !AEnd.Exception) {
    // The engine ends as finished whenever its input ends, however little it could decode.
    const std::string problem =
        ALoaded.OutputCreated ? ConvertedOutputProblem(output, ALoaded.HasSound) : std::string();
    if (problem.empty()) {
      outcome.Kind = TOutcomeKind::okFinished;
    } else {
      outcome.Kind = TOutcomeKind::okFailed;
      outcome.Reason = AInput + ": " + problem + AErrors.Words();
    }
  } else if (AEnd.Ended && !AEnd.Exception) {
    outcome.Kind = TOutcomeKind::okStopped;
  } else {
    outcome.Kind = TOutcomeKind::okFailed;
    outcome.Reason = AEnd.Message.empty() ? _("conversion failed") : AEnd.Message;
    const std::string last = AErrors.Last();
    if (!last.empty() && outcome.Reason.find(last) == std::string::npos)
      outcome.Reason += " (" + last + ")";
  }

  switch (outcome.Kind) {
  case TOutcomeKind::okFailed:
    // The name was free before this conversion took it: nothing broken is left to be listed
    // and copied as a converted file.
    if (ALoaded.OutputCreated && Remove(output)) {
      ALoaded.OutputCreated = false;
      outcome.OutputRemoved = true;
    }
    break;
  case TOutcomeKind::okStopped:
    if (ALoaded.OutputCreated && !OutputHasPicture(output) && Remove(output)) {
      ALoaded.OutputCreated = false;
      outcome.OutputRemoved = true;
      outcome.Reason = _("stopped before any picture was written: nothing kept");
    } else {
      outcome.Reason = FormatText(_("partial output kept: %s"), output.c_str());
    }
    break;
  case TOutcomeKind::okFinished: {
    // The engine takes a read error for the end of the file: a cut or damaged input "finishes"
    // short of the length it states, which the person must hear of. A length only guessed
    // from the bit rate states nothing.
    outcome.EndedEarly = !ALoaded.DurationGuessed && EndedShort(AReachedMs, AStatedMs);
    // The picture the probe holds (the input's first frame unless the preview moved it). The
    // video is complete without its thumbnail: finished, with a warning.
    TAVProbe &probe = AConverter.AVProbe();
    const bool wasOpen = probe.FileLoaded();
    // A conversion of part of the input shows where that part begins.
    const int64_t rangeStartUs = ALoaded.Content.StartMs * 1000;
    try {
      if (!wasOpen) {
        const std::string &input = ALoaded.InputFileName.empty() ? AInput : ALoaded.InputFileName;
        if (!probe.LoadFile(input, ALoaded.InputFormat))
          throw std::runtime_error(probe.LastErrorMessage());
        probe.Seek(-1, std::max(APictureTimeUs, rangeStartUs));
      } else if (rangeStartUs > 0) {
        probe.Seek(-1, rangeStartUs);
      }
      probe.SetPictureLimit(ThumbnailPictureLimit, ThumbnailPictureLimit);
      TBGRImage *picture = probe.GetFrameBitmap(-1);
      outcome.ThumbnailWritten =
          MakeThumbnail(*picture, output, outcome.ThumbnailError, ALoaded.DisplayAspect);
    } catch (const std::exception &e) {
      outcome.ThumbnailError = e.what();
    }
    // A probe opened only for the thumbnail lets the file go again.
    if (!wasOpen)
      probe.CloseFile();
    break;
  }
  }
  if (ALoaded.OutputCreated)
    RecordOutputVerdict(output, VerdictOf(outcome));
  return outcome;
}
