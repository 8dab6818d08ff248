#include "app/media_setup.h"

#include "engine/engine_error.h"
#include "medialib/medialib.h"

bool LoadMediaLibraries(const std::string &AFolder, std::string &AError) {
  if (LoadLibraries(AFolder, true))
    return true;
  AError = LibraryLoadError();
  return false;
}

void SilenceMediaLibraries() { SetMediaLogLevel(-1); }

bool IsEngineError(const std::exception &AError) {
  return dynamic_cast<const FFMpegException *>(&AError) != nullptr;
}
