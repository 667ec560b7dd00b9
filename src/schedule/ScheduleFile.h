#pragma once
// Schedule files (".vts"): a plain sequence of 16-byte little-endian records, one per
// entry in list order, without a header:
//   offset 0  Time    64-bit IEEE double, day count (only the time of day counts)
//   offset 8  Length  signed 32-bit, milliseconds, 0 = no length
//   offset 12 Action  signed 32-bit, 1 = Record, 2 = Stop
// Reading is lenient, so a damaged or foreign file never stops the program: a partial
// record at the end is ignored, and a record with another action or a time that is not a
// finite day count within the years 1…9999 is skipped.

#include "i18n/StringTable.h"
#include "core/ProgramFiles.h"
#include "schedule/ScheduleEntry.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace schedule {

constexpr int kScheduleRecordSize = 16;

// Relative to the program folder.
inline QString scheduleFolder() { return core::files::presetFolder(); }
inline QString defaultScheduleFile() { return core::files::defaultSchedule(); }
// Name filter of the open and save dialogs.
inline QString scheduleFileFilter() { return QStringLiteral("Schedule (*.vts)"); }
inline QString scheduleFileSuffix() { return QStringLiteral("vts"); }

QByteArray encodeSchedule(const std::vector<ScheduleEntry> &entries);

// Decodes what is valid; *skipped (if given) counts records left out, a partial tail
// included.
std::vector<ScheduleEntry> decodeSchedule(const QByteArray &data, int *skipped = nullptr);

// Reads a schedule file. False (and *out untouched) when the file cannot be opened or
// read; a missing default file at start-up is therefore simply an empty list.
[[nodiscard]] bool readScheduleFile(const QString &path, std::vector<ScheduleEntry> *out,
                                    int *skipped = nullptr, QString *error = nullptr);

// Writes atomically, creating missing folders. On failure the old file is whole.
[[nodiscard]] bool writeScheduleFile(const QString &path,
                                     const std::vector<ScheduleEntry> &entries,
                                     QString *error = nullptr);

// Reads a file the user chose to load. False, with the reason in *error, when it cannot be
// read or holds no valid entry: the list is then to stay as it is. The reason is worded
// with `texts`.
[[nodiscard]] bool readScheduleForList(const QString &path, std::vector<ScheduleEntry> *out,
                                       QString *error, const i18n::StringTable &texts = {});

// The default schedule file, which holds the current list and is written after every
// change of it. A file with records that could not be read is kept: it is not written
// while the list is still what was read from it, and before anything is written over it
// its bytes are kept aside in "<name>.bak".
class DefaultScheduleFile {
public:
    explicit DefaultScheduleFile(QString path) : m_path(std::move(path)) {}
    const QString &path() const { return m_path; }
    QString backupPath() const { return m_path + QStringLiteral(".bak"); }

    // The file's valid entries; a missing or unreadable file gives none. *warning (if
    // given) says, worded with `texts`, when the file is damaged or unreadable, and so kept.
    std::vector<ScheduleEntry> load(QString *warning = nullptr, const i18n::StringTable &texts = {});

    // Writes entries unless the file holds them already. False, with "<file>: <reason>" in
    // *error, when a damaged file cannot be kept aside or the file cannot be written; the
    // file is then untouched.
    [[nodiscard]] bool save(const std::vector<ScheduleEntry> &entries, QString *error = nullptr);

private:
    QString m_path;
    std::optional<std::vector<ScheduleEntry>> m_onDisk;  // unknown before a load or save
    bool m_damaged = false;  // the file held records left out, and is not yet kept aside
};

}  // namespace schedule
