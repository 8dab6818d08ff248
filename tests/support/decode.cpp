#include "support/decode.h"

#include <limits>
#include <mutex>

#include "medialib/medialib.h"

namespace testing_support {

void FrameFree::operator()(AVFrame *AFrame) const { avlib.av_frame_free(&AFrame); }

std::vector<FramePtr> DecodeStream(AVFormatContext *AInput, int AStream, size_t AWanted) {
  std::vector<FramePtr> frames;
  if (AStream < 0 || AStream >= static_cast<int>(AInput->nb_streams))
    return frames;
  const AVCodecParameters *parameters = AInput->streams[AStream]->codecpar;
  const AVCodec *codec = avlib.avcodec_find_decoder(parameters->codec_id);
  if (!codec)
    return frames;
  AVCodecContext *decoder = avlib.avcodec_alloc_context3(codec);
  bool opened = decoder && avlib.avcodec_parameters_to_context(decoder, parameters) >= 0;
  if (opened) {
    std::lock_guard<std::recursive_mutex> lock(CodecLock);
    opened = avlib.avcodec_open2(decoder, codec, nullptr) >= 0;
  }
  AVPacket *packet = opened ? avlib.av_packet_alloc() : nullptr;
  auto receive = [&] {
    for (;;) {
      FramePtr frame(avlib.av_frame_alloc());
      if (avlib.avcodec_receive_frame(decoder, frame.get()) < 0)
        return;
      frames.push_back(std::move(frame));
    }
  };
  while (packet && frames.size() < AWanted && avlib.av_read_frame(AInput, packet) >= 0) {
    if (packet->stream_index == AStream && avlib.avcodec_send_packet(decoder, packet) >= 0)
      receive();
    avlib.av_packet_unref(packet);
  }
  if (packet && avlib.avcodec_send_packet(decoder, nullptr) >= 0)
    receive();
  avlib.av_packet_free(&packet);
  avlib.avcodec_free_context(&decoder);
  return frames;
}

std::vector<FramePtr> DecodeFile(const std::string &AFile, AVMediaType AType) {
  AVFormatContext *input = nullptr;
  if (avlib.avformat_open_input(&input, AFile.c_str(), nullptr, nullptr) < 0)
    return {};
  avlib.avformat_find_stream_info(input, nullptr);
  const int index = avlib.av_find_best_stream(input, AType, -1, -1, nullptr, 0);
  std::vector<FramePtr> frames = DecodeStream(input, index, std::numeric_limits<size_t>::max());
  avlib.avformat_close_input(&input);
  return frames;
}

} // namespace testing_support
