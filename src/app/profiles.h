// The six PSP output profiles, the settings every profile shares, the folder state the
// application windows share, and the small text helpers used for what the user sees.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// One engine option: name (without a leading "-") and value, both as text.
using TEngineOption = std::pair<std::string, std::string>;
using TEngineOptionList = std::vector<TEngineOption>;

struct TPSPProfile {
  std::string Name;       // shown in a panel's format list
  std::string Size;       // target picture size, "WxH"
  std::string VideoCodec; // encoder handed to the converter
  std::string Kind;       // "AVC" or "MPEG4": output sub-folder and file-name suffix
  int AudioSampleRate = 0;
  int AudioChannels = 0;
  // Encoder options that keep the stream playable on the PSP (the H.264 ones only on AVC
  // rows: on these libraries "level" would also rewrite the MPEG-4 header's profile).
  TEngineOptionList EncoderOptions;
};

constexpr int PSPProfileCount = 6;
extern const std::array<TPSPProfile, PSPProfileCount> PSPProfiles;
constexpr int DefaultProfileIndex = 4;

// Settings shared by every profile.
extern const char *const PSPMuxer;      // "psp"
extern const char *const PSPAudioCodec; // "aac" (the libraries have no "libfaac")
constexpr int PSPAudioBitrate = 128000; // bit/s
constexpr int PSPVideoBitrate = 768000; // bit/s
extern const char *const PSPFrameRate;  // "30000/1001"
extern const char *const PSPFileExt;    // ".mp4"

// Index of the profile whose Name equals AName, or -1.
int FindProfileByName(const std::string &AName);
// Width and height of a "WxH" text; false when the text is not of that form.
bool ParseSize(const std::string &ASize, int &AWidth, int &AHeight);

// Shared folder state, all empty at start. Only the user-interface thread writes it.
// AVCFolder and MPEG4Folder end with "/" and are empty while the sub-folders cannot be made.
extern std::string OutputFolder;
extern std::string AVCFolder;
extern std::string MPEG4Folder;
extern std::string DeviceFolder;
// The mount point of the volume that holds DeviceFolder (empty when none): whose free space
// the device page measures. Linux has no drive numbers, so the volume is named by its mount point.
extern std::string DeviceDrive;

// The mount point of the volume holding APath; a path that does not exist (yet) is taken
// to be on the volume of its nearest existing parent. Empty for an empty path.
std::string VolumeOf(const std::string &APath);

// "00000" outside 0..99999, else the number left-padded with zeros to five digits.
std::string PadNumber5(int N);
// Kilobytes of 1000 bytes in groups of three, followed by " KB": "1,234 KB" in English, grouped
// the user's way in other languages ("1.234 KB" in German).
std::string FormatSizeKB(int64_t ABytes);
// Two digits at least: 7 gives "07", 123 gives "123".
std::string TwoDigits(int64_t N);
// "hh:mm:ss.cc"; hours keep all their digits. A negative duration (unknown) gives "--:--:--.--".
std::string FormatDuration(int64_t AMs);
