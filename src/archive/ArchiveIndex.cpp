#include "archive/ArchiveIndex.h"

#include "archive/RegionalDateTime.h"
#include "core/Ini.h"

#include <QDir>
#include <optional>

namespace archive {

namespace {

// The first entry of that key, names compared without regard to case.
const QString *findValue(const core::Ini::Section &section, QLatin1String key)
{
    for (const core::Ini::Entry &e : section.entries)
        if (e.key.compare(key, Qt::CaseInsensitive) == 0) return &e.value;
    return nullptr;
}

qint32 parseLength(const QString *text)
{
    if (!text) return 0;
    const std::optional<qint64> n = core::Ini::parseInt(*text);
    // The low 32 bits, as the settings reader keeps them.
    return n ? qint32(quint32(quint64(*n))) : 0;
}

}  // namespace

QString archiveIndexPath(const QString &programDir)
{
    QString dir = programDir;
    if (!dir.isEmpty() && !dir.endsWith(u'/')) dir += u'/';
    return dir + kIndexRelativePath;
}

ArchiveList parseArchiveIndex(const QByteArray &text, const QLocale &locale)
{
    // One pass over the whole file: no limit on the number of records, and every section,
    // duplicates and odd names included, gives exactly one record.
    const std::vector<core::Ini::Section> sections = core::Ini::fromText(text).parseAll();
    RegionalDateTime dates(locale);
    ArchiveList records;
    records.reserve(sections.size());
    for (const core::Ini::Section &s : sections) {
        TArchiveRecord r;
        if (const QString *v = findValue(s, kKeyDateTime)) r.DateTime = dates.parse(*v);
        r.Length = parseLength(findValue(s, kKeyLength));
        if (const QString *v = findValue(s, kKeyFilename))
            r.Filename = core::cutToBytes(*v, kFilenameMaxBytes);
        records.push_back(std::move(r));
    }
    return records;
}

QByteArray writeArchiveIndex(const ArchiveList &records, const QLocale &locale)
{
    const RegionalDateTime dates(locale);
    core::Ini ini;
    for (size_t i = 0; i < records.size(); ++i) {
        const TArchiveRecord &r = records[i];
        const QString section = kSectionPrefix + QString::number(i);
        ini.writeString(section, kKeyDateTime, dates.format(r.DateTime));
        ini.writeString(section, kKeyFilename, r.Filename);
        ini.writeInt(section, kKeyLength, r.Length);
    }
    return ini.toText();
}

}  // namespace archive
