#include "engine/encode_pipe.h"

#include <system_error>
#include <utility>

#include "engine/custom_ffmpeg.h"

TEncodePipe::TEncodePipe(AVCodecContext *AEncoder, FILE *AStatsFile, const char *AFailText,
                         TPacketSink ASink)
    : FEncoder(AEncoder), FStatsFile(AStatsFile), FFailText(AFailText), FSink(std::move(ASink)) {
  try {
    for (AVFrame *&frame : FFrames) {
      frame = avlib.av_frame_alloc();
      if (!frame)
        throw FFMpegException(FFailText);
      if (AEncoder->codec_type == AVMEDIA_TYPE_AUDIO) {
        frame->format = AEncoder->sample_fmt;
        frame->sample_rate = AEncoder->sample_rate;
        frame->nb_samples = AEncoder->frame_size;
        if (avlib.av_channel_layout_copy(&frame->ch_layout, &AEncoder->ch_layout) < 0)
          throw FFMpegException(FFailText);
      } else {
        frame->format = AEncoder->pix_fmt;
        frame->width = AEncoder->width;
        frame->height = AEncoder->height;
      }
      if (avlib.av_frame_get_buffer(frame, 0) < 0)
        throw FFMpegException(FFailText);
    }
    for (AVPacket *&packet : FPackets)
      if (!(packet = avlib.av_packet_alloc()))
        throw FFMpegException(FFailText);
  } catch (...) {
    for (AVFrame *&frame : FFrames)
      avlib.av_frame_free(&frame);
    for (AVPacket *&packet : FPackets)
      avlib.av_packet_free(&packet);
    throw;
  }
}

TEncodePipe::~TEncodePipe() {
  Abort();
  for (AVFrame *&frame : FFrames)
    avlib.av_frame_free(&frame);
  for (AVPacket *&packet : FPackets)
    avlib.av_packet_free(&packet);
}

bool TEncodePipe::Start() {
  try {
    FThread = std::thread(&TEncodePipe::Work, this);
  } catch (const std::system_error &) {
    return false;
  }
  return true;
}

void TEncodePipe::Abort() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FAbort = true;
  }
  FToEncoder.notify_all();
  if (FThread.joinable())
    FThread.join();
}

bool TEncodePipe::Fail() {
  FFailed = true;
  FToEngine.notify_all();
  return false;
}

void TEncodePipe::Work() {
  std::unique_lock<std::mutex> lock(FMutex);
  while (!FFailed) {
    FToEncoder.wait(lock, [this] { return FAbort || FQueueCount > 0; });
    if (FAbort)
      return;
    const TItem item = FQueue[FQueueHead];
    lock.unlock();
    AVFrame *frame = nullptr;
    if (item.Frame >= 0) {
      frame = FFrames[item.Frame];
      frame->pts = item.Pts;
    }
    // The encoder copies or references what it keeps: the frame is free once it returns.
    const int sent = avlib.avcodec_send_frame(FEncoder, frame);
    lock.lock();
    FQueueHead = (FQueueHead + 1) % QueueSize;
    --FQueueCount;
    if (item.Frame >= 0)
      --FUses[item.Frame];
    FToEngine.notify_all();
    if (sent == AVERROR_EOF) {
      FEnded = true; // drained already
      continue;
    }
    if (sent < 0) {
      Fail();
      break;
    }
    if (frame) {
      ++FSent.Frames;
      FSent.NextPts = item.Pts + 1;
    }
    for (;;) {
      FToEncoder.wait(lock, [this] { return FAbort || FPacketReady < PacketCount; });
      if (FAbort)
        return;
      AVPacket *packet = FPackets[(FPacketHead + FPacketReady) % PacketCount];
      lock.unlock();
      const int received = avlib.avcodec_receive_packet(FEncoder, packet);
      // The statistics of this packet: the next one replaces them.
      if (received >= 0 && FStatsFile && FEncoder->stats_out)
        std::fprintf(FStatsFile, "%s", FEncoder->stats_out);
      lock.lock();
      if (received == AVERROR(EAGAIN))
        break;
      if (received == AVERROR_EOF) {
        FEnded = true;
        FToEngine.notify_all();
        break;
      }
      if (received < 0) {
        Fail();
        break;
      }
      FPacketSent[(FPacketHead + FPacketReady) % PacketCount] = FSent;
      ++FPacketReady;
      FToEngine.notify_all();
    }
  }
}

void TEncodePipe::DeliverLocked(std::unique_lock<std::mutex> &ALock) {
  while (FPacketReady > 0) {
    AVPacket *packet = FPackets[FPacketHead];
    const TSentSoFar sent = FPacketSent[FPacketHead];
    ALock.unlock();
    std::exception_ptr error;
    try {
      FSink(packet, sent);
    } catch (...) {
      error = std::current_exception();
    }
    avlib.av_packet_unref(packet);
    ALock.lock();
    FPacketHead = (FPacketHead + 1) % PacketCount;
    --FPacketReady;
    FToEncoder.notify_all();
    if (error)
      std::rethrow_exception(error);
  }
  if (FFailed)
    throw FFMpegException(FFailText);
}

void TEncodePipe::Deliver() {
  std::unique_lock<std::mutex> lock(FMutex);
  DeliverLocked(lock);
}

AVFrame *TEncodePipe::FreeFrame() {
  std::unique_lock<std::mutex> lock(FMutex);
  for (;;) {
    DeliverLocked(lock);
    for (int i = 0; i < FrameCount; ++i) {
      const int index = (FNextFrame + i) % FrameCount;
      if (FUses[index] == 0) {
        FNextFrame = (index + 1) % FrameCount;
        return FFrames[index];
      }
    }
    FToEngine.wait(lock);
  }
}

void TEncodePipe::Enqueue(std::unique_lock<std::mutex> &ALock, TItem AItem) {
  for (;;) {
    DeliverLocked(ALock);
    if (FQueueCount < QueueSize)
      break;
    FToEngine.wait(ALock);
  }
  FQueue[(FQueueHead + FQueueCount) % QueueSize] = AItem;
  ++FQueueCount;
  if (AItem.Frame >= 0)
    ++FUses[AItem.Frame];
  FToEncoder.notify_all();
}

void TEncodePipe::Send(AVFrame *AFrame, int64_t APts) {
  int index = 0;
  while (index < FrameCount && FFrames[index] != AFrame)
    ++index;
  if (index == FrameCount)
    throw FFMpegException(FFailText);
  std::unique_lock<std::mutex> lock(FMutex);
  Enqueue(lock, TItem{index, APts});
}

void TEncodePipe::Finish() {
  std::unique_lock<std::mutex> lock(FMutex);
  if (!FEndQueued) {
    FEndQueued = true;
    Enqueue(lock, TItem{-1, 0});
  }
  for (;;) {
    DeliverLocked(lock);
    if (FEnded || !FThread.joinable())
      return;
    FToEngine.wait(lock);
  }
}
