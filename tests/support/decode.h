// Decoding a generated or converted file back in tests: the frames as the libraries give them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "medialib/media_functions.h"

namespace testing_support {

struct FrameFree {
  void operator()(AVFrame *AFrame) const;
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

// Decodes stream AStream of an opened input from where it stands, up to AWanted frames (fewer
// when the stream ends first; a packet's frames are taken whole).
std::vector<FramePtr> DecodeStream(AVFormatContext *AInput, int AStream, size_t AWanted);

// Every frame of the first stream of AType in a file; none when it does not open.
std::vector<FramePtr> DecodeFile(const std::string &AFile, AVMediaType AType);

} // namespace testing_support
