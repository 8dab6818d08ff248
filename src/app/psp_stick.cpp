#include "app/psp_stick.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/folders.h"
#include "app/i18n.h"
#include "app/profiles.h"
#include "app/thumbnail.h"
#include "medialib/media_functions.h"
#include "probe/av_probe.h"

namespace fs = std::filesystem;

const char *const StickVideoFolders[3] = {"MP_ROOT/100ANV01/", "MP_ROOT/100MNV01/", "VIDEO/"};

namespace {

constexpr long MsdosSuperMagic = 0x4d44;
constexpr uint64_t MaxMoovBytes = 64u << 20; // a two-hour file's index is a few MB

std::string FileNameOf(const std::string &APath) {
  const size_t slash = APath.find_last_of('/');
  return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

bool EndsWithMP4(const std::string &AName) {
  if (AName.size() < 4)
    return false;
  std::string ext = AName.substr(AName.size() - 4);
  for (char &c : ext)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".mp4";
}

// The brand of an MP4-family file's "ftyp" box ("isom", "MSNV", "qt  ", ...); empty without one.
std::string BrandOf(const std::string &APath) {
  char box[12] = {};
  FILE *file = std::fopen(APath.c_str(), "rb");
  if (!file)
    return {};
  const size_t n = std::fread(box, 1, sizeof box, file);
  std::fclose(file);
  if (n < sizeof box || std::memcmp(box + 4, "ftyp", 4) != 0)
    return {};
  return std::string(box + 8, 4);
}

std::string CodecProfileName(AVCodecID ACodec, int AProfile) {
  const char *name = avlib.avcodec_profile_name(ACodec, AProfile);
  return name ? name : "profile " + std::to_string(AProfile);
}

uint32_t Be32(const unsigned char *p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint16_t Be16(const unsigned char *p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

void AppendUtf8(uint32_t c, std::string &AOut) {
  if (c < 0x80) {
    AOut += static_cast<char>(c);
  } else if (c < 0x800) {
    AOut += static_cast<char>(0xC0 | (c >> 6));
    AOut += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    AOut += static_cast<char>(0xE0 | (c >> 12));
    AOut += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    AOut += static_cast<char>(0xF0 | (c >> 18));
    AOut += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    AOut += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string Utf16BeToUtf8(const unsigned char *AData, size_t ASize) {
  std::string out;
  for (size_t i = 0; i + 1 < ASize; i += 2) {
    uint32_t c = Be16(AData + i);
    if (c == 0)
      break;
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < ASize) {
      const uint32_t low = Be16(AData + i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(c, out);
  }
  return out;
}

// The title entry (type 1) of an "MTDT" box's payload.
std::string TitleOfMTDT(const unsigned char *AData, size_t ASize) {
  if (ASize < 2)
    return {};
  const unsigned count = Be16(AData);
  size_t pos = 2;
  for (unsigned i = 0; i < count && pos + 10 <= ASize; ++i) {
    const size_t size = Be16(AData + pos);
    if (size < 10 || pos + size > ASize)
      break;
    if (Be32(AData + pos + 2) == 1)
      return Utf16BeToUtf8(AData + pos + 10, size - 10);
    pos += size;
  }
  return {};
}

// Calls AOn(type, payload, payload size) for each box in [AData, AData + ASize).
template <typename F> void ForEachBox(const unsigned char *AData, size_t ASize, F AOn) {
  size_t pos = 0;
  while (pos + 8 <= ASize) {
    uint64_t size = Be32(AData + pos);
    size_t header = 8;
    if (size == 1 && pos + 16 <= ASize) {
      size = (uint64_t(Be32(AData + pos + 8)) << 32) | Be32(AData + pos + 12);
      header = 16;
    } else if (size == 0) {
      size = ASize - pos;
    }
    if (size < header || size > ASize - pos)
      return;
    if (AOn(std::string(reinterpret_cast<const char *>(AData + pos + 4), 4), AData + pos + header,
            static_cast<size_t>(size - header)))
      return;
    pos += static_cast<size_t>(size);
  }
}

int64_t RegularFileSize(const std::string &APath) {
  struct stat st {};
  if (::stat(APath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return -1;
  return static_cast<int64_t>(st.st_size);
}

// The file-system type (or, with ASource, the device) the mount table gives for AMountPoint.
std::string MountType(const std::string &AMountPoint, bool ASource = false) {
  std::ifstream in("/proc/self/mountinfo");
  std::string line, found;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, dev, root, point, field;
    fields >> id >> parent >> dev >> root >> point;
    while (fields >> field && field != "-") {
    }
    std::string type, source;
    fields >> type >> source;
    if (ASource)
      type = source;
    // Mount tables write blanks as "\040"; a stick's mount point with one still matches.
    std::string unescaped;
    for (size_t i = 0; i < point.size(); ++i) {
      if (point[i] == '\\' && i + 3 < point.size()) {
        unescaped += static_cast<char>(std::stoi(point.substr(i + 1, 3), nullptr, 8));
        i += 3;
      } else {
        unescaped += point[i];
      }
    }
    if (unescaped == AMountPoint)
      found = type; // the last mount on a point is the one seen
  }
  return found;
}

} // namespace

std::string PSPPlayProblem(const std::string &APath, TAVProbe &AProbe, std::string &AFormat) {
  const std::string brand = BrandOf(APath);
  if (brand == "qt  ")
    return _("QuickTime file, not MP4");
  if (AProbe.GetFormatName().rfind("mov,", 0) != 0 || brand.empty())
    return FormatText(_("%s file, not MP4"), AProbe.GetFormatName().c_str());
  if (AProbe.VideoStreamCount() < 1)
    return _("no video");
  if (AProbe.VideoStreamCount() > 1)
    return FormatText(TranslatePlural("%d video stream", "%d video streams",
                                      static_cast<unsigned long>(AProbe.VideoStreamCount())),
                      AProbe.VideoStreamCount());
  TAVVideoInfo video;
  AProbe.GetVideoInfo(-1, video);
  const std::string codec = video.CodecName;
  if (codec != "h264" && codec != "mpeg4")
    return FormatText(_("%s video"), codec.c_str());
  if (video.Width > 720 || video.Height > 480)
    return FormatText(_("size %dx%d not allowed"), video.Width, video.Height);
  if (codec == "h264") {
    AFormat = "AVC";
    const int profile = video.Profile & ~FF_PROFILE_H264_CONSTRAINED;
    if (profile != FF_PROFILE_H264_BASELINE && profile != FF_PROFILE_H264_MAIN)
      return FormatText(_("H.264 %s profile"),
                        CodecProfileName(AV_CODEC_ID_H264, video.Profile).c_str());
    if (video.Level > 30)
      return FormatText(_("level %d.%d above 3.0"), video.Level / 10, video.Level % 10);
  } else {
    AFormat = "MPEG4";
    if (video.Profile != FF_PROFILE_MPEG4_SIMPLE && video.Profile != FF_PROFILE_UNKNOWN)
      return FormatText(_("MPEG-4 %s"), CodecProfileName(AV_CODEC_ID_MPEG4, video.Profile).c_str());
  }
  if (AProbe.AudioStreamCount() < 1)
    return _("no AAC sound");
  for (int i = 0; i < AProbe.StreamCount(); ++i)
    if (AProbe.StreamType(i) == AVMEDIA_TYPE_AUDIO && AProbe.StreamCodecName(i) != "aac")
      return FormatText(_("%s sound, not AAC"), AProbe.StreamCodecName(i).c_str());
  return {};
}

std::string ReadPSPTitle(const std::string &APath) {
  std::ifstream in(APath, std::ios::binary);
  if (!in)
    return {};
  // Walk the top-level boxes to "moov" without reading the media data between them.
  unsigned char header[16];
  uint64_t pos = 0;
  while (in.seekg(static_cast<std::streamoff>(pos)) &&
         in.read(reinterpret_cast<char *>(header), 8)) {
    uint64_t size = Be32(header);
    uint64_t headerSize = 8;
    if (size == 1) {
      if (!in.read(reinterpret_cast<char *>(header + 8), 8))
        return {};
      size = (uint64_t(Be32(header + 8)) << 32) | Be32(header + 12);
      headerSize = 16;
    }
    if (size < headerSize && size != 0)
      return {};
    if (std::memcmp(header + 4, "moov", 4) == 0) {
      const uint64_t payload = size == 0 ? MaxMoovBytes : size - headerSize;
      if (payload > MaxMoovBytes)
        return {};
      std::vector<unsigned char> moov(static_cast<size_t>(payload));
      in.read(reinterpret_cast<char *>(moov.data()), static_cast<std::streamsize>(payload));
      moov.resize(static_cast<size_t>(in.gcount()));
      std::string title;
      ForEachBox(moov.data(), moov.size(),
                 [&](const std::string &AType, const unsigned char *AData, size_t ASize) {
                   if (AType != "uuid" || ASize < 16 || std::memcmp(AData, "USMT", 4) != 0)
                     return false;
                   ForEachBox(AData + 16, ASize - 16,
                              [&](const std::string &AInner, const unsigned char *AIn, size_t AN) {
                                if (AInner == "MTDT")
                                  title = TitleOfMTDT(AIn, AN);
                                return !title.empty();
                              });
                   return !title.empty();
                 });
      return title;
    }
    if (size == 0)
      return {};
    pos += size;
  }
  return {};
}

std::string StickNameProblem(const std::string &AName) {
  const size_t slash = AName.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : AName.substr(0, slash + 1);
  const std::string name = AName.substr(folder.size());
  const char *prefix = folder == DeviceAVCFolder     ? "MAQ"
                       : folder == DeviceMPEG4Folder ? "M4V"
                                                     : nullptr;
  if (!prefix)
    return {}; // the VIDEO folder lists any name
  bool numbered =
      name.size() == 12 && EndsWithMP4(name) && ::strncasecmp(name.c_str(), prefix, 3) == 0;
  for (size_t i = 3; numbered && i < 8; ++i)
    numbered = std::isdigit(static_cast<unsigned char>(name[i])) != 0;
  if (numbered)
    return {};
  return FormatText(_("the PSP lists only %snnnnn.MP4 names in %s"), prefix, folder.c_str());
}

std::vector<TStickVideo> ListStickVideos(const std::string &ADeviceFolder) {
  std::vector<TStickVideo> videos;
  if (ADeviceFolder.empty())
    return videos;
  const std::string root = WithSeparator(ADeviceFolder);
  TAVProbe probe;
  for (const char *folder : StickVideoFolders) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(root + folder, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      std::error_code sec;
      if (EndsWithMP4(name) && it->symlink_status(sec).type() == fs::file_type::regular)
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
      TStickVideo video;
      video.Name = std::string(folder) + name;
      video.Path = root + video.Name;
      video.Size = std::max<int64_t>(RegularFileSize(video.Path), 0);
      video.Title = ReadPSPTitle(video.Path);
      try {
        if (probe.LoadFile(video.Path)) {
          TAVFileInfo info;
          probe.GetFileInfo(info);
          video.DurationUs = info.Duration;
          std::string format;
          video.Problem = PSPPlayProblem(video.Path, probe, format);
        } else {
          video.Problem = _("not a video file");
        }
      } catch (const std::exception &) {
        video.Problem = _("not a video file");
      }
      probe.CloseFile();
      const std::string nameProblem = StickNameProblem(video.Name);
      if (!nameProblem.empty())
        video.Problem = video.Problem.empty() ? nameProblem : video.Problem + "; " + nameProblem;
      videos.push_back(video);
    }
  }
  return videos;
}

bool RemoveStickVideo(const std::string &APath, std::string &AError) {
  if (::unlink(APath.c_str()) != 0) {
    AError = FileNameOf(APath) + ": " + std::strerror(errno);
    return false;
  }
  ::unlink(ThumbnailFileName(APath).c_str()); // none is fine
  // The stick may be pulled right after: the removal must be on it by then.
  const std::string folder = fs::path(APath).parent_path().string();
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  return true;
}

bool RemoveStickVideoAt(const std::string &ADeviceFolder, const std::string &AName, int64_t ASize,
                        std::string &AError) {
  const size_t slash = AName.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : AName.substr(0, slash + 1);
  const std::string name = AName.substr(folder.size());
  bool videoFolder = false;
  for (const char *known : StickVideoFolders)
    videoFolder = videoFolder || folder == known;
  const std::string path = WithSeparator(ADeviceFolder) + AName;
  struct stat st {};
  if (ADeviceFolder.empty() || !videoFolder || !EndsWithMP4(name) ||
      ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    AError = FormatText(_("%s: not on the memory stick any more, nothing removed"), AName.c_str());
    return false;
  }
  // Another video under the same name since the list was read (a copy took the freed number).
  if (ASize >= 0 && static_cast<int64_t>(st.st_size) != ASize) {
    AError = FormatText(_("%s: another video has taken this name since, nothing removed"),
                        AName.c_str());
    return false;
  }
  return RemoveStickVideo(path, AError);
}

bool ContentHash(const std::string &APath, uint64_t &AHash) {
  const int fd = ::open(APath.c_str(), O_RDONLY);
  if (fd < 0)
    return false;
  std::vector<unsigned char> buffer(1 << 20);
  uint64_t hash = 1469598103934665603ull; // FNV-1a over 8-byte words, then the tail
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0)
      break;
    size_t i = 0;
    for (; i + 8 <= static_cast<size_t>(n); i += 8) {
      uint64_t word;
      std::memcpy(&word, buffer.data() + i, 8);
      hash = (hash ^ word) * 1099511628211ull;
    }
    for (; i < static_cast<size_t>(n); ++i)
      hash = (hash ^ buffer[i]) * 1099511628211ull;
  }
  ::close(fd);
  AHash = hash;
  return ok;
}

std::string FindTwinOnStick(const std::string &ADeviceFolder, const std::string &ASource,
                            const std::vector<TStickVideo> &AStickVideos) {
  (void)ADeviceFolder;
  const int64_t size = RegularFileSize(ASource);
  if (size <= 0)
    return {};
  bool hashed = false;
  uint64_t sourceHash = 0;
  for (const TStickVideo &video : AStickVideos) {
    // Only a file of the same size is read: most of the stick is never hashed.
    if (video.Size != size)
      continue;
    if (!hashed) {
      if (!ContentHash(ASource, sourceHash))
        return {};
      hashed = true;
    }
    uint64_t hash = 0;
    if (ContentHash(video.Path, hash) && hash == sourceHash)
      return video.Name;
  }
  return {};
}

bool OnFatVolume(const std::string &AFolder) {
  struct statfs st {};
  if (::statfs(AFolder.c_str(), &st) == 0 && st.f_type == MsdosSuperMagic)
    return true;
  std::string point = VolumeOf(AFolder);
  const std::string type = MountType(point);
  return type == "vfat" || type == "msdos" || type == "fuse.fusefat";
}

std::vector<TStickVideo> ListStickVideoSizes(const std::string &ADeviceFolder) {
  std::vector<TStickVideo> videos;
  const std::string root = WithSeparator(ADeviceFolder);
  for (const char *folder : StickVideoFolders) {
    std::error_code ec;
    for (fs::directory_iterator it(root + folder, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (!EndsWithMP4(name))
        continue;
      TStickVideo video;
      video.Name = std::string(folder) + name;
      video.Path = root + video.Name;
      video.Size = RegularFileSize(video.Path);
      videos.push_back(video);
    }
  }
  return videos;
}

TStickCopyPlan PlanStickCopy(const std::string &ADeviceFolder,
                             const std::vector<TCopySource> &ASelected) {
  TStickCopyPlan plan;
  std::error_code ec;
  const bool deviceThere = !ADeviceFolder.empty() && fs::is_directory(ADeviceFolder, ec);
  if (!deviceThere) {
    plan.Kept = ASelected; // the copy's own checks say what is wrong with the folder
    return plan;
  }
  const bool fat = OnFatVolume(ADeviceFolder);
  std::vector<TStickVideo> onStick;
  bool listed = false;
  for (const TCopySource &source : ASelected) {
    const int64_t size = RegularFileSize(source.Path);
    if (fat && size > FatMaxFileSize) {
      plan.Messages.push_back(
          FormatText(_("%s is %s: a FAT32 memory stick holds no file of 4 GiB or more, left out"),
                     FileNameOf(source.Path).c_str(), FormatSizeKB(size).c_str()));
      continue;
    }
    if (!listed) {
      onStick = ListStickVideoSizes(ADeviceFolder);
      listed = true;
    }
    const std::string twin = FindTwinOnStick(ADeviceFolder, source.Path, onStick);
    if (!twin.empty()) {
      plan.Messages.push_back(FormatText(_("%s is already on the stick as %s, left out"),
                                         FileNameOf(source.Path).c_str(), twin.c_str()));
      continue;
    }
    plan.Kept.push_back(source);
  }
  return plan;
}

std::vector<std::string> CopiedLines(const std::string &ADeviceFolder, const TCopyResult &AResult) {
  const std::string root = WithSeparator(ADeviceFolder);
  std::vector<std::string> lines;
  for (const auto &copied : AResult.Copied) {
    if (!EndsWithMP4(copied.second))
      continue;
    std::string target = copied.second;
    if (target.compare(0, root.size(), root) == 0)
      target = target.substr(root.size());
    lines.push_back(FileNameOf(copied.first) + " \u2192 " + target);
  }
  return lines;
}

bool DeviceFolderGone(const std::string &ADeviceFolder, const std::string &ADeviceDrive) {
  struct stat st {};
  if (ADeviceFolder.empty() || ::stat(ADeviceFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return true;
  return !ADeviceDrive.empty() && MountType(ADeviceDrive).empty();
}

std::string MountSource(const std::string &AMountPoint) {
  std::string point = AMountPoint;
  while (point.size() > 1 && point.back() == '/')
    point.pop_back();
  return MountType(point, true);
}

std::vector<std::string> ProgramsUsing(const std::string &AMountPoint) {
  std::string root = AMountPoint;
  while (root.size() > 1 && root.back() == '/')
    root.pop_back();
  std::vector<std::string> programs;
  std::error_code ec;
  for (fs::directory_iterator proc("/proc", ec), end; !ec && proc != end; proc.increment(ec)) {
    const std::string pid = proc->path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos)
      continue;
    bool uses = false;
    std::error_code fec;
    for (fs::directory_iterator fd(proc->path() / "fd", fec), fend; !fec && fd != fend && !uses;
         fd.increment(fec)) {
      std::error_code lec;
      const std::string target = fs::read_symlink(fd->path(), lec).string();
      uses = !lec && (target == root || target.compare(0, root.size() + 1, root + "/") == 0);
    }
    if (!uses)
      continue;
    std::string name;
    std::ifstream(proc->path() / "comm") >> name;
    const std::string entry = name + " (" + pid + ")";
    if (std::find(programs.begin(), programs.end(), entry) == programs.end())
      programs.push_back(entry);
  }
  return programs;
}
