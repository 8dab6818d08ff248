// What is on the PSP's memory stick already: the videos in the folders the PSP's video player
// reads, whether each will play (by the checks a copy applies), twins of files about to be
// copied, and the limits of the stick's FAT file system. No window here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/device_library.h"

class TAVProbe;

// Why the PSP's video player will not play APath, already loaded in AProbe ("level 4.0 above
// 3.0", "no AAC sound", "size 720x576 not allowed", ...); empty when it plays. AFormat becomes
// the device folder's kind: "AVC" for H.264, "MPEG4" for MPEG-4 video.
std::string PSPPlayProblem(const std::string &APath, TAVProbe &AProbe, std::string &AFormat);

// The title the PSP shows: the UTF-16 title of the file's "USMT" title box, as UTF-8. Empty
// when the file has none (the PSP then shows the file name).
std::string ReadPSPTitle(const std::string &APath);

// One video on the stick.
struct TStickVideo {
  std::string Name;        // relative to the device folder, "MP_ROOT/100ANV01/MAQ00001.MP4"
  std::string Path;        // device folder + Name
  std::string Title;       // ReadPSPTitle; empty when the file has no title box
  int64_t DurationUs = -1; // -1 when the file cannot be read as media
  int64_t Size = 0;        // the video alone, bytes
  std::string Problem;     // why the PSP will not play it; empty when it plays
};

// The folders, relative to the device folder, where the PSP's video player looks.
extern const char *const StickVideoFolders[3]; // MP_ROOT/100ANV01/, MP_ROOT/100MNV01/, VIDEO/

// Why the PSP's video player does not list the stick's video AName (relative to the device
// folder): its MP_ROOT folders show only their numbered names ("MAQ00001.MP4"). Empty when it
// is listed.
std::string StickNameProblem(const std::string &AName);

// The "*.MP4" files (any case) of the stick's video folders, each folder's in name order. A
// file the libraries cannot read is listed with the problem "not a video file", one the
// player does not list with StickNameProblem.
std::vector<TStickVideo> ListStickVideos(const std::string &ADeviceFolder);

// The same files with their names and sizes only, nothing read: for finding twins.
std::vector<TStickVideo> ListStickVideoSizes(const std::string &ADeviceFolder);

// Removes a video from the stick together with its ".THM" thumbnail, and syncs the folder.
// False with AError when the video could not be removed (a missing thumbnail is no error).
bool RemoveStickVideo(const std::string &APath, std::string &AError);

// Removes the stick's video AName (relative to ADeviceFolder, as TStickVideo::Name) and its
// thumbnail, but only while it is still a plain ".MP4" file of one of the stick's video folders
// of ASize bytes (any size when ASize is -1): a list read before a question box may have been
// replaced since, and the removal must take what was asked about or nothing. False with AError
// when nothing was removed.
bool RemoveStickVideoAt(const std::string &ADeviceFolder, const std::string &AName, int64_t ASize,
                        std::string &AError);

// A 64-bit hash of a file's content; false when it cannot be read.
bool ContentHash(const std::string &APath, uint64_t &AHash);

// The video of the stick with the same size and content as ASource, relative to the device
// folder ("MP_ROOT/100ANV01/MAQ00002.MP4"); empty when the stick has no twin of it.
std::string FindTwinOnStick(const std::string &ADeviceFolder, const std::string &ASource,
                            const std::vector<TStickVideo> &AStickVideos);

// True when AFolder lies on a FAT file system (vfat, msdos, or FAT through FUSE), whose files
// cannot be 4 GiB or larger.
bool OnFatVolume(const std::string &AFolder);
constexpr int64_t FatMaxFileSize = 4294967295; // 4 GiB - 1

// What a copy onto the stick leaves out before it starts: files whose twin is on the stick,
// and, on a FAT stick, files of 4 GiB or more. Each left-out file gets one message.
struct TStickCopyPlan {
  std::vector<TCopySource> Kept;
  std::vector<std::string> Messages;
};
TStickCopyPlan PlanStickCopy(const std::string &ADeviceFolder,
                             const std::vector<TCopySource> &ASelected);

// Where each copied video went, one line each: "clip.mp4 → MP_ROOT/100ANV01/MAQ00003.MP4"
// (thumbnails not listed).
std::vector<std::string> CopiedLines(const std::string &ADeviceFolder, const TCopyResult &AResult);

// True when the device folder is not there now: the folder is missing, or the volume it lay on
// (ADeviceDrive, its mount point) is no longer mounted, since an unplugged stick can leave its
// empty mount folder behind, and a copy there would land on the computer's own disk.
bool DeviceFolderGone(const std::string &ADeviceFolder, const std::string &ADeviceDrive);

// The device the mount table names for the mount point AMountPoint ("/dev/sdb1"); empty when
// nothing is mounted there.
std::string MountSource(const std::string &AMountPoint);
// The programs ("vlc (4711)") holding a file open under AMountPoint, each once: why a stick
// cannot be unmounted.
std::vector<std::string> ProgramsUsing(const std::string &AMountPoint);
