#include "engine/custom_ffmpeg.h"

// Not built yet: every operation here fails loudly until it is.
namespace {
[[noreturn]] void notBuilt(const char *AName) {
  throw FFMpegException(std::string(AName) + " is not built yet");
}
} // namespace

void TCustomFFmpeg::PreProcessVideoFrame(TInputStream &, AVFrame *) { notBuilt("PreProcessVideoFrame"); }
void TCustomFFmpeg::DoVideoOut(AVFormatContext *, TOutputStream &, TInputStream &, AVFrame *, int &) {
  notBuilt("DoVideoOut");
}
void TCustomFFmpeg::DoVideoStats(AVFormatContext *, TOutputStream &, int) { notBuilt("DoVideoStats"); }
