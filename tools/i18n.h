// The tool speaks its user's language: every text meant for a person goes
// through the message catalogue pxadmin.mo (share/locale/LANG/LC_MESSAGES
// beside the installation's bin/). The English texts are the catalogue's
// keys and what is shown when there is no catalogue for the language.
// Machine output (dumps, exports, JSON, CSV, file statuses) is never
// translated.
#pragma once

#include <libintl.h>

#include <string>

// A text to translate now, and one only marked for the catalogue (translated
// later, where it is used).
#define _(text) ::gettext(text)
#define N_(text) text

namespace tools {

// Chooses the messages' language from LC_ALL, LC_MESSAGES or LANG, and only
// that: numbers, times and character handling stay those of the "C" locale,
// so that every listing and export is the same in every language. A locale
// that is not installed leaves the English texts.
void chooseLanguage();

// printf into a string; the format is usually a translated text.
[[gnu::format(printf, 1, 2)]] std::string textf(const char* format, ...);

}  // namespace tools
