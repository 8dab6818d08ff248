#include "medialib/words.h"

#include <libintl.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

// The marked texts live as long as the program, as gettext's translations do.
const char *Intern(const std::string &AText) {
  static std::mutex mutex;
  static std::unordered_map<std::string, std::string> marked;
  std::lock_guard<std::mutex> lock(mutex);
  auto at = marked.find(AText);
  if (at == marked.end())
    at = marked.emplace(AText, PseudoMarked(AText)).first;
  return at->second.c_str();
}

} // namespace

const char *LayerText(const char *AText) {
  if (PseudoTranslation())
    return Intern(AText);
  return ::dgettext(TextDomain, AText);
}

bool PseudoTranslation() {
  static const bool pseudo = [] {
    const char *value = std::getenv("KORVELO_PSEUDO");
    return value && *value && std::strcmp(value, "0") != 0;
  }();
  return pseudo;
}

// Each line marked on its own, so that a test reading line by line sees every one.
std::string PseudoMarked(const std::string &AText) {
  std::string marked;
  size_t start = 0;
  for (size_t end; (end = AText.find('\n', start)) != std::string::npos; start = end + 1)
    marked += (end > start ? "\u27e6" + AText.substr(start, end - start) + "\u27e7" : "") + "\n";
  if (start < AText.size())
    marked += "\u27e6" + AText.substr(start) + "\u27e7";
  return marked;
}

std::string FillName(const char *AFormat, const std::string &AName) {
  std::string text;
  bool filled = false;
  for (const char *at = AFormat; *at; ++at) {
    if (at[0] == '%' && at[1] == '%') {
      text += '%';
      ++at;
    } else if (at[0] == '%' && at[1] == 's' && !filled) {
      text += AName;
      filled = true;
      ++at;
    } else {
      text += *at;
    }
  }
  return text;
}
