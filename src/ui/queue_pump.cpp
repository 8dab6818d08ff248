#include "ui/queue_pump.h"

#include <QElapsedTimer>
#include <QPointer>

TQueuePump::TQueuePump(QObject *AParent, std::function<void(const TQueueEvent &)> ARun)
    : QObject(AParent), FRun(std::move(ARun)) {}

void TQueuePump::Raise(const TQueueEvent &AEvent) {
  std::lock_guard<std::mutex> lock(FLock);
  FEvents.push_back(AEvent);
  if (FPosted)
    return;
  FPosted = true;
  Post();
}

// Callable from any thread: the call runs on the window's.
void TQueuePump::Post() {
  const QPointer<TQueuePump> self(this);
  QMetaObject::invokeMethod(
      this,
      [self] {
        if (self)
          self->RunEvents();
      },
      Qt::QueuedConnection);
}

void TQueuePump::RunEvents() {
  constexpr int SliceMs = 30;
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    TQueueEvent event;
    {
      std::lock_guard<std::mutex> lock(FLock);
      if (FEvents.empty()) {
        FPosted = false;
        return;
      }
      event = FEvents.front();
      FEvents.pop_front();
    }
    FRun(event);
    if (clock.elapsed() >= SliceMs) {
      Post();
      return;
    }
  }
}
