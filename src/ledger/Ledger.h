#pragma once
// The coverage ledger: a SQLite database (Log/ledger.sqlite in the program folder) of the
// files handed to the encoders and of the spans of time with what happened in them, so that
// a station can ask afterwards whether a day was covered.
//
// Tables (the schema's version is PRAGMA user_version = 2; a file of version 1 gains the
// holds table when it is next opened to write, and is read as it stands):
//
//   files   id INTEGER PRIMARY KEY, path TEXT UNIQUE NOT NULL,
//           start_ms INTEGER, start_local TEXT (local ISO time with offset),
//           frames INTEGER (given to the encoder), sample_rate INTEGER,
//           end_ms INTEGER (0 while open), size_bytes INTEGER,
//           sha256 TEXT (hex, '' until verified),
//           verification TEXT ('unverified', 'ok', 'damaged'), reason TEXT (why damaged)
//   spans   id INTEGER PRIMARY KEY, kind TEXT ('recorded', 'lost', 'silent', 'dropped',
//           'asked'), start_ms INTEGER, end_ms INTEGER, cause TEXT, file TEXT (a files.path,
//           NULL when none); index spans_by_start on spans(start_ms)
//   holds   id INTEGER PRIMARY KEY AUTOINCREMENT (never given twice), from_ms INTEGER,
//           to_ms INTEGER, reason TEXT, made_ms INTEGER: spans of time kept from every
//           removal until released
//
// Times are milliseconds since the epoch; a span is [start_ms, end_ms). Words rather than
// numbers, so that the file reads plainly in the sqlite3 shell.
//
// Threading. Every database call runs on the ledger's own worker thread ("vt-ledger"),
// never on the caller's: writes are queued and return at once; queries (coverage, file)
// are run there and block the caller until the answer is back; requestCoverage hands its
// answer to a QObject's thread instead. Queued writes run in order, those queued together in
// one transaction. flush() waits until everything queued so far is done; the destructor
// flushes and closes. The database runs in write-ahead-log mode with synchronous=NORMAL: a
// crash of the program loses nothing written, a power cut at most the last transactions.
//
// Failure. A ledger that cannot be opened (no folder, unreadable, not a SQLite file, no
// SQLite driver) says so once: error() gives the cause and the log a warning with the path.
// isDamaged() tells a file whose content is at fault (not a database, or one that fails its
// integrity check) from the rest: that one can be set aside and the ledger rebuilt.
// Every call then does nothing (queries answer empty) and recording goes on without it. A
// write that fails later is logged once until a write succeeds again, and flush() says so.
//
// Second writers. The command-line verbs that put spans on hold open the ledger beside a
// running instance (Access::Command); SQLite lets one writer at a time in, and each waits
// up to kBusyTimeoutMs for the other's transaction to end.

#include "archive/Keep.h"
#include "ledger/Coverage.h"
#include "ledger/LedgerEntry.h"

#include <QDate>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace ledger {

struct FileCounts {
    qint64 total = 0;
    qint64 damaged = 0;
};

class Ledger {
public:
    // ReadOnly: for the command-line readers beside a running instance; they never create,
    // change or convert the file. Command: for the command-line writers (--hold, --release):
    // they change a ledger that exists (bringing an older one up to date) but never make
    // one, and log nothing, since they say their failures themselves.
    enum class Access { ReadWrite, ReadOnly, Command };
    // How long a writer waits for another process's transaction before it gives up.
    static constexpr int kBusyTimeoutMs = 5000;

    // Opens (creating the file and its folder if needed) on the worker and waits for it.
    explicit Ledger(QString path, Access access = Access::ReadWrite);
    ~Ledger();
    Ledger(const Ledger &) = delete;
    Ledger &operator=(const Ledger &) = delete;

    const QString &path() const;
    // False when the ledger could not be opened; error() then says why.
    bool isUsable() const;
    // Why the ledger cannot be used, or the cause of the last failed write; empty when neither.
    QString error() const;
    // The opening failed on the file's content (see above).
    bool isDamaged() const;
    // There was no ledger file before this opening made it.
    bool isNew() const;

    // Records a file, or replaces what is known of it (the same path): add it when its
    // encoder starts, again with its end, frames and size when it is closed.
    void addFile(const FileEntry &file);
    void setVerification(const QString &path, const QString &sha256, Verification result,
                         const QString &reason = {});
    void addSpan(const Span &span);
    // The span of `kind` that begins at startMs (of `file`, empty for none) now ends at endMs:
    // a span still running is written at its start and moved on as it goes.
    void setSpanEnd(SpanKind kind, qint64 startMs, const QString &file, qint64 endMs);

    // Waits until every call made before it is done. True when the ledger is usable and
    // every write since the last flush succeeded.
    [[nodiscard]] bool flush();

    // The coverage of each local day from `from` to `to` (both included); empty when the
    // ledger is unusable.
    std::vector<DayCoverage> coverage(const QDate &from, const QDate &to);
    // The same without blocking: `done` runs on context's thread. context must outlive the
    // ledger (as the object that owns the ledger does), since the answer is posted to it.
    void requestCoverage(const QDate &from, const QDate &to, QObject *context,
                         std::function<void(std::vector<DayCoverage>)> done);
    std::optional<FileEntry> file(const QString &path);
    // The files that overlap [fromMs, toMs) (a file still open reaches on), by start.
    std::vector<FileEntry> files(qint64 fromMs, qint64 toMs);
    // The closed files whose verification is `verification`, by start.
    std::vector<FileEntry> files(Verification verification);
    // The spans that overlap [fromMs, toMs), by start; with the paths of the damaged files
    // among theirs in *damagedFiles when given.
    std::vector<Span> spans(qint64 fromMs, qint64 toMs, QSet<QString> *damagedFiles = nullptr);
    // How many files the ledger holds, and how many of them were found damaged.
    FileCounts fileCounts();
    // The same without blocking, with the paths of the damaged files among the spans': `done`
    // runs on context's thread, as requestCoverage's does (empty answers when unusable).
    void requestSpans(qint64 fromMs, qint64 toMs, QObject *context,
                      std::function<void(std::vector<Span> spans, QSet<QString> damagedFiles)> done);

    // Holds (see archive/Keep.h). These wait for the answer.
    // Puts [fromMs, toMs) on hold; the new hold's id, or 0 when it could not be written
    // (error() says why).
    qint64 addHold(qint64 fromMs, qint64 toMs, const QString &reason, qint64 madeMs);
    // Releases hold `id`: true when there was one and it is gone.
    bool releaseHold(qint64 id);
    // Every hold, by id; nullopt when they cannot be read (an unusable ledger, a failed query).
    std::optional<std::vector<archive::Hold>> holds();

private:
    struct Worker;
    std::unique_ptr<Worker> m_worker;
};

}  // namespace ledger
