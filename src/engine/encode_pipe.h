// An encoder on a thread of its own. The engine thread draws each picture (or converts each
// frame of sound) into one of a few frames allocated once, hands it over with its time stamp and
// goes on decoding and scaling while the encoder works. The packets come back to the engine
// thread, which alone writes to the muxer.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>

#include "medialib/media_functions.h"

class TEncodePipe {
public:
  // What the encoder had been given when it returned a packet: the frames sent, and the time
  // stamp after the last of them (encoder time base).
  struct TSentSoFar {
    int Frames = 0;
    int64_t NextPts = 0;
  };
  // Called on the engine thread with each packet, in the encoder's order; it may take the
  // packet's data (the packet is unreferenced afterwards) and may throw.
  using TPacketSink = std::function<void(AVPacket *, const TSentSoFar &)>;

  // Frames of the encoder's format and size (pictures, or sound frames of its frame size) and
  // packets for what it returns; AStatsFile receives the two-pass statistics after each packet
  // (nullptr: none). Throws FFMpegException with AFailText when memory runs out. Nothing runs
  // before Start.
  TEncodePipe(AVCodecContext *AEncoder, FILE *AStatsFile, const char *AFailText, TPacketSink ASink);
  ~TEncodePipe(); // Abort, then frees the frames and packets
  TEncodePipe(const TEncodePipe &) = delete;
  TEncodePipe &operator=(const TEncodePipe &) = delete;

  // Starts the encoder's thread; false when the system gives none.
  bool Start();

  // Engine thread only. Each delivers the packets that are ready, waits where it must, and
  // throws FFMpegException with the failure text once the encoder has failed.
  // A frame nobody uses: the engine may fill it until it hands it over with Send.
  AVFrame *FreeFrame();
  // Queues AFrame (from FreeFrame) to be encoded with APts; the same frame may be sent again
  // (a repeated picture) before the encoder has taken it.
  void Send(AVFrame *AFrame, int64_t APts);
  void Deliver();
  // End of stream: waits until the encoder has returned its last packet.
  void Finish();

  // Ends the thread at once, without draining the encoder; what is queued is dropped.
  void Abort();

private:
  // Room for the engine to run ahead while the encoder's own threads wait on one another
  // (measured: 12 against 4 frames, 2-4 % less wall time; 12 of 480x272 are 2.3 MB).
  static constexpr int FrameCount = 12;
  static constexpr int QueueSize = 24;  // frames (or the end) waiting for the encoder
  static constexpr int PacketCount = 8; // packets waiting for the engine
  struct TItem {
    int Frame; // -1: the end of the stream
    int64_t Pts;
  };

  void Work();
  bool Fail(); // under FMutex: records the failure; always false
  void Enqueue(std::unique_lock<std::mutex> &ALock, TItem AItem);
  // Hands the ready packets to the sink (without the lock while it runs) and throws when the
  // encoder has failed.
  void DeliverLocked(std::unique_lock<std::mutex> &ALock);

  AVCodecContext *FEncoder;
  FILE *FStatsFile;
  const char *FFailText;
  TPacketSink FSink;
  AVFrame *FFrames[FrameCount] = {};
  AVPacket *FPackets[PacketCount] = {};
  TSentSoFar FPacketSent[PacketCount]; // of each packet
  TSentSoFar FSent;                    // the encoder thread's
  std::thread FThread;

  std::mutex FMutex;
  std::condition_variable FToEncoder; // an item queued, a packet taken, or the abort
  std::condition_variable FToEngine;  // a frame or queue place freed, a packet, the end, a failure
  int FUses[FrameCount] = {};         // queued or being encoded
  TItem FQueue[QueueSize] = {};
  int FQueueHead = 0, FQueueCount = 0;
  int FPacketHead = 0, FPacketReady = 0; // ready packets: FPacketHead and the ones after it
  int FNextFrame = 0;
  bool FEndQueued = false, FEnded = false, FFailed = false, FAbort = false;
};
