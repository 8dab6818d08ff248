#include "engine/key_seek.h"

#include <algorithm>
#include <limits>

#include "medialib/medialib.h"

namespace {

// A key picture without a time of its own, in a stream whose B-frames come after the picture
// they precede (AVI): it is shown where the next such picture is decoded, after the B-frames
// between them, and not at its own decoding time ADts.
int64_t ReorderedKeyTime(AVFormatContext *AContext, AVPacket *APacket, int AVideo, int64_t ADts) {
  int64_t shown = ADts;
  for (int read = 0; read < 64 && avlib.av_read_frame(AContext, APacket) >= 0; ++read) {
    const bool next = APacket->stream_index == AVideo && APacket->pts == AV_NOPTS_VALUE &&
                      APacket->dts != AV_NOPTS_VALUE;
    if (next)
      shown = APacket->dts;
    avlib.av_packet_unref(APacket);
    if (next)
      break;
  }
  return shown;
}

// The time of the first key picture of AVideo from where the demuxer stands, in the time base
// of AStream (microseconds for -1), or the largest value when none comes within a few thousand
// packets.
int64_t NextKeyPictureTime(AVFormatContext *AContext, int AStream, int AVideo) {
  AVPacket *packet = avlib.av_packet_alloc();
  int64_t found = std::numeric_limits<int64_t>::max();
  const AVRational base = AStream < 0 ? AV_TIME_BASE_Q : AContext->streams[AStream]->time_base;
  for (int read = 0; packet && read < 5000 && avlib.av_read_frame(AContext, packet) >= 0; ++read) {
    const bool key = packet->stream_index == AVideo && (packet->flags & AV_PKT_FLAG_KEY);
    int64_t time = packet->pts;
    const bool timeless = time == AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE;
    if (timeless)
      time = packet->dts;
    avlib.av_packet_unref(packet);
    if (key && timeless && AContext->streams[AVideo]->codecpar->video_delay > 0)
      time = ReorderedKeyTime(AContext, packet, AVideo, time);
    if (key && time != AV_NOPTS_VALUE) {
      found = avlib.av_rescale_q(time, AContext->streams[AVideo]->time_base, base);
      break;
    }
  }
  avlib.av_packet_free(&packet);
  return found;
}

} // namespace

// Containers without an index (MPEG-TS, FLV without key frame list) land on any packet, from
// which the first key picture can lie past the time: the part would lack its first seconds and
// a preview would show garbage or a later picture. The seek then steps further back, 1, 2, 4 ...
// 64 s, until the key picture comes first.
bool SeekToKeyBefore(AVFormatContext *AContext, int AStream, int64_t ATime, int AVideo) {
  const AVRational base = AStream < 0 ? AV_TIME_BASE_Q : AContext->streams[AStream]->time_base;
  const int64_t second = avlib.av_rescale_q(1, AVRational{1, 1}, base);
  int64_t start = AContext->start_time;
  if (start != AV_NOPTS_VALUE)
    start = avlib.av_rescale_q(start, AV_TIME_BASE_Q, base);
  // A time before the first picture shows the first picture.
  int64_t first = AV_NOPTS_VALUE;
  if (AVideo >= 0 && AContext->streams[AVideo]->start_time != AV_NOPTS_VALUE) {
    const AVStream *video = AContext->streams[AVideo];
    first = avlib.av_rescale_q(video->start_time, video->time_base, base);
  }
  const int64_t shown = first != AV_NOPTS_VALUE ? std::max(ATime, first) : ATime;
  // Sent to the start and still past the first picture, or not sent at all: a demuxer without
  // an index (FLV whose picture starts after its sound) guessed wrong. The file's first bytes
  // hold the first picture.
  const auto fromTheStart = [&](int64_t ATarget) {
    return avlib.av_seek_frame(AContext, AStream, 0, AVSEEK_FLAG_BYTE) >= 0 ||
           avlib.av_seek_frame(AContext, AStream, ATarget, AVSEEK_FLAG_BACKWARD) >= 0;
  };
  int64_t back = 0, reached = AV_NOPTS_VALUE;
  for (int tries = 0;; ++tries) {
    const int64_t target = ATime - back;
    const bool atStart = (start != AV_NOPTS_VALUE && target <= start) ||
                         (first != AV_NOPTS_VALUE && target <= first);
    if (avlib.av_seek_frame(AContext, AStream, target, AVSEEK_FLAG_BACKWARD) < 0) {
      if (atStart)
        return fromTheStart(target);
      // Back to the last place reached: reading its key picture moved the demuxer on.
      return reached != AV_NOPTS_VALUE &&
             avlib.av_seek_frame(AContext, AStream, reached, AVSEEK_FLAG_BACKWARD) >= 0;
    }
    if (AVideo < 0 || tries == 7)
      return true;
    reached = target;
    if (NextKeyPictureTime(AContext, AStream, AVideo) <= shown) {
      avlib.av_seek_frame(AContext, AStream, target, AVSEEK_FLAG_BACKWARD);
      return true;
    }
    if (atStart)
      return fromTheStart(target);
    back = back == 0 ? second : back * 2;
  }
}
