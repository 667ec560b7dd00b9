#pragma once
// The journal of the recording in progress, "Log/RecordingJournal.ini" in the program
// folder. It exists from the start of a recording until the recording's record is in the
// archive index, and names the recording's start and file:
//
//   [Recording]
//   Start=2026-12-07T20:44:37.120
//   File=/home/ann/Recordings/2026-12-07 20-44-37.mp3
//
// Start is the local wall-clock time of the start (the day count of the record). A program
// that was killed or lost its power while recording finds the journal at its next start
// and adopts the file into the archive (Archive::adoptRecording). Written atomically, so
// that it is always whole or absent. Main thread only.

#include <QLatin1String>
#include <QString>
#include <optional>

namespace archive {

struct JournalEntry {
    double startTime = 0;  // day count, local time
    QString file;
};

class RecordingJournal {
public:
    explicit RecordingJournal(QString path) : m_path(std::move(path)) {}

    const QString &path() const { return m_path; }

    // Names the recording that has just started (creating the folder if needed).
    [[nodiscard]] bool begin(double startTime, const QString &file, QString *error = nullptr) const;
    // Removes the journal: the recording has its record, or none is running. True when no
    // journal is left.
    bool clear() const;
    // Removes the journal only while it names file: a recording started since keeps its own.
    bool clearIfNames(const QString &file) const;
    // The recording the journal names; nothing when there is no journal or it names no
    // file with a readable start.
    std::optional<JournalEntry> read() const;

private:
    QString m_path;
};

}  // namespace archive
