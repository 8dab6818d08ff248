#include "app/device_library.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/conversion_outcome.h"
#include "app/folders.h"
#include "app/i18n.h"
#include "app/profiles.h"
#include "app/psp_stick.h"
#include "app/thumbnail.h"
#include "probe/av_probe.h"

namespace fs = std::filesystem;

const char *const MsgInsufficientSpace =
    N_("Insufficient disk space to copy selected video files.");
const char *const MsgDeviceFolderMissing = N_("The selected device folder do not exists.");
const char *const MsgCannotCreateFolder = N_("Can not create output folder");
const char *const MsgSelectFiles = N_("Please select video files.");
const char *const MsgCopyFailed = N_("Selected video files can not be copied to PSP properly");
const char *const MsgCopied = N_("Selected video files have been copied to your PSP");
const char *const MsgStickGone = N_("the memory stick is not there any more");

const char *const DeviceAVCFolder = "MP_ROOT/100ANV01/";
const char *const DeviceMPEG4Folder = "MP_ROOT/100MNV01/";

namespace {

constexpr size_t CopyBufferSize = 1 << 20;

bool EndsWithMP4(const std::string &AName) {
  if (AName.size() < 4)
    return false;
  std::string ext = AName.substr(AName.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".mp4";
}

bool Exists(const std::string &APath) {
  struct stat st {};
  return ::lstat(APath.c_str(), &st) == 0; // a dangling link counts: never write through it
}

int64_t RegularFileSize(const std::string &APath) {
  struct stat st {};
  if (::stat(APath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return -1;
  return static_cast<int64_t>(st.st_size);
}

void ListFolder(const std::string &AFolder, const char *AFormat,
                std::vector<TConvertedFile> &AFiles) {
  if (AFolder.empty())
    return;
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(AFolder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    // Plain files only: folders, links, devices and the like are not converted videos.
    std::error_code sec;
    if (EndsWithMP4(name) && it->symlink_status(sec).type() == fs::file_type::regular)
      names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  const std::string folder = WithSeparator(AFolder);
  for (const std::string &name : names) {
    TConvertedFile file;
    file.Name = name;
    file.Format = AFormat;
    file.Path = folder + name;
    const int64_t size = RegularFileSize(file.Path);
    if (size <= 0)
      continue;
    file.Size = size + ThumbnailSize(file.Path);
    file.Finished = IsFinishedConversion(file.Path);
    AFiles.push_back(std::move(file));
  }
}

std::vector<std::string> FreeNames(const std::string &AFolder, const char *APrefix, size_t ACount) {
  std::vector<std::string> names;
  for (int n = 0; n <= 99999 && names.size() < ACount; ++n) {
    const std::string stem = AFolder + APrefix + PadNumber5(n);
    // A thumbnail left without its video also keeps its number: the copy never overwrites.
    if (!Exists(stem + ".MP4") && !Exists(stem + ".THM"))
      names.push_back(stem + ".MP4");
  }
  return names;
}

bool MakeFolder(const std::string &AFolder) {
  std::error_code ec;
  fs::create_directories(AFolder, ec);
  return fs::is_directory(AFolder, ec);
}

// Moves ATemp to ATarget unless ATarget exists. Filesystems without the no-replace rename get a
// hard link; those without links either (FAT, as on memory sticks) get the name reserved with
// an exclusive create first, then the rename over that empty reservation.
bool PlaceWithoutReplacing(const std::string &ATemp, const std::string &ATarget, int &AErrno) {
  if (::renameat2(AT_FDCWD, ATemp.c_str(), AT_FDCWD, ATarget.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    AErrno = errno;
    return false;
  }
  if (::link(ATemp.c_str(), ATarget.c_str()) == 0) {
    ::unlink(ATemp.c_str());
    return true;
  }
  if (errno == EEXIST) {
    AErrno = errno;
    return false;
  }
  const int fd = ::open(ATarget.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    AErrno = errno;
    return false;
  }
  ::close(fd);
  if (::rename(ATemp.c_str(), ATarget.c_str()) == 0)
    return true;
  AErrno = errno;
  ::unlink(ATarget.c_str());
  return false;
}

bool WriteAll(int AFd, const char *AData, size_t ASize) {
  while (ASize > 0) {
    const ssize_t n = ::write(AFd, AData, ASize);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      if (n == 0)
        errno = EIO;
      return false;
    }
    AData += n;
    ASize -= static_cast<size_t>(n);
  }
  return true;
}

// Writes a folder's entries to the medium: a renamed file is only safe on a stick that is
// pulled out once its name is. A folder that cannot be synced at all (EINVAL) has nothing
// pending to write.
bool SyncFolder(const std::string &AFolder, int &AErrno) {
  const int fd =
      ::open(AFolder.empty() ? "." : AFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    AErrno = errno;
    return false;
  }
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
  AErrno = ok ? 0 : errno;
  ::close(fd);
  return ok;
}

// Closes a descriptor when it goes out of scope.
struct TFd {
  int Fd = -1;
  ~TFd() {
    if (Fd >= 0)
      ::close(Fd);
  }
  int Release() {
    const int fd = Fd;
    Fd = -1;
    return fd;
  }
};

} // namespace

std::string NameSpaceMessage(size_t ACount, const std::string &AKind) {
  return FormatText(_("Insufficient name space, only %zu %s video file(s) can be copied to PSP"),
                    ACount, AKind.c_str());
}

TDurationReader ProbeDurationReader(TAVProbe &AProbe) {
  return [&AProbe](const std::string &AFile, int64_t &ADurationUs) {
    try {
      if (!AProbe.LoadFile(AFile))
        return false;
      TAVFileInfo info;
      AProbe.GetFileInfo(info);
      ADurationUs = info.Duration;
      AProbe.CloseFile();
      return true;
    } catch (const std::exception &) {
      AProbe.CloseFile();
      return false;
    }
  };
}

std::vector<TConvertedFile> ListConvertedCandidates(const std::string &AAVCFolder,
                                                    const std::string &AMPEG4Folder) {
  std::vector<TConvertedFile> files;
  ListFolder(AAVCFolder, "AVC", files);
  ListFolder(AMPEG4Folder, "MPEG4", files);
  return files;
}

std::vector<TConvertedFile> ListConvertedFiles(const std::string &AAVCFolder,
                                               const std::string &AMPEG4Folder,
                                               const TDurationReader &AReadDuration) {
  std::vector<TConvertedFile> files = ListConvertedCandidates(AAVCFolder, AMPEG4Folder);
  files.erase(std::remove_if(files.begin(), files.end(),
                             [&](TConvertedFile &AFile) {
                               AFile.DurationRead =
                                   AReadDuration && AReadDuration(AFile.Path, AFile.DurationUs);
                               return !AFile.DurationRead;
                             }),
              files.end());
  return files;
}

int64_t ThumbnailSize(const std::string &APath) {
  return std::max<int64_t>(RegularFileSize(ThumbnailFileName(APath)), 0);
}

int64_t DeviceFreeSpace(const std::string &AFolder) {
  // A stick that is not mounted leaves its folder missing: measuring the nearest existing
  // parent would report the computer's own disk as the device's.
  struct stat folder {};
  if (AFolder.empty() || ::stat(AFolder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
    return -1;
  struct statvfs st {};
  if (::statvfs(AFolder.c_str(), &st) != 0)
    return -1;
  return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

std::string SelectionStatusText(int64_t ASelectedSize, int64_t AFreeSpace) {
  return FormatText(_("%s selected, %s available on device folder."),
                    FormatSizeKB(ASelectedSize).c_str(), FormatSizeKB(AFreeSpace).c_str());
}

int SelectionPercent(int64_t ASelectedSize, int64_t AFreeSpace) {
  if (ASelectedSize <= 0 || AFreeSpace < 0)
    return 0; // nothing selected, or nothing measured: no share to show
  if (ASelectedSize >= AFreeSpace)
    return 100;
  return static_cast<int>((100 * ASelectedSize) / AFreeSpace);
}

TDeviceNames AllocateDeviceNames(const std::string &ADeviceFolder, size_t AAVCCount,
                                 size_t AMPEG4Count) {
  const std::string root = WithSeparator(ADeviceFolder);
  TDeviceNames names;
  if (AAVCCount > 0)
    names.AVCTargets = FreeNames(root + DeviceAVCFolder, "MAQ", AAVCCount);
  if (AMPEG4Count > 0)
    names.MPEG4Targets = FreeNames(root + DeviceMPEG4Folder, "M4V", AMPEG4Count);
  return names;
}

TLeftovers RemoveCopyLeftovers(const std::string &ADeviceFolder) {
  TLeftovers found;
  const std::string root = WithSeparator(ADeviceFolder);
  for (const char *sub : {DeviceAVCFolder, DeviceMPEG4Folder}) {
    std::error_code ec;
    for (fs::directory_iterator it(root + sub, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      std::error_code sec;
      if (name.rfind(CopyTempPrefix, 0) != 0 ||
          it->symlink_status(sec).type() != fs::file_type::regular)
        continue;
      const std::string path = it->path().string();
      TFd fd;
      fd.Fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
      // One another copy is still writing keeps its lock: it is not a leftover.
      if (fd.Fd < 0 || ::flock(fd.Fd, LOCK_EX | LOCK_NB) != 0)
        continue;
      const int64_t size = RegularFileSize(path);
      if (::unlink(path.c_str()) == 0) {
        ++found.Count;
        found.Bytes += std::max<int64_t>(size, 0);
      }
    }
  }
  return found;
}

std::string LeftoversMessage(const TLeftovers &ALeftovers) {
  return FormatText(TranslatePlural("Removed %zu unfinished file (%s) left on the memory stick by "
                                    "an earlier copy that was interrupted.",
                                    "Removed %zu unfinished files (%s) left on the memory stick "
                                    "by an earlier copy that was interrupted.",
                                    static_cast<unsigned long>(ALeftovers.Count)),
                    ALeftovers.Count, FormatSizeKB(ALeftovers.Bytes).c_str());
}

namespace {

// Copies ASource under a temporary name beside ATarget, then gives it ATarget's name without
// replacing anything. When that name has been taken meanwhile and ANext is set, the copy takes
// the name ANext gives (ATarget is updated) rather than failing.
bool CopyFileTakingName(const std::string &ASource, std::string &ATarget,
                        const std::function<bool(int64_t)> &AProgress,
                        const std::function<std::string(const std::string &)> &ANext,
                        std::string &AError) {
  auto fail = [&](const std::string &AWhat, int AErrno) {
    AError = AWhat + ": " + std::strerror(AErrno);
    return false;
  };
  while (Exists(ATarget) && ANext && !ATarget.empty())
    ATarget = ANext(ATarget);
  if (ATarget.empty() || Exists(ATarget))
    return fail(ATarget, EEXIST);
  TFd source;
  source.Fd = ::open(ASource.c_str(), O_RDONLY | O_CLOEXEC);
  if (source.Fd < 0)
    return fail(ASource, errno);
  const std::string folder = fs::path(ATarget).parent_path().string();
  // A hidden name that the PSP's player ignores; mkstemp creates it exclusively.
  std::string temp = (folder.empty() ? std::string(".") : folder) + "/" + CopyTempPrefix + "XXXXXX";
  TFd target;
  target.Fd = ::mkstemp(temp.data());
  if (target.Fd < 0)
    return fail(ATarget, errno);
  // Held while it is written: a later copy removes only the ones nobody writes any more.
  ::flock(target.Fd, LOCK_EX | LOCK_NB);
  auto discard = [&](const std::string &AWhat, int AErrno) {
    ::close(target.Release());
    ::unlink(temp.c_str());
    return fail(AWhat, AErrno);
  };
  if (::fchmod(target.Fd, 0644) != 0) {
  }
  static thread_local std::vector<char> buffer;
  buffer.resize(CopyBufferSize);
  int64_t done = 0;
  for (;;) {
    const ssize_t n = ::read(source.Fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return discard(ASource, errno);
    if (n == 0)
      break;
    if (!WriteAll(target.Fd, buffer.data(), static_cast<size_t>(n)))
      return discard(ATarget, errno);
    done += n;
    if (AProgress && !AProgress(done))
      return discard(ATarget, ECANCELED);
  }
  // On the medium before it gets its PSP name: a stick pulled out later keeps whole files.
  if (::fsync(target.Fd) != 0)
    return discard(ATarget, errno);
  if (::close(target.Release()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return fail(ATarget, err);
  }
  int err = 0;
  while (!PlaceWithoutReplacing(temp, ATarget, err)) {
    const std::string next = err == EEXIST && ANext ? ANext(ATarget) : std::string();
    if (next.empty()) {
      ::unlink(temp.c_str());
      return fail(ATarget, err);
    }
    ATarget = next;
  }
  if (!SyncFolder(folder, err))
    return fail(ATarget, err);
  return true;
}

} // namespace

namespace {

// The device folder as it was when the copy began: a stick pulled out meanwhile leaves its mount
// folder on the computer's disk (another file system) or takes it away, and a copy must not go on
// into it.
struct TDeviceWatch {
  std::string Root, Drive;
  dev_t Device = 0;
  ino_t Inode = 0;
  bool Start(const std::string &ARoot, const std::string &ADrive) {
    Root = ARoot;
    Drive = ADrive;
    struct stat st {};
    if (::stat(Root.c_str(), &st) != 0)
      return false;
    Device = st.st_dev;
    Inode = st.st_ino;
    return Still();
  }
  bool Still() const {
    struct stat st {};
    if (::stat(Root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_dev != Device ||
        st.st_ino != Inode)
      return false;
    return Drive.empty() || !DeviceFolderGone(Root, Drive);
  }
};

// The checks before anything is copied, in their order; empty when the copy may go on.
const char *CopyRefusal(const std::string &ADeviceFolder, const std::vector<TCopySource> &ASelected,
                        const std::string &ADeviceDrive) {
  std::error_code ec;
  // A folder that is not there has no free space to measure: that is not a lack of room.
  if (!ADeviceFolder.empty() &&
      (!fs::is_directory(ADeviceFolder, ec) || DeviceFolderGone(ADeviceFolder, ADeviceDrive)))
    return MsgDeviceFolderMissing;
  int64_t selectedSize = 0;
  for (const TCopySource &source : ASelected)
    selectedSize += std::max<int64_t>(RegularFileSize(source.Path), 0) + ThumbnailSize(source.Path);
  if (DeviceFreeSpace(ADeviceFolder) < selectedSize)
    return MsgInsufficientSpace;
  if (ADeviceFolder.empty())
    return MsgDeviceFolderMissing;
  const std::string root = WithSeparator(ADeviceFolder);
  if (!MakeFolder(root + DeviceMPEG4Folder) || !MakeFolder(root + DeviceAVCFolder))
    return MsgCannotCreateFolder;
  if (ASelected.empty())
    return MsgSelectFiles;
  return nullptr;
}

// One video to copy, with its thumbnail when it has one.
struct TCopyItem {
  std::string Source, Target, Thumbnail;
  const char *Prefix = "MAQ";
};

std::vector<TCopyItem> PlanCopyItems(const std::string &ADeviceFolder,
                                     const std::vector<TCopySource> &ASelected,
                                     const std::function<void(const std::string &)> &ASay) {
  std::vector<std::string> avcSources, mpeg4Sources;
  for (const TCopySource &source : ASelected)
    (source.Format == "AVC" ? avcSources : mpeg4Sources).push_back(source.Path);
  const TDeviceNames targets =
      AllocateDeviceNames(ADeviceFolder, avcSources.size(), mpeg4Sources.size());
  std::vector<TCopyItem> items;
  auto plan = [&](const std::vector<std::string> &ASources,
                  const std::vector<std::string> &ATargets, const char *AKind,
                  const char *APrefix) {
    if (ASources.empty())
      return;
    if (ASources.size() > ATargets.size())
      ASay(NameSpaceMessage(ATargets.size(), AKind));
    for (size_t i = 0; i < ATargets.size() && i < ASources.size(); ++i) {
      if (RegularFileSize(ASources[i]) < 0)
        continue; // vanished since the listing: its number stays unused
      TCopyItem item{ASources[i], ATargets[i], ThumbnailFileName(ASources[i]), APrefix};
      if (RegularFileSize(item.Thumbnail) < 0)
        item.Thumbnail.clear();
      items.push_back(item);
    }
  };
  plan(avcSources, targets.AVCTargets, "AVC", "MAQ");
  plan(mpeg4Sources, targets.MPEG4Targets, "MPEG4", "M4V");
  return items;
}

// The next number after ATaken's that has neither a video nor a thumbnail: another copy onto
// the same stick took the name meanwhile.
std::string NextFreeName(const std::string &ATaken, const char *APrefix) {
  const std::string folder = fs::path(ATaken).parent_path().string() + "/";
  const std::string stem = fs::path(ATaken).stem().string();
  const int taken = std::atoi(stem.c_str() + std::min<size_t>(3, stem.size()));
  for (int n = taken + 1; n <= 99999; ++n) {
    const std::string name = folder + APrefix + PadNumber5(n);
    if (!Exists(name + ".MP4") && !Exists(name + ".THM"))
      return name + ".MP4";
  }
  return {};
}

// Copies one file of a device copy, unless the stick has gone: ATarget becomes the name it got.
bool CopyOneFile(const std::string &ASource, std::string &ATarget, const char *APrefix,
                 const TDeviceWatch &AWatch, const TCopyProgressFunction &AProgress,
                 TCopyProgress &AState, TCopyResult &AResult) {
  AState.Source = ASource;
  AState.Target = ATarget;
  const int64_t base = AState.BytesDone;
  auto onBytes = [&](int64_t ADone) {
    AState.BytesDone = base + ADone;
    return !AProgress || AProgress(AState);
  };
  std::function<std::string(const std::string &)> next;
  if (APrefix)
    next = [APrefix](const std::string &ATaken) { return NextFreeName(ATaken, APrefix); };
  const bool copied =
      AWatch.Still() && CopyFileTakingName(ASource, ATarget, onBytes, next, AResult.Error);
  if (!copied && !AWatch.Still())
    AResult.Error = ATarget + ": " + MsgStickGone; // the reason behind a missing folder
  if (!copied)
    AResult.FailedSource = ASource;
  else
    AResult.Copied.emplace_back(ASource, ATarget);
  ++AState.FileIndex;
  return copied;
}

} // namespace

bool CopyFileNoReplace(const std::string &ASource, const std::string &ATarget,
                       const std::function<bool(int64_t)> &AProgress, std::string &AError) {
  std::string target = ATarget;
  return CopyFileTakingName(ASource, target, AProgress, {}, AError);
}

TCopyResult CopyToDevice(const std::string &ADeviceFolder,
                         const std::vector<TCopySource> &ASelected,
                         const TCopyProgressFunction &AProgress, const TMessageFunction &AOnMessage,
                         const std::string &ADeviceDrive) {
  TCopyResult result;
  auto say = [&](const std::string &AMessage) {
    result.Messages.push_back(AMessage);
    if (AOnMessage)
      AOnMessage(AMessage);
  };
  // Temporary files of a copy cut off earlier (a stick pulled out) take room and are never
  // finished: they go first, and the person hears of it.
  if (!ADeviceFolder.empty() && !DeviceFolderGone(ADeviceFolder, ADeviceDrive)) {
    result.Leftovers = RemoveCopyLeftovers(ADeviceFolder);
    if (result.Leftovers.Count > 0)
      say(LeftoversMessage(result.Leftovers));
  }
  if (const char *refusal = CopyRefusal(ADeviceFolder, ASelected, ADeviceDrive)) {
    say(refusal);
    result.Outcome = TCopyOutcome::coRefused;
    return result;
  }
  const std::vector<TCopyItem> items = PlanCopyItems(ADeviceFolder, ASelected, say);
  TCopyProgress progress;
  for (const TCopyItem &item : items) {
    progress.FileCount += item.Thumbnail.empty() ? 1 : 2;
    progress.BytesTotal += std::max<int64_t>(RegularFileSize(item.Source), 0) +
                           std::max<int64_t>(RegularFileSize(item.Thumbnail), 0);
  }
  result.Count = progress.FileCount;
  if (items.empty()) {
    result.Outcome = TCopyOutcome::coNothing;
    return result;
  }
  const std::string root = WithSeparator(ADeviceFolder);
  TDeviceWatch watch;
  watch.Start(root, ADeviceDrive);
  auto copyOne = [&](const std::string &ASource, std::string &ATarget, const char *APrefix) {
    return CopyOneFile(ASource, ATarget, APrefix, watch, AProgress, progress, result);
  };
  for (const TCopyItem &item : items) {
    std::string video = item.Target;
    const bool videoCopied = copyOne(item.Source, video, item.Prefix);
    // The thumbnail follows the number the video got.
    std::string thumbnail = ThumbnailFileName(video);
    if (!videoCopied || (!item.Thumbnail.empty() && !copyOne(item.Thumbnail, thumbnail, nullptr))) {
      result.Outcome = TCopyOutcome::coFailed;
      say(MsgCopyFailed);
      return result;
    }
  }
  // The device folders may have been made by this copy: their entries are synced too.
  int err = 0;
  for (const std::string &folder : {root + "MP_ROOT", root})
    if (!SyncFolder(folder, err)) {
      result.Error = folder + ": " + std::strerror(err);
      result.Outcome = TCopyOutcome::coFailed;
      say(MsgCopyFailed);
      return result;
    }
  result.Outcome = TCopyOutcome::coCopied;
  say(MsgCopied);
  return result;
}

std::string CopyFailureDetails(const std::string &ADeviceFolder, const TCopyResult &AResult) {
  if (AResult.Outcome != TCopyOutcome::coFailed)
    return {};
  const std::string root = WithSeparator(ADeviceFolder);
  auto shown = [&](const std::string &APath) {
    return APath.compare(0, root.size(), root) == 0 ? APath.substr(root.size()) : APath;
  };
  std::string text = shown(AResult.Error) + ".";
  std::string before;
  for (const auto &copied : AResult.Copied)
    if (EndsWithMP4(copied.second))
      before += (before.empty() ? "" : ", ") + fs::path(copied.first).filename().string() + " (" +
                shown(copied.second) + ")";
  text += before.empty()
              ? _(" Nothing was copied before it.")
              : FormatText(_(" Copied before it, and whole on the stick: %s."), before.c_str());
  return text;
}
