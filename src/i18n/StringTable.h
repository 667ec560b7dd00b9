#pragma once
// Texts the program puts into its windows itself; a language file replaces them from its
// section "Strings". The fields, their keys and English texts are VT_STRING_TABLE
// (i18n/LanguageFile.h).
#include "i18n/LanguageFile.h"

#include <QString>
#include <QStringList>

namespace core { class Ini; }

namespace i18n {

struct StringTable {
#define VT_STRING_FIELD(field, key, english) QString field = QStringLiteral(english);
    VT_STRING_TABLE(VT_STRING_FIELD)
#undef VT_STRING_FIELD
};

// The keys of section "Strings", for checks that a language file has them all.
QStringList stringTableKeys();

// The string table from section "Strings". A missing key gives the built-in English text, so
// a file without "_action1" brings back "Record" after another language; "Message1"
// (nothingSelected) alone keeps its current text.
StringTable readStringTable(const core::Ini &languageFile, const StringTable &current);

// The language file of `code` in `languagesFolder` (see languageFolder()); an empty document
// when the language has no folder.
core::Ini languageFileOf(const QString &languagesFolder, const QString &code);

}  // namespace i18n
