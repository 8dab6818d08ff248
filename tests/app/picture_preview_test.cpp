// The preview service: exact pictures off the caller's thread, superseded requests dropped,
// recent pictures cached, files closed once the slider rests.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "app/picture_preview.h"
#include "support/test_support.h"

namespace {

using testing_support::MediaFile;

// Collects the answers raised on the service's thread.
struct TAnswers {
  std::mutex Lock;
  std::condition_variable Arrived;
  std::vector<TPreviewAnswer> List;

  void Clear() {
    std::lock_guard<std::mutex> lock(Lock);
    List.clear();
  }
  TPreviewAnswerEvent Event() {
    return [this](const TPreviewAnswer &AAnswer) {
      std::lock_guard<std::mutex> lock(Lock);
      List.push_back(AAnswer);
      Arrived.notify_all();
    };
  }
  // The answer to ARequestedUs, waiting up to 10 s for it.
  TPreviewAnswer WaitFor(int64_t ARequestedUs) {
    std::unique_lock<std::mutex> lock(Lock);
    const auto found = [&] {
      for (const TPreviewAnswer &answer : List)
        if (answer.RequestedUs == ARequestedUs)
          return true;
      return false;
    };
    EXPECT_TRUE(Arrived.wait_for(lock, std::chrono::seconds(10), found));
    for (auto answer = List.rbegin(); answer != List.rend(); ++answer)
      if (answer->RequestedUs == ARequestedUs)
        return *answer;
    return {};
  }
};

bool White(const TBGRImage &AImage) {
  double sum = 0;
  int count = 0;
  for (int y = AImage.Height / 4; y < AImage.Height * 3 / 4; ++y)
    for (int x = AImage.Width / 4; x < AImage.Width * 3 / 4; ++x, ++count)
      sum += AImage.Row(y)[3 * x + 1];
  return count > 0 && sum / count > 220;
}

TEST(PicturePreview, AnswersTheExactPictureDropsSupersededRequestsCachesAndLetsTheFileGo) {
  testing_support::RequireMediaLibraries();
  TPicturePreview service(300);
  TAnswers answers;
  const uint64_t owner = service.NewOwner();
  TPreviewRequest request;
  request.FileName = MediaFile("film_keys10.mkv"); // one white picture at 12 s
  request.BoxWidth = 138;
  request.BoxHeight = 102;

  // The picture at 12.05 s is the flash (12.023 s on the film's clock, whose pictures start at
  // 0.023 s), decoded from the key picture at 10 s, and its own time comes with it; asking for
  // that time gives the same picture again.
  request.TimeUs = 12050000;
  service.Request(owner, request, answers.Event());
  const TPreviewAnswer flash = answers.WaitFor(request.TimeUs);
  EXPECT_TRUE(flash.Error.empty()) << flash.Error;
  EXPECT_EQ(flash.Picture.Width, 138);
  EXPECT_EQ(flash.Picture.Height, 102);
  EXPECT_TRUE(White(flash.Picture));
  EXPECT_NEAR(flash.PictureUs, 12023000, 1000);
  request.TimeUs = flash.PictureUs;
  service.Request(owner, request, answers.Event());
  const TPreviewAnswer again = answers.WaitFor(request.TimeUs);
  EXPECT_TRUE(White(again.Picture));
  EXPECT_EQ(again.PictureUs, flash.PictureUs);
  EXPECT_EQ(service.OpenFiles(), 1);

  // A slider dragged across the film: the requests that waited behind a decode are dropped and
  // the last position is answered.
  answers.Clear();
  for (int i = 0; i < 30; ++i) {
    request.TimeUs = 500000 + i * 600000;
    service.Request(owner, request, answers.Event());
  }
  const TPreviewAnswer last = answers.WaitFor(request.TimeUs);
  EXPECT_FALSE(White(last.Picture));
  EXPECT_LE(last.PictureUs, request.TimeUs);
  EXPECT_GT(last.PictureUs, request.TimeUs - 100000);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  {
    std::lock_guard<std::mutex> lock(answers.Lock);
    EXPECT_LE(answers.List.size(), 3u);
  }

  // Back to the flash: kept from a moment ago.
  request.TimeUs = 12050000;
  answers.Clear();
  service.Request(owner, request, answers.Event());
  EXPECT_TRUE(answers.WaitFor(request.TimeUs).FromCache);

  // Once the slider rests, the file is closed; a file that does not open says why.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (service.OpenFiles() > 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(service.OpenFiles(), 0);
  request.FileName = MediaFile("no such file.mkv");
  request.TimeUs = 1;
  service.Request(owner, request, answers.Event());
  const TPreviewAnswer missing = answers.WaitFor(request.TimeUs);
  EXPECT_NE(missing.Error.find("no such file"), std::string::npos) << missing.Error;
  EXPECT_EQ(missing.PictureUs, -1);
  EXPECT_EQ(missing.Picture.Width, 138);
  EXPECT_EQ(service.OpenFiles(), 0);
}

} // namespace
