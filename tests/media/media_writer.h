// The test-media writer: encodes a moving test pattern and sine tones into one container file,
// as described by one table entry.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
#include <libavutil/pixfmt.h>
#include <libavutil/samplefmt.h>
}

namespace testmedia {

using TCodecOptions = std::vector<std::pair<std::string, std::string>>;

struct TTestMediaSpec {
  std::string name;  // output file name; its extension picks the muxer unless muxer is set
  std::string muxer; // forced muxer name where the extension is ambiguous

  // Video; no video stream when videoCodec is empty. Codec names may list alternatives
  // separated by commas, the first one present is taken.
  std::string videoCodec;
  int width = 320;
  int height = 240;
  AVRational frameRate{25, 1};
  AVPixelFormat pixFmt = AV_PIX_FMT_NONE; // NONE: the encoder's first format
  AVRational sampleAspect{0, 1};          // 0/1: not set
  bool interlaced = false;                // encoded as interlaced, top field first
  int maxBFrames = -1;                    // -1: the encoder's default
  long videoBitRate = 300000;             // 0: the encoder's default
  bool stillPicture = false;              // one frame only (image files)
  TCodecOptions videoOptions;             // private options on top of the encoder's defaults
  // Clockwise turn (0, 90, 180, 270) a viewer gives the stored picture, written as the
  // stream's display matrix; a red square marks the corner the viewer sees top left.
  int rotation = 0;
  bool levels = false; // flat black left half and white right half instead of the bars
  double gapStart = 0; // seconds; no pictures from here for gapLength seconds
  double gapLength = 0;
  bool optional = false; // skipped where the libraries lack its encoders

  // Audio; no audio stream when audioCodec is empty.
  std::string audioCodec;
  int sampleRate = 44100;
  int channels = 2;                              // the encoder's layout with this channel count
  AVSampleFormat sampleFmt = AV_SAMPLE_FMT_NONE; // NONE: the encoder's first format
  int audioStreams = 1;
  std::vector<std::string> audioLanguages; // the streams' language tags, in order
  std::vector<int> audioChannelsPerStream; // the streams' channel counts where not channels
  long audioBitRate = 0;                   // 0: the encoder's default
  // A WAV header that lies: the rate its "fmt " chunk states instead of the real one (0: the
  // real one), patched in after writing.
  int headerSampleRate = 0;

  // Subtitle stream with a few events; none when empty. Text, or for "dvdsub" a white box in
  // the lower part of the picture.
  std::string subtitleCodec;
  std::vector<std::string> subtitleTexts; // the events' texts, in place of the English ones
  std::string subtitleLanguage;
  bool subtitleForced = false; // the stream's "forced" disposition

  double startOffset = 0; // seconds added to every timestamp
  double duration = 2.5;  // seconds

  // Film-like timing: a key picture every keyframeSeconds (0: the encoder's choice), and at
  // flashAt seconds (source time; negative: none) one white picture and a 0.2 s beep on
  // otherwise silent sound, so that a test can find a moment in both streams.
  double keyframeSeconds = 0;
  double flashAt = -1;
  // Seconds the sound starts after the picture (negative: the picture starts after the sound);
  // the later stream is as much shorter, so both end together.
  double soundDelay = 0;
};

// Failure of a media call: what was being done and the library's error text.
class TTestMediaError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Writes the file described by ASpec to APath (which need not carry the name's extension: the
// muxer is chosen from ASpec.name or ASpec.muxer). Throws TTestMediaError on failure and
// leaves a partial file behind for the caller to remove.
void WriteTestMedia(const TTestMediaSpec &ASpec, const std::string &APath);

// Whether the libraries have an encoder among ANames (comma-separated alternatives).
bool HasEncoder(const std::string &ANames);

// The files every test run needs, by name.
const std::vector<TTestMediaSpec> &TestMediaList();

// The most recent error line the libraries logged, cleared by every read; installed by
// InstallLogCapture, which also forwards everything to the console when AVerbose is set.
void InstallLogCapture(bool AVerbose);
std::string TakeLibraryErrorLine();

} // namespace testmedia
