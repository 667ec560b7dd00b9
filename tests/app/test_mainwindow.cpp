// The main window in-process, offscreen, with a program folder of its own per case.
#include "app/MainWindow.h"
#include "app/ProgramFolder.h"
#include "core/DayCount.h"
#include "core/Ini.h"
#include "schedule/ScheduleFile.h"
#include "support/Ffprobe.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QSpinBox>
#include <QDialog>
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
        const auto notices = w.findChildren<QMessageBox *>(QStringLiteral("failureNotice"));
        QCOMPARE(notices.size(), 1);
        QVERIFY(notices.first()->isVisible());
        QCOMPARE(notices.first()->text(), QStringLiteral("Cannot save!"));
        notices.first()->close();
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

private:
    // The build's encoders, and the WAV writer recording into rec/ of the program folder.
    void recordWavIntoRec()
    {
        QVERIFY(QFile::link(QStringLiteral(VT_PROGRAM_DIR "/Plugins"), m_dir->filePath(QStringLiteral("Plugins"))));
        writeFile(m_dir->filePath(QStringLiteral("vantrel.ini")),
                  QStringLiteral("[Options]\nSaveFolder=%1\n[Encoder]\nName=WAV\nCmd=vtwav ::s\nExt=wav\n")
                      .arg(m_dir->filePath(QStringLiteral("rec")))
                      .toUtf8());
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
