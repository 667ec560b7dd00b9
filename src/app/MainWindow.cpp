#include "app/MainWindow.h"

#include "app/ArchiveTab.h"
#include "app/Logging.h"
#include "app/ProgramFolder.h"
#include "app/Recorder.h"
#include "app/RecordingTab.h"
#include "app/ViewParts.h"
#include "app/RemoteCommands.h"
#include "app/WindowPlacement.h"
#include "archive/Archive.h"
#include "core/DayCount.h"
#include "core/TextLimits.h"
#include "core/ProgramFiles.h"
#include "core/WindowFont.h"
#include "i18n/AboutDialog.h"
#include "i18n/HelpLinks.h"
#include "i18n/LanguageApply.h"
#include "i18n/LanguageFile.h"
#include "i18n/UrlLabel.h"
#include "i18n/LanguageFolders.h"
#include "meter/LevelMeter.h"
#include "meter/LevelPoll.h"
#include "meter/MeterLook.h"
#include "settings/SettingsDialog.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kDesignWidth = 500;
constexpr int kDesignHeight = 370;
constexpr int kMeterPanelWidth = 55;

}  // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("%1 (%2)").arg(QStringLiteral("Vantrel"), QStringLiteral(VANTREL_VERSION)));
    setFont(QFont(core::look::windowFontFamily(), core::look::kWindowFontPoints));
    setMinimumSize(kDesignWidth, kDesignHeight);
    resize(kDesignWidth, kDesignHeight);

    m_recorder = std::make_unique<app::Recorder>();
    connect(m_recorder.get(), &app::Recorder::statusChanged, this, &MainWindow::showStatus);
    connect(m_recorder.get(), &app::Recorder::failureRaised, this, &MainWindow::showFailure);
    // "reload" is the settings dialog's OK from outside: what OK shows, reload shows.
    connect(m_recorder.get(), &app::Recorder::filesReloaded, this, [this] {
        m_levelMeter->setBottomDb(m_recorder->settings().levelMin);
        m_recordingTab->showCodec();
    });

    auto *central = new QWidget(this);
    auto *row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    m_tabs = new QTabWidget(central);
    m_tabs->setObjectName(QStringLiteral("PageControl1"));
    m_recordingTab = new app::RecordingTab(*m_recorder);
    m_archiveTab = new app::ArchiveTab(*m_recorder);
    m_tabs->addTab(m_recordingTab, QStringLiteral("Recording"));
    m_tabs->addTab(m_archiveTab, QStringLiteral("Archive"));
    row->addWidget(m_tabs, 1);
    row->addWidget(buildMeterPanel());
    setCentralWidget(central);

    auto *bar = new QStatusBar(this);
    bar->setObjectName(QStringLiteral("StatusBar1"));
    setStatusBar(bar);
    // Whichever tab is shown, the bar says that a recording runs, how long, and into which file.
    m_barStatus = new QLabel(bar);
    m_barStatus->setObjectName(QStringLiteral("lbBarRecording"));
    bar->addWidget(m_barStatus, 1);
    buildMenus();

    const app::Settings &s = m_recorder->settings();
    m_levelMeter->setBottomDb(s.levelMin);
    placeWindow();
    if (s.historyWidths)
        m_archiveTab->setColumnWidths(*s.historyWidths);
    buildLanguageMenu();

    m_meterTimer = new QTimer(this);
    m_meterTimer->setObjectName(QStringLiteral("Timer1"));
    m_meterTimer->setInterval(50);
    connect(m_meterTimer, &QTimer::timeout, this,
            [this] { meter::applyLevelWord(*m_levelMeter, m_recorder->level()); });
    m_displayTimer = new QTimer(this);
    m_displayTimer->setObjectName(QStringLiteral("Timer2"));
    m_displayTimer->setInterval(1000);
    connect(m_displayTimer, &QTimer::timeout, this, &MainWindow::showProgress);

    // `vantrel --command` reaches this window's recorder as the menu's commands do.
    QString commandsOff;
    auto *commands = new app::CommandServer(*m_recorder, this);
    commands->setShowWindow([this] { bringToFront(); });
    if (!commands->listen(app::programFolder(), &commandsOff))
        qCWarning(lcApp).noquote() << commandsOff;
    m_recorder->start();
    m_displayTimer->start();
}

// The widgets go before the recorder whose models they show.
MainWindow::~MainWindow()
{
    m_meterTimer->stop();
    m_displayTimer->stop();
    m_recorder->disconnect(this);
    delete takeCentralWidget();
}

const app::Settings &MainWindow::settings() const
{
    return m_recorder->settings();
}

QWidget *MainWindow::buildMeterPanel()
{
    auto *panel = new QFrame;
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    panel->setFixedWidth(kMeterPanelWidth);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(2, 2, 2, 2);
    m_levelMeter = new LevelMeter(panel);
    m_levelMeter->setObjectName(QStringLiteral("lev"));
    meter::applyInputMeterLook(*m_levelMeter);
    m_levelMeter->setMinimumHeight(100);  // the bars follow the window's height
    m_levelMeter->setMaximumHeight(QWIDGETSIZE_MAX);
    layout->addWidget(m_levelMeter, 1, Qt::AlignRight);
    connect(m_levelMeter, &LevelMeter::mousePressed, this, [this] { meter::stepScaleBottom(*m_levelMeter); });
    return panel;
}

void MainWindow::buildMenus()
{
    const auto addAction = [this](QMenu *menu, const char *name, const char *text, const QKeySequence &key = {}) {
        auto *action = menu->addAction(QString::fromLatin1(text));
        action->setObjectName(QString::fromLatin1(name));
        if (!key.isEmpty()) {
            action->setShortcut(key);
            action->setShortcutContext(Qt::ApplicationShortcut);
        }
        return action;
    };

    QMenu *file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File1"));
    connect(addAction(file, "Record1", "Record", QKeySequence(Qt::Key_F5)), &QAction::triggered,
            m_recorder.get(), &app::Recorder::record);
    connect(addAction(file, "Stop1", "Stop", QKeySequence(Qt::Key_F8)), &QAction::triggered,
            m_recorder.get(), &app::Recorder::stop);
    file->addSeparator();
    connect(addAction(file, "Exit1", "Exit"), &QAction::triggered, this, &QWidget::close);

    QMenu *settingsMenu = menuBar()->addMenu(QStringLiteral("Settings"));
    settingsMenu->setObjectName(QStringLiteral("Settings1"));
    m_languageMenu = settingsMenu->addMenu(QStringLiteral("Language"));
    m_languageMenu->setObjectName(QStringLiteral("mLangList"));
    connect(addAction(settingsMenu, "Settings2", "Settings...", QKeySequence(Qt::Key_F9)), &QAction::triggered, this,
            &MainWindow::openSettingsDialog);

    QMenu *help = menuBar()->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("Help1"));
    connect(addAction(help, "Contents1", "Contents", QKeySequence(Qt::Key_F1)), &QAction::triggered, this,
            &MainWindow::openHelpPage);
    connect(addAction(help, "Bugreport1", "Bug report..."), &QAction::triggered, this, [this] {
        openWithDesktop(i18n::problemReportUrl(QStringLiteral(VANTREL_SUPPORT_ADDRESS), QStringLiteral(VANTREL_VERSION)));
    });
    connect(addAction(help, "About1", "About...", QKeySequence(Qt::CTRL | Qt::Key_F1)), &QAction::triggered, this,
            [this] {
                i18n::AboutDialog about(QStringLiteral(VANTREL_VERSION), QStringLiteral(VANTREL_WEB_ADDRESS),
                                        QStringLiteral(VANTREL_SUPPORT_ADDRESS), this);
                about.exec();
            });
}

// The page of the current language, else the English one. Without any, nothing opens: the
// log says why.
void MainWindow::openHelpPage()
{
    const QString languages = app::programPath(core::files::languages());
    const QUrl page = i18n::helpPageUrl(languages, settings().lang);
    if (page.isEmpty()) {
        qCInfo(lcApp).noquote() << "no help page in" << languages + u'/' + settings().lang << "or" << languages + QStringLiteral("/En");
        return;
    }
    openWithDesktop(page);
}

// A desktop without a program for the link says so in the status bar (and the log).
void MainWindow::openWithDesktop(const QUrl &url)
{
    QString why;
    if (!i18n::openWithDesktop(url, &why))
        statusBar()->showMessage(why, 10000);
}

// The dialog is translated anew at each opening, from the language current then. Every
// effect of OK happens inside the dialog; the codec caption follows OK only.
void MainWindow::openSettingsDialog()
{
    settings::SettingsDialog dialog(*m_recorder, this);
    const core::Ini languageFile = loadLanguageFile();
    i18n::applyLanguageSection(&dialog, languageFile, i18n::langfile::settingsCaptions, i18n::TextKind::Caption);
    i18n::applyLanguageSection(&dialog, languageFile, i18n::langfile::settingsHints, i18n::TextKind::Hint);
    if (dialog.exec() == QDialog::Accepted)
        m_recordingTab->showCodec();
}

// A second start on the folder: this window comes to the front with the focus, and a
// dialog open over it with it.
void MainWindow::bringToFront()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
    if (QWidget *modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
    }
    qCInfo(lcApp).noquote() << "window brought to the front for a second start on the folder";
}

// Radio-style: the language of the settings is checked.
void MainWindow::buildLanguageMenu()
{
    m_languageMenu->clear();
    auto *group = new QActionGroup(m_languageMenu);
    for (const i18n::LanguageFolder &language : i18n::languageFolders(app::programPath(core::files::languages()))) {
        QAction *entry = m_languageMenu->addAction(language.caption);
        entry->setCheckable(true);
        entry->setActionGroup(group);
        entry->setChecked(language.code.compare(settings().lang, Qt::CaseInsensitive) == 0);
        entry->setData(language.code);
        connect(entry, &QAction::triggered, this, [this, code = language.code] { chooseLanguage(code); });
    }
}

void MainWindow::chooseLanguage(const QString &code)
{
    m_recorder->setLanguage(code);
    applyMainLanguage();
}

// The current language's file; an empty document when the language has no folder.
core::Ini MainWindow::loadLanguageFile() const
{
    return i18n::languageFileOf(app::programPath(core::files::languages()), settings().lang);
}

// A text that one file sets and the next does not keep stays until the program restarts;
// the string table falls back to its English texts instead.
void MainWindow::applyMainLanguage()
{
    const core::Ini languageFile = loadLanguageFile();
    {
        const i18n::RepaintHold hold(this);
        using i18n::TextKind;
        i18n::applyLanguageSection(this, languageFile, i18n::langfile::mainCaptions, TextKind::Caption);
        i18n::applyLanguageSection(this, languageFile, i18n::langfile::mainHints, TextKind::Hint);
        i18n::applyLanguageSection(this, languageFile, i18n::langfile::mainMenuHints, TextKind::Hint);
        i18n::applyLanguageSection(this, languageFile, i18n::langfile::mainMenuItems, TextKind::Caption);
        i18n::applyColumnTitles(m_recorder->scheduleModel(), languageFile, i18n::langfile::scheduleColumns);
        i18n::applyColumnTitles(m_recorder->archive().model(), languageFile, i18n::langfile::historyColumns);
        // Refreshes the status line from the new table.
        m_recorder->setStrings(i18n::readStringTable(languageFile, m_recorder->strings()));
    }
    // Qt's own texts follow: the file dialogs, the key names of the shortcuts.
    const QString locale = m_recorder->strings().qtLocale;
    QString looked;
    if (!m_qtTranslations.use(locale, &looked))
        qCWarning(lcApp).noquote() << "no translation of Qt's texts for" << locale << "in" << looked;
}

// Centred at the layout size without a stored position; otherwise the stored bounds, each
// defaulting to the current value and brought within the screens there are now, which stay
// the normal bounds of a maximised window.
void MainWindow::placeWindow()
{
    const app::Settings &s = settings();
    QList<QRect> screenAreas;  // the primary first
    if (const QScreen *primary = QGuiApplication::primaryScreen())
        screenAreas.append(primary->availableGeometry());
    for (const QScreen *screen : QGuiApplication::screens())
        if (screen != QGuiApplication::primaryScreen())
            screenAreas.append(screen->availableGeometry());
    const app::StoredPlacement stored{s.windowState != int(app::WindowState::NoPosition), s.x, s.y, s.w, s.h};
    const QRect bounds = app::windowBoundsAtStart(stored, QRect(pos(), size()), screenAreas,
                                                  QSize(kDesignWidth, kDesignHeight));
    move(bounds.topLeft());
    resize(bounds.size());
    if (s.windowState == int(app::WindowState::Maximized))
        setWindowState(windowState() | Qt::WindowMaximized);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        applyMainLanguage();
        showStatus();
        // What the start-up had to say (a damaged schedule kept aside, a recording adopted).
        m_recorder->listenForNotices();
    }
}

void MainWindow::showStatus()
{
    // The meter polls only while there is a level to show; once stopped it shows silence.
    if (m_recorder->isRecording()) {
        m_meterTimer->start();
    } else {
        m_meterTimer->stop();
        meter::applyLevelWord(*m_levelMeter, m_recorder->level());
    }
    m_recordingTab->showStatus();
    showStateInStatusBar();
}

void MainWindow::showProgress()
{
    m_recordingTab->showProgress();
    showStateInStatusBar();
}

// The status bar repeats what the Recording tab says, so that it is seen on every tab: a
// running recording with its elapsed time and file, or a failure in red.
void MainWindow::showStateInStatusBar()
{
    const app::RecorderStatus status = m_recorder->status();
    QPalette pal = m_barStatus->palette();
    pal.setColor(QPalette::WindowText, app::statusColour(status.kind));
    m_barStatus->setPalette(pal);
    if (!m_recorder->isRecording()) {
        m_barStatus->setText(status.kind == app::StatusKind::Failed ? status.text : QString());
        m_barStatus->setToolTip(QString());
        return;
    }
    const QString file = m_recorder->currentFile();
    const QString head =
        QStringLiteral("\u25CF %1  %2   ").arg(status.text, core::formatHms(m_recorder->elapsedSeconds()));
    const QFontMetrics metrics = m_barStatus->fontMetrics();
    const int room = m_barStatus->width() - metrics.horizontalAdvance(head);
    m_barStatus->setText(head + metrics.elidedText(file, Qt::ElideMiddle, qMax(80, room)));
    m_barStatus->setToolTip(file);
}

// A notice that is not modal: a box waiting for OK must never hold up the schedule. At
// close there is no window left to keep a notice open, so it waits for the user there.
void MainWindow::showFailure(const QString &caption, const QString &text)
{
    if (m_reportError) {
        m_reportError(caption, text);
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Critical, caption.isEmpty() ? QStringLiteral("Vantrel") : caption,
                                text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("failureNotice"));
    if (m_closed) {
        box->exec();
        delete box;
        return;
    }
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

// No question is asked, also not while recording: the recorder finishes the recording and
// writes every file, the window's layout included.
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_closed) {
        m_closed = true;
        app::FrontEndLayout layout;
        layout.bounds.maximized = isMaximized();
        layout.bounds.normal = QRect(pos(), size());
        layout.historyWidths = m_archiveTab->columnWidths();
        layout.levelMin = m_levelMeter->bottomDb();
        m_recorder->close(layout);
    }
    event->accept();
}
