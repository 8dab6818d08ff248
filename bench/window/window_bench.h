// What the window's benchmarks share: a paint watch, the process's CPU time and a median.
#pragma once

#include <sys/resource.h>

#include <QEvent>
#include <QObject>

#include <algorithm>
#include <vector>

// Notes the first paint of the widget it watches.
class TPaintWatch : public QObject {
public:
  bool Painted = false;

protected:
  bool eventFilter(QObject *AWatched, QEvent *AEvent) override {
    if (AEvent->type() == QEvent::Paint)
      Painted = true;
    return QObject::eventFilter(AWatched, AEvent);
  }
};

// CPU time of the whole process (user and system), ms.
inline double ProcessCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

inline double Median(std::vector<double> AValues) {
  std::sort(AValues.begin(), AValues.end());
  return AValues.empty() ? 0 : AValues[AValues.size() / 2];
}
