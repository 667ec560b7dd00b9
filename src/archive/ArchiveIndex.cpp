#include "archive/ArchiveIndex.h"

#include "archive/RegionalDateTime.h"
#include "core/Ini.h"
#include "core/IniText.h"
#include "core/ProgramFiles.h"

#include <optional>

namespace archive {

namespace {

// The index is read as bytes, not through the INI document, so that a path that is not
// valid UTF-8 keeps its bytes; the rules are those of the INI reader (core/Ini.h).

using namespace core::initext;

bool isKey(QByteArrayView key, QLatin1String name)
{
    if (key.size() != name.size()) return false;
    for (qsizetype i = 0; i < key.size(); ++i)
        if (asciiLower(key[i]) != asciiLower(name.data()[i])) return false;
    return true;
}

qint32 parseLength(QByteArrayView text)
{
    const std::optional<qint64> n = core::Ini::parseInt(QString::fromUtf8(text));
    // The low 32 bits, as the settings reader keeps them.
    return n ? qint32(quint32(quint64(*n))) : 0;
}

// A locale named in a file, if this Qt knows it.
std::optional<QLocale> namedLocale(QByteArrayView name)
{
    const QString text = QString::fromUtf8(name);
    const QLocale locale(text);
    if (locale.language() == QLocale::C && text != QLatin1String("C")) return std::nullopt;
    return locale;
}

// The values of one section, as found.
struct SectionValues {
    std::optional<QByteArrayView> dateTime, filename, length;
};

class Reader {
public:
    explicit Reader(const QLocale &current) : m_current(current) {}

    void setFileLocale(const QLocale &locale) { m_fileLocale = locale; }

    ArchiveRecord record(const SectionValues &v)
    {
        ArchiveRecord r;
        if (v.dateTime) {
            const QString text = QString::fromUtf8(*v.dateTime);
            r.start = parseDate(text);
            if (r.start == 0.0 && !text.isEmpty()) r.dateText = text;
        }
        if (v.length) r.lengthSeconds = parseLength(*v.length);
        if (v.filename) {
            r.path = QString::fromUtf8(*v.filename);
            if (!v.filename->isValidUtf8()) r.pathBytes = v.filename->toByteArray();
        }
        return r;
    }

private:
    double parseDate(const QString &text)
    {
        if (!m_fileDates) m_fileDates.emplace(m_fileLocale.value_or(m_current));
        const double value = m_fileDates->parse(text);
        if (value != 0.0 || !m_fileLocale || *m_fileLocale == m_current) return value;
        if (!m_currentDates) m_currentDates.emplace(m_current);
        return m_currentDates->parse(text);
    }

    QLocale m_current;
    std::optional<QLocale> m_fileLocale;
    std::optional<RegionalDateTime> m_fileDates, m_currentDates;
};

}  // namespace

QString archiveIndexPath(const QString &programDir)
{
    QString dir = programDir;
    if (!dir.isEmpty() && !dir.endsWith(u'/')) dir += u'/';
    return dir + core::files::archiveIndex();
}

QLocale regionalDateLocale()
{
    for (const char *variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const QString name = qEnvironmentVariable(variable);
        // "de_DE.UTF-8" names de_DE; "C.UTF-8" and "POSIX" name the C locale.
        if (!name.isEmpty()) return QLocale(name);
    }
    return QLocale(QLocale::system().name());
}

ArchiveList parseArchiveIndex(const QByteArray &text, const QLocale &locale)
{
    // One pass over the whole file: no limit on the number of records, and every section,
    // duplicates and odd names included, gives exactly one record.
    Reader reader(locale);
    ArchiveList records;
    std::optional<SectionValues> section;
    QByteArrayView rest(text);
    if (rest.startsWith(kBom)) rest = rest.sliced(kBom.size());
    const char *p = rest.data();
    const char *const end = p + rest.size();
    while (p < end) {
        const char *eol = p;
        while (eol < end && *eol != '\n' && *eol != '\r') ++eol;
        const QByteArrayView line = trimmed(QByteArrayView(p, eol - p));
        p = eol + 1;
        if (line.isEmpty()) continue;
        if (isHeaderLine(line)) {
            if (section) records.push_back(reader.record(*section));
            section.emplace();
            continue;
        }
        if (line.front() == ';') {
            if (!section && line.startsWith(QByteArrayView(kLocaleComment))) {
                if (const auto named = namedLocale(trimmed(line.sliced(kLocaleComment.size()))))
                    reader.setFileLocale(*named);
            }
            continue;
        }
        QByteArrayView key, value;
        if (!section || !splitKeyLine(line, &key, &value)) continue;
        std::optional<QByteArrayView> *slot = nullptr;
        if (isKey(key, kKeyDateTime)) slot = &section->dateTime;
        else if (isKey(key, kKeyFilename)) slot = &section->filename;
        else if (isKey(key, kKeyLength)) slot = &section->length;
        if (slot && !*slot) *slot = value;
    }
    if (section) records.push_back(reader.record(*section));
    return records;
}

QByteArray writeArchiveIndex(const ArchiveList &records, const QLocale &locale)
{
    const RegionalDateTime dates(locale);
    QByteArray out;
    out.reserve(qsizetype(records.size()) * 110 + 32);
    out.append(kLocaleComment.data(), kLocaleComment.size()).append(locale.name().toUtf8()).append('\n');
    for (size_t i = 0; i < records.size(); ++i) {
        const ArchiveRecord &r = records[i];
        // An unknown start (0) without a text of its own is written empty, never as the
        // first day of the count: that would read back as a date.
        const QString date = !r.dateText.isEmpty() ? r.dateText
                             : r.start == 0.0  ? QString()
                                                  : dates.format(r.start);
        out.append("\n[").append(kSectionPrefix.data(), kSectionPrefix.size())
            .append(QByteArray::number(qulonglong(i))).append("]\n");
        out.append(kKeyDateTime.data(), kKeyDateTime.size()).append('=').append(oneLineUtf8(date)).append('\n');
        out.append(kKeyFilename.data(), kKeyFilename.size()).append('=');
        out.append(r.pathBytes.isEmpty() ? oneLineUtf8(r.path) : r.pathBytes).append('\n');
        out.append(kKeyLength.data(), kKeyLength.size()).append('=')
            .append(QByteArray::number(r.lengthSeconds)).append('\n');
    }
    return out;
}

}  // namespace archive
