#include "engine/text.h"

#include <cstdio>

std::string TrimBlanks(const std::string &AText) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  size_t first = 0, last = AText.size();
  while (first < last && blank(AText[first]))
    ++first;
  while (last > first && blank(AText[last - 1]))
    --last;
  return AText.substr(first, last - first);
}

std::string FormatTextV(const char *AFormat, va_list AArgs) {
  char buffer[1024];
  std::vsnprintf(buffer, sizeof buffer, AFormat, AArgs);
  return buffer;
}

std::string FormatText(const char *AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  std::string text = FormatTextV(AFormat, args);
  va_end(args);
  return text;
}
