#include "support/decoded_media.h"

#include <cstring>
#include <memory>

#include "medialib/medialib.h"
#include "support/test_support.h"

namespace testing_support {

namespace {

struct TOpened {
  AVFormatContext *Format = nullptr;
  AVCodecContext *Codec = nullptr;
  AVPacket *Packet = nullptr;
  AVFrame *Frame = nullptr;
  int Stream = -1;
  ~TOpened() {
    avlib.av_frame_free(&Frame);
    avlib.av_packet_free(&Packet);
    avlib.avcodec_free_context(&Codec);
    if (Format)
      avlib.avformat_close_input(&Format);
  }
  bool Open(const std::string &AFile, AVMediaType AType, int AStream) {
    RequireMediaLibraries();
    if (avlib.avformat_open_input(&Format, AFile.c_str(), nullptr, nullptr) < 0)
      return false;
    avlib.avformat_find_stream_info(Format, nullptr);
    Stream = AStream >= 0 ? AStream : avlib.av_find_best_stream(Format, AType, -1, -1, nullptr, 0);
    if (Stream < 0 || Stream >= static_cast<int>(Format->nb_streams))
      return false;
    const AVCodecParameters *par = Format->streams[Stream]->codecpar;
    const AVCodec *codec = avlib.avcodec_find_decoder(par->codec_id);
    Codec = avlib.avcodec_alloc_context3(codec);
    if (!codec || !Codec || avlib.avcodec_parameters_to_context(Codec, par) < 0)
      return false;
    Codec->pkt_timebase = Format->streams[Stream]->time_base;
    Codec->thread_count = 1;
    Packet = avlib.av_packet_alloc();
    Frame = avlib.av_frame_alloc();
    return avlib.avcodec_open2(Codec, codec, nullptr) >= 0 && Packet && Frame;
  }
  // Calls AOnFrame for every decoded frame until it returns false or the stream ends.
  template <typename F> void Decode(F AOnFrame) {
    bool more = true, flushed = false;
    while (more) {
      if (!flushed) {
        if (avlib.av_read_frame(Format, Packet) < 0) {
          avlib.avcodec_send_packet(Codec, nullptr);
          flushed = true;
        } else {
          if (Packet->stream_index == Stream)
            avlib.avcodec_send_packet(Codec, Packet);
          avlib.av_packet_unref(Packet);
        }
      }
      for (;;) {
        const int ret = avlib.avcodec_receive_frame(Codec, Frame);
        if (ret < 0) {
          if (flushed && ret == AVERROR_EOF)
            more = false;
          if (flushed && ret != AVERROR(EAGAIN))
            more = false;
          break;
        }
        more = AOnFrame(Frame);
        avlib.av_frame_unref(Frame);
        if (!more)
          break;
      }
    }
  }
};

} // namespace

double TDecodedPicture::MeanLuma(int AX0, int AY0, int AX1, int AY1) const {
  double sum = 0;
  for (int y = AY0; y < AY1; ++y)
    for (int x = AX0; x < AX1; ++x)
      sum += Y(x, y);
  const double count = static_cast<double>(AX1 - AX0) * (AY1 - AY0);
  return count > 0 ? sum / count : 0;
}

std::vector<TDecodedPicture> DecodePictures(const std::string &AFile, size_t AMax) {
  std::vector<TDecodedPicture> pictures;
  TOpened file;
  if (!file.Open(AFile, AVMEDIA_TYPE_VIDEO, -1))
    return pictures;
  const AVRational tb = file.Format->streams[file.Stream]->time_base;
  file.Decode([&](const AVFrame *AFrame) {
    const AVPixelFormat format = static_cast<AVPixelFormat>(AFrame->format);
    if (format != AV_PIX_FMT_YUV420P && format != AV_PIX_FMT_YUVJ420P)
      return false;
    TDecodedPicture picture;
    picture.Width = AFrame->width;
    picture.Height = AFrame->height;
    const int64_t pts = AFrame->best_effort_timestamp;
    picture.Time = pts == AV_NOPTS_VALUE ? 0 : static_cast<double>(pts) * av_q2d(tb);
    auto copyPlane = [&](std::vector<uint8_t> &APlane, int AIndex, int AW, int AH) {
      APlane.resize(static_cast<size_t>(AW) * AH);
      for (int y = 0; y < AH; ++y)
        std::memcpy(&APlane[static_cast<size_t>(y) * AW],
                    AFrame->data[AIndex] + static_cast<ptrdiff_t>(y) * AFrame->linesize[AIndex],
                    AW);
    };
    copyPlane(picture.Luma, 0, picture.Width, picture.Height);
    copyPlane(picture.U, 1, (picture.Width + 1) / 2, (picture.Height + 1) / 2);
    copyPlane(picture.V, 2, (picture.Width + 1) / 2, (picture.Height + 1) / 2);
    pictures.push_back(std::move(picture));
    return pictures.size() < AMax;
  });
  return pictures;
}

TDecodedSound DecodeSound(const std::string &AFile, int AStreamIndex) {
  TDecodedSound sound;
  TOpened file;
  if (!file.Open(AFile, AVMEDIA_TYPE_AUDIO, AStreamIndex))
    return sound;
  const AVRational tb = file.Format->streams[file.Stream]->time_base;
  bool first = true;
  file.Decode([&](const AVFrame *AFrame) {
    const int channels = AFrame->ch_layout.nb_channels;
    sound.Rate = AFrame->sample_rate;
    sound.Channels = channels;
    if (first && AFrame->pts != AV_NOPTS_VALUE)
      sound.Start = static_cast<double>(AFrame->pts) * av_q2d(tb);
    first = false;
    const AVSampleFormat format = static_cast<AVSampleFormat>(AFrame->format);
    const bool planar = avlib.av_sample_fmt_is_planar(format) != 0;
    for (int i = 0; i < AFrame->nb_samples; ++i) {
      float sum = 0;
      for (int c = 0; c < channels; ++c) {
        const int plane = planar ? c : 0;
        const int at = planar ? i : i * channels + c;
        switch (avlib.av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_FLT:
          sum += reinterpret_cast<const float *>(AFrame->extended_data[plane])[at];
          break;
        case AV_SAMPLE_FMT_S16:
          sum += reinterpret_cast<const int16_t *>(AFrame->extended_data[plane])[at] / 32768.0f;
          break;
        case AV_SAMPLE_FMT_S32:
          sum += static_cast<float>(
              reinterpret_cast<const int32_t *>(AFrame->extended_data[plane])[at] / 2147483648.0);
          break;
        default:
          return false;
        }
      }
      sound.Mono.push_back(channels > 0 ? sum / channels : 0);
    }
    return true;
  });
  return sound;
}

double ToneFrequency(const TDecodedSound &ASound) {
  if (ASound.Rate <= 0 || ASound.Mono.size() < 2)
    return 0;
  int crossings = 0;
  size_t firstCrossing = 0, lastCrossing = 0;
  for (size_t i = 1; i < ASound.Mono.size(); ++i)
    if (ASound.Mono[i - 1] < 0 && ASound.Mono[i] >= 0) {
      if (crossings++ == 0)
        firstCrossing = i;
      lastCrossing = i;
    }
  if (crossings < 2)
    return 0;
  return (crossings - 1) * static_cast<double>(ASound.Rate) / (lastCrossing - firstCrossing);
}

} // namespace testing_support
