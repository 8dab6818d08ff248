#include "app/stick_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/content_choice.h"
#include "app/i18n.h"
#include "app/profiles.h"
#include "app/size_estimate.h"

namespace {

// A thumbnail's file: 160x120 JPEG.
constexpr int64_t ThumbnailBytes = 6000;
// Aimed below the room: the encoder meets its rate only on average.
constexpr double Headroom = 0.96;

int64_t Clusters(int64_t ABytes, int64_t ACluster) {
  return (ABytes + ACluster - 1) / ACluster * ACluster;
}

int64_t TotalAt(int AProfileIndex, const std::vector<TFitInput> &AInputs, int ABitrate,
                int64_t ACluster) {
  int64_t total = 0;
  for (const TFitInput &input : AInputs)
    total += StickRoomOfEstimate(
        EstimateOutputSize(input.ProfileIndex >= 0 ? input.ProfileIndex : AProfileIndex,
                           input.DurationUs, input.HasVideo, ABitrate),
        ACluster);
  return total;
}

} // namespace

TFitInput FitInputOf(int AProfileIndex, int64_t ADurationUs, const TContentChoice &AChoice,
                     int64_t AShown) {
  TFitInput input;
  input.ProfileIndex = AProfileIndex;
  const int64_t whole = std::max<int64_t>(ADurationUs, 0);
  const int64_t start = std::min(std::max<int64_t>(AChoice.StartMs, 0) * 1000, whole);
  const int64_t end = AChoice.EndMs >= 0 ? std::min<int64_t>(AChoice.EndMs * 1000, whole) : whole;
  input.DurationUs = std::max<int64_t>(end - start, 0);
  input.HasVideo = AShown != EstimateOutputSize(AProfileIndex, input.DurationUs, false);
  return input;
}

int64_t StickRoomOfEstimate(int64_t ABytes, int64_t AClusterBytes) {
  const int64_t cluster = std::max<int64_t>(AClusterBytes, 1);
  return Clusters(ABytes, cluster) + Clusters(ThumbnailBytes, cluster);
}

TStickFit FitToStick(int AProfileIndex, const std::vector<TFitInput> &AInputs, int64_t ATakenBytes,
                     int64_t AFree, int64_t AClusterBytes) {
  TStickFit fit;
  fit.Room = AFree;
  fit.VideoBitrate = PSPVideoBitrate;
  fit.Expected = ATakenBytes + TotalAt(AProfileIndex, AInputs, PSPVideoBitrate, AClusterBytes);
  if (fit.Expected <= AFree)
    return fit;
  fit.FitsAsIs = false;
  const double target = static_cast<double>(AFree) * Headroom;
  // The total grows with the rate: the highest whole kbit/s whose total stays under the target.
  int low = FitFloorBitrate / 1000, high = PSPVideoBitrate / 1000;
  if (ATakenBytes + TotalAt(AProfileIndex, AInputs, low * 1000, AClusterBytes) > target) {
    fit.Possible = false;
    fit.VideoBitrate = FitFloorBitrate;
    fit.Expected = ATakenBytes + TotalAt(AProfileIndex, AInputs, FitFloorBitrate, AClusterBytes);
    fit.Missing = fit.Expected - AFree;
    return fit;
  }
  while (low < high) {
    const int middle = (low + high + 1) / 2;
    if (ATakenBytes + TotalAt(AProfileIndex, AInputs, middle * 1000, AClusterBytes) <= target)
      low = middle;
    else
      high = middle - 1;
  }
  fit.VideoBitrate = low * 1000;
  fit.Expected = ATakenBytes + TotalAt(AProfileIndex, AInputs, fit.VideoBitrate, AClusterBytes);
  return fit;
}

std::string TStickFit::Text() const {
  if (FitsAsIs)
    return FormatText(_("fits on the memory stick at the usual quality (%s of %s free)"),
                      FormatSizeKB(Expected).c_str(), FormatSizeKB(Room).c_str());
  if (!Possible)
    return FormatText(_("does not fit on the memory stick even at %d kbit/s: %s more room is "
                        "needed (%s free)"),
                      FitFloorBitrate / 1000, FormatSizeKB(Missing).c_str(),
                      FormatSizeKB(Room).c_str());
  return FormatText(_("about %d kbit/s, a little softer picture, to fit the memory stick (%s of "
                      "%s free)"),
                    static_cast<int>(VideoBitrate / 1000), FormatSizeKB(Expected).c_str(),
                    FormatSizeKB(Room).c_str());
}

std::string EstimateAfterText(int64_t AExpected, int64_t AReal) {
  const double share = AExpected > 0 ? 100.0 * static_cast<double>(AReal - AExpected) /
                                           static_cast<double>(AExpected)
                                     : 0;
  const int percent = static_cast<int>(std::nearbyint(std::fabs(share)));
  return FormatText(share < 0 ? _("Expected %s, came out %s (%d%% under).")
                              : _("Expected %s, came out %s (%d%% over)."),
                    FormatSizeKB(AExpected).c_str(), FormatSizeKB(AReal).c_str(), percent);
}
