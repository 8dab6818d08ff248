// The hand-over between launches: a window that is closing refuses the files, so that the
// launch opens them itself, and files are delivered once.
#include <gtest/gtest.h>

#include <QDir>
#include <atomic>
#include <thread>

#include "ui/single_instance.h"
#include "ui/wait_until.h"

namespace {

// A second launch, on a thread of its own (it waits for the answer the first gives from the
// event loop here). Returns whether it handed its files over.
bool LaunchAgain(const QStringList &AArguments) {
  std::atomic<int> result{-1};
  std::thread launch([&] {
    TSingleInstance second;
    result = second.HandOverOrListen(QDir::tempPath(), AArguments) ? 1 : 0;
  });
  WaitUntil([&] { return result >= 0; });
  launch.join();
  return result == 1;
}

TEST(SingleInstance, ARunningWindowTakesTheFilesOnceAClosingOneRefusesThem) {
  auto first = std::make_unique<TSingleInstance>();
  ASSERT_FALSE(first->HandOverOrListen(QDir::tempPath(), {}));
  QStringList arrived;
  first->FOnArrived = [&](const QString &, const QStringList &AArguments) {
    arrived += AArguments;
  };
  bool accepting = true;
  first->FAccepting = [&] { return accepting; };

  EXPECT_TRUE(LaunchAgain({QStringLiteral("a.mkv")}));
  EXPECT_TRUE(WaitUntil([&] { return !arrived.isEmpty(); }, 5000));
  QTest::qWait(50);
  EXPECT_EQ(arrived, QStringList{QStringLiteral("a.mkv")});

  accepting = false;
  EXPECT_FALSE(LaunchAgain({QStringLiteral("b.mkv")}));
  QTest::qWait(50);
  EXPECT_EQ(arrived, QStringList{QStringLiteral("a.mkv")});
  // The closing window gave its place up: a later launch finds no window to hand over to.
  EXPECT_FALSE(LaunchAgain({QStringLiteral("c.mkv")}));
  EXPECT_EQ(arrived, QStringList{QStringLiteral("a.mkv")});
}

} // namespace
