// The conversion panel's Format line: what a person needs first (the picture's codec, its size,
// the bit rate), and for its tooltip the container and codecs by the names people know them by
// rather than the media libraries' short names ("Matroska / WebM", not "matroska,webm").
#pragma once

#include <string>

struct TLoadedConversion;

// "H.264, 1280x720, 2532 kbps"; a file without pictures: "MP3, audio only, 128 kbps". A bit
// rate that is not known is left out; the front end shows as many parts as fit, from the first.
std::string FormatLineOf(const TLoadedConversion &ALoaded);
// "Matroska / WebM: H.264 video, AAC sound, 1280x720, 2532 kbps".
std::string FormatLineDetails(const TLoadedConversion &ALoaded);

// The common name of a container from the media libraries' demuxer name; the name itself when
// it is not one of the usual ones.
std::string CommonContainerName(const std::string &ADemuxer);
// The common name of a codec from the media libraries' codec name; the name in capitals when
// it is not one of the usual ones.
std::string CommonCodecName(const std::string &ACodec);
