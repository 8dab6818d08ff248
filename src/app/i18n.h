// The core's and the command line's texts in the desktop's language, through GNU gettext: the
// English text is the key, so a missing catalogue or entry shows the English text unchanged.
// The window translates its own texts with Qt's catalogues and calls InitTranslations too, for
// the core's messages it shows.
#pragma once

#include <string>

// FormatText: a translated text with its placeholders filled ("%1$s" lets a translation
// put them in another order).
#include "engine/text.h"
// The text domain and the pseudo-locale, shared with the lower layers' messages.
#include "medialib/words.h"

// Chooses the language from LANGUAGE, LC_ALL, LC_MESSAGES and LANG and finds the catalogues.
// Call once at the start, before any thread (it may set LANGUAGE, see the source), and in the
// window after QApplication, which sets the locale again.
void InitTranslations();
// True when the C locale was named outright (LC_ALL=C): the English texts, whatever LANGUAGE
// says; the window then loads no catalogue either.
bool EnglishAsked();

// AText in the chosen language (the English text when no catalogue has it).
const char *Translate(const char *AText) __attribute__((format_arg(1)));
// The form of ASingular/APlural that ACount needs in the chosen language.
const char *TranslatePlural(const char *ASingular, const char *APlural, unsigned long ACount)
    __attribute__((format_arg(1))) __attribute__((format_arg(2)));

// The usual gettext names; xgettext finds the texts by them (scripts/update-translations).
#define _(Text) Translate(Text)
// Marks a text for the catalogue where it is defined; it is translated where it is shown.
#define N_(Text) Text

// Where the catalogues of a kind are: the gettext folder ("locale") or the window's Qt
// catalogues ("translations"). An installed program (in a "bin" folder) has them in
// ../share; any other beside it; a program in the build tree finds the build's.
enum class TCatalogueKind { ckMessages, ckWindow };
std::string CatalogueFolder(TCatalogueKind AKind);

// The digit group separator and decimal mark of the user's numbers (LC_NUMERIC) for sizes:
// "1,234 KB" and "1.5 GB", "1.234 KB" and "1,5 GB". Where the desktop's locale is not generated,
// the texts' language's; English's in the C locale and for languages without a catalogue.
const std::string &DigitGroupSeparator();
const std::string &DecimalMark();
