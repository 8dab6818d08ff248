#include <gtest/gtest.h>

#include "app/conversion_load.h"
#include "app/format_line.h"

// What a person reads first (codec, size, rate), and the container by its common name.
TEST(FormatLine, CodecSizeAndRateFirstAndCommonNamesOnTheTooltip) {
  TLoadedConversion video;
  video.FormatName = "matroska,webm";
  video.VideoCodec = "h264";
  video.AudioCodec = "aac";
  video.SrcW = 1280;
  video.SrcH = 720;
  video.BitRate = 2532000;
  EXPECT_EQ(FormatLineOf(video), "H.264, 1280x720, 2532 kbps");
  EXPECT_EQ(FormatLineDetails(video),
            "Matroska / WebM: H.264 video, AAC sound, 1280x720, 2532 kbps");

  TLoadedConversion sound;
  sound.FormatName = "wav";
  sound.AudioCodec = "pcm_s16le";
  EXPECT_EQ(FormatLineOf(sound), "PCM, audio only"); // no rate known: none shown
  EXPECT_EQ(FormatLineDetails(sound), "WAV: PCM sound, audio only");
  EXPECT_EQ(CommonContainerName("png_pipe"), "PNG picture");
  EXPECT_EQ(CommonCodecName("somecodec"), "SOMECODEC");
}
