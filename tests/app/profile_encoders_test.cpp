// Every profile's options go through the engine's option store into the real encoders, and the
// stream headers those encoders write are what the PSP plays.
#include <gtest/gtest.h>

#include "app/output_options.h"
#include "engine/custom_ffmpeg.h"
#include "medialib/medialib.h"
#include "support/test_support.h"

namespace {

// Reads the bits of an H.264 parameter set (after its NAL header byte).
struct TBits {
  const uint8_t *Data;
  size_t Size, Pos = 0;
  int Bit() {
    if (Pos / 8 >= Size)
      return 0;
    const int b = (Data[Pos / 8] >> (7 - Pos % 8)) & 1;
    ++Pos;
    return b;
  }
  unsigned Golomb() { // ue(v)
    int zeros = 0;
    while (Bit() == 0 && zeros < 32)
      ++zeros;
    unsigned value = 1;
    for (int i = 0; i < zeros; ++i)
      value = (value << 1) | Bit();
    return value - 1;
  }
};

// The payload after the first "00 00 01 <AStartCode>" in AData, or null.
const uint8_t *After(const uint8_t *AData, int ASize, uint8_t AStartCode, size_t &ARest) {
  for (int i = 0; i + 3 < ASize; ++i)
    if (AData[i] == 0 && AData[i + 1] == 0 && AData[i + 2] == 1 && AData[i + 3] == AStartCode) {
      ARest = static_cast<size_t>(ASize - i - 4);
      return AData + i + 4;
    }
  return nullptr;
}

std::string PrivateText(void *AObject, const char *AName) {
  uint8_t *text = nullptr;
  if (avlib.av_opt_get(AObject, AName, 0, &text) < 0)
    return "<unknown>";
  std::string result = reinterpret_cast<char *>(text);
  avlib.av_free(text);
  return result;
}

// An engine holding one profile's options, and the encoders opened from its store.
struct TProfileEncoders {
  TCustomFFmpeg Engine;
  AVCodecContext *Video = nullptr, *Audio = nullptr;

  explicit TProfileEncoders(int AProfile) {
    Engine.Prepare();
    const TPSPOutputSettings settings =
        BuildOutputOptions(AProfile, true, "Title", "clip.avi", "", "", 1280, 720);
    for (const auto &option : settings.EngineOptions())
      Engine.SetOption(option.first, option.second); // throws on an option it refuses
  }
  ~TProfileEncoders() {
    avlib.avcodec_free_context(&Video);
    avlib.avcodec_free_context(&Audio);
  }
  // Opens AName as the engine would, with the video or audio holder's options.
  AVCodecContext *Open(const char *AName, bool AVideo, int AWidth = 0, int AHeight = 0) {
    const AVCodec *codec = avlib.avcodec_find_encoder_by_name(AName);
    if (!codec)
      return nullptr;
    AVCodecContext *c = avlib.avcodec_alloc_context3(codec);
    Engine.ApplyContextOptions(c, Engine.CodecDefaults[AVideo ? 0 : 1],
                               (AVideo ? AV_OPT_FLAG_VIDEO_PARAM : AV_OPT_FLAG_AUDIO_PARAM) |
                                   AV_OPT_FLAG_ENCODING_PARAM);
    if (AVideo) {
      c->width = AWidth;
      c->height = AHeight;
      c->pix_fmt = AV_PIX_FMT_YUV420P;
      c->time_base = AVRational{1001, 30000};
      c->framerate = AVRational{30000, 1001};
    } else {
      c->sample_rate = Engine.AudioSampleRate;
      avlib.av_channel_layout_default(&c->ch_layout, Engine.AudioChannels);
      c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    }
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER; // the mp4 muxer wants the headers up front
    AVDictionary *options = Engine.CopyPrivateOptions(AVideo ? 0 : 1, codec->priv_class);
    const int result = avlib.avcodec_open2(c, codec, &options);
    avlib.av_dict_free(&options);
    if (result < 0)
      avlib.avcodec_free_context(&c);
    return c;
  }
};

TEST(ProfileEncoders, AVCKindsAreMainProfileCabacWithTheirLevel) {
  testing_support::RequireMediaLibraries();
  for (int i = 2; i < PSPProfileCount; ++i) {
    SCOPED_TRACE(PSPProfiles[i].Name);
    int w = 0, h = 0;
    ParseSize(PSPProfiles[i].Size, w, h);
    TProfileEncoders e(i);
    e.Video = e.Open("libx264", true, w, h);
    if (!e.Video && !avlib.avcodec_find_encoder_by_name("libx264"))
      GTEST_SKIP() << "no libx264 in these libraries";
    ASSERT_NE(e.Video, nullptr);
    size_t rest = 0;
    const uint8_t *sps = After(e.Video->extradata, e.Video->extradata_size, 0x67, rest);
    ASSERT_NE(sps, nullptr);
    ASSERT_GE(rest, 3u);
    EXPECT_EQ(sps[0], 77); // Main profile: no 8x8 transform
    EXPECT_EQ(sps[2], PSPProfiles[i].Size == "720x480" ? 30 : 21);
    const uint8_t *pps = After(e.Video->extradata, e.Video->extradata_size, 0x68, rest);
    ASSERT_NE(pps, nullptr);
    TBits bits{pps, rest};
    bits.Golomb();                // picture parameter set id
    bits.Golomb();                // sequence parameter set id
    EXPECT_EQ(bits.Bit(), 1);     // CABAC
    bits.Bit();                   // field order flag
    EXPECT_EQ(bits.Golomb(), 0u); // one slice group
    bits.Golomb();                // default reference counts
    bits.Golomb();
    EXPECT_EQ(bits.Bit(), 0); // no weighted P prediction
    EXPECT_LE(e.Video->refs, 3);
    EXPECT_EQ(PrivateText(e.Video->priv_data, "b-pyramid"), "0"); // none
    EXPECT_EQ(e.Video->slices, 1);
  }
}

TEST(ProfileEncoders, MPEG4KindsAreSimpleProfileAndAudioIsStereoAACLowComplexity) {
  testing_support::RequireMediaLibraries();
  for (int i = 0; i < PSPProfileCount; ++i) {
    SCOPED_TRACE(PSPProfiles[i].Name);
    TProfileEncoders e(i);
    if (PSPProfiles[i].Kind == "MPEG4") {
      e.Video = e.Open("mpeg4", true, 320, 240);
      ASSERT_NE(e.Video, nullptr);
      size_t rest = 0;
      const uint8_t *vos = After(e.Video->extradata, e.Video->extradata_size, 0xB0, rest);
      ASSERT_NE(vos, nullptr);
      ASSERT_GE(rest, 1u);
      EXPECT_EQ(vos[0] >> 4, 0) << "profile and level " << int(vos[0]); // Simple Profile
      EXPECT_EQ(e.Video->max_b_frames, 0);
      EXPECT_EQ(e.Video->flags & AV_CODEC_FLAG_QPEL, 0);
    }
    // The H.264 options must not leak into the audio encoder.
    EXPECT_EQ(e.Engine.AudioChannels, 2);
    EXPECT_EQ(e.Engine.AudioSampleRate, PSPProfiles[i].AudioSampleRate);
    e.Audio = e.Open("aac", false);
    ASSERT_NE(e.Audio, nullptr);
    EXPECT_EQ(e.Audio->profile, FF_PROFILE_AAC_LOW);
    EXPECT_EQ(e.Audio->bit_rate, 128000);
    EXPECT_EQ(e.Audio->ch_layout.nb_channels, 2);
  }
}

} // namespace
