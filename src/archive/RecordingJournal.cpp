#include "archive/RecordingJournal.h"

#include "archive/Logging.h"
#include "core/AtomicFile.h"
#include "core/DayCount.h"
#include "core/Ini.h"

#include <QDir>
#include <QFile>
#include <QDate>
#include <QTime>

namespace archive {

namespace {

const QString kSection = QStringLiteral("Recording");
const QString kKeyStart = QStringLiteral("Start");
const QString kKeyFile = QStringLiteral("File");
const QString kTimeFormat = QStringLiteral("HH:mm:ss.zzz");

}  // namespace

bool RecordingJournal::begin(double startTime, const QString &file, QString *error) const
{
    // The wall-clock reading itself, not an instant: it reads back to the same day count
    // whatever the time zone rules say about that moment.
    const QDate date = core::dayCountEpoch().addDays(core::wholeDays(startTime));
    const QTime time = core::timeOfDay(startTime);
    core::Ini ini;
    ini.writeString(kSection, kKeyStart,
                    date.toString(Qt::ISODate) + u'T' + time.toString(kTimeFormat));
    ini.writeString(kSection, kKeyFile, file);
    return core::writeFileAtomically(m_path, ini.toText(), error, /*createFolders=*/true);
}

bool RecordingJournal::clear() const
{
    QFile file(m_path);
    if (!file.exists() || file.remove()) return true;
    qCWarning(lcArchive).noquote() << "Cannot remove" << QDir::toNativeSeparators(m_path) << ":"
                                   << file.errorString();
    return false;
}

bool RecordingJournal::clearIfNames(const QString &file) const
{
    const std::optional<JournalEntry> entry = read();
    return entry && entry->file != file ? false : clear();
}

std::optional<JournalEntry> RecordingJournal::read() const
{
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    const core::Ini ini = core::Ini::fromText(f.readAll());
    const QString start = ini.readString(kSection, kKeyStart);
    const QString file = ini.readString(kSection, kKeyFile);
    const QDate date = QDate::fromString(start.left(10), Qt::ISODate);
    const QTime time = QTime::fromString(start.mid(11), kTimeFormat);
    if (file.isEmpty() || start.size() < 11 || start[10] != u'T' || !date.isValid() || !time.isValid())
        return std::nullopt;
    return JournalEntry{core::toDayCount(date, time), file};
}

}  // namespace archive
