// The recorder and the disk of the save folder: the warning of the recording time left there,
// the free space kept by removing the oldest recordings, and what must be kept whatever else
// says (the legal minimum of days, spans on hold).
//
// Runs on the recorder's thread. The look at the disk is a statfs every kDiskCheckMs, from
// the watch; the removal of files runs on the archive's worker and reports back here, never
// in the capture path. While a removal runs no other is asked for.

#include "app/Logging.h"
#include "app/Recorder.h"
#include "archive/Archive.h"
#include "archive/SpaceKeeper.h"
#include "core/ProgramFiles.h"
#include "recording/Estimate.h"
#include "recording/OutputFileName.h"
#include "recording/RecordingSession.h"

#include <QFileInfo>

#include <utility>

namespace app {

namespace {

constexpr qint64 kDiskCheckMs = 3000;
constexpr std::int64_t kMiB = 1024 * 1024;
const QString kSpaceKeptNotice = QStringLiteral("space-kept");
QString removeNotice(const QString &path) { return QStringLiteral("remove:") + path; }

QString megabytes(std::int64_t bytes)
{
    return QStringLiteral("%1 MB").arg(double(bytes) / double(kMiB), 0, 'f', 1);
}

}  // namespace

archive::KeepRules Recorder::keepRules() const
{
    archive::KeepRules rules;
    rules.minStoreDays = m_settings.minStoreDays;
    rules.holds = m_holds;  // as refreshHolds() last read them
    return rules;
}

void Recorder::noteRefusedSettings()
{
    for (const QString &refused : m_settings.refusedKeys)
        qCWarning(lcApp).noquote() << QStringLiteral("%1: %2").arg(core::files::settings(), refused);
}

// The folder of the running file, else the save folder the next recording will use.
QString Recorder::diskFolder() const
{
    const QString file = m_session->isRecording() ? m_session->currentFile() : QString();
    if (!file.isEmpty())
        return QFileInfo(file).absolutePath();
    return recording::expandHomeFolder(QString(m_settings.saveFolder).replace(QLatin1Char('\\'), QLatin1Char('/')));
}

// The running file's rate as the estimate takes it (kbit/s / 8 × 1024); while idle, or
// before the file tells, the preset's. In its first seconds a file's rate is no guide (its
// header and the encoder's buffering over a second of audio read as ten times the rate), and
// a warning read from it would skip straight to "full".
double Recorder::diskByteRate() const
{
    constexpr qint64 kSettledSeconds = 5;
    const bool settled = m_session->isRecording() && m_session->elapsedSeconds() >= kSettledSeconds;
    const int kbps = settled ? m_session->estimateBitrate() : 0;
    if (kbps > 0)
        return double(kbps) / 8.0 * 1024.0;
    return recording::presetBytesPerSecond(m_settings.codecCmd, m_settings.codecExt, m_settings.sampleRate);
}

void Recorder::watchDisk(const QDateTime &now)
{
    if (m_diskChecked.isValid() && m_diskChecked.elapsed() < kDiskCheckMs)
        return;
    m_diskChecked.start();
    const QString folder = diskFolder();
    const std::int64_t freeBytes = recording::freeSpaceBytes(folder);
    const double rate = diskByteRate();
    const auto shown = [this] {
        return std::make_pair(m_diskWatch.level(), m_diskWatch.warns() ? m_diskWatch.timeLeft() : QString());
    };
    const auto before = shown();
    if (m_diskWatch.note(freeBytes, rate)) {
        const bool full = m_diskWatch.level() == recording::DiskLevel::Full;
        noteLine({now, full ? QStringLiteral("disk-full") : QStringLiteral("disk-low"), folder,
                  QStringLiteral("%1 left at %2 kB/s, %3 free")
                      .arg(m_diskWatch.timeLeft())
                      .arg(rate / 1000.0, 0, 'f', 1)
                      .arg(megabytes(freeBytes))});
        const QString words = full ? m_strings.diskFull : m_strings.diskLeft.arg(m_diskWatch.timeLeft());
        m_notifier.notify(QStringLiteral("Vantrel: ") + words, m_strings.diskLow.arg(m_diskWatch.timeLeft(), folder));
    }
    if (shown() != before)
        emit statusChanged();
    keepFreeSpace(freeBytes, now);
}

// Below KeepFreeMB the oldest recordings that may go are removed for good, on the worker.
void Recorder::keepFreeSpace(std::int64_t freeBytes, const QDateTime &now)
{
    if (m_settings.keepFreeMB <= 0 || m_makingRoom || freeBytes < 0 || m_archive->isLoading())
        return;
    const std::int64_t wanted = std::int64_t(m_settings.keepFreeMB) * kMiB;
    if (freeBytes >= wanted) {
        healed(kSpaceKeptNotice);
        return;
    }
    refreshHolds();  // a hold made a moment ago counts
    const QString recordingFile = m_session->isRecording() ? m_session->currentFile() : QString();
    const archive::SpaceCandidates candidates =
        archive::spaceCandidates(m_archive->records(), now, keepRules(), recordingFile);
    archive::SpaceRequest request;
    request.folder = diskFolder();
    request.wantedFreeBytes = wanted;
    request.freeBytes = [folder = request.folder] { return recording::freeSpaceBytes(folder); };
    m_makingRoom = true;
    m_archive->freeSpace(std::move(request), candidates.files,
                         [this, kept = candidates.kept, reason = candidates.keptReason](
                             const archive::SpaceOutcome &outcome, const archive::ArchiveChange &) {
                             spaceFreed(outcome, kept, reason);
                         });
}

void Recorder::spaceFreed(const archive::SpaceOutcome &outcome, int kept, const QString &keptReason)
{
    m_makingRoom = false;
    const QDateTime now = QDateTime::currentDateTime();
    const QString why = QStringLiteral("free space below %1 MB").arg(m_settings.keepFreeMB);
    for (const archive::SpaceRemoval &removal : outcome.removals) {
        if (!removal.error.isEmpty()) {
            raise(removeNotice(removal.path), QString(), m_strings.removeFailed.arg(removal.path, removal.error));
            continue;
        }
        healed(removeNotice(removal.path));
        noteLine({now, QStringLiteral("removed"), removal.path,
                  QStringLiteral("%1: %2, freed %3")
                      .arg(why, removal.fromTrash ? QStringLiteral("retired recording in the trash")
                                                  : QStringLiteral("oldest recording"),
                           megabytes(removal.freedBytes))});
    }
    if (outcome.enough) {
        healed(kSpaceKeptNotice);
    } else {
        raise(kSpaceKeptNotice, QString(),
              m_strings.spaceKept.arg(m_settings.keepFreeMB)
                  .arg(diskFolder())
                  .arg(kept)
                  .arg(keptReason.isEmpty() ? QStringLiteral("none left") : keptReason));
    }
}

// Amber while the time left is below DiskHours, whether or not a recording runs; red below
// an hour and when full.
void Recorder::addDiskStatus(RecorderStatus &status) const
{
    if (!m_diskWatch.warns())
        return;
    const QString words = m_diskWatch.level() == recording::DiskLevel::Full
                              ? m_strings.diskFull
                              : m_strings.diskLeft.arg(m_diskWatch.timeLeft());
    status.text += QStringLiteral(", ") + words;
    if (m_diskWatch.alarms())
        status.kind = StatusKind::Failed;
    else if (status.kind != StatusKind::Failed)
        status.kind = StatusKind::Warning;
}

bool Recorder::mayDelete(int row)
{
    if (row < 0 || size_t(row) >= m_archive->records().size())
        return true;
    const archive::ArchiveRecord &record = m_archive->records()[size_t(row)];
    // An unreadable date spares a record from every removal but the user's own.
    if (record.start == 0.0)
        return true;
    const QString reason = archive::keepReason(record, QDateTime::currentDateTime(), keepRules());
    if (reason.isEmpty())
        return true;
    // Said at every Delete asked for, not once.
    const QString about = QStringLiteral("kept:") + record.path;
    raise(about, QString(), m_strings.deleteKept.arg(record.path, reason));
    healed(about);
    return false;
}

std::function<void(const QStringList &)> Recorder::recycledReport()
{
    return [this](const QStringList &kept) {
        archive::ArchiveChange change;
        change.keptFiles = kept;
        archiveChanged(change);
    };
}

}  // namespace app
