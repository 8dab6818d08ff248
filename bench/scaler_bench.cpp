// korvelo-bench-scaler: what the picture scaler costs per frame for a 1920x1080 input brought
// down to the device's 480x270 (the AVC 480x272 profile's picture between its pads), and for a
// 640x480 input brought to 364x272, with the engine's flags (bicubic) and the others it could
// use. One scaler is made and reused for all frames, as the engine does; the last line shows
// what making one per frame would add. Times are CPU time of this thread, so other programs on
// the machine hardly change them.
//
//   korvelo-bench-scaler [--frames N]
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "medialib/medialib.h"

namespace {

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct TPicture {
  uint8_t *Data[4] = {};
  int Linesize[4] = {};
  TPicture(int AWidth, int AHeight) {
    if (avlib.av_image_alloc(Data, Linesize, AWidth, AHeight, AV_PIX_FMT_YUV420P, 64) < 0) {
      std::fprintf(stderr, "korvelo-bench-scaler: out of memory\n");
      std::exit(1);
    }
    // A picture with detail everywhere, so that no path of the scaler gets an easy input.
    uint32_t seed = 12345;
    for (int plane = 0; plane < 3; ++plane) {
      const int h = plane ? AHeight / 2 : AHeight;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < Linesize[plane]; ++x) {
          seed = seed * 1664525u + 1013904223u;
          Data[plane][y * Linesize[plane] + x] = static_cast<uint8_t>(seed >> 24);
        }
    }
  }
  ~TPicture() { avlib.av_freep(&Data[0]); }
  TPicture(const TPicture &) = delete;
  TPicture &operator=(const TPicture &) = delete;
};

// Milliseconds of CPU per frame for AFrames frames; with AFresh a scaler is made per frame.
double Measure(int ASrcW, int ASrcH, int ADstW, int ADstH, int AFlags, int AFrames, bool AFresh) {
  TPicture source(ASrcW, ASrcH), target(ADstW, ADstH);
  SwsContext *context = nullptr;
  const double start = ThreadSeconds();
  for (int i = 0; i < AFrames; ++i) {
    if (AFresh || !context) {
      avlib.sws_freeContext(context);
      context = avlib.sws_getContext(ASrcW, ASrcH, AV_PIX_FMT_YUV420P, ADstW, ADstH,
                                     AV_PIX_FMT_YUV420P, AFlags, nullptr, nullptr, nullptr);
      if (!context) {
        std::fprintf(stderr, "korvelo-bench-scaler: no scaler for flags %d\n", AFlags);
        std::exit(1);
      }
    }
    avlib.sws_scale(context, source.Data, source.Linesize, 0, ASrcH, target.Data, target.Linesize);
  }
  const double seconds = ThreadSeconds() - start;
  avlib.sws_freeContext(context);
  return seconds * 1000 / AFrames;
}

} // namespace

int main(int argc, char **argv) {
  int frames = 300;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
      frames = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: korvelo-bench-scaler [--frames N]\n");
      return 2;
    }
  }
  if (!LoadLibraries("", true)) {
    std::fprintf(stderr, "korvelo-bench-scaler: %s\n", LibraryLoadError().c_str());
    return 1;
  }
  const struct {
    const char *Name;
    int Flags;
  } flags[] = {{"bicubic (the engine's)", SWS_BICUBIC},
               {"bilinear", SWS_BILINEAR},
               {"area", SWS_AREA},
               {"fast bilinear", SWS_FAST_BILINEAR},
               {"bicubic, accurate rounding", SWS_BICUBIC | SWS_ACCURATE_RND}};
  std::printf("CPU milliseconds per frame, yuv420p to yuv420p, one scaler reused, %d frames:\n",
              frames);
  std::printf("  %-28s %14s %14s\n", "flags", "1920x1080 to", "640x480 to");
  std::printf("  %-28s %14s %14s\n", "", "480x270", "364x272");
  for (const auto &f : flags)
    std::printf("  %-28s %14.3f %14.3f\n", f.Name,
                Measure(1920, 1080, 480, 270, f.Flags, frames, false),
                Measure(640, 480, 364, 272, f.Flags, frames, false));
  std::printf("  %-28s %14.3f %14.3f\n", "bicubic, a scaler per frame",
              Measure(1920, 1080, 480, 270, SWS_BICUBIC, frames / 4 + 1, true),
              Measure(640, 480, 364, 272, SWS_BICUBIC, frames / 4 + 1, true));
  return 0;
}
