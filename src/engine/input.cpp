#include "engine/custom_ffmpeg.h"

// Not built yet: every operation here fails loudly until it is.
namespace {
[[noreturn]] void notBuilt(const char *AName) {
  throw FFMpegException(std::string(AName) + " is not built yet");
}
} // namespace

bool TCustomFFmpeg::OpenInputFile(const std::string &) { notBuilt("OpenInputFile"); }
bool TCustomFFmpeg::LookupCodec(const char *, int, bool, AVCodecID &) { notBuilt("LookupCodec"); }
void TCustomFFmpeg::SetInputFormat(const std::string &) { notBuilt("SetInputFormat"); }
void TCustomFFmpeg::SetStartTime(int64_t) { notBuilt("SetStartTime"); }
void TCustomFFmpeg::SetProgramId(int) { notBuilt("SetProgramId"); }
std::string TCustomFFmpeg::ErrorText(const std::string &, int) { notBuilt("ErrorText"); }
