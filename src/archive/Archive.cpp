#include "archive/Archive.h"

#include "archive/ArchiveIndex.h"
#include "archive/Logging.h"
#include "archive/Retention.h"
#include "archive/Trash.h"
#include "core/ThreadName.h"
#include "core/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QSet>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <sys/stat.h>

namespace archive {

namespace {

bool sameFile(const ArchiveRecord &a, const ArchiveRecord &b)
{
    return a.path == b.path && a.pathBytes == b.pathBytes;
}

struct LoadResult {
    bool ok = true;
    ArchiveList records;
    QString error;
};

// Reads the index; a missing file or folder is an empty archive.
LoadResult readIndex(const QString &indexPath, const QLocale &locale)
{
    LoadResult result;
    if (!QFileInfo(indexPath).exists()) return result;
    QFile file(indexPath);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray text = file.readAll();
        if (file.error() == QFileDevice::NoError) {
            result.records = parseArchiveIndex(text, locale);
            return result;
        }
    }
    result.ok = false;
    result.error = QStringLiteral("Cannot read %1: %2")
                       .arg(QDir::toNativeSeparators(indexPath), file.errorString());
    return result;
}

// Appends one path to the trash list (worker thread: the list is only touched there).
void listTrashed(const QString &listPath, const QString &trashedPath)
{
    QDir().mkpath(QFileInfo(listPath).absolutePath());
    QFile list(listPath);
    if (!list.open(QIODevice::Append) || list.write(trashedPath.toUtf8() + '\n') < 0)
        qCWarning(lcArchive).noquote() << QStringLiteral("Cannot note %1 in %2: %3")
                                              .arg(trashedPath, listPath, list.errorString());
}

// One file removed for good; freedBytes is its size, as the file system gives it back.
SpaceRemoval removeForGood(const QString &path, bool fromTrash, std::int64_t bytes)
{
    SpaceRemoval removal{path, fromTrash, bytes, {}};
    QFile file(path);
    if (!file.remove()) {
        removal.error = file.errorString();
        removal.freedBytes = 0;
    }
    return removal;
}

// Runs on the worker: the trash list first, then the records' files, measuring as it goes.
SpaceOutcome makeRoom(const SpaceRequest &request, const QStringList &files, const QString &listPath)
{
    SpaceOutcome outcome;
    const auto enough = [&request] {
        const std::int64_t free = request.freeBytes();
        return free >= 0 && free >= request.wantedFreeBytes;
    };
    outcome.enough = enough();
    struct stat folder {};
    const bool folderKnown = ::stat(QFile::encodeName(request.folder).constData(), &folder) == 0;
    const QStringList listed = readTrashList(listPath);
    QStringList stays;
    for (const QString &path : listed) {
        struct stat info {};
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0) continue;  // gone already
        if (outcome.enough || !folderKnown || info.st_dev != folder.st_dev || !S_ISREG(info.st_mode)) {
            stays.append(path);
            continue;
        }
        outcome.removals.push_back(removeForGood(path, true, std::int64_t(info.st_blocks) * 512));
        if (outcome.removals.back().error.isEmpty())
            QFile::remove(trashInfoPath(path));
        else
            stays.append(path);
        outcome.enough = enough();
    }
    QString error;
    if (stays != listed && !writeTrashList(listPath, stays, &error))
        qCWarning(lcArchive).noquote() << error;
    for (const QString &path : files) {
        if (outcome.enough) break;
        struct stat info {};
        // A file on another disk (an earlier save folder) would free nothing here.
        if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode)
            || !folderKnown || info.st_dev != folder.st_dev)
            continue;
        outcome.removals.push_back(removeForGood(path, false, std::int64_t(info.st_blocks) * 512));
        outcome.enough = enough();
    }
    return outcome;
}

struct WriteResult {
    quint64 generation = 0;
    bool ok = false;
    QString error;
};

}  // namespace

// The worker thread and what it hands back. Tasks run one at a time, in order; a result
// waits in `results` until the owner's thread collects it (from a queued call, or in flush).
struct Archive::Worker {
    std::mutex mutex;
    std::condition_variable wake;      // a task, or stopping
    std::condition_variable finished;  // a result
    std::deque<std::function<void()>> tasks;
    bool stopping = false;
    std::optional<WriteResult> written;
    std::optional<LoadResult> loaded;
    std::thread thread;

    void post(std::function<void()> task)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            tasks.push_back(std::move(task));
        }
        wake.notify_one();
        if (!thread.joinable()) thread = std::thread([this] {
            core::nameThisThread("vt-archive");
            run();
        });
    }

    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stopping || !tasks.empty(); });
            if (tasks.empty()) return;  // stopping, and nothing left to do
            std::function<void()> task = std::move(tasks.front());
            tasks.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }

    void stop()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_one();
        if (thread.joinable()) thread.join();
    }
};

Archive::Archive(QString indexPath, const QLocale &locale, QObject *parent)
    : QObject(parent),
      m_indexPath(std::move(indexPath)),
      m_locale(locale),
      m_model(locale),
      m_worker(std::make_unique<Worker>())
{
}

Archive::~Archive()
{
    QString error;
    if (m_writePending || m_writing || m_loading) {
        if (!flush(&error)) qCWarning(lcArchive).noquote() << "Archive index left unwritten at close:" << error;
    }
    m_worker->stop();
}

bool Archive::load(QString *error)
{
    LoadResult result = readIndex(m_indexPath, m_locale);
    m_loadStarted = true;
    if (!result.ok) {
        m_unreadableIndex = result.error;
        if (error) *error = result.error;
        return false;
    }
    m_model.appendRecords(std::move(result.records));
    return true;
}

void Archive::startLoading()
{
    if (m_loadStarted) return;
    m_loadStarted = true;
    m_loading = true;
    m_worker->post([this, path = m_indexPath, locale = m_locale] {
        LoadResult result = readIndex(path, locale);
        {
            const std::lock_guard<std::mutex> lock(m_worker->mutex);
            m_worker->loaded = std::move(result);
        }
        m_worker->finished.notify_all();
        QMetaObject::invokeMethod(this, [this] { collectResults(); }, Qt::QueuedConnection);
    });
}

bool Archive::save(QString *error)
{
    m_writePending = true;
    return flush(error);
}

void Archive::reportUnwritable()
{
    // Reported as a failed write would be, from the event loop, so that every caller
    // learns of failures the same way.
    m_lastWriteFailed = true;
    m_lastWriteError = m_unreadableIndex;
    QMetaObject::invokeMethod(this, [this, error = m_unreadableIndex] { Q_EMIT writeFailed(error); },
                              Qt::QueuedConnection);
}

void Archive::changed(ArchiveChange *change)
{
    change->generation = ++m_generation;
    m_writePending = true;
    if (!m_unreadableIndex.isEmpty()) {
        reportUnwritable();
        return;
    }
    if (!m_writing && !m_loading) startWrite();
}

void Archive::startWrite()
{
    // The copy shares each record's text with the model, so it costs a pointer copy per
    // field; the worker then formats and writes it alone.
    auto snapshot = std::make_shared<const ArchiveList>(records());
    const quint64 generation = m_generation;
    m_writePending = false;
    m_writing = true;
    m_worker->post([this, snapshot, generation, path = m_indexPath, locale = m_locale] {
        WriteResult result{generation, false, {}};
        // An atomic whole-file write: either the new index is complete on disk or the old
        // one is still there untouched, so no half-written file can be left behind.
        result.ok = core::writeFileAtomically(path, writeArchiveIndex(*snapshot, locale), &result.error,
                                              /*createFolders=*/true);
        {
            const std::lock_guard<std::mutex> lock(m_worker->mutex);
            m_worker->written = std::move(result);
        }
        m_worker->finished.notify_all();
        QMetaObject::invokeMethod(this, [this] { collectResults(); }, Qt::QueuedConnection);
    });
}

void Archive::collectResults()
{
    std::optional<LoadResult> load;
    std::optional<WriteResult> write;
    {
        const std::lock_guard<std::mutex> lock(m_worker->mutex);
        load.swap(m_worker->loaded);
        write.swap(m_worker->written);
    }
    if (load) {
        m_loading = false;
        if (load->ok) {
            m_model.prependRecords(std::move(load->records));
        } else {
            m_unreadableIndex = load->error;
        }
        Q_EMIT loaded(load->ok, load->error);
        if (m_writePending && !m_unreadableIndex.isEmpty()) reportUnwritable();
    }
    if (write) {
        m_writing = false;
        if (write->ok) {
            m_writtenGeneration = write->generation;
            m_lastWriteFailed = false;
            m_lastWriteError.clear();
            std::vector<std::function<void()>> due;
            for (auto it = m_afterWrite.begin(); it != m_afterWrite.end();) {
                if (it->first <= m_writtenGeneration) {
                    due.push_back(std::move(it->second));
                    it = m_afterWrite.erase(it);
                } else {
                    ++it;
                }
            }
            for (const auto &action : due) action();
            Q_EMIT written(write->generation);
        } else {
            m_lastWriteFailed = true;
            m_lastWriteError = write->error;
            Q_EMIT writeFailed(write->error);
        }
    }
    if (m_writePending && !m_writing && !m_loading && m_unreadableIndex.isEmpty()) startWrite();
}

bool Archive::flush(QString *error, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (m_lastWriteFailed && m_unreadableIndex.isEmpty()) m_writePending = true;  // try once more
    collectResults();
    while (m_writing || m_loading) {
        {
            std::unique_lock<std::mutex> lock(m_worker->mutex);
            const bool ready = m_worker->finished.wait_until(lock, deadline, [this] {
                return m_worker->written.has_value() || m_worker->loaded.has_value();
            });
            if (!ready) {
                if (error) *error = QStringLiteral("Writing %1 takes too long")
                                        .arg(QDir::toNativeSeparators(m_indexPath));
                return false;
            }
        }
        collectResults();
    }
    if (!m_unreadableIndex.isEmpty()) {
        if (error) *error = m_unreadableIndex;
        return false;
    }
    if (m_lastWriteFailed && error) *error = m_lastWriteError;
    return !m_lastWriteFailed;
}

void Archive::whenWritten(quint64 generation, std::function<void()> action)
{
    if (!action) return;
    if (generation <= m_writtenGeneration)
        action();
    else
        m_afterWrite.emplace_back(generation, std::move(action));
}

void Archive::appendRecord(double startTime, qint32 lengthSeconds, const QString &path,
                           ArchiveChange *change)
{
    m_model.appendRecord(makeArchiveRecord(startTime, lengthSeconds, path));
    changed(change);
}

ArchiveChange Archive::addRecord(const QDateTime &start, qint32 lengthSeconds, const QString &path)
{
    ArchiveChange change;
    appendRecord(core::toDayCount(start), lengthSeconds, path, &change);
    return change;
}


void Archive::recycle(const ArchiveRecord &record, ArchiveChange *change)
{
    if (!record.pathBytes.isEmpty()) {
        // Qt names files by text and cannot reach this one: it stays, and is reported.
        struct stat info {};
        if (::lstat(record.pathBytes.constData(), &info) == 0 && !S_ISDIR(info.st_mode))
            change->keptFiles.append(record.path);
        return;
    }
    if (m_recycleLater) {
        m_recycleLater->append(record.path);
        return;
    }
    // A record whose file is already gone leaves the disk alone.
    QString trashed;
    const RecycleResult result = recycleFile(record.path, &trashed);
    if (result == RecycleResult::Failed)
        change->keptFiles.append(record.path);
    else if (result == RecycleResult::Trashed)
        m_worker->post([list = trashListPath(m_indexPath), trashed] { listTrashed(list, trashed); });
}

ArchiveChange Archive::deleteRecord(int index)
{
    ArchiveChange change;
    if (index < 0 || size_t(index) >= records().size()) return change;
    const ArchiveRecord &leaving = records()[size_t(index)];
    bool namedElsewhere = false;
    for (size_t i = 0; i < records().size() && !namedElsewhere; ++i)
        namedElsewhere = i != size_t(index) && sameFile(records()[i], leaving);
    if (!namedElsewhere) recycle(leaving, &change);
    m_model.removeRecord(index);
    change.removedRecords = 1;
    changed(&change);
    return change;
}

ArchiveChange Archive::sweepExpired(const QDateTime &now, int storeTimeDays, const KeepRules &keep)
{
    ArchiveChange change;
    std::vector<bool> due = dueRecords(records(), now, storeTimeDays);
    for (size_t i = 0; i < due.size(); ++i)
        if (due[i] && !keepReason(records()[i], now, keep).isEmpty()) due[i] = false;
    // The files of due records that a record staying behind still names.
    QSet<QString> dueNames;
    for (size_t i = 0; i < due.size(); ++i)
        if (due[i]) dueNames.insert(records()[i].path);
    if (dueNames.isEmpty()) return change;
    QSet<QByteArray> stillNamed;
    for (size_t i = 0; i < due.size(); ++i) {
        if (!due[i] && dueNames.contains(records()[i].path))
            stillNamed.insert(filenameBytes(records()[i]));
    }
    for (size_t i = 0; i < due.size(); ++i) {
        if (!due[i]) continue;
        if (!stillNamed.contains(filenameBytes(records()[i]))) recycle(records()[i], &change);
        ++change.removedRecords;
    }
    if (change.removedRecords == 0) return change;
    m_model.removeRecords(due);
    changed(&change);
    return change;
}

ArchiveChange Archive::deleteRecord(int index, RecycledFiles recycled)
{
    m_recycleLater.emplace();
    const ArchiveChange change = deleteRecord(index);
    recycleOnWorker(*std::exchange(m_recycleLater, std::nullopt), std::move(recycled));
    return change;
}

ArchiveChange Archive::sweepExpired(const QDateTime &now, int storeTimeDays, const KeepRules &keep,
                                    RecycledFiles recycled)
{
    m_recycleLater.emplace();
    const ArchiveChange change = sweepExpired(now, storeTimeDays, keep);
    recycleOnWorker(*std::exchange(m_recycleLater, std::nullopt), std::move(recycled));
    return change;
}

void Archive::recycleOnWorker(const QStringList &files, RecycledFiles recycled)
{
    if (files.isEmpty()) return;
    m_worker->post([this, files, recycled = std::move(recycled), list = trashListPath(m_indexPath)] {
        QStringList kept;
        for (const QString &path : files) {
            QString trashed;
            const RecycleResult result = recycleFile(path, &trashed);
            if (result == RecycleResult::Trashed)
                listTrashed(list, trashed);
            else if (result == RecycleResult::Failed)
                kept.append(path);
        }
        QMetaObject::invokeMethod(
            this, [kept, recycled] { if (recycled) recycled(kept); }, Qt::QueuedConnection);
    });
}

void Archive::freeSpace(SpaceRequest request, QStringList files,
                        std::function<void(const SpaceOutcome &, const ArchiveChange &)> done)
{
    m_worker->post([this, request = std::move(request), files = std::move(files), done = std::move(done),
                    list = trashListPath(m_indexPath)] {
        SpaceOutcome outcome = makeRoom(request, files, list);
        QMetaObject::invokeMethod(
            this,
            [this, outcome = std::move(outcome), done] {
                const ArchiveChange change = dropRemovedRecords(outcome);
                if (done) done(outcome, change);
            },
            Qt::QueuedConnection);
    });
}

ArchiveChange Archive::dropRemovedRecords(const SpaceOutcome &outcome)
{
    ArchiveChange change;
    QSet<QString> removed;
    for (const SpaceRemoval &r : outcome.removals)
        if (!r.fromTrash && r.error.isEmpty()) removed.insert(r.path);
    std::vector<bool> drop(records().size(), false);
    for (size_t i = 0; i < drop.size(); ++i)
        if (records()[i].pathBytes.isEmpty() && removed.contains(records()[i].path)) {
            drop[i] = true;
            ++change.removedRecords;
        }
    if (change.removedRecords == 0) return change;
    m_model.removeRecords(drop);
    changed(&change);
    return change;
}

ArchiveChange Archive::adoptRecording(const JournalEntry &entry, const DurationProbe &probeSeconds)
{
    ArchiveChange change;
    const QFileInfo file(entry.file);
    bool named = false;
    for (const ArchiveRecord &r : records())
        named = named || (r.pathBytes.isEmpty() && r.path == entry.file);
    if (named || !file.isFile() || file.size() == 0)
        return change;

    double seconds = probeSeconds ? probeSeconds(entry.file) : 0.0;
    if (!(seconds > 0.0)) {
        // The encoder writes as the audio comes, so its last write is about when it stopped.
        const double lastChange = core::toDayCount(file.lastModified());
        seconds = std::max(0.0, (lastChange - entry.startTime) * core::kSecondsPerDay);
    }
    // Whole seconds, truncated, as a captured length is.
    const qint32 length = qint32(std::min(std::floor(seconds), double(std::numeric_limits<qint32>::max())));
    appendRecord(entry.startTime, length, entry.file, &change);
    change.adoptedFile = entry.file;
    return change;
}

}  // namespace archive
