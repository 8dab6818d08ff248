#include "app/size_estimate.h"

#include <algorithm>
#include <cstdio>

#include "app/i18n.h"
#include "app/profiles.h"

namespace {

// Measured on busy camera-like pictures of 4 to 20 s: libx264 gives about the bit rate asked
// for; the libraries' MPEG-4 encoder too, but only after its first seconds, which come out
// 120-135 KB above the rate whatever the file's length (less for a clip of a few seconds).
constexpr double MPEG4StartBytes = 130000;
// A still black picture, as an input without video gets, per second.
constexpr double BlackPictureBitrate[2] = {8000, 30000}; // AVC, MPEG-4
// ftyp, moov with its track headers, the encoder's settings and the PSP's title box.
constexpr int64_t HeaderBytes = 3000;
// Per video frame and sound frame: its size, time and chunk entries in the index.
constexpr int64_t IndexBytesPerSample = 10;
constexpr double FrameRate = 30000.0 / 1001.0;
constexpr double AudioSamplesPerFrame = 1024.0;

} // namespace

int64_t EstimateOutputSize(int AProfileIndex, int64_t ADurationUs, bool AInputHasVideo,
                           int AVideoBitrate) {
  if (AProfileIndex < 0 || AProfileIndex >= PSPProfileCount || ADurationUs <= 0)
    return 0;
  const TPSPProfile &profile = PSPProfiles[static_cast<size_t>(AProfileIndex)];
  const bool mpeg4 = profile.Kind == "MPEG4";
  const double seconds = static_cast<double>(ADurationUs) / 1e6;
  const double rate = AVideoBitrate > 0 ? AVideoBitrate : PSPVideoBitrate;
  const double videoBitrate = AInputHasVideo ? rate : BlackPictureBitrate[mpeg4 ? 1 : 0];
  double payload = (videoBitrate + PSPAudioBitrate) * seconds / 8;
  // The encoder's first seconds run over by a share of the rate asked for.
  if (mpeg4 && AInputHasVideo)
    payload += std::min(MPEG4StartBytes * rate / PSPVideoBitrate, rate * seconds / 8 / 2);
  const double samples = seconds * (FrameRate + profile.AudioSampleRate / AudioSamplesPerFrame);
  return static_cast<int64_t>(payload) + HeaderBytes +
         static_cast<int64_t>(samples) * IndexBytesPerSample;
}

std::string FormatGB(int64_t ABytes) {
  char text[32];
  // Below a gigabyte "0.1 GB" would hide what megabytes tell: 123 MB is not 149 MB.
  if (ABytes >= 1000000000)
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(ABytes) / 1e9);
  else if (ABytes >= 1000000)
    std::snprintf(text, sizeof text, "%.0f MB", static_cast<double>(ABytes) / 1e6);
  else // a few short clips must not read "Expected 0 MB"
    std::snprintf(text, sizeof text, "%.0f KB", static_cast<double>(ABytes) / 1e3);
  std::string shown = text;
  const size_t point = shown.find('.');
  return point == std::string::npos ? shown : shown.replace(point, 1, DecimalMark());
}

std::string FitLineText(int64_t AExpected, bool ADeviceSet, int64_t AFree) {
  const std::string expected = FormatText(_("Expected %s"), FormatGB(AExpected).c_str());
  if (!ADeviceSet)
    return expected;
  if (AFree < 0)
    return expected + " \u2014 " + _("the PSP memory stick is not there");
  if (AExpected <= AFree)
    return expected + " \u2014 " +
           FormatText(_("fits on the PSP memory stick (%s free)"), FormatGB(AFree).c_str());
  return expected + " \u2014 " +
         FormatText(_("does not fit: %s too much (%s free)"), FormatGB(AExpected - AFree).c_str(),
                    FormatGB(AFree).c_str());
}
