// The panel's preview pictures, decoded on the window's thread until the preview box takes them
// off it: the input is opened at the first picture asked for and let go again on Rest.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "medialib/bgr_image.h"

class TAVProbe;

class TPanelPicture {
public:
  TPanelPicture();
  ~TPanelPicture();
  // The picture shown at ATimeUs of AFileName; false when there is none to decode.
  bool PictureAt(const std::string &AFileName, const std::string &AFormat, int64_t ATimeUs,
                 TBGRImage &APicture);
  // Lets the file go: a panel that only waits holds nothing open.
  void Rest();

private:
  std::unique_ptr<TAVProbe> FProbe;
  std::string FFileName;
};
