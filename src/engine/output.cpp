// Creating output files and their streams: the muxer, the kinds of stream, one encoder context
// per stream configured from the option state, metadata, and the file opened for writing.
#include "engine/custom_ffmpeg.h"
#include "medialib/medialib.h"
#include "medialib/words.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

// Seconds of a muxing option in the microseconds the library takes as an int: "muxdelay" or
// "muxpreload" above 2147 s is the most it can hold.
int MicrosecondsOption(float ASeconds) {
  const float microseconds = ASeconds * 1000000.0f; // in float, as set: 0.7 s is 700000
  return static_cast<int>(std::clamp(std::round(static_cast<double>(microseconds)),
                                     static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
}

struct CodecContextFree {
  void operator()(AVCodecContext *AContext) const { avlib.avcodec_free_context(&AContext); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;

// An output context under construction: closes its file (when opened) and frees itself.
struct OutputContextFree {
  void operator()(AVFormatContext *AContext) const {
    if (AContext->pb && AContext->oformat && !(AContext->oformat->flags & AVFMT_NOFILE))
      avlib.avio_closep(&AContext->pb);
    avlib.avformat_free_context(AContext);
  }
};
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextFree>;

struct Dictionary {
  AVDictionary *Items = nullptr;
  Dictionary() = default;
  explicit Dictionary(AVDictionary *AItems) : Items(AItems) {}
  Dictionary(const Dictionary &) = delete;
  Dictionary &operator=(const Dictionary &) = delete;
  ~Dictionary() { avlib.av_dict_free(&Items); }
  AVDictionary *Release() {
    AVDictionary *items = Items;
    Items = nullptr;
    return items;
  }
};

// At most AMaxBytes bytes of a UTF-8 text, never cutting a character in two.
std::string Clip(const std::string &AText, size_t AMaxBytes) {
  if (AText.size() <= AMaxBytes)
    return AText;
  size_t end = AMaxBytes;
  while (end > 0 && (static_cast<unsigned char>(AText[end]) & 0xC0) == 0x80)
    --end;
  return AText.substr(0, end);
}

// Reads "start,end,q" groups separated by "/". False when a group is malformed.
bool ParseRcOverride(const char *AText, std::vector<RcOverride> &ARecords) {
  ARecords.clear();
  if (!AText)
    return true;
  const char *p = AText;
  for (;;) {
    long values[3];
    for (int k = 0; k < 3; ++k) {
      char *end;
      errno = 0;
      values[k] = std::strtol(p, &end, 10);
      // A group without digits would silently become an override of frame 0.
      if (end == p || errno == ERANGE || values[k] < INT_MIN || values[k] > INT_MAX)
        return false;
      p = end;
      if (k < 2) {
        if (*p == '\0')
          return false;
        ++p; // the separator, a comma by convention
      }
    }
    RcOverride record{};
    record.start_frame = static_cast<int>(values[0]);
    record.end_frame = static_cast<int>(values[1]);
    const int q = static_cast<int>(values[2]);
    if (q > 0) {
      record.qscale = q;
      record.quality_factor = 1.0f;
    } else {
      record.qscale = 0;
      record.quality_factor = -q / 100.0f;
    }
    ARecords.push_back(record);
    p = std::strchr(p, '/');
    if (!p)
      return true;
    ++p;
  }
}

// |AFps - ARate| compared exactly as rationals: negative when ALeft is nearer than ARight.
int CompareDistance(AVRational AFps, AVRational ALeft, AVRational ARight) {
  auto distance = [&](AVRational r, __int128 &num, __int128 &den) {
    num = static_cast<__int128>(AFps.num) * r.den - static_cast<__int128>(r.num) * AFps.den;
    if (num < 0)
      num = -num;
    den = static_cast<__int128>(AFps.den) * r.den;
    if (den < 0) {
      den = -den;
    }
  };
  __int128 ln, ld, rn, rd;
  distance(ALeft, ln, ld);
  distance(ARight, rn, rd);
  const __int128 a = ln * rd, b = rn * ld;
  return a < b ? -1 : (a > b ? 1 : 0);
}

// The muxer's private option of that name, if it has one.
bool MuxerHasOption(const AVOutputFormat *AFormat, const char *AName) {
  if (!AFormat->priv_class)
    return false;
  const AVClass *klass = AFormat->priv_class;
  return avlib.av_opt_find(&klass, AName, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
}

void SetLanguage(AVStream *AStream, std::string &ALanguage) {
  if (ALanguage.empty())
    return;
  avlib.av_dict_set(&AStream->metadata, "language", ALanguage.substr(0, 3).c_str(), 0);
  ALanguage.clear();
}

} // namespace

AVRational TCustomFFmpeg::ClosestFrameRate(AVRational AFps, const AVRational *ARates) {
  if (!ARates || ARates[0].den == 0)
    return AFps;
  int best = 0;
  // Only a strictly nearer rate replaces: the first of equally near rates wins.
  for (int i = 1; ARates[i].den != 0; ++i)
    if (CompareDistance(AFps, ARates[i], ARates[best]) < 0)
      best = i;
  return ARates[best];
}

int TCustomFFmpeg::OutputFileIndexOf(AVFormatContext *AContext) const {
  for (int i = 0; i < OutputFileCount; ++i)
    if (OutputFiles[i] == AContext)
      return i;
  return OutputFileCount; // a file being created gets the next slot
}

bool TCustomFFmpeg::ChooseEncoder(AVFormatContext *AContext, const char *AName, AVMediaType AType,
                                  const AVCodec *&AEncoder, AVCodecID &ACodecId) {
  if (!AName) {
    ACodecId = avlib.av_guess_codec(AContext->oformat, nullptr, AContext->url, nullptr, AType);
    AEncoder = avlib.avcodec_find_encoder(ACodecId);
    return true;
  }
  if (!LookupCodec(AName, AType, true, ACodecId))
    return false;
  // The named encoder itself, not merely the first one of its codec id.
  AEncoder = avlib.avcodec_find_encoder_by_name(AName);
  return true;
}

AVDictionary *TCustomFFmpeg::ApplyEncoderOptions(AVCodecContext *ACodec, AVMediaType AType,
                                                 int AParamFlag, const AVCodec *AEncoder) {
  if (CodecDefaults[AType])
    ApplyContextOptions(ACodec, CodecDefaults[AType], AParamFlag | AV_OPT_FLAG_ENCODING_PARAM);
  return CopyPrivateOptions(AType, AEncoder ? AEncoder->priv_class : nullptr);
}

void TCustomFFmpeg::StoreOutputStream(int AFileIndex, int AStreamIndex, bool AStreamCopy,
                                      AVCodecContext *ACodec, AVDictionary *AOptions) {
  OutputStreamCopy[AFileIndex][AStreamIndex] = AStreamCopy;
  OutputCodecs[AFileIndex][AStreamIndex] = ACodec;
  avlib.av_dict_free(&OutputCodecOptions[AFileIndex][AStreamIndex]);
  OutputCodecOptions[AFileIndex][AStreamIndex] = AOptions;
}

void TCustomFFmpeg::SetOutputFormat(const std::string &AName) {
  if (AName.empty())
    return;
  const std::string name = FormatNameOf(AName);
  const AVOutputFormat *format = avlib.av_guess_format(name.c_str(), nullptr, nullptr);
  if (!format)
    throw FFMpegException(FillName(M_("Unknown output format: %s"), name));
  OutputFormat = format;
}

void TCustomFFmpeg::CheckInputStreamKinds(bool &AHasVideo, bool &AHasAudio, bool &AHasSubtitle) {
  AHasVideo = AHasAudio = AHasSubtitle = false;
  for (int i = 0; i < InputFileCount; ++i) {
    const AVFormatContext *file = InputFiles[i];
    for (unsigned k = 0; k < file->nb_streams; ++k) {
      switch (file->streams[k]->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        AHasVideo = true;
        break;
      case AVMEDIA_TYPE_AUDIO:
        AHasAudio = true;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        AHasSubtitle = true;
        break;
      case AVMEDIA_TYPE_UNKNOWN:
      case AVMEDIA_TYPE_DATA:
      case AVMEDIA_TYPE_ATTACHMENT:
        break;
      default:
        throw FFMpegException(M_("invalid codec_type of input file"));
      }
    }
  }
}

void TCustomFFmpeg::NewVideoStream(AVFormatContext *AContext) {
  auto failWith = [this](const std::string &AMessage) {
    avlib.av_freep(&VideoCodecName);
    throw FFMpegException(AMessage);
  };
  const int fileIndex = OutputFileIndexOf(AContext);
  const int streamIndex = static_cast<int>(AContext->nb_streams);
  if (fileIndex >= MaxFiles || streamIndex >= MAX_STREAMS)
    failWith(M_("Could not alloc stream"));

  // Everything that can fail by the user's choice is checked before the stream exists, so a
  // refused stream never leaves a half-made one in the file.
  const AVCodec *encoder = nullptr;
  AVCodecID codecId = AV_CODEC_ID_NONE;
  std::vector<RcOverride> overrides;
  if (!VideoStreamCopy) {
    if (!ChooseEncoder(AContext, VideoCodecName, AVMEDIA_TYPE_VIDEO, encoder, codecId))
      failWith(ErrorMessage);
    if (!ParseRcOverride(VideoRcOverride, overrides))
      failWith(M_("error parsing rc_override"));
  }

  CodecContextPtr codec(avlib.avcodec_alloc_context3(encoder));
  if (!codec)
    failWith(M_("Could not alloc stream"));
  codec->codec_type = AVMEDIA_TYPE_VIDEO;
  codec->thread_count = ThreadCount;
  if (VideoCodecTag != 0)
    codec->codec_tag = VideoCodecTag;

  Dictionary privateOptions;
  if (!VideoStreamCopy) {
    codec->codec_id = codecId;
    privateOptions.Items =
        ApplyEncoderOptions(codec.get(), AVMEDIA_TYPE_VIDEO, AV_OPT_FLAG_VIDEO_PARAM, encoder);

    SetVideoPicture(codec.get(), encoder, AContext->oformat);
    SetVideoCoding(codec.get(), overrides);
  }

  // After the generic options, so that a generic "flags" cannot take the header bits away.
  if ((VideoGlobalHeader & 1) ||
      (VideoGlobalHeader == 0 && (AContext->oformat->flags & AVFMT_GLOBALHEADER)))
    codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (VideoGlobalHeader & 2)
    codec->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;

  AVStream *stream = avlib.avformat_new_stream(AContext, nullptr);
  if (!stream)
    failWith(M_("Could not alloc stream"));
  if (!VideoStreamCopy)
    stream->time_base = codec->time_base;

  StoreOutputStream(fileIndex, streamIndex, VideoStreamCopy, codec.release(),
                    privateOptions.Release());

  VideoDisable = false;
  avlib.av_freep(&VideoCodecName);
  VideoStreamCopy = false;
}

// Rate, size, aspect and picture format of a new encoded video stream, from the option state.
void TCustomFFmpeg::SetVideoPicture(AVCodecContext *ACodec, const AVCodec *AEncoder,
                                    const AVOutputFormat *AFormat) {
  const AVRational fps = FrameRate.num != 0 ? FrameRate : AVRational{25, 1};
  const AVRational rate =
      ClosestFrameRate(fps, AEncoder ? AEncoder->supported_framerates : nullptr);
  ACodec->time_base = AVRational{rate.den, rate.num};
  ACodec->framerate = rate;

  ACodec->width = FrameWidth + PadLeft + PadRight;
  ACodec->height = FrameHeight + PadTop + PadBottom;
  // A missing or nonsensical aspect leaves the sample aspect unknown rather than negative.
  if (ACodec->width > 0 && FrameAspectRatio > 0)
    ACodec->sample_aspect_ratio =
        avlib.av_d2q(static_cast<double>(ACodec->height) * FrameAspectRatio / ACodec->width, 255);

  // The PSP decodes 8-bit 4:2:0 at TV range only, and the encoders' PSP profiles refuse
  // anything else, whatever the input's format (or a format asked for).
  const bool psp = std::strcmp(AFormat->name, "psp") == 0;
  ACodec->pix_fmt = psp ? AV_PIX_FMT_YUV420P : static_cast<AVPixelFormat>(FramePixFmt);
  if (psp) {
    // Said in the stream: H.264 carries the range flag only with a colour description, and
    // BT.601 is the matrix untagged and RGB pictures are converted with.
    ACodec->color_range = AVCOL_RANGE_MPEG;
    ACodec->colorspace = AVCOL_SPC_SMPTE170M;
  }
  if (AEncoder && AEncoder->pix_fmts) {
    bool supported = false;
    for (const AVPixelFormat *f = AEncoder->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
      supported = supported || *f == ACodec->pix_fmt;
    if (!supported)
      ACodec->pix_fmt = AEncoder->pix_fmts[0];
  }
}

// Quality, matrices, rate control overrides and pass flags of a new encoded video stream.
void TCustomFFmpeg::SetVideoCoding(AVCodecContext *ACodec,
                                   const std::vector<RcOverride> &AOverrides) {
  auto failWith = [this](const std::string &AMessage) {
    avlib.av_freep(&VideoCodecName);
    throw FFMpegException(AMessage);
  };
  if (IntraOnly)
    ACodec->gop_size = 0;
  if (VideoQScale != 0 || SameQuality) {
    ACodec->flags |= AV_CODEC_FLAG_QSCALE;
    ACodec->global_quality = static_cast<int>(FF_QP2LAMBDA * VideoQScale);
  }
  // The codec context frees its matrices itself, so it gets copies of the engine's.
  for (auto [source, target] : {std::pair{IntraMatrix, &ACodec->intra_matrix},
                                std::pair{InterMatrix, &ACodec->inter_matrix}}) {
    if (!source)
      continue;
    *target = static_cast<uint16_t *>(avlib.av_malloc(64 * sizeof(uint16_t)));
    if (!*target)
      failWith(M_("Could not alloc stream"));
    std::memcpy(*target, source, 64 * sizeof(uint16_t));
  }

  if (!AOverrides.empty()) {
    ACodec->rc_override =
        static_cast<RcOverride *>(avlib.av_malloc(AOverrides.size() * sizeof(RcOverride)));
    if (!ACodec->rc_override)
      failWith(M_("Could not alloc stream"));
    std::memcpy(ACodec->rc_override, AOverrides.data(), AOverrides.size() * sizeof(RcOverride));
    ACodec->rc_override_count = static_cast<int>(AOverrides.size());
  }
  if (ACodec->rc_initial_buffer_occupancy == 0)
    ACodec->rc_initial_buffer_occupancy = ACodec->rc_buffer_size * 3 / 4;
  // The motion-estimation threshold no longer exists in the encoders.
  ACodec->intra_dc_precision = IntraDcPrecision - 8;
  if (DoPsnr)
    ACodec->flags |= AV_CODEC_FLAG_PSNR;
  if (DoPass == 1)
    ACodec->flags |= AV_CODEC_FLAG_PASS1;
  else if (DoPass == 2)
    ACodec->flags |= AV_CODEC_FLAG_PASS2;
}

void TCustomFFmpeg::NewAudioStream(AVFormatContext *AContext) {
  auto failWith = [this](const std::string &AMessage) {
    avlib.av_freep(&AudioCodecName);
    AudioLanguage.clear();
    throw FFMpegException(AMessage);
  };
  const int fileIndex = OutputFileIndexOf(AContext);
  const int streamIndex = static_cast<int>(AContext->nb_streams);
  if (fileIndex >= MaxFiles || streamIndex >= MAX_STREAMS)
    failWith(M_("Could not alloc stream"));

  const AVCodec *encoder = nullptr;
  AVCodecID codecId = AV_CODEC_ID_NONE;
  if (!AudioStreamCopy) {
    if (!ChooseEncoder(AContext, AudioCodecName, AVMEDIA_TYPE_AUDIO, encoder, codecId))
      failWith(ErrorMessage);
  }

  CodecContextPtr codec(avlib.avcodec_alloc_context3(encoder));
  if (!codec)
    failWith(M_("Could not alloc stream"));
  codec->codec_type = AVMEDIA_TYPE_AUDIO;
  codec->thread_count = ThreadCount;
  if (AudioCodecTag != 0)
    codec->codec_tag = AudioCodecTag;

  Dictionary privateOptions;
  if (!AudioStreamCopy) {
    codec->codec_id = codecId;
    privateOptions.Items =
        ApplyEncoderOptions(codec.get(), AVMEDIA_TYPE_AUDIO, AV_OPT_FLAG_AUDIO_PARAM, encoder);
    if (AudioQScale > -99999) {
      codec->flags |= AV_CODEC_FLAG_QSCALE;
      codec->global_quality = static_cast<int>(FF_QP2LAMBDA * AudioQScale);
    }
    // The encoder's own first sample format until the set-up decides otherwise.
    if (encoder && encoder->sample_fmts)
      codec->sample_fmt = encoder->sample_fmts[0];
  }
  if (AContext->oformat->flags & AVFMT_GLOBALHEADER)
    codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

  if (AudioChannels > 0) {
    avlib.av_channel_layout_uninit(&codec->ch_layout);
    avlib.av_channel_layout_default(&codec->ch_layout, AudioChannels);
  }
  codec->sample_rate = AudioSampleRate;
  if (AudioSampleRate > 0)
    codec->time_base = AVRational{1, AudioSampleRate};

  AVStream *stream = avlib.avformat_new_stream(AContext, nullptr);
  if (!stream)
    failWith(M_("Could not alloc stream"));
  if (AudioSampleRate > 0)
    stream->time_base = codec->time_base;
  SetLanguage(stream, AudioLanguage);

  StoreOutputStream(fileIndex, streamIndex, AudioStreamCopy, codec.release(),
                    privateOptions.Release());

  AudioDisable = false;
  avlib.av_freep(&AudioCodecName);
  AudioStreamCopy = false;
}

void TCustomFFmpeg::NewSubtitleStream(AVFormatContext *AContext) {
  auto failWith = [this](const std::string &AMessage) {
    avlib.av_freep(&SubtitleCodecName);
    SubtitleLanguage.clear();
    throw FFMpegException(AMessage);
  };
  const int fileIndex = OutputFileIndexOf(AContext);
  const int streamIndex = static_cast<int>(AContext->nb_streams);
  if (fileIndex >= MaxFiles || streamIndex >= MAX_STREAMS)
    failWith(M_("Could not alloc stream"));

  const AVCodec *encoder = nullptr;
  AVCodecID codecId = AV_CODEC_ID_NONE;
  if (!SubtitleStreamCopy) {
    // Without a name the muxer's own subtitle codec, as for video and audio: a stream without
    // any codec could never be encoded and would fail the whole conversion.
    if (!ChooseEncoder(AContext, SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, encoder, codecId))
      failWith(ErrorMessage);
  }

  CodecContextPtr codec(avlib.avcodec_alloc_context3(encoder));
  if (!codec)
    failWith(M_("Could not alloc stream"));
  codec->codec_type = AVMEDIA_TYPE_SUBTITLE;

  Dictionary privateOptions;
  if (!SubtitleStreamCopy) {
    codec->codec_id = codecId;
    privateOptions.Items = ApplyEncoderOptions(codec.get(), AVMEDIA_TYPE_SUBTITLE,
                                               AV_OPT_FLAG_SUBTITLE_PARAM, encoder);
  }

  AVStream *stream = avlib.avformat_new_stream(AContext, nullptr);
  if (!stream)
    failWith(M_("Could not alloc stream"));
  SetLanguage(stream, SubtitleLanguage);

  StoreOutputStream(fileIndex, streamIndex, SubtitleStreamCopy, codec.release(),
                    privateOptions.Release());

  SubtitleDisable = false;
  avlib.av_freep(&SubtitleCodecName);
  SubtitleStreamCopy = false;
}

// Creates one output with its streams from the option state given for it and opens its file.
// On failure nothing of it stays in the tables or on disk.
bool TCustomFFmpeg::OpenOutputFile(const std::string &AFileName) {
  const int fileIndex = OutputFileCount;
  OutputContextPtr context;
  bool entered = false;
  bool created = false;
  auto fail = [&](const std::string &AMessage) {
    ErrorMessage = AMessage;
    ForgetOutputFile(fileIndex, entered);
    context.reset();
    // A file this opening created and then gave up on is not left behind empty.
    if (created)
      std::remove(AFileName.c_str());
    OutputFormat = nullptr;
    InputFormat = nullptr;
    return false;
  };

  try {
    CheckTableRoom(fileIndex, MaxFiles, MN_("output files"));
  } catch (const FFMpegException &e) {
    return fail(e.what());
  }
  const AVOutputFormat *format =
      OutputFormat ? OutputFormat : avlib.av_guess_format(nullptr, AFileName.c_str(), nullptr);
  if (!format)
    return fail(FillName(M_("Unable to find a suitable output format for '%s'"), AFileName));
  // Sets the muxer, its private defaults and the file name in one step.
  AVFormatContext *raw = nullptr;
  if (avlib.avformat_alloc_output_context2(&raw, format, nullptr, AFileName.c_str()) < 0 || !raw)
    return fail(ErrorText(AFileName, AVERROR(ENOMEM)));
  context.reset(raw);

  try {
    std::string error = AddOutputStreams(context.get(), fileIndex);
    if (!error.empty())
      return fail(error);
    SetOutputMetadata(context.get());
    OutputFiles[fileIndex] = context.get();
    OutputFileCount = fileIndex + 1;
    entered = true;
    error = OpenOutputTarget(context.get(), fileIndex, AFileName, created);
    if (!error.empty())
      return fail(error);
    SetMuxerOptions(context.get(), fileIndex);
  } catch (const std::exception &e) {
    // Nothing of a half-made file may stay in the tables.
    fail(e.what());
    throw;
  }

  (void)context.release(); // OutputFiles holds it from here
  OutputFormat = nullptr;
  InputFormat = nullptr;
  return true;
}

// Takes back everything of output AFileIndex: its encoder contexts, its options, its table
// entry (when AEntered).
void TCustomFFmpeg::ForgetOutputFile(int AFileIndex, bool AEntered) {
  if (AFileIndex >= MaxFiles)
    return;
  for (int s = 0; s < MAX_STREAMS; ++s) {
    avlib.avcodec_free_context(&OutputCodecs[AFileIndex][s]);
    avlib.av_dict_free(&OutputCodecOptions[AFileIndex][s]);
    OutputStreamCopy[AFileIndex][s] = false;
    OutputStreamGenerated[AFileIndex][s] = false;
  }
  avlib.av_dict_free(&OutputFormatOptions[AFileIndex]);
  OutputFileIds[AFileIndex][0] = OutputFileIds[AFileIndex][1] = 0;
  if (AEntered) {
    OutputFiles[AFileIndex] = nullptr;
    OutputFileCount = AFileIndex;
  }
}

// The video, sound and subtitle streams the muxer and the inputs call for. Returns the reason
// when one cannot be made, else an empty text.
std::string TCustomFFmpeg::AddOutputStreams(AVFormatContext *AContext, int AFileIndex) {
  const AVOutputFormat *format = AContext->oformat;
  // Streaming feeds ("ffm") are gone from the libraries: every output is an ordinary file.
  bool wantVideo = VideoStreamCopy || format->video_codec != AV_CODEC_ID_NONE || VideoCodecName;
  bool wantAudio = AudioStreamCopy || format->audio_codec != AV_CODEC_ID_NONE || AudioCodecName;
  bool wantSubtitle =
      SubtitleStreamCopy || format->subtitle_codec != AV_CODEC_ID_NONE || SubtitleCodecName;
  bool generateVideo = false, generateAudio = false;
  if (InputFileCount > 0) {
    bool hasVideo, hasAudio, hasSubtitle;
    try {
      CheckInputStreamKinds(hasVideo, hasAudio, hasSubtitle);
    } catch (const std::exception &e) {
      return FillName(M_("check_audio_video_sub_inputs fail: %s"), e.what());
    }
    // The PSP muxer refuses a file without exactly one video and one audio stream: what the
    // inputs lack is made (black pictures, silence), encoded with the current options.
    if (std::strcmp(format->name, "psp") == 0) {
      generateVideo = !hasVideo && hasAudio && !VideoStreamCopy;
      generateAudio = !hasAudio && hasVideo && !AudioStreamCopy;
    }
    wantVideo = (wantVideo && hasVideo) || generateVideo;
    wantAudio = (wantAudio && hasAudio) || generateAudio;
    wantSubtitle = wantSubtitle && hasSubtitle;
  }
  if (AFileIndex < MaxFiles)
    for (bool &generated : OutputStreamGenerated[AFileIndex])
      generated = false;

  if (wantVideo && !VideoDisable) {
    // Without a picture to scale from, the frame size must be given.
    if (generateVideo && (FrameWidth <= 0 || FrameHeight <= 0))
      return M_("new_video_stream fail: the inputs have no video stream and no frame size "
                "was given to make one");
    try {
      NewVideoStream(AContext);
    } catch (const std::exception &e) {
      return FillName(M_("new_video_stream fail: %s"), e.what());
    }
    OutputStreamGenerated[AFileIndex][AContext->nb_streams - 1] = generateVideo;
  }
  if (wantAudio && !AudioDisable) {
    try {
      NewAudioStream(AContext);
    } catch (const std::exception &e) {
      return FillName(M_("new_audio_stream fail: %s"), e.what());
    }
    OutputStreamGenerated[AFileIndex][AContext->nb_streams - 1] = generateAudio;
  }
  if (wantSubtitle && !SubtitleDisable) {
    try {
      NewSubtitleStream(AContext);
    } catch (const std::exception &e) {
      // The reason, like the two above: the file name alone would not say what went wrong.
      return FillName(M_("new_subtitle_stream fail: %s"), e.what());
    }
  }
  return std::string();
}

// Title, author and the rest of the file's description, clipped to the sizes once stored.
void TCustomFFmpeg::SetOutputMetadata(AVFormatContext *AContext) {
  auto setMetadata = [&](const char *AKey, const std::string &AValue, size_t AMaxBytes) {
    if (!AValue.empty())
      avlib.av_dict_set(&AContext->metadata, AKey, Clip(AValue, AMaxBytes).c_str(), 0);
  };
  setMetadata("title", Title, 511);
  setMetadata("artist", Author, 511);
  setMetadata("copyright", Copyright, 511);
  setMetadata("comment", Comment, 511);
  setMetadata("album", Album, 511);
  if (Year > 0)
    setMetadata("date", std::to_string(Year), 31);
  if (Track > 0)
    setMetadata("track", std::to_string(Track), 31);
  setMetadata("genre", Genre, 31);
  if (RecTimestamp != 0) {
    // The muxers read the recording time from "creation_time" (ISO 8601, UTC).
    const time_t seconds = static_cast<time_t>(RecTimestamp);
    struct tm utc;
    char text[64];
    if (gmtime_r(&seconds, &utc) &&
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc))
      avlib.av_dict_set(&AContext->metadata, "creation_time", text, 0);
  }
}

// Opens the file itself (an existing one is overwritten without asking) and notes which file it
// is, so that only this one is ever removed. Returns the reason of a failure, else empty.
std::string TCustomFFmpeg::OpenOutputTarget(AVFormatContext *AContext, int AFileIndex,
                                            const std::string &AFileName, bool &ACreated) {
  const AVOutputFormat *format = AContext->oformat;
  if ((format->flags & AVFMT_NEEDNUMBER) && avlib.av_filename_number_test(AContext->url) == 0)
    return ErrorText(AContext->url, AVERROR(EDOM));
  if (format->flags & AVFMT_NOFILE)
    return std::string();
  const int opened =
      avlib.avio_open(&AContext->pb, LocalFileUrl(AFileName).c_str(), AVIO_FLAG_WRITE);
  if (opened == AVERROR(ENOSPC) || opened == AVERROR(EDQUOT))
    return ErrorText(FillName(M_("Could not open '%s'"), AFileName), opened);
  if (opened < 0)
    return FillName(M_("Could not open '%s'"), AFileName);
  ACreated = true;
  struct stat st;
  if (::stat(AContext->url, &st) == 0) {
    OutputFileIds[AFileIndex][0] = st.st_dev;
    OutputFileIds[AFileIndex][1] = st.st_ino;
  }
  return std::string();
}

// The muxing parameters, checked when the header is written (set-up); preload and loop now
// live among the private options of the muxers that know them.
void TCustomFFmpeg::SetMuxerOptions(AVFormatContext *AContext, int AFileIndex) {
  const AVOutputFormat *format = AContext->oformat;
  AContext->max_delay = MicrosecondsOption(MuxMaxDelay);
  if (FormatDefaults)
    ApplyContextOptions(AContext, FormatDefaults, AV_OPT_FLAG_ENCODING_PARAM);
  Dictionary muxerOptions(CopyPrivateOptions(-1, format->priv_class));
  if (MuxerHasOption(format, "preload") &&
      !avlib.av_dict_get(muxerOptions.Items, "preload", nullptr, 0))
    avlib.av_dict_set(&muxerOptions.Items, "preload",
                      std::to_string(MicrosecondsOption(MuxPreload)).c_str(), 0);
  if (MuxerHasOption(format, "loop") && !avlib.av_dict_get(muxerOptions.Items, "loop", nullptr, 0))
    avlib.av_dict_set(&muxerOptions.Items, "loop", std::to_string(LoopOutput).c_str(), 0);
  avlib.av_dict_free(&OutputFormatOptions[AFileIndex]);
  OutputFormatOptions[AFileIndex] = muxerOptions.Release();
}
