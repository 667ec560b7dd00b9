// The settings dialog on a recorder of its own, offscreen, with the test sound server's
// device lists and a program folder per case.
#include "app/ProgramFolder.h"
#include "audio/AudioBackend.h"
#include "app/Recorder.h"
#include "settings/PresetList.h"
#include "settings/SettingsDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

template <typename T>
T *child(QWidget &dialog, const char *name)
{
    auto *widget = dialog.findChild<T *>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no %s in the dialog", name);
    return widget;
}

void click(QWidget &dialog, const char *button)
{
    child<QPushButton>(dialog, button)->click();
}

}  // namespace

class TestSettingsDialog : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        app::setProgramFolder(m_dir->path());
    }

    // A stored rate that is not offered and a device beyond the list show no selection;
    // OK without touching them stores 44100 and -1.
    void unlistedValuesAreUnselectedAndOkStoresTheirFallbacks()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the test sound server (PULSE_SERVER)");
        writeFile(m_dir->filePath(QStringLiteral("vantrel.ini")),
                  "[Device]\nRecDev=3\nRecSrc=0\nSampleRate=32000\nPlayDev=2\n");
        app::Recorder recorder;
        // "Default", then the monitors of the server's two sinks.
        QCOMPARE(recorder.audio().recordingDevices().size(), 3);
        settings::SettingsDialog dialog(recorder);
        QCOMPARE(dialog.objectName(), QStringLiteral("frmSettings"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Settings"));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QCOMPARE(child<QComboBox>(dialog, "cbRate")->currentIndex(), -1);
        QCOMPARE(child<QComboBox>(dialog, "cbRecDev")->currentIndex(), -1);
        QCOMPARE(child<QComboBox>(dialog, "cbMainDev")->currentText(), QStringLiteral("vtsrc"));

        click(dialog, "Button1");
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(recorder.settings().sampleRate, 44100);
        QCOMPARE(recorder.settings().recDev, -1);
        QCOMPARE(recorder.settings().playDev, 2);
        QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("Presets/Vantrel/Codecs.prs"))));
    }

    void exampleFollowsEveryKeystroke()
    {
        writeFile(m_dir->filePath(QStringLiteral("vantrel.ini")),
                  "[Options]\nSaveFolder=/rec\nSaveFilename=x\n[Encoder]\nExt=\n");
        app::Recorder recorder;
        settings::SettingsDialog dialog(recorder);
        auto *example = child<QLabel>(dialog, "Label8");
        QCOMPARE(example->text(), QStringLiteral("/rec/x"));  // no dot without an extension

        auto *file = child<QLineEdit>(dialog, "edFile");
        file->clear();
        QString typed;
        for (const QChar c : QStringLiteral("%y_news")) {
            QTest::keyClick(file, c.toLatin1());
            typed += c;
            const QString name = QString(typed).replace(QStringLiteral("%y"), QString::number(QDate::currentDate().year()));
            QCOMPARE(example->text(), QStringLiteral("/rec/") + name);
        }
        QTest::keyClicks(child<QLineEdit>(dialog, "edFolder"), QStringLiteral("/a"));
        QTest::keyClicks(child<QLineEdit>(dialog, "prsext"), QStringLiteral("ogg"));
        QCOMPARE(example->text(), QStringLiteral("/rec/a/%1_news.ogg").arg(QDate::currentDate().year()));
    }

    // Add, Save and Del change only the dialog's list; Cancel leaves the file as it was.
    // A pick is the current codec at once, also after Cancel.
    void presetEditsThenCancelLeaveTheFile()
    {
        const QString path = m_dir->filePath(QStringLiteral("Presets/Vantrel/Codecs.prs"));
        const QList<settings::CodecPreset> three{
            settings::CodecPreset::make(QStringLiteral("One"), QStringLiteral("one ::s"), QStringLiteral("1")),
            settings::CodecPreset::make(QStringLiteral("Two"), QStringLiteral("two ::s"), QStringLiteral("2")),
            settings::CodecPreset::make(QStringLiteral("Three"), QStringLiteral("three ::s"), QStringLiteral("3"))};
        QString error;
        QVERIFY2(settings::writePresetFile(path, three, &error), qPrintable(error));
        const QByteArray before = readAll(path);
        writeFile(m_dir->filePath(QStringLiteral("vantrel.ini")), "[Encoder]\nName=TWO\nCmd=old ::s\nExt=old\n");

        app::Recorder recorder;
        settings::SettingsDialog dialog(recorder);
        auto *list = child<QComboBox>(dialog, "cbcodec");
        QCOMPARE(list->currentIndex(), 1);  // the current codec's name, whatever its case
        QCOMPARE(child<QLineEdit>(dialog, "prscomm")->text(), QStringLiteral("old ::s"));
        QCOMPARE(recorder.settings().codecName, QStringLiteral("TWO"));  // selecting it picked nothing

        click(dialog, "Button7");  // Del "Two": "Three" moves into its place, the fields stay
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->currentText(), QStringLiteral("Three"));
        QCOMPARE(child<QLineEdit>(dialog, "prsname")->text(), QStringLiteral("TWO"));
        click(dialog, "Button8");  // Add
        QCOMPARE(list->itemText(2), QStringLiteral("TWO"));
        list->setCurrentIndex(0);  // a pick
        QCOMPARE(recorder.settings().codecCmd, QStringLiteral("one ::s"));
        child<QLineEdit>(dialog, "prsname")->setText(QStringLiteral("Uno"));
        click(dialog, "Button6");  // Save
        QCOMPARE(list->itemText(0), QStringLiteral("Uno"));

        click(dialog, "Button2");
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(readAll(path), before);
        QCOMPARE(settings::readPresetFile(path), three);
        QCOMPARE(recorder.settings().codecName, QStringLiteral("One"));
    }

    // A playback device that is not there now (a headset unplugged) shows no selection, and
    // OK without touching the list keeps it, to be used again when it comes back.
    void okKeepsAnUnlistedPlaybackDevice()
    {
        writeFile(m_dir->filePath(QStringLiteral("vantrel.ini")), "[Device]\nPlayDev=7\n");
        app::Recorder recorder;
        settings::SettingsDialog dialog(recorder);
        QCOMPARE(child<QComboBox>(dialog, "cbMainDev")->currentIndex(), -1);
        click(dialog, "Button1");
        QCOMPARE(recorder.settings().playDev, 7);

        settings::SettingsDialog again(recorder);
        child<QComboBox>(again, "cbMainDev")->setCurrentIndex(0);  // the user's choice holds
        click(again, "Button1");
        QCOMPARE(recorder.settings().playDev, 0);
    }

    // Presets put into Codecs.prs while the program runs are what the next opening shows,
    // and OK writes them back instead of the list the program started with.
    void presetFileIsReadAtEachOpening()
    {
        app::Recorder recorder;
        const QList<settings::CodecPreset> two{
            settings::CodecPreset::make(QStringLiteral("One"), QStringLiteral("one ::s"), QStringLiteral("1")),
            settings::CodecPreset::make(QStringLiteral("Two"), QStringLiteral("two ::s"), QStringLiteral("2"))};
        const QString path = m_dir->filePath(QStringLiteral("Presets/Vantrel/Codecs.prs"));
        QString error;
        QVERIFY2(settings::writePresetFile(path, two, &error), qPrintable(error));
        settings::SettingsDialog dialog(recorder);
        QCOMPARE(child<QComboBox>(dialog, "cbcodec")->count(), 2);
        click(dialog, "Button1");
        QCOMPARE(settings::readPresetFile(path), two);
    }

    // "..." opens in the save folder with "~" expanded, or in its nearest existing parent;
    // taking the folder it opened in puts that folder into the field.
    void folderChooserOpensInTheSaveFolder()
    {
        QTemporaryDir home;
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("Recordings")));
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", home.path().toLocal8Bit());
        writeFile(m_dir->filePath(QStringLiteral("vantrel.ini")), "[Options]\nSaveFolder=~/Recordings/news/%y\n");
        app::Recorder recorder;
        settings::SettingsDialog dialog(recorder);
        const QString expected = home.filePath(QStringLiteral("Recordings"));
        QString opened;
        QTimer::singleShot(0, &dialog, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            auto *chooser = qobject_cast<QFileDialog *>(modal);
            if (chooser)
                opened = chooser->directory().absolutePath();
            // Return in a chooser opened elsewhere asks about a missing folder: no Return there.
            if (chooser && opened == expected)
                static_cast<QDialog *>(chooser)->accept();  // QFileDialog hides it
            else if (auto *other = qobject_cast<QDialog *>(modal))
                other->reject();
        });
        click(dialog, "btnFolder");
        qputenv("HOME", oldHome);
        QCOMPARE(opened, expected);
        QCOMPARE(child<QLineEdit>(dialog, "edFolder")->text(), expected);
    }

    // A preset file that cannot be written is said with its name and reason; nothing of
    // the dialog is applied and it stays open.
    void unwritablePresetFileAppliesNothing()
    {
        writeFile(m_dir->filePath(QStringLiteral("Presets")), "a file where the preset folder belongs");
        app::Recorder recorder;
        settings::SettingsDialog dialog(recorder);
        dialog.show();
        child<QComboBox>(dialog, "cbRate")->setCurrentIndex(0);
        child<QLineEdit>(dialog, "edFile")->setText(QStringLiteral("changed"));
        QString said;
        QTimer::singleShot(0, &dialog, [&] {
            auto *box = dialog.findChild<QMessageBox *>(QStringLiteral("presetWriteFailure"));
            if (box) {
                said = box->text();
                box->accept();
            }
        });
        click(dialog, "Button1");
        QVERIFY2(said.contains(QStringLiteral("Codecs.prs")), qPrintable(said));
        QVERIFY(dialog.isVisible());
        QCOMPARE(recorder.settings().sampleRate, 44100);
        QCOMPARE(recorder.settings().saveFilename, QStringLiteral("%y-%m-%d_%t"));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(TestSettingsDialog)
#include "test_settings_dialog.moc"
