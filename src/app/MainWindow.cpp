#include "app/MainWindow.h"

#include "app/ProgramFolder.h"
#include "app/WindowPlacement.h"
#include "archive/Archive.h"
#include "archive/ArchiveIndex.h"
#include "archive/Retention.h"
#include "audio/AudioBackend.h"
#include "core/DayCount.h"
#include "core/Ini.h"
#include "core/TextLimits.h"
#include "recording/RecordingSession.h"
#include "meter/LevelPoll.h"
#include "schedule/ScheduleEntryDialog.h"
#include "schedule/ScheduleFile.h"
#include "schedule/ScheduleTickThread.h"
#include "meter/MeterLook.h"
#include "meter/LevelMeter.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int kDesignWidth = 500;
constexpr int kDesignHeight = 370;
constexpr int kMeterPanelWidth = 55;
const QString kIdleRemaining = QStringLiteral("? d ?:??:??");
const QString kIdleRecorded = QStringLiteral("0:00:00");
// How long the close waits for encoders to finish their files.
constexpr int kEncoderFinishMs = 15000;

// The Delete key runs the list's delete command while the list has the focus.
void bindDeleteKey(QAction *deleteCommand, QWidget *list)
{
    deleteCommand->setShortcut(QKeySequence::Delete);
    deleteCommand->setShortcutContext(Qt::WidgetShortcut);
    list->addAction(deleteCommand);
}

QLabel *boldLabel(const QString &objectName, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(objectName);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    return label;
}

QLabel *valueLabel(const QString &objectName, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// The pictures of the two record buttons: a red disc and a dark square.
QIcon recordButtonIcon(bool record)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    if (record) {
        p.setBrush(QColor(0xD0, 0x10, 0x10));
        p.drawEllipse(QRectF(2, 2, 12, 12));
    } else {
        p.setBrush(QColor(0x30, 0x30, 0x30));
        p.drawRect(QRectF(3, 3, 10, 10));
    }
    return QIcon(pm);
}

QTreeView *reportView(const QString &objectName, QWidget *parent)
{
    auto *view = new QTreeView(parent);
    view->setObjectName(objectName);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    view->header()->setStretchLastSection(true);
    view->header()->setSectionsMovable(false);
    return view;
}

}  // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    FormCreate();
}

MainWindow::~MainWindow()
{
    FormDestroy();
}

// ---- start-up --------------------------------------------------------------------------

void MainWindow::FormCreate()
{
    m_planner.start(QDateTime::currentDateTime());
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("%1 (%2)").arg(QStringLiteral("Vantrel"), QStringLiteral(VANTREL_VERSION)));
    m_archive = std::make_unique<archive::Archive>(archive::archiveIndexPath(app::programFolder()));
    buildUi();

    LoadSettings();
    ReadSystemIni();

    m_audio = std::make_unique<audio::AudioBackend>();
    // A device that is not there shows when a recording starts ("recording device N not found").
    m_audio->init(m_settings.playDev, m_settings.recDev);
    m_audio->selectInput(m_settings.recSrc);
    m_recording = std::make_unique<recording::RecordingSession>(*m_audio);

    BuildLanguageMenu();

    m_tickThread = new schedule::ScheduleTickThread(this);
    m_tickThread->setInterval(1000);
    connect(m_tickThread, &schedule::ScheduleTickThread::tick, this, &MainWindow::ScheduleTick);
    m_tickThread->start();

    InitAudioSettings();

    Timer1->start();
    Timer2->start();
    archive::startArchiveChecker(*ArchiveChecker);
}

void MainWindow::buildUi()
{
    QFont font(QStringLiteral("Tahoma"), 8);
    setFont(font);
    setMinimumSize(kDesignWidth, kDesignHeight);
    resize(kDesignWidth, kDesignHeight);

    auto *central = new QWidget(this);
    auto *row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    PageControl1 = new QTabWidget(central);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setDocumentMode(false);
    QWidget *recordingTab = buildRecordingTab();
    QWidget *archiveTab = buildArchiveTab();
    PageControl1->addTab(recordingTab, QStringLiteral("Recording"));
    PageControl1->addTab(archiveTab, QStringLiteral("Archive"));
    row->addWidget(PageControl1, 1);

    auto *meterPanel = new QFrame(central);
    meterPanel->setObjectName(QStringLiteral("Panel1"));
    meterPanel->setFrameShape(QFrame::Panel);
    meterPanel->setFrameShadow(QFrame::Raised);
    meterPanel->setFixedWidth(kMeterPanelWidth);
    auto *meterLayout = new QVBoxLayout(meterPanel);
    meterLayout->setContentsMargins(2, 2, 2, 2);
    lev = new LevelMeter(meterPanel);
    lev->setObjectName(QStringLiteral("lev"));
    meter::applyInputMeterLook(*lev);
    lev->setMinimumHeight(100);  // the bars follow the window's height
    lev->setMaximumHeight(QWIDGETSIZE_MAX);
    meterLayout->addWidget(lev, 1, Qt::AlignRight);
    connect(lev, &LevelMeter::mousePressed, this, [this] { meter::stepScaleBottom(*lev); });
    row->addWidget(meterPanel);

    setCentralWidget(central);
    auto *bar = new QStatusBar(this);
    bar->setObjectName(QStringLiteral("StatusBar1"));
    setStatusBar(bar);
    // Whichever tab is shown, the bar says that a recording runs, how long, and into which file.
    barRecording = new QLabel(bar);
    barRecording->setObjectName(QStringLiteral("lbBarRecording"));
    bar->addWidget(barRecording, 1);

    buildMenus();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(50);
    connect(Timer1, &QTimer::timeout, this, &MainWindow::Timer1Timer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(1000);
    connect(Timer2, &QTimer::timeout, this, &MainWindow::Timer2Timer);
    ArchiveChecker = new QTimer(this);
    ArchiveChecker->setObjectName(QStringLiteral("ArchiveChecker"));
    ArchiveChecker->setInterval(2000);
    connect(ArchiveChecker, &QTimer::timeout, this, &MainWindow::ArchiveCheckerTimer);
}

QWidget *MainWindow::buildRecordingTab()
{
    auto *tab = new QWidget;
    tab->setObjectName(QStringLiteral("TabSheet1"));
    auto *column = new QVBoxLayout(tab);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    grid->addWidget(boldLabel(QStringLiteral("Label1"), QStringLiteral("Codec:"), tab), 0, 0);
    Label3 = valueLabel(QStringLiteral("Label3"), QString(), tab);
    grid->addWidget(Label3, 0, 1);

    grid->addWidget(boldLabel(QStringLiteral("Label6"), QStringLiteral("Record:"), tab), 1, 0);
    auto *buttons = new QHBoxLayout;
    BitBtn1 = new QPushButton(recordButtonIcon(true), QString(), tab);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setToolTip(QStringLiteral("Record (F5)"));
    BitBtn2 = new QPushButton(recordButtonIcon(false), QString(), tab);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setToolTip(QStringLiteral("Stop (F8)"));
    for (QPushButton *b : {BitBtn1, BitBtn2}) {
        b->setFixedSize(40, 24);
        b->setFocusPolicy(Qt::TabFocus);
        buttons->addWidget(b);
    }
    buttons->addStretch();
    grid->addLayout(buttons, 1, 1);
    connect(BitBtn1, &QPushButton::clicked, this, &MainWindow::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &MainWindow::BitBtn2Click);

    grid->addWidget(boldLabel(QStringLiteral("Label4"), QStringLiteral("Remaining on HDD:"), tab), 2, 0);
    lbRemaining = valueLabel(QStringLiteral("lbRemaining"), kIdleRemaining, tab);
    grid->addWidget(lbRemaining, 2, 1);
    grid->addWidget(boldLabel(QStringLiteral("Label5"), QStringLiteral("Status:"), tab), 3, 0);
    lbStatus = valueLabel(QStringLiteral("lbStatus"), QString(), tab);
    grid->addWidget(lbStatus, 3, 1);
    grid->addWidget(boldLabel(QStringLiteral("Label8"), QStringLiteral("Recorded:"), tab), 4, 0);
    lbRecorded = valueLabel(QStringLiteral("lbRecorded"), kIdleRecorded, tab);
    grid->addWidget(lbRecorded, 4, 1);
    grid->setColumnStretch(1, 1);
    column->addLayout(grid);

    column->addWidget(boldLabel(QStringLiteral("Label2"), QStringLiteral("Schedule:"), tab));
    auto *listRow = new QHBoxLayout;
    lvSchedule = reportView(QStringLiteral("lvSchedule"), tab);
    lvSchedule->setModel(&m_scheduleModel);
    lvSchedule->header()->resizeSection(0, 70);
    lvSchedule->header()->resizeSection(1, 100);
    connect(lvSchedule, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        QMenu *menu = lvSchedule->findChild<QMenu *>(QStringLiteral("pmSchedule"));
        menu->popup(lvSchedule->viewport()->mapToGlobal(at));
    });
    auto *scheduleMenu = new QMenu(lvSchedule);
    scheduleMenu->setObjectName(QStringLiteral("pmSchedule"));
    QAction *add1 = scheduleMenu->addAction(QStringLiteral("Add..."));
    add1->setObjectName(QStringLiteral("Add1"));
    connect(add1, &QAction::triggered, this, [this] { btnAddClick(1); });
    QAction *edit1 = scheduleMenu->addAction(QStringLiteral("Edit..."));
    edit1->setObjectName(QStringLiteral("Edit1"));
    connect(edit1, &QAction::triggered, this, [this] { btnAddClick(2); });
    QAction *delete2 = scheduleMenu->addAction(QStringLiteral("Delete"));
    delete2->setObjectName(QStringLiteral("Delete2"));
    bindDeleteKey(delete2, lvSchedule);
    connect(delete2, &QAction::triggered, this, &MainWindow::btnDeleteClick);
    connect(lvSchedule, &QAbstractItemView::doubleClicked, this, [this] { btnAddClick(2); });
    listRow->addWidget(lvSchedule, 1);
    auto *side = new QVBoxLayout;
    const std::pair<const char *, const char *> sideButtons[] = {
        {"btnSave", "Save list..."}, {"btnLoad", "Load list..."}, {"btnClear", "Clear"},
        {"btnAdd", "Add..."},        {"btnEdit", "Edit..."},      {"btnDelete", "Delete"}};
    for (const auto &[name, text] : sideButtons) {
        auto *b = new QPushButton(QString::fromLatin1(text), tab);
        b->setObjectName(QString::fromLatin1(name));
        side->addWidget(b);
    }
    auto button = [tab](const char *name) { return tab->findChild<QPushButton *>(QString::fromLatin1(name)); };
    connect(button("btnSave"), &QPushButton::clicked, this, &MainWindow::btnSaveClick);
    connect(button("btnLoad"), &QPushButton::clicked, this, &MainWindow::btnLoadClick);
    connect(button("btnClear"), &QPushButton::clicked, this, &MainWindow::btnClearClick);
    connect(button("btnAdd"), &QPushButton::clicked, this, [this] { btnAddClick(1); });
    connect(button("btnEdit"), &QPushButton::clicked, this, [this] { btnAddClick(2); });
    connect(button("btnDelete"), &QPushButton::clicked, this, &MainWindow::btnDeleteClick);
    side->addStretch();
    listRow->addLayout(side);
    column->addLayout(listRow, 1);
    return tab;
}

QWidget *MainWindow::buildArchiveTab()
{
    auto *tab = new QWidget;
    tab->setObjectName(QStringLiteral("TabSheet2"));
    auto *column = new QVBoxLayout(tab);
    lvHistory = reportView(QStringLiteral("lvHistory"), tab);
    lvHistory->setModel(&m_archive->model());
    const int widths[] = {45, 45, 35, 45, 60};
    for (int i = 0; i < 5; ++i)
        lvHistory->header()->resizeSection(i, widths[i]);
    // The path takes the rest of the width whatever width was stored; where it does not fit,
    // its middle gives way, since paths differ at their ends.
    lvHistory->header()->setSectionResizeMode(archive::ColFile, QHeaderView::Stretch);
    lvHistory->setTextElideMode(Qt::ElideMiddle);
    // Files deleted or moved outside the program turn grey without a look at every file.
    auto *fileCheck = new QTimer(lvHistory);
    fileCheck->setInterval(30000);
    connect(fileCheck, &QTimer::timeout, &m_archive->model(), &archive::HistoryModel::refreshFileStates);
    fileCheck->start();
    column->addWidget(lvHistory);

    auto *menu = new QMenu(lvHistory);
    menu->setObjectName(QStringLiteral("pmHsLst"));
    QAction *play = menu->addAction(QStringLiteral("Play"));
    play->setObjectName(QStringLiteral("Play1"));
    QFont bold = play->font();
    bold.setBold(true);
    play->setFont(bold);
    menu->setDefaultAction(play);
    connect(play, &QAction::triggered, this, &MainWindow::lvHistoryDblClick);
    menu->addSeparator();
    QAction *remove = menu->addAction(QStringLiteral("Delete"));
    remove->setObjectName(QStringLiteral("Delete1"));
    connect(remove, &QAction::triggered, this, &MainWindow::Delete1Click);
    bindDeleteKey(remove, lvHistory);
    connect(lvHistory, &QWidget::customContextMenuRequested, this,
            [this, menu](const QPoint &at) { menu->popup(lvHistory->viewport()->mapToGlobal(at)); });
    connect(lvHistory, &QAbstractItemView::doubleClicked, this, &MainWindow::lvHistoryDblClick);
    return tab;
}

void MainWindow::buildMenus()
{
    auto addAction = [this](QMenu *menu, const char *name, const char *text, const QKeySequence &key = {}) {
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
    connect(addAction(file, "Record1", "Record", QKeySequence(Qt::Key_F5)), &QAction::triggered, this,
            &MainWindow::BitBtn1Click);
    connect(addAction(file, "Stop1", "Stop", QKeySequence(Qt::Key_F8)), &QAction::triggered, this,
            &MainWindow::BitBtn2Click);
    file->addSeparator();
    connect(addAction(file, "Exit1", "Exit"), &QAction::triggered, this, &MainWindow::Exit1Click);

    QMenu *settingsMenu = menuBar()->addMenu(QStringLiteral("Settings"));
    settingsMenu->setObjectName(QStringLiteral("Settings1"));
    mLangList = settingsMenu->addMenu(QStringLiteral("Language"));
    mLangList->setObjectName(QStringLiteral("mLangList"));
    addAction(settingsMenu, "Settings2", "Settings...", QKeySequence(Qt::Key_F9));

    QMenu *help = menuBar()->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("Help1"));
    addAction(help, "Contents1", "Contents", QKeySequence(Qt::Key_F1));
    addAction(help, "Bugreport1", "Bug report...");
    addAction(help, "About1", "About...", QKeySequence(Qt::CTRL | Qt::Key_F1));
}

void MainWindow::LoadSettings()
{
    const core::Ini ini = core::Ini::load(app::programPath(QStringLiteral("vantrel.ini")));
    m_settings = app::readSettings(ini);
    lev->setBottomDb(m_settings.levelMin);
    Label3->setText(m_settings.codecName);
    placeWindow();
    if (m_settings.historyWidths) {
        for (int i = 0; i < app::kHistoryColumns; ++i)
            lvHistory->header()->resizeSection(i, (*m_settings.historyWidths)[i]);
    }
    LoadScheduleFile(app::programPath(schedule::defaultScheduleFile()));
    (void)m_archive->LoadArchive();  // an unreadable index is kept as it is, never overwritten
    const archive::ArchiveChange adopted = m_archive->adoptRecording(
        archive::RecordingJournal(archive::recordingJournalPath(app::programFolder())),
        [](const QString &path) { return audio::probeFile(path).durationSeconds; });
    if (!adopted.adoptedFile.isEmpty())
        qWarning("vantrel: archived %s, left unfinished by the last run", qPrintable(adopted.adoptedFile));
    if (!adopted.saved)
        reportArchiveChange(adopted);
}

// Centred at the layout size without a stored position; otherwise the stored bounds, each
// defaulting to the current value and brought within the screens there are now, which stay
// the normal bounds of a maximised window.
void MainWindow::placeWindow()
{
    const auto &s = m_settings;
    QList<QRect> screenAreas;  // the primary first
    if (const QScreen *primary = QGuiApplication::primaryScreen())
        screenAreas.append(primary->availableGeometry());
    for (const QScreen *screen : QGuiApplication::screens())
        if (screen != QGuiApplication::primaryScreen()) screenAreas.append(screen->availableGeometry());
    const app::StoredPlacement stored{s.windowState != int(app::WindowState::NoPosition),
                                      s.x, s.y, s.w, s.h};
    const QRect bounds = app::windowBoundsAtStart(stored, QRect(pos(), size()), screenAreas,
                                                  QSize(kDesignWidth, kDesignHeight));
    move(bounds.topLeft());
    resize(bounds.size());
    if (s.windowState == int(app::WindowState::Maximized))
        setWindowState(windowState() | Qt::WindowMaximized);
}

std::array<int, app::kHistoryColumns> MainWindow::historyColumnWidths() const
{
    std::array<int, app::kHistoryColumns> widths{};
    for (int i = 0; i < app::kHistoryColumns; ++i)
        widths[i] = lvHistory->header()->sectionSize(i);
    return widths;
}

void MainWindow::ReadSystemIni()
{
    const core::Ini ini = core::Ini::load(app::programPath(QStringLiteral("system.ini")));
    m_volumeCurveLogarithmic = ini.readInt(QStringLiteral("Options"), QStringLiteral("Lg"), 0) != 0;
}

void MainWindow::InitAudioSettings()
{
    m_audio->setVolumeCurveLogarithmic(m_volumeCurveLogarithmic);
    m_gainTable.clear();
    for (int db = -30; db <= 30; ++db)
        m_gainTable.push_back(float(std::pow(10.0, db / 20.0)));
}

void MainWindow::BuildLanguageMenu()
{
    mLangList->clear();
    auto *languages = new QActionGroup(mLangList);  // radio-style: one language is checked
    QDir langDir(app::programPath(QStringLiteral("Lang")));
    const QStringList entries = langDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &code : entries) {
        QDir folder(langDir.filePath(code));
        if (!folder.exists(QStringLiteral("vtlang.ini")))
            continue;
        QFile nameFile(folder.filePath(QStringLiteral("name")));
        QString caption = code;
        if (nameFile.open(QIODevice::ReadOnly | QIODevice::Text)) {
            const QString first = QString::fromUtf8(nameFile.readLine()).trimmed();
            if (!first.isEmpty())
                caption = first;
        }
        QAction *entry = mLangList->addAction(caption);
        entry->setCheckable(true);
        entry->setActionGroup(languages);
        entry->setChecked(code.compare(m_settings.lang, Qt::CaseInsensitive) == 0);
        entry->setData(code);
    }
}

// The language files' texts are applied here once language switching exists; until then
// the window keeps the English texts of its layout.
void MainWindow::ApplyMainLanguage()
{
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        FormShow();
    }
}

void MainWindow::FormShow()
{
    ApplyMainLanguage();
    ShowStatus();
}

// ---- running ---------------------------------------------------------------------------

// "recording" in red while a recording runs, "stopped" in black when none does, and the
// reason in red when the last start failed or the encoder died: never "recording" then.
void MainWindow::ShowStatus()
{
    QString text = m_strings.status2;
    QColor colour = Qt::black;
    if (m_recording && m_recording->isRecording()) {
        text = m_strings.status1;
        colour = Qt::red;
    } else if (m_recording && m_recording->failure() != recording::Failure::None) {
        text = m_recording->failureReason();
        colour = Qt::red;
    }
    // Lost audio stays in sight, also after the stop, until the next recording starts.
    if (m_recording && m_recording->audioDropped()) {
        text += QStringLiteral(", ") + recording::audioDroppedText();
        colour = Qt::red;
    }
    lbStatus->setText(text);
    QPalette pal = lbStatus->palette();
    pal.setColor(QPalette::WindowText, colour);
    lbStatus->setPalette(pal);
    showStateInStatusBar();
}

void MainWindow::Timer1Timer()
{
    meter::applyLevelWord(*lev, m_recording->level());
}

void MainWindow::Timer2Timer()
{
    const auto polled = m_recording->poll();
    if (polled.finished)
        AddArchiveRecord(*polled.finished);
    if (polled.changed)
        ShowStatus();

    if (!m_recording->isRecording()) {
        lbRemaining->setText(kIdleRemaining);
        lbRecorded->setText(kIdleRecorded);
        return;
    }
    lbRecorded->setText(core::formatHms(m_recording->elapsedSeconds()));
    lbRemaining->setText(m_recording->remainingText());
    showStateInStatusBar();
    if (m_recording->limitReached())
        StopRecording();
}

void MainWindow::ArchiveCheckerTimer()
{
    archive::advanceArchiveChecker(*ArchiveChecker);
    reportArchiveChange(m_archive->ArchiveCheckerTimer(QDateTime::currentDateTime(), m_settings.storeTime));
}

// The status bar repeats what the Recording tab says, so that it is seen on every tab: a
// running recording with its elapsed time and file, or a failure in red.
void MainWindow::showStateInStatusBar()
{
    QPalette pal = barRecording->palette();
    pal.setColor(QPalette::WindowText, lbStatus->palette().color(QPalette::WindowText));
    barRecording->setPalette(pal);
    if (!m_recording || !m_recording->isRecording()) {
        const bool failed = lbStatus->text() != m_strings.status2;
        barRecording->setText(failed ? lbStatus->text() : QString());
        barRecording->setToolTip(QString());
        return;
    }
    const QString file = m_recording->currentFile();
    const QString head = QStringLiteral("\u25CF %1  %2   ").arg(lbStatus->text(),
                                                                  core::formatHms(m_recording->elapsedSeconds()));
    const int room = barRecording->width() - barRecording->fontMetrics().horizontalAdvance(head);
    barRecording->setText(head + barRecording->fontMetrics().elidedText(file, Qt::ElideMiddle, qMax(80, room)));
    barRecording->setToolTip(file);
}

// ---- archive list ----------------------------------------------------------------------

void MainWindow::reportArchiveChange(const archive::ArchiveChange &change)
{
    if (change.saved)
        failureHealed(archive::kSaveFailedText);
    else
        reportError(archive::kSaveFailedCaption, archive::kSaveFailedText, change.saveError);
    // The record is gone but its file is not: say so, or the disk fills without a word.
    for (const QString &file : change.keptFiles)
        reportError(QString(), QStringLiteral("Could not move %1 to the trash; it stays on disk.").arg(file));
}

void MainWindow::lvHistoryDblClick()
{
    // The mini player opens here once playback exists.
}

void MainWindow::Delete1Click()
{
    const QModelIndexList rows = lvHistory->selectionModel()->selectedRows();
    if (!rows.isEmpty())
        reportArchiveChange(m_archive->DeleteArchiveRecord(rows.first().row()));
}

// Runs on the main thread inside the tick thread's synchronous delivery.
void MainWindow::ScheduleTick()
{
    const auto due = m_planner.tick(QDateTime::currentDateTime(), m_scheduleModel.list());
    for (const schedule::DueEntry &d : due) {
        if (d.action == schedule::ActionRecord) {
            StartRecording(quint32(d.limitMs));
        } else if (!d.endsLimitedRecordingOnly
                   || (m_recording->isRecording() && m_recording->limitBytes() > 0)) {
            StopRecording();
        }
    }
    // Here as well as in Timer2Timer, so that a limit never runs a display second over.
    if (m_recording->limitReached())
        StopRecording();
}

void MainWindow::BitBtn1Click()
{
    StartRecording(0);
}

void MainWindow::BitBtn2Click()
{
    StopRecording();
}

void MainWindow::StartRecording(quint32 limitMs)
{
    recording::RecordingConfig config;
    config.programFolder = app::programFolder();
    config.saveFolder = m_settings.saveFolder;
    config.saveFilename = m_settings.saveFilename;
    config.sampleRate = m_settings.sampleRate;
    config.codec = settings::CodecPreset::make(m_settings.codecName, m_settings.codecCmd, m_settings.codecExt);
    if (const auto finished = m_recording->StartRecording(config, limitMs))
        AddArchiveRecord(*finished);
    // From here until its record is made, the journal names the recording, so that a run
    // killed meanwhile leaves the next start enough to archive it.
    const archive::RecordingJournal journal(archive::recordingJournalPath(app::programFolder()));
    QString journalError;
    if (!m_recording->isRecording())
        journal.clear();
    else if (!journal.begin(m_recording->startTime(), m_recording->currentFile(), &journalError))
        qWarning("vantrel: %s", qPrintable(journalError));
    ShowStatus();
}

void MainWindow::StopRecording()
{
    if (const auto finished = m_recording->StopRecording())
        AddArchiveRecord(*finished);
    ShowStatus();
}

void MainWindow::AddArchiveRecord(const recording::FinishedRecording &finished)
{
    const archive::ArchiveChange change = m_archive->AddArchiveRecord(
        core::fromDayCount(finished.startTime), finished.lengthSeconds, finished.path);
    // The journal goes once the index holds the record; until then it can still be adopted.
    if (change.saved)
        archive::RecordingJournal(archive::recordingJournalPath(app::programFolder())).clear();
    reportArchiveChange(change);
}

// ---- schedule list ---------------------------------------------------------------------

// The default schedule file at start-up: what is valid in it (a missing file is an empty
// list). A damaged or unreadable file is kept, and the user is told.
void MainWindow::LoadScheduleFile(const QString &path)
{
    m_defaultSchedule = schedule::DefaultScheduleFile(path);
    QString warning;
    m_scheduleModel.setEntries(m_defaultSchedule.load(&warning));
    if (!warning.isEmpty())
        reportError(QString(), warning);
}

bool MainWindow::SaveScheduleFile(const QString &path)
{
    const std::vector<schedule::ScheduleEntry> entries = m_scheduleModel.list().entries();
    const QString failure = QStringLiteral("Unable to write to %1").arg(path);
    QString error;
    const bool saved = path == m_defaultSchedule.path() ? m_defaultSchedule.save(entries, &error)
                                                        : schedule::writeScheduleFile(path, entries, &error);
    if (saved) {
        failureHealed(failure);
        return true;
    }
    reportError(QString(), failure, error);
    return false;
}

// After every change, so that a crash or a power cut loses none of it.
void MainWindow::scheduleChanged()
{
    (void)SaveScheduleFile(m_defaultSchedule.path());
}

void MainWindow::btnSaveClick()
{
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save list..."),
                                                app::programPath(schedule::scheduleFolder()),
                                                schedule::scheduleFileFilter());
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".") + schedule::scheduleFileSuffix();
    (void)SaveScheduleFile(path);
}

void MainWindow::btnLoadClick()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Load list..."),
                                                      app::programPath(schedule::scheduleFolder()),
                                                      schedule::scheduleFileFilter());
    if (path.isEmpty())
        return;
    std::vector<schedule::ScheduleEntry> entries;
    QString error;
    if (!schedule::readScheduleForList(path, &entries, &error)) {
        qWarning("vantrel: %s", qPrintable(error));
        QMessageBox::warning(this, QStringLiteral("Load list..."), error);
        return;
    }
    m_scheduleModel.setEntries(entries);
    scheduleChanged();
}

void MainWindow::btnClearClick()
{
    m_scheduleModel.clear();
    scheduleChanged();
}

void MainWindow::btnDeleteClick()
{
    if (m_scheduleModel.removeEntry(selectedScheduleRow()))
        scheduleChanged();
}

int MainWindow::selectedScheduleRow() const
{
    const QModelIndexList rows = lvSchedule->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void MainWindow::btnAddClick(int tag)
{
    const int row = selectedScheduleRow();
    if (tag == 2 && row < 0) {
        QMessageBox::information(this, QStringLiteral("Vantrel"), m_strings.message1);
        return;
    }
    schedule::ScheduleEntryDialog dialog(this, m_strings.lts1, m_strings.lts2, m_strings.lts3);
    dialog.setEntry(tag == 1 ? schedule::ScheduleEntryDialog::newEntry(QDateTime::currentDateTime())
                             : m_scheduleModel.list().entries().at(size_t(row)));
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (tag == 1) {
        const int added = m_scheduleModel.addEntry(dialog.entry());
        lvSchedule->setCurrentIndex(m_scheduleModel.index(added, 0));
    } else {
        m_scheduleModel.replaceEntry(row, dialog.entry());
    }
    scheduleChanged();
}

void MainWindow::Exit1Click()
{
    close();
}

// ---- shut-down -------------------------------------------------------------------------

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_closed) {
        m_closed = true;
        FormClose();
    }
    event->accept();
}

// No question is asked, also not while recording: the recording is finished first so that
// its record is in the index written now, and its encoder is given time to complete the file.
void MainWindow::FormClose()
{
    // No schedule entry may start a recording between this close and the end of the
    // program (the encoder wait below lets queued ticks through otherwise).
    m_tickThread->stop();
    StopRecording();
    (void)SaveSettings();
    audio::EncoderFeed::waitForAll(kEncoderFinishMs);
}

bool MainWindow::SaveSettings()
{
    const QString path = app::programPath(QStringLiteral("vantrel.ini"));
    core::Ini ini = core::Ini::load(path);
    m_settings.levelMin = lev->bottomDb();
    app::WindowBounds bounds;
    bounds.maximized = isMaximized();
    bounds.normal = QRect(pos(), size());
    app::writeSettings(ini, m_settings, bounds, historyColumnWidths());
    if (!ini.save(path)) {
        reportError(QString(), QStringLiteral("Unable to write to %1").arg(path));
        return false;
    }
    if (!SaveScheduleFile(app::programPath(schedule::defaultScheduleFile())))
        return false;
    if (!m_archive->SaveArchive()) {
        reportError(archive::kSaveFailedCaption, archive::kSaveFailedText);
        return false;
    }
    return true;
}

void MainWindow::FormDestroy()
{
    if (m_recording)
        StopRecording();
    if (m_tickThread)
        m_tickThread->stop();
    Timer1->stop();
    Timer2->stop();
    ArchiveChecker->stop();
    if (m_audio)
        m_audio->release();
}

// A failure is said once, where the user looks and on standard error, and shown again only
// after it healed in between. The notice is not modal: a box waiting for OK must never hold
// up the schedule tick, whose work goes on while the notice is open. At close there is no
// window left to keep a notice open, so it waits for the user there.
void MainWindow::reportError(const QString &caption, const QString &text, const QString &detail)
{
    if (m_openFailures.contains(text))
        return;
    m_openFailures.insert(text);
    qWarning("vantrel: %s%s%s", qPrintable(text), detail.isEmpty() ? "" : ": ", qPrintable(detail));
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

void MainWindow::failureHealed(const QString &text)
{
    m_openFailures.remove(text);
}
