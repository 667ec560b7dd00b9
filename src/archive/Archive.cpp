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


void Archive::recycle(const ArchiveRecord &record, ArchiveChange *change) const
{
    if (!record.pathBytes.isEmpty()) {
        // Qt names files by text and cannot reach this one: it stays, and is reported.
        struct stat info {};
        if (::lstat(record.pathBytes.constData(), &info) == 0 && !S_ISDIR(info.st_mode))
            change->keptFiles.append(record.path);
        return;
    }
    // A record whose file is already gone leaves the disk alone.
    if (recycleFile(record.path) == RecycleResult::Failed)
        change->keptFiles.append(record.path);
}

ArchiveChange Archive::deleteRecord(int index, const KeepQuestion &keep)
{
    ArchiveChange change;
    if (index < 0 || size_t(index) >= records().size()) return change;
    const ArchiveRecord &leaving = records()[size_t(index)];
    if (keep) change.keptBecause = keep(leaving);
    if (!change.keptBecause.isEmpty()) return change;
    bool namedElsewhere = false;
    for (size_t i = 0; i < records().size() && !namedElsewhere; ++i)
        namedElsewhere = i != size_t(index) && sameFile(records()[i], leaving);
    if (!namedElsewhere) recycle(leaving, &change);
    m_model.removeRecord(index);
    change.removedRecords = 1;
    changed(&change);
    return change;
}

ArchiveChange Archive::sweepExpired(const QDateTime &now, int storeTimeDays, const KeepQuestion &keep)
{
    ArchiveChange change;
    std::vector<bool> due = dueRecords(records(), now, storeTimeDays);
    for (size_t i = 0; i < due.size() && keep; ++i)
        due[i] = due[i] && keep(records()[i]).isEmpty();
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
