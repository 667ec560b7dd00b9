#include "settings/CodecPreset.h"
#include "settings/PresetText.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace settings;

class TestCodecPreset : public QObject {
    Q_OBJECT

private slots:
    void recordHasTheFixedLayout()
    {
        const QByteArray record = encodePreset({"MP3", "lame - ::s", "mp3"});
        QCOMPARE(record.size(), 366);
        QCOMPARE(record[0], char(3));
        QCOMPARE(record.mid(1, 3), QByteArray("MP3"));
        QCOMPARE(record[101], char(10));
        QCOMPARE(record.mid(102, 10), QByteArray("lame - ::s"));
        QCOMPARE(record[357], char(3));
        QCOMPARE(record.mid(358, 3), QByteArray("mp3"));
        QCOMPARE(decodePreset(record.constData()), CodecPreset({"MP3", "lame - ::s", "mp3"}));
    }

    void cutsFieldsToTheirByteLimitsWithoutSplittingCharacters()
    {
        const CodecPreset cut = CodecPreset::make(QString(120, 'n'), QString(300, 'c'), "abcdefghijklm");
        QCOMPARE(cut.name, QString(100, 'n'));
        QCOMPARE(cut.command.size(), 255);
        QCOMPARE(cut.ext, QString("abcdefgh"));

        // 99 ASCII bytes then a two-byte character: the character does not fit in 100.
        const QString name = QString(99, 'x') + QChar(0xE9);
        QCOMPARE(CodecPreset::make(name, "", "").name, QString(99, 'x'));
        const QByteArray record = encodePreset({name, "", QString(4, QChar(0x00FC))});
        QCOMPARE(record[0], char(99));
        QCOMPARE(record[357], char(8));
        QCOMPARE(decodePreset(record.constData()).ext, QString(4, QChar(0x00FC)));
    }

    void readsOddRecordsSafely()
    {
        QByteArray record = encodePreset({"ok", "cmd", "ext"});
        record[0] = char(255);  // longer than the field: taken as its limit
        QCOMPARE(decodePreset(record.constData()).name.toUtf8().size(), 100);

        QByteArray latin = encodePreset({"", "", ""});
        latin[0] = 4;
        latin.replace(1, 4, "Caf\xE9");  // a file from a single-byte code page
        QCOMPARE(decodePreset(latin.constData()).name, QString("Caf") + QChar(0xE9));
    }

    void fileHoldsWholeRecordsOnly()
    {
        const QList<CodecPreset> two = {{"a", "enc a", "x"}, {"b", "enc b", "y"}};
        const QByteArray bytes = encodePresetFile(two);
        QCOMPARE(bytes.size(), 732);
        QCOMPARE(decodePresetFile(bytes), two);
        QCOMPARE(decodePresetFile({}), QList<CodecPreset>());
        QCOMPARE(decodePresetFile(bytes + QByteArray(365, 'z')), two);  // partial tail ignored
        QCOMPARE(decodePresetFile(bytes.left(731)).size(), 1);

        QList<CodecPreset> many;
        for (int i = 0; i < 150; ++i) many.append({QString::number(i), "e", "x"});
        QCOMPARE(decodePresetFile(encodePresetFile(many)).size(), kMaxPresets);
    }

    void readsThePresetFile()
    {
        QTemporaryDir dir;
        const QString path = presetFilePath(dir.path() + "/");
        QVERIFY(readPresetFile(path).isEmpty());  // no file: empty list

        QVERIFY(QDir().mkpath(dir.path() + "/Presets/Vantrel"));
        const QList<CodecPreset> presets = {{"MP3", "lame - ::s", "mp3"}, {"Ogg", "oggenc -o ::s -", "ogg"}};
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(encodePresetFile(presets));
        file.close();
        QCOMPARE(QFileInfo(path).size(), 732);
        QCOMPARE(readPresetFile(path), presets);
    }

    void parsesTheReadableList()
    {
        QString error;
        const QList<CodecPreset> presets = parsePresetText(
            "# shipped\n\nname = MP3 128\ncommand =  lame -b 128 - ::s \next = mp3\n"
            "\r\nNAME=Raw\r\nCommand=cat\r\n", &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(presets, QList<CodecPreset>({{"MP3 128", "lame -b 128 - ::s", "mp3"}, {"Raw", "cat", ""}}));
    }

    void rejectsAMalformedList()
    {
        const QByteArray bad[] = {
            "command = lame\n",                              // before any name
            "name = a\nfoo = b\ncommand = c\n",              // unknown key
            "name = a\nthis line has no equals sign\n",
            "name = a\next = mp3\n",                         // no command
            "name = a\ncommand = c\next = waytoolong\n",     // over 8 bytes
        };
        for (const QByteArray &text : bad) {
            QString error;
            QVERIFY2(parsePresetText(text, &error).isEmpty(), text.constData());
            QVERIFY(error.startsWith("line "));
        }
    }

    void shippedListIsValid()
    {
        QFile file(VT_SOURCE_DIR "/data/Presets/Vantrel/codecs.txt");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QString error;
        const QList<CodecPreset> presets = parsePresetText(file.readAll(), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(presets.size() >= 7);
        for (const CodecPreset &p : presets) QVERIFY2(p.command.contains("::s"), qPrintable(p.name));
    }
};

QTEST_GUILESS_MAIN(TestCodecPreset)
#include "test_codec_preset.moc"
