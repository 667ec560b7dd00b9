#include "app/SettingsFile.h"

#include <QDir>
#include <QtTest>

using app::Settings;

class TestSettingsFile : public QObject {
    Q_OBJECT
private slots:
    void missingFileGivesDefaults()
    {
        const Settings s = app::readSettings(core::Ini());
        QCOMPARE(s.levelMin, -24);
        QCOMPARE(s.saveFolder, QDir::homePath() + QStringLiteral("/Recordings"));
        QCOMPARE(s.saveFilename, QStringLiteral("%y-%m-%d_%t"));
        QCOMPARE(s.storeTime, 30);
        QCOMPARE(s.lang, QStringLiteral("En"));
        QCOMPARE(s.windowState, -1);
        QCOMPARE(s.recDev, 0);
        QCOMPARE(s.recSrc, 0);
        QCOMPARE(s.sampleRate, 44100);
        QCOMPARE(s.playDev, 1);
        QVERIFY(s.codecName.isEmpty() && s.codecCmd.isEmpty() && s.codecExt.isEmpty());
        QVERIFY(!s.historyWidths);
    }

    void handEditedFileReadsLikeTheProfileFunctions()
    {
        const core::Ini ini = core::Ini::fromText(
            "; kept by hand\n"
            "[OPTIONS]\n"
            "  levelmin   =   -60  \n"
            "StoreTime=0x0E\n"
            "storetime=99\n"
            "[Unknown]\n"
            "Foo=bar\n"
            "[device]\n"
            "SAMPLERATE = $BB80\n"
            "RecDev=not a number\n"
            "[WindowPos]\n"
            "State=-1\nX=10\nY=20\n");
        const Settings s = app::readSettings(ini);
        QCOMPARE(s.levelMin, -60);
        QCOMPARE(s.storeTime, 14);      // hexadecimal, and the first of two keys wins
        QCOMPARE(s.sampleRate, 48000);  // "$" hexadecimal
        QCOMPARE(s.recDev, 0);          // not a number: the default
        QVERIFY(!s.x && !s.y);          // State -1 reads nothing more of its section
    }

    void harmfulValuesAreMended()
    {
        const Settings low = app::readSettings(core::Ini::fromText("[Options]\nStoreTime=0\nLevelMin=0\n"));
        QCOMPARE(low.storeTime, 1);
        QCOMPARE(low.levelMin, -24);
        const Settings high = app::readSettings(core::Ini::fromText("[Options]\nStoreTime=5000\nLevelMin=-30\n"));
        QCOMPARE(high.storeTime, 365);
        QCOMPARE(high.levelMin, -30);  // not one of the scale steps, used as it is
        QCOMPARE(app::readSettings(core::Ini::fromText("[Options]\nLevelMin=24\n")).levelMin, -24);
        const Settings alarm = app::readSettings(core::Ini::fromText("[Alarm]\nSilenceDb=20\nSilenceSeconds=-5\n"));
        QCOMPARE(alarm.silenceDb, 0);
        QCOMPARE(alarm.silenceSeconds, 0);
        // Not a whole number (overflow, trailing text): the default, never a clamped remnant.
        for (const char *value : {"3000000000", "1 year"}) {
            core::Ini ini = core::Ini::fromText(QByteArray("[Options]\nStoreTime=") + value + '\n');
            app::writeSettings(ini, app::readSettings(ini), {}, {});
            QCOMPARE(ini.readString(app::keys::options, app::keys::storeTime), QStringLiteral("30"));
        }
    }

    // The disk keys are read only; a negative or non-numeric value is refused with its key
    // named, and the default holds.
    void diskKeysRefuseBadValuesByName()
    {
        const Settings s = app::readSettings(core::Ini::fromText(
            "[Options]\nKeepFreeMB=-5\nMinStoreDays=90\n[Alarm]\nDiskHours=lots\n"));
        QCOMPARE(s.keepFreeMB, 0);
        QCOMPARE(s.minStoreDays, 90);
        QCOMPARE(s.diskHours, 24);
        QCOMPARE(s.refusedKeys.size(), 2);
        QVERIFY2(s.refusedKeys[0].startsWith(QStringLiteral("[Alarm] DiskHours=lots is not")), qPrintable(s.refusedKeys[0]));
        core::Ini written;
        app::writeSettings(written, s, {}, {});
        QVERIFY(!written.hasKey(app::keys::options, app::keys::minStoreDays));
    }

    void codecFieldsAreCutToTheirByteLimits()
    {
        const QString longName(120, u'n');
        const core::Ini ini = core::Ini::fromText(
            QStringLiteral("[Encoder]\nName=%1\nExt=abcdefghijklm\nCmd=lame - ::s\n").arg(longName).toUtf8());
        const Settings s = app::readSettings(ini);
        QCOMPARE(s.codecName, longName.left(100));
        QCOMPARE(s.codecExt, QStringLiteral("abcdefgh"));
        QCOMPARE(s.codecCmd, QStringLiteral("lame - ::s"));
    }

    void historyRoundTripsAndRejectsMalformedValues()
    {
        const std::array<int, 6> widths{40, 50, 35, 45, 60, -1};
        const QString hex = app::encodeHistory(widths);
        QCOMPARE(hex.size(), 128);
        QVERIFY(hex.startsWith(QStringLiteral("28000000320000002300")));
        QCOMPARE(hex, hex.toUpper());
        QCOMPARE(*app::decodeHistory(hex), widths);
        QVERIFY(!app::decodeHistory(hex.left(100)));
        QVERIFY(!app::decodeHistory(QString(128, u'Z')));
        QVERIFY(!app::decodeHistory(QString(128, QChar(0x0663))));  // ARABIC-INDIC DIGIT THREE
    }

    void writesEverySectionWholeInTableOrder()
    {
        core::Ini ini;
        Settings s;
        s.saveFolder = QStringLiteral("/rec");
        app::writeSettings(ini, s, {false, QRect(5, 6, 700, 500)}, {1, 2, 3, 4, 5, 6});
        const QString text = QString::fromUtf8(ini.toText());
        const QStringList order = {
            "[Options]", "LevelMin=-24", "SaveFolder=/rec", "SaveFilename=%y-%m-%d_%t", "StoreTime=30",
            "Lang=En", "[WindowPos]", "State=0", "X=5", "Y=6", "W=700", "H=500", "[Device]", "RecDev=0",
            "RecSrc=0", "SampleRate=44100", "PlayDev=1", "[Encoder]", "Name=", "Cmd=", "Ext=",
            "[Columns]", "History=", "[Alarm]", "SilenceDb=-50", "SilenceSeconds=30"};
        int at = 0;
        for (const QString &item : order) {
            const int found = text.indexOf(item, at);
            QVERIFY2(found >= 0, qPrintable(item + QStringLiteral(" missing or out of order in\n") + text));
            at = found + item.size();
        }
    }

    void maximisedCloseKeepsTheEarlierBounds()
    {
        core::Ini ini = core::Ini::fromText("[WindowPos]\nState=0\nX=11\nY=12\nW=613\nH=414\n");
        app::writeSettings(ini, Settings(), {true, QRect(0, 0, 1024, 768)}, {});
        QCOMPARE(ini.readInt(app::keys::windowPos, app::keys::state, 0), 1);
        QCOMPARE(ini.readInt(app::keys::windowPos, app::keys::w, 0), 613);
        QCOMPARE(ini.readInt(app::keys::windowPos, app::keys::x, 0), 11);
    }

    // A close writes what the program changed since it read the file, in place; a key the
    // user edited meanwhile stays as written (also one the program mends on reading), and a
    // key missing from the file gets the program's value.
    void closeWritesOnlyWhatTheProgramChanged()
    {
        const core::Ini read = core::Ini::fromText(
            "[Options]\nStoreTime=900\nSaveFolder=/a\nLang=En\n[WindowPos]\nState=0\nX=10\n");
        const core::Ini before = app::settingsImage(read);
        Settings s = app::readSettings(read);
        s.saveFolder = QStringLiteral("/b");  // the program's change
        core::Ini now;
        app::writeSettings(now, s, {false, QRect(10, 20, 600, 400)}, {});

        core::Ini disk = core::Ini::fromText(
            "; edited over ssh\n[Options]\nStoreTime=900\nSaveFolder=/a\nLang=De\n[WindowPos]\nState=0\nX=99\n");
        app::writeChangedKeys(disk, before, now);
        const QByteArray text = disk.toText();
        QVERIFY2(text.startsWith("; edited over ssh\n[Options]\nStoreTime=900\nSaveFolder=/b\nLang=De\n"
                                 "LevelMin=-24\nSaveFilename=%y-%m-%d_%t\n[WindowPos]\nState=0\nX=99\nY=20\n"),
                 text.constData());
        QCOMPARE(disk.readInt(app::keys::alarm, app::keys::silenceSeconds, 0), 30);
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "test_settingsfile.moc"
