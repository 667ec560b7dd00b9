#pragma once
// The recorder: everything Vantrel does, without a window. It owns the settings, the archive,
// the recording session, the schedule with its planner and tick, and the retention sweep;
// it applies the schedule, the length limit and the close sequence. A front-end (the main
// window, or a headless runner) shows its state and forwards commands to it.
//
// Threads: everything here runs on the thread that made the Recorder (the GUI thread in the
// program). The schedule tick comes from the tick thread through a blocking queued
// connection, so tick() also runs here; a modal dialog of a front-end does not hold it up.
//
// Failures are said once through failureRaised() and again only after they healed in
// between, so that a front-end never piles up notices for a fault that persists; each is
// logged with its cause.

#include "app/DesktopNotifier.h"
#include "app/SettingsFile.h"
#include "archive/Keep.h"
#include "archive/RecordingJournal.h"
#include "i18n/StringTable.h"
#include "archive/Keep.h"
#include "recording/DiskWatch.h"
#include "recording/EventLog.h"
#include "recording/RecordingWatch.h"
#include "schedule/ScheduleFile.h"
#include "schedule/ScheduleModel.h"
#include "schedule/SchedulePlanner.h"
#include "schedule/SplitClock.h"
#include "recording/RecordingConfig.h"
#include "settings/CodecPreset.h"
#include "settings/SystemOptions.h"
#include "web/WebSnapshot.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace audio { class AudioBackend; }
namespace archive { class Archive; struct ArchiveChange; struct SpaceOutcome; }
namespace recording { class RecordingSession; struct FinishedRecording; struct SessionEvent; }
namespace web { class WebServer; }
namespace schedule { class ScheduleTickThread; }
namespace ledger { class Ledger; class CoverageFeed; class VerificationQueue; struct VerifyResult; struct FileEntry; }

namespace app {

// What the status line says, and how it is shown.
// Warning: recording, with something to look at (silence, dropped audio, a restarted
// encoder), shown amber; Failed: a failure or a lost capture, shown red.
enum class StatusKind { Stopped, Recording, Warning, Failed };
struct RecorderStatus {
    QString text;
    StatusKind kind = StatusKind::Stopped;
};

// What a front-end keeps in the settings file besides the recorder's own settings.
struct FrontEndLayout {
    WindowBounds bounds;
    std::array<int, kHistoryColumns> historyWidths{};
    int levelMin = meter::kDefaultBottomDb;
};

// The schedule tick comes this long after each whole second of the wall clock, once the
// capture has that second's frame; cuts due within kArmAheadMs are armed on the tick
// before, and the capture opens kStandByAheadMs before a scheduled recording.
constexpr int kTickAfterSecondMs = 150;
constexpr qint64 kArmAheadMs = 1000;
constexpr qint64 kStandByAheadMs = 2000;

class Recorder : public QObject {
    Q_OBJECT
public:
    // Reads the settings, the default schedule, the archive index and system.ini of the
    // program folder (app::programFolder()) and opens the sound server. Nothing runs yet.
    explicit Recorder(QObject *parent = nullptr);
    ~Recorder() override;

    // Starts the schedule tick, the once-a-second watch and the retention sweep.
    void start();
    // The front-end can show notices from now on: those kept since the start come now, once.
    void listenForNotices();

    // Commands.
    void record();  // by hand: no length limit
    void stop();
    void deleteRecord(int row);
    int addScheduleEntry(const schedule::ScheduleEntry &entry);  // the row it went to
    void replaceScheduleEntry(int row, const schedule::ScheduleEntry &entry);
    void removeScheduleEntry(int row);
    void clearSchedule();
    // Loads a schedule file into the list; false, with *error, when it holds no entry (the
    // list then stays as it is).
    [[nodiscard]] bool loadSchedule(const QString &path, QString *error);
    [[nodiscard]] bool saveSchedule(const QString &path);
    // The settings dialog's OK: the new settings hold from the next recording on (its
    // device, rate, codec, folder, name); a recording that runs meanwhile goes on as it
    // started. The chosen input of the recording device is switched on at once.
    void applySettings(const Settings &settings);
    // "reload": reads vantrel.ini and the default schedule again and applies them as the
    // settings dialog's OK does; a running recording goes on as it started. The presets need
    // no reload: Codecs.prs is read at each use.
    // False, with *error, when the settings file is missing (nothing then changes).
    [[nodiscard]] bool reloadFiles(QString *error);
    // A preset picked in the dialog is the current codec at once, also if the dialog is
    // then cancelled.
    void setCodec(const settings::CodecPreset &codec);
    // The language of the front-end's texts (Lang), kept from the next save of the settings.
    void setLanguage(const QString &code);
    // The texts of the status line and of the schedule list's Action column.
    void setStrings(const i18n::StringTable &strings);
    // Writes the preset file (Codecs.prs); false with *error (naming the file and the
    // reason) when it cannot be written, the old file then stays whole.
    [[nodiscard]] bool savePresets(const QList<settings::CodecPreset> &presets, QString *error);
    // Stops the tick, finishes a running recording, writes every file (the front-end's
    // layout included) and waits a bounded time for the encoders to complete their files.
    void close(const FrontEndLayout &layout);
    // The same for a front-end without a layout of its own (headless): the window's layout
    // in the settings file stays as it is, keys that are not there stay absent.
    void close();

    // The schedule check at `now` (the tick thread's, or a test's), then the length limit.
    void tick(const QDateTime &now);
    // The once-a-second watch: an encoder or capture that ended, lost audio, the limit.
    void watch();
    // The retention sweep at `now`.
    void sweepExpired(const QDateTime &now);

    // State.
    const Settings &settings() const { return m_settings; }
    const i18n::StringTable &strings() const { return m_strings; }
    // system.ini, read once before the sound server was opened.
    const settings::SystemOptions &systemOptions() const { return m_systemOptions; }
    // The codec presets as Codecs.prs holds them now: read at each call, so that a file put
    // in place while the program runs is what the settings dialog shows and OK writes back.
    QList<settings::CodecPreset> readPresets() const;
    bool isRecording() const;
    bool isClosed() const { return m_closed; }  // close() ran: it takes no command any more
    QString currentFile() const;
    qint64 elapsedSeconds() const;
    QString remainingText() const;  // "? d ?:??:??" while idle
    std::uint32_t level() const;    // the level word of the capture
    RecorderStatus status() const;

    archive::Archive &archive() { return *m_archive; }
    schedule::ScheduleModel &scheduleModel() { return m_scheduleModel; }
    const recording::RecordingSession &session() const { return *m_session; }
    audio::AudioBackend &audio() { return *m_audio; }
    // The coverage ledger (Log/ledger.sqlite); when it cannot be used, its queries answer empty.
    ledger::Ledger &ledger() { return *m_ledger; }

signals:
    // The recording started, stopped or failed, or audio was lost: the status changed.
    void statusChanged();
    // A failure or notice to show, once until it heals. caption may be empty. Those raised
    // before listenForNotices() (while reading the files at start-up) are kept until then.
    void failureRaised(const QString &caption, const QString &text);
    // reloadFiles() replaced the settings and the schedule.
    void filesReloaded();

private:
    void loadDefaultSchedule();
    void adoptUnfinishedRecording();
    recording::RecordingConfig recordingConfig() const;
    void startRecording(quint32 limitMs, const QDateTime &at);
    void stopRecording(const QDateTime &at = {});
    void splitRecording(const QDateTime &at);
    void journalCurrentFile();
    void prepareAhead(const QDateTime &now);
    void archiveFinished(const recording::FinishedRecording &finished);
    // The coverage ledger: opened (a damaged one set aside), rebuilt when it was missing.
    void openLedger();
    void rebuildLedger();
    void noteLine(const recording::EventLine &line);
    // Each finished file is checked once its encoder has completed it.
    void startVerifying();
    void verifyCompletedFiles();
    void fileVerified(const ledger::VerifyResult &result);
    void archiveChanged(const archive::ArchiveChange &change);
    // The holds as the ledger has them now, read again at each removal (so that a --hold from
    // the command line counts at once) and marked in the archive list; the last ones read
    // when the ledger cannot answer.
    const std::vector<archive::Hold> &refreshHolds();
    // Reads the holds once a minute too, so that the archive list shows one made from the
    // command line soon, not at the next sweep.
    void startWatchingHolds();
    void scheduleChanged();
    void closeAndSave(const FrontEndLayout *layout);
    [[nodiscard]] bool saveSettings(const FrontEndLayout *layout);  // null: keep the stored layout
    // `about` names what failed ("write:<path>"): a notice is said once until that heals.
    void raise(const QString &about, const QString &caption, const QString &text, const QString &detail = {});
    void healed(const QString &about);
    // Hands what the session did since the last look to the event log and the watch; true
    // when what the watch shows changed.
    bool noteSessionEvents(const QDateTime &now);

    // The disk (RecorderDisk.cpp): what must be kept, the warning of the time left and the
    // free space kept by removing the oldest recordings.
    archive::KeepRules keepRules() const;
    void noteRefusedSettings();
    // Every kDiskCheckMs from the watch: the free space, the warning, the removal.
    void watchDisk(const QDateTime &now);
    QString diskFolder() const;
    double diskByteRate() const;
    void keepFreeSpace(std::int64_t freeBytes, const QDateTime &now);
    void spaceFreed(const archive::SpaceOutcome &outcome, int kept, const QString &keptReason);

    // The web server (RecorderWeb.cpp).
    void startWeb();
    void stopWeb();
    void restartWeb();
    void refreshWeb();
    void publishWebStatus();
    void publishWebArchive();
    void publishWebStrings();
    void countForWeb(const recording::SessionEvent &event);
    void addDiskStatus(RecorderStatus &status) const;
    // False (and a notice why) when the record at row must be kept.
    bool mayDelete(int row);
    // What the archive's worker could not move to the trash, said as archiveChanged says it.
    std::function<void(const QStringList &)> recycledReport();

    Settings m_settings;
    core::Ini m_settingsImage;  // vantrel.ini as last read or written (settingsImage())
    i18n::StringTable m_strings;
    settings::SystemOptions m_systemOptions;
    std::unique_ptr<audio::AudioBackend> m_audio;
    std::unique_ptr<archive::Archive> m_archive;
    std::unique_ptr<ledger::Ledger> m_ledger;
    std::unique_ptr<ledger::CoverageFeed> m_coverage;
    bool m_rebuildLedger = false;  // once the archive is loaded
    std::unique_ptr<ledger::VerificationQueue> m_verifier;
    std::vector<ledger::FileEntry> m_awaitingEncoder;  // finished files their encoders still complete
    bool m_damagedShown = false;  // a file was found damaged since the last start
    std::vector<archive::Hold> m_holds;  // as last read from the ledger
    QTimer m_holdsTimer;
    std::unique_ptr<recording::RecordingSession> m_session;
    schedule::ScheduleModel m_scheduleModel;
    schedule::DefaultScheduleFile m_defaultSchedule;
    recording::EventLog m_eventLog;
    recording::RecordingWatch m_watch;
    recording::WatchCondition m_shownCondition;
    DesktopNotifier m_notifier;
    schedule::SchedulePlanner m_planner;
    QDateTime m_lastTick;  // of the split clock
    schedule::ScheduleTickThread *m_tickThread = nullptr;
    QTimer m_watchTimer;
    QTimer m_sweepTimer;
    recording::DiskWatch m_diskWatch;
    web::SnapshotBoard m_webBoard;
    std::unique_ptr<web::WebServer> m_web;
    QString m_webFailureWords;  // why the web server asked for does not run, in a few words
    quint64 m_webArchiveGeneration = ~0ULL;
    struct {
        quint64 captureLost = 0;
        quint64 encoderRestarts = 0;
        double droppedSeconds = 0;
    } m_webCounts;
    QElapsedTimer m_diskChecked;  // since the last look at the disk; invalid before the first
    bool m_makingRoom = false;    // a removal for free space runs on the archive's worker
    std::optional<archive::JournalEntry> m_unfinished;  // left by the last run, to adopt
    QSet<QString> m_openFailures;  // what failed, said and not healed since
    struct HeldNotice {
        QString caption;
        QString text;
    };
    std::vector<HeldNotice> m_heldNotices;  // raised before a front-end listened
    bool m_noticesListened = false;
    bool m_started = false;
    bool m_closed = false;
};

}  // namespace app
