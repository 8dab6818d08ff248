#include "app/profiles.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/i18n.h"

namespace fs = std::filesystem;

namespace {

// What makes an H.264 stream play on the PSP: Main profile (so no 8x8 transform), CABAC,
// one slice per picture, at most 3 reference frames, no B-pyramid, no weighted P prediction.
TEngineOptionList AVCOptions(const char *ALevel) {
  return {{"profile", "main"}, {"level", ALevel},     {"coder", "1"},   {"refs", "3"},
          {"slices", "1"},     {"b-pyramid", "none"}, {"weightp", "0"}, {"8x8dct", "0"}};
}

// MPEG-4 Simple Profile: no B-frames, no quarter-pel (this encoder has no global motion
// compensation to turn off).
TEngineOptionList MPEG4Options() { return {{"bf", "0"}, {"flags", "-qpel"}}; }

} // namespace

// Level 2.1 holds the sizes up to 480x272; 720x480 needs level 3.0 (more macroblocks per frame).
const std::array<TPSPProfile, PSPProfileCount> PSPProfiles = {{
    {"MPEG4 320x240 768kbps Stereo/128kbps", "320x240", "mpeg4", "MPEG4", 24000, 2, MPEG4Options()},
    {"MPEG4 368x208 768kbps Stereo/128kbps", "368x208", "mpeg4", "MPEG4", 24000, 2, MPEG4Options()},
    {"AVC 320x240 768kbps Stereo/128kbps", "320x240", "libx264", "AVC", 48000, 2, AVCOptions("21")},
    {"AVC 368x208 768kbps Stereo/128kbps", "368x208", "libx264", "AVC", 48000, 2, AVCOptions("21")},
    {"AVC 480x272 768kbps Stereo/128kbps", "480x272", "libx264", "AVC", 48000, 2, AVCOptions("21")},
    {"AVC 720x480 768kbps Stereo/128kbps", "720x480", "libx264", "AVC", 48000, 2, AVCOptions("30")},
}};

const char *const PSPMuxer = "psp";
const char *const PSPAudioCodec = "aac";
const char *const PSPFrameRate = "30000/1001";
const char *const PSPFileExt = ".mp4";

std::string OutputFolder;
std::string AVCFolder;
std::string MPEG4Folder;
std::string DeviceFolder;
std::string DeviceDrive;

int FindProfileByName(const std::string &AName) {
  for (int i = 0; i < PSPProfileCount; ++i)
    if (PSPProfiles[i].Name == AName)
      return i;
  return -1;
}

bool ParseSize(const std::string &ASize, int &AWidth, int &AHeight) {
  const auto x = ASize.find('x');
  if (x == std::string::npos || x == 0 || x + 1 >= ASize.size())
    return false;
  char *end = nullptr;
  const long w = std::strtol(ASize.c_str(), &end, 10);
  if (end != ASize.c_str() + x)
    return false;
  const long h = std::strtol(ASize.c_str() + x + 1, &end, 10);
  if (*end != '\0' || w <= 0 || h <= 0 || w > 1 << 16 || h > 1 << 16)
    return false;
  AWidth = static_cast<int>(w);
  AHeight = static_cast<int>(h);
  return true;
}

std::string VolumeOf(const std::string &APath) {
  if (APath.empty())
    return {};
  std::error_code ec;
  fs::path p = fs::absolute(APath, ec);
  if (ec)
    return {};
  p = p.lexically_normal();
  struct stat st {};
  while (::stat(p.c_str(), &st) != 0) {
    if (!p.has_relative_path())
      return {};
    p = p.parent_path();
  }
  fs::path canonical = fs::canonical(p, ec);
  if (!ec)
    p = canonical;
  // Walk up while the parent lies on the same device: the last such folder is the mount point.
  while (p.has_relative_path()) {
    const fs::path parent = p.parent_path();
    struct stat pst {};
    if (::stat(parent.c_str(), &pst) != 0 || pst.st_dev != st.st_dev)
      break;
    p = parent;
  }
  return p.string();
}

std::string PadNumber5(int N) {
  if (N < 0 || N > 99999)
    return "00000";
  std::string digits = std::to_string(N);
  return std::string(5 - digits.size(), '0') + digits;
}

std::string FormatSizeKB(int64_t ABytes) {
  const int64_t k = ABytes / 1000;
  std::string digits = std::to_string(k < 0 ? -k : k);
  std::string result = k < 0 ? "-" : "";
  const size_t lead = digits.size() % 3 == 0 ? 3 : digits.size() % 3;
  result += digits.substr(0, lead);
  for (size_t i = lead; i < digits.size(); i += 3)
    result += DigitGroupSeparator() + digits.substr(i, 3);
  return result + " KB";
}

std::string TwoDigits(int64_t N) {
  return N > 9 ? std::to_string(N) : "0" + std::to_string(N < 0 ? 0 : N);
}

std::string FormatDuration(int64_t AMs) {
  if (AMs < 0)
    return "--:--:--.--";
  const int64_t cs = (AMs % 1000) / 10;
  const int64_t s = AMs / 1000;
  return TwoDigits(s / 3600) + ":" + TwoDigits((s % 3600) / 60) + ":" + TwoDigits(s % 60) + "." +
         TwoDigits(cs);
}
