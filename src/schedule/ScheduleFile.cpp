#include "schedule/ScheduleFile.h"

#include "core/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace schedule {

namespace {

// A schedule of a million entries is 16 MB; anything larger is not a schedule.
constexpr qint64 kMaxScheduleBytes = qint64(1) << 24;

// Day counts of 0001-01-01 and of the day after 9999-12-31.
constexpr double kFirstDay = -693593.0;
constexpr double kEndDay = 2958466.0;

bool isUsableTime(double days)
{
    return std::isfinite(days) && days >= kFirstDay && days < kEndDay;
}

}  // namespace

QByteArray encodeSchedule(const std::vector<ScheduleEntry> &entries)
{
    QByteArray data(qsizetype(entries.size()) * kScheduleRecordSize, Qt::Uninitialized);
    char *p = data.data();
    for (const ScheduleEntry &e : entries) {
        quint64 timeBits;
        static_assert(sizeof timeBits == sizeof e.time);
        std::memcpy(&timeBits, &e.time, sizeof timeBits);
        qToLittleEndian(timeBits, p);
        qToLittleEndian(e.lengthMs, p + 8);
        qToLittleEndian(e.action, p + 12);
        p += kScheduleRecordSize;
    }
    return data;
}

std::vector<ScheduleEntry> decodeSchedule(const QByteArray &data, int *skipped)
{
    const qsizetype records = data.size() / kScheduleRecordSize;
    int left = data.size() % kScheduleRecordSize != 0 ? 1 : 0;
    std::vector<ScheduleEntry> entries;
    entries.reserve(size_t(records));
    const char *p = data.constData();
    for (qsizetype i = 0; i < records; ++i, p += kScheduleRecordSize) {
        ScheduleEntry e;
        const quint64 timeBits = qFromLittleEndian<quint64>(p);
        std::memcpy(&e.time, &timeBits, sizeof e.time);
        e.lengthMs = qFromLittleEndian<qint32>(p + 8);
        e.action = qFromLittleEndian<qint32>(p + 12);
        if ((e.action != ActionRecord && e.action != ActionStop) || !isUsableTime(e.time)) {
            ++left;
            continue;
        }
        entries.push_back(e);
    }
    if (skipped) *skipped = left;
    return entries;
}

bool readScheduleFile(const QString &path, std::vector<ScheduleEntry> *out, int *skipped,
                      QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = file.errorString();
        return false;
    }
    const QByteArray data = file.read(kMaxScheduleBytes);
    if (file.error() != QFileDevice::NoError) {
        if (error) *error = file.errorString();
        return false;
    }
    *out = decodeSchedule(data, skipped);
    return true;
}

bool writeScheduleFile(const QString &path, const std::vector<ScheduleEntry> &entries,
                       QString *error)
{
    return core::writeFileAtomically(path, encodeSchedule(entries), error, true);
}

bool readScheduleForList(const QString &path, std::vector<ScheduleEntry> *out, QString *error,
                         const i18n::StringTable &texts)
{
    std::vector<ScheduleEntry> entries;
    QString reason;
    if (!readScheduleFile(path, &entries, nullptr, &reason)) {
        *error = texts.scheduleUnreadable.arg(path, reason);
        return false;
    }
    if (entries.empty()) {
        *error = texts.scheduleEmpty.arg(path);
        return false;
    }
    *out = std::move(entries);
    return true;
}

std::vector<ScheduleEntry> DefaultScheduleFile::load(QString *warning, const i18n::StringTable &texts)
{
    m_onDisk.reset();
    m_damaged = false;
    std::vector<ScheduleEntry> entries;
    int skipped = 0;
    QString reason;
    if (!readScheduleFile(m_path, &entries, &skipped, &reason)) {
        // An unreadable file that exists is kept like a damaged one.
        m_damaged = QFileInfo::exists(m_path);
        if (m_damaged && warning)
            *warning = texts.defaultScheduleUnreadable.arg(m_path, reason);
        return {};
    }
    m_damaged = skipped > 0 || QFileInfo(m_path).size() > kMaxScheduleBytes;
    if (m_damaged && warning) {
        *warning = texts.defaultScheduleDamaged.arg(m_path, backupPath());
    }
    m_onDisk = entries;
    return entries;
}

bool DefaultScheduleFile::save(const std::vector<ScheduleEntry> &entries, QString *error)
{
    if (m_onDisk && *m_onDisk == entries) return true;
    QString reason;
    if (m_damaged) {
        QFile damaged(m_path);
        if (damaged.exists()) {  // gone meanwhile: nothing left to keep
            QByteArray content;
            if (damaged.open(QIODevice::ReadOnly)) content = damaged.readAll();
            if (damaged.error() != QFileDevice::NoError) {
                if (error) *error = QStringLiteral("%1: %2").arg(m_path, damaged.errorString());
                return false;
            }
            if (!core::writeFileAtomically(backupPath(), content, &reason, true)) {
                if (error) *error = QStringLiteral("%1: %2").arg(backupPath(), reason);
                return false;
            }
        }
        m_damaged = false;
    }
    if (!writeScheduleFile(m_path, entries, &reason)) {
        if (error) *error = QStringLiteral("%1: %2").arg(m_path, reason);
        return false;
    }
    m_onDisk = entries;
    return true;
}

}  // namespace schedule
