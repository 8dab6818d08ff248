// Seeking to the key picture before a time, shared by the engine (a chosen part) and the probe
// (the preview): decoding from where the demuxer then stands reaches the picture at that time.
#pragma once

#include <cstdint>

#include "medialib/media_functions.h"

// AStream: the stream whose time base ATime is in, or -1 for microseconds. The video stream
// AVideo (-1: none) is the one whose key picture must come first. False when the demuxer could
// not seek at all (it then stands where it stood).
bool SeekToKeyBefore(AVFormatContext *AContext, int AStream, int64_t ATime, int AVideo);
