// How big a conversion will come out, before it runs, and whether a batch fits on the stick.
#pragma once

#include <cstdint>
#include <string>

// Expected bytes of converting ADurationUs of input with profile AProfileIndex: the profile's
// video and sound bit rates over that time (the MPEG-4 encoder runs over its target by a
// measured share), plus the MP4's headers and index. An input without pictures gets a still
// black picture, which costs next to nothing. 0 for an unknown duration.
// AVideoBitrate: the picture's bit rate (bit/s) when it is not the profiles' usual one.
int64_t EstimateOutputSize(int AProfileIndex, int64_t ADurationUs, bool AInputHasVideo = true,
                           int AVideoBitrate = 0);

// "1.2 GB" from 1 GB (10^9 bytes) up, "123 MB" below, "404 KB" below a megabyte.
std::string FormatGB(int64_t ABytes);

// The Convert page's fit line: "Expected 1.2 GB — fits on the PSP memory stick (3.4 GB free)",
// "Expected 1.2 GB — does not fit: 400 MB too much (800 MB free)", or without a device folder
// "Expected 1.2 GB". AFree is -1 when the stick is not there.
std::string FitLineText(int64_t AExpected, bool ADeviceSet, int64_t AFree);
