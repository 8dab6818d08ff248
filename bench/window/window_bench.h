// What the window's benchmarks share: a paint watch, the process's CPU time and a median.
#pragma once

#include <sys/resource.h>

#include <QEvent>
#include <QObject>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
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

#ifdef KORVELO_TESTMEDIA_PATH
// Makes AInput, an H.264 file of ASeconds and ASize ("1920x1080"), with the test-media
// generator unless it is there already.
inline bool MakeBenchInput(const std::string &AInput, int ASeconds, const std::string &ASize) {
  namespace fs = std::filesystem;
  if (fs::exists(AInput))
    return true;
  fs::create_directories(fs::path(AInput).parent_path());
  const std::string command = std::string(KORVELO_TESTMEDIA_PATH) + " --one '" + AInput +
                              "' --duration " + std::to_string(ASeconds) + " --size " + ASize +
                              " > /dev/null";
  return std::system(command.c_str()) == 0 && fs::exists(AInput);
}
#endif
