#include "ledger/Ledger.h"

#include "core/ThreadName.h"
#include "ledger/Logging.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

namespace ledger {

namespace {

constexpr int kSchemaVersion = 2;
constexpr int kOldestReadable = 1;  // before the holds: read as having none
const QString kNewerVersion = QStringLiteral("written by a newer version of the program");

const char *const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS files (id INTEGER PRIMARY KEY, path TEXT UNIQUE NOT NULL,"
    " start_ms INTEGER NOT NULL, start_local TEXT NOT NULL, frames INTEGER NOT NULL,"
    " sample_rate INTEGER NOT NULL, end_ms INTEGER NOT NULL, size_bytes INTEGER NOT NULL,"
    " sha256 TEXT NOT NULL DEFAULT '', verification TEXT NOT NULL DEFAULT 'unverified',"
    " reason TEXT NOT NULL DEFAULT '')",
    "CREATE TABLE IF NOT EXISTS spans (id INTEGER PRIMARY KEY, kind TEXT NOT NULL,"
    " start_ms INTEGER NOT NULL, end_ms INTEGER NOT NULL, cause TEXT NOT NULL DEFAULT '', file TEXT)",
    "CREATE INDEX IF NOT EXISTS spans_by_start ON spans(start_ms)",
    "CREATE TABLE IF NOT EXISTS holds (id INTEGER PRIMARY KEY AUTOINCREMENT, from_ms INTEGER NOT NULL,"
    " to_ms INTEGER NOT NULL, reason TEXT NOT NULL DEFAULT '', made_ms INTEGER NOT NULL)",
};

QString causeOf(const QSqlError &error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

QVariant nullWhenEmpty(const QString &text) { return text.isEmpty() ? QVariant() : QVariant(text); }

// A null QString binds as SQL NULL; the text columns hold '' instead.
QVariant textOf(const QString &text) { return text.isNull() ? QVariant(QLatin1String("")) : QVariant(text); }

}  // namespace

struct Ledger::Worker {
    Worker(QString ledgerPath, Access ledgerAccess);
    ~Worker();

    struct Task {
        std::function<void()> run;
        bool write = false;
    };

    void post(std::function<void()> task, bool write = false);
    template <typename T>
    T call(const std::function<T()> &task);
    void run();

    // The rest runs on the worker thread.
    bool open();
    QString prepareSchema();
    QString checkReadable();
    void giveUp(const QString &cause, bool contentAtFault);
    void close();
    bool exec(QSqlQuery &query);
    void reportFailure(const QSqlError &error);
    void insertFile(const FileEntry &file);
    void updateVerification(const QString &file, const QString &sha256, Verification result, const QString &reason);
    void insertSpan(const Span &span);
    std::vector<Span> spansWithin(const Interval &range, QSet<QString> *damagedFiles);
    std::vector<Span> spansByStart(const Interval &range, QSet<QString> *damagedFiles);
    std::vector<DayCoverage> coverageOf(const QDate &from, const QDate &to);
    std::optional<FileEntry> fileNamed(const QString &file);
    void moveSpanEnd(SpanKind kind, qint64 startMs, const QString &file, qint64 endMs);
    std::vector<FileEntry> filesWithin(const Interval &range);
    std::vector<FileEntry> filesMarked(Verification verification);
    FileCounts countFiles();
    void setError(const QString &cause);
    qint64 insertHold(const archive::Hold &hold);
    bool deleteHold(qint64 id);
    std::optional<std::vector<archive::Hold>> allHolds();

    const QString path;
    const Access access;
    const QString connection;
    QSqlDatabase db;
    qint64 longestSpanMs = 0;  // lets a query of a day seek by start alone
    bool hasHolds = true;      // false in a ledger of version 1 opened to read
    bool failureSaid = false;
    bool failedSinceFlush = false;

    std::atomic<bool> usable{false};
    std::atomic<bool> damaged{false};
    bool made = false;  // no file was there before the opening
    mutable std::mutex errorMutex;
    QString errorText;

    std::mutex queueMutex;
    std::condition_variable wake;
    std::deque<Task> tasks;
    bool stopping = false;
    std::thread thread;  // last: it starts once the rest exists
};

Ledger::Worker::Worker(QString ledgerPath, Access ledgerAccess)
    : path(std::move(ledgerPath)),
      access(ledgerAccess),
      connection(QStringLiteral("vantrel-ledger-%1").arg(quintptr(this), 0, 16)),
      thread([this] { run(); })
{
}

Ledger::Worker::~Worker()
{
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        stopping = true;
    }
    wake.notify_one();
    thread.join();
}

void Ledger::Worker::post(std::function<void()> task, bool write)
{
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        tasks.push_back({std::move(task), write});
    }
    wake.notify_one();
}

template <typename T>
T Ledger::Worker::call(const std::function<T()> &task)
{
    std::promise<T> answer;
    std::future<T> future = answer.get_future();
    post([&] { answer.set_value(task()); });
    return future.get();
}

// Takes whatever is queued at once. Writes queued one after another run in one
// transaction, so that a burst of them costs one commit; it is committed before anything
// that answers the caller (a query, flush), so that an answer never sees uncommitted work.
void Ledger::Worker::run()
{
    core::nameThisThread("vt-ledger");
    for (;;) {
        std::deque<Task> batch;
        {
            std::unique_lock<std::mutex> lock(queueMutex);
            wake.wait(lock, [this] { return stopping || !tasks.empty(); });
            if (tasks.empty()) break;
            batch.swap(tasks);
        }
        bool inTransaction = false;
        for (const Task &task : batch) {
            if (task.write && !inTransaction && usable) inTransaction = db.transaction();
            if (!task.write && inTransaction) {
                if (!db.commit()) reportFailure(db.lastError());
                inTransaction = false;
            }
            task.run();
        }
        if (inTransaction && !db.commit()) reportFailure(db.lastError());
    }
    close();
}

bool Ledger::Worker::open()
{
    const bool readOnly = access == Access::ReadOnly;
    const QString folder = QFileInfo(path).absolutePath();
    made = !QFileInfo::exists(path);
    if (access != Access::ReadWrite && made) {
        giveUp(QStringLiteral("there is no ledger (nothing was recorded with it yet)"), false);
        return false;
    }
    if (!QDir().mkpath(folder)) {
        giveUp(QStringLiteral("cannot make the folder %1").arg(folder), false);
        return false;
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        giveUp(QStringLiteral("the SQLite driver of Qt SQL is not installed"), false);
        return false;
    }
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(path);
    if (readOnly && !QFileInfo::exists(path + QStringLiteral("-wal"))) {
        // No writer has it open (the last one to close folded its log in): read it as it
        // stands, so that a reader leaves no -wal or -shm file behind in the folder.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
        db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) + QStringLiteral("?immutable=1"));
    } else if (readOnly) {
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    } else {
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    }
    if (!db.open()) {
        giveUp(causeOf(db.lastError()), false);
        return false;
    }
    // The first statement reads the file: a file that is not a database fails here.
    const QString cause = readOnly ? checkReadable() : prepareSchema();
    if (!cause.isEmpty()) {
        giveUp(cause, cause != kNewerVersion);
        return false;
    }
    usable = true;
    return true;
}

// Empty when a ledger of this version can be read, else the cause.
QString Ledger::Worker::checkReadable()
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) return causeOf(q.lastError());
    if (q.value(0).toInt() > kSchemaVersion) return kNewerVersion;
    if (q.value(0).toInt() < kOldestReadable) return QStringLiteral("it holds no ledger");
    hasHolds = q.value(0).toInt() >= 2;
    if (!q.exec(QStringLiteral("SELECT COALESCE(MAX(end_ms - start_ms), 0) FROM spans")) || !q.next())
        return causeOf(q.lastError());
    longestSpanMs = q.value(0).toLongLong();
    return {};
}

// Empty when the database is ready, else the cause.
QString Ledger::Worker::prepareSchema()
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"))
        || !q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        return causeOf(q.lastError());
    if (q.value(0).toInt() > kSchemaVersion) return kNewerVersion;
    // A file torn by a disk fault can open and still be damaged further in.
    if (!q.exec(QStringLiteral("PRAGMA quick_check")) || !q.next()) return causeOf(q.lastError());
    if (q.value(0).toString() != QLatin1String("ok")) return QStringLiteral("damaged: ") + q.value(0).toString();
    for (const char *statement : kSchema)
        if (!q.exec(QString::fromLatin1(statement))) return causeOf(q.lastError());
    if (!q.exec(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion))
        || !q.exec(QStringLiteral("SELECT COALESCE(MAX(end_ms - start_ms), 0) FROM spans")) || !q.next())
        return causeOf(q.lastError());
    longestSpanMs = q.value(0).toLongLong();
    return {};
}

// The ledger stays closed; the caller goes on without it (and may set a damaged file aside
// and rebuild, see LedgerRebuild).
void Ledger::Worker::giveUp(const QString &cause, bool contentAtFault)
{
    const QString said = cause.isEmpty() ? QStringLiteral("unknown cause") : cause;
    setError(said);
    damaged = contentAtFault;
    if (access == Access::ReadWrite)
        qCWarning(lcLedger).noquote() << "Coverage ledger" << path << "cannot be used:" << said;
    close();
}

void Ledger::Worker::close()
{
    usable = false;
    if (!db.isValid()) return;
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(connection);
}

void Ledger::Worker::setError(const QString &cause)
{
    std::lock_guard<std::mutex> lock(errorMutex);
    errorText = cause;
}

// A failure is logged once until a statement succeeds again.
bool Ledger::Worker::exec(QSqlQuery &query)
{
    if (query.exec()) {
        failureSaid = false;
        return true;
    }
    reportFailure(query.lastError());
    return false;
}

void Ledger::Worker::reportFailure(const QSqlError &error)
{
    const QString cause = causeOf(error);
    failedSinceFlush = true;
    setError(cause);
    if (!failureSaid && access != Access::Command)
        qCWarning(lcLedger).noquote() << "Coverage ledger" << path << "failed:" << cause;
    failureSaid = true;
}

void Ledger::Worker::insertFile(const FileEntry &file)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "INSERT INTO files (path, start_ms, start_local, frames, sample_rate, end_ms, size_bytes,"
        " sha256, verification, reason) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
        " ON CONFLICT(path) DO UPDATE SET start_ms = excluded.start_ms,"
        " start_local = excluded.start_local, frames = excluded.frames,"
        " sample_rate = excluded.sample_rate, end_ms = excluded.end_ms,"
        " size_bytes = excluded.size_bytes, sha256 = excluded.sha256,"
        " verification = excluded.verification, reason = excluded.reason"));
    for (const QVariant &v :
         {textOf(file.path), QVariant(file.startMs),
          QVariant(file.startLocal.isEmpty() ? localIsoText(file.startMs) : file.startLocal),
          QVariant(file.frames), QVariant(file.sampleRate), QVariant(file.endMs), QVariant(file.sizeBytes),
          textOf(file.sha256), QVariant(verificationName(file.verification)), textOf(file.reason)})
        q.addBindValue(v);
    exec(q);
}

void Ledger::Worker::updateVerification(const QString &file, const QString &sha256, Verification result,
                                        const QString &reason)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("UPDATE files SET sha256 = ?, verification = ?, reason = ? WHERE path = ?"));
    q.addBindValue(textOf(sha256));
    q.addBindValue(verificationName(result));
    q.addBindValue(textOf(reason));
    q.addBindValue(file);
    exec(q);
}

void Ledger::Worker::insertSpan(const Span &span)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO spans (kind, start_ms, end_ms, cause, file) VALUES (?, ?, ?, ?, ?)"));
    q.addBindValue(spanKindName(span.kind));
    q.addBindValue(span.startMs);
    q.addBindValue(span.endMs);
    q.addBindValue(textOf(span.cause));
    q.addBindValue(nullWhenEmpty(span.file));
    if (exec(q)) longestSpanMs = std::max(longestSpanMs, span.endMs - span.startMs);
}

// The spans overlapping range. No span is longer than longestSpanMs, so one that overlaps
// starts no earlier than that before the range: the index on start bounds the search.
std::vector<Span> Ledger::Worker::spansWithin(const Interval &range, QSet<QString> *damagedFiles)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral(
        "SELECT s.kind, s.start_ms, s.end_ms, s.cause, s.file, f.verification FROM spans s"
        " LEFT JOIN files f ON f.path = s.file WHERE s.start_ms >= ? AND s.start_ms < ? AND s.end_ms > ?"));
    q.addBindValue(range.startMs - longestSpanMs);
    q.addBindValue(range.endMs);
    q.addBindValue(range.startMs);
    std::vector<Span> spans;
    if (!exec(q)) return spans;
    while (q.next()) {
        const std::optional<SpanKind> kind = spanKindFromName(q.value(0).toString());
        if (!kind) continue;
        spans.push_back({*kind, q.value(1).toLongLong(), q.value(2).toLongLong(), q.value(3).toString(),
                         q.value(4).toString()});
        if (verificationFromName(q.value(5).toString()) == Verification::Damaged)
            damagedFiles->insert(spans.back().file);
    }
    return spans;
}

// The same, sorted by start; none when the ledger is unusable.
std::vector<Span> Ledger::Worker::spansByStart(const Interval &range, QSet<QString> *damagedFiles)
{
    if (!usable) return {};
    std::vector<Span> spans = spansWithin(range, damagedFiles);
    std::stable_sort(spans.begin(), spans.end(), [](const Span &a, const Span &b) { return a.startMs < b.startMs; });
    return spans;
}

std::vector<DayCoverage> Ledger::Worker::coverageOf(const QDate &from, const QDate &to)
{
    std::vector<DayCoverage> days;
    if (!usable || !from.isValid() || !to.isValid() || to < from) return days;
    QSet<QString> damagedFiles;
    const std::vector<Span> spans = spansWithin({localDay(from).startMs, localDay(to).endMs}, &damagedFiles);
    for (QDate d = from; d <= to; d = d.addDays(1)) {
        const Interval day = localDay(d);
        std::vector<Span> ofDay;
        std::copy_if(spans.begin(), spans.end(), std::back_inserter(ofDay),
                     [&](const Span &s) { return s.startMs < day.endMs && s.endMs > day.startMs; });
        days.push_back(dayCoverage(d, ofDay, damagedFiles));
    }
    return days;
}

namespace {

const QString kFileColumns = QStringLiteral(
    "SELECT path, start_ms, start_local, frames, sample_rate, end_ms, size_bytes, sha256, verification, reason"
    " FROM files ");

FileEntry fileOfRow(const QSqlQuery &q)
{
    return FileEntry{q.value(0).toString(), q.value(1).toLongLong(), q.value(2).toString(),
                     q.value(3).toLongLong(), q.value(4).toInt(), q.value(5).toLongLong(),
                     q.value(6).toLongLong(), q.value(7).toString(),
                     verificationFromName(q.value(8).toString()), q.value(9).toString()};
}

}  // namespace

std::optional<FileEntry> Ledger::Worker::fileNamed(const QString &file)
{
    if (!usable) return std::nullopt;
    QSqlQuery q(db);
    q.prepare(kFileColumns + QStringLiteral("WHERE path = ?"));
    q.addBindValue(file);
    if (!exec(q) || !q.next()) return std::nullopt;
    return fileOfRow(q);
}

std::vector<FileEntry> Ledger::Worker::filesWithin(const Interval &range)
{
    std::vector<FileEntry> files;
    if (!usable) return files;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(kFileColumns + QStringLiteral("WHERE start_ms < ? AND (end_ms > ? OR end_ms = 0) ORDER BY start_ms, path"));
    q.addBindValue(range.endMs);
    q.addBindValue(range.startMs);
    if (!exec(q)) return files;
    while (q.next()) files.push_back(fileOfRow(q));
    return files;
}

std::vector<FileEntry> Ledger::Worker::filesMarked(Verification verification)
{
    std::vector<FileEntry> files;
    if (!usable) return files;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(kFileColumns + QStringLiteral("WHERE verification = ? AND end_ms > 0 ORDER BY start_ms, path"));
    q.addBindValue(verificationName(verification));
    if (!exec(q)) return files;
    while (q.next()) files.push_back(fileOfRow(q));
    return files;
}

FileCounts Ledger::Worker::countFiles()
{
    FileCounts counts;
    if (!usable) return counts;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT count(*), coalesce(sum(verification = ?), 0) FROM files"));
    q.addBindValue(verificationName(Verification::Damaged));
    if (exec(q) && q.next()) counts = {q.value(0).toLongLong(), q.value(1).toLongLong()};
    return counts;
}

void Ledger::Worker::moveSpanEnd(SpanKind kind, qint64 startMs, const QString &file, qint64 endMs)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("UPDATE spans SET end_ms = ? WHERE kind = ? AND start_ms = ? AND file IS ?"));
    q.addBindValue(endMs);
    q.addBindValue(spanKindName(kind));
    q.addBindValue(startMs);
    q.addBindValue(nullWhenEmpty(file));
    if (exec(q)) longestSpanMs = std::max(longestSpanMs, endMs - startMs);
}

qint64 Ledger::Worker::insertHold(const archive::Hold &hold)
{
    if (!usable) return 0;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO holds (from_ms, to_ms, reason, made_ms) VALUES (?, ?, ?, ?)"));
    q.addBindValue(hold.fromMs);
    q.addBindValue(hold.toMs);
    q.addBindValue(textOf(hold.reason));
    q.addBindValue(hold.madeMs);
    return exec(q) ? q.lastInsertId().toLongLong() : 0;
}

bool Ledger::Worker::deleteHold(qint64 id)
{
    if (!usable) return false;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("DELETE FROM holds WHERE id = ?"));
    q.addBindValue(id);
    return exec(q) && q.numRowsAffected() > 0;
}

std::optional<std::vector<archive::Hold>> Ledger::Worker::allHolds()
{
    if (!usable) return std::nullopt;
    std::vector<archive::Hold> holds;
    if (!hasHolds) return holds;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT id, from_ms, to_ms, reason, made_ms FROM holds ORDER BY id"));
    if (!exec(q)) return std::nullopt;
    while (q.next())
        holds.push_back({q.value(0).toLongLong(), q.value(1).toLongLong(), q.value(2).toLongLong(),
                         q.value(3).toString(), q.value(4).toLongLong()});
    return holds;
}

Ledger::Ledger(QString path, Access access) : m_worker(std::make_unique<Worker>(std::move(path), access))
{
    m_worker->call<bool>([this] { return m_worker->open(); });
}

Ledger::~Ledger() = default;  // the worker runs what is queued, then closes

const QString &Ledger::path() const { return m_worker->path; }

bool Ledger::isUsable() const { return m_worker->usable; }

QString Ledger::error() const
{
    std::lock_guard<std::mutex> lock(m_worker->errorMutex);
    return m_worker->errorText;
}

bool Ledger::isDamaged() const { return m_worker->damaged; }

bool Ledger::isNew() const { return m_worker->made; }

void Ledger::addFile(const FileEntry &file)
{
    if (!isUsable()) return;
    m_worker->post([this, file] { m_worker->insertFile(file); }, true);
}

void Ledger::setVerification(const QString &path, const QString &sha256, Verification result,
                             const QString &reason)
{
    if (!isUsable()) return;
    m_worker->post([=] { m_worker->updateVerification(path, sha256, result, reason); }, true);
}

void Ledger::addSpan(const Span &span)
{
    if (!isUsable()) return;
    m_worker->post([this, span] { m_worker->insertSpan(span); }, true);
}

void Ledger::setSpanEnd(SpanKind kind, qint64 startMs, const QString &file, qint64 endMs)
{
    if (!isUsable()) return;
    m_worker->post([=] { m_worker->moveSpanEnd(kind, startMs, file, endMs); }, true);
}

bool Ledger::flush()
{
    return m_worker->call<bool>([this] {
        const bool ok = m_worker->usable && !m_worker->failedSinceFlush;
        m_worker->failedSinceFlush = false;
        return ok;
    });
}

std::vector<DayCoverage> Ledger::coverage(const QDate &from, const QDate &to)
{
    return m_worker->call<std::vector<DayCoverage>>([&] { return m_worker->coverageOf(from, to); });
}

void Ledger::requestCoverage(const QDate &from, const QDate &to, QObject *context,
                             std::function<void(std::vector<DayCoverage>)> done)
{
    m_worker->post([this, from, to, context, done = std::move(done)] {
        std::vector<DayCoverage> days = m_worker->coverageOf(from, to);
        QMetaObject::invokeMethod(context, [done, days = std::move(days)] { done(days); }, Qt::QueuedConnection);
    });
}

std::optional<FileEntry> Ledger::file(const QString &path)
{
    return m_worker->call<std::optional<FileEntry>>([&] { return m_worker->fileNamed(path); });
}

}  // namespace ledger

namespace ledger {

std::vector<FileEntry> Ledger::files(qint64 fromMs, qint64 toMs)
{
    return m_worker->call<std::vector<FileEntry>>([&] { return m_worker->filesWithin({fromMs, toMs}); });
}

std::vector<FileEntry> Ledger::files(Verification verification)
{
    return m_worker->call<std::vector<FileEntry>>([&] { return m_worker->filesMarked(verification); });
}

std::vector<Span> Ledger::spans(qint64 fromMs, qint64 toMs, QSet<QString> *damagedFiles)
{
    QSet<QString> damaged;
    std::vector<Span> found = m_worker->call<std::vector<Span>>([&] { return m_worker->spansByStart({fromMs, toMs}, &damaged); });
    if (damagedFiles)
        *damagedFiles = std::move(damaged);
    return found;
}

FileCounts Ledger::fileCounts()
{
    return m_worker->call<FileCounts>([&] { return m_worker->countFiles(); });
}

void Ledger::requestSpans(qint64 fromMs, qint64 toMs, QObject *context,
                          std::function<void(std::vector<Span>, QSet<QString>)> done)
{
    m_worker->post([this, fromMs, toMs, context, done = std::move(done)] {
        QSet<QString> damagedFiles;
        std::vector<Span> spans = m_worker->spansByStart({fromMs, toMs}, &damagedFiles);
        QMetaObject::invokeMethod(
            context, [done, spans = std::move(spans), damagedFiles] { done(spans, damagedFiles); },
            Qt::QueuedConnection);
    });
}

qint64 Ledger::addHold(qint64 fromMs, qint64 toMs, const QString &reason, qint64 madeMs)
{
    return m_worker->call<qint64>([&] { return m_worker->insertHold({0, fromMs, toMs, reason, madeMs}); });
}

bool Ledger::releaseHold(qint64 id)
{
    return m_worker->call<bool>([&] { return m_worker->deleteHold(id); });
}

std::optional<std::vector<archive::Hold>> Ledger::holds()
{
    return m_worker->call<std::optional<std::vector<archive::Hold>>>([this] { return m_worker->allHolds(); });
}

}  // namespace ledger
