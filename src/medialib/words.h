// The lower layers' messages in the user's language, through GNU gettext in the program's one
// text domain: the English text is the key, so a missing catalogue or entry shows it unchanged.
// The app core binds the domain and chooses the language at start, before any thread runs;
// dgettext itself is thread-safe, so workers translate their messages where they raise them.
#pragma once

#include <string>

// The gettext domain: korvelo-converter.mo in <folder>/<language>/LC_MESSAGES.
inline constexpr const char *TextDomain = "korvelo-converter";

// AText in the chosen language (the English text when no catalogue has it).
const char *LayerText(const char *AText) __attribute__((format_arg(1)));

// The lower layers' gettext names; xgettext finds the texts by them
// (scripts/update-translations). M_ translates where the text is used; MN_ only marks a text
// in a table for the catalogue, and the text is translated with LayerText where it is shown.
#define M_(Text) LayerText(Text)
#define MN_(Text) Text

// KORVELO_PSEUDO=1: every translated text comes back marked as ⟦text⟧, so that a test sees which
// texts a person reads without having gone through a catalogue.
bool PseudoTranslation();
std::string PseudoMarked(const std::string &AText);

// AFormat (a translated text) with its one "%s" replaced by AName and "%%" by "%", whatever
// AName's length: file names do not fit the message formatter's buffer, and may hold '%'.
std::string FillName(const char *AFormat, const std::string &AName);
