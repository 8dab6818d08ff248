#include "app/format_line.h"

#include <cctype>
#include <utility>

#include "app/conversion_load.h"
#include "app/i18n.h"

namespace {

// Data tables: the names the libraries use and the ones people know.
const std::pair<const char *, const char *> Containers[] = {
    {"matroska,webm", "Matroska / WebM"},
    {"mov,mp4,m4a,3gp,3g2,mj2", "MP4 / QuickTime"},
    {"avi", "AVI"},
    {"flv", "Flash Video"},
    {"mpegts", "MPEG transport stream"},
    {"mpeg", "MPEG program stream"},
    {"asf", "Windows Media"},
    {"ogg", "Ogg"},
    {"wav", "WAV"},
    {"mp3", "MP3"},
    {"flac", "FLAC"},
    {"aac", "AAC"},
    {"ac3", "AC-3"},
    {"dts", "DTS"},
    {"w64", "Wave64"},
    {"aiff", "AIFF"},
    {"rm", "RealMedia"},
    {"nsv", "Nullsoft Video"},
    {"image2", "picture"},
};

const std::pair<const char *, const char *> Codecs[] = {
    {"h264", "H.264"},
    {"hevc", "H.265"},
    {"mpeg4", "MPEG-4 Part 2"},
    {"mpeg2video", "MPEG-2"},
    {"mpeg1video", "MPEG-1"},
    {"vp8", "VP8"},
    {"vp9", "VP9"},
    {"av1", "AV1"},
    {"theora", "Theora"},
    {"wmv1", "Windows Media Video 7"},
    {"wmv2", "Windows Media Video 8"},
    {"wmv3", "Windows Media Video 9"},
    {"vc1", "VC-1"},
    {"flv1", "Sorenson Spark"},
    {"msmpeg4v2", "MS MPEG-4 v2"},
    {"msmpeg4v3", "DivX 3"},
    {"mjpeg", "Motion JPEG"},
    {"png", "PNG"},
    {"bmp", "BMP"},
    {"gif", "GIF"},
    {"rawvideo", "raw video"},
    {"aac", "AAC"},
    {"mp3", "MP3"},
    {"mp2", "MPEG audio layer 2"},
    {"ac3", "Dolby Digital"},
    {"eac3", "Dolby Digital Plus"},
    {"dts", "DTS"},
    {"vorbis", "Vorbis"},
    {"opus", "Opus"},
    {"flac", "FLAC"},
    {"alac", "Apple Lossless"},
    {"wmav1", "Windows Media Audio"},
    {"wmav2", "Windows Media Audio"},
    {"amr_nb", "AMR"},
    {"amr_wb", "AMR-WB"},
};

std::string Upper(std::string AText) {
  for (char &c : AText)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return AText;
}

std::string Picture(const TLoadedConversion &ALoaded) {
  return std::to_string(ALoaded.SrcW) + "x" + std::to_string(ALoaded.SrcH);
}

std::string Rate(const TLoadedConversion &ALoaded) {
  return std::to_string(ALoaded.BitRate / 1000) + " kbps";
}

} // namespace

std::string CommonContainerName(const std::string &ADemuxer) {
  for (const auto &[name, common] : Containers)
    if (ADemuxer == name)
      return common;
  // Single pictures come through demuxers named after their kind ("png_pipe").
  const std::string pipe = "_pipe";
  if (ADemuxer.size() > pipe.size() &&
      ADemuxer.compare(ADemuxer.size() - pipe.size(), pipe.size(), pipe) == 0)
    return FormatText(_("%s picture"),
                      Upper(ADemuxer.substr(0, ADemuxer.size() - pipe.size())).c_str());
  return ADemuxer;
}

std::string CommonCodecName(const std::string &ACodec) {
  for (const auto &[name, common] : Codecs)
    if (ACodec == name)
      return common;
  // Every kind of uncompressed sound is PCM to a person ("pcm_s16le").
  if (ACodec.rfind("pcm_", 0) == 0)
    return "PCM";
  return Upper(ACodec);
}

std::string FormatLineOf(const TLoadedConversion &ALoaded) {
  const bool picture = ALoaded.SrcW > 0 && ALoaded.SrcH > 0;
  const std::string &codec = picture ? ALoaded.VideoCodec : ALoaded.AudioCodec;
  std::string line =
      codec.empty() ? CommonContainerName(ALoaded.FormatName) : CommonCodecName(codec);
  line += ", " + (picture ? Picture(ALoaded) : std::string(_("audio only")));
  if (ALoaded.BitRate > 0)
    line += ", " + Rate(ALoaded);
  return line;
}

std::string FormatLineDetails(const TLoadedConversion &ALoaded) {
  std::string text = CommonContainerName(ALoaded.FormatName);
  std::string streams;
  if (!ALoaded.VideoCodec.empty() && ALoaded.SrcW > 0)
    streams = FormatText(_("%s video"), CommonCodecName(ALoaded.VideoCodec).c_str());
  if (!ALoaded.AudioCodec.empty())
    streams += (streams.empty() ? "" : ", ") +
               FormatText(_("%s sound"), CommonCodecName(ALoaded.AudioCodec).c_str());
  if (!streams.empty())
    text += ": " + streams;
  text += ", " + (ALoaded.SrcW > 0 && ALoaded.SrcH > 0 ? Picture(ALoaded) : _("audio only"));
  if (ALoaded.BitRate > 0)
    text += ", " + Rate(ALoaded);
  return text;
}
