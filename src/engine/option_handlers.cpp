#include "engine/custom_ffmpeg.h"

// Not built yet: every operation here fails loudly until it is.
namespace {
[[noreturn]] void notBuilt(const char *AName) {
  throw FFMpegException(std::string(AName) + " is not built yet");
}
} // namespace

void TCustomFFmpeg::SetFormat(const std::string &) { notBuilt("SetFormat"); }
void TCustomFFmpeg::SetFrameRate(const std::string &) { notBuilt("SetFrameRate"); }
void TCustomFFmpeg::SetFrameSize(const std::string &) { notBuilt("SetFrameSize"); }
void TCustomFFmpeg::SetAspectRatio(const std::string &) { notBuilt("SetAspectRatio"); }
void TCustomFFmpeg::SetPixelFormat(const std::string &) { notBuilt("SetPixelFormat"); }
void TCustomFFmpeg::SetCropTop(int) { notBuilt("SetCropTop"); }
void TCustomFFmpeg::SetCropBottom(int) { notBuilt("SetCropBottom"); }
void TCustomFFmpeg::SetCropLeft(int) { notBuilt("SetCropLeft"); }
void TCustomFFmpeg::SetCropRight(int) { notBuilt("SetCropRight"); }
void TCustomFFmpeg::SetPadTop(int) { notBuilt("SetPadTop"); }
void TCustomFFmpeg::SetPadBottom(int) { notBuilt("SetPadBottom"); }
void TCustomFFmpeg::SetPadLeft(int) { notBuilt("SetPadLeft"); }
void TCustomFFmpeg::SetPadRight(int) { notBuilt("SetPadRight"); }
void TCustomFFmpeg::SetPadColor(int) { notBuilt("SetPadColor"); }
void TCustomFFmpeg::SetQScale(double) { notBuilt("SetQScale"); }
void TCustomFFmpeg::SetBitRate(const std::string &, const std::string &) { notBuilt("SetBitRate"); }
void TCustomFFmpeg::SetVideoCodec(const std::string &) { notBuilt("SetVideoCodec"); }
void TCustomFFmpeg::SetAudioCodec(const std::string &) { notBuilt("SetAudioCodec"); }
void TCustomFFmpeg::SetSubtitleCodec(const std::string &) { notBuilt("SetSubtitleCodec"); }
void TCustomFFmpeg::SetVideoTag(const std::string &) { notBuilt("SetVideoTag"); }
void TCustomFFmpeg::SetAudioTag(const std::string &) { notBuilt("SetAudioTag"); }
void TCustomFFmpeg::SetIntraMatrix(const std::string &) { notBuilt("SetIntraMatrix"); }
void TCustomFFmpeg::SetInterMatrix(const std::string &) { notBuilt("SetInterMatrix"); }
void TCustomFFmpeg::SetPass(int) { notBuilt("SetPass"); }
void TCustomFFmpeg::SetVStats() { notBuilt("SetVStats"); }
void TCustomFFmpeg::SetVStatsFile(const std::string &) { notBuilt("SetVStatsFile"); }
void TCustomFFmpeg::AddStreamMap(const std::string &) { notBuilt("AddStreamMap"); }
void TCustomFFmpeg::AddMetaDataMap(const std::string &) { notBuilt("AddMetaDataMap"); }
void TCustomFFmpeg::SetInputTsScale(const std::string &) { notBuilt("SetInputTsScale"); }
void TCustomFFmpeg::SetRecordingTime(const std::string &) { notBuilt("SetRecordingTime"); }
void TCustomFFmpeg::SetRecordingTimeMs(int) { notBuilt("SetRecordingTimeMs"); }
void TCustomFFmpeg::SetStartTimeText(const std::string &) { notBuilt("SetStartTimeText"); }
void TCustomFFmpeg::SetInputTsOffset(const std::string &) { notBuilt("SetInputTsOffset"); }
void TCustomFFmpeg::SetRecTimestamp(const std::string &) { notBuilt("SetRecTimestamp"); }
void TCustomFFmpeg::AddFrameHook(const std::string &) { notBuilt("AddFrameHook"); }
void TCustomFFmpeg::SetTargetOption(const std::string &) { notBuilt("SetTargetOption"); }
void TCustomFFmpeg::SetTarget(const std::string &, const std::string &, const std::string &) { notBuilt("SetTarget"); }
