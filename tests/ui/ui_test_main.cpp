// The window's tests run the real widgets inside one application object, on the offscreen
// platform; message boxes are caught instead of shown.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

#include "ui/application.h"
#include "support/test_support.h"

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  // The window keeps Config.ini in the user's configuration folder: one of this process's own,
  // so that tests running side by side never read each other's folders.
  testing_support::TempDir config;
  ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
  // And a runtime folder of its own: the programs the tests start take a window of another
  // test process for the one already open, and hand it their files.
  testing_support::TempDir runtime;
  ::chmod(runtime.path().c_str(), 0700);
  ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  // The files a closed window left waiting, offered at the next start, stay in here too.
  testing_support::TempDir state;
  ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
  // And the cache of the converted files' durations.
  testing_support::TempDir cache;
  ::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
  ::testing::InitGoogleTest(&argc, argv);
  TKorveloApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
