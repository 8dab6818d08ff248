#include "app/conversion_load.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "app/file_reasons.h"
#include "app/i18n.h"
#include "app/output_claim.h"
#include "app/output_options.h"
#include "app/profiles.h"
#include "converter/av_converter.h"

namespace {

// The input's side of a content choice: where it starts, or how long its one picture lasts.
void ApplyContent(const TResolvedContent &AContent, TInputOptions &AInput) {
  if (AContent.Still) {
    // One picture lasting the whole still: decoded once (a huge photo takes seconds), shown
    // until the recording time by the engine's repeating of the last picture.
    AInput.ExtOptions += "r=1/" + std::to_string(AContent.StillSeconds) + "\n";
  } else if (AContent.StartMs > 0) {
    AInput.StartTime = static_cast<int32_t>(std::min<int64_t>(AContent.StartMs, INT32_MAX));
  }
}

// The output's side: its length, the subtitles to burn in, the sound track.
void ApplyContent(const TResolvedContent &AContent, TOutputOptions &AOutput) {
  if (AContent.LengthMs > 0)
    AOutput.RecordingTime = static_cast<int32_t>(std::min<int64_t>(AContent.LengthMs, INT32_MAX));
  // Option lines follow the profile's.
  if (!AOutput.ExtOptions.empty() && AOutput.ExtOptions.back() != '\n')
    AOutput.ExtOptions += '\n';
  if (AContent.Subtitle.Kind == TSubtitleKind::skStream)
    AOutput.ExtOptions += "burn_subtitles=" + std::to_string(AContent.Subtitle.StreamIndex) + "\n";
  else if (AContent.Subtitle.Kind == TSubtitleKind::skFile)
    AOutput.ExtOptions += "burn_subtitles_file=" + AContent.Subtitle.FileName + "\n";
  if (AContent.AudioStream >= 0) {
    // Maps name the source of every output stream the input feeds: the picture the engine
    // would take anyway, and the chosen sound.
    if (AContent.VideoStream >= 0)
      AOutput.ExtOptions += "map=0:" + std::to_string(AContent.VideoStream) + "\n";
    AOutput.ExtOptions += "map=0:" + std::to_string(AContent.AudioStream) + "\n";
  }
}

// The probe reads the input and the conversion reads it again: a pipe or device would be empty
// the second time, and opening a pipe without a writer waits for ever. The libraries would blame
// the header of an empty file (a download that never came).
bool CheckInputFile(const std::string &AFileName, std::string &AError) {
  struct stat st {};
  if (::stat(AFileName.c_str(), &st) != 0)
    return true; // the probe says why
  if (!S_ISREG(st.st_mode)) {
    AError = _("***File load error: ") +
             FillName(S_ISDIR(st.st_mode) ? _("%s: a folder, not a media file")
                                          : _("%s: not a regular file, it cannot be read twice"),
                      AFileName);
    return false;
  }
  if (st.st_size == 0) {
    AError = _("***File load error: ") +
             FillName(_("%s: an empty file (0 bytes), not a media file"), AFileName);
    return false;
  }
  return true;
}

// What the probe tells of the input, and the content chosen from it.
bool ProbeInput(TAVProbe &AProbe, const std::string &AFileName, const TContentChoice &AChoice,
                TLoadedConversion &ALoaded, std::string &AError) {
  if (!AProbe.LoadFile(AFileName)) {
    AError = _("***File load error: ") + AProbe.LastErrorMessage();
    // The libraries' catch-all says nothing a person can act on; the file system tells why.
    const std::string unknown = FillName(_("%s: Error while opening file"), "");
    const std::string reason = WhyNotReadable(AFileName);
    if (!reason.empty() && AError.size() >= unknown.size() &&
        AError.compare(AError.size() - unknown.size(), unknown.size(), unknown) == 0)
      AError += ": " + reason;
    return false;
  }
  TAVFileInfo info;
  AProbe.GetFileInfo(info);
  ALoaded.Title = TitleFor(info.Title, AProbe.GetFileName());
  TAVVideoInfo video;
  AProbe.GetVideoInfo(-1, video);
  ALoaded.SrcW = video.Width;
  ALoaded.SrcH = video.Height;
  ALoaded.DisplayAspect = video.DisplayAspect > 0 ? video.DisplayAspect : 0;
  ALoaded.DurationUs = info.Duration;
  ALoaded.DurationGuessed = AProbe.DurationGuessed();
  ALoaded.HasSound = AProbe.AudioStreamCount() > 0;
  ALoaded.BitRate = info.BitRate;
  ALoaded.FormatName = AProbe.GetFormatName();
  ALoaded.VideoCodec = video.CodecName;
  for (int i = 0; i < AProbe.StreamCount() && ALoaded.AudioCodec.empty(); ++i)
    if (AProbe.StreamType(i) == AVMEDIA_TYPE_AUDIO)
      ALoaded.AudioCodec = AProbe.StreamCodecName(i);

  if (!ResolveContentChoice(AProbe, AFileName, info.Duration, AChoice, LocaleLanguage(),
                            ALoaded.Content, AError))
    return false;
  ALoaded.OutputDurationUs =
      ALoaded.Content.LengthMs > 0 ? ALoaded.Content.LengthMs * 1000 : ALoaded.DurationUs;
  ALoaded.SoundTracks = SoundTracks(AProbe);
  ALoaded.Subtitles = SubtitleTracks(AProbe);
  for (const TTrackEntry &file : SideSubtitleFiles(AFileName))
    ALoaded.Subtitles.push_back(file);
  return true;
}

// Sets the task's output into the name the load claimed; a refusal gives the claim back, as an
// empty file under it would be listed as a conversion.
bool SetClaimedOutput(TCustomAVConverter &AConverter, TLoadedConversion &ALoaded,
                      std::string &AError) {
  TOutputOptions output;
  InitOutputOptions(output);
  FillOutputOptions(ALoaded.Output, output);
  ApplyContent(ALoaded.Content, output);
  output.FileName = ALoaded.OutputFileName;
  if (AConverter.SetOutputFile(ALoaded.TaskIndex, output.FileName, &output))
    return true;
  AError = _("***Cannot do convert, error: ") + AConverter.LastErrorMessage();
  AConverter.RemoveTask(ALoaded.TaskIndex);
  ALoaded.TaskIndex = -1;
  ReleaseOutputClaim(ALoaded);
  return false;
}

// The name is chosen and the file created exclusively before the next file is loaded, so two
// inputs with the same name never get the same output, not even in two processes at once.
bool ClaimAndSetOutput(TCustomAVConverter &AConverter, TPSPOutputSettings &ASettings,
                       TLoadedConversion &ALoaded, std::string &AError) {
  std::string claimError;
  if (!ClaimOutputFile(ASettings, claimError)) {
    AError = _("***Cannot do convert, error: ") + claimError;
    AConverter.RemoveTask(ALoaded.TaskIndex);
    ALoaded.TaskIndex = -1;
    return false;
  }
  TOutputOptions output;
  InitOutputOptions(output);
  FillOutputOptions(ASettings, output);
  ALoaded.OutputFileName = output.FileName;
  ALoaded.Output = ASettings;
  struct stat st {};
  if (::stat(output.FileName.c_str(), &st) == 0) {
    ALoaded.OutputDevice = st.st_dev;
    ALoaded.OutputInode = st.st_ino;
  }
  ALoaded.OutputCreated = true; // claimed above
  return SetClaimedOutput(AConverter, ALoaded, AError);
}

} // namespace

bool LoadConversion(TCustomAVConverter &AConverter, const std::string &ALibraryPath,
                    const std::string &AFileName, int AProfileIndex, TLoadedConversion &AResult,
                    std::string &AError, const TContentChoice &AChoice) {
  return LoadConversion(AConverter, ALibraryPath, AFileName, AProfileIndex, AVCFolder, MPEG4Folder,
                        AResult, AError, AChoice);
}

bool LoadConversion(TCustomAVConverter &AConverter, const std::string &ALibraryPath,
                    const std::string &AFileName, int AProfileIndex, const std::string &AAVCFolder,
                    const std::string &AMPEG4Folder, TLoadedConversion &AResult,
                    std::string &AError, const TContentChoice &AChoice) {
  AConverter.ClearTasks();
  if (!AConverter.LoadLibraries(ALibraryPath, true)) {
    AError = AConverter.LastErrorMessage();
    return false;
  }
  TLoadedConversion loaded;
  TAVProbe &probe = AConverter.AVProbe();
  if (!CheckInputFile(AFileName, AError) || !ProbeInput(probe, AFileName, AChoice, loaded, AError))
    return false;

  TInputOptions input;
  InitInputOptions(input);
  input.FileName = probe.GetFileName();
  input.FileFormat = probe.LoadedFormat();
  ApplyContent(loaded.Content, input);
  loaded.TaskIndex = AConverter.AddInputFile(input.FileName, &input);
  if (loaded.TaskIndex < 0) {
    AError = _("***File open error: ") + AConverter.LastErrorMessage();
    return false;
  }
  loaded.InputFileName = input.FileName;
  loaded.InputFormat = input.FileFormat;
  TPSPOutputSettings settings =
      BuildOutputOptions(AProfileIndex, true, loaded.Title, AFileName, AAVCFolder, AMPEG4Folder,
                         loaded.SrcW, loaded.SrcH, loaded.DisplayAspect);
  if (AChoice.VideoBitrate > 0) // a batch made to fit the memory stick
    settings.VideoBitrate = AChoice.VideoBitrate;
  const bool ok = ClaimAndSetOutput(AConverter, settings, loaded, AError);
  AResult = loaded;
  return ok;
}

void ParkConversion(TCustomAVConverter &AConverter) {
  AConverter.AVProbe().CloseFile();
  AConverter.ClearTasks(true);
}

bool ReopenConversion(TCustomAVConverter &AConverter, const std::string &ALibraryPath,
                      TLoadedConversion &ALoaded, std::string &AError) {
  AConverter.ClearTasks(true);
  if (!AConverter.LoadLibraries(ALibraryPath, true)) {
    AError = AConverter.LastErrorMessage();
    ReleaseOutputClaim(ALoaded);
    return false;
  }
  TInputOptions input;
  InitInputOptions(input);
  input.FileName = ALoaded.InputFileName;
  input.FileFormat = ALoaded.InputFormat;
  ApplyContent(ALoaded.Content, input);
  ALoaded.TaskIndex = AConverter.AddInputFile(input.FileName, &input);
  if (ALoaded.TaskIndex < 0) {
    AError = _("***File open error: ") + AConverter.LastErrorMessage();
    ReleaseOutputClaim(ALoaded);
    return false;
  }
  // The claimed name: the file is there, empty, and the engine writes it over; but only while it
  // is still the one claimed, not a file another program has put under the name since.
  if (!ClaimStillHeld({ALoaded.OutputFileName, ALoaded.OutputDevice, ALoaded.OutputInode},
                      AError)) {
    AError = _("***Cannot do convert, error: ") + AError;
    AConverter.RemoveTask(ALoaded.TaskIndex);
    ALoaded.TaskIndex = -1;
    ReleaseOutputClaim(ALoaded);
    return false;
  }
  return SetClaimedOutput(AConverter, ALoaded, AError);
}

void ReleaseOutputClaim(TLoadedConversion &ALoaded) {
  if (!ALoaded.OutputCreated || ALoaded.OutputFileName.empty())
    return;
  ALoaded.OutputCreated = false;
  ReleaseClaim({ALoaded.OutputFileName, ALoaded.OutputDevice, ALoaded.OutputInode});
}

std::string InfoStringOf(const TLoadedConversion &ALoaded) {
  // A file without pictures has no size to show (the probe gives -1 for both).
  const std::string picture =
      ALoaded.SrcW > 0 && ALoaded.SrcH > 0
          ? std::to_string(ALoaded.SrcW) + "x" + std::to_string(ALoaded.SrcH)
          : _("audio only");
  return ALoaded.FormatName + ",  " + std::to_string(ALoaded.BitRate / 1000) + "kbps,  " + picture;
}
