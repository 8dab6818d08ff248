#include "app/media_setup.h"

#include "converter/av_converter.h"
#include "engine/engine_error.h"
#include "medialib/medialib.h"

bool LoadMediaLibraries(const std::string &AFolder, std::string &AError) {
  // Through a converter, which also hands the libraries' messages to the converters' logs.
  TCustomAVConverter converter;
  if (converter.LoadLibraries(AFolder, true))
    return true;
  AError = converter.LastErrorMessage();
  return false;
}

void SilenceMediaLibraries() { SetMediaLogLevel(-1); }

bool IsEngineError(const std::exception &AError) {
  return dynamic_cast<const FFMpegException *>(&AError) != nullptr;
}
