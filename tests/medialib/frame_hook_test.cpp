// Frame-hook modules: loading through the process-wide cache, the codes and log lines of
// FrameHookAdd, the order of processing and the release of the entries.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "medialib/frame_hook.h"
#include "medialib/medialib.h"
#include "support/test_support.h"

namespace {

std::mutex logLock;
std::vector<std::string> logLines;

void captureLog(void *, int ALevel, const char *AFormat, va_list AArgs) {
  if (ALevel > AV_LOG_ERROR)
    return;
  char buffer[1024];
  std::vsnprintf(buffer, sizeof buffer, AFormat, AArgs);
  std::lock_guard<std::mutex> guard(logLock);
  logLines.emplace_back(buffer);
}

std::string modulePath(const std::string &AName) {
  return (testing_support::HookDir() / (AName + ".so")).string();
}

// Runs FrameHookAdd on a list of words as the engine's "vhook" option does.
int addHook(TFrameHookEntry *&AList, std::vector<std::string> AWords) {
  std::vector<char *> argv;
  for (std::string &word : AWords)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  return FrameHookAdd(AList, static_cast<int>(AWords.size()), argv.data());
}

int listLength(const TFrameHookEntry *AList) {
  int n = 0;
  for (; AList; AList = AList->Next)
    ++n;
  return n;
}

// An exported counter of a test module, read through the module already loaded.
int moduleCounter(const std::string &AModule, const char *ASymbol) {
  void *handle = dlopen(modulePath(AModule).c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!handle)
    return -1;
  auto counter = reinterpret_cast<int (*)()>(dlsym(handle, ASymbol));
  const int value = counter ? counter() : -1;
  dlclose(handle); // drops only the reference taken here
  return value;
}

class FrameHookTest : public ::testing::Test {
protected:
  void SetUp() override {
    testing_support::RequireMediaLibraries();
    logLines.clear();
    avlib.av_log_set_callback(captureLog);
  }
  void TearDown() override {
    FrameHookRelease(List);
    avlib.av_log_set_callback(avlib.av_log_default_callback);
  }
  TFrameHookEntry *List = nullptr;
};

TEST_F(FrameHookTest, AddReportsEachFailureWithItsCodeAndLogLine) {
  EXPECT_EQ(addHook(List, {}), -2);

  const std::string missing = modulePath("no_such_module");
  EXPECT_EQ(addHook(List, {missing}), -1);
  ASSERT_EQ(logLines.size(), 1u);
  EXPECT_NE(logLines[0].find("no_such_module"), std::string::npos);
  EXPECT_EQ(logLines[0].back(), '\n');

  // A loadable library without the entry points of a module.
  logLines.clear();
  EXPECT_EQ(addHook(List, {"libm.so.6"}), -2);
  ASSERT_EQ(logLines.size(), 1u);
  EXPECT_EQ(logLines[0], "Failed to find Process entrypoint in libm.so.6\n");

  // A module without Configure accepts no arguments.
  logLines.clear();
  const std::string invert = modulePath("invert");
  EXPECT_EQ(addHook(List, {invert, "strong"}), -2);
  ASSERT_EQ(logLines.size(), 1u);
  EXPECT_EQ(logLines[0], "Failed to find Configure entrypoint in " + invert + "\n");

  // Configure refusing its arguments.
  logLines.clear();
  const std::string drawbox = modulePath("drawbox");
  EXPECT_EQ(addHook(List, {drawbox, "1", "2", "three", "4"}), -22);
  ASSERT_EQ(logLines.size(), 1u);
  EXPECT_EQ(logLines[0], "Failed to Configure " + drawbox + "\n");

  // More words than argv can carry with its end mark.
  EXPECT_EQ(addHook(List, std::vector<std::string>(FrameHookMaxArgs + 1, invert)), -2);

  EXPECT_EQ(List, nullptr) << "no failed addition may leave an entry behind";
  EXPECT_EQ(moduleCounter("drawbox", "drawbox_live_contexts"), 0);

  // Without arguments a module needs no Configure.
  logLines.clear();
  ASSERT_EQ(addHook(List, {invert}), 0);
  ASSERT_NE(List, nullptr);
  EXPECT_EQ(List->Configure, nullptr);
  EXPECT_EQ(List->Context, nullptr);
  EXPECT_TRUE(logLines.empty());
}

TEST_F(FrameHookTest, SameModuleTwiceLoadsOnceWithOneContextPerEntry) {
  const std::string lower = modulePath("drawbox");
  std::string upper = lower;
  // Only the file name changes case: the folder must stay what it is on disk.
  const size_t nameAt = upper.rfind('/') + 1;
  std::transform(upper.begin() + nameAt, upper.end(), upper.begin() + nameAt,
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });

  ASSERT_EQ(addHook(List, {lower, "0", "0", "2", "2"}), 0);
  const int loaded = FrameHookLoadedModuleCount();
  // The upper-case name exists nowhere on disk: only the cache can resolve it.
  ASSERT_EQ(addHook(List, {upper, "4", "4", "2", "2", "10"}), 0);
  EXPECT_EQ(FrameHookLoadedModuleCount(), loaded);

  ASSERT_EQ(listLength(List), 2);
  EXPECT_NE(List->Context, nullptr);
  EXPECT_NE(List->Next->Context, nullptr);
  EXPECT_NE(List->Context, List->Next->Context);
  EXPECT_EQ(List->Process, List->Next->Process);
  EXPECT_EQ(moduleCounter("drawbox", "drawbox_live_contexts"), 2);

  FrameHookRelease(List);
  EXPECT_EQ(List, nullptr);
  EXPECT_EQ(moduleCounter("drawbox", "drawbox_live_contexts"), 0)
      << "Release must run once per entry";
  FrameHookRelease(List); // releasing an empty list is harmless
  EXPECT_EQ(List, nullptr);
}

TEST_F(FrameHookTest, ProcessRunsEntriesInTheOrderAdded) {
  constexpr int W = 8, H = 8;
  auto run = [&](bool AInvertFirst) {
    std::vector<uint8_t> luma(W * H, 10);
    KorveloHookPicture picture = {};
    picture.data[0] = luma.data();
    picture.linesize[0] = W;
    TFrameHookEntry *list = nullptr;
    const std::vector<std::string> box = {modulePath("drawbox"), "2", "2", "3", "3", "200"};
    const std::vector<std::string> invert = {modulePath("invert")};
    EXPECT_EQ(addHook(list, AInvertFirst ? invert : box), 0);
    EXPECT_EQ(addHook(list, AInvertFirst ? box : invert), 0);
    FrameHookProcess(list, &picture, AV_PIX_FMT_YUV420P, W, H, 0);
    FrameHookRelease(list);
    return luma;
  };

  const std::vector<uint8_t> boxThenInvert = run(false);
  EXPECT_EQ(boxThenInvert[3 * W + 3], 255 - 200);
  EXPECT_EQ(boxThenInvert[0], 255 - 10);
  EXPECT_EQ(boxThenInvert[5 * W + 5], 255 - 10) << "the box is 3 wide from column 2";

  const std::vector<uint8_t> invertThenBox = run(true);
  EXPECT_EQ(invertThenBox[3 * W + 3], 200);
  EXPECT_EQ(invertThenBox[0], 255 - 10);
}

} // namespace
