#include "ui/convert_item_picture.h"

#include <exception>

#include "probe/av_probe.h"

TPanelPicture::TPanelPicture() = default;

TPanelPicture::~TPanelPicture() = default;

bool TPanelPicture::PictureAt(const std::string &AFileName, const std::string &AFormat,
                              int64_t ATimeUs, TBGRImage &APicture) {
  try {
    if (!FProbe)
      FProbe = std::make_unique<TAVProbe>();
    if (!FProbe->FileLoaded() || FFileName != AFileName) {
      if (!FProbe->LoadFile(AFileName, AFormat))
        return false;
      FFileName = AFileName;
    }
    FProbe->Seek(-1, ATimeUs);
    const TBGRImage *picture = FProbe->GetFrameBitmap(-1);
    if (!picture || picture->Width == 0)
      return false;
    APicture = *picture;
    return true;
  } catch (const std::exception &) {
    return false; // a stream without a decoder has no picture
  }
}

void TPanelPicture::Rest() {
  if (FProbe)
    FProbe->CloseFile();
}
