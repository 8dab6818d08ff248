#include "probe/av_probe.h"

#include <strings.h>

#include <algorithm>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "engine/engine_error.h"
#include "engine/key_seek.h"
#include "engine/text.h"
#include "medialib/medialib.h"
#include "medialib/words.h"

namespace {

// Diagnostics go to the library's log (null source), so they reach the converter's OnLog
// like the library's own messages. ALevel is in the program's numbering.
void probeLog(int ALevel, const char *AFormat, ...) __attribute__((format(printf, 2, 3)));
void probeLog(int ALevel, const char *AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  const std::string text = FormatTextV(AFormat, args);
  va_end(args);
  avlib.av_log(nullptr, ToLibraryLogLevel(ALevel), "%s", text.c_str());
}

std::string formatText(const char *AFormat, const std::string &AText) {
  return FillName(AFormat, AText);
}

// What the scaler may write past the last row of a packed picture: a row and a little more.
size_t ScalerSlack(int AStride) { return static_cast<size_t>(AStride) + 64; }

template <size_t N> void copyText(char (&ATarget)[N], const char *ASource) {
  std::memset(ATarget, 0, N);
  if (ASource)
    avlib.av_strlcpy(ATarget, ASource, N);
}

const char *metadataValue(AVDictionary *AMetadata, const char *AKey,
                          const char *AOtherKey = nullptr) {
  const AVDictionaryEntry *entry = avlib.av_dict_get(AMetadata, AKey, nullptr, 0);
  if (!entry && AOtherKey)
    entry = avlib.av_dict_get(AMetadata, AOtherKey, nullptr, 0);
  return entry ? entry->value : nullptr;
}

// Leading number of a metadata text such as "2007-05-01" or "3/12"; 0 when there is none.
int32_t metadataNumber(AVDictionary *AMetadata, const char *AKey, const char *AOtherKey) {
  const char *value = metadataValue(AMetadata, AKey, AOtherKey);
  return value ? static_cast<int32_t>(std::strtol(value, nullptr, 10)) : 0;
}

} // namespace

TAVProbe::TAVProbe() { UpdateStreamCounts(); }

TAVProbe::~TAVProbe() {
  CloseFile();
  if (FPacket)
    avlib.av_packet_free(&FPacket);
  if (FFrame)
    avlib.av_frame_free(&FFrame);
  if (FHeldFrame)
    avlib.av_frame_free(&FHeldFrame);
}

void TAVProbe::CheckLibraries() {
  if (!AVCodecLoaded())
    throw FFMpegException(M_("LibAVCodec not loaded."));
  if (!AVFormatLoaded())
    throw FFMpegException(M_("LibAVFormat not loaded."));
  if (!AVUtilLoaded())
    throw FFMpegException(M_("LibAVUtil not loaded."));
  if (!SwScaleLoaded())
    throw FFMpegException(M_("LibSwScale not loaded."));
}

std::string TAVProbe::OpenErrorText(const std::string &AFileName, int AResultCode) {
  // Matched by meaning: the library's codes are this platform's errno values.
  if (AResultCode == AVERROR_INVALIDDATA || AResultCode == AVERROR_DEMUXER_NOT_FOUND)
    return formatText(M_("%s: Unknown format"), AFileName);
  if (AResultCode == AVERROR(EDOM))
    return formatText(M_("%s: Incorrect image filename syntax.\r\n"
                         "Use '%%d' to specify the image number:\r\n"
                         "  for img1.jpg, img2.jpg, ..., use 'img%%d.jpg';\r\n"
                         "  for img001.jpg, img002.jpg, ..., use 'img%%03d.jpg'."),
                      AFileName);
  if (AResultCode == AVERROR(EINVAL))
    return formatText(M_("%s: Error while parsing header"), AFileName);
  if (AResultCode == AVERROR(ENOMEM))
    return formatText(M_("%s: memory allocation error occurred"), AFileName);
  if (AResultCode == AVERROR(EIO))
    return formatText(M_("%s: I/O error occurred\r\n"
                         "Usually that means that input file is truncated and/or corrupted."),
                      AFileName);
  if (AResultCode == AVERROR(ENOENT))
    return formatText(M_("%s: no such file or directory"), AFileName);
  return formatText(M_("%s: Error while opening file"), AFileName);
}

bool TAVProbe::LoadFile(const std::string &AFileName, const std::string &AFormat) {
  CheckLibraries();
  CloseFile();

  const AVInputFormat *format = nullptr;
  if (!AFormat.empty()) {
    format = avlib.av_find_input_format(AFormat.c_str());
    if (!format) {
      FLastErrorMessage = formatText(M_("Unknown input format: %s"), AFormat);
      return false;
    }
  }

  AVFormatContext *context = avlib.avformat_alloc_context();
  if (!context) {
    FLastErrorMessage = OpenErrorText(AFileName, AVERROR(ENOMEM));
    return false;
  }
  if (FStop) {
    context->interrupt_callback.callback = [](void *AStop) {
      return static_cast<const std::atomic<bool> *>(AStop)->load() ? 1 : 0;
    };
    context->interrupt_callback.opaque = const_cast<std::atomic<bool> *>(FStop);
  }
  // On failure the library frees the context itself.
  const int result =
      avlib.avformat_open_input(&context, LocalFileUrl(AFileName).c_str(), format, nullptr);
  if (result < 0) {
    FLastErrorMessage = OpenErrorText(AFileName, InputOpenErrorCode(result, AFileName, format));
    CloseFile();
    return false;
  }
  FFormatContext = context;

  int found;
  {
    std::lock_guard<std::recursive_mutex> lock(CodecLock);
    found = avlib.avformat_find_stream_info(FFormatContext, nullptr);
  }
  if (found < 0) {
    FLastErrorMessage = formatText(M_("%s: could not find codec parameters"), AFileName);
    CloseFile();
    return false;
  }

  UpdateStreamCounts();
  FLoadedFormat = AFormat;
  FFileName = AFileName;
  return true;
}

void TAVProbe::UpdateStreamCounts() {
  FStreamCount = FProgramCount = -1;
  FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = -1;
  FFirstAudioStream = FFirstVideoStream = FFirstSubtitleStream = -1;
  if (!FFormatContext)
    return;
  FStreamCount = static_cast<int>(FFormatContext->nb_streams);
  FProgramCount = static_cast<int>(FFormatContext->nb_programs);
  FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = 0;
  for (int i = 0; i < FStreamCount; ++i) {
    switch (FFormatContext->streams[i]->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      if (FVideoStreamCount++ == 0)
        FFirstVideoStream = i;
      break;
    case AVMEDIA_TYPE_AUDIO:
      if (FAudioStreamCount++ == 0)
        FFirstAudioStream = i;
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      if (FSubtitleStreamCount++ == 0)
        FFirstSubtitleStream = i;
      break;
    default:
      break;
    }
  }
}

void TAVProbe::CloseDecoder() {
  if (FDecoderContext) {
    std::lock_guard<std::recursive_mutex> lock(CodecLock);
    avlib.avcodec_free_context(&FDecoderContext);
  }
  FDecoderStream = -1;
  FDecoderDrained = false;
  FNextPictureHeld = false;
  FLastDecodedTime = FPictureTime = FLastPacketTime = AV_NOPTS_VALUE;
  if (FHeldFrame)
    avlib.av_frame_unref(FHeldFrame);
  FNextPictureHeld = false;
}

void TAVProbe::CloseFile() {
  FLoadedFormat.clear();
  FFileName.clear();
  FLastWasImage2 = false;
  if (FBitmap) { // its memory too: a closed probe may wait a long time (a panel in a long list)
    FBitmap->Resize(0, 0);
    std::vector<uint8_t>().swap(FBitmap->Pixels);
  }
  if (FSwsContext) {
    avlib.sws_freeContext(FSwsContext);
    FSwsContext = nullptr;
  }
  CloseDecoder();
  FPictureTarget = AV_NOPTS_VALUE;
  if (FFormatContext)
    avlib.avformat_close_input(&FFormatContext);
  if (FRGBBuffer)
    avlib.av_freep(&FRGBBuffer);
  FRGBBufferSize = 0;
  UpdateStreamCounts();
}

void TAVProbe::GetFileInfo(TAVFileInfo &AInfo) {
  AInfo = TAVFileInfo();
  if (!FFormatContext) {
    probeLog(1, "file not loaded.\n");
    return;
  }
  AInfo.StartTime = FFormatContext->start_time;
  AInfo.Duration = FFormatContext->duration;
  AInfo.BitRate = static_cast<int32_t>(FFormatContext->bit_rate);

  AVDictionary *metadata = FFormatContext->metadata;
  // The container's own timestamp became the creation-time tag.
  AInfo.Timestamp = 0;
  if (const char *created = metadataValue(metadata, "creation_time")) {
    int64_t microseconds = 0;
    if (avlib.av_parse_time(&microseconds, created, 0) >= 0)
      AInfo.Timestamp = microseconds / 1000000;
  }
  copyText(AInfo.Title, metadataValue(metadata, "title"));
  copyText(AInfo.Author, metadataValue(metadata, "author", "artist"));
  copyText(AInfo.Copyright, metadataValue(metadata, "copyright"));
  copyText(AInfo.Comment, metadataValue(metadata, "comment"));
  copyText(AInfo.Album, metadataValue(metadata, "album"));
  AInfo.Year = metadataNumber(metadata, "year", "date");
  AInfo.Track = metadataNumber(metadata, "track", nullptr);
  copyText(AInfo.Genre, metadataValue(metadata, "genre"));
}

void TAVProbe::GetVideoInfo(int AStreamIndex, TAVVideoInfo &AInfo) {
  AInfo = TAVVideoInfo();
  if (!FFormatContext) {
    probeLog(1, "file not loaded.\n");
    return;
  }
  if (AStreamIndex < 0) {
    AStreamIndex = FFirstVideoStream;
    if (AStreamIndex == -1) {
      probeLog(0, M_("no video stream.\n"));
      return;
    }
  } else if (AStreamIndex >= FStreamCount) {
    probeLog(0, M_("stream index #%d is invalid.\n"), AStreamIndex);
    return;
  }
  const AVStream *stream = FFormatContext->streams[AStreamIndex];
  const AVCodecParameters *par = stream->codecpar;
  if (par->codec_type != AVMEDIA_TYPE_VIDEO) {
    probeLog(0, M_("stream #%d is not video stream.\n"), AStreamIndex);
    return;
  }

  const AVDictionaryEntry *language = avlib.av_dict_get(stream->metadata, "language", nullptr, 0);
  copyText(AInfo.Language, language ? language->value : nullptr);
  copyText(AInfo.CodecName, avlib.avcodec_get_name(par->codec_id));
  const AVRational microseconds = {1, 1000000};
  AInfo.StartTime = stream->start_time;
  if (stream->start_time != AV_NOPTS_VALUE)
    AInfo.StartTimeUS = avlib.av_rescale_q(stream->start_time, stream->time_base, microseconds);
  AInfo.Duration = stream->duration;
  if (stream->duration != AV_NOPTS_VALUE)
    AInfo.DurationUS = avlib.av_rescale_q(stream->duration, stream->time_base, microseconds);
  AInfo.BitRate = static_cast<int32_t>(par->bit_rate);
  AInfo.Height = par->height;
  AInfo.Width = par->width;
  // Some containers keep the sample aspect on the stream, others in the codec parameters.
  const AVRational sampleAspect =
      avlib.av_guess_sample_aspect_ratio(FFormatContext, const_cast<AVStream *>(stream), nullptr);
  if (sampleAspect.num == 0 || sampleAspect.den == 0 || par->height == 0 || par->width == 0)
    AInfo.DisplayAspect = 0;
  else
    AInfo.DisplayAspect = static_cast<float>(av_q2d(sampleAspect) * par->width / par->height);
  // The picture as its viewer sees it: a clip stored sideways reports its upright size.
  if (PictureTurnOf(stream).Transpose) {
    std::swap(AInfo.Width, AInfo.Height);
    if (AInfo.DisplayAspect > 0)
      AInfo.DisplayAspect = 1 / AInfo.DisplayAspect;
  }
  AInfo.PixelFormat = par->format;
  AInfo.FrameRateNum = stream->r_frame_rate.num;
  AInfo.FrameRateDen = stream->r_frame_rate.den;
  AInfo.Profile = par->profile;
  AInfo.Level = par->level;
}

AVMediaType TAVProbe::StreamType(int AStreamIndex) const {
  if (!FFormatContext || AStreamIndex < 0 || AStreamIndex >= FStreamCount)
    return AVMEDIA_TYPE_UNKNOWN;
  return FFormatContext->streams[AStreamIndex]->codecpar->codec_type;
}

std::string TAVProbe::StreamCodecName(int AStreamIndex) const {
  if (StreamType(AStreamIndex) == AVMEDIA_TYPE_UNKNOWN)
    return {};
  return avlib.avcodec_get_name(FFormatContext->streams[AStreamIndex]->codecpar->codec_id);
}

TAVStreamInfo TAVProbe::GetStreamInfo(int AStreamIndex) const {
  TAVStreamInfo info;
  if (StreamType(AStreamIndex) == AVMEDIA_TYPE_UNKNOWN)
    return info;
  const AVStream *stream = FFormatContext->streams[AStreamIndex];
  info.Index = AStreamIndex;
  info.Type = stream->codecpar->codec_type;
  info.CodecId = stream->codecpar->codec_id;
  if (const AVDictionaryEntry *tag = avlib.av_dict_get(stream->metadata, "language", nullptr, 0))
    if (std::strcmp(tag->value, "und") != 0)
      info.Language = tag->value;
  if (const AVDictionaryEntry *tag = avlib.av_dict_get(stream->metadata, "title", nullptr, 0))
    info.Title = tag->value;
  info.Channels = stream->codecpar->ch_layout.nb_channels;
  info.Default = (stream->disposition & AV_DISPOSITION_DEFAULT) != 0;
  info.Forced = (stream->disposition & AV_DISPOSITION_FORCED) != 0;
  return info;
}

std::string TAVProbe::GetFileName() {
  if (!FFormatContext) {
    probeLog(1, "file not loaded.\n");
    return std::string();
  }
  std::string name = FFileName;
  if (name.size() > 1024)
    name.resize(1024);
  return name;
}

std::string TAVProbe::GetFormatName() {
  if (!FFormatContext) {
    probeLog(1, "file not loaded.\n");
    return std::string();
  }
  return FFormatContext->iformat->name;
}

bool TAVProbe::DurationGuessed() const {
  return FFormatContext &&
         FFormatContext->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
}

// A still picture: there is nothing to seek and only one picture to decode. Files of one
// picture open with the image pipe demuxers ("png_pipe", "jpeg_pipe", ...) on this library
// generation, not with "image2", so those count as well.
bool TAVProbe::IsSingleImageFormat() const {
  if (!FFormatContext)
    return false;
  const char *name = FFormatContext->iformat->name;
  if (strcasecmp(name, "image2") == 0)
    return true;
  const size_t length = std::strlen(name);
  return length > 5 && std::strcmp(name + length - 5, "_pipe") == 0;
}

bool TAVProbe::Seek(int AStreamIndex, int64_t ATime) {
  if (!FFormatContext) {
    probeLog(1, "file not loaded.\n");
    FLastErrorMessage = M_("file not loaded.");
    return false;
  }
  if (IsSingleImageFormat()) {
    probeLog(1, "\"image2\" format cannot to be seeked.\n");
    return true;
  }
  int64_t time = ATime < 0 ? 0 : ATime;

  int streamIndex = AStreamIndex;
  if (AStreamIndex < 0) {
    streamIndex = FFirstVideoStream;
    if (streamIndex < 0)
      streamIndex = FFirstAudioStream;
    if (streamIndex < 0)
      streamIndex = FFirstSubtitleStream;
  } else if (AStreamIndex >= FStreamCount) {
    probeLog(0, M_("stream index #%d is invalid.\n"), AStreamIndex);
    return false;
  }

  int64_t start;
  if (streamIndex >= 0) {
    const AVStream *stream = FFormatContext->streams[streamIndex];
    // Down: the picture shown at a time between two pictures is the earlier one.
    time = avlib.av_rescale_q_rnd(time, AVRational{1, 1000000}, stream->time_base, AV_ROUND_DOWN);
    if (stream->duration > 0 && stream->duration < time)
      time = stream->duration;
    start = StartInStream(stream);
  } else {
    if (FFormatContext->duration > 0 && FFormatContext->duration < time)
      time = FFormatContext->duration;
    start = FFormatContext->start_time;
  }
  if (start != AV_NOPTS_VALUE)
    time += start;

  if (streamIndex >= 0 && streamIndex == FFirstVideoStream && DecodingOnReaches(time)) {
    // Stepping on through a film: no flush, no seek, no key picture decoded again.
    FPictureTarget = time;
    return true;
  }
  if (FDecoderContext) {
    avlib.avcodec_flush_buffers(FDecoderContext);
    FDecoderDrained = false;
  }

  FPictureTarget = AV_NOPTS_VALUE;
  FLastDecodedTime = FLastPacketTime = AV_NOPTS_VALUE;
  FNextPictureHeld = false;
  // Backwards to 0 reaches the first key frame also where the first decoding time lies
  // before the start time (streams with reordered pictures).
  bool sought;
  if (ATime > 0 || (streamIndex >= 0 && streamIndex == FFirstVideoStream)) {
    // The picture shown at the time: decoded forward from the key picture before it.
    sought = SeekToKeyBefore(FFormatContext, streamIndex, time, FFirstVideoStream);
    if (sought && streamIndex >= 0 && streamIndex == FFirstVideoStream)
      FPictureTarget = time;
  } else {
    sought = avlib.av_seek_frame(FFormatContext, streamIndex, 0, AVSEEK_FLAG_BACKWARD) >= 0;
  }
  if (!sought)
    probeLog(0, M_("could not seek to position %0.3f\n"), static_cast<double>(ATime) / 1000000);
  return true;
}

bool TAVProbe::ResolveVideoStream(int &AStreamIndex) {
  if (!FFormatContext) {
    probeLog(0, M_("file not loaded.\n"));
    return false;
  }
  if (AStreamIndex < 0) {
    AStreamIndex = FFirstVideoStream;
    if (AStreamIndex < 0) {
      probeLog(0, M_("no video stream.\n"));
      return false;
    }
  } else if (AStreamIndex >= FStreamCount) {
    probeLog(0, M_("stream index #%d is invalid.\n"), AStreamIndex);
    return false;
  }
  if (FFormatContext->streams[AStreamIndex]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
    probeLog(0, M_("stream #%d is not video stream.\n"), AStreamIndex);
    return false;
  }
  return true;
}

void TAVProbe::OpenDecoder(int AStreamIndex) {
  CloseDecoder();
  const AVStream *stream = FFormatContext->streams[AStreamIndex];
  const AVCodec *decoder = avlib.avcodec_find_decoder(stream->codecpar->codec_id);
  char message[256];
  if (!decoder) {
    std::snprintf(message, sizeof message,
                  M_("Unsupported codec (id=%d) for input file stream #%d"),
                  static_cast<int>(stream->codecpar->codec_id), AStreamIndex);
    throw FFMpegException(message);
  }
  std::snprintf(message, sizeof message, M_("Error while opening codec for input file stream #%d"),
                AStreamIndex);
  AVCodecContext *context = avlib.avcodec_alloc_context3(decoder);
  if (!context)
    throw FFMpegException(message);
  int result = avlib.avcodec_parameters_to_context(context, stream->codecpar);
  if (result >= 0) {
    context->pkt_timebase = stream->time_base;
    // The picture at a slider time is decoded from the key picture before it, up to seconds of
    // pictures: on all cores, as the person waits for it.
    context->thread_count = 0;
    std::lock_guard<std::recursive_mutex> lock(CodecLock);
    result = avlib.avcodec_open2(context, decoder, nullptr);
  }
  if (result < 0) {
    std::lock_guard<std::recursive_mutex> lock(CodecLock);
    avlib.avcodec_free_context(&context);
    throw FFMpegException(message);
  }
  FDecoderContext = context;
  FDecoderStream = AStreamIndex;
  FDecoderDrained = false;
}

bool TAVProbe::DecodeNextPicture() {
  for (;;) {
    // A packet may hold more than one picture: take what the decoder already has first.
    int result = avlib.avcodec_receive_frame(FDecoderContext, FFrame);
    if (result >= 0) {
      StampDecodedPicture();
      return true;
    }
    if (result != AVERROR(EAGAIN))
      return false; // drained, or the decoder gave up
    result = avlib.av_read_frame(FFormatContext, FPacket);
    if (result < 0) {
      if (FDecoderDrained)
        return false;
      // The end of the file: let the decoder give out the pictures it still holds.
      FDecoderDrained = true;
      avlib.avcodec_send_packet(FDecoderContext, nullptr);
      continue;
    }
    if (FPacket->stream_index == FDecoderStream) {
      if (FSkipBefore != AV_NOPTS_VALUE)
        ChooseSkipping(*FPacket);
      if (FPacket->dts != AV_NOPTS_VALUE || FPacket->pts != AV_NOPTS_VALUE)
        FLastPacketTime = FPacket->dts != AV_NOPTS_VALUE ? FPacket->dts : FPacket->pts;
      // A damaged packet is skipped like one that yields no picture yet.
      avlib.avcodec_send_packet(FDecoderContext, FPacket);
    }
    avlib.av_packet_unref(FPacket);
  }
}

int64_t TAVProbe::StartInStream(const AVStream *AStream) const {
  // Times count from the file's start, as a chosen part's do: the slider's picture is the
  // part's first one.
  return FFormatContext->start_time != AV_NOPTS_VALUE
             ? avlib.av_rescale_q(FFormatContext->start_time, AV_TIME_BASE_Q, AStream->time_base)
             : AStream->start_time;
}

void TAVProbe::StampDecodedPicture() {
  // A picture without a time of its own (AVI after a seek) follows the one before it.
  int64_t pts = FFrame->best_effort_timestamp;
  if (pts == AV_NOPTS_VALUE)
    pts = FFrame->pkt_dts;
  if (pts == AV_NOPTS_VALUE && FLastDecodedTime != AV_NOPTS_VALUE) {
    const AVStream *stream = FFormatContext->streams[FDecoderStream];
    const AVRational rate =
        stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0)
      pts = FLastDecodedTime + avlib.av_rescale_q(1, av_inv_q(rate), stream->time_base);
  }
  FFrame->best_effort_timestamp = pts;
  FLastDecodedTime = pts;
}

int64_t TAVProbe::FileTime(int64_t AStreamTime) const {
  if (!FFormatContext || AStreamTime == AV_NOPTS_VALUE || FDecoderStream < 0)
    return -1;
  const AVStream *stream = FFormatContext->streams[FDecoderStream];
  const int64_t start = StartInStream(stream);
  const int64_t time = AStreamTime - (start != AV_NOPTS_VALUE ? start : 0);
  // Up, so that Seek, which rounds down, comes back to this picture.
  return std::max<int64_t>(
      0, avlib.av_rescale_q_rnd(time, stream->time_base, AVRational{1, 1000000}, AV_ROUND_UP));
}

int64_t TAVProbe::PictureTime() const { return FileTime(FPictureTime); }

int64_t TAVProbe::NextPictureTime() const {
  return FNextPictureHeld && FPictureTarget == AV_NOPTS_VALUE
             ? FileTime(FHeldFrame->best_effort_timestamp)
             : -1;
}

bool TAVProbe::DecodingOnReaches(int64_t ATarget) const {
  if (!FDecoderContext || FDecoderStream != FFirstVideoStream || FDecoderDrained ||
      !FNextPictureHeld || FPictureTarget != AV_NOPTS_VALUE || FLastPacketTime == AV_NOPTS_VALUE)
    return false;
  const int64_t next = FHeldFrame->best_effort_timestamp;
  if (next == AV_NOPTS_VALUE || ATarget < next)
    return false;
  AVStream *stream = FFormatContext->streams[FDecoderStream];
  // A seek would go to this key picture: when the decoder has had it already, going on from
  // here decodes fewer pictures.
  const AVIndexEntry *key =
      avlib.avformat_index_get_entry_from_timestamp(stream, ATarget, AVSEEK_FLAG_BACKWARD);
  if (key)
    return key->timestamp <= FLastPacketTime;
  // Without an index: a short step on costs less than a key interval.
  return ATarget - next <= avlib.av_rescale_q(1, AVRational{1, 1}, stream->time_base);
}

// The next picture into FFrame: after an exact seek, the last picture that starts at or before
// the time (the one after it is held for the next call); else the next one decoded.
bool TAVProbe::NextPictureToShow() {
  const int64_t target = FPictureTarget;
  FPictureTarget = AV_NOPTS_VALUE;
  if (FNextPictureHeld && target == AV_NOPTS_VALUE) {
    std::swap(FFrame, FHeldFrame);
    FNextPictureHeld = false;
    return true;
  }
  if (target == AV_NOPTS_VALUE || FDecoderStream != FFirstVideoStream)
    return DecodeNextPicture();
  if (!FHeldFrame && !(FHeldFrame = avlib.av_frame_alloc()))
    throw FFMpegException(M_("memory allocation error occurred"));
  // Pictures more than a second before the time are decoded only where later ones need them.
  const AVRational base = FFormatContext->streams[FDecoderStream]->time_base;
  FSkipBefore = target - avlib.av_rescale_q(1, AVRational{1, 1}, base);
  const bool shown = DecodeTowards(target);
  FSkipBefore = AV_NOPTS_VALUE;
  FDecoderContext->skip_frame = AVDISCARD_DEFAULT;
  return shown;
}

void TAVProbe::ChooseSkipping(const AVPacket &APacket) {
  // A container that keeps no presentation times (AVI) gives its pictures' times by counting
  // them: there every picture is decoded.
  if (APacket.pts == AV_NOPTS_VALUE)
    FSkipBefore = AV_NOPTS_VALUE;
  const bool far =
      FSkipBefore != AV_NOPTS_VALUE && APacket.dts != AV_NOPTS_VALUE && APacket.dts < FSkipBefore;
  FDecoderContext->skip_frame = far ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
}

bool TAVProbe::DecodeTowards(int64_t ATarget) {
  const int64_t target = ATarget;
  // FHeldFrame holds a picture at or before the time (decoding on: the one after the picture
  // given last)
  bool held = FNextPictureHeld;
  FNextPictureHeld = false;
  for (;;) {
    if (!DecodeNextPicture()) {
      if (held)
        std::swap(FFrame, FHeldFrame);
      return held;
    }
    const int64_t pts = FFrame->best_effort_timestamp;
    if (pts != AV_NOPTS_VALUE && pts <= target) {
      avlib.av_frame_unref(FHeldFrame);
      avlib.av_frame_move_ref(FHeldFrame, FFrame);
      held = true;
      continue;
    }
    if (held) { // this one starts after the time: it is the next to show
      std::swap(FFrame, FHeldFrame);
      FNextPictureHeld = true;
    }
    return true;
  }
}

bool TAVProbe::ConvertPicture(const TPictureTurn &ATurn) {
  TBGRImage &bitmap = *FBitmap;
  const AVFrame &frame = *FFrame;
  // The picture as stored, then turned as the viewer sees it.
  int width = bitmap.Width, height = bitmap.Height;
  TurnedSize(ATurn, width, height);
  auto deliver = [&](const uint8_t *ARows, int ALinesize) {
    if (!ATurn.None()) {
      TurnPlane(bitmap.Row(0), bitmap.Stride, ARows, ALinesize, width, height, 3, ATurn);
      return;
    }
    for (int y = 0; y < height; ++y)
      std::memcpy(bitmap.Row(y), ARows + static_cast<ptrdiff_t>(y) * ALinesize,
                  static_cast<size_t>(width) * 3);
  };
  if (frame.format == AV_PIX_FMT_BGR24 && frame.width == width && frame.height == height) {
    deliver(frame.data[0], frame.linesize[0]);
    return true;
  }

  // Full-range, deep-colour and HD pictures each need the scaler told what they are, or their
  // colours come out washed, crushed or shifted.
  TScalerSetup scaler;
  scaler.SrcWidth = frame.width;
  scaler.SrcHeight = frame.height;
  scaler.SetSource(static_cast<AVPixelFormat>(frame.format), frame.color_range, frame.colorspace);
  scaler.DstWidth = width;
  scaler.DstHeight = height;
  scaler.SetDestination(AV_PIX_FMT_BGR24, AVCOL_RANGE_JPEG);
  scaler.Flags = SWS_BICUBIC;
  if (ATurn.None()) {
    // Straight into the bitmap: of a 16000x16000 picture a second copy is another 768 MB.
    // GetFrameBitmap left room past the last row for what the scaler writes beyond it.
    if (!FitScaler(FSwsContext, FSwsSetup, scaler)) {
      probeLog(0, M_("Cannot initialize the toRGB conversion context\n"));
      return false;
    }
    bitmap.Pixels.resize(bitmap.Pixels.size() + ScalerSlack(bitmap.Stride));
    uint8_t *const rows[4] = {bitmap.Row(0), nullptr, nullptr, nullptr};
    const int strides[4] = {bitmap.Stride, 0, 0, 0};
    avlib.sws_scale(FSwsContext, frame.data, frame.linesize, 0, frame.height, rows, strides);
    bitmap.Pixels.resize(static_cast<size_t>(bitmap.Stride) * static_cast<size_t>(bitmap.Height));
    return true;
  }

  // Aligned rows keep the scaler on its fast path.
  constexpr int align = 32;
  // One row more than the picture: the scaler writes a few bytes past the last row of very
  // narrow pictures (2x4096).
  const int needed = avlib.av_image_get_buffer_size(AV_PIX_FMT_BGR24, width, height + 1, align);
  if (needed < 0)
    return false;
  if (FRGBBufferSize < needed) {
    avlib.av_freep(&FRGBBuffer);
    FRGBBufferSize = 0;
    FRGBBuffer = static_cast<uint8_t *>(avlib.av_malloc(needed));
    if (!FRGBBuffer)
      throw FFMpegException(M_("memory allocation error occurred"));
    FRGBBufferSize = needed;
  }
  uint8_t *planes[4];
  int linesizes[4];
  avlib.av_image_fill_arrays(planes, linesizes, FRGBBuffer, AV_PIX_FMT_BGR24, width, height, align);
  // A picture whose size differs from the stream's coded size is scaled to it, never copied
  // past the rows of either picture.
  if (!FitScaler(FSwsContext, FSwsSetup, scaler)) {
    probeLog(0, M_("Cannot initialize the toRGB conversion context\n"));
    return false;
  }
  avlib.sws_scale(FSwsContext, frame.data, frame.linesize, 0, frame.height, planes, linesizes);
  deliver(planes[0], linesizes[0]);
  return true;
}

TBGRImage *TAVProbe::GetFrameBitmap(int AStreamIndex) {
  if (!FBitmap)
    FBitmap = std::make_unique<TBGRImage>();
  TBGRImage &bitmap = *FBitmap;

  if (!ResolveVideoStream(AStreamIndex)) {
    FPictureTime = AV_NOPTS_VALUE;
    bitmap.Resize(0, 0);
    return &bitmap;
  }
  if (FLastWasImage2 && IsSingleImageFormat())
    return &bitmap;
  const AVCodecParameters *par = FFormatContext->streams[AStreamIndex]->codecpar;
  if (par->width <= 0 || par->height <= 0) {
    bitmap.Resize(0, 0);
    return &bitmap;
  }
  if (!FDecoderContext || FDecoderStream != AStreamIndex)
    OpenDecoder(AStreamIndex);
  if (!FPacket)
    FPacket = avlib.av_packet_alloc();
  if (!FFrame)
    FFrame = avlib.av_frame_alloc();
  if (!FPacket || !FFrame)
    throw FFMpegException(M_("memory allocation error occurred"));

  // The picture as its viewer sees it: a clip stored sideways comes out upright.
  const TPictureTurn turn = PictureTurnOf(FFormatContext->streams[AStreamIndex]);
  int width = par->width, height = par->height;
  TurnedSize(turn, width, height);
  // Reserved with the scaler's slack, so that ConvertPicture never moves a picture that may be
  // hundreds of megabytes.
  if (FMaxWidth > 0 && FMaxHeight > 0 && (width > FMaxWidth || height > FMaxHeight)) {
    const double scale =
        std::min(static_cast<double>(FMaxWidth) / width, static_cast<double>(FMaxHeight) / height);
    width = std::max(2, static_cast<int>(std::lround(width * scale)));
    height = std::max(2, static_cast<int>(std::lround(height * scale)));
  }
  const int stride = (width * 3 + 3) & ~3;
  bitmap.Pixels.reserve(static_cast<size_t>(stride) * static_cast<size_t>(height) +
                        ScalerSlack(stride));
  bitmap.Resize(width, height);
  FPictureTime = AV_NOPTS_VALUE;
  if (!NextPictureToShow()) {
    probeLog(2, "stream eof reached.\n");
    bitmap.Resize(width, height, true);
    return &bitmap;
  }
  const bool converted = ConvertPicture(turn);
  FPictureTime = FFrame->best_effort_timestamp;
  avlib.av_frame_unref(FFrame);
  if (!converted) {
    bitmap.Resize(width, height, true);
    return &bitmap;
  }
  FLastWasImage2 = IsSingleImageFormat();
  return &bitmap;
}
