// TQueuePump: carries the conversion queue's events, raised on the queue's threads, to the
// window's thread, and runs them there in order, a slice of time at a time, so that many files
// loading at once leave the window's other events their turn.
#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

#include "app/conversion_queue.h"

class TQueuePump : public QObject {
  Q_OBJECT

public:
  // ARun: called on the window's thread for each event, in the order raised.
  TQueuePump(QObject *AParent, std::function<void(const TQueueEvent &)> ARun);

  // The queue's listener: callable from any thread, returns at once.
  void Raise(const TQueueEvent &AEvent);

private:
  void Post();
  void RunEvents();

  std::function<void(const TQueueEvent &)> FRun;
  std::mutex FLock; // the events not run yet
  std::deque<TQueueEvent> FEvents;
  bool FPosted = false;
};
