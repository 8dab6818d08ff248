// Small text helpers shared by the engine and the layers above it.
#pragma once

#include <cstdarg>
#include <string>

// AText without the blanks and control characters at both ends, as a trimmed option text.
std::string TrimBlanks(const std::string &AText);

// printf-style text of at most 1023 characters, for messages.
std::string FormatText(const char *AFormat, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char *AFormat, va_list AArgs) __attribute__((format(printf, 1, 0)));
