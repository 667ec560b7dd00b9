#pragma once
// Turns what the recorder says happened into the coverage ledger's files and spans: the lines
// it writes to the event log, the files it finished and the recordings it was asked for.
//
// Lines, by their event word:
//   started, file-changed,        a file begins: its recorded span runs from the moment in
//   encoder-restarted,            "begins <time>" (the line's own time without it)
//   capture-recovered
//   stopped, encoder-gave-up,     what runs ends at the line's time
//   failed
//   capture-lost                  a lost span begins, its cause the line's details
//   capture-recovered             … and ends
//   dropped                       "<s> s more dropped: <cause>": a dropped span that long, up to the line
//   silence                       "below <n> dBFS since <HH:mm:ss>": a silent span begins then
//   silence-end                   … and ends
//
// A span that still runs is written at once and moved on by moveOn(), so that a program that
// is killed leaves its spans up to the last move. A finished file ends its recorded span at
// its exact end (start plus frames at its rate).
//
// Replay (rebuilding a ledger from the event log): the recorded spans come from the archive's
// records instead, and a recording's asked span from its started … stopped lines.

#include "ledger/Ledger.h"
#include "recording/EventLog.h"
#include "recording/RecordingConfig.h"

#include <QDateTime>
#include <QSet>
#include <vector>

namespace ledger {

class CoverageFeed {
public:
    enum class Mode { Live, Replay };
    explicit CoverageFeed(Ledger &ledger, Mode mode = Mode::Live);

    // A recording was asked for at `at`: for limitMs, or until askEnded() when 0. An ask
    // that still runs ends at `at`.
    void asked(const QDateTime &at, qint64 limitMs);
    void askEnded(const QDateTime &at);
    void noteLine(const recording::EventLine &line);
    // Returns the file's entry as written.
    FileEntry fileFinished(const recording::FinishedRecording &finished);
    // Spans that still run reach `now` in the ledger (at most every kMoveEveryMs).
    void moveOn(const QDateTime &now);
    // Everything that runs ends at `at`: the program closes.
    void endAll(const QDateTime &at);
    // Files this feed wrote, by path.
    bool wrote(const QString &path) const { return m_files.contains(path); }

    static constexpr qint64 kMoveEveryMs = 10'000;

private:
    struct Running {
        SpanKind kind;
        qint64 startMs;
        QString file;
        qint64 endMs;
    };
    void begin(SpanKind kind, qint64 startMs, const QString &file = {}, const QString &cause = {});
    void end(SpanKind kind, qint64 endMs, const QString &file = {});
    void endAllAt(qint64 endMs);
    void fileBegins(const recording::EventLine &line);
    void addDropped(const recording::EventLine &line);
    void silenceBegins(const recording::EventLine &line);

    Ledger &m_ledger;
    Mode m_mode;
    std::vector<Running> m_running;
    QSet<QString> m_files;
    qint64 m_lastMoveMs = 0;
};

// The event log's line (formatEventLine's layout) as its parts; nullopt for a line that is not one.
std::optional<recording::EventLine> parseEventLine(const QString &text);

// Replays the archive's records and the event log's lines (oldest file first) into a ledger
// that was just made: what a damaged or missing ledger can be rebuilt from. Files `skip`
// names (written live meanwhile) are left as they are.
struct RebuildSource {
    std::vector<recording::FinishedRecording> records;
    QStringList eventLogs;  // oldest first
};
void rebuild(Ledger &ledger, const RebuildSource &source, const std::function<bool(const QString &)> &skip);

}  // namespace ledger
