#include "media_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>

#include "medialib/medialib.h"

namespace testmedia {

namespace {

// ---- library log capture ------------------------------------------------------------------

std::mutex logMutex;
std::string lastErrorLine;
bool logVerbose = false;

void captureLog(void *avcl, int level, const char *fmt, va_list vl) {
  if (logVerbose) {
    va_list copy;
    va_copy(copy, vl);
    avlib.av_log_default_callback(avcl, level, fmt, copy);
    va_end(copy);
  }
  if (level > AV_LOG_ERROR)
    return;
  char line[1024];
  int printPrefix = 1;
  avlib.av_log_format_line2(avcl, level, fmt, vl, line, sizeof line, &printPrefix);
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  std::lock_guard<std::mutex> lock(logMutex);
  lastErrorLine = text;
}

// ---- RAII holders -------------------------------------------------------------------------

struct CodecContextFree {
  void operator()(AVCodecContext *c) const { avlib.avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame *f) const { avlib.av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket *p) const { avlib.av_packet_free(&p); }
};
struct SwsFree {
  void operator()(SwsContext *s) const { avlib.sws_freeContext(s); }
};
struct SwrFree {
  void operator()(SwrContext *s) const { avlib.swr_free(&s); }
};
struct DictFree {
  void operator()(AVDictionary *d) const { avlib.av_dict_free(&d); }
};
struct OutputFree {
  void operator()(AVFormatContext *oc) const {
    if (oc->pb && !(oc->oformat->flags & AVFMT_NOFILE))
      avlib.avio_closep(&oc->pb);
    avlib.avformat_free_context(oc);
  }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFree>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputFree>;

std::string errorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  avlib.av_strerror(code, text, sizeof text);
  return text;
}

[[noreturn]] void fail(const std::string &what, int code) {
  std::string message = what;
  if (code < 0)
    message += ": " + errorText(code);
  const std::string libraryLine = TakeLibraryErrorLine();
  if (!libraryLine.empty())
    message += " (" + libraryLine + ")";
  throw TTestMediaError(message);
}

int check(int ret, const std::string &what) {
  if (ret < 0)
    fail(what, ret);
  return ret;
}

template <typename T> T *checkAlloc(T *p, const char *what) {
  if (!p)
    fail(std::string("out of memory allocating ") + what, AVERROR(ENOMEM));
  return p;
}

// The first encoder of a comma-separated list of names that the libraries have, or null.
const AVCodec *firstEncoder(const std::string &names) {
  std::stringstream list(names);
  std::string name;
  while (std::getline(list, name, ','))
    if (const AVCodec *codec = avlib.avcodec_find_encoder_by_name(name.c_str()))
      return codec;
  return nullptr;
}

const AVCodec *findEncoder(const std::string &names) {
  if (const AVCodec *codec = firstEncoder(names))
    return codec;
  fail("no encoder among \"" + names + "\"", 0);
}

} // namespace

bool HasEncoder(const std::string &names) { return firstEncoder(names) != nullptr; }

namespace {

// Speed settings for the encoders that are slow by default: test media must be quick to make.
void addDefaultOptions(const AVCodec *codec, AVDictionary **options) {
  const std::string name = codec->name;
  if (name == "libx264") {
    avlib.av_dict_set(options, "preset", "ultrafast", 0);
  } else if (name == "libx265") {
    avlib.av_dict_set(options, "preset", "ultrafast", 0);
    avlib.av_dict_set(options, "x265-params", "log-level=error", 0);
  } else if (name == "libvpx") {
    avlib.av_dict_set(options, "deadline", "realtime", 0);
    avlib.av_dict_set(options, "cpu-used", "8", 0);
  }
}

void openEncoder(AVCodecContext *ctx, const AVCodec *codec, const TCodecOptions &extra,
                 const std::string &what) {
  AVDictionary *raw = nullptr;
  addDefaultOptions(codec, &raw);
  for (const auto &option : extra)
    avlib.av_dict_set(&raw, option.first.c_str(), option.second.c_str(), 0);
  std::unique_ptr<AVDictionary, DictFree> options(raw);
  AVDictionary *dict = options.release();
  int ret;
  {
    std::lock_guard<std::recursive_mutex> lock(CodecLock);
    ret = avlib.avcodec_open2(ctx, codec, &dict);
  }
  options.reset(dict);
  check(ret, "cannot open " + what + " encoder " + codec->name);
}

// ---- synthetic content ----------------------------------------------------------------------

// Colour bars scrolling sideways with a bright square moving diagonally across them, so that
// every frame differs and motion is visible in any decoded picture.
void fillPattern(AVFrame *frame, int64_t index) {
  static const uint8_t barY[8] = {235, 210, 170, 145, 106, 81, 41, 16};
  static const uint8_t barU[8] = {128, 16, 166, 54, 202, 90, 240, 128};
  static const uint8_t barV[8] = {128, 146, 16, 34, 222, 240, 110, 128};
  const int w = frame->width, h = frame->height;
  const int barWidth = std::max(1, w / 8);
  const int shift = static_cast<int>((index * 4) % w);
  const int box = std::max(8, h / 6);
  const int boxX = static_cast<int>((index * 5) % std::max(1, w - box));
  const int boxY = static_cast<int>((index * 3) % std::max(1, h - box));
  for (int y = 0; y < h; ++y) {
    uint8_t *row = frame->data[0] + y * frame->linesize[0];
    const bool inBoxRows = y >= boxY && y < boxY + box;
    for (int x = 0; x < w; ++x) {
      const int bar = ((x + shift) % w) / barWidth % 8;
      // A gentle vertical ramp keeps the encoders from seeing flat areas only.
      int luma = barY[bar] + (y * 16) / h - 8;
      if (inBoxRows && x >= boxX && x < boxX + box)
        luma = 235;
      row[x] = static_cast<uint8_t>(std::min(235, std::max(16, luma)));
    }
  }
  for (int y = 0; y < (h + 1) / 2; ++y) {
    uint8_t *u = frame->data[1] + y * frame->linesize[1];
    uint8_t *v = frame->data[2] + y * frame->linesize[2];
    const bool inBoxRows = y * 2 >= boxY && y * 2 < boxY + box;
    for (int x = 0; x < (w + 1) / 2; ++x) {
      const int bar = ((x * 2 + shift) % w) / barWidth % 8;
      const bool inBox = inBoxRows && x * 2 >= boxX && x * 2 < boxX + box;
      u[x] = inBox ? 128 : barU[bar];
      v[x] = inBox ? 128 : barV[bar];
    }
  }
}

// Flat black and white halves at TV range, which full-range encoders store as 0 and 255.
void fillLevels(AVFrame *frame) {
  const int w = frame->width, h = frame->height;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      frame->data[0][y * frame->linesize[0] + x] = x < w / 2 ? 16 : 235;
  for (int p = 1; p < 3; ++p)
    for (int y = 0; y < (h + 1) / 2; ++y)
      std::memset(frame->data[p] + y * frame->linesize[p], 128, (w + 1) / 2);
}

// The flash: a picture white all over.
void fillWhite(AVFrame *frame) {
  for (int p = 0; p < 3; ++p) {
    const int rows = p == 0 ? frame->height : (frame->height + 1) / 2;
    const int columns = p == 0 ? frame->width : (frame->width + 1) / 2;
    for (int y = 0; y < rows; ++y)
      std::memset(frame->data[p] + y * frame->linesize[p], p == 0 ? 235 : 128, columns);
  }
}

// A red square in the stored corner that a viewer turning the picture clockwise by
// rotation degrees sees top left.
void paintMarker(AVFrame *frame, int rotation) {
  const int w = frame->width, h = frame->height, size = std::min(w, h) / 4 & ~1;
  const bool right = rotation == 180 || rotation == 270;
  const bool bottom = rotation == 90 || rotation == 180;
  const int left = right ? w - size : 0, top = bottom ? h - size : 0;
  for (int y = top; y < top + size; ++y)
    std::memset(frame->data[0] + y * frame->linesize[0] + left, 81, size);
  for (int y = top / 2; y < (top + size) / 2; ++y) {
    std::memset(frame->data[1] + y * frame->linesize[1] + left / 2, 90, size / 2);
    std::memset(frame->data[2] + y * frame->linesize[2] + left / 2, 240, size / 2);
  }
}

constexpr double kTwoPi = 6.283185307179586;

// ---- streams --------------------------------------------------------------------------------

struct VideoOut {
  CodecContextPtr ctx;
  AVStream *stream = nullptr;
  FramePtr pattern;   // yuv420p, drawn into
  FramePtr converted; // the encoder's pixel format, when it differs
  SwsPtr scaler;
  int64_t frameCount = 0; // frames to encode
  int64_t next = 0;       // index of the next frame
  int64_t ptsOffset = 0;  // in the codec time base
};

struct AudioOut {
  CodecContextPtr ctx;
  AVStream *stream = nullptr;
  FramePtr tone;      // packed s16 at the encoder's rate and layout
  FramePtr converted; // the encoder's sample format
  SwrPtr resampler;
  int frameSize = 0;
  int64_t sampleCount = 0; // samples to encode
  int64_t next = 0;        // samples encoded so far
  int64_t ptsOffset = 0;   // in samples
  double frequency = 440;
};

struct SubtitleEvent {
  int startMs;
  int endMs;
  const char *text;
};

const SubtitleEvent kSubtitleEvents[] = {
    {200, 900, "First test subtitle"},
    {1000, 1700, "Second test subtitle"},
    {1800, 2400, "Third test subtitle"},
};

struct SubtitleOut {
  CodecContextPtr ctx;
  AVStream *stream = nullptr;
  size_t next = 0;
  size_t count = 0;
  int64_t offsetMs = 0;
  bool bitmap = false;
  std::vector<uint8_t> buffer;
};

class Writer {
public:
  Writer(const TTestMediaSpec &spec, const std::string &path) : spec_(spec), path_(path) {}
  void run();

private:
  void openOutput();
  void addVideo();
  void addAudio(int index);
  void addSubtitles();
  void encodeVideoFrame(VideoOut &v);
  void encodeAudioFrame(AudioOut &a);
  void encodeSubtitle(SubtitleOut &s);
  void sendFrame(AVCodecContext *ctx, AVStream *stream, const AVFrame *frame, const char *what);
  void writePacket(AVPacket *pkt, AVCodecContext *ctx, AVStream *stream);
  int64_t flashPicture() const;
  double flashTime() const;

  const TTestMediaSpec &spec_;
  std::string path_;
  OutputPtr output_;
  const AVOutputFormat *format_ = nullptr;
  std::unique_ptr<VideoOut> video_;
  std::vector<std::unique_ptr<AudioOut>> audio_;
  std::unique_ptr<SubtitleOut> subtitles_;
  PacketPtr packet_;
};

void Writer::openOutput() {
  if (!spec_.muxer.empty()) {
    format_ = avlib.av_guess_format(spec_.muxer.c_str(), nullptr, nullptr);
    if (!format_ || spec_.muxer != format_->name)
      fail("no muxer named \"" + spec_.muxer + "\"", 0);
  } else {
    format_ = avlib.av_guess_format(nullptr, spec_.name.c_str(), nullptr);
    if (!format_)
      fail("no muxer for the file name " + spec_.name, 0);
  }
  AVFormatContext *oc = nullptr;
  check(avlib.avformat_alloc_output_context2(&oc, format_, nullptr, path_.c_str()),
        "cannot create the output context");
  output_.reset(oc);
  packet_.reset(checkAlloc(avlib.av_packet_alloc(), "a packet"));
}

void Writer::addVideo() {
  const AVCodec *codec = findEncoder(spec_.videoCodec);
  auto v = std::make_unique<VideoOut>();
  v->ctx.reset(checkAlloc(avlib.avcodec_alloc_context3(codec), "a video encoder"));
  AVCodecContext *ctx = v->ctx.get();
  ctx->width = spec_.width;
  ctx->height = spec_.height;
  ctx->framerate = spec_.frameRate;
  ctx->time_base = av_inv_q(spec_.frameRate);
  ctx->pix_fmt = spec_.pixFmt != AV_PIX_FMT_NONE ? spec_.pixFmt
                 : codec->pix_fmts               ? codec->pix_fmts[0]
                                                 : AV_PIX_FMT_YUV420P;
  if (spec_.videoBitRate > 0)
    ctx->bit_rate = spec_.videoBitRate;
  if (spec_.maxBFrames >= 0)
    ctx->max_b_frames = spec_.maxBFrames;
  if (spec_.sampleAspect.num > 0)
    ctx->sample_aspect_ratio = spec_.sampleAspect;
  if (spec_.interlaced) {
    ctx->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    ctx->field_order = AV_FIELD_TT;
  }
  ctx->thread_count = 1; // several files may be made at once; keep each encoder on one core
  if (format_->flags & AVFMT_GLOBALHEADER)
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  TCodecOptions options = spec_.videoOptions;
  if (spec_.keyframeSeconds > 0) {
    ctx->gop_size = static_cast<int>(std::lround(spec_.keyframeSeconds * av_q2d(spec_.frameRate)));
    ctx->keyint_min = ctx->gop_size;
    // A flash is a scene change, where an encoder would put a key picture of its own.
    if (std::string(codec->name) == "libx264")
      options.emplace_back("x264-params", "scenecut=0");
    else
      options.emplace_back("sc_threshold", "1000000000");
  }
  openEncoder(ctx, codec, options, "video");

  v->stream = checkAlloc(avlib.avformat_new_stream(output_.get(), nullptr), "a video stream");
  check(avlib.avcodec_parameters_from_context(v->stream->codecpar, ctx),
        "cannot copy the video encoder parameters");
  v->stream->time_base = ctx->time_base;
  v->stream->avg_frame_rate = spec_.frameRate;
  v->stream->r_frame_rate = spec_.frameRate;
  if (spec_.sampleAspect.num > 0)
    v->stream->sample_aspect_ratio = spec_.sampleAspect;
  if (spec_.rotation != 0) {
    // With rows going down, this matrix turns the picture clockwise by the angle given (the
    // library's av_display_rotation_get reports it negated): the matrix phones write.
    auto *matrix = reinterpret_cast<int32_t *>(checkAlloc(
        avlib.av_stream_new_side_data(v->stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)),
        "a display matrix"));
    avlib.av_display_rotation_set(matrix, spec_.rotation);
  }

  auto makeFrame = [&](AVPixelFormat fmt) {
    FramePtr frame(checkAlloc(avlib.av_frame_alloc(), "a video frame"));
    frame->format = fmt;
    frame->width = ctx->width;
    frame->height = ctx->height;
    check(avlib.av_frame_get_buffer(frame.get(), 0), "cannot allocate a video frame");
    return frame;
  };
  v->pattern = makeFrame(AV_PIX_FMT_YUV420P);
  if (ctx->pix_fmt != AV_PIX_FMT_YUV420P) {
    v->converted = makeFrame(ctx->pix_fmt);
    v->scaler.reset(avlib.sws_getContext(ctx->width, ctx->height, AV_PIX_FMT_YUV420P, ctx->width,
                                         ctx->height, ctx->pix_fmt, SWS_BICUBIC, nullptr, nullptr,
                                         nullptr));
    if (!v->scaler)
      fail(std::string("cannot convert yuv420p to ") + avlib.av_get_pix_fmt_name(ctx->pix_fmt), 0);
  }
  const double late = std::max(0.0, -spec_.soundDelay);
  v->frameCount =
      spec_.stillPicture ? 1 : std::llround((spec_.duration - late) * av_q2d(spec_.frameRate));
  v->ptsOffset = std::llround((spec_.startOffset + late) / av_q2d(ctx->time_base));
  video_ = std::move(v);
}

void Writer::addAudio(int index) {
  const AVCodec *codec = findEncoder(spec_.audioCodec);
  auto a = std::make_unique<AudioOut>();
  a->ctx.reset(checkAlloc(avlib.avcodec_alloc_context3(codec), "an audio encoder"));
  AVCodecContext *ctx = a->ctx.get();
  const int channels = index < static_cast<int>(spec_.audioChannelsPerStream.size())
                           ? spec_.audioChannelsPerStream[index]
                           : spec_.channels;
  ctx->sample_rate = spec_.sampleRate;
  if (codec->supported_samplerates) {
    bool supported = false;
    for (const int *rate = codec->supported_samplerates; *rate; ++rate)
      supported = supported || *rate == spec_.sampleRate;
    if (!supported)
      fail(std::string(codec->name) + " does not take " + std::to_string(spec_.sampleRate) + " Hz",
           0);
  }
  ctx->sample_fmt = spec_.sampleFmt != AV_SAMPLE_FMT_NONE ? spec_.sampleFmt
                    : codec->sample_fmts                  ? codec->sample_fmts[0]
                                                          : AV_SAMPLE_FMT_S16;
  // The encoder's own layout for the channel count (AAC wants 5.1 with back speakers, say).
  bool haveLayout = false;
  if (codec->ch_layouts) {
    for (const AVChannelLayout *l = codec->ch_layouts; l->nb_channels; ++l)
      if (l->nb_channels == channels) {
        check(avlib.av_channel_layout_copy(&ctx->ch_layout, l), "cannot copy a layout");
        haveLayout = true;
        break;
      }
    if (!haveLayout)
      fail(std::string(codec->name) + " has no layout of " + std::to_string(channels) + " channels",
           0);
  } else {
    avlib.av_channel_layout_default(&ctx->ch_layout, channels);
  }
  if (spec_.audioBitRate > 0)
    ctx->bit_rate = spec_.audioBitRate;
  ctx->time_base = AVRational{1, spec_.sampleRate};
  if (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL)
    ctx->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
  ctx->thread_count = 1;
  if (format_->flags & AVFMT_GLOBALHEADER)
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  openEncoder(ctx, codec, {}, "audio");

  a->stream = checkAlloc(avlib.avformat_new_stream(output_.get(), nullptr), "an audio stream");
  if (index < static_cast<int>(spec_.audioLanguages.size()))
    avlib.av_dict_set(&a->stream->metadata, "language", spec_.audioLanguages[index].c_str(), 0);
  check(avlib.avcodec_parameters_from_context(a->stream->codecpar, ctx),
        "cannot copy the audio encoder parameters");
  a->stream->time_base = ctx->time_base;

  // Encoders without a fixed frame size (PCM) take any; 1024 keeps packets small.
  a->frameSize = ctx->frame_size > 0 ? ctx->frame_size : 1024;
  auto makeFrame = [&](AVSampleFormat fmt) {
    FramePtr frame(checkAlloc(avlib.av_frame_alloc(), "an audio frame"));
    frame->format = fmt;
    frame->nb_samples = a->frameSize;
    frame->sample_rate = ctx->sample_rate;
    check(avlib.av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout), "cannot copy a layout");
    check(avlib.av_frame_get_buffer(frame.get(), 0), "cannot allocate an audio frame");
    return frame;
  };
  a->tone = makeFrame(AV_SAMPLE_FMT_S16);
  if (ctx->sample_fmt != AV_SAMPLE_FMT_S16) {
    a->converted = makeFrame(ctx->sample_fmt);
    SwrContext *swr = nullptr;
    check(avlib.swr_alloc_set_opts2(&swr, &ctx->ch_layout, ctx->sample_fmt, ctx->sample_rate,
                                    &ctx->ch_layout, AV_SAMPLE_FMT_S16, ctx->sample_rate, 0,
                                    nullptr),
          "cannot set up the sample conversion");
    a->resampler.reset(swr);
    check(avlib.swr_init(swr), "cannot set up the sample conversion");
  }
  const double late = std::max(0.0, spec_.soundDelay);
  a->sampleCount = std::llround((spec_.duration - late) * spec_.sampleRate);
  a->ptsOffset = std::llround((spec_.startOffset + late) * spec_.sampleRate);
  a->frequency = 440.0 * (index + 1);
  audio_.push_back(std::move(a));
}

void Writer::addSubtitles() {
  const AVCodec *codec = findEncoder(spec_.subtitleCodec);
  auto s = std::make_unique<SubtitleOut>();
  s->ctx.reset(checkAlloc(avlib.avcodec_alloc_context3(codec), "a subtitle encoder"));
  AVCodecContext *ctx = s->ctx.get();
  ctx->time_base = AVRational{1, 1000};
  s->bitmap = codec->id == AV_CODEC_ID_DVD_SUBTITLE;
  ctx->width = spec_.width;
  ctx->height = spec_.height;
  // A minimal ASS header: the ass encoder needs one, and the text encoders read its styles.
  static const char header[] = "[Script Info]\r\nScriptType: v4.00+\r\nPlayResX: 384\r\n"
                               "PlayResY: 288\r\n\r\n[V4+ Styles]\r\nFormat: Name, Fontname, "
                               "Fontsize, PrimaryColour, OutlineColour, Bold, Italic, "
                               "BorderStyle, Outline, Alignment\r\n"
                               "Style: Default,Arial,16,&Hffffff,&H000000,0,0,1,2,2\r\n\r\n"
                               "[Events]\r\n"
                               "Format: Layer, Start, End, Style, Name, MarginL, MarginR, "
                               "MarginV, Effect, Text\r\n";
  ctx->subtitle_header =
      static_cast<uint8_t *>(checkAlloc(avlib.av_mallocz(sizeof header), "a subtitle header"));
  std::memcpy(ctx->subtitle_header, header, sizeof header);
  ctx->subtitle_header_size = static_cast<int>(sizeof header - 1);
  if (format_->flags & AVFMT_GLOBALHEADER)
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  openEncoder(ctx, codec, {}, "subtitle");

  s->stream = checkAlloc(avlib.avformat_new_stream(output_.get(), nullptr), "a subtitle stream");
  check(avlib.avcodec_parameters_from_context(s->stream->codecpar, ctx),
        "cannot copy the subtitle encoder parameters");
  s->stream->time_base = ctx->time_base;
  if (!spec_.subtitleLanguage.empty())
    avlib.av_dict_set(&s->stream->metadata, "language", spec_.subtitleLanguage.c_str(), 0);
  if (spec_.subtitleForced)
    s->stream->disposition |= AV_DISPOSITION_FORCED;
  s->offsetMs = std::llround(spec_.startOffset * 1000);
  for (const SubtitleEvent &event : kSubtitleEvents)
    if (event.startMs < spec_.duration * 1000)
      ++s->count;
  s->buffer.resize(4096);
  subtitles_ = std::move(s);
}

void Writer::writePacket(AVPacket *pkt, AVCodecContext *ctx, AVStream *stream) {
  avlib.av_packet_rescale_ts(pkt, ctx->time_base, stream->time_base);
  pkt->stream_index = stream->index;
  check(avlib.av_interleaved_write_frame(output_.get(), pkt), "cannot write a packet");
}

// Sends one frame (nullptr flushes) and writes every packet the encoder has ready.
void Writer::sendFrame(AVCodecContext *ctx, AVStream *stream, const AVFrame *frame,
                       const char *what) {
  check(avlib.avcodec_send_frame(ctx, frame), std::string("cannot encode ") + what);
  for (;;) {
    const int ret = avlib.avcodec_receive_packet(ctx, packet_.get());
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
      return;
    check(ret, std::string("cannot encode ") + what);
    if (packet_->duration == 0 && ctx->codec_type == AVMEDIA_TYPE_VIDEO)
      packet_->duration = avlib.av_rescale_q(1, av_inv_q(spec_.frameRate), ctx->time_base);
    writePacket(packet_.get(), ctx, stream);
  }
}

// The picture that flashes: the first at or after flashAt (pictures start late by whole
// frames). Without video, the beep sounds at flashAt itself.
int64_t Writer::flashPicture() const {
  const double frame = 1 / av_q2d(spec_.frameRate);
  const double first = std::llround(std::max(0.0, -spec_.soundDelay) / frame) * frame;
  return static_cast<int64_t>(std::ceil((spec_.flashAt - first) / frame - 1e-6));
}

double Writer::flashTime() const {
  if (spec_.videoCodec.empty())
    return spec_.flashAt;
  const double frame = 1 / av_q2d(spec_.frameRate);
  const double first = std::llround(std::max(0.0, -spec_.soundDelay) / frame) * frame;
  return first + double(flashPicture()) * frame;
}

void Writer::encodeVideoFrame(VideoOut &v) {
  AVFrame *frame = v.pattern.get();
  const double time = double(v.next) / av_q2d(spec_.frameRate);
  if (spec_.gapLength > 0 && time >= spec_.gapStart && time < spec_.gapStart + spec_.gapLength) {
    ++v.next; // a hole in the timeline: the next picture's timestamp jumps over it
    return;
  }
  check(avlib.av_frame_make_writable(frame), "cannot write a video frame");
  if (spec_.levels)
    fillLevels(frame);
  else if (spec_.flashAt >= 0 && v.next == flashPicture())
    fillWhite(frame);
  else
    fillPattern(frame, v.next);
  if (spec_.rotation != 0)
    paintMarker(frame, spec_.rotation);
  if (v.scaler) {
    AVFrame *out = v.converted.get();
    check(avlib.av_frame_make_writable(out), "cannot write a video frame");
    avlib.sws_scale(v.scaler.get(), frame->data, frame->linesize, 0, frame->height, out->data,
                    out->linesize);
    frame = out;
  }
  frame->pts = v.ptsOffset + v.next;
  if (spec_.interlaced) {
    frame->interlaced_frame = 1;
    frame->top_field_first = 1;
  }
  sendFrame(v.ctx.get(), v.stream, frame, "a video frame");
  ++v.next;
}

void Writer::encodeAudioFrame(AudioOut &a) {
  AVFrame *frame = a.tone.get();
  check(avlib.av_frame_make_writable(frame), "cannot write an audio frame");
  const int channels = a.ctx->ch_layout.nb_channels;
  auto *samples = reinterpret_cast<int16_t *>(frame->data[0]);
  const double step = kTwoPi * a.frequency / a.ctx->sample_rate;
  const double rate = a.ctx->sample_rate;
  const double first = std::max(0.0, spec_.soundDelay);
  const double flash = flashTime();
  for (int i = 0; i < a.frameSize; ++i) {
    // With a flash the sound is silent but for the beep that goes with it.
    const double at = first + double(a.next + i) / rate;
    const bool quiet = spec_.flashAt >= 0 && (at < flash || at >= flash + 0.2);
    const int16_t value =
        quiet ? int16_t{0}
              : static_cast<int16_t>(std::lround(9830.0 * std::sin(step * double(a.next + i))));
    for (int c = 0; c < channels; ++c)
      samples[i * channels + c] = value;
  }
  if (a.resampler) {
    AVFrame *out = a.converted.get();
    check(avlib.av_frame_make_writable(out), "cannot write an audio frame");
    const uint8_t **in = const_cast<const uint8_t **>(frame->extended_data);
    check(avlib.swr_convert(a.resampler.get(), out->extended_data, a.frameSize, in, a.frameSize),
          "cannot convert audio samples");
    frame = out;
  }
  frame->pts = a.ptsOffset + a.next;
  sendFrame(a.ctx.get(), a.stream, frame, "an audio frame");
  a.next += a.frameSize;
}

void Writer::encodeSubtitle(SubtitleOut &s) {
  const size_t index = s.next++;
  const SubtitleEvent &event = kSubtitleEvents[index];
  const std::string dialogue =
      std::string("0,0,Default,,0,0,0,,") +
      (index < spec_.subtitleTexts.size() ? spec_.subtitleTexts[index] : std::string(event.text));
  AVSubtitleRect rect{};
  rect.type = SUBTITLE_ASS;
  rect.ass = const_cast<char *>(dialogue.c_str());
  AVSubtitleRect *rects[] = {&rect};
  AVSubtitle subtitle{};
  subtitle.format = 1; // text
  // A DVD subtitle: a white box of palette entry 1 on transparent entry 0, in the lower third.
  std::vector<uint8_t> box;
  const uint32_t palette[4] = {0x00000000, 0xFFFFFFFF, 0xFF000000, 0xFF808080};
  if (s.bitmap) {
    rect = AVSubtitleRect{};
    rect.type = SUBTITLE_BITMAP;
    rect.w = spec_.width / 2;
    rect.h = spec_.height / 8;
    rect.x = spec_.width / 4;
    rect.y = spec_.height * 3 / 4;
    box.assign(static_cast<size_t>(rect.w) * rect.h, 1);
    rect.data[0] = box.data();
    rect.linesize[0] = rect.w;
    rect.data[1] = reinterpret_cast<uint8_t *>(const_cast<uint32_t *>(palette));
    rect.nb_colors = 4;
    subtitle.format = 0;
  }
  subtitle.start_display_time = 0;
  subtitle.end_display_time = static_cast<uint32_t>(event.endMs - event.startMs);
  subtitle.num_rects = 1;
  subtitle.rects = rects;
  subtitle.pts = (s.offsetMs + event.startMs) * 1000;
  const int size =
      check(avlib.avcodec_encode_subtitle(s.ctx.get(), s.buffer.data(),
                                          static_cast<int>(s.buffer.size()), &subtitle),
            "cannot encode a subtitle");
  AVPacket *pkt = packet_.get();
  check(avlib.av_new_packet(pkt, size), "cannot allocate a subtitle packet");
  std::memcpy(pkt->data, s.buffer.data(), size);
  pkt->pts = pkt->dts = s.offsetMs + event.startMs;
  pkt->duration = event.endMs - event.startMs;
  pkt->flags |= AV_PKT_FLAG_KEY;
  writePacket(pkt, s.ctx.get(), s.stream);
}

void Writer::run() {
  openOutput();
  if (!spec_.videoCodec.empty())
    addVideo();
  for (int i = 0; !spec_.audioCodec.empty() && i < spec_.audioStreams; ++i)
    addAudio(i);
  if (!spec_.subtitleCodec.empty())
    addSubtitles();

  AVFormatContext *oc = output_.get();
  if (!(format_->flags & AVFMT_NOFILE))
    check(avlib.avio_open(&oc->pb, path_.c_str(), AVIO_FLAG_WRITE), "cannot create the file");
  AVDictionary *raw = nullptr;
  if (std::string(format_->name) == "image2")
    avlib.av_dict_set(&raw, "update", "1", 0); // one picture under a plain name
  std::unique_ptr<AVDictionary, DictFree> muxerOptions(raw);
  raw = muxerOptions.release();
  const int header = avlib.avformat_write_header(oc, &raw);
  muxerOptions.reset(raw);
  check(header, "cannot write the header");

  // Feed the stream whose next item is earliest, so packets reach the muxer in time order.
  for (;;) {
    double best = 1e30;
    enum { None, Video, Audio, Subtitle } kind = None;
    size_t audioIndex = 0;
    if (video_ && video_->next < video_->frameCount) {
      best = double(video_->next) / av_q2d(spec_.frameRate) + std::max(0.0, -spec_.soundDelay);
      kind = Video;
    }
    for (size_t i = 0; i < audio_.size(); ++i) {
      const AudioOut &a = *audio_[i];
      const double t = double(a.next) / a.ctx->sample_rate + std::max(0.0, spec_.soundDelay);
      if (a.next < a.sampleCount && t < best) {
        best = t;
        kind = Audio;
        audioIndex = i;
      }
    }
    if (subtitles_ && subtitles_->next < subtitles_->count) {
      const double t = kSubtitleEvents[subtitles_->next].startMs / 1000.0;
      if (t < best)
        kind = Subtitle;
    }
    if (kind == None)
      break;
    if (kind == Video)
      encodeVideoFrame(*video_);
    else if (kind == Audio)
      encodeAudioFrame(*audio_[audioIndex]);
    else
      encodeSubtitle(*subtitles_);
  }

  if (video_)
    sendFrame(video_->ctx.get(), video_->stream, nullptr, "the last video frames");
  for (auto &a : audio_)
    sendFrame(a->ctx.get(), a->stream, nullptr, "the last audio frames");
  check(avlib.av_write_trailer(oc), "cannot write the trailer");
  if (!(format_->flags & AVFMT_NOFILE))
    check(avlib.avio_closep(&oc->pb), "cannot close the file");
}

// Writes ARate into the "fmt " chunk of the WAV file APath, as its sample rate and (with the
// block size unchanged) its byte rate.
void patchWavRate(const std::string &APath, int ARate) {
  std::FILE *file = std::fopen(APath.c_str(), "r+b");
  if (!file)
    throw TTestMediaError(APath + ": cannot reopen the file");
  unsigned char header[64] = {};
  const size_t got = std::fread(header, 1, sizeof header, file);
  const unsigned char *fmt =
      got >= 36 && std::memcmp(header + 12, "fmt ", 4) == 0 ? header + 20 : nullptr;
  bool written = false;
  if (fmt) {
    const unsigned blockAlign = fmt[12] | (fmt[13] << 8);
    const uint32_t byteRate = static_cast<uint32_t>(ARate) * blockAlign;
    unsigned char rates[8];
    for (int i = 0; i < 4; ++i) {
      rates[i] = static_cast<unsigned char>(static_cast<uint32_t>(ARate) >> (8 * i));
      rates[4 + i] = static_cast<unsigned char>(byteRate >> (8 * i));
    }
    written = std::fseek(file, 24, SEEK_SET) == 0 && std::fwrite(rates, 1, 8, file) == 8;
  }
  if (std::fclose(file) != 0 || !written)
    throw TTestMediaError(APath + ": cannot write the WAV header's rate");
}

} // namespace

void InstallLogCapture(bool AVerbose) {
  logVerbose = AVerbose;
  avlib.av_log_set_level(AVerbose ? AV_LOG_INFO : AV_LOG_ERROR);
  avlib.av_log_set_callback(captureLog);
}

std::string TakeLibraryErrorLine() {
  std::lock_guard<std::mutex> lock(logMutex);
  std::string line;
  line.swap(lastErrorLine);
  return line;
}

void WriteTestMedia(const TTestMediaSpec &ASpec, const std::string &APath) {
  TakeLibraryErrorLine(); // an older line says nothing about this file
  Writer(ASpec, APath).run();
  if (ASpec.headerSampleRate > 0)
    patchWavRate(APath, ASpec.headerSampleRate);
}

} // namespace testmedia
