// Opening input files: demuxer parameters from the option state, stream information, the start
// seek, and the take-over of the input's picture and sound parameters into the option state.
#include "engine/custom_ffmpeg.h"
#include "engine/key_seek.h"
#include "engine/picture_ops.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/transcode_types.h"
#include "medialib/medialib.h"
#include "medialib/words.h"

namespace {

struct InputCloser {
  void operator()(AVFormatContext *AContext) const { avlib.avformat_close_input(&AContext); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;

struct CodecContextFree {
  void operator()(AVCodecContext *AContext) const { avlib.avcodec_free_context(&AContext); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;

// An AVDictionary that is freed with its owner, whatever path is taken.
struct Dictionary {
  AVDictionary *Items = nullptr;
  Dictionary() = default;
  Dictionary(const Dictionary &) = delete;
  Dictionary &operator=(const Dictionary &) = delete;
  ~Dictionary() { avlib.av_dict_free(&Items); }
  void Set(const char *AKey, const std::string &AValue) {
    avlib.av_dict_set(&Items, AKey, AValue.c_str(), 0);
  }
};

// RealMedia files often come without a decoder pixel format; any non-empty beginning of
// ".rmvb" counts (".r", ".rm", ".rmv", ".rmvb"), in any case.
bool HasRealMediaExtension(const std::string &AFileName) {
  const auto slash = AFileName.find_last_of("/\\");
  const auto dot = AFileName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return false;
  std::string ext = AFileName.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  static const std::string rmvb = ".rmvb";
  return ext.size() >= 2 && ext.size() <= rmvb.size() && rmvb.compare(0, ext.size(), ext) == 0;
}

} // namespace

std::string TCustomFFmpeg::ErrorText(const std::string &AFileName, int AResultCode) {
  // The file name is filled in, never used as a format: it may hold '%'.
  const char *text;
  if (AResultCode == AVERROR_INVALIDDATA || AResultCode == AVERROR_DEMUXER_NOT_FOUND)
    text = M_("%s: Unknown format");
  else if (AResultCode == AVERROR(EDOM))
    text = M_("%s: Incorrect image filename syntax.\r\n"
              "Use '%%d' to specify the image number:\r\n"
              "  for img1.jpg, img2.jpg, ..., use 'img%%d.jpg';\r\n"
              "  for img001.jpg, img002.jpg, ..., use 'img%%03d.jpg'.");
  else if (AResultCode == AVERROR(EINVAL))
    text = M_("%s: Error while parsing header");
  else if (AResultCode == AVERROR(ENOMEM))
    text = M_("%s: memory allocation error occurred");
  else if (AResultCode == AVERROR(EIO))
    text = M_("%s: I/O error occurred\r\n"
              "Usually that means that input file is truncated and/or corrupted.");
  else if (AResultCode == AVERROR(ENOENT))
    text = M_("%s: no such file or directory");
  else if (AResultCode == AVERROR(ENOSPC) || AResultCode == AVERROR(EDQUOT))
    text = M_("%s: No space left on device"); // a full disk is called so, wherever it strikes
  else
    text = M_("%s: Error while opening file");
  return FillName(text, AFileName);
}

bool TCustomFFmpeg::LookupCodec(const char *AName, int AMediaType, bool AEncoder,
                                AVCodecID &ACodecId) {
  ACodecId = AV_CODEC_ID_NONE;
  if (!AName)
    return true;
  const AVCodec *codec = AEncoder ? avlib.avcodec_find_encoder_by_name(AName)
                                  : avlib.avcodec_find_decoder_by_name(AName);
  if (!codec) {
    ErrorMessage =
        FillName(AEncoder ? M_("Unknown encoder '%s'") : M_("Unknown decoder '%s'"), AName);
    return false;
  }
  if (codec->type != AMediaType) {
    ErrorMessage = FillName(
        AEncoder ? M_("Invalid encoder type '%s'") : M_("Invalid decoder type '%s'"), AName);
    return false;
  }
  ACodecId = codec->id;
  return true;
}

std::string TCustomFFmpeg::FormatNameOf(const std::string &AName) {
  if (AName != "pgmyuv")
    return AName;
  PgmyuvCompatibilityHack = true;
  Log(1, "pgmyuv format is deprecated, use image2");
  return "image2";
}

void TCustomFFmpeg::SetInputFormat(const std::string &AName) {
  if (AName.empty())
    return;
  const std::string name = FormatNameOf(AName);
  const AVInputFormat *format = avlib.av_find_input_format(name.c_str());
  if (!format)
    throw FFMpegException(FillName(M_("Unknown input format: %s"), name));
  InputFormat = format;
}

void TCustomFFmpeg::SetStartTime(int64_t AMicroseconds) {
  if (AMicroseconds > 0)
    StartTime = AMicroseconds;
}

void TCustomFFmpeg::SetProgramId(int AId) {
  if (AId >= 0)
    ProgramId = AId;
}

void TCustomFFmpeg::ResetInputOptions() {
  avlib.av_freep(&VideoCodecName);
  avlib.av_freep(&AudioCodecName);
  avlib.av_freep(&SubtitleCodecName);
  InputFormat = nullptr;
  OutputFormat = nullptr;
  VideoChannel = 0;
  RateEmu = false;
}

// Opens one input with the option state given for it, and takes over its picture and sound
// parameters. The input options are reset whatever the outcome.
bool TCustomFFmpeg::OpenInputFile(const std::string &AFileName) {
  const int fileIndex = InputFileCount;
  auto fail = [this]() {
    ResetInputOptions();
    return false;
  };
  // A full table is an ordinary failure of the opening, reported like the others.
  try {
    CheckTableRoom(fileIndex, MaxFiles, MN_("input files"));
  } catch (const FFMpegException &e) {
    ErrorMessage = e.what();
    return fail();
  }
  AVFormatContext *raw = NewInputContext(AFileName);
  if (!raw)
    return fail();
  Dictionary parameters;
  SetDemuxerParameters(parameters.Items);
  // On failure the library frees the context it was given.
  int result = avlib.avformat_open_input(&raw, LocalFileUrl(AFileName).c_str(), InputFormat,
                                         &parameters.Items);
  if (result < 0) {
    ErrorMessage = ErrorText(AFileName, InputOpenErrorCode(result, AFileName, InputFormat));
    return fail();
  }
  InputPtr context(raw);

  if (ProgramId != 0) {
    for (unsigned i = 0; i < context->nb_programs; ++i)
      if (context->programs[i]->id != ProgramId)
        context->programs[i]->discard = AVDISCARD_ALL;
  }
  {
    std::lock_guard<std::recursive_mutex> lock(CodecLock);
    result = avlib.avformat_find_stream_info(context.get(), nullptr);
  }
  if (result < 0 && Verbose >= 0) {
    ErrorMessage = FillName(M_("%s: could not find codec parameters"), AFileName);
    return fail();
  }

  int64_t timestamp = StartTime;
  if (context->start_time != AV_NOPTS_VALUE)
    timestamp += context->start_time;
  InputCutAtStart[fileIndex] = StartTime > 0 && !CopyTs;
  if (StartTime != 0) {
    // Decoding starts at the key picture before the start; what comes before it is dropped.
    SeekToKeyBefore(
        context.get(), -1, timestamp,
        avlib.av_find_best_stream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0));
    StartTime = 0;
  }

  // The engine's decoder context of each stream; kept only when the whole opening succeeds.
  std::vector<CodecContextPtr> codecs;
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    CodecContextPtr codec(InputStreamCodec(context.get(), i, fileIndex, AFileName));
    if (!codec)
      return fail();
    codecs.push_back(std::move(codec));
  }
  EnterInputFile(context.get(), fileIndex, timestamp, AFileName);
  for (auto &codec : codecs)
    InputCodecs[fileIndex].push_back(codec.release());
  InputFiles[fileIndex] = context.release();
  ++InputFileCount;

  ResetInputOptions();
  return true;
}

// A format context for the next input, with the forced format's options and decoders; nullptr
// with ErrorMessage when a decoder name is wrong or memory runs out.
AVFormatContext *TCustomFFmpeg::NewInputContext(const std::string &AFileName) {
  // Forced decoders, also the first check of the codec names given for this input.
  AVCodecID videoId, audioId, subtitleId;
  if (!LookupCodec(VideoCodecName, AVMEDIA_TYPE_VIDEO, false, videoId) ||
      !LookupCodec(AudioCodecName, AVMEDIA_TYPE_AUDIO, false, audioId) ||
      !LookupCodec(SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false, subtitleId))
    return nullptr;
  if (PgmyuvCompatibilityHack)
    videoId = AV_CODEC_ID_PGMYUV;

  AVFormatContext *raw = avlib.avformat_alloc_context();
  if (!raw) {
    ErrorMessage = ErrorText(AFileName, AVERROR(ENOMEM));
    return nullptr;
  }
  if (FormatDefaults) {
    try {
      ApplyContextOptions(raw, FormatDefaults, AV_OPT_FLAG_DECODING_PARAM);
    } catch (...) {
      avlib.avformat_free_context(raw);
      throw;
    }
  }
  raw->video_codec_id = videoId;
  raw->audio_codec_id = audioId;
  raw->subtitle_codec_id = subtitleId;
  // The named decoder itself, which need not be the first one of its codec id.
  auto decoder = [](const char *AName, AVCodecID AId) -> const AVCodec * {
    if (AName)
      return avlib.avcodec_find_decoder_by_name(AName);
    return AId != AV_CODEC_ID_NONE ? avlib.avcodec_find_decoder(AId) : nullptr;
  };
  raw->video_codec = decoder(PgmyuvCompatibilityHack ? nullptr : VideoCodecName, videoId);
  raw->audio_codec = decoder(AudioCodecName, audioId);
  raw->subtitle_codec = decoder(SubtitleCodecName, subtitleId);
  return raw;
}

// Demuxer parameters: only the demuxers that know a name read it; the rest stay unused.
void TCustomFFmpeg::SetDemuxerParameters(AVDictionary *&AParameters) {
  auto set = [&](const char *AKey, const std::string &AValue) {
    avlib.av_dict_set(&AParameters, AKey, AValue.c_str(), 0);
  };
  if (FrameRate.num != 0 && FrameRate.den != 0)
    set("framerate", std::to_string(FrameRate.num) + "/" + std::to_string(FrameRate.den));
  if (AudioSampleRate > 0)
    set("sample_rate", std::to_string(AudioSampleRate));
  if (AudioChannels > 0)
    set("channels", std::to_string(AudioChannels));
  const int width = FrameWidth + PadLeft + PadRight;
  const int height = FrameHeight + PadTop + PadBottom;
  if (width > 0 && height > 0)
    set("video_size", std::to_string(width) + "x" + std::to_string(height));
  if (FramePixFmt >= 0) {
    if (const char *name = avlib.av_get_pix_fmt_name(static_cast<AVPixelFormat>(FramePixFmt)))
      set("pixel_format", name);
  }
  if (VideoChannel != 0)
    set("channel", std::to_string(VideoChannel));
  if (VideoStandard)
    set("standard", VideoStandard);
  if (LoopInput)
    set("loop", "1");
}

// The engine's decoder context of stream AIndex, with the generic options of its type; its
// parameters become the option state. Nullptr with ErrorMessage when it cannot be used.
AVCodecContext *TCustomFFmpeg::InputStreamCodec(AVFormatContext *AContext, unsigned AIndex,
                                                int AFileIndex, const std::string &AFileName) {
  AVStream *stream = AContext->streams[AIndex];
  CodecContextPtr codec(avlib.avcodec_alloc_context3(nullptr));
  if (!codec || avlib.avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0) {
    ErrorMessage = ErrorText(AFileName, AVERROR(ENOMEM));
    return nullptr;
  }
  codec->pkt_timebase = stream->time_base;
  codec->thread_count = ThreadCount;

  switch (codec->codec_type) {
  case AVMEDIA_TYPE_AUDIO:
    if (CodecDefaults[AVMEDIA_TYPE_AUDIO])
      ApplyContextOptions(codec.get(), CodecDefaults[AVMEDIA_TYPE_AUDIO],
                          AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
    // An unknown count or rate (0) would only break the output created from it.
    if (codec->ch_layout.nb_channels > 0)
      AudioChannels = codec->ch_layout.nb_channels;
    if (codec->sample_rate > 0)
      AudioSampleRate = codec->sample_rate;
    if (AudioDisable)
      stream->discard = AVDISCARD_ALL;
    break;
  case AVMEDIA_TYPE_VIDEO:
    if (!TakeInputPicture(AContext, stream, codec.get(), AFileIndex, AFileName))
      return nullptr;
    break;
  case AVMEDIA_TYPE_SUBTITLE:
    if (SubtitleDisable)
      stream->discard = AVDISCARD_ALL;
    break;
  case AVMEDIA_TYPE_DATA:
  case AVMEDIA_TYPE_ATTACHMENT:
  case AVMEDIA_TYPE_UNKNOWN:
    break;
  default:
    throw FFMpegException(M_("invalid codec_type"));
  }
  return codec.release();
}

// A video stream's size, aspect, format and rate become the option state, as its viewer sees
// them. False with ErrorMessage for a picture nobody could scale.
bool TCustomFFmpeg::TakeInputPicture(AVFormatContext *AContext, AVStream *AStream,
                                     AVCodecContext *ACodec, int AFileIndex,
                                     const std::string &AFileName) {
  if (CodecDefaults[AVMEDIA_TYPE_VIDEO])
    ApplyContextOptions(ACodec, CodecDefaults[AVMEDIA_TYPE_VIDEO],
                        AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
  FrameHeight = ACodec->height;
  FrameWidth = ACodec->width;
  const AVRational sar = avlib.av_guess_sample_aspect_ratio(AContext, AStream, nullptr);
  FrameAspectRatio =
      ACodec->height > 0 ? static_cast<float>(av_q2d(sar) * ACodec->width / ACodec->height) : 0.0f;
  // No sample aspect: square pixels, the display aspect is width / height.
  if (FrameAspectRatio == 0 && ACodec->height > 0)
    FrameAspectRatio = static_cast<float>(ACodec->width) / static_cast<float>(ACodec->height);
  // An output without a size of its own gets the picture as its viewer sees it.
  if (PictureTurnOf(AStream).Transpose) {
    std::swap(FrameWidth, FrameHeight);
    if (FrameAspectRatio > 0)
      FrameAspectRatio = 1 / FrameAspectRatio;
  }
  if (ACodec->pix_fmt == AV_PIX_FMT_NONE && HasRealMediaExtension(AFileName)) {
    ACodec->pix_fmt = AV_PIX_FMT_YUV420P;
    AStream->codecpar->format = AV_PIX_FMT_YUV420P;
  }
  // A damaged stream without a known picture format or size would reach the scaler's set-up,
  // where the library ends the process. Refused here, before any output exists; a stream
  // without a decoder fails later with its own message.
  // (A file opened for one program of several may leave the others' streams undescribed.)
  if (!VideoDisable && ProgramId == 0 && avlib.avcodec_find_decoder(ACodec->codec_id) &&
      (ACodec->pix_fmt == AV_PIX_FMT_NONE || ACodec->width <= 0 || ACodec->height <= 0)) {
    ErrorMessage = FormatText(M_("Cannot determine the picture format of input stream #%d.%d"),
                              AFileIndex, AStream->index);
    return false;
  }
  FramePixFmt = ACodec->pix_fmt;
  // Edge emulation and the motion-vector debug bit that MeThreshold once needed are gone
  // from the libraries: decoders handle edges themselves.
  FrameRate = AStream->r_frame_rate.num != 0 ? AStream->r_frame_rate : AStream->avg_frame_rate;
  if (VideoDisable)
    AStream->discard = AVDISCARD_ALL;
  else if (VideoDiscard != 0)
    AStream->discard = static_cast<AVDiscard>(VideoDiscard);
  return true;
}

// The file's length, clock offset and rate emulation into the tables; stale decoder contexts
// of the slot go.
void TCustomFFmpeg::EnterInputFile(AVFormatContext *AContext, int AFileIndex, int64_t ATimestamp,
                                   const std::string &AFileName) {
  if (AContext->duration != AV_NOPTS_VALUE) {
    const int64_t durationMs = std::min<int64_t>(AContext->duration / 1000, INT_MAX);
    if (durationMs > OutputDurationMs)
      OutputDurationMs = static_cast<int>(durationMs);
  }
  // A file without a start time (damaged ones) starts at its first timestamp, which the loop
  // takes as it reads it; counting from 0 could mean hours of nothing before the first picture.
  InputStartUnknown[AFileIndex] = !CopyTs && AContext->start_time == AV_NOPTS_VALUE;
  InputTsOffsets[AFileIndex] =
      CopyTs || InputStartUnknown[AFileIndex] ? InputTsOffset : InputTsOffset - ATimestamp;
  InputRateEmu[AFileIndex] = RateEmu;
  if (Verbose >= 0)
    avlib.av_dump_format(AContext, AFileIndex, AFileName.c_str(), 0);

  // A slot above the count holds nothing in use; whatever is left there is stale.
  for (AVCodecContext *&stale : InputCodecs[AFileIndex])
    avlib.avcodec_free_context(&stale);
  InputCodecs[AFileIndex].clear();
}
