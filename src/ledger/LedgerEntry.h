#pragma once
// What the coverage ledger holds: the files handed to the encoders and the spans of time
// with what happened in them. Times are milliseconds since the epoch (UTC); a span is
// [startMs, endMs).

#include <QString>
#include <QtGlobal>
#include <optional>

namespace ledger {

enum class SpanKind {
    Recorded,  // audio reached a file
    Lost,      // no capture (the sound server went away, the device vanished)
    Silent,    // captured, but below the silence level
    Dropped,   // captured, but not written (an encoder too slow or gone)
    Asked,     // a recording was wanted: the schedule's entries, a recording by hand
};
constexpr int kSpanKinds = 5;

enum class Verification { Unverified, Ok, Damaged };

struct FileEntry {
    QString path;
    qint64 startMs = 0;
    QString startLocal;  // the start as local ISO text with its offset; made from startMs when empty
    qint64 frames = 0;   // frames given to the encoder
    int sampleRate = 0;
    qint64 endMs = 0;    // 0 while the file is open
    qint64 sizeBytes = 0;
    QString sha256;      // hex; empty until verified
    Verification verification = Verification::Unverified;
    QString reason;      // why a damaged file is damaged
};

struct Span {
    SpanKind kind = SpanKind::Recorded;
    qint64 startMs = 0;
    qint64 endMs = 0;
    QString cause;  // for lost, silent and dropped spans: what happened
    QString file;   // the file the span belongs to; empty when none
};

// The words stored in the database ("recorded", "lost", … ; "unverified", "ok", "damaged").
QString spanKindName(SpanKind kind);
std::optional<SpanKind> spanKindFromName(const QString &name);
QString verificationName(Verification verification);
Verification verificationFromName(const QString &name);

// "2026-12-08T21:04:05.020+01:00": the local time of msSinceEpoch with its UTC offset.
QString localIsoText(qint64 msSinceEpoch);
// The same without the milliseconds when they are none: "2026-12-08T21:04:05+01:00" (and
// "…Z" where the offset is 0).
QString localIsoSeconds(qint64 msSinceEpoch);

}  // namespace ledger
