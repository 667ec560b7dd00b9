#pragma once
// What happened to a recording, in the order it happened: the recorder writes each event
// to the event log and the watch turns them into the status line's warnings.
#include <QDateTime>
#include <QString>
#include <cstdint>

namespace recording {

enum class SessionEventKind {
    Started,           // a recording began into `file`
    Stopped,           // the recording into `file` ended (by hand, a schedule entry or a limit)
    FileChanged,       // the running capture went on into a new `file`, nothing lost between
    EncoderRestarted,  // the encoder died; a new one writes `file`, overlapping the last one
    EncoderGaveUp,     // the encoder died too often: the recording ended
    CaptureLost,       // the sound server or device went away; retrying every second
    CaptureRecovered,  // capture runs again, into `file`; `lostMs` says for how long it did not
    AudioDropped,      // `droppedBytes` more bytes were lost (0: the server dropped an unknown
                       // amount); `details` gives the cause, empty when the encoder fell behind
    Failed,            // the recording could not start or ended on a failure; `details` says why
};

struct SessionEvent {
    SessionEventKind kind = SessionEventKind::Started;
    QDateTime at;          // local time
    QString file;          // the file concerned, if any
    QString details;       // the cause or any other words for the log
    std::int64_t lostMs = 0;
    std::uint64_t droppedBytes = 0;
};

}  // namespace recording
