// Runs the event loop until a condition holds: the window's tests wait for what conversions and
// copies on other threads post back.
#pragma once

#include <QElapsedTimer>
#include <QTest>
#include <functional>

// False when ATimeoutMs passed first.
inline bool WaitUntil(const std::function<bool()> &ACondition, int ATimeoutMs = 30000) {
  QElapsedTimer clock;
  clock.start();
  while (!ACondition()) {
    if (clock.elapsed() > ATimeoutMs)
      return false;
    QTest::qWait(10);
  }
  return true;
}
