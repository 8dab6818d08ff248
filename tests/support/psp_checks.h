// What the PSP needs of a converted file, read back with the media library: shared by every
// test that converts with a panel's options.
#pragma once

#include <string>

#include "medialib/media_functions.h"

namespace testing_support {

struct StreamFacts {
  bool present = false;
  AVCodecID codec = AV_CODEC_ID_NONE;
  int format = -1; // pixel or sample format
  AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
  int packets = 0;
  int profile = -1, level = -1, width = 0, height = 0, sampleRate = 0, channels = 0;
  AVRational rate{0, 1};
  double start = 0, duration = 0; // seconds
};

struct FileFacts {
  bool opened = false;
  double duration = 0;
  std::string title;
  StreamFacts video, audio;
  int streams = 0;
};

// The first video and audio stream of AFile; opened is false when the file does not open.
FileFacts Inspect(const std::string &AFile);

// Checks AFile as the PSP plays it for profile AProfileIndex: one video and one audio stream,
// the profile's codec, codec profile, level and size, 8-bit 4:2:0 pictures not flagged full
// range, a constant 30000/1001 frames per second (not for a still picture), stereo AAC at the
// profile's rate, both starting together at 0. Returns the facts for further checks.
FileFacts ExpectPlaysOnPSP(const std::string &AFile, int AProfileIndex, bool AStillPicture = false);

} // namespace testing_support
