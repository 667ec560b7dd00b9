#pragma once
// The main window: one front-end of the recorder. It makes the widgets, shows the
// recorder's state and forwards the user's commands; the rules live in app::Recorder and
// the subsystems' plain classes.
//
// Threads: everything here runs on the GUI thread.

#include "app/SettingsFile.h"
#include "core/Ini.h"

#include "i18n/QtTranslations.h"

#include <QMainWindow>
#include <functional>
#include <memory>

class QLabel;
class QMenu;
class QTabWidget;
class QTimer;
class QUrl;
class LevelMeter;

namespace app {
class ArchiveTab;
class Recorder;
class RecordingTab;
}  // namespace app

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Failures are shown through here; tests replace it to answer without a notice.
    using ErrorReporter = std::function<void(const QString &caption, const QString &text)>;
    void setErrorReporter(ErrorReporter reporter) { m_reportError = std::move(reporter); }

    const app::Settings &settings() const;
    app::Recorder &recorder() { return *m_recorder; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *buildMeterPanel();
    void buildMenus();
    void buildLanguageMenu();
    void chooseLanguage(const QString &code);
    void applyMainLanguage();
    core::Ini loadLanguageFile() const;
    void openSettingsDialog();
    void bringToFront();
    void openHelpPage();
    void openWithDesktop(const QUrl &url);
    void placeWindow();
    void showStatus();
    void showProgress();
    void showStateInStatusBar();
    void showFailure(const QString &caption, const QString &text);

    std::unique_ptr<app::Recorder> m_recorder;
    app::RecordingTab *m_recordingTab = nullptr;
    app::ArchiveTab *m_archiveTab = nullptr;
    QTabWidget *m_tabs = nullptr;
    LevelMeter *m_levelMeter = nullptr;
    QLabel *m_barStatus = nullptr;
    QMenu *m_languageMenu = nullptr;
    QTimer *m_meterTimer = nullptr;
    QTimer *m_displayTimer = nullptr;
    bool m_shownOnce = false;
    bool m_closed = false;
    ErrorReporter m_reportError;
    i18n::QtTranslations m_qtTranslations;
};
