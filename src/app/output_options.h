// What a conversion panel (and the command line) hands to the converter for one input and one
// PSP profile: the output file name, the fitted frame size with its pads, and the engine options.
#pragma once

#include <string>

#include "app/profiles.h"

struct TOutputOptions;

struct TPSPOutputSettings {
  std::string FileName; // output folder + name + FileExt, numbered "(n)" when taken
  std::string NameStem; // output folder + name, the part before "(n)" and FileExt
  std::string FileExt;
  std::string FileFormat;
  std::string AudioCodec;
  int AudioChannels = -1;
  int AudioSampleRate = -1;
  int AudioBitrate = -1;
  std::string VideoCodec;
  std::string FrameRate;
  std::string FrameSize;
  std::string AspectRatio;
  int PadTop = -1, PadBottom = -1, PadLeft = -1, PadRight = -1; // -1: not set
  int VideoBitrate = -1;
  std::string Title; // at most MaxTitleBytes bytes, never a cut UTF-8 character
  // The profile's encoder options; applied before the fields, so a field wins over them.
  TEngineOptionList EncoderOptions;

  // Encoder options as "name=value" lines, the form the converter's option records take.
  std::string ExtOptionsText() const;
  // Every option in the order the converter applies them: the encoder options, then the set
  // fields (f, acodec, ac, ar, ab, vcodec, r, s, aspect, pads, vb), then the title.
  TEngineOptionList EngineOptions() const;
};

// Fills the converter's output record (initialised by InitOutputOptions) with ASettings.
void FillOutputOptions(const TPSPOutputSettings &ASettings, TOutputOptions &AOptions);

// The title field of the option records holds 511 bytes and a terminating zero.
constexpr size_t MaxTitleBytes = 511;

// The settings for converting AInputFileName with profile AProfileIndex. ASrcW x ASrcH is the
// source picture (-1 without video); ADisplayAspect, the shape the picture is shown with (the
// probe's DisplayAspect; 0 = unknown, square pixels), makes the fitting use the displayed width,
// so anamorphic sources keep their shape. With AFit false the frame takes the profile size as it
// is. AAVCDir and AMPEG4Dir are the output sub-folders (with a trailing "/" or empty).
// Throws std::out_of_range for a profile index outside 0..5.
TPSPOutputSettings BuildOutputOptions(int AProfileIndex, bool AFit, const std::string &ATitle,
                                      const std::string &AInputFileName, const std::string &AAVCDir,
                                      const std::string &AMPEG4Dir, int ASrcW, int ASrcH,
                                      double ADisplayAspect = 0);

// The title a panel shows: the file's own title when it has one, else the file name without
// folder and extension.
std::string TitleFor(const std::string &AMetadataTitle, const std::string &AFileName);

// File name without folder and extension.
std::string BaseNameOf(const std::string &AFileName);
