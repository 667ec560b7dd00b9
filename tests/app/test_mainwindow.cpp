// The main window in-process, offscreen, with a program folder of its own per case.
#include "app/MainWindow.h"
#include "app/ProgramFolder.h"
#include "app/Recorder.h"
#include "core/DayCount.h"
#include "core/Ini.h"
#include "i18n/StringTable.h"
#include "schedule/ScheduleFile.h"
#include "settings/SettingsDialog.h"
#include "support/Ffprobe.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QUrlQuery>
#include <QTimer>
#include <algorithm>
#include <QAbstractItemModel>
#include <QAction>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QTabWidget>
#include <QComboBox>
#include <QSpinBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

QString labelText(QWidget &w, const char *name)
{
    auto *label = w.findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<no %1>").arg(QString::fromLatin1(name));
}

int rowCount(QWidget &w, const char *name)
{
    auto *view = w.findChild<QTreeView *>(QString::fromLatin1(name));
    return view && view->model() ? view->model()->rowCount() : 0;
}


// The texts a language file must cover: every named component of a window that shows a text
// or a tool tip, by the kind of text ("Caption" or "Hint") and the component's name. Texts
// the program itself sets are left out: the main window's title (name and version), the
// codec's name, the status, the remaining and recorded times, the status bar's line and the
// dialog's example file name. A dialog the window owns has texts of its own.
struct VisibleText {
    QString kind;
    QString name;
    QString text;
};

// The tab widget that shows `page` as a tab (a page's parent is the tab widget's stack).
QTabWidget *tabWidgetOf(QWidget *page)
{
    QWidget *stack = page->parentWidget();
    auto *tabs = stack ? qobject_cast<QTabWidget *>(stack->parentWidget()) : nullptr;
    return tabs && tabs->indexOf(page) >= 0 ? tabs : nullptr;
}

bool inOtherDialog(QObject *o, QWidget *window)
{
    for (; o && o != window; o = o->parent())
        if (qobject_cast<QDialog *>(o))
            return true;
    return false;
}

QList<VisibleText> visibleTexts(QWidget *window)
{
    static const QStringList setByTheProgram{QStringLiteral("MainForm"), QStringLiteral("Label3"), QStringLiteral("lbStatus"),
                                             QStringLiteral("lbRemaining"), QStringLiteral("lbRecorded"),
                                             QStringLiteral("lbBarRecording"), QStringLiteral("Label8")};
    QList<VisibleText> texts;
    const auto add = [&](QObject *o, const char *kind, const QString &text) {
        if (!text.isEmpty() && !setByTheProgram.contains(o->objectName()))
            texts.append({QString::fromLatin1(kind), o->objectName(), text});
    };
    QList<QObject *> components{window};
    components += window->findChildren<QObject *>();
    for (QObject *o : components) {
        if (o->objectName().startsWith(QLatin1String("qt_")) || inOtherDialog(o, window))
            continue;
        if (auto *action = qobject_cast<QAction *>(o)) {
            // A menu's own action shows the menu's title; the language entries show the
            // languages' own names.
            const bool languageEntry = action->actionGroup() != nullptr;
            if (!action->menu() && !action->isSeparator() && !languageEntry) {
                add(o, "Caption", action->text());
                add(o, "Hint", action->statusTip());
            }
            continue;
        }
        auto *w = qobject_cast<QWidget *>(o);
        if (!w)
            continue;
        if (auto *label = qobject_cast<QLabel *>(w))
            add(o, "Caption", label->text());
        else if (auto *button = qobject_cast<QAbstractButton *>(w); button && !qobject_cast<QTabBar *>(w->parent()))
            add(o, "Caption", button->text());
        else if (auto *group = qobject_cast<QGroupBox *>(w))
            add(o, "Caption", group->title());
        else if (auto *menu = qobject_cast<QMenu *>(w))
            add(o, "Caption", menu->title());
        else if (QTabWidget *tabs = tabWidgetOf(w))
            add(o, "Caption", tabs->tabText(tabs->indexOf(w)));
        else if (w == window)
            add(o, "Caption", w->windowTitle());
        add(o, "Hint", w->toolTip());
    }
    return texts;
}

// "Main.Captions: Label1 'Codec:'" for each text that `sections` (by kind) lacks a key for,
// and for each text shown by a component without a name, which no language file can reach.
QStringList uncoveredTexts(QWidget *window, const core::Ini &file, const QMap<QString, QStringList> &sections)
{
    QStringList missing;
    for (const VisibleText &t : visibleTexts(window)) {
        const QStringList &where = sections[t.kind];
        const bool covered = !t.name.isEmpty() && std::any_of(where.begin(), where.end(), [&](const QString &s) {
            return file.hasKey(s, t.name);
        });
        if (!covered)
            missing << QStringLiteral("%1: %2 '%3'").arg(where.join(u'/'), t.name, t.text);
    }
    return missing;
}

// Stands in for the desktop's handler of links: records what it was asked to open.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    OpenedUrls()
    {
        for (const char *scheme : {"file", "mailto", "https"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~OpenedUrls() override
    {
        for (const char *scheme : {"file", "mailto", "https"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls.append(url); }
};

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        app::setProgramFolder(m_dir->path());
    }

    void firstStartInAnEmptyFolder()
    {
        QStringList errors;
        {
            MainWindow w;
            w.setErrorReporter([&](const QString &, const QString &text) { errors << text; });
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QCOMPARE(w.size(), QSize(500, 370));
            QCOMPARE(w.minimumSize(), QSize(500, 370));
            const QRect area = w.screen()->availableGeometry();
            QCOMPARE(w.pos(), area.center() - QPoint(250, 185));
            QCOMPARE(w.windowTitle(), QStringLiteral("Vantrel (%1)").arg(QStringLiteral(VANTREL_VERSION)));
            QCOMPARE(labelText(w, "lbRemaining"), QStringLiteral("? d ?:??:??"));
            QCOMPARE(labelText(w, "lbRecorded"), QStringLiteral("0:00:00"));
            QCOMPARE(labelText(w, "lbStatus"), QStringLiteral("stopped"));
            auto *status = w.findChild<QLabel *>(QStringLiteral("lbStatus"));
            QCOMPARE(status->palette().color(QPalette::WindowText), QColor(Qt::black));
            QCOMPARE(labelText(w, "Label3"), QString());
            QCOMPARE(rowCount(w, "lvSchedule"), 0);
            QCOMPARE(rowCount(w, "lvHistory"), 0);
            w.close();
        }
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(u'\n')));
        const QByteArray ini = readAll(m_dir->filePath(QStringLiteral("vantrel.ini")));
        const char *order[] = {"[Options]", "LevelMin=-24", "SaveFolder=", "SaveFilename=%y-%m-%d_%t",
                               "StoreTime=30", "Lang=En", "[WindowPos]", "State=0", "X=", "Y=", "W=500",
                               "H=370", "[Device]", "RecDev=0", "RecSrc=0", "SampleRate=44100", "PlayDev=1",
                               "[Encoder]", "Name=", "Cmd=", "Ext=", "[Columns]", "History="};
        int at = 0;
        for (const char *item : order) {
            const int found = ini.indexOf(item, at);
            QVERIFY2(found >= 0, qPrintable(QStringLiteral("%1 missing or out of order in:\n%2")
                                                .arg(QLatin1String(item), QString::fromUtf8(ini))));
            at = found + int(qstrlen(item));
        }
    }

    void handEditedFileKeepsItsOtherLines()
    {
        const QString path = m_dir->filePath(QStringLiteral("vantrel.ini"));
        writeFile(path,
                  "; my recorder\n"
                  "[OPTIONS]\n"
                  "savefolder = /srv/rec \n"
                  "STORETIME=0x10\n"
                  "StoreTime=3\n"
                  "[Studio]\n"
                  "Owner=Night desk\n"
                  "[device]\n"
                  "samplerate=$BB80\n");
        {
            MainWindow w;
            w.setErrorReporter([](const QString &, const QString &) {});
            QCOMPARE(w.settings().saveFolder, QStringLiteral("/srv/rec"));
            QCOMPARE(w.settings().storeTime, 16);
            QCOMPARE(w.settings().sampleRate, 48000);
            w.show();
            w.close();
        }
        const QString text = QString::fromUtf8(readAll(path));
        QVERIFY(text.startsWith(QStringLiteral("; my recorder\n")));
        QVERIFY(text.contains(QStringLiteral("[Studio]\nOwner=Night desk\n")));
        QCOMPARE(text.count(QStringLiteral("[Options]"), Qt::CaseInsensitive), 1);
        QCOMPARE(text.count(QStringLiteral("[Device]"), Qt::CaseInsensitive), 1);
        QCOMPARE(text.count(QStringLiteral("[WindowPos]"), Qt::CaseInsensitive), 1);
        const core::Ini back = core::Ini::load(path);
        QCOMPARE(back.readInt(QStringLiteral("Options"), QStringLiteral("StoreTime"), 0), 16);
        QCOMPARE(back.readString(QStringLiteral("Options"), QStringLiteral("SaveFolder")), QStringLiteral("/srv/rec"));
    }

    void maximisedStateAndItsNormalBounds()
    {
        const QString path = m_dir->filePath(QStringLiteral("vantrel.ini"));
        writeFile(path, "[WindowPos]\nState=1\nX=30\nY=40\nW=640\nH=420\n");
        {
            MainWindow w;
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QVERIFY(w.isMaximized());
            w.close();  // closed while maximised
        }
        core::Ini ini = core::Ini::load(path);
        QCOMPARE(ini.readInt(QStringLiteral("WindowPos"), QStringLiteral("State"), 0), 1);
        QCOMPARE(ini.readInt(QStringLiteral("WindowPos"), QStringLiteral("W"), 0), 640);
        QCOMPARE(ini.readInt(QStringLiteral("WindowPos"), QStringLiteral("X"), 0), 30);
        {
            MainWindow w;
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            w.showNormal();
            QTRY_VERIFY(!w.isMaximized());
            QTRY_COMPARE(w.size(), QSize(640, 420));
            QCOMPARE(w.pos(), QPoint(30, 40));
        }
    }

    void deviceNumbersBeyondTheListsOpenSilently()
    {
        writeFile(m_dir->filePath(QStringLiteral("vantrel.ini")),
                  "[Device]\nRecDev=99\nRecSrc=42\nPlayDev=77\n");
        QStringList errors;
        MainWindow w;
        w.setErrorReporter([&](const QString &, const QString &text) { errors << text; });
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.close();
        QVERIFY(errors.isEmpty());
    }

    // Root may write anywhere, so the unwritable folder is tested with the rights of an
    // ordinary user: the effective user id is dropped for the close and restored after.
    void readOnlyFolderReportsAndStillCloses()
    {
        QVERIFY(QFile::setPermissions(m_dir->path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                         QFileDevice::ReadOther | QFileDevice::ExeOther |
                                                         QFileDevice::ReadGroup | QFileDevice::ExeGroup));
        const bool root = ::geteuid() == 0;
        QStringList errors;
        {
            MainWindow w;
            w.setErrorReporter([&](const QString &, const QString &text) { errors << text; });
            w.show();
            if (root)
                QVERIFY(::seteuid(65534) == 0);
            w.close();
            if (root)
                QVERIFY(::seteuid(0) == 0);
            QVERIFY(!w.isVisible());
        }
        QFile::setPermissions(m_dir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(errors, QStringList{QStringLiteral("Unable to write to %1").arg(m_dir->filePath(QStringLiteral("vantrel.ini")))});
        QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("vantrel.ini"))));
    }

    // F5 records, F8 stops; closing while recording finishes the file and archives it.
    void shortcutsRecordAndCloseFinishesTheRecording()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the test sound server (PULSE_SERVER)");
        const QString rec = m_dir->filePath(QStringLiteral("rec"));
        QVERIFY(QFile::link(QStringLiteral(VT_PROGRAM_DIR "/Plugins"), m_dir->filePath(QStringLiteral("Plugins"))));
        writeFile(m_dir->filePath(QStringLiteral("vantrel.ini")),
                  QStringLiteral("[Options]\nSaveFolder=%1\n[Encoder]\nName=Ogg\nCmd=oggenc -Q -o ::s -\nExt=ogg\n")
                      .arg(rec)
                      .toUtf8());
        {
            MainWindow w;
            w.show();
            QVERIFY(QTest::qWaitForWindowActive(&w));
            QTest::keyClick(&w, Qt::Key_F5);
            QTRY_COMPARE(labelText(w, "lbStatus"), QStringLiteral("recording"));
            auto *status = w.findChild<QLabel *>(QStringLiteral("lbStatus"));
            QCOMPARE(status->palette().color(QPalette::WindowText), QColor(Qt::red));
            QTRY_VERIFY_WITH_TIMEOUT(labelText(w, "lbRecorded") >= QStringLiteral("0:00:02"), 10000);
            QTest::keyClick(&w, Qt::Key_F8);
            QCOMPARE(labelText(w, "lbStatus"), QStringLiteral("stopped"));
            QCOMPARE(rowCount(w, "lvHistory"), 1);
            QTest::keyClick(&w, Qt::Key_F5);
            QTest::qWait(2500);
            w.close();  // no question; the running recording is finished first
        }
        const core::Ini index = core::Ini::load(m_dir->filePath(QStringLiteral("Log/VantrelArchive.ini")));
        QCOMPARE(index.sections(), (QStringList{QStringLiteral("Item0"), QStringLiteral("Item1")}));
        const QString last = index.readString(QStringLiteral("Item1"), QStringLiteral("Filename"));
        QVERIFY(last.startsWith(rec + QStringLiteral("/")) && last.endsWith(QStringLiteral(".ogg")));
        QVERIFY(index.readInt(QStringLiteral("Item1"), QStringLiteral("Length"), -1) >= 2);
        // The close waited for the encoder: the file is complete (its last page is written).
        QVERIFY(testsupport::ffprobeDuration(last) >= 2.0);
    }

    // A modal dialog runs its own event loop; the tick still arrives and the entry fires.
    void scheduleKeepsWorkingUnderAModalDialog()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the test sound server (PULSE_SERVER)");
        recordWavIntoRec();
        schedule::ScheduleEntry entry;
        entry.time = core::toDayCount(QDateTime::currentDateTime().addSecs(2));
        entry.lengthMs = 1000;
        entry.action = schedule::ActionRecord;
        QVERIFY(schedule::writeScheduleFile(m_dir->filePath(schedule::defaultScheduleFile()), {entry}));

        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QDialog modal(&w);
        QTimer::singleShot(5000, &modal, &QDialog::accept);
        modal.exec();
        QCOMPARE(rowCount(w, "lvHistory"), 1);  // started, limited to a second, archived
        w.close();
    }

    // An index that cannot be written is said once, in a notice that does not hold up the
    // schedule: the next entry still fires on time.
    void failedArchiveSaveNeverHoldsUpTheSchedule()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the test sound server (PULSE_SERVER)");
        recordWavIntoRec();
        writeFile(m_dir->filePath(QStringLiteral("Log")), "a file where the index's folder belongs");
        std::vector<schedule::ScheduleEntry> entries(2);
        for (int i = 0; i < 2; ++i) {
            entries[size_t(i)].time = core::toDayCount(QDateTime::currentDateTime().addSecs(2 + 3 * i));
            entries[size_t(i)].lengthMs = 1000;
            entries[size_t(i)].action = schedule::ActionRecord;
        }
        QVERIFY(schedule::writeScheduleFile(m_dir->filePath(schedule::defaultScheduleFile()), entries));

        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_COMPARE_WITH_TIMEOUT(rowCount(w, "lvHistory"), 2, 12000);
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        // The coverage ledger cannot be made in Log either: said once at the start, beside.
        const auto notices = w.findChildren<QMessageBox *>(QStringLiteral("failureNotice"));
        QCOMPARE(notices.size(), 2);
        QVERIFY(notices.first()->text().startsWith(QStringLiteral("The coverage ledger")));
        QVERIFY(notices.last()->isVisible());
        QCOMPARE(notices.last()->text(), QStringLiteral("Cannot save!"));
        for (QMessageBox *notice : notices) notice->close();
        QFile::remove(m_dir->filePath(QStringLiteral("Log")));
        w.setErrorReporter([](const QString &, const QString &) {});
        w.close();
    }

    // Every change of the schedule is on disk at once; a file without entries loads nothing.
    void scheduleChangesAreWrittenAtOnce()
    {
        const QString path = m_dir->filePath(schedule::defaultScheduleFile());
        const schedule::ScheduleEntry eight{core::timeOfDayFraction(QTime(8, 0)), 0, schedule::ActionRecord};
        const schedule::ScheduleEntry nine{core::timeOfDayFraction(QTime(9, 0)), 0, schedule::ActionStop};
        QVERIFY(schedule::writeScheduleFile(path, {eight, nine}));
        const QString junk = m_dir->filePath(QStringLiteral("junk.vts"));
        writeFile(junk, QByteArray(16, '\x7f'));
        auto entriesOnDisk = [&path] {
            std::vector<schedule::ScheduleEntry> entries;
            return schedule::readScheduleFile(path, &entries) ? int(entries.size()) : -1;
        };

        // Answers the dialogs the commands open: the entry dialog with OK, the open dialog
        // with the junk file, a message box by noting its text.
        QStringList messages;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                messages << box->text();
                box->accept();
            } else if (auto *files = qobject_cast<QFileDialog *>(modal)) {
                files->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(junk);
                static_cast<QDialog *>(files)->accept();
            } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
                dialog->accept();
            }
        });
        answer.start(50);

        QStringList errors;
        MainWindow w;
        w.setErrorReporter([&](const QString &, const QString &text) { errors << text; });
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto *list = w.findChild<QTreeView *>(QStringLiteral("lvSchedule"));
        auto button = [&w](const char *name) { return w.findChild<QPushButton *>(QString::fromLatin1(name)); };
        list->setFocus();
        list->setCurrentIndex(list->model()->index(0, 0));
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(rowCount(w, "lvSchedule"), 1);
        QCOMPARE(entriesOnDisk(), 1);
        button("btnAdd")->click();
        QCOMPARE(rowCount(w, "lvSchedule"), 2);
        QCOMPARE(entriesOnDisk(), 2);
        button("btnLoad")->click();
        QCOMPARE(messages, QStringList{junk + QStringLiteral(" holds no schedule entries.")});
        QCOMPARE(rowCount(w, "lvSchedule"), 2);
        QCOMPARE(entriesOnDisk(), 2);
        button("btnClear")->click();
        QCOMPARE(entriesOnDisk(), 0);
        w.close();
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(u'\n')));
    }

    // F9 opens the settings. A preset picked and cancelled is current at once while the
    // codec caption waits for an OK; after OK the next recording follows the new codec and
    // name template, and the close stores the new values and the preset list.
    void settingsDialogSetsUpTheNextRecording()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the test sound server (PULSE_SERVER)");
        recordWavIntoRec();
        const QString presets = m_dir->filePath(QStringLiteral("Presets/Vantrel/Codecs.prs"));
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("Presets/Vantrel"))));
        QVERIFY(QFile::copy(QStringLiteral(VT_PROGRAM_DIR "/Presets/Vantrel/Codecs.prs"), presets));
        const QByteArray shippedPresets = readAll(presets);

        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // Runs inside the dialog's own event loop once F9 has opened it.
        const auto whenOpen = [&w](std::function<void(QDialog &)> act) {
            QTimer::singleShot(0, &w, [&w, act] {
                auto *dialog = w.findChild<QDialog *>(QStringLiteral("frmSettings"));
                QVERIFY(dialog && dialog->isVisible());
                act(*dialog);
            });
        };
        const auto find = [](QDialog &dialog, const char *name) {
            return dialog.findChild<QWidget *>(QString::fromLatin1(name));
        };

        whenOpen([&](QDialog &dialog) {
            auto *list = static_cast<QComboBox *>(find(dialog, "cbcodec"));
            list->setCurrentIndex(list->findText(QStringLiteral("FLAC")));
            static_cast<QPushButton *>(find(dialog, "Button2"))->click();
        });
        QTest::keyClick(&w, Qt::Key_F9);
        QCOMPARE(w.settings().codecName, QStringLiteral("FLAC"));
        QCOMPARE(labelText(w, "Label3"), QStringLiteral("WAV"));
        w.activateWindow();  // the offscreen platform gives the focus back to no window
        QVERIFY(QTest::qWaitForWindowActive(&w));

        whenOpen([&](QDialog &dialog) {
            auto *file = static_cast<QLineEdit *>(find(dialog, "edFile"));
            file->clear();
            QTest::keyClicks(file, QStringLiteral("news_%d_%t"));
            static_cast<QSpinBox *>(find(dialog, "edRecLt"))->setValue(7);
            static_cast<QPushButton *>(find(dialog, "Button1"))->click();
        });
        QTest::keyClick(&w, Qt::Key_F9);
        QCOMPARE(labelText(w, "Label3"), QStringLiteral("FLAC"));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));

        QTest::keyClick(&w, Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(labelText(w, "lbRecorded") >= QStringLiteral("0:00:02"), 10000);
        QTest::keyClick(&w, Qt::Key_F8);
        w.close();

        const QStringList files = QDir(m_dir->filePath(QStringLiteral("rec"))).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        const QRegularExpression named(QStringLiteral("^news_%1_\\d\\d-\\d\\d-\\d\\d\\.flac$")
                                           .arg(QDate::currentDate().toString(QStringLiteral("dd"))));
        QVERIFY2(named.match(files.first()).hasMatch(), qPrintable(files.first()));
        QVERIFY(testsupport::ffprobeDuration(m_dir->filePath(QStringLiteral("rec/")) + files.first()) >= 1.5);

        const core::Ini ini = core::Ini::load(m_dir->filePath(QStringLiteral("vantrel.ini")));
        QCOMPARE(ini.readString(QStringLiteral("Options"), QStringLiteral("SaveFilename")), QStringLiteral("news_%d_%t"));
        QCOMPARE(ini.readInt(QStringLiteral("Options"), QStringLiteral("StoreTime"), 0), 7);
        QCOMPARE(ini.readString(QStringLiteral("Encoder"), QStringLiteral("Name")), QStringLiteral("FLAC"));
        QCOMPARE(ini.readString(QStringLiteral("Encoder"), QStringLiteral("Ext")), QStringLiteral("flac"));
        QCOMPARE(readAll(presets), shippedPresets);
    }

    // Each shipped language file has a key for every text a user sees in the main window and
    // the settings dialog, so that a new control cannot be left untranslated.
    void shippedLanguagesCoverEveryVisibleText()
    {
        MainWindow w;
        w.setErrorReporter([](const QString &, const QString &) {});
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        settings::SettingsDialog dialog(w.recorder(), &w);
        for (const QString &code : shippedLanguages()) {
            const core::Ini file = core::Ini::load(QStringLiteral(VT_SOURCE_DIR "/data/Lang/%1/vtlang.ini").arg(code));
            QStringList missing = uncoveredTexts(&w, file, mainSections()) + uncoveredTexts(&dialog, file, dialogSections());
            QStringList keys{QStringLiteral("ScheduleList.Columns/c2"), QStringLiteral("HistoryList.Columns/c5")};
            for (const QString &key : i18n::stringTableKeys())
                keys << QStringLiteral("Strings/") + key;
            for (const QString &key : keys)
                if (!file.hasKey(key.section(u'/', 0, 0), key.section(u'/', 1)))
                    missing << key;
            QVERIFY2(missing.isEmpty(), qPrintable(code + QStringLiteral(" lacks:\n") + missing.join(u'\n')));
        }
    }

    // En -> De -> Ru -> En from the menu while recording: every text changes at once to the
    // next file's, the status line included, and the recording goes on into the same file.
    void languageSwitchesAtOnceWhileRecording()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the test sound server (PULSE_SERVER)");
        recordWavIntoRec();
        QVERIFY(QFile::link(QStringLiteral(VT_SOURCE_DIR "/data/Lang"), m_dir->filePath(QStringLiteral("Lang"))));
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_F5);
        QTRY_COMPARE(labelText(w, "lbStatus"), QStringLiteral("recording"));
        const QString file = w.recorder().currentFile();
        auto *languages = w.findChild<QMenu *>(QStringLiteral("mLangList"));
        QCOMPARE(languages->actions().size(), 3);
        for (const QString &code : {QStringLiteral("De"), QStringLiteral("Ru"), QStringLiteral("En")}) {
            const QList<QAction *> entries = languages->actions();
            const auto entry = std::find_if(entries.begin(), entries.end(),
                                            [&](QAction *a) { return a->data().toString() == code; });
            QVERIFY(entry != entries.end());
            (*entry)->trigger();
            QVERIFY((*entry)->isChecked());
            QCOMPARE(w.settings().lang, code);
            const core::Ini lang = core::Ini::load(m_dir->filePath(QStringLiteral("Lang/%1/vtlang.ini").arg(code)));
            const QString recording = lang.readString(QStringLiteral("Strings"), QStringLiteral("_status1"));
            QCOMPARE(labelText(w, "lbStatus"), recording);
            QVERIFY(labelText(w, "lbBarRecording").contains(recording));
            for (const VisibleText &t : visibleTexts(&w)) {
                // The sections apply in this order, so the last that names a component wins.
                const QStringList order = t.kind == QLatin1String("Caption")
                                              ? QStringList{QStringLiteral("Main.Captions"), QStringLiteral("Main.MenuItems")}
                                              : QStringList{QStringLiteral("Main.Hints"), QStringLiteral("Main.MenuHints")};
                QString expected;
                for (const QString &section : order)
                    expected = lang.readString(section, t.name, expected);
                QVERIFY2(t.text == expected, qPrintable(QStringLiteral("%1 %2 %3: '%4', not '%5'")
                                                            .arg(code, t.kind, t.name, t.text, expected)));
            }
            QCOMPARE(w.recorder().scheduleModel().headerData(2, Qt::Horizontal).toString(),
                     lang.readString(QStringLiteral("ScheduleList.Columns"), QStringLiteral("c2")));
            QCOMPARE(w.recorder().currentFile(), file);
        }
        QTRY_VERIFY_WITH_TIMEOUT(labelText(w, "lbRecorded") >= QStringLiteral("0:00:02"), 10000);
        QTest::keyClick(&w, Qt::Key_F8);
        QCOMPARE(rowCount(w, "lvHistory"), 1);
        QTRY_VERIFY_WITH_TIMEOUT(testsupport::ffprobeDuration(file) >= 2.0, 5000);  // once the writer has closed it
    }

    // With German chosen, a failure (a recording device that is not there) and a warning
    // (silence, with a threshold no signal reaches) read German in the status line and bar.
    void failureAndWarningReadAsTheLanguageSays()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the test sound server (PULSE_SERVER)");
        QVERIFY(QFile::link(QStringLiteral(VT_PROGRAM_DIR "/Plugins"), m_dir->filePath(QStringLiteral("Plugins"))));
        QVERIFY(QFile::link(QStringLiteral(VT_SOURCE_DIR "/data/Lang"), m_dir->filePath(QStringLiteral("Lang"))));
        writeFile(m_dir->filePath(QStringLiteral("vantrel.ini")),
                  QStringLiteral("[Options]\nLang=De\nSaveFolder=%1\n[Device]\nRecDev=99\n[Encoder]\nName=WAV\n"
                                 "Cmd=vtwav ::s\nExt=wav\n[Alarm]\nSilenceDb=0\nSilenceSeconds=1\n")
                      .arg(m_dir->filePath(QStringLiteral("rec")))
                      .toUtf8());
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::keyClick(&w, Qt::Key_F5);
        QVERIFY2(labelText(w, "lbStatus").startsWith(QStringLiteral("Aufnahme fehlgeschlagen: ")),
                 qPrintable(labelText(w, "lbStatus")));
        QCOMPARE(labelText(w, "lbBarRecording"), labelText(w, "lbStatus"));

        app::Settings settings = w.settings();
        settings.recDev = 0;
        w.recorder().applySettings(settings);
        QTest::keyClick(&w, Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(labelText(w, "lbStatus").startsWith(QStringLiteral("Aufnahme läuft, Stille 0:00:")), 10000);
        QVERIFY(labelText(w, "lbBarRecording").contains(QStringLiteral("Aufnahme läuft, Stille 0:00:")));
        QTest::keyClick(&w, Qt::Key_F8);
    }

    // A notice of the start-up (a damaged default schedule kept aside) waits for the window
    // and is then shown once, in the language of the settings.
    void startUpNoticeIsShownOnceTheWindowIsUp()
    {
        QVERIFY(QFile::link(QStringLiteral(VT_SOURCE_DIR "/data/Lang"), m_dir->filePath(QStringLiteral("Lang"))));
        writeFile(m_dir->filePath(QStringLiteral("vantrel.ini")), "[Options]\nLang=De\n");
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("Presets/Vantrel"))));
        writeFile(m_dir->filePath(QStringLiteral("Presets/Vantrel/Default.vts")),
                  schedule::encodeSchedule({schedule::ScheduleEntry{0.5, 0, schedule::ActionRecord}}) + "\x01\x02");
        QStringList notices;
        MainWindow w;
        w.setErrorReporter([&](const QString &, const QString &text) { notices << text; });
        QVERIFY(notices.isEmpty());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.front().contains(QStringLiteral("enthält beschädigte Einträge")), qPrintable(notices.front()));
        QCOMPARE(rowCount(w, "lvSchedule"), 1);
    }

    // Qt's own texts switch with the language: the key names of shortcuts, and the file
    // dialog, whose title comes from the language file.
    void qtTextsFollowTheLanguage()
    {
        QVERIFY(QFile::link(QStringLiteral(VT_SOURCE_DIR "/data/Lang"), m_dir->filePath(QStringLiteral("Lang"))));
        MainWindow w;
        w.setErrorReporter([](const QString &, const QString &) {});
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *languages = w.findChild<QMenu *>(QStringLiteral("mLangList"));
        const auto choose = [&](const QString &code) {
            for (QAction *entry : languages->actions())
                if (entry->data().toString() == code)
                    entry->trigger();
        };
        const QKeySequence about(Qt::CTRL | Qt::Key_F1);
        QCOMPARE(about.toString(QKeySequence::NativeText), QStringLiteral("Ctrl+F1"));
        choose(QStringLiteral("De"));
        QCOMPARE(about.toString(QKeySequence::NativeText), QStringLiteral("Strg+F1"));

        QString title, cancel;
        QTimer::singleShot(0, this, [&] {
            auto *files = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(files);
            title = files->windowTitle();
            cancel = files->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->text();
            files->reject();
        });
        w.findChild<QAbstractButton *>(QStringLiteral("btnLoad"))->click();
        QCOMPARE(title, QStringLiteral("Liste laden..."));
        QCOMPARE(cancel, QStringLiteral("Abbrechen"));

        choose(QStringLiteral("En"));
        QCOMPARE(about.toString(QKeySequence::NativeText), QStringLiteral("Ctrl+F1"));
    }

    // Folder names, a code in another case, keys that name nothing or a component without a
    // caption, a file without every string, and no language folder at all.
    void languageFoldersAndFilesAsAUserMeetsThem()
    {
        const auto lang = [&](const char *folder, const QByteArray &name, const QByteArray &file) {
            QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("Lang/%1").arg(QLatin1String(folder))));
            writeFile(m_dir->filePath(QStringLiteral("Lang/%1/name").arg(QLatin1String(folder))), name + "\n");
            if (!file.isNull())
                writeFile(m_dir->filePath(QStringLiteral("Lang/%1/vtlang.ini").arg(QLatin1String(folder))), file);
        };
        lang("En", "English", "[Strings]\n_action1=Rec\n");
        lang("Ru", "Русский",
             "[Main.MenuItems]\nSettings2=Настройки...\n[Main.MenuHints]\nsettings2=Параметры записи\n"
             "[Form.Settings]\nGroupBox2=Запись\nprsname=skipped\nnoSuchThing=x\n"
             "[Strings]\n_status2=остановлено\n");
        lang("English", "English folder", "[Main.MenuItems]\nSettings2=Wrong folder\n");
        lang("Xx", "No file", QByteArray());
        writeFile(m_dir->filePath(QStringLiteral("vantrel.ini")), "[Options]\nLang=ru\n");
        {
            MainWindow w;
            w.setErrorReporter([](const QString &, const QString &) {});
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QList<QAction *> entries = w.findChild<QMenu *>(QStringLiteral("mLangList"))->actions();
            QStringList captions;
            for (QAction *entry : entries)
                captions << entry->text() + (entry->isChecked() ? QStringLiteral("*") : QString());
            captions.sort();
            QCOMPARE(captions, (QStringList{QStringLiteral("English"), QStringLiteral("English folder"),
                                            QStringLiteral("Русский*")}));
            auto *settings2 = w.findChild<QAction *>(QStringLiteral("Settings2"));
            QCOMPARE(settings2->text(), QStringLiteral("Настройки..."));
            QCOMPARE(settings2->statusTip(), QStringLiteral("Параметры записи"));
            QCOMPARE(labelText(w, "lbStatus"), QStringLiteral("остановлено"));
            const int row = w.recorder().addScheduleEntry({0.5, 0, schedule::ActionRecord});
            QCOMPARE(w.recorder().scheduleModel().cellText(row, 2), QStringLiteral("Record"));

            QTimer::singleShot(0, [&] {
                auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                QCOMPARE(dialog->findChild<QGroupBox *>(QStringLiteral("GroupBox2"))->title(), QStringLiteral("Запись"));
                QVERIFY(dialog->findChild<QLineEdit *>(QStringLiteral("prsname"))->text() != QStringLiteral("skipped"));
                dialog->reject();
            });
            settings2->trigger();

            // The folder "English" stands for the code En: its own file is never read.
            const auto english = std::find_if(entries.begin(), entries.end(),
                                              [](QAction *a) { return a->text() == QLatin1String("English folder"); });
            (*english)->trigger();
            QCOMPARE(w.settings().lang, QStringLiteral("En"));
            QCOMPARE(settings2->text(), QStringLiteral("Настройки..."));  // En does not set it
            QCOMPARE(w.recorder().scheduleModel().cellText(row, 2), QStringLiteral("Rec"));
            QCOMPARE(labelText(w, "lbStatus"), QStringLiteral("stopped"));
            w.close();
        }
        QVERIFY(QDir(m_dir->filePath(QStringLiteral("Lang"))).removeRecursively());
        MainWindow w;
        w.setErrorReporter([](const QString &, const QString &) {});
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.findChild<QMenu *>(QStringLiteral("mLangList"))->actions().isEmpty());
        QCOMPARE(w.findChild<QAction *>(QStringLiteral("Settings2"))->text(), QStringLiteral("Settings..."));
        QCOMPARE(labelText(w, "lbStatus"), QStringLiteral("stopped"));
    }

    // F1 opens the page of the current language, nothing without one; the problem report
    // names the build's version.
    void helpMenuOpensTheLanguagesPageAndTheReportMail()
    {
        QVERIFY(QFile::link(QStringLiteral(VT_SOURCE_DIR "/data/Lang"), m_dir->filePath(QStringLiteral("Lang"))));
        writeFile(m_dir->filePath(QStringLiteral("vantrel.ini")), "[Options]\nLang=De\n");
        OpenedUrls opened;
        {
            MainWindow w;
            w.setErrorReporter([](const QString &, const QString &) {});
            w.show();
            QVERIFY(QTest::qWaitForWindowActive(&w));
            QTest::keyClick(&w, Qt::Key_F1);
            w.findChild<QAction *>(QStringLiteral("Bugreport1"))->trigger();
            QCOMPARE(opened.urls.size(), 2);
            QCOMPARE(opened.urls[0], QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("Lang/De/vthelp.html"))));
            QCOMPARE(opened.urls[1].scheme(), QStringLiteral("mailto"));
            QCOMPARE(QUrlQuery(opened.urls[1]).queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
                     QStringLiteral("Vantrel (v.%1)").arg(QStringLiteral(VANTREL_VERSION)));
        }
        QVERIFY(QFile::remove(m_dir->filePath(QStringLiteral("Lang"))));
        MainWindow w;
        w.setErrorReporter([](const QString &, const QString &) {});
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_F1);
        QCOMPARE(opened.urls.size(), 2);
    }

private:
    static QStringList shippedLanguages() { return {QStringLiteral("En"), QStringLiteral("De"), QStringLiteral("Ru")}; }
    static QMap<QString, QStringList> mainSections()
    {
        return {{QStringLiteral("Caption"), {QStringLiteral("Main.Captions"), QStringLiteral("Main.MenuItems")}},
                {QStringLiteral("Hint"), {QStringLiteral("Main.Hints"), QStringLiteral("Main.MenuHints")}}};
    }
    static QMap<QString, QStringList> dialogSections()
    {
        return {{QStringLiteral("Caption"), {QStringLiteral("Form.Settings")}},
                {QStringLiteral("Hint"), {QStringLiteral("Form.Settings.Hints")}}};
    }

    // The build's encoders, and the WAV writer recording into rec/ of the program folder.
    void recordWavIntoRec()
    {
        QVERIFY(QFile::link(QStringLiteral(VT_PROGRAM_DIR "/Plugins"), m_dir->filePath(QStringLiteral("Plugins"))));
        writeFile(m_dir->filePath(QStringLiteral("vantrel.ini")),
                  // No disk warning: 24 hours of WAV need more room than a test machine may have.
                  QStringLiteral("[Options]\nSaveFolder=%1\n[Alarm]\nDiskHours=0\n[Encoder]\nName=WAV\nCmd=vtwav ::s\nExt=wav\n")
                      .arg(m_dir->filePath(QStringLiteral("rec")))
                      .toUtf8());
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
