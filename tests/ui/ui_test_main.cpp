// The window's tests run the real widgets inside one application object, on the offscreen
// platform; message boxes are caught instead of shown.
#include <gtest/gtest.h>

#include "app/ui/application.h"

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                   : qgetenv("QT_QPA_PLATFORM"));
  ::testing::InitGoogleTest(&argc, argv);
  TKorveloApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
