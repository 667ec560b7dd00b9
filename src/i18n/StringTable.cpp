#include "i18n/StringTable.h"

#include "core/Ini.h"
#include "i18n/LanguageFolders.h"

#include <QStringList>

namespace i18n {

namespace {

struct MessageKey {
    const char *key;
    QString StringTable::*field;
};

constexpr MessageKey kMessageKeys[] = {
#define VT_MESSAGE_KEY(field, key, english) {key, &StringTable::field},
    VT_MESSAGE_TEXTS(VT_MESSAGE_KEY)
#undef VT_MESSAGE_KEY
};

const char *const kOldKeys[] = {"_action1", "_action2", "_status1", "_status2", "_lts1", "_lts2", "_lts3", "Message1"};

}  // namespace

QStringList stringTableKeys()
{
    QStringList keys;
    for (const char *key : kOldKeys)
        keys << QString::fromLatin1(key);
    keys << QStringLiteral("_qtLocale");
    for (const MessageKey &k : kMessageKeys)
        keys << QString::fromLatin1(k.key);
    return keys;
}

StringTable readStringTable(const core::Ini &languageFile, const StringTable &current)
{
    const StringTable builtIn;
    const QString section = QStringLiteral("Strings");
    const auto read = [&](const char *key, const QString &def) {
        return languageFile.readString(section, QString::fromLatin1(key), def);
    };
    StringTable table;
    table.lts1 = read("_lts1", builtIn.lts1);
    table.lts2 = read("_lts2", builtIn.lts2);
    table.lts3 = read("_lts3", builtIn.lts3);
    table.action1 = read("_action1", builtIn.action1);
    table.action2 = read("_action2", builtIn.action2);
    table.status2 = read("_status2", builtIn.status2);
    table.status1 = read("_status1", builtIn.status1);
    table.message1 = read("Message1", current.message1);
    table.qtLocale = read("_qtLocale", builtIn.qtLocale);
    for (const MessageKey &k : kMessageKeys)
        table.*k.field = read(k.key, builtIn.*k.field);
    return table;
}

core::Ini languageFileOf(const QString &languagesFolder, const QString &code)
{
    const QString folder = languageFolder(languagesFolder, code);
    return folder.isEmpty() ? core::Ini() : core::Ini::load(folder + QStringLiteral("vtlang.ini"));
}

}  // namespace i18n
