#include "app/i18n.h"

#include <langinfo.h>
#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

bool Plain(const std::string &ALocale) {
  return ALocale.empty() || ALocale == "C" || ALocale == "POSIX" || ALocale.rfind("C.", 0) == 0;
}

// The language the desktop asks for: LANGUAGE's list as it is, else the first locale variable
// set, without its codeset and modifier ("de_DE.UTF-8@euro" -> "de_DE").
std::string DesktopLanguage() {
  const char *language = std::getenv("LANGUAGE");
  if (language && *language)
    return language;
  for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char *value = std::getenv(name);
    if (!value || !*value)
      continue;
    std::string locale = value;
    locale = locale.substr(0, locale.find_first_of(".@"));
    return Plain(locale) ? std::string() : locale;
  }
  return {};
}

bool EnglishAskedFor = false;

} // namespace

void InitTranslations() {
  // Only the messages follow the desktop: numbers in settings and in the media libraries'
  // options are read and written the same way in every language.
  const char *chosen = std::setlocale(LC_MESSAGES, "");
  // The C locale named outright (a script's LC_ALL=C) asks for the English texts whatever
  // LANGUAGE says, as in every GNU program.
  std::string named;
  for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"})
    if (const char *value = std::getenv(name); named.empty() && value)
      named = value;
  EnglishAskedFor = named == "C" || named == "POSIX";
  // gettext ignores LANGUAGE in the C locale, and a desktop language whose locale was never
  // generated falls back to C: the messages are then chosen through LANGUAGE under C.UTF-8.
  if (!EnglishAskedFor && (!chosen || Plain(chosen))) {
    const std::string wanted = DesktopLanguage();
    if (!wanted.empty() && std::setlocale(LC_MESSAGES, "C.UTF-8"))
      ::setenv("LANGUAGE", wanted.c_str(), 1);
  }
  ::bindtextdomain(TextDomain, CatalogueFolder(TCatalogueKind::ckMessages).c_str());
  // UTF-8 whatever the character set of the locale: names and texts are UTF-8 throughout.
  ::bind_textdomain_codeset(TextDomain, "UTF-8");
}

bool EnglishAsked() { return EnglishAskedFor; }

const char *Translate(const char *AText) { return LayerText(AText); }

const char *TranslatePlural(const char *ASingular, const char *APlural, unsigned long ACount) {
  if (PseudoTranslation())
    return LayerText(ACount == 1 ? ASingular : APlural);
  return ::dngettext(TextDomain, ASingular, APlural, ACount);
}

std::string CatalogueFolder(TCatalogueKind AKind) {
  const bool messages = AKind == TCatalogueKind::ckMessages;
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error).parent_path();
  if (!error && program.filename() == "bin")
    return (program.parent_path() / "share" /
            (messages ? "locale" : "korvelo-converter/translations"))
        .string();
  const fs::path beside = program / (messages ? "locale" : "translations");
  if (!error && fs::is_directory(beside, error))
    return beside.string();
  return std::string(KORVELO_BUILD_CATALOGUES) + (messages ? "/locale" : "/translations");
}

namespace {

// The numbers' conventions of the catalogue's languages, for a desktop whose locale was never
// generated (LANG=de_DE.UTF-8 without its locale, or LANGUAGE=de under C.UTF-8): the texts are
// German then, so are the numbers. Glibc's own for these locales; English's for the others.
struct TNumbers {
  const char *Language, *Separator, *Mark;
};
constexpr TNumbers LanguageNumbers[] = {
    {"de", ".", ","}, {"es", ".", ","}, {"fr", "\u202f", ","}, {"ja", ",", "."}};

const char *LanguageItem(const std::string &ALanguage, nl_item AItem, const char *AEnglish) {
  for (const TNumbers &numbers : LanguageNumbers)
    if (ALanguage.rfind(numbers.Language, 0) == 0)
      return AItem == THOUSEP ? numbers.Separator : numbers.Mark;
  return AEnglish;
}

// AItem of the user's LC_NUMERIC; where that locale is not there, the messages' language's.
std::string NumericItem(nl_item AItem, const char *AEnglish) {
  std::string named;
  for (const char *name : {"LC_ALL", "LC_NUMERIC", "LANG"})
    if (const char *value = std::getenv(name); named.empty() && value)
      named = value;
  if (named == "C" || named == "POSIX")
    return AEnglish; // a script's C locale reads its numbers the English way
  locale_t locale = Plain(named) ? nullptr : ::newlocale(LC_NUMERIC_MASK, named.c_str(), nullptr);
  if (!locale)
    return LanguageItem(Plain(named) ? DesktopLanguage() : named, AItem, AEnglish);
  std::string found = ::nl_langinfo_l(AItem, locale);
  ::freelocale(locale);
  return found.empty() ? std::string(AEnglish) : found;
}

} // namespace

const std::string &DigitGroupSeparator() {
  static const std::string separator = NumericItem(THOUSEP, ",");
  return separator;
}

const std::string &DecimalMark() {
  static const std::string mark = NumericItem(RADIXCHAR, ".");
  return mark;
}
