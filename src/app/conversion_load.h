// The load sequence of one conversion: probe the input, open it as a converter task, build the
// output of the chosen PSP profile and create the output file. The conversion panel and the
// command line both load files through it, so both name, number and configure outputs alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/content_choice.h"
#include "app/output_options.h"

class TCustomAVConverter;

// What a successful load found and chose.
struct TLoadedConversion {
  int TaskIndex = -1;     // the converter's task for this file
  std::string Title;      // the file's own title, else its name without extension
  std::string FormatName; // the probe's name of the input's format
  std::string VideoCodec; // the libraries' names of the first picture's and sound's codecs
  std::string AudioCodec;
  int BitRate = -1;             // the container's, bit/s
  int SrcW = -1, SrcH = -1;     // the first video stream's picture; -1 without video
  double DisplayAspect = 0;     // the shape the picture is shown with; 0 = square pixels
  int64_t DurationUs = -1;      // -1 when the probe cannot tell
  bool DurationGuessed = false; // only estimated from the size and bit rate
  bool HasSound = false;        // the input has a sound stream, which every profile keeps
  std::string OutputFileName;
  bool OutputCreated = false; // the output file was created by this load (it was free before)
  // What reopening the task needs once it has been let go (ParkConversion).
  std::string InputFileName;
  std::string InputFormat;
  TPSPOutputSettings Output;
  uint64_t OutputDevice = 0, OutputInode = 0; // the claimed file, told from one put in its place
  TResolvedContent Content; // the sound track, subtitles, range or still length taken
  // How long the output lasts: the chosen range, a still's length, else the input's duration.
  int64_t OutputDurationUs = -1;
  // What there is to choose from: the sound streams, and the subtitle streams followed by the
  // subtitle files beside the input (the numbers TContentChoice counts).
  std::vector<TTrackEntry> SoundTracks, Subtitles;
};

// Drops the converter's earlier tasks, loads the media libraries (from ALibraryPath first),
// probes AFileName and sets up one task converting it with profile AProfileIndex into AVCFolder
// or MPEG4Folder. False with the message the user is shown in AError: the libraries' error
// text alone, or "***File load error: ", "***File open error: " or "***Cannot do convert,
// error: " followed by the reason; a refused output leaves no task behind. AChoice picks the
// sound track, subtitles, range and still length; a choice the input cannot meet fails with
// the reason alone ("no sound track 3 in film.mkv (its sound tracks: ...)").
bool LoadConversion(TCustomAVConverter &AConverter, const std::string &ALibraryPath,
                    const std::string &AFileName, int AProfileIndex, TLoadedConversion &AResult,
                    std::string &AError, const TContentChoice &AChoice = TContentChoice());
// The same into the given output sub-folders (a load on another thread cannot read the globals).
bool LoadConversion(TCustomAVConverter &AConverter, const std::string &ALibraryPath,
                    const std::string &AFileName, int AProfileIndex, const std::string &AAVCFolder,
                    const std::string &AMPEG4Folder, TLoadedConversion &AResult,
                    std::string &AError, const TContentChoice &AChoice = TContentChoice());

// A loaded conversion that waits holds nothing open: the probe's file and decoder and the task's
// input and output are let go, the output's name stays claimed on disk (the empty file).
void ParkConversion(TCustomAVConverter &AConverter);
// Sets the task of a parked conversion up again, into the name it claimed. False with the
// message as LoadConversion gives it; the claim is then given up (no task, no empty file).
bool ReopenConversion(TCustomAVConverter &AConverter, const std::string &ALibraryPath,
                      TLoadedConversion &ALoaded, std::string &AError);
// Gives up the claim of a conversion that never wrote its output: the empty file goes, unless
// it has been written or replaced meanwhile.
void ReleaseOutputClaim(TLoadedConversion &ALoaded);

// The panel's format line: "<format>,  <kbit/s>kbps,  <width>x<height>" ("audio only" in
// place of the size when the file has no pictures).
std::string InfoStringOf(const TLoadedConversion &ALoaded);
