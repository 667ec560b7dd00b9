#include "schedule/ScheduleFile.h"

#include "core/AtomicFile.h"

#include <QFile>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace schedule {

namespace {

// Day counts of 0001-01-01 and of the day after 9999-12-31.
constexpr double kFirstDay = -693593.0;
constexpr double kEndDay = 2958466.0;

bool isUsableTime(double days)
{
    return std::isfinite(days) && days >= kFirstDay && days < kEndDay;
}

}  // namespace

QByteArray encodeSchedule(const std::vector<TScheduleEntry> &entries)
{
    QByteArray data(qsizetype(entries.size()) * kScheduleRecordSize, Qt::Uninitialized);
    char *p = data.data();
    for (const TScheduleEntry &e : entries) {
        quint64 timeBits;
        static_assert(sizeof timeBits == sizeof e.Time);
        std::memcpy(&timeBits, &e.Time, sizeof timeBits);
        qToLittleEndian(timeBits, p);
        qToLittleEndian(e.Length, p + 8);
        qToLittleEndian(e.Action, p + 12);
        p += kScheduleRecordSize;
    }
    return data;
}

std::vector<TScheduleEntry> decodeSchedule(const QByteArray &data, int *skipped)
{
    const qsizetype records = data.size() / kScheduleRecordSize;
    int left = data.size() % kScheduleRecordSize != 0 ? 1 : 0;
    std::vector<TScheduleEntry> entries;
    entries.reserve(size_t(records));
    const char *p = data.constData();
    for (qsizetype i = 0; i < records; ++i, p += kScheduleRecordSize) {
        TScheduleEntry e;
        const quint64 timeBits = qFromLittleEndian<quint64>(p);
        std::memcpy(&e.Time, &timeBits, sizeof e.Time);
        e.Length = qFromLittleEndian<qint32>(p + 8);
        e.Action = qFromLittleEndian<qint32>(p + 12);
        if ((e.Action != ActionRecord && e.Action != ActionStop) || !isUsableTime(e.Time)) {
            ++left;
            continue;
        }
        entries.push_back(e);
    }
    if (skipped) *skipped = left;
    return entries;
}

bool readScheduleFile(const QString &path, std::vector<TScheduleEntry> *out, int *skipped,
                      QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = file.errorString();
        return false;
    }
    // A schedule of a million entries is 16 MB; anything larger is not a schedule.
    constexpr qint64 kMaxBytes = qint64(1) << 24;
    const QByteArray data = file.read(kMaxBytes);
    if (file.error() != QFileDevice::NoError) {
        if (error) *error = file.errorString();
        return false;
    }
    *out = decodeSchedule(data, skipped);
    return true;
}

bool writeScheduleFile(const QString &path, const std::vector<TScheduleEntry> &entries,
                       QString *error)
{
    return core::writeFileAtomically(path, encodeSchedule(entries), error, true);
}

}  // namespace schedule
