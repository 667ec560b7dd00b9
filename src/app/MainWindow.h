#pragma once
// The main window: owns every part of the program for the whole run and wires the
// commands, timers and the schedule tick to them. It shows state and forwards commands;
// the rules live in the subsystems' plain classes.
//
// Threads: everything here runs on the GUI thread. The schedule tick arrives from the tick
// thread through a blocking queued connection, so ScheduleTick also runs here.

#include "app/SettingsFile.h"
#include "i18n/StringTable.h"
#include "schedule/ScheduleFile.h"
#include "schedule/ScheduleModel.h"
#include "schedule/SchedulePlanner.h"

#include <QMainWindow>
#include <QSet>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTabWidget;
class QTimer;
class QTreeView;
class LevelMeter;

namespace audio { class AudioBackend; }
namespace schedule { class ScheduleTickThread; }
namespace archive { class Archive; struct ArchiveChange; }
namespace recording { class RecordingSession; struct FinishedRecording; }

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Error messages go through here; tests replace it to answer without a modal box.
    using ErrorReporter = std::function<void(const QString &caption, const QString &text)>;
    void setErrorReporter(ErrorReporter reporter) { m_reportError = std::move(reporter); }

    const app::Settings &settings() const { return m_settings; }
    audio::AudioBackend &audioBackend() { return *m_audio; }
    const recording::RecordingSession &recordingSession() const { return *m_recording; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void FormCreate();
    void FormShow();
    void FormClose();
    void FormDestroy();

    void buildUi();
    void buildMenus();
    QWidget *buildRecordingTab();
    QWidget *buildArchiveTab();

    void LoadSettings();
    [[nodiscard]] bool SaveSettings();
    void placeWindow();
    std::array<int, app::kHistoryColumns> historyColumnWidths() const;
    void ReadSystemIni();
    void InitAudioSettings();
    void BuildLanguageMenu();
    void ApplyMainLanguage();

    void ShowStatus();
    void showStateInStatusBar();
    void Timer1Timer();
    void Timer2Timer();
    void ArchiveCheckerTimer();
    void ScheduleTick();

    void LoadScheduleFile(const QString &path);
    [[nodiscard]] bool SaveScheduleFile(const QString &path);
    void scheduleChanged();  // writes the default schedule file at once
    void btnSaveClick();
    void btnLoadClick();
    void btnClearClick();
    void btnDeleteClick();
    void btnAddClick(int tag);  // 1 = add, 2 = edit
    int selectedScheduleRow() const;

    void lvHistoryDblClick();
    void Delete1Click();
    void reportArchiveChange(const archive::ArchiveChange &change);

    void AddArchiveRecord(const recording::FinishedRecording &finished);
    void StartRecording(quint32 limitMs);
    void StopRecording();

    void BitBtn1Click();
    void BitBtn2Click();
    void Exit1Click();

    void reportError(const QString &caption, const QString &text, const QString &detail = {});
    void failureHealed(const QString &text);

    app::Settings m_settings;
    i18n::StringTable m_strings;
    bool m_volumeCurveLogarithmic = false;
    std::vector<float> m_gainTable;  // 10^(d/20) for d = -30 … +30 dB
    std::unique_ptr<audio::AudioBackend> m_audio;
    schedule::ScheduleModel m_scheduleModel;
    schedule::SchedulePlanner m_planner;
    schedule::DefaultScheduleFile m_defaultSchedule{QString()};
    schedule::ScheduleTickThread *m_tickThread = nullptr;
    std::unique_ptr<archive::Archive> m_archive;
    std::unique_ptr<recording::RecordingSession> m_recording;
    bool m_shownOnce = false;
    bool m_closed = false;
    ErrorReporter m_reportError;
    QSet<QString> m_openFailures;  // failures said and not healed since

    // Widgets (object names are those the language files address).
    QTabWidget *PageControl1 = nullptr;
    QLabel *Label3 = nullptr;
    QPushButton *BitBtn1 = nullptr;
    QPushButton *BitBtn2 = nullptr;
    QLabel *lbRemaining = nullptr;
    QLabel *lbStatus = nullptr;
    QLabel *lbRecorded = nullptr;
    QLabel *barRecording = nullptr;
    QTreeView *lvSchedule = nullptr;
    QTreeView *lvHistory = nullptr;
    LevelMeter *lev = nullptr;
    QMenu *mLangList = nullptr;
    QTimer *Timer1 = nullptr;
    QTimer *Timer2 = nullptr;
    QTimer *ArchiveChecker = nullptr;
};
