// The errand "put these videos on my PSP": after the conversions, each finished video goes onto
// the memory stick in the person's order while it fits, under the PSP's names with its
// thumbnail; every copy is read back on the stick, and a bad one is removed rather than left
// under a PSP name. No window here: the window and korvelo-convert --to-stick show the report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/device_library.h"

// One video for the stick, in the person's order.
struct TErrandVideo {
  std::string Name;   // how the person knows it (the input's file name)
  std::string Path;   // the converted video, or the input when it is a PSP video already
  std::string Format; // "AVC" or "MPEG4"
  std::string Why;    // not sent, and why ("the conversion failed: ..."); empty to send it
};

// The device folder's kind a file the PSP's video player plays is copied as: "AVC" for H.264,
// "MPEG4" for MPEG-4 video. Played: an MP4 with one H.264 (Baseline or Main, level 3.0 at
// most) or MPEG-4 Simple video of at most 720x480 and AAC audio. Empty for any other file, with
// AReason saying why ("not a PSP video: ..., convert it first").
std::string FormatOfPSPVideo(const std::string &APath, std::string &AReason);

// A conversion's output for the errand: its device kind read from the file (probed: not on the
// window's thread), or why the PSP would not play it.
TErrandVideo ConvertedErrandVideo(const std::string &AName, const std::string &AOutput);

struct TErrandReport {
  // "clip.mp4 → MP_ROOT/100ANV01/MAQ00001.MP4", also for a video that was there already.
  std::vector<std::string> OnStick;
  // Did not fit: the name and the room it would need, "film.mp4 (needs 512,000 KB)".
  std::vector<std::string> NotFitting;
  // Left out or failed, each with its reason.
  std::vector<std::string> Problems;
  std::vector<std::string> Messages; // the copy's own messages (leftovers removed, ...)
  int64_t FreeAfter = -1;            // free bytes on the stick at the end
  bool Complete() const { return NotFitting.empty() && Problems.empty(); }
  // The whole outcome as one message, for a box, a notification or the terminal.
  std::string Text() const;
};

// The stick's allocation unit (its FAT cluster), from its file system; 32 KB, the largest a PSP
// stick's FAT32 uses, when it cannot be read.
int64_t StickClusterBytes(const std::string &ADeviceFolder);
// The room AVideo with its thumbnail takes on a stick of AClusterBytes clusters.
int64_t StickRoomFor(const std::string &AVideo, int64_t AClusterBytes);

// Why the PSP would not show the copy ATarget of ASource: a size that differs, or the check of
// --stick-list (playable, under a name the player lists). Empty when the copy is good.
std::string StickCopyProblem(const std::string &ADeviceFolder, const std::string &ASource,
                             const std::string &ATarget);

// Sends AVideos onto the stick at ADeviceFolder (mounted from ADeviceDrive, when known) in
// their order: those with a Why, and those whose conversion did not finish, are named and left
// out; a video whose twin is on the stick is counted as on it and not copied again; the first
// that does not fit ends the copying, and it and every later one are named with the room they
// would need. AProgress may cancel. Runs on the calling thread.
TErrandReport SendToStick(const std::string &ADeviceFolder,
                          const std::vector<TErrandVideo> &AVideos,
                          const TCopyProgressFunction &AProgress = {},
                          const std::string &ADeviceDrive = {});
