#include "engine/custom_ffmpeg.h"

#include <cstdarg>
#include <cstdio>

// Not built yet: every operation here fails loudly until it is.
namespace {
[[noreturn]] void notBuilt(const char *AName) {
  throw FFMpegException(std::string(AName) + " is not built yet");
}
} // namespace

TCustomFFmpeg::TCustomFFmpeg() { Create(); }

TCustomFFmpeg::~TCustomFFmpeg() {}

void TCustomFFmpeg::LogF(int ALevel, const char *AFormat, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, AFormat);
  std::vsnprintf(buffer, sizeof buffer, AFormat, args);
  va_end(args);
  Log(ALevel, buffer);
}

void TCustomFFmpeg::Create() {
  ProgressInterval = 500000;
  OutputDurationMs = -1;
}
void TCustomFFmpeg::Prepare() { notBuilt("Prepare"); }
void TCustomFFmpeg::ResetOptions() {}
void TCustomFFmpeg::FreeFiles() {}
void TCustomFFmpeg::SetOption(const std::string &, const std::string &) { notBuilt("SetOption"); }
void TCustomFFmpeg::SetOptionText(const std::string &) { notBuilt("SetOptionText"); }
bool TCustomFFmpeg::SetGenericOption(const std::string &, const std::string &) { notBuilt("SetGenericOption"); }
void TCustomFFmpeg::ApplyContextOptions(void *, void *, int) { notBuilt("ApplyContextOptions"); }
AVDictionary *TCustomFFmpeg::CopyPrivateOptions(int) const { notBuilt("CopyPrivateOptions"); }
void TCustomFFmpeg::SetVerbose(int) { notBuilt("SetVerbose"); }
void TCustomFFmpeg::SetGenericOptionInt(const std::string &, int) { notBuilt("SetGenericOptionInt"); }
void TCustomFFmpeg::SetAudioSampleRate(int) { notBuilt("SetAudioSampleRate"); }
void TCustomFFmpeg::SetAudioChannels(int) { notBuilt("SetAudioChannels"); }
void TCustomFFmpeg::SetAudioVolume(int) { notBuilt("SetAudioVolume"); }
void TCustomFFmpeg::SetAudioSyncMethod(int) { notBuilt("SetAudioSyncMethod"); }
void TCustomFFmpeg::SetVideoSyncMethod(int) { notBuilt("SetVideoSyncMethod"); }
void TCustomFFmpeg::SetMuxMaxDelay(float) { notBuilt("SetMuxMaxDelay"); }
void TCustomFFmpeg::SetMuxPreload(float) { notBuilt("SetMuxPreload"); }
void TCustomFFmpeg::SetTitle(const std::string &) { notBuilt("SetTitle"); }
void TCustomFFmpeg::SetAuthor(const std::string &) { notBuilt("SetAuthor"); }
void TCustomFFmpeg::SetCopyright(const std::string &) { notBuilt("SetCopyright"); }
void TCustomFFmpeg::SetComment(const std::string &) { notBuilt("SetComment"); }
void TCustomFFmpeg::SetAlbum(const std::string &) { notBuilt("SetAlbum"); }
void TCustomFFmpeg::SetGenre(const std::string &) { notBuilt("SetGenre"); }
void TCustomFFmpeg::SetYear(int) { notBuilt("SetYear"); }
void TCustomFFmpeg::SetTrack(int) { notBuilt("SetTrack"); }
void TCustomFFmpeg::SetTimeRanges(const std::vector<TTimeRange> &) { notBuilt("SetTimeRanges"); }
void TCustomFFmpeg::Log(int ALevel, const std::string &AMessage) {
  if (OnLog)
    OnLog(this, ALevel, AMessage);
}
void TCustomFFmpeg::ClearRunFlags() {}
