// korvelo-convert: the command-line front end.
#include <cstdio>
#include <cstring>

namespace {

const char *const kUsage =
    "Usage: korvelo-convert [OPTION]... FILE...\n"
    "Convert video, audio and picture files into MP4 files the PSP plays.\n"
    "\n"
    "  -h, --help      show this help and exit\n"
    "  -V, --version   show the version and exit\n";

} // namespace

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "--version") || !std::strcmp(argv[i], "-V")) {
      std::printf("korvelo-convert %s\n", KORVELO_VERSION);
      return 0;
    }
  }
  std::fprintf(stderr, "korvelo-convert: converting is not available yet\n%s", kUsage);
  return 2;
}
