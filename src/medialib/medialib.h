// Finding, loading and binding the FFmpeg libraries at run time, and the process-wide state
// that goes with them.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "medialib/media_functions.h"

// Loads avcodec, avformat, avutil, swscale and swresample, in this order, and binds every entry
// point of the table. Either all are bound afterwards or none is loaded. When APath is not
// empty, a library file found in that folder is taken before the system search path.
// A second call after success returns true at once and touches nothing.
bool LoadLibraries(const std::string &APath, bool AVersionedNames);
void UnloadLibraries();

// Per-library loaders; on failure AError receives the library's error text.
bool LoadAVUtil(bool AVersionedName, std::string &AError);
bool LoadAVCodec(bool AVersionedName, bool ARegisterAll, std::string &AError);
bool LoadAVFormat(bool AVersionedName, bool ARegisterAll, std::string &AError);
bool LoadSwScale(bool AVersionedName, std::string &AError);
bool LoadSwResample(bool AVersionedName, std::string &AError);

bool LibrariesLoaded();
bool AVUtilLoaded();
bool AVCodecLoaded();
bool AVFormatLoaded();
bool SwScaleLoaded();
bool SwResampleLoaded();
// The error text of the library whose loading failed in the last LoadLibraries.
std::string LibraryLoadError();

// The libraries' name for a local file: "file:" before the path, so that a name holding ":"
// ("clip:one.mp4") is never taken for a protocol and opened as something else.
inline std::string LocalFileUrl(const std::string &APath) { return "file:" + APath; }

// The error code to tell for a failed opening of the local file APath: "invalid data" is what
// the libraries say both when no format claims the file and when the claiming format cannot
// read its header (an MP4 cut before its index); the second is told as a header error
// (AVERROR(EINVAL)). AFormatGiven: the format was named, not looked for.
int InputOpenErrorCode(int AResult, const std::string &APath, bool AFormatGiven);

// The file name a library is looked for under, e.g. "libavcodec.so.59" or "libavcodec.so".
// Library is one of "avutil", "avcodec", "avformat", "swscale", "swresample".
std::string LibraryFileName(const std::string &ALibrary, bool AVersionedName);

// Log level of the library log bridge, in the program's numbering
// (-1 quiet, 0 error, 1 info, 2 debug, 3 everything).
extern std::atomic<int> CurrentLogLevel;
int ToLibraryLogLevel(int ALevel);   // program numbering -> AV_LOG_*
int FromLibraryLogLevel(int ALevel); // AV_LOG_* -> program numbering
// Sets the library's level and CurrentLogLevel together.
void SetMediaLogLevel(int ALevel);

// A library call made to learn whether it is accepted (an option offered to each holder that
// may take it) logs its refusal as an error, though nothing failed. While one lives on a
// thread, the errors that thread logs are debugging detail: they never become the reason of
// some conversion's failure.
class TLibraryTrial {
public:
  TLibraryTrial();
  ~TLibraryTrial();
  TLibraryTrial(const TLibraryTrial &) = delete;
  TLibraryTrial &operator=(const TLibraryTrial &) = delete;
  static bool Active();
};
// FromLibraryLogLevel for a line logged on this thread now: a trial's error is debugging.
int LoggedLevel(int ALibraryLevel);

// Serialises codec opening and closing and stream-information probing across all engines.
extern std::recursive_mutex CodecLock;
