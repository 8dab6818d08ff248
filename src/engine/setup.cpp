#include "engine/custom_ffmpeg.h"

// Not built yet: every operation here fails loudly until it is.
namespace {
[[noreturn]] void notBuilt(const char *AName) {
  throw FFMpegException(std::string(AName) + " is not built yet");
}
} // namespace

void TCustomFFmpeg::Transcode() { notBuilt("Transcode"); }
void TCustomFFmpeg::WriteFrame(AVFormatContext *, AVPacket *, TOutputStream &) { notBuilt("WriteFrame"); }
int64_t TCustomFFmpeg::EncodeFrame(AVFormatContext *, TOutputStream &, const AVFrame *, const char *) { notBuilt("EncodeFrame"); }
