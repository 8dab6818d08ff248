// Subtitles burned into the picture: the last stage of the picture path, on the encoder's
// picture after scaling and padding. Text subtitles (SubRip, ASS/SSA, mov_text, WebVTT) are
// drawn by libass at the output size; bitmap subtitles (DVD, DVB, PGS) are scaled with the
// picture and blended. The source is a subtitle stream of the input, whose packets the
// transcode loop hands over as it reads them, or a subtitle file read whole at the start.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "medialib/media_functions.h"

typedef struct ass_library ASS_Library;
typedef struct ass_renderer ASS_Renderer;
typedef struct ass_track ASS_Track;

class TSubtitleBurner {
public:
  // Where the picture lies in the encoder's frame: its pads, and the size of the source
  // picture it was scaled from (bitmap subtitles are placed on that).
  struct TGeometry {
    int FrameWidth = 0, FrameHeight = 0;
    int PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
    int SourceWidth = 0, SourceHeight = 0;
  };

  TSubtitleBurner();
  ~TSubtitleBurner();
  TSubtitleBurner(const TSubtitleBurner &) = delete;
  TSubtitleBurner &operator=(const TSubtitleBurner &) = delete;

  // Opens the decoder of AStream (of AInput). Throws FFMpegException with the reason.
  void OpenStream(AVFormatContext *AInput, int AStream, const TGeometry &AGeometry);
  // Reads the whole subtitle file AFileName; AOffsetUs is added to its times (minus the
  // chosen start). Throws FFMpegException naming the file when it cannot be read.
  void OpenFile(const std::string &AFileName, int64_t AOffsetUs, const TGeometry &AGeometry);
  // Fonts carried by the input (Matroska attachments) for the styles that name them.
  void AddFonts(AVFormatContext *AInput);

  // A packet of the stream, before the loop moved its times; AOffsetUs moves them onto the
  // output's time line.
  void TakePacket(const AVPacket *APacket, int64_t AOffsetUs);

  // Draws what shows at ATimeMs (on the output's time line) onto a YUV 4:2:0 picture of the
  // frame size.
  void Draw(uint8_t *const AData[4], const int ALinesize[4], int64_t ATimeMs);

  int StreamIndex() const { return FStream; }
  // How many subtitle events were taken (for tests and the log).
  int EventCount() const { return FEventCount; }

private:
  struct TBitmapEvent;

  void OpenDecoder(const AVCodecParameters *APar, AVRational ATimeBase);
  void SetUpText();
  void Decode(const AVPacket *APacket, int64_t AOffsetUs);
  void TakeSubtitle(const AVSubtitle &ASubtitle, int64_t AStartUs);
  void TakeTextSubtitle(const AVSubtitle &ASubtitle, int64_t AStartMs, int64_t ADurationMs);
  void DrawText(uint8_t *const AData[4], const int ALinesize[4], int64_t ATimeMs);
  bool TextUnchangedAt(int64_t ATimeMs) const;
  void NoteTextRender(int64_t ATimeMs);
  void DrawBitmaps(uint8_t *const AData[4], const int ALinesize[4], int64_t ATimeMs);

  TGeometry FGeometry;
  AVCodecContext *FDecoder = nullptr;
  AVRational FTimeBase{1, 1000};
  int FStream = -1;
  bool FBitmap = false;
  int FEventCount = 0;
  int64_t FReadOrder = 0;

  ASS_Library *FLibrary = nullptr;
  ASS_Renderer *FRenderer = nullptr;
  ASS_Track *FTrack = nullptr;
  // What libass drew last (its own, valid until the next render), and the times around it in
  // which the same still events show unchanged: there it is drawn again without asking libass.
  const struct ass_image *FImages = nullptr;
  int64_t FSameFromMs = 0, FSameUntilMs = -1;

  std::vector<std::unique_ptr<TBitmapEvent>> FBitmaps; // in start order
};
