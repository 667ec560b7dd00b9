#include "app/Recorder.h"

#include "app/Logging.h"
#include "app/ProgramFolder.h"
#include "archive/Archive.h"
#include "archive/Keep.h"
#include "archive/RecordingJournal.h"
#include "archive/Retention.h"
#include "audio/AudioBackend.h"
#include "audio/EncoderFeed.h"
#include "audio/FileProbe.h"
#include "core/DayCount.h"
#include "core/Ini.h"
#include "core/ProgramFiles.h"
#include "core/TextLimits.h"
#include "ledger/CoverageFeed.h"
#include "ledger/Ledger.h"
#include "ledger/VerificationQueue.h"
#include "recording/RecordingSession.h"
#include "schedule/ScheduleTickThread.h"
#include "settings/PresetList.h"
#include "web/WebServer.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace app {

namespace {

// How long the close waits for encoders to finish their files.
constexpr int kEncoderFinishMs = 15000;

// What a notice is about, so that it is said once until it heals, in whatever language.
const QString kArchiveSaveNotice = QStringLiteral("archive-save");
const QString kDefaultScheduleNotice = QStringLiteral("default-schedule");
const QString kLedgerNotice = QStringLiteral("ledger");
QString writeNotice(const QString &path) { return QStringLiteral("write:") + path; }

// The status line's words for a failure, in the language shown.
QString failureWords(recording::Failure failure, const QString &cause, const i18n::StringTable &t)
{
    using recording::Failure;
    QString words;
    switch (failure) {
    case Failure::None: return {};
    case Failure::CaptureFailed: words = t.captureFailed; break;
    case Failure::EncoderFailed: words = t.encoderFailed; break;
    case Failure::EncoderDied: words = t.encoderStopped; break;
    case Failure::CaptureLost: words = t.captureLost; break;
    case Failure::CannotWrite: words = t.cannotWrite; break;
    case Failure::FileRemoved: words = t.fileRemoved; break;
    }
    return recording::failureSentence(failure, words, cause, t.retrying);
}

// "silence 0:01:05, dropped 2.4 s"
QString watchWords(const recording::WatchCondition &c, const i18n::StringTable &t)
{
    QStringList words;
    if (c.silentSeconds)
        words << t.silence + u' ' + core::formatHms(*c.silentSeconds);
    if (c.encoderRestarted)
        words << t.encoderRestarted;
    if (c.droppedSeconds)
        words << t.droppedSeconds.arg(*c.droppedSeconds, 0, 'f', 1);
    return words.join(QStringLiteral(", "));
}

archive::RecordingJournal journal()
{
    return archive::RecordingJournal(programPath(core::files::recordingJournal()));
}

}  // namespace

Recorder::Recorder(QObject *parent)
    : QObject(parent),
      m_defaultSchedule(programPath(core::files::defaultSchedule())),
      m_eventLog(programPath(core::files::eventLog()))
{
    m_planner.start(QDateTime::currentDateTime());
    const core::Ini settingsFile = core::Ini::load(programPath(core::files::settings()));
    m_settings = readSettings(settingsFile);
    m_settingsImage = settingsImage(settingsFile);
    noteRefusedSettings();
    m_diskWatch.setThresholdHours(m_settings.diskHours);
    // In the language of the settings from the start, so that a notice raised now (and every
    // line of a front-end that never applies a language itself) reads as the user chose.
    m_strings = i18n::readStringTable(i18n::languageFileOf(programPath(core::files::languages()), m_settings.lang),
                                      m_strings);
    m_watch.setSilenceRule(m_settings.silenceDb, m_settings.silenceSeconds);
    // The volume curve is a property of the sound output: known before the server is opened.
    m_systemOptions = settings::readSystemOptions(programPath(core::files::systemOptions()));
    loadDefaultSchedule();
    // Read before anything can record: a recording started now writes the journal anew.
    m_unfinished = journal().read();
    // The index is read on the archive's worker, so that a large one does not hold up the
    // window; records made meanwhile are kept. An index that cannot be read is kept as it
    // is and never written over in this run.
    m_archive = std::make_unique<archive::Archive>(programPath(core::files::archiveIndex()));
    connect(m_archive.get(), &archive::Archive::loaded, this, [this](bool ok, const QString &error) {
        if (!ok)
            qCWarning(lcApp).noquote() << error;
        adoptUnfinishedRecording();
        publishWebArchive();
        if (m_rebuildLedger)
            rebuildLedger();
        if (m_started)
            archive::startSweepTimer(m_sweepTimer);
    });
    connect(m_archive.get(), &archive::Archive::writeFailed, this, [this](const QString &error) {
        raise(kArchiveSaveNotice, m_strings.saveFailedCaption, m_strings.saveFailed, error);
    });
    connect(m_archive.get(), &archive::Archive::written, this, [this] { healed(kArchiveSaveNotice); });
    m_archive->startLoading();
    openLedger();

    m_audio = std::make_unique<audio::AudioBackend>();
    // A device that is not there shows when a recording starts ("recording device N not found").
    m_audio->init(m_settings.playDev, m_settings.recDev);
    m_audio->selectInput(m_settings.recSrc);
    m_session = std::make_unique<recording::RecordingSession>(*m_audio);

    m_watchTimer.setInterval(1000);
    connect(&m_watchTimer, &QTimer::timeout, this, &Recorder::watch);
    connect(&m_sweepTimer, &QTimer::timeout, this, [this] {
        archive::advanceSweepTimer(m_sweepTimer);
        sweepExpired(QDateTime::currentDateTime());
    });
}

Recorder::~Recorder()
{
    stopWeb();
    // The archive finishes its work as it goes and may still report it; nobody listens then.
    if (m_archive)
        m_archive->disconnect(this);
    if (m_tickThread)
        m_tickThread->stop();
    if (m_session)
        stopRecording();
    if (m_audio)
        m_audio->release();
}

void Recorder::start()
{
    m_tickThread = new schedule::ScheduleTickThread(this);
    m_tickThread->setInterval(1000);
    m_tickThread->alignToWholeSeconds(kTickAfterSecondMs);
    connect(m_tickThread, &schedule::ScheduleTickThread::tick, this,
            [this] { tick(QDateTime::currentDateTime()); });
    m_tickThread->start();
    m_watchTimer.start();
    m_started = true;
    startWatchingHolds();
    if (!m_archive->isLoading())  // else once loaded: the sweep must see the records
        archive::startSweepTimer(m_sweepTimer);
    startWeb();
}

// ---- start-up ------------------------------------------------------------------------

// What is valid in the default schedule (a missing file is an empty list). A damaged or
// unreadable file is kept, and the user is told.
void Recorder::loadDefaultSchedule()
{
    QString warning;
    m_scheduleModel.setEntries(m_defaultSchedule.load(&warning, m_strings));
    if (!warning.isEmpty())
        raise(kDefaultScheduleNotice, QString(), warning);
}

// A ledger whose file is damaged is kept beside under another name and made afresh; one that
// was not there yet (the first run, or the first with a ledger) is filled from what the
// archive index and the event log know, once the index is read.
void Recorder::openLedger()
{
    const QString path = programPath(core::files::ledger());
    m_ledger = std::make_unique<ledger::Ledger>(path);
    if (m_ledger->isDamaged()) {
        const QString cause = m_ledger->error();
        m_ledger.reset();
        const QString aside =
            path + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        const bool moved = QFile::rename(path, aside);
        for (const char *part : {"-wal", "-shm"})
            QFile::remove(path + QLatin1String(part));
        m_ledger = std::make_unique<ledger::Ledger>(path);
        if (moved && m_ledger->isUsable())
            raise(kLedgerNotice, QString(), m_strings.ledgerRebuilt.arg(path, cause, aside));
        else
            raise(kLedgerNotice, QString(), m_strings.ledgerUnusable.arg(path, moved ? m_ledger->error() : cause));
    } else if (!m_ledger->isUsable()) {
        raise(kLedgerNotice, QString(), m_strings.ledgerUnusable.arg(path, m_ledger->error()));
    }
    m_rebuildLedger = m_ledger->isUsable() && m_ledger->isNew();
    m_coverage = std::make_unique<ledger::CoverageFeed>(*m_ledger);
    startVerifying();
}

// Files closed as the last run ended were not checked yet; those a rebuild found (with no
// frame count to check against) are left to --verify. Damaged ones stay marked.
void Recorder::startVerifying()
{
    m_verifier = std::make_unique<ledger::VerificationQueue>(
        this, [this](const ledger::VerifyResult &result) { fileVerified(result); });
    for (const ledger::FileEntry &file : m_ledger->files(ledger::Verification::Unverified))
        if (file.frames > 0)
            m_verifier->enqueue(file);
    for (const ledger::FileEntry &file : m_ledger->files(ledger::Verification::Damaged))
        m_archive->model().markDamaged(file.path, file.reason);
    refreshHolds();
}

void Recorder::verifyCompletedFiles()
{
    auto completed = std::stable_partition(m_awaitingEncoder.begin(), m_awaitingEncoder.end(),
                                           [this](const ledger::FileEntry &f) { return m_session->isFinishing(f.path); });
    for (auto file = completed; file != m_awaitingEncoder.end(); ++file) {
        file->sizeBytes = QFileInfo(file->path).size();  // as the encoder left it
        m_ledger->addFile(*file);
        m_verifier->enqueue(*file);
    }
    m_awaitingEncoder.erase(completed, m_awaitingEncoder.end());
}

// A damaged file is a failure like any other: in the event log, a notice, the status line
// and the archive list.
void Recorder::fileVerified(const ledger::VerifyResult &result)
{
    if (result.verdict == ledger::VerifyResult::Verdict::Cancelled)
        return;
    m_ledger->setVerification(result.path, result.sha256, result.verification(), result.reason);
    if (result.holds())
        return;
    const QDateTime now = QDateTime::currentDateTime();
    (void)m_eventLog.append({now, QStringLiteral("damaged"), result.path, result.reason});
    raise(QStringLiteral("damaged:") + result.path, QString(), m_strings.fileDamaged.arg(result.path, result.reason));
    m_notifier.notify(QStringLiteral("Vantrel: ") + m_strings.damagedFile, result.path + u'\n' + result.reason);
    m_archive->model().markDamaged(result.path, result.reason);
    m_damagedShown = true;
    emit statusChanged();
}

void Recorder::rebuildLedger()
{
    m_rebuildLedger = false;
    ledger::RebuildSource source;
    for (const archive::ArchiveRecord &record : m_archive->records())
        if (record.start > 0 && record.lengthSeconds >= 0)
            source.records.push_back({record.start, record.lengthSeconds, record.path, {}, 0, 0});
    const QString log = programPath(core::files::eventLog());
    for (int i = recording::EventLog::kKeptFiles; i >= 1; --i)
        source.eventLogs << log + QLatin1Char('.') + QString::number(i);
    source.eventLogs << log;
    ledger::rebuild(*m_ledger, source, [this](const QString &file) { return m_coverage->wrote(file); });
    qCInfo(lcApp).noquote() << "Coverage ledger" << m_ledger->path() << "filled from" << source.records.size()
                            << "archive records and the event log";
}

// A recording cut off by a kill or power cut is still on disk: the journal named it. The
// journal goes once the index on disk holds it (unless it names a recording of this run).
void Recorder::adoptUnfinishedRecording()
{
    if (!m_unfinished)
        return;
    const archive::JournalEntry entry = *std::exchange(m_unfinished, std::nullopt);
    const archive::ArchiveChange adopted = m_archive->adoptRecording(
        entry, [](const QString &path) { return audio::probeFile(path).durationSeconds; });
    if (!adopted.adoptedFile.isEmpty())
        raise(QStringLiteral("adopted:") + adopted.adoptedFile, QString(), m_strings.recordingAdopted.arg(adopted.adoptedFile));
    m_archive->whenWritten(adopted.generation, [file = entry.file] { journal().clearIfNames(file); });
}

// ---- recording -----------------------------------------------------------------------

void Recorder::record()
{
    startRecording(0, QDateTime::currentDateTime());
}

void Recorder::stop()
{
    stopRecording(QDateTime::currentDateTime());
}

recording::RecordingConfig Recorder::recordingConfig() const
{
    recording::RecordingConfig config;
    config.programFolder = programFolder();
    config.saveFolder = m_settings.saveFolder;
    config.saveFilename = m_settings.saveFilename;
    config.sampleRate = m_settings.sampleRate;
    config.codec = settings::CodecPreset::make(m_settings.codecName, m_settings.codecCmd, m_settings.codecExt);
    config.preRollSeconds = m_settings.preRollSeconds;
    return config;
}

// `at`: the moment the recording begins, its first frame the one captured then.
void Recorder::startRecording(quint32 limitMs, const QDateTime &at)
{
    m_coverage->asked(at, limitMs);
    m_damagedShown = false;
    if (const auto finished = m_session->start(recordingConfig(), limitMs, at))
        archiveFinished(*finished);
    // From here until its record is written, the journal names the recording, so that a run
    // killed meanwhile leaves the next start enough to archive it.
    if (!m_session->isRecording())
        journal().clear();
    else
        journalCurrentFile();
    noteSessionEvents(QDateTime::currentDateTime());
    emit statusChanged();
}

// `at`: the file ends just before the frame captured then; invalid: at once.
// From here until its record is written, the journal names the file being written.
void Recorder::journalCurrentFile()
{
    QString error;
    if (!journal().begin(m_session->startTime(), m_session->currentFile(), &error))
        qCWarning(lcApp).noquote() << error;
}

void Recorder::stopRecording(const QDateTime &at)
{
    if (const auto finished = m_session->stop(at))
        archiveFinished(*finished);
    const QDateTime now = QDateTime::currentDateTime();
    noteSessionEvents(now);
    m_coverage->askEnded(at.isValid() ? at : now);
    emit statusChanged();
}

void Recorder::splitRecording(const QDateTime &at)
{
    if (const auto finished = m_session->split(at)) {
        archiveFinished(*finished);
        journalCurrentFile();
    }
    noteSessionEvents(at);
    emit statusChanged();
}

// Each entry, split and limit at its second: the tick comes just after it, and the cut
// was armed on the tick before.
void Recorder::tick(const QDateTime &now)
{
    const auto due = m_planner.tick(now, m_scheduleModel.list());
    for (const schedule::DueEntry &d : due) {
        const QDateTime at = d.at.isValid() ? d.at : now;
        if (d.action == schedule::ActionRecord) {
            startRecording(quint32(d.limitMs), at);
        } else if (!d.endsLimitedRecordingOnly || (isRecording() && m_session->limitBytes() > 0)) {
            stopRecording(at);
        }
    }
    // Here as well as in watch(), so that a limit never runs a second over; the file ends
    // at the limit's frame whenever the stop comes, and a split at that second has none.
    if (m_session->limitReached())
        stopRecording();
    if (m_lastTick.isValid() && m_session->isRecording() && !m_session->captureLost())
        for (const QDateTime &at : schedule::splitMomentsIn(m_lastTick, now, m_settings.splitMinutes))
            splitRecording(at);
    m_lastTick = now;
    prepareAhead(now);
}

// A cut due within the next second is armed at its frame; a recording due within the next
// two, or the pre-roll, keeps the capture running while idle.
void Recorder::prepareAhead(const QDateTime &now)
{
    const schedule::ScheduleList &list = m_scheduleModel.list();
    if (m_session->isRecording()) {
        std::vector<QDateTime> cuts = m_planner.upcoming(now, kArmAheadMs, list);
        const auto splits = schedule::splitMomentsIn(now, now.addMSecs(kArmAheadMs), m_settings.splitMinutes);
        cuts.insert(cuts.end(), splits.begin(), splits.end());
        m_session->armCut(cuts.empty() ? QDateTime() : *std::min_element(cuts.begin(), cuts.end()));
    } else if (m_settings.preRollSeconds > 0 || !m_planner.upcoming(now, kStandByAheadMs, list, true).empty()) {
        m_session->standBy(recordingConfig());
    } else {
        m_session->leaveStandBy();
    }
}

void Recorder::watch()
{
    const auto polled = m_session->poll();
    for (const recording::FinishedRecording &finished : polled.finished)
        archiveFinished(finished);
    // The recording went on into a new file (a restarted encoder, a capture back): the
    // journal names that one from now on.
    if (polled.newFile)
        journalCurrentFile();
    if (polled.changed)
        emit statusChanged();
    if (m_session->limitReached())
        stopRecording();
    const QDateTime now = QDateTime::currentDateTime();
    if (noteSessionEvents(now))
        emit statusChanged();
    m_coverage->moveOn(now);
    verifyCompletedFiles();
    watchDisk(now);
    refreshWeb();
}

bool Recorder::isRecording() const { return m_session->isRecording(); }
QString Recorder::currentFile() const { return m_session->currentFile(); }
qint64 Recorder::elapsedSeconds() const { return m_session->elapsedSeconds(); }
QString Recorder::remainingText() const { return m_session->remainingText(); }
std::uint32_t Recorder::level() const { return m_session->level(); }

// "recording" while a recording runs, "stopped" when none does, and the failure with its
// cause when the last start failed, the recording ended by itself or its capture is lost
// and being retried: never "recording" then. Lost audio stays in sight, also after the
// stop, until the next recording starts. What the watch sees follows: a lost capture turns
// the line red; silence, dropped audio and a restarted encoder amber.
RecorderStatus Recorder::status() const
{
    const QString failure = failureWords(m_session->failure(), m_session->failureCause(), m_strings);
    RecorderStatus s{m_strings.statusStopped, StatusKind::Stopped};
    if (m_session->captureLost())
        s = {failure, StatusKind::Failed};
    else if (m_session->isRecording())
        s = {m_strings.statusRecording, StatusKind::Recording};
    else if (m_session->failure() != recording::Failure::None)
        s = {failure, StatusKind::Failed};
    const auto add = [&s](const QString &text, bool alarm) {
        if (!text.isEmpty())
            s.text += QStringLiteral(", ") + text;
        if (alarm || s.kind == StatusKind::Stopped)
            s.kind = StatusKind::Failed;
        else if (s.kind == StatusKind::Recording)
            s.kind = StatusKind::Warning;
    };
    const recording::WatchCondition watched = m_watch.condition(QDateTime::currentDateTime());
    if (watched.severity != recording::WatchSeverity::None)
        add(watchWords(watched, m_strings), watched.severity == recording::WatchSeverity::Alarm);
    // Audio the server dropped has no length to show; the encoder's drops are in the watch's.
    if (m_session->audioDropped() && m_watch.droppedBytes() == 0)
        add(m_strings.audioDropped, false);
    if (m_damagedShown)
        add(m_strings.damagedFile, true);
    addDiskStatus(s);
    if (!m_webFailureWords.isEmpty())
        add(m_strings.webOff.arg(m_webFailureWords), false);
    return s;
}

// Everything the session did goes to the event log and the watch, and the watch adds what it
// saw of the level and the dropped audio. Failures and silence also go to the desktop, for a
// user whose window is hidden.
bool Recorder::noteSessionEvents(const QDateTime &now)
{
    const bool wasSilent = m_watch.isSilent();
    const std::vector<recording::SessionEvent> events = m_session->takeEvents();
    for (std::size_t i = 0; i < events.size(); ++i) {
        const recording::SessionEvent &event = events[i];
        noteLine(recording::eventLine(event, m_session->sampleRate()));
        m_watch.noteEvent(event);
        countForWeb(event);
        // One notice an outcome: the give-up that follows a failure says it better.
        const bool gaveUpNext = i + 1 < events.size() && events[i + 1].kind == recording::SessionEventKind::EncoderGaveUp;
        QString what;
        if (event.kind == recording::SessionEventKind::CaptureLost)
            what = m_strings.captureLost;
        else if (event.kind == recording::SessionEventKind::EncoderGaveUp)
            what = m_strings.encoderGaveUp;
        else if (event.kind == recording::SessionEventKind::Failed && !gaveUpNext)
            what = m_strings.recordingFailed;
        if (!what.isEmpty())
            m_notifier.notify(QStringLiteral("Vantrel: ") + what,
                              event.details.isEmpty() ? event.file : event.file + QLatin1Char('\n') + event.details);
    }
    if (!m_session->isRecording())
        m_watch.noteIdle(now);
    else if (!m_session->captureLost())
        m_watch.noteLevel(recording::levelWordToDbfs(m_session->level()), now);
    m_watch.setSampleRate(m_session->sampleRate());
    for (const recording::EventLine &line : m_watch.takeLines())
        noteLine(line);
    if (!wasSilent && m_watch.isSilent())
        m_notifier.notify(QStringLiteral("Vantrel: ") + m_strings.silence,
                          m_session->currentFile() + u'\n'
                              + m_strings.silenceBelow.arg(m_settings.silenceDb).arg(m_settings.silenceSeconds));

    const recording::WatchCondition shown = m_watch.condition(now);
    const bool changed = shown.severity != m_shownCondition.severity || shown.text != m_shownCondition.text;
    m_shownCondition = shown;
    return changed;
}

// ---- archive -------------------------------------------------------------------------

// What happened goes to the event log and, as spans of time, to the coverage ledger.
void Recorder::noteLine(const recording::EventLine &line)
{
    (void)m_eventLog.append(line);
    m_coverage->noteLine(line);
}

void Recorder::archiveFinished(const recording::FinishedRecording &finished)
{
    m_awaitingEncoder.push_back(m_coverage->fileFinished(finished));
    const archive::ArchiveChange change = m_archive->addRecord(
        core::fromDayCount(finished.startTime), finished.lengthSeconds, finished.path);
    // The journal goes once the index on disk holds the record; until then it can still be
    // adopted. By then it may name the next recording, which it keeps.
    m_archive->whenWritten(change.generation, [file = finished.path] { journal().clearIfNames(file); });
    archiveChanged(change);
}

void Recorder::deleteRecord(int row)
{
    refreshHolds();
    if (!mayDelete(row))
        return;
    archiveChanged(m_archive->deleteRecord(row, recycledReport()));
}

void Recorder::sweepExpired(const QDateTime &now)
{
    refreshHolds();
    archiveChanged(m_archive->sweepExpired(now, m_settings.storeTime, keepRules(), recycledReport()));
}

const std::vector<archive::Hold> &Recorder::refreshHolds()
{
    if (std::optional<std::vector<archive::Hold>> holds = m_ledger->holds()) {
        m_holds = std::move(*holds);
        m_archive->model().setHolds(m_holds);
    }
    return m_holds;
}

void Recorder::startWatchingHolds()
{
    connect(&m_holdsTimer, &QTimer::timeout, this, [this] { refreshHolds(); });
    m_holdsTimer.start(60 * 1000);
}

void Recorder::archiveChanged(const archive::ArchiveChange &change)
{
    // The record is gone but its file is not: say so, or the disk fills without a word.
    for (const QString &file : change.keptFiles)
        raise(QStringLiteral("trash:") + file, QString(), m_strings.trashFailed.arg(file));
}

// ---- schedule ------------------------------------------------------------------------

int Recorder::addScheduleEntry(const schedule::ScheduleEntry &entry)
{
    const int row = m_scheduleModel.addEntry(entry);
    scheduleChanged();
    return row;
}

void Recorder::replaceScheduleEntry(int row, const schedule::ScheduleEntry &entry)
{
    m_scheduleModel.replaceEntry(row, entry);
    scheduleChanged();
}

void Recorder::removeScheduleEntry(int row)
{
    if (m_scheduleModel.removeEntry(row))
        scheduleChanged();
}

void Recorder::clearSchedule()
{
    m_scheduleModel.clear();
    scheduleChanged();
}

bool Recorder::loadSchedule(const QString &path, QString *error)
{
    std::vector<schedule::ScheduleEntry> entries;
    if (!schedule::readScheduleForList(path, &entries, error, m_strings)) {
        qCWarning(lcApp).noquote() << *error;
        return false;
    }
    m_scheduleModel.setEntries(entries);
    scheduleChanged();
    return true;
}

bool Recorder::saveSchedule(const QString &path)
{
    const std::vector<schedule::ScheduleEntry> entries = m_scheduleModel.list().entries();
    QString error;
    const bool saved = path == m_defaultSchedule.path() ? m_defaultSchedule.save(entries, &error)
                                                        : schedule::writeScheduleFile(path, entries, &error);
    if (!saved) {
        raise(writeNotice(path), QString(), m_strings.unableToWrite.arg(path), error);
        return false;
    }
    healed(writeNotice(path));
    return true;
}

// After every change, so that a crash or a power cut loses none of it.
void Recorder::scheduleChanged()
{
    (void)saveSchedule(m_defaultSchedule.path());
}

// ---- settings ------------------------------------------------------------------------

// A recording takes its configuration and capture device when it starts, so replacing them
// here leaves a running one as it is.
void Recorder::applySettings(const Settings &settings)
{
    const bool webChanged = settings.webListen != m_settings.webListen || settings.webToken != m_settings.webToken;
    m_settings = settings;
    if (webChanged && m_started)
        restartWeb();
    m_watch.setSilenceRule(m_settings.silenceDb, m_settings.silenceSeconds);
    m_diskWatch.setThresholdHours(m_settings.diskHours);
    m_audio->setRecordDevice(m_settings.recDev);
    // A device without ports has no input to switch on; -1 is "none chosen".
    if (m_settings.recSrc >= 0 && !m_audio->recordingInputs().isEmpty()
        && !m_audio->selectInput(m_settings.recSrc))
        qCWarning(lcApp).noquote() << QStringLiteral("could not switch on input %1 of recording device %2")
                                          .arg(m_settings.recSrc).arg(m_settings.recDev);
}

bool Recorder::reloadFiles(QString *error)
{
    const QString path = programPath(core::files::settings());
    if (!QFileInfo::exists(path)) {
        *error = QStringLiteral("%1 is missing; the settings stay as they are").arg(path);
        qCWarning(lcApp).noquote() << "reload:" << *error;
        return false;
    }
    const core::Ini settingsFile = core::Ini::load(path);
    applySettings(readSettings(settingsFile));
    m_settingsImage = settingsImage(settingsFile);
    noteRefusedSettings();
    loadDefaultSchedule();
    qCInfo(lcApp).noquote() << "reloaded the settings and the default schedule (the presets are read at each use)";
    Q_EMIT filesReloaded();
    return true;
}

void Recorder::setCodec(const settings::CodecPreset &codec)
{
    m_settings.codecName = codec.name;
    m_settings.codecCmd = codec.command;
    m_settings.codecExt = codec.ext;
}

void Recorder::setLanguage(const QString &code)
{
    m_settings.lang = code;
    publishWebStrings();
}

void Recorder::setStrings(const i18n::StringTable &strings)
{
    m_strings = strings;
    m_scheduleModel.setActionTexts({strings.actionRecord, strings.actionStop});
    Q_EMIT statusChanged();
}

bool Recorder::savePresets(const QList<settings::CodecPreset> &presets, QString *error)
{
    QString why;
    if (!settings::writePresetFile(programPath(core::files::codecPresets()), presets, &why)) {
        qCWarning(lcApp).noquote() << why;
        if (error)
            *error = why;
        return false;
    }
    return true;
}

QList<settings::CodecPreset> Recorder::readPresets() const
{
    return settings::readPresetFile(programPath(core::files::codecPresets()));
}

// ---- close ---------------------------------------------------------------------------

// No question is asked, also not while recording: the recording is finished first so that
// its record is in the index written now, and its encoder is given time to complete the file.
void Recorder::close(const FrontEndLayout &layout)
{
    closeAndSave(&layout);
}

void Recorder::close()
{
    closeAndSave(nullptr);
}

void Recorder::closeAndSave(const FrontEndLayout *layout)
{
    if (m_closed)
        return;
    m_closed = true;
    // No schedule entry may start a recording between this close and the end of the
    // program (the encoder wait below lets queued ticks through otherwise).
    if (m_tickThread)
        m_tickThread->stop();
    m_watchTimer.stop();
    m_sweepTimer.stop();
    m_holdsTimer.stop();
    stopWeb();
    stopRecording();
    m_coverage->endAll(QDateTime::currentDateTime());
    (void)saveSettings(layout);
    audio::EncoderFeed::waitForAll(kEncoderFinishMs);
    (void)m_ledger->flush();
}

bool Recorder::saveSettings(const FrontEndLayout *layout)
{
    const QString path = programPath(core::files::settings());
    // The file as it is now: what the user changed in it meanwhile is kept, key by key.
    core::Ini ini = core::Ini::load(path);
    core::Ini rendered;
    if (layout) {
        m_settings.levelMin = layout->levelMin;
        writeSettings(rendered, m_settings, layout->bounds, layout->historyWidths);
    } else {
        writeSettings(rendered, m_settings, {}, {});
    }
    // Built in table order, so that keys a new file lacks are written in that order.
    core::Ini now;
    for (const core::Ini::Section &section : rendered.parseAll()) {
        // Without a window the window's keys stay as the file has them: a headless run never
        // moves or resizes the next window.
        if (!layout && (section.name == keys::windowPos || section.name == keys::columns))
            continue;
        for (const core::Ini::Entry &entry : section.entries)
            now.writeString(section.name, entry.key, entry.value);
    }
    writeChangedKeys(ini, m_settingsImage, now);
    if (!ini.save(path)) {
        raise(writeNotice(path), QString(), m_strings.unableToWrite.arg(path));
        return false;
    }
    m_settingsImage = now;
    if (!saveSchedule(m_defaultSchedule.path()))
        return false;
    QString error;
    if (!m_archive->flush(&error)) {
        raise(kArchiveSaveNotice, m_strings.saveFailedCaption, m_strings.saveFailed, error);
        return false;
    }
    return true;
}

// ---- failures ------------------------------------------------------------------------

// Logged at once; shown at once when a front-end listens, else kept for it.
void Recorder::raise(const QString &about, const QString &caption, const QString &text, const QString &detail)
{
    if (m_openFailures.contains(about))
        return;
    m_openFailures.insert(about);
    qCWarning(lcApp).noquote() << (detail.isEmpty() ? text : text + QStringLiteral(": ") + detail);
    if (m_noticesListened)
        emit failureRaised(caption, text);
    else
        m_heldNotices.push_back({caption, text});
}

void Recorder::healed(const QString &about)
{
    m_openFailures.remove(about);
}

void Recorder::listenForNotices()
{
    if (m_noticesListened)
        return;
    m_noticesListened = true;
    for (const HeldNotice &notice : std::exchange(m_heldNotices, {}))
        emit failureRaised(notice.caption, notice.text);
}

}  // namespace app
