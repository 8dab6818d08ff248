#include "engine/custom_ffmpeg.h"

// Not built yet: every operation here fails loudly until it is.
namespace {
[[noreturn]] void notBuilt(const char *AName) {
  throw FFMpegException(std::string(AName) + " is not built yet");
}
} // namespace

bool TCustomFFmpeg::OpenOutputFile(const std::string &) { notBuilt("OpenOutputFile"); }
void TCustomFFmpeg::SetOutputFormat(const std::string &) { notBuilt("SetOutputFormat"); }
void TCustomFFmpeg::NewVideoStream(AVFormatContext *) { notBuilt("NewVideoStream"); }
void TCustomFFmpeg::NewAudioStream(AVFormatContext *) { notBuilt("NewAudioStream"); }
void TCustomFFmpeg::NewSubtitleStream(AVFormatContext *) { notBuilt("NewSubtitleStream"); }
void TCustomFFmpeg::CheckInputStreamKinds(bool &, bool &, bool &) { notBuilt("CheckInputStreamKinds"); }
