#include "i18n/StringTable.h"

#include "core/Ini.h"
#include "i18n/LanguageFolders.h"

#include <QStringList>

namespace i18n {

namespace {

struct StringKey {
    const char *key;
    QString StringTable::*field;
};

constexpr StringKey kStringKeys[] = {
#define VT_STRING_KEY(field, key, english) {key, &StringTable::field},
    VT_STRING_TABLE(VT_STRING_KEY)
#undef VT_STRING_KEY
};

// The one text that a file without its key leaves as it stands instead of bringing back
// the English one.
constexpr QString StringTable::*kKeptWhenMissing = &StringTable::nothingSelected;

}  // namespace

QStringList stringTableKeys()
{
    QStringList keys;
    for (const StringKey &k : kStringKeys)
        keys << QString::fromLatin1(k.key);
    return keys;
}

StringTable readStringTable(const core::Ini &languageFile, const StringTable &current)
{
    const StringTable builtIn;
    StringTable table;
    for (const StringKey &k : kStringKeys) {
        const StringTable &fallback = k.field == kKeptWhenMissing ? current : builtIn;
        table.*k.field = languageFile.readString(langfile::strings, QString::fromLatin1(k.key), fallback.*k.field);
    }
    return table;
}

core::Ini languageFileOf(const QString &languagesFolder, const QString &code)
{
    const QString folder = languageFolder(languagesFolder, code);
    return folder.isEmpty() ? core::Ini() : core::Ini::load(folder + langfile::fileName());
}

}  // namespace i18n
