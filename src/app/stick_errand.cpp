#include "app/stick_errand.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>

#include "app/folders.h"
#include "app/i18n.h"
#include "app/output_verdict.h"
#include "app/profiles.h"
#include "app/psp_stick.h"
#include "app/thumbnail.h"
#include "probe/av_probe.h"

namespace {

constexpr int64_t LargestCluster = 32768;

int64_t FileBytes(const std::string &APath) {
  struct stat st {};
  return ::stat(APath.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size)
                                                                : -1;
}

int64_t InClusters(int64_t ABytes, int64_t ACluster) {
  return ABytes <= 0 ? 0 : (ABytes + ACluster - 1) / ACluster * ACluster;
}

std::string Relative(const std::string &ADeviceFolder, const std::string &APath) {
  const std::string root = WithSeparator(ADeviceFolder);
  return APath.compare(0, root.size(), root) == 0 ? APath.substr(root.size()) : APath;
}

void AppendList(std::string &AText, const char *AHeading, const std::vector<std::string> &AItems) {
  if (AItems.empty())
    return;
  AText += std::string(AText.empty() ? "" : "\n") + AHeading;
  for (const std::string &item : AItems)
    AText += "\n  " + item;
}

// Copies one video and reads the copy back; false when the errand cannot go on (the copy
// failed or was cancelled: the stick may be gone).
bool SendOne(const std::string &ADeviceFolder, const TErrandVideo &AVideo,
             const TCopyProgressFunction &AProgress, const std::string &ADeviceDrive,
             TErrandReport &AReport) {
  const TCopyResult result =
      CopyToDevice(ADeviceFolder, {{AVideo.Path, AVideo.Format}}, AProgress, {}, ADeviceDrive);
  for (const std::string &message : result.Messages)
    if (message != MsgCopied && message != MsgCopyFailed)
      AReport.Messages.push_back(message);
  std::string target;
  for (const auto &copied : result.Copied)
    if (copied.first == AVideo.Path)
      target = copied.second;
  if (result.Outcome != TCopyOutcome::coCopied) {
    AReport.Problems.push_back(
        AVideo.Name + ": " +
        (result.Outcome == TCopyOutcome::coFailed
             ? CopyFailureDetails(ADeviceFolder, result)
             : std::string(result.Messages.empty() ? _("not copied") : result.Messages.back())));
    if (!target.empty()) { // the video is there, its thumbnail is not: no half copy stays
      std::string ignored;
      RemoveStickVideo(target, ignored);
    }
    return result.Outcome != TCopyOutcome::coFailed;
  }
  const std::string problem = StickCopyProblem(ADeviceFolder, AVideo.Path, target);
  if (!problem.empty()) {
    std::string error;
    const bool removed = RemoveStickVideo(target, error);
    AReport.Problems.push_back(
        removed ? FormatText(_("%s: the copy on the stick is bad (%s), removed"),
                             AVideo.Name.c_str(), problem.c_str())
                : FormatText(_("%s: the copy on the stick is bad (%s), could not be removed: %s"),
                             AVideo.Name.c_str(), problem.c_str(), error.c_str()));
    return true;
  }
  AReport.OnStick.push_back(AVideo.Name + " \u2192 " + Relative(ADeviceFolder, target));
  return true;
}

} // namespace

std::string FormatOfPSPVideo(const std::string &APath, std::string &AReason) {
  try {
    TAVProbe probe;
    if (!probe.LoadFile(APath)) {
      AReason = _("not a video file the PSP plays");
      return {};
    }
    std::string format;
    const std::string problem = PSPPlayProblem(APath, probe, format);
    AReason = problem.empty()
                  ? std::string()
                  : FormatText(_("not a PSP video: %s, convert it first"), problem.c_str());
    return problem.empty() ? format : std::string();
  } catch (const std::exception &e) {
    AReason = e.what();
    return {};
  }
}

TErrandVideo ConvertedErrandVideo(const std::string &AName, const std::string &AOutput) {
  TErrandVideo video;
  video.Name = AName;
  video.Path = AOutput;
  std::string reason;
  video.Format = FormatOfPSPVideo(AOutput, reason);
  if (video.Format.empty())
    video.Why = reason;
  return video;
}

int64_t StickClusterBytes(const std::string &ADeviceFolder) {
  struct statvfs st {};
  if (::statvfs(ADeviceFolder.c_str(), &st) != 0 || st.f_bsize < 512 || st.f_bsize > 1024 * 1024)
    return LargestCluster;
  return static_cast<int64_t>(st.f_bsize);
}

int64_t StickRoomFor(const std::string &AVideo, int64_t AClusterBytes) {
  return InClusters(FileBytes(AVideo), AClusterBytes) +
         InClusters(FileBytes(ThumbnailFileName(AVideo)), AClusterBytes);
}

std::string StickCopyProblem(const std::string &ADeviceFolder, const std::string &ASource,
                             const std::string &ATarget) {
  if (ATarget.empty())
    return _("not found on the stick");
  const int64_t size = FileBytes(ATarget), expected = FileBytes(ASource);
  if (size != expected)
    return FormatText(_("size %s instead of %s"), FormatSizeKB(std::max<int64_t>(size, 0)).c_str(),
                      FormatSizeKB(expected).c_str());
  const std::string thumbnail = ThumbnailFileName(ASource);
  if (FileBytes(thumbnail) >= 0 && FileBytes(ThumbnailFileName(ATarget)) != FileBytes(thumbnail))
    return _("its thumbnail is missing or cut short");
  std::string problem;
  try {
    TAVProbe probe;
    std::string format;
    problem = probe.LoadFile(ATarget) ? PSPPlayProblem(ATarget, probe, format)
                                      : std::string(_("not a video file"));
    probe.CloseFile();
  } catch (const std::exception &e) {
    problem = e.what();
  }
  if (problem.empty())
    problem = StickNameProblem(Relative(ADeviceFolder, ATarget));
  return problem;
}

TErrandReport SendToStick(const std::string &ADeviceFolder,
                          const std::vector<TErrandVideo> &AVideos,
                          const TCopyProgressFunction &AProgress, const std::string &ADeviceDrive) {
  TErrandReport report;
  bool full = false, ended = false;
  const int64_t cluster = StickClusterBytes(ADeviceFolder);
  for (const TErrandVideo &video : AVideos) {
    if (ended) { // a failed or cancelled copy: the rest is named, not left unsaid
      report.Problems.push_back(
          FormatText(_("%s: not sent, the copy ended before it"), video.Name.c_str()));
      continue;
    }
    if (!video.Why.empty() || IsPartialConversion(video.Path)) {
      report.Problems.push_back(
          video.Name + ": " + (video.Why.empty() ? _("its conversion did not finish") : video.Why));
      continue;
    }
    const std::string twin =
        FindTwinOnStick(ADeviceFolder, video.Path, ListStickVideoSizes(ADeviceFolder));
    if (!twin.empty()) {
      report.OnStick.push_back(
          FormatText(_("%s \u2192 %s (there already)"), video.Name.c_str(), twin.c_str()));
      continue;
    }
    const TStickCopyPlan plan = PlanStickCopy(ADeviceFolder, {{video.Path, video.Format}});
    if (plan.Kept.empty()) { // too big for the stick's FAT
      report.Problems.insert(report.Problems.end(), plan.Messages.begin(), plan.Messages.end());
      continue;
    }
    const int64_t room = StickRoomFor(video.Path, cluster);
    // One reading of the free room decides, after the copies before it.
    full = full || DeviceFreeSpace(ADeviceFolder) < room;
    if (full) {
      report.NotFitting.push_back(
          FormatText(_("%s (needs %s)"), video.Name.c_str(), FormatSizeKB(room).c_str()));
      continue;
    }
    ended = !SendOne(ADeviceFolder, video, AProgress, ADeviceDrive, report);
  }
  report.FreeAfter = DeviceFreeSpace(ADeviceFolder);
  return report;
}

std::string TErrandReport::Text() const {
  std::string text = OnStick.empty() ? _("None of them is on the memory stick.") : "";
  AppendList(text, _("On the memory stick now:"), OnStick);
  AppendList(
      text,
      FormatText(_("Did not fit (%s free):"), FormatSizeKB(std::max<int64_t>(FreeAfter, 0)).c_str())
          .c_str(),
      NotFitting);
  AppendList(text, _("Not sent:"), Problems);
  return text;
}
