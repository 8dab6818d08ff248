// The device library: the converted files of the output folder, the free space of the PSP's
// memory stick, and the copy of selected files (with their thumbnails) onto it under the
// numbered names the PSP's video player reads. No window here: messages go to the caller.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

extern const char
    *const MsgInsufficientSpace; // "Insufficient disk space to copy selected video files."
extern const char *const MsgDeviceFolderMissing; // "The selected device folder do not exists."
extern const char *const MsgCannotCreateFolder;  // "Can not create output folder"
extern const char *const MsgSelectFiles;         // "Please select video files."
extern const char *const MsgCopyFailed; // "Selected video files can not be copied to PSP properly"
extern const char *const MsgCopied;     // "Selected video files have been copied to your PSP"
extern const char *const MsgStickGone;  // "the memory stick is not there any more"
// "Insufficient name space, only <n> AVC video file(s) can be copied to PSP" (or MPEG4).
std::string NameSpaceMessage(size_t ACount, const std::string &AKind);

// Device layout, relative to the device folder.
extern const char *const DeviceAVCFolder;   // "MP_ROOT/100ANV01/"
extern const char *const DeviceMPEG4Folder; // "MP_ROOT/100MNV01/"

// One converted file as the device page lists it.
struct TConvertedFile {
  std::string Name;          // entry name without folder (the row's caption)
  std::string Format;        // "AVC" or "MPEG4"
  std::string Path;          // folder + name
  int64_t DurationUs = 0;    // from the probe (or what it said before, kept in a cache)
  bool DurationRead = false; // DurationUs is known
  int64_t Size = 0;          // video plus thumbnail, in bytes (64-bit: videos pass 2 GB)
  bool Finished = true;      // a finished conversion, not a stopped or cut-off one's part
};

// Reads a media file's duration in microseconds; false when the file cannot be read as media.
using TDurationReader = std::function<bool(const std::string &AFileName, int64_t &ADurationUs)>;
class TAVProbe;
// The reader the device list uses: AProbe opens each file and closes it again; a file it cannot
// open, or libraries that are not loaded, give false.
TDurationReader ProbeDurationReader(TAVProbe &AProbe);

// The "*.MP4" files (any case) of AAVCFolder, then of AMPEG4Folder: plain files of more than
// 0 bytes, each folder's in name order, with their sizes and whether they are finished, but no
// durations yet. An empty folder name lists nothing (the sub-folders are not ready).
std::vector<TConvertedFile> ListConvertedCandidates(const std::string &AAVCFolder,
                                                    const std::string &AMPEG4Folder);
// Those of them that AReadDuration accepts, with their durations.
std::vector<TConvertedFile> ListConvertedFiles(const std::string &AAVCFolder,
                                               const std::string &AMPEG4Folder,
                                               const TDurationReader &AReadDuration);

// Bytes of APath's ".THM" thumbnail, 0 when there is none.
int64_t ThumbnailSize(const std::string &APath);

// Free bytes for the calling user on the volume holding AFolder; -1 when AFolder is not an
// existing folder or its volume cannot be measured.
int64_t DeviceFreeSpace(const std::string &AFolder);

// The device page's status line and the share of the free space the selection needs (0..100;
// 0 when the free space is unknown, 100 when the selection does not fit).
std::string SelectionStatusText(int64_t ASelectedSize, int64_t AFreeSpace);
int SelectionPercent(int64_t ASelectedSize, int64_t AFreeSpace);

// Names for AAVCCount AVC and AMPEG4Count MPEG-4 files on the device: the lowest numbers with
// neither a ".MP4" nor a ".THM" yet ("MAQnnnnn.MP4" in DeviceAVCFolder, "M4Vnnnnn.MP4" in
// DeviceMPEG4Folder). Fewer names than asked when the 100000 numbers run out.
struct TDeviceNames {
  std::vector<std::string> AVCTargets;
  std::vector<std::string> MPEG4Targets;
};
TDeviceNames AllocateDeviceNames(const std::string &ADeviceFolder, size_t AAVCCount,
                                 size_t AMPEG4Count);

// One selected file: its path and its format ("AVC" or anything else for MPEG-4).
struct TCopySource {
  std::string Path;
  std::string Format;
};

struct TCopyProgress {
  int64_t BytesDone = 0; // over all files of the copy
  int64_t BytesTotal = 0;
  size_t FileIndex = 0; // 0-based, thumbnails counted
  size_t FileCount = 0;
  std::string Source, Target;
};
// Called as the copy advances; returning false cancels it.
using TCopyProgressFunction = std::function<bool(const TCopyProgress &)>;
using TMessageFunction = std::function<void(const std::string &)>;

enum class TCopyOutcome {
  coRefused, // a check failed before anything was copied
  coNothing, // nothing left to copy (every selected source has vanished)
  coCopied,  // every file copied
  coFailed,  // a file could not be copied, or the copy was cancelled
};

// Temporary files of an interrupted copy found and removed from the device folders.
struct TLeftovers {
  size_t Count = 0;
  int64_t Bytes = 0;
};
// The hidden name a file is copied under before it gets its PSP name.
constexpr const char *CopyTempPrefix = ".korvelo-copy-";
// Removes the temporary files of earlier copies that no copy is writing any more from
// ADeviceFolder's AVC and MPEG-4 folders.
TLeftovers RemoveCopyLeftovers(const std::string &ADeviceFolder);
// "Removed 2 unfinished files (48,512 KB) left on the memory stick by an earlier copy that was
// interrupted."
std::string LeftoversMessage(const TLeftovers &ALeftovers);

struct TCopyResult {
  TCopyOutcome Outcome = TCopyOutcome::coRefused;
  std::vector<std::string> Messages; // the messages in the order they were raised
  std::vector<std::pair<std::string, std::string>> Copied; // (source, device file) done
  size_t Count = 0;                                        // files to copy, thumbnails included
  std::string Error;        // what went wrong with which file, for a failed copy
  std::string FailedSource; // the file being copied when it went wrong
  TLeftovers Leftovers;     // an earlier interrupted copy's files, removed first
};

// Copies ASelected and their thumbnails into ADeviceFolder after the checks, in this order:
// device folder there (and, with ADeviceDrive, the stick still mounted there), free space,
// device sub-folders, selection; then the name-space message per kind when numbers run short
// (the files that fit are still copied). Each message goes to AOnMessage as it arises and into
// the result. A file on the device is never overwritten: a number another copy takes meanwhile
// makes this one take the next free number. A file is copied under a temporary name and renamed
// when complete, so a failed or cancelled copy leaves no partial file under a PSP name; the
// temporary files an earlier copy left when it was cut off are removed first, with a message
// saying so. A stick pulled out during the copy ends it before the next file, so nothing lands
// in an empty mount folder. Every file and the device folders are synced to the medium before
// success is said. The first failure ends the copy. Runs on the calling thread, callbacks
// included: a window runs it on a worker and posts them to itself.
TCopyResult CopyToDevice(const std::string &ADeviceFolder,
                         const std::vector<TCopySource> &ASelected,
                         const TCopyProgressFunction &AProgress = {},
                         const TMessageFunction &AOnMessage = {},
                         const std::string &ADeviceDrive = {});

// A failed copy in words for the person: the reason with the file it concerned, and the videos
// copied whole before it ("MP_ROOT/100ANV01/MAQ00002.MP4: No space left on device. Copied
// before it, and whole on the stick: a.mp4 (MP_ROOT/100ANV01/MAQ00001.MP4)."). Empty unless
// AResult failed.
std::string CopyFailureDetails(const std::string &ADeviceFolder, const TCopyResult &AResult);

// Copies one file to ATarget, which must not exist: written under a temporary name in the
// target's folder, synced, renamed without replacing, and the folder synced. AProgress gets the
// bytes copied so far and cancels by returning false. False with AError on failure or cancel.
bool CopyFileNoReplace(const std::string &ASource, const std::string &ATarget,
                       const std::function<bool(int64_t ABytesDone)> &AProgress,
                       std::string &AError);
