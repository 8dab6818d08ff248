// Whether a batch fits on the memory stick, and the picture bit rate that makes it fit: the
// estimate the panels show decides, so what the person was told and what is done agree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One input waiting to be converted.
struct TFitInput {
  int64_t DurationUs = 0; // of what is converted (its range), 0 when unknown
  bool HasVideo = true;
  int ProfileIndex = -1; // its own profile; -1: the batch's
};

// A window's panel as an input of the fit: the length of its range of AChoice, and whether its
// shown estimate AShown counted a picture (one without gets a still that costs next to nothing).
struct TContentChoice;
TFitInput FitInputOf(int AProfileIndex, int64_t ADurationUs, const TContentChoice &AChoice,
                     int64_t AShown);

// Below this the picture is too poor to be worth it: the fit is refused instead.
constexpr int FitFloorBitrate = 250000; // bit/s

struct TStickFit {
  bool FitsAsIs = true; // fits at the usual bit rate: nothing to change
  bool Possible = true; // fits at VideoBitrate, which is at least the floor
  int VideoBitrate = 0; // bit/s to convert at
  int64_t Expected =
      0; // bytes expected on the stick at VideoBitrate (with the files taken as they are)
  int64_t Room = 0;    // free bytes on the stick
  int64_t Missing = 0; // not possible: bytes short even at the floor
  // "about 512 kbit/s, a little softer picture", or why it cannot fit.
  std::string Text() const;
};

// The fit of converting AInputs with profile AProfileIndex (unless they name their own), beside
// ATakenBytes of files copied as they are, onto a stick with AFree bytes free in clusters of
// AClusterBytes.
TStickFit FitToStick(int AProfileIndex, const std::vector<TFitInput> &AInputs, int64_t ATakenBytes,
                     int64_t AFree, int64_t AClusterBytes);

// The room a video of ABytes takes on the stick with its thumbnail (clusters rounded up).
int64_t StickRoomOfEstimate(int64_t ABytes, int64_t AClusterBytes);

// After the batch: "Expected 120 MB, came out 118 MB (2% under)."
std::string EstimateAfterText(int64_t AExpected, int64_t AReal);
