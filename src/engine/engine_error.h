// The engine's exception types, in a header of their own: the probe throws the engine's
// exception without needing the engine class.
#pragma once

#include <stdexcept>
#include <string>

// The engine's exception: carries only its message.
class FFMpegException : public std::runtime_error {
public:
  explicit FFMpegException(const std::string &AMessage) : std::runtime_error(AMessage) {}
};

// The standard conversion error of a number option ("'%s' is not a valid integer value").
class EConvertError : public std::runtime_error {
public:
  explicit EConvertError(const std::string &AMessage) : std::runtime_error(AMessage) {}
};

// A codec tag ("vtag", "atag") that is not exactly four characters: a type of its own, not an
// FFMpegException, so a caller can tell a malformed tag from an engine failure.
class ECodecTagError : public std::invalid_argument {
public:
  explicit ECodecTagError(const std::string &AMessage) : std::invalid_argument(AMessage) {}
};
