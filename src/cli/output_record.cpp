#include "cli/output_record.h"

#include <algorithm>
#include <cstring>

void FillOutputOptions(const TPSPOutputSettings &ASettings, TOutputOptions &AOptions) {
  AOptions.FileName = ASettings.FileName;
  AOptions.FileExt = ASettings.FileExt;
  AOptions.FileFormat = ASettings.FileFormat;
  AOptions.AudioCodec = ASettings.AudioCodec;
  AOptions.AudioChannels = ASettings.AudioChannels;
  AOptions.AudioSampleRate = ASettings.AudioSampleRate;
  AOptions.AudioBitrate = ASettings.AudioBitrate;
  AOptions.VideoCodec = ASettings.VideoCodec;
  AOptions.FrameRate = ASettings.FrameRate;
  AOptions.FrameSize = ASettings.FrameSize;
  AOptions.AspectRatio = ASettings.AspectRatio;
  AOptions.PadTop = ASettings.PadTop;
  AOptions.PadBottom = ASettings.PadBottom;
  AOptions.PadLeft = ASettings.PadLeft;
  AOptions.PadRight = ASettings.PadRight;
  AOptions.VideoBitrate = ASettings.VideoBitrate;
  // The settings keep the title within the field, never cutting a character; the field keeps
  // its terminating zero whatever it is given.
  const size_t length = std::min(ASettings.Title.size(), sizeof(AOptions.Title) - 1);
  std::memset(AOptions.Title, 0, sizeof(AOptions.Title));
  std::memcpy(AOptions.Title, ASettings.Title.data(), length);
  AOptions.ExtOptions = ASettings.ExtOptionsText();
}
