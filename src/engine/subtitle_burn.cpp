#include "engine/subtitle_burn.h"

#include <ass/ass.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

#include "engine/custom_ffmpeg.h"
#include "engine/transcode_types.h"
#include "medialib/medialib.h"
#include "medialib/words.h"

namespace {

// A subtitle without an end of its own shows until the next one, at most this long.
constexpr int64_t UnendedMs = 5000;

struct TYuva {
  uint8_t Y, U, V, A;
};

// Studio-range BT.601, as the PSP's pictures are.
TYuva ToYuva(int AR, int AG, int AB, int AA) {
  TYuva c;
  c.Y = static_cast<uint8_t>(((66 * AR + 129 * AG + 25 * AB + 128) >> 8) + 16);
  c.U = static_cast<uint8_t>(((-38 * AR - 74 * AG + 112 * AB + 128) >> 8) + 128);
  c.V = static_cast<uint8_t>(((112 * AR - 94 * AG - 18 * AB + 128) >> 8) + 128);
  c.A = static_cast<uint8_t>(AA);
  return c;
}

inline uint8_t Mix(uint8_t ADst, uint8_t ASrc, int AWeight /* 0..65025 */) {
  return static_cast<uint8_t>(ADst + ((ASrc - ADst) * AWeight + 32512) / 65025);
}

void QuietLibass(int ALevel, const char *, va_list, void *) { (void)ALevel; }

} // namespace

// One bitmap subtitle, already scaled to the output: Y, U, V and opacity per pixel.
struct TSubtitleBurner::TBitmapEvent {
  int64_t StartMs = 0, EndMs = INT64_MAX;
  bool Ended = false; // EndMs is the subtitle's own, not a guess
  struct TPiece {
    int X = 0, Y = 0, W = 0, H = 0;
    std::vector<TYuva> Pixels;
  };
  std::vector<TPiece> Pieces;
};

TSubtitleBurner::TSubtitleBurner() = default;

TSubtitleBurner::~TSubtitleBurner() {
  if (FTrack)
    ass_free_track(FTrack);
  if (FRenderer)
    ass_renderer_done(FRenderer);
  if (FLibrary)
    ass_library_done(FLibrary);
  if (FDecoder) {
    std::lock_guard<std::recursive_mutex> lock(CodecLock);
    avlib.avcodec_free_context(&FDecoder);
  }
}

void TSubtitleBurner::OpenDecoder(const AVCodecParameters *APar, AVRational ATimeBase) {
  const AVCodec *codec = avlib.avcodec_find_decoder(APar->codec_id);
  if (!codec)
    throw FFMpegException(
        FillName(M_("No decoder for the subtitles (%s)"), avlib.avcodec_get_name(APar->codec_id)));
  FDecoder = avlib.avcodec_alloc_context3(codec);
  if (!FDecoder || avlib.avcodec_parameters_to_context(FDecoder, APar) < 0)
    throw FFMpegException(M_("Not enough memory"));
  FDecoder->pkt_timebase = ATimeBase;
  FTimeBase = ATimeBase;
  int opened;
  {
    std::lock_guard<std::recursive_mutex> lock(CodecLock);
    opened = avlib.avcodec_open2(FDecoder, codec, nullptr);
  }
  if (opened < 0)
    throw FFMpegException(FillName(M_("Cannot open the subtitle decoder %s"), codec->name));
  const AVCodecDescriptor *desc = avlib.avcodec_descriptor_get(APar->codec_id);
  FBitmap = desc && (desc->props & AV_CODEC_PROP_BITMAP_SUB);
  if (!FBitmap)
    SetUpText();
}

void TSubtitleBurner::SetUpText() {
  FLibrary = ass_library_init();
  if (!FLibrary)
    throw FFMpegException(M_("Cannot start the subtitle renderer (libass)"));
  ass_set_message_cb(FLibrary, QuietLibass, nullptr);
  FRenderer = ass_renderer_init(FLibrary);
  if (!FRenderer)
    throw FFMpegException(M_("Cannot start the subtitle renderer (libass)"));
  // Drawn at the output size, into the picture's part of the frame.
  const TGeometry &g = FGeometry;
  ass_set_frame_size(FRenderer, g.FrameWidth, g.FrameHeight);
  if (g.SourceWidth > 0 && g.SourceHeight > 0)
    ass_set_storage_size(FRenderer, g.SourceWidth, g.SourceHeight);
  ass_set_margins(FRenderer, g.PadTop, g.PadBottom, g.PadLeft, g.PadRight);
  ass_set_use_margins(FRenderer, 0);
  ass_set_fonts(FRenderer, nullptr, "sans-serif", ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
  FTrack = ass_new_track(FLibrary);
  if (!FTrack)
    throw FFMpegException(M_("Cannot start the subtitle renderer (libass)"));
  if (FDecoder->subtitle_header && FDecoder->subtitle_header_size > 0)
    ass_process_codec_private(FTrack, reinterpret_cast<char *>(FDecoder->subtitle_header),
                              FDecoder->subtitle_header_size);
}

void TSubtitleBurner::AddFonts(AVFormatContext *AInput) {
  if (!FLibrary || !AInput)
    return;
  for (unsigned i = 0; i < AInput->nb_streams; ++i) {
    const AVStream *stream = AInput->streams[i];
    if (stream->codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT ||
        stream->codecpar->extradata_size <= 0)
      continue;
    const AVDictionaryEntry *name = avlib.av_dict_get(stream->metadata, "filename", nullptr, 0);
    ass_add_font(FLibrary, name ? name->value : "attachment",
                 reinterpret_cast<const char *>(stream->codecpar->extradata),
                 stream->codecpar->extradata_size);
  }
  // Fonts added after the renderer's font set only count once it is made again.
  ass_set_fonts(FRenderer, nullptr, "sans-serif", ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
}

void TSubtitleBurner::OpenStream(AVFormatContext *AInput, int AStream, const TGeometry &AGeometry) {
  if (!AInput || AStream < 0 || AStream >= static_cast<int>(AInput->nb_streams) ||
      AInput->streams[AStream]->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE)
    throw FFMpegException(FormatText(M_("Input stream #0.%d is no subtitle stream"), AStream));
  FGeometry = AGeometry;
  FStream = AStream;
  OpenDecoder(AInput->streams[AStream]->codecpar, AInput->streams[AStream]->time_base);
  AddFonts(AInput);
}

void TSubtitleBurner::OpenFile(const std::string &AFileName, int64_t AOffsetUs,
                               const TGeometry &AGeometry) {
  FGeometry = AGeometry;
  AVFormatContext *input = nullptr;
  if (avlib.avformat_open_input(&input, AFileName.c_str(), nullptr, nullptr) < 0)
    throw FFMpegException(FillName(M_("%s: not a subtitle file that can be read"), AFileName));
  struct TClose {
    AVFormatContext *&Input;
    ~TClose() { avlib.avformat_close_input(&Input); }
  } close{input};
  {
    std::lock_guard<std::recursive_mutex> lock(CodecLock);
    avlib.avformat_find_stream_info(input, nullptr);
  }
  int stream = -1;
  for (unsigned i = 0; i < input->nb_streams && stream < 0; ++i)
    if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE)
      stream = static_cast<int>(i);
  if (stream < 0)
    throw FFMpegException(FillName(M_("%s: no subtitles in this file"), AFileName));
  OpenDecoder(input->streams[stream]->codecpar, input->streams[stream]->time_base);
  AVPacket *packet = avlib.av_packet_alloc();
  if (!packet)
    throw FFMpegException(M_("Not enough memory"));
  while (avlib.av_read_frame(input, packet) >= 0) {
    if (packet->stream_index == stream)
      Decode(packet, AOffsetUs);
    avlib.av_packet_unref(packet);
  }
  avlib.av_packet_free(&packet);
  if (FEventCount == 0)
    throw FFMpegException(FillName(M_("%s: no subtitles could be read from this file"), AFileName));
}

void TSubtitleBurner::TakePacket(const AVPacket *APacket, int64_t AOffsetUs) {
  if (FDecoder && APacket->stream_index == FStream)
    Decode(APacket, AOffsetUs);
}

void TSubtitleBurner::Decode(const AVPacket *APacket, int64_t AOffsetUs) {
  AVSubtitle subtitle{};
  int got = 0;
  // The decoder does not change the packet; the old interface is not const.
  if (avlib.avcodec_decode_subtitle2(FDecoder, &subtitle, &got, const_cast<AVPacket *>(APacket)) <
          0 ||
      !got)
    return;
  int64_t start = subtitle.pts;
  if (start == AV_NOPTS_VALUE && APacket->pts != AV_NOPTS_VALUE)
    start = avlib.av_rescale_q(APacket->pts, FTimeBase, AVRational{1, 1000000});
  if (start != AV_NOPTS_VALUE) {
    // Text decoders leave the end to the packet's duration.
    if (!FBitmap && (subtitle.end_display_time == 0 || subtitle.end_display_time == UINT32_MAX) &&
        APacket->duration > 0)
      subtitle.end_display_time = static_cast<uint32_t>(
          avlib.av_rescale_q(APacket->duration, FTimeBase, AVRational{1, 1000}));
    TakeSubtitle(subtitle, start + AOffsetUs);
  }
  avlib.avsubtitle_free(&subtitle);
}

// Text lines go to libass, which keeps them and says what shows when.
void TSubtitleBurner::TakeTextSubtitle(const AVSubtitle &ASubtitle, int64_t AStartMs,
                                       int64_t ADurationMs) {
  for (unsigned i = 0; i < ASubtitle.num_rects; ++i) {
    const AVSubtitleRect *rect = ASubtitle.rects[i];
    if (rect->type != SUBTITLE_ASS || !rect->ass)
      continue;
    // Our own read-order number: files made by other tools often number every line 0,
    // which libass would take for repeats of the first.
    const char *afterOrder = std::strchr(rect->ass, ',');
    std::string line = std::to_string(FReadOrder++) + (afterOrder ? afterOrder : ",");
    ass_process_chunk(FTrack, &line[0], static_cast<int>(line.size()), AStartMs, ADurationMs);
    ++FEventCount;
    FSameUntilMs = INT64_MIN; // the new line may show in the span drawn last
  }
}

void TSubtitleBurner::TakeSubtitle(const AVSubtitle &ASubtitle, int64_t AStartUs) {
  const int64_t startMs = AStartUs / 1000 + ASubtitle.start_display_time;
  const bool ended = ASubtitle.end_display_time != 0 && ASubtitle.end_display_time != UINT32_MAX &&
                     ASubtitle.end_display_time > ASubtitle.start_display_time;
  const int64_t durationMs =
      ended ? int64_t(ASubtitle.end_display_time) - ASubtitle.start_display_time : UnendedMs;
  if (!FBitmap) {
    TakeTextSubtitle(ASubtitle, startMs, durationMs);
    return;
  }

  // A new picture ends the one before that had no end of its own.
  for (auto &event : FBitmaps)
    if (!event->Ended && event->EndMs > startMs)
      event->EndMs = std::max(event->StartMs, startMs);
  if (ASubtitle.num_rects == 0)
    return; // a clearing picture: nothing to show
  auto event = std::make_unique<TBitmapEvent>();
  event->StartMs = startMs;
  event->EndMs = ended ? startMs + durationMs : INT64_MAX;
  event->Ended = ended;
  // The rectangles lie on the subtitle stream's canvas (the decoder's size, else the
  // picture's), which is scaled into the picture's part of the frame as the picture is.
  const TGeometry &g = FGeometry;
  const int canvasW = FDecoder->width > 0 ? FDecoder->width : g.SourceWidth;
  const int canvasH = FDecoder->height > 0 ? FDecoder->height : g.SourceHeight;
  const int areaW = g.FrameWidth - g.PadLeft - g.PadRight;
  const int areaH = g.FrameHeight - g.PadTop - g.PadBottom;
  if (canvasW <= 0 || canvasH <= 0 || areaW <= 0 || areaH <= 0)
    return;
  for (unsigned i = 0; i < ASubtitle.num_rects; ++i) {
    const AVSubtitleRect *rect = ASubtitle.rects[i];
    if (rect->type != SUBTITLE_BITMAP || rect->w <= 0 || rect->h <= 0 || !rect->data[0] ||
        !rect->data[1])
      continue;
    TYuva palette[256];
    const auto *argb = reinterpret_cast<const uint32_t *>(rect->data[1]);
    for (int c = 0; c < 256; ++c) {
      const uint32_t v = c < rect->nb_colors ? argb[c] : 0;
      palette[c] = ToYuva((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF, v >> 24);
    }
    TBitmapEvent::TPiece piece;
    const int x0 = g.PadLeft + static_cast<int>(int64_t(rect->x) * areaW / canvasW);
    const int y0 = g.PadTop + static_cast<int>(int64_t(rect->y) * areaH / canvasH);
    const int x1 = g.PadLeft + static_cast<int>(int64_t(rect->x + rect->w) * areaW / canvasW);
    const int y1 = g.PadTop + static_cast<int>(int64_t(rect->y + rect->h) * areaH / canvasH);
    piece.X = std::max(0, x0);
    piece.Y = std::max(0, y0);
    piece.W = std::min(x1, g.FrameWidth) - piece.X;
    piece.H = std::min(y1, g.FrameHeight) - piece.Y;
    if (piece.W <= 0 || piece.H <= 0)
      continue;
    piece.Pixels.resize(static_cast<size_t>(piece.W) * piece.H);
    for (int y = 0; y < piece.H; ++y) {
      const int sy = std::min(rect->h - 1, static_cast<int>(int64_t(piece.Y + y - y0) * rect->h /
                                                            std::max(1, y1 - y0)));
      const uint8_t *row = rect->data[0] + static_cast<ptrdiff_t>(sy) * rect->linesize[0];
      for (int x = 0; x < piece.W; ++x) {
        const int sx = std::min(rect->w - 1, static_cast<int>(int64_t(piece.X + x - x0) * rect->w /
                                                              std::max(1, x1 - x0)));
        piece.Pixels[static_cast<size_t>(y) * piece.W + x] = palette[row[sx]];
      }
    }
    event->Pieces.push_back(std::move(piece));
  }
  ++FEventCount;
  // Kept in start order; packets of one stream come in that order already.
  auto at = std::upper_bound(FBitmaps.begin(), FBitmaps.end(), event->StartMs,
                             [](int64_t AStart, const std::unique_ptr<TBitmapEvent> &AEvent) {
                               return AStart < AEvent->StartMs;
                             });
  FBitmaps.insert(at, std::move(event));
}

void TSubtitleBurner::Draw(uint8_t *const AData[4], const int ALinesize[4], int64_t ATimeMs) {
  if (FBitmap)
    DrawBitmaps(AData, ALinesize, ATimeMs);
  else if (FTrack)
    DrawText(AData, ALinesize, ATimeMs);
}

// Whether an event's picture may change while it shows: moves, fades, karaoke, transforms
// and scrolling effects. The rest looks the same throughout its time.
static bool Animated(const ASS_Event &AEvent) {
  if (AEvent.Effect && AEvent.Effect[0])
    return true;
  const char *text = AEvent.Text;
  if (!text)
    return false;
  for (const char *tag : {"\\t(", "\\move", "\\fad", "\\k", "\\K"})
    if (std::strstr(text, tag))
      return true;
  return false;
}

bool TSubtitleBurner::TextUnchangedAt(int64_t ATimeMs) const {
  return ATimeMs >= FSameFromMs && ATimeMs < FSameUntilMs;
}

// After libass drew ATimeMs: the span around it in which no event starts or ends; when every
// event showing in it is still, what libass drew is drawn again there.
void TSubtitleBurner::NoteTextRender(int64_t ATimeMs) {
  int64_t from = INT64_MIN, until = INT64_MAX;
  for (int i = 0; i < FTrack->n_events; ++i) {
    const ASS_Event &event = FTrack->events[i];
    const int64_t start = event.Start, end = event.Start + event.Duration;
    if (start <= ATimeMs && ATimeMs < end && Animated(event)) {
      FSameUntilMs = INT64_MIN;
      return;
    }
    for (const int64_t edge : {start, end}) {
      if (edge <= ATimeMs)
        from = std::max(from, edge);
      else
        until = std::min(until, edge);
    }
  }
  FSameFromMs = from;
  FSameUntilMs = until;
}

void TSubtitleBurner::DrawText(uint8_t *const AData[4], const int ALinesize[4], int64_t ATimeMs) {
  if (!TextUnchangedAt(ATimeMs)) {
    int changed = 0;
    // libass keeps the bitmaps of what it drew last and hands them back while nothing changes.
    FImages = ass_render_frame(FRenderer, FTrack, ATimeMs, &changed);
    NoteTextRender(ATimeMs);
  }
  for (const ASS_Image *image = FImages; image; image = image->next) {
    const uint32_t color = image->color;
    const int opacity = 255 - static_cast<int>(color & 0xFF);
    if (opacity == 0 || image->w <= 0 || image->h <= 0)
      continue;
    const TYuva c = ToYuva((color >> 24) & 0xFF, (color >> 16) & 0xFF, (color >> 8) & 0xFF, 0);
    const int x0 = std::max(0, image->dst_x), y0 = std::max(0, image->dst_y);
    const int x1 = std::min(FGeometry.FrameWidth, image->dst_x + image->w);
    const int y1 = std::min(FGeometry.FrameHeight, image->dst_y + image->h);
    if (x0 >= x1 || y0 >= y1)
      continue;
    // Rows of the glyph bitmap, indexed by the frame's x.
    auto row = [&](int AY) {
      return image->bitmap + static_cast<ptrdiff_t>(AY - image->dst_y) * image->stride;
    };
    const int dx = image->dst_x;
    for (int y = y0; y < y1; ++y) {
      const uint8_t *src = row(y);
      uint8_t *dst = AData[0] + static_cast<ptrdiff_t>(y) * ALinesize[0];
      for (int x = x0; x < x1; ++x) {
        const int k = src[x - dx];
        if (k)
          dst[x] = Mix(dst[x], c.Y, k * opacity);
      }
    }
    // Chroma: each sample covers 2x2 picture points; their mean coverage weighs it.
    for (int cy = y0 / 2; cy <= (y1 - 1) / 2; ++cy) {
      const int ya = std::max(cy * 2, y0);
      const uint8_t *top = row(ya);
      const uint8_t *bottom = cy * 2 + 1 < y1 && cy * 2 >= y0 ? row(ya + 1) : nullptr;
      uint8_t *u = AData[1] + static_cast<ptrdiff_t>(cy) * ALinesize[1];
      uint8_t *v = AData[2] + static_cast<ptrdiff_t>(cy) * ALinesize[2];
      for (int cx = x0 / 2; cx <= (x1 - 1) / 2; ++cx) {
        const int xa = std::max(cx * 2, x0) - dx;
        const bool pair = cx * 2 >= x0 && cx * 2 + 1 < x1;
        int sum = top[xa] + (pair ? top[xa + 1] : 0);
        if (bottom)
          sum += bottom[xa] + (pair ? bottom[xa + 1] : 0);
        if (sum) {
          const int k = (sum / 4) * opacity;
          u[cx] = Mix(u[cx], c.U, k);
          v[cx] = Mix(v[cx], c.V, k);
        }
      }
    }
  }
}

void TSubtitleBurner::DrawBitmaps(uint8_t *const AData[4], const int ALinesize[4],
                                  int64_t ATimeMs) {
  // A picture without an end of its own shows until the next one, and not for ever.
  auto endOf = [](const TBitmapEvent &AEvent) {
    return AEvent.EndMs != INT64_MAX ? AEvent.EndMs : AEvent.StartMs + 2 * UnendedMs;
  };
  // What has ended is let go: pictures only move forward.
  FBitmaps.erase(std::remove_if(FBitmaps.begin(), FBitmaps.end(),
                                [&](const std::unique_ptr<TBitmapEvent> &AEvent) {
                                  return endOf(*AEvent) <= ATimeMs;
                                }),
                 FBitmaps.end());
  for (const auto &event : FBitmaps) {
    if (event->StartMs > ATimeMs)
      break;
    for (const TBitmapEvent::TPiece &piece : event->Pieces) {
      for (int y = 0; y < piece.H; ++y) {
        uint8_t *dst = AData[0] + static_cast<ptrdiff_t>(piece.Y + y) * ALinesize[0] + piece.X;
        const TYuva *src = &piece.Pixels[static_cast<size_t>(y) * piece.W];
        for (int x = 0; x < piece.W; ++x)
          if (src[x].A)
            dst[x] = Mix(dst[x], src[x].Y, src[x].A * 255);
      }
      for (int y = piece.Y & ~1; y < piece.Y + piece.H; y += 2) {
        const int sy = std::max(0, y - piece.Y);
        uint8_t *u = AData[1] + static_cast<ptrdiff_t>(y / 2) * ALinesize[1];
        uint8_t *v = AData[2] + static_cast<ptrdiff_t>(y / 2) * ALinesize[2];
        for (int x = piece.X & ~1; x < piece.X + piece.W; x += 2) {
          const TYuva &s =
              piece.Pixels[static_cast<size_t>(sy) * piece.W + std::max(0, x - piece.X)];
          if (s.A) {
            u[x / 2] = Mix(u[x / 2], s.U, s.A * 255);
            v[x / 2] = Mix(v[x / 2], s.V, s.A * 255);
          }
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The engine's burn-in stage
// ---------------------------------------------------------------------------------------------

void TCustomFFmpeg::OpenSubtitleBurn() {
  if (BurnSubtitleStream < 0 && BurnSubtitleFile.empty())
    return;
  TTranscodeRun &run = *TranscodeRun;
  TOutputStream *video = nullptr;
  for (TOutputStream &ost : run.OutputStreams)
    if (ost.Codec && ost.Codec->codec_type == AVMEDIA_TYPE_VIDEO && ost.EncodingNeeded &&
        !ost.Generated && ost.FileIndex == 0) {
      video = &ost;
      break;
    }
  if (!video || InputFileCount < 1)
    throw FFMpegException(M_("Subtitles can only be burned into a converted picture"));
  const AVCodecContext *enc = video->Codec;
  if (enc->pix_fmt != AV_PIX_FMT_YUV420P && enc->pix_fmt != AV_PIX_FMT_YUVJ420P)
    throw FFMpegException(M_("Subtitles can only be burned into 4:2:0 pictures"));
  TSubtitleBurner::TGeometry geometry;
  geometry.FrameWidth = enc->width;
  geometry.FrameHeight = enc->height;
  if (video->VideoPad) {
    geometry.PadTop = video->PadTop;
    geometry.PadBottom = video->PadBottom;
    geometry.PadLeft = video->PadLeft;
    geometry.PadRight = video->PadRight;
  }
  const TInputStream &ist = run.InputStreams[video->SourceIndex];
  int sourceWidth = ist.Codec ? ist.Codec->width : 0;
  int sourceHeight = ist.Codec ? ist.Codec->height : 0;
  TurnedSize(video->Turn, sourceWidth, sourceHeight);
  geometry.SourceWidth = sourceWidth;
  geometry.SourceHeight = sourceHeight;

  auto burner = std::make_unique<TSubtitleBurner>();
  if (!BurnSubtitleFile.empty()) {
    // The file's times count from the film's beginning, as the chosen start does.
    const AVFormatContext *input = InputFiles[0];
    const int64_t offset = InputTsOffsets[0] +
                           (input->start_time != AV_NOPTS_VALUE && !CopyTs ? input->start_time : 0);
    burner->OpenFile(BurnSubtitleFile, offset, geometry);
  } else {
    burner->OpenStream(InputFiles[0], BurnSubtitleStream, geometry);
  }
  run.Burner = std::move(burner);
}
