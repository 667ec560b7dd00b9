#pragma once
// The event log, Log/events.log in the program folder: what happened to the recordings, one
// line per event, so that a gap in the archive can be explained afterwards.
//
// Layout: UTF-8 text, one event per line, four fields separated by one tab:
//
//     time <TAB> event <TAB> file <TAB> details
//
//   time     local time, ISO 8601 to the second with its UTC offset: 2026-12-08T21:04:05+01:00
//   event    one word: started, stopped, file-changed, encoder-restarted, encoder-gave-up,
//            capture-lost, capture-recovered, dropped, failed, silence, silence-end,
//            damaged (the check of a finished file found it damaged; details say why)
//            disk-low, disk-full (the recording time left on the save folder's disk fell
//            below DiskHours, or to nothing), removed (a recording removed for good to keep
//            KeepFreeMB free; details say why and what it freed)
//   file     the recording's file; empty when none is concerned
//   details  free words (the cause, a length); may be empty
//
// Tabs and line breaks inside a field are written as spaces, so a line always has exactly
// four fields. Each line is appended and flushed on its own. When the file would grow past
// the size limit it is rotated first: events.log becomes events.log.1, .1 becomes .2 and so
// on; the oldest kept file is dropped.
//
// A line that cannot be written is lost: the failure is logged (stderr) once until a line is
// written again, and never reaches the recording.

#include "recording/SessionEvent.h"

#include <QDateTime>
#include <QString>

namespace recording {

struct EventLine {
    QDateTime at;
    QString event;
    QString file;
    QString details;
};

// "2026-12-08T21:04:05+01:00": the local time with its offset from UTC; with milliseconds
// "2026-12-08T21:04:05.020+01:00".
QString isoTimeWithOffset(const QDateTime &at, bool milliseconds = false);

// The log line of a session event; dropped audio is given in seconds at sampleRate (when
// known, else in bytes).
EventLine eventLine(const SessionEvent &event, int sampleRate = 0);
QString formatEventLine(const EventLine &line);

class EventLog {
public:
    static constexpr qint64 kRotateBytes = 1024 * 1024;
    static constexpr int kKeptFiles = 5;  // events.log.1 … events.log.5

    explicit EventLog(QString path, qint64 rotateBytes = kRotateBytes, int keptFiles = kKeptFiles);

    // Appends the line (making the Log folder when it is missing). False when it could not
    // be written; the failure has then been logged.
    bool append(const EventLine &line);

    QString path() const { return m_path; }

private:
    void rotate();

    QString m_path;
    qint64 m_rotateBytes;
    int m_keptFiles;
    bool m_failureSaid = false;
};

}  // namespace recording
