#include "app/output_options.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "app/output_claim.h"
#include "app/thumbnail.h"
#include "converter/option_records.h"

namespace {

// Pads that centre an even-sized picture of ASize in ATarget: even, the first side >= the other.
void CenterPads(int &ASize, int ATarget, int &AFirst, int &ASecond) {
  if (ASize % 2 != 0)
    ++ASize;
  const int p = ATarget - ASize;
  AFirst = p / 2;
  if (AFirst % 2 != 0)
    ++AFirst;
  ASecond = p - AFirst;
}

std::string NumberedName(const TPSPOutputSettings &ASettings, int AN) {
  return ASettings.NameStem + "(" + std::to_string(AN) + ")" + ASettings.FileExt;
}

// Cuts AText to at most AMax bytes without splitting a UTF-8 character.
std::string CutUtf8(const std::string &AText, size_t AMax) {
  if (AText.size() <= AMax)
    return AText;
  size_t n = AMax;
  while (n > 0 && (static_cast<unsigned char>(AText[n]) & 0xC0) == 0x80)
    --n;
  return AText.substr(0, n);
}

// The longest file name the folder ADir takes (255 on the usual file systems).
size_t NameLimitOf(const std::string &ADir) {
  const long limit = ::pathconf(ADir.empty() ? "." : ADir.c_str(), _PC_NAME_MAX);
  return limit > 0 ? static_cast<size_t>(limit) : 255;
}

// AInputBase cut (whole UTF-8 characters) so that every file of the output fits the folder's
// name limit: the name with its tail, a "(n)" number, and the longest of the extension and the
// thumbnail's temporary name.
std::string FittedBase(const std::string &AInputBase, const std::string &ATail,
                       const std::string &ADir, const std::string &AExt) {
  const size_t thumbnailTemp = std::strlen(".THM.tmp-XXXXXX");
  const size_t reserved =
      ATail.size() + std::strlen("(99999)") + std::max(AExt.size(), thumbnailTemp);
  const size_t limit = NameLimitOf(ADir);
  return limit > reserved ? CutUtf8(AInputBase, limit - reserved) : std::string();
}

} // namespace

std::string BaseNameOf(const std::string &AFileName) {
  const size_t slash = AFileName.find_last_of('/');
  std::string name = slash == std::string::npos ? AFileName : AFileName.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0)
    name.erase(dot);
  return name;
}

std::string TitleFor(const std::string &AMetadataTitle, const std::string &AFileName) {
  return !AMetadataTitle.empty() && AMetadataTitle[0] != '\0' ? AMetadataTitle
                                                              : BaseNameOf(AFileName);
}

TPSPOutputSettings BuildOutputOptions(int AProfileIndex, bool AFit, const std::string &ATitle,
                                      const std::string &AInputFileName, const std::string &AAVCDir,
                                      const std::string &AMPEG4Dir, int ASrcW, int ASrcH,
                                      double ADisplayAspect) {
  if (AProfileIndex < 0 || AProfileIndex >= PSPProfileCount)
    throw std::out_of_range("profile index " + std::to_string(AProfileIndex));
  const TPSPProfile &profile = PSPProfiles[AProfileIndex];
  TPSPOutputSettings out;
  int tw = 0, th = 0;
  ParseSize(profile.Size, tw, th);

  out.FrameSize = profile.Size;
  if (AFit) {
    const int srcW = DisplayWidth(ASrcW, ASrcH, ADisplayAspect);
    int w = 0, h = 0;
    FitSize(srcW, ASrcH, tw, th, w, h);
    if (w != tw && h == th) { // narrower than the profile: bands left and right
      CenterPads(w, tw, out.PadLeft, out.PadRight);
      out.FrameSize = std::to_string(w) + "x" + std::to_string(h);
    } else if (w == tw && h != th) { // wider: bands above and below
      CenterPads(h, th, out.PadTop, out.PadBottom);
      out.FrameSize = std::to_string(w) + "x" + std::to_string(h);
    }
  }

  out.Title = CutUtf8(ATitle, MaxTitleBytes);
  out.AudioCodec = PSPAudioCodec;
  out.AudioBitrate = PSPAudioBitrate;
  out.AudioSampleRate = profile.AudioSampleRate;
  out.AudioChannels = profile.AudioChannels;
  out.AspectRatio = std::to_string(tw) + ":" + std::to_string(th);
  out.FrameRate = PSPFrameRate;
  out.VideoCodec = profile.VideoCodec;
  out.VideoBitrate = PSPVideoBitrate;
  out.FileFormat = PSPMuxer;
  out.EncoderOptions = profile.EncoderOptions;
  out.FileExt = PSPFileExt;

  const std::string tail = "-" + profile.Size + "-" + profile.Kind;
  const std::string &dir = profile.Kind == "AVC" ? AAVCDir : AMPEG4Dir;
  out.NameStem = dir + FittedBase(BaseNameOf(AInputFileName), tail, dir, out.FileExt) + tail;
  out.FileName = out.NameStem + out.FileExt;
  for (int n = 1; OutputNameTaken(out.FileName); ++n)
    out.FileName = NumberedName(out, n);
  return out;
}

void FillOutputOptions(const TPSPOutputSettings &ASettings, TOutputOptions &AOptions) {
  AOptions.FileName = ASettings.FileName;
  AOptions.FileExt = ASettings.FileExt;
  AOptions.FileFormat = ASettings.FileFormat;
  AOptions.AudioCodec = ASettings.AudioCodec;
  AOptions.AudioChannels = ASettings.AudioChannels;
  AOptions.AudioSampleRate = ASettings.AudioSampleRate;
  AOptions.AudioBitrate = ASettings.AudioBitrate;
  AOptions.VideoCodec = ASettings.VideoCodec;
  AOptions.FrameRate = ASettings.FrameRate;
  AOptions.FrameSize = ASettings.FrameSize;
  AOptions.AspectRatio = ASettings.AspectRatio;
  AOptions.PadTop = ASettings.PadTop;
  AOptions.PadBottom = ASettings.PadBottom;
  AOptions.PadLeft = ASettings.PadLeft;
  AOptions.PadRight = ASettings.PadRight;
  AOptions.VideoBitrate = ASettings.VideoBitrate;
  static_assert(sizeof(AOptions.Title) > MaxTitleBytes, "the title and its zero must fit");
  std::memset(AOptions.Title, 0, sizeof(AOptions.Title));
  std::memcpy(AOptions.Title, ASettings.Title.data(),
              std::min(ASettings.Title.size(), MaxTitleBytes));
  AOptions.ExtOptions = ASettings.ExtOptionsText();
}

std::string TPSPOutputSettings::ExtOptionsText() const {
  std::string text;
  for (const auto &option : EncoderOptions) {
    if (!text.empty())
      text += "\r\n";
    text += option.first + "=" + option.second;
  }
  return text;
}

TEngineOptionList TPSPOutputSettings::EngineOptions() const {
  TEngineOptionList list = EncoderOptions;
  auto text = [&](const char *AName, const std::string &AValue) {
    if (!AValue.empty())
      list.emplace_back(AName, AValue);
  };
  auto positive = [&](const char *AName, int AValue) {
    if (AValue > 0)
      list.emplace_back(AName, std::to_string(AValue));
  };
  auto pad = [&](const char *AName, int AValue) {
    if (AValue >= 0)
      list.emplace_back(AName, std::to_string(AValue));
  };
  text("f", FileFormat);
  text("acodec", AudioCodec);
  positive("ac", AudioChannels);
  positive("ar", AudioSampleRate);
  positive("ab", AudioBitrate);
  text("vcodec", VideoCodec);
  text("r", FrameRate);
  text("s", FrameSize);
  text("aspect", AspectRatio);
  pad("padtop", PadTop);
  pad("padbottom", PadBottom);
  pad("padleft", PadLeft);
  pad("padright", PadRight);
  positive("vb", VideoBitrate);
  text("title", Title);
  return list;
}
