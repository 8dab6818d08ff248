// The test files other tests rely on, by name: keep names and main properties stable.
#include "media_writer.h"

namespace testmedia {

namespace {

// 320x240 at 25 frames per second, 44100 Hz stereo, 2.5 seconds: the common case.
TTestMediaSpec media(const std::string &name, const std::string &video, const std::string &audio) {
  TTestMediaSpec spec;
  spec.name = name;
  spec.videoCodec = video;
  spec.audioCodec = audio;
  return spec;
}

// Films to find moments in: a white flash and a beep together at a known time. Cuts are
// tried on 20 s with key pictures 10 s apart (and B-frames, which give MP4 an edit list);
// sound and picture that start apart in short clips; and a WMV as Windows tools make them.
void addTimedFilms(std::vector<TTestMediaSpec> &list) {
  for (const char *extension : {"mkv", "mp4", "ts", "avi"}) {
    const bool avi = std::string(extension) == "avi";
    TTestMediaSpec film = media(std::string("film_keys10.") + extension, avi ? "mpeg4" : "libx264",
                                avi ? "libmp3lame" : "aac");
    film.width = 160;
    film.height = 120;
    // B-frames everywhere, AVI too: it keeps no presentation times, so its key pictures come
    // without a time of their own and the ones before them are only known by decoding order.
    film.maxBFrames = 2;
    film.keyframeSeconds = 10;
    film.videoBitRate = 80000; // small files: under 512 kB
    film.audioBitRate = 32000;
    film.flashAt = 12;
    film.duration = 20;
    list.push_back(film);
  }
  for (const char *extension : {"mkv", "mp4", "ts"})
    for (const char *delay : {"0.05", "0.3", "1.5"})
      for (const char *late : {"sound", "picture"}) {
        TTestMediaSpec clip =
            media(std::string(late) + "_late_" + delay + "." + extension, "libx264", "aac");
        clip.width = 160;
        clip.height = 120;
        clip.maxBFrames = 2;
        clip.flashAt = 2.5;
        clip.duration = 4;
        clip.soundDelay = std::string(late) == "sound" ? std::stod(delay) : -std::stod(delay);
        list.push_back(clip);
      }
  // Sorenson H.263, as old Flash video has it, with a key picture every second.
  TTestMediaSpec flv1 = media("flv1_mp3.flv", "flv", "libmp3lame");
  flv1.keyframeSeconds = 1;
  flv1.duration = 4;
  list.push_back(flv1);
  TTestMediaSpec wmv = media("wmv2_wma2.wmv", "wmv2", "wmav2");
  wmv.width = 640;
  wmv.height = 480;
  wmv.frameRate = {30, 1};
  wmv.videoBitRate = 120000; // small: under 512 kB
  wmv.audioBitRate = 48000;
  wmv.flashAt = 4;
  wmv.duration = 8;
  list.push_back(wmv);
}

std::vector<TTestMediaSpec> makeList() {
  std::vector<TTestMediaSpec> list;

  list.push_back(media("avi_mpeg4_mp3.avi", "mpeg4", "libmp3lame"));
  list.push_back(media("mkv_h264_vorbis.mkv", "libx264", "libvorbis,vorbis"));
  list.push_back(media("mov_h264_aac.mov", "libx264", "aac"));
  list.push_back(media("flv_h264_aac.flv", "libx264", "aac"));

  // MPEG-2 program stream with B-frames, so that decode and presentation order differ.
  TTestMediaSpec mpg = media("mpg_mpeg2_mp2.mpg", "mpeg2video", "mp2");
  mpg.muxer = "vob";
  mpg.maxBFrames = 2;
  mpg.sampleRate = 48000;
  mpg.audioBitRate = 128000;
  list.push_back(mpg);

  list.push_back(media("ts_h264_aac.ts", "libx264", "aac"));
  list.push_back(media("webm_vp8_vorbis.webm", "libvpx", "libvorbis,vorbis"));
  list.push_back(media("ogg_theora_vorbis.ogv", "libtheora", "libvorbis,vorbis"));

  TTestMediaSpec mobile = media("3gp_h263_aac.3gp", "h263", "aac");
  mobile.width = 176;
  mobile.height = 144;
  mobile.frameRate = {15, 1};
  mobile.videoBitRate = 128000;
  mobile.sampleRate = 22050;
  mobile.channels = 1;
  mobile.audioBitRate = 32000;
  list.push_back(mobile);

  list.push_back(media("wav_pcm.wav", "", "pcm_s16le"));
  // A header that says 1 Hz: every second of sound claims to last 44100 seconds.
  TTestMediaSpec oneHertz = media("wav_1hz_header.wav", "", "pcm_s16le");
  oneHertz.headerSampleRate = 1;
  list.push_back(oneHertz);
  list.push_back(media("mp3_audio.mp3", "", "libmp3lame"));

  TTestMediaSpec png = media("picture.png", "png", "");
  png.stillPicture = true;
  png.videoBitRate = 0;
  list.push_back(png);
  TTestMediaSpec jpg = media("picture.jpg", "mjpeg", "");
  jpg.stillPicture = true;
  jpg.videoBitRate = 0;
  list.push_back(jpg);

  TTestMediaSpec twoAudio = media("two_audio.mkv", "libx264", "aac");
  twoAudio.audioStreams = 2;
  list.push_back(twoAudio);

  // Two languages of different layouts, as films come: tones of 440 Hz and 880 Hz tell them
  // apart in a conversion.
  TTestMediaSpec languages = media("two_languages.mkv", "libx264", "aac");
  languages.audioStreams = 2;
  languages.sampleRate = 48000;
  languages.audioLanguages = {"eng", "fre"};
  languages.audioChannelsPerStream = {2, 6};
  list.push_back(languages);

  // A film in English and French with forced German subtitles (for the lines in neither).
  TTestMediaSpec forced = media("forced_subtitles.mkv", "libx264", "aac");
  forced.audioStreams = 2;
  forced.sampleRate = 48000;
  forced.audioLanguages = {"eng", "fre"};
  forced.audioChannelsPerStream = {2, 6};
  forced.subtitleCodec = "subrip,srt";
  forced.subtitleLanguage = "ger";
  forced.subtitleForced = true;
  forced.subtitleTexts = {"Erster Untertitel", "Zweiter Untertitel", "Dritter Untertitel"};
  list.push_back(forced);

  TTestMediaSpec subtitles = media("subtitles.mkv", "libx264", "aac");
  subtitles.subtitleCodec = "subrip,srt";
  list.push_back(subtitles);
  // Styled text in other scripts, and a DVD's bitmap subtitles, to burn into the picture.
  TTestMediaSpec assSubtitles = media("subtitles_ass.mkv", "libx264", "aac");
  assSubtitles.subtitleCodec = "ass";
  assSubtitles.subtitleLanguage = "rus";
  assSubtitles.subtitleTexts = {"Привет, мир", "Γειά σου, κόσμε", "Третий титр"};
  list.push_back(assSubtitles);
  TTestMediaSpec dvdSubtitles = media("subtitles_dvd.mkv", "libx264", "aac");
  dvdSubtitles.subtitleCodec = "dvdsub";
  list.push_back(dvdSubtitles);

  // NTSC DVD frame with 16:9 display: 720x480 pixels of 32:27.
  TTestMediaSpec anamorphic = media("anamorphic.mp4", "libx264", "aac");
  anamorphic.width = 720;
  anamorphic.height = 480;
  anamorphic.frameRate = {30000, 1001};
  anamorphic.sampleAspect = {32, 27};
  anamorphic.videoBitRate = 500000;
  list.push_back(anamorphic);

  // PAL interlaced, top field first, with the field order stored by the container too.
  TTestMediaSpec interlaced = media("interlaced.mkv", "mpeg2video", "mp2");
  interlaced.width = 720;
  interlaced.height = 576;
  interlaced.interlaced = true;
  interlaced.videoBitRate = 400000;
  interlaced.sampleRate = 48000;
  interlaced.audioBitRate = 128000;
  list.push_back(interlaced);

  TTestMediaSpec late = media("start_time.ts", "libx264", "aac");
  late.startOffset = 10;
  list.push_back(late);

  TTestMediaSpec surround = media("aac_51.mp4", "libx264", "aac");
  surround.sampleRate = 48000;
  surround.channels = 6;
  surround.audioBitRate = 256000;
  list.push_back(surround);

  // What phones and cameras make: deeper colour, other chroma layouts, full range, pictures
  // stored sideways, holes in the timeline, high-resolution and many-channel sound.
  TTestMediaSpec deep = media("h264_10bit.mp4", "libx264", "aac");
  deep.pixFmt = AV_PIX_FMT_YUV420P10LE;
  list.push_back(deep);
  TTestMediaSpec hevc = media("hevc_10bit.mp4", "libx265", "aac");
  hevc.pixFmt = AV_PIX_FMT_YUV420P10LE;
  hevc.optional = true;
  list.push_back(hevc);

  TTestMediaSpec mjpeg422 = media("mjpeg_422.avi", "mjpeg", "pcm_s16le");
  mjpeg422.pixFmt = AV_PIX_FMT_YUVJ422P;
  mjpeg422.levels = true;
  mjpeg422.width = 160; // intra-only pictures: small, to keep the file small
  mjpeg422.height = 120;
  mjpeg422.sampleRate = 22050; // and the camera's plain sound, mono
  mjpeg422.channels = 1;
  list.push_back(mjpeg422);
  TTestMediaSpec mjpeg444 = media("mjpeg_444.mov", "mjpeg", "pcm_s16le");
  mjpeg444.pixFmt = AV_PIX_FMT_YUVJ444P;
  mjpeg444.width = 160;
  mjpeg444.height = 120;
  mjpeg444.sampleRate = 22050;
  mjpeg444.channels = 1;
  list.push_back(mjpeg444);

  TTestMediaSpec fullRange = media("full_range.jpg", "mjpeg", "");
  fullRange.pixFmt = AV_PIX_FMT_YUVJ444P;
  fullRange.stillPicture = true;
  fullRange.levels = true;
  fullRange.videoBitRate = 0;
  list.push_back(fullRange);
  TTestMediaSpec deepPng = media("picture_16bit.png", "png", "");
  deepPng.pixFmt = AV_PIX_FMT_RGB48BE;
  deepPng.stillPicture = true;
  deepPng.videoBitRate = 0;
  list.push_back(deepPng);

  // Portrait clips as phones store them: a landscape picture and a turn for the viewer.
  for (int rotation : {90, 270}) {
    TTestMediaSpec turned = media("rotated_" + std::to_string(rotation) + ".mp4", "libx264", "aac");
    turned.width = 320;
    turned.height = 180;
    turned.rotation = rotation;
    list.push_back(turned);
  }

  TTestMediaSpec gap = media("video_gap.mkv", "libx264", "aac");
  gap.duration = 5;
  gap.gapStart = 1.5;
  gap.gapLength = 2;
  list.push_back(gap);

  // FLAC keeps 24 bits from 32-bit samples, and keeps the file small.
  TTestMediaSpec hiRes = media("audio_96k_24bit.flac", "", "flac");
  hiRes.sampleRate = 96000;
  hiRes.sampleFmt = AV_SAMPLE_FMT_S32;
  list.push_back(hiRes);
  // FLAC is decoded on frame threads, which hand each block back some packets late.
  TTestMediaSpec flacVideo = media("mkv_h264_flac.mkv", "libx264", "flac");
  flacVideo.sampleRate = 48000;
  list.push_back(flacVideo);
  TTestMediaSpec surround71 = media("aac_71.mkv", "libx264", "aac");
  surround71.sampleRate = 48000;
  surround71.channels = 8;
  list.push_back(surround71);

  addTimedFilms(list);
  return list;
}

} // namespace

const std::vector<TTestMediaSpec> &TestMediaList() {
  static const std::vector<TTestMediaSpec> list = makeList();
  return list;
}

} // namespace testmedia
