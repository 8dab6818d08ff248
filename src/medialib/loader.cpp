#include "medialib/medialib.h"
#include "medialib/words.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>

MediaFunctions avlib;
std::atomic<int> CurrentLogLevel{1};
std::recursive_mutex CodecLock;

namespace {

struct Library {
  Library(const char *AName, int AVersionMajor) : name(AName), versionMajor(AVersionMajor) {}
  const char *name; // "avcodec"
  int versionMajor; // from the headers compiled against
  void *handle = nullptr;
  bool versionedName = true;
  bool bound = false;
  std::string error;
};

Library avutilLib{"avutil", LIBAVUTIL_VERSION_MAJOR};
Library avcodecLib{"avcodec", LIBAVCODEC_VERSION_MAJOR};
Library avformatLib{"avformat", LIBAVFORMAT_VERSION_MAJOR};
Library swscaleLib{"swscale", LIBSWSCALE_VERSION_MAJOR};
Library swresampleLib{"swresample", LIBSWRESAMPLE_VERSION_MAJOR};

// Loading may be asked for by several threads at once (file loaders, the window, a converter):
// one loads, the others wait for its result. The table is read without the lock once
// librariesLoaded says it is complete.
std::recursive_mutex loaderLock;
std::atomic<bool> librariesLoaded{false};
std::string libraryLoadError;
std::string searchFolder; // set by LoadLibraries for the time of its loading

std::string fileNameOf(const Library &lib, bool versioned) {
  std::string name = std::string("lib") + lib.name + ".so";
  if (versioned)
    name += "." + std::to_string(lib.versionMajor);
  return name;
}

// The folder's file when it is there, otherwise the bare name for the system search path.
std::string pathOf(const Library &lib) {
  const std::string name = fileNameOf(lib, lib.versionedName);
  if (!searchFolder.empty()) {
    std::error_code ec;
    const std::filesystem::path candidate = std::filesystem::path(searchFolder) / name;
    if (std::filesystem::exists(candidate, ec))
      return candidate.string();
  }
  return name;
}

std::string format(const char *fmt, const std::string &a, const std::string &b) {
  char buffer[2048];
  std::snprintf(buffer, sizeof buffer, fmt, a.c_str(), b.c_str());
  return buffer;
}

std::string format(const char *fmt, const std::string &a, const std::string &b,
                   const std::string &c) {
  char buffer[2048];
  std::snprintf(buffer, sizeof buffer, fmt, a.c_str(), b.c_str(), c.c_str());
  return buffer;
}

// Loads the file when needed and binds the entry points with Bind, which returns the first
// name it could not find (nullptr when all were found).
template <typename Bind>
bool loadLibrary(Library &lib, bool versioned, std::string &error, Bind bind) {
  lib.versionedName = versioned;
  const std::string path = pathOf(lib);
  if (!lib.handle) {
    lib.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib.handle) {
      const char *why = dlerror();
      lib.error = format(M_("Load libraray %s error: %s"), path, why ? why : "");
      error = lib.error;
      return false;
    }
  }
  if (lib.bound)
    return true;
  dlerror();
  if (const char *missing = bind(lib.handle)) {
    const char *why = dlerror();
    lib.error = format(M_("Load function %s@%s error: %s"), missing, path, why ? why : "");
    error = lib.error;
    return false;
  }
  lib.bound = true;
  return true;
}

#define KORVELO_BIND_ENTRY_POINT(name)                                                             \
  if (void *p = dlsym(handle, #name))                                                              \
    avlib.name = reinterpret_cast<decltype(avlib.name)>(p);                                        \
  else                                                                                             \
    return #name;

const char *bindAVUtil(void *handle) {
  KORVELO_AVUTIL_FUNCTIONS(KORVELO_BIND_ENTRY_POINT)
  return nullptr;
}
const char *bindAVCodec(void *handle) {
  KORVELO_AVCODEC_FUNCTIONS(KORVELO_BIND_ENTRY_POINT)
  return nullptr;
}
const char *bindAVFormat(void *handle) {
  KORVELO_AVFORMAT_FUNCTIONS(KORVELO_BIND_ENTRY_POINT)
  return nullptr;
}
const char *bindSwScale(void *handle) {
  KORVELO_SWSCALE_FUNCTIONS(KORVELO_BIND_ENTRY_POINT)
  return nullptr;
}
const char *bindSwResample(void *handle) {
  KORVELO_SWRESAMPLE_FUNCTIONS(KORVELO_BIND_ENTRY_POINT)
  return nullptr;
}

void unload(Library &lib) {
  if (lib.handle)
    dlclose(lib.handle);
  lib.handle = nullptr;
  lib.bound = false;
}

} // namespace

// Registration is automatic on the installed libraries, so ARegisterAll has nothing to call.
bool LoadAVUtil(bool AVersionedName, std::string &AError) {
  const std::lock_guard<std::recursive_mutex> lock(loaderLock);
  return loadLibrary(avutilLib, AVersionedName, AError, bindAVUtil);
}
bool LoadAVCodec(bool AVersionedName, bool /*ARegisterAll*/, std::string &AError) {
  const std::lock_guard<std::recursive_mutex> lock(loaderLock);
  return loadLibrary(avcodecLib, AVersionedName, AError, bindAVCodec);
}
bool LoadAVFormat(bool AVersionedName, bool /*ARegisterAll*/, std::string &AError) {
  const std::lock_guard<std::recursive_mutex> lock(loaderLock);
  return loadLibrary(avformatLib, AVersionedName, AError, bindAVFormat);
}
bool LoadSwScale(bool AVersionedName, std::string &AError) {
  const std::lock_guard<std::recursive_mutex> lock(loaderLock);
  return loadLibrary(swscaleLib, AVersionedName, AError, bindSwScale);
}
bool LoadSwResample(bool AVersionedName, std::string &AError) {
  const std::lock_guard<std::recursive_mutex> lock(loaderLock);
  return loadLibrary(swresampleLib, AVersionedName, AError, bindSwResample);
}

bool LoadLibraries(const std::string &APath, bool AVersionedNames) {
  if (librariesLoaded)
    return true;
  const std::lock_guard<std::recursive_mutex> lock(loaderLock);
  if (librariesLoaded) // loaded by another thread meanwhile
    return true;
  libraryLoadError.clear();
  searchFolder = APath;
  std::string error;
  const bool loaded = LoadAVCodec(AVersionedNames, true, error) &&
                      LoadAVFormat(AVersionedNames, true, error) &&
                      LoadAVUtil(AVersionedNames, error) && LoadSwScale(AVersionedNames, error) &&
                      LoadSwResample(AVersionedNames, error);
  searchFolder.clear();
  librariesLoaded = loaded;
  if (loaded) {
    CurrentLogLevel = FromLibraryLogLevel(avlib.av_log_get_level());
  } else {
    libraryLoadError = error;
    UnloadLibraries();
  }
  return librariesLoaded;
}

void UnloadLibraries() {
  const std::lock_guard<std::recursive_mutex> lock(loaderLock);
  unload(avcodecLib);
  unload(avformatLib);
  unload(avutilLib);
  unload(swscaleLib);
  unload(swresampleLib);
  librariesLoaded = false;
  avlib = MediaFunctions{};
}

bool LibrariesLoaded() { return librariesLoaded; }
bool AVUtilLoaded() { return avutilLib.bound; }
bool AVCodecLoaded() { return avcodecLib.bound; }
bool AVFormatLoaded() { return avformatLib.bound; }
bool SwScaleLoaded() { return swscaleLib.bound; }
bool SwResampleLoaded() { return swresampleLib.bound; }
std::string LibraryLoadError() {
  const std::lock_guard<std::recursive_mutex> lock(loaderLock);
  return libraryLoadError;
}

int InputOpenErrorCode(int AResult, const std::string &APath, bool AFormatGiven) {
  if (AResult != AVERROR_INVALIDDATA)
    return AResult;
  bool known = AFormatGiven;
  AVIOContext *io = nullptr;
  const std::string url = LocalFileUrl(APath);
  if (!known && avlib.avio_open(&io, url.c_str(), AVIO_FLAG_READ) >= 0) {
    // The same look as the opening's own; a format taken on the name's extension alone (a text
    // file called .avi) is not a known format.
    const AVInputFormat *format = nullptr;
    known = avlib.av_probe_input_buffer2(io, &format, url.c_str(), nullptr, 0, 0) >
                AVPROBE_SCORE_EXTENSION &&
            format;
    avlib.avio_closep(&io);
  }
  return known ? AVERROR(EINVAL) : AResult;
}

std::string LibraryFileName(const std::string &ALibrary, bool AVersionedName) {
  for (const Library *lib : {&avutilLib, &avcodecLib, &avformatLib, &swscaleLib, &swresampleLib})
    if (ALibrary == lib->name)
      return fileNameOf(*lib, AVersionedName);
  return {};
}

int ToLibraryLogLevel(int ALevel) {
  if (ALevel < 0)
    return AV_LOG_QUIET;
  switch (ALevel) {
  case 0:
    return AV_LOG_ERROR;
  case 1:
    return AV_LOG_INFO;
  case 2:
    return AV_LOG_DEBUG;
  default:
    return AV_LOG_TRACE;
  }
}

// By meaning: only errors are errors; a warning is information about a run that goes on, and
// the library's verbose detail is debugging output.
int FromLibraryLogLevel(int ALevel) {
  if (ALevel < 0)
    return -1;
  if (ALevel <= AV_LOG_ERROR)
    return 0;
  if (ALevel <= AV_LOG_INFO)
    return 1;
  if (ALevel <= AV_LOG_DEBUG)
    return 2;
  return 3;
}

namespace {
thread_local int TrialDepth = 0;
} // namespace

TLibraryTrial::TLibraryTrial() { ++TrialDepth; }
TLibraryTrial::~TLibraryTrial() { --TrialDepth; }
bool TLibraryTrial::Active() { return TrialDepth > 0; }

int LoggedLevel(int ALibraryLevel) {
  const int level = FromLibraryLogLevel(ALibraryLevel);
  return level == 0 && TLibraryTrial::Active() ? 2 : level;
}

void SetMediaLogLevel(int ALevel) {
  if (avlib.av_log_set_level)
    avlib.av_log_set_level(ToLibraryLogLevel(ALevel));
  CurrentLogLevel = ALevel;
}
