#include "engine/custom_ffmpeg.h"

// Not built yet: every operation here fails loudly until it is.
namespace {
[[noreturn]] void notBuilt(const char *AName) {
  throw FFMpegException(std::string(AName) + " is not built yet");
}
} // namespace

TFFmpegThread *TCustomFFmpeg::Run(bool) { notBuilt("Run"); }
void TCustomFFmpeg::RunTranscode() { notBuilt("RunTranscode"); }
void TCustomFFmpeg::FinishRun() { notBuilt("FinishRun"); }
void TCustomFFmpeg::Stop() { notBuilt("Stop"); }
void TCustomFFmpeg::Pause() { notBuilt("Pause"); }
void TCustomFFmpeg::Resume() { notBuilt("Resume"); }
void TCustomFFmpeg::CheckPause() { notBuilt("CheckPause"); }
