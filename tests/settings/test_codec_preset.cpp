#include "settings/CodecPreset.h"
#include "settings/PresetList.h"
#include "settings/PresetText.h"
#include "settings/SystemOptions.h"

#include <QFile>
#include <QLocale>
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

    void listEditingKeepsTheSelectionRules()
    {
        PresetList list({{"a", "enc a", "x"}, {"b", "enc b", "y"}, {"c", "enc c", "z"}});
        // The one that moved up takes the deleted one's place; deleting the last selects none.
        QCOMPARE(list.remove(1), 1);
        QCOMPARE(list.presets(), QList<CodecPreset>({{"a", "enc a", "x"}, {"c", "enc c", "z"}}));
        QCOMPARE(list.remove(1), -1);
        QCOMPARE(list.remove(-1), -1);  // no selection: nothing
        list.save(-1, {"q", "q", "q"});
        list.save(5, {"q", "q", "q"});
        QCOMPARE(list.count(), 1);

        list.save(0, {QString(120, 'n'), "lame - ::s", "abcdefghijklm"});  // cut as a record cuts
        QCOMPARE(list.presets()[0], CodecPreset({QString(100, 'n'), "lame - ::s", "abcdefgh"}));
    }

    void listRefusesTheOneHundredAndSecondPreset()
    {
        PresetList list;
        for (int i = 0; i < kMaxPresets; ++i) QVERIFY(list.add({QString::number(i), "e", "x"}, nullptr));
        QString why;
        QVERIFY(!list.add({"one more", "e", "x"}, &why));
        QCOMPARE(list.count(), kMaxPresets);
        QVERIFY(why.contains("101"));
    }

    void writesThePresetFileAtomically()
    {
        QTemporaryDir dir;
        const QString path = presetFilePath(dir.path() + "/");  // its folder does not exist yet
        const QList<CodecPreset> presets = {{"MP3", "lame - ::s", "mp3"}, {"FLAC", "flac - -o ::s", "flac"}};
        QString error;
        QVERIFY2(writePresetFile(path, presets, &error), qPrintable(error));
        QCOMPARE(QFileInfo(path).size(), 732);
        QCOMPARE(readPresetFile(path), presets);

        // A folder that cannot be made (a file is in its way): the message names the file and why.
        const QString blocked = dir.filePath("Presets/Vantrel/Codecs.prs/Codecs.prs");
        QVERIFY(!writePresetFile(blocked, presets, &error));
        QVERIFY2(error.contains(blocked) && error.contains("cannot create the folder"), qPrintable(error));
        QCOMPARE(readPresetFile(path), presets);
    }

    void readsSystemOptions()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("system.ini");
        const SystemOptions defaults = readSystemOptions(path);  // no file
        QCOMPARE(defaults.volumeCurveLogarithmic, false);
        QCOMPARE(defaults.bufferLengthMs, 500);
        QCOMPARE(defaults.useLineIn, false);
        QCOMPARE(defaults.bandCount, 12);
        QCOMPARE(defaults.bandFrequencies, (std::array<int, 12>{}));
        QCOMPARE(defaults.bandwidth, 2.5f);

        const auto readText = [&](const QByteArray &text) {
            QFile file(path);
            file.open(QIODevice::WriteOnly | QIODevice::Truncate);
            file.write(text);
            file.close();
            return readSystemOptions(path);
        };
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));  // "," separates decimals
        const SystemOptions read = readText(
            "[Options]\nLg=1\nBufferLength=250\nFXTempo=1\nUseLineIn=7\nNoLineFx=x\n"
            "[Equalizer]\nBandsNum=3\nFreq0=80\nFreq1=1000\nFreq2=8000\nFreq3=12000\nBandwidth=1.5\n");
        QCOMPARE(read.volumeCurveLogarithmic, true);
        QCOMPARE(read.bufferLengthMs, 250);
        QCOMPARE(read.tempoEffect, false);
        QCOMPARE(read.useLineIn, true);
        QCOMPARE(read.noLineEffects, false);  // not a number: the default
        QCOMPARE(read.bandCount, 3);
        QCOMPARE(read.bandFrequencies, (std::array<int, 12>{80, 1000, 8000}));
        QCOMPARE(read.bandwidth, 1.5f);
        QCOMPARE(readText("[Equalizer]\nBandwidth=1,5\n").bandwidth, 2.5f);
        QLocale::setDefault(before);

        const SystemOptions capped = readText("[Equalizer]\nBandsNum=99\nFreq11=16000\nFreq12=5\n");
        QCOMPARE(capped.bandCount, 12);
        QCOMPARE(capped.bandFrequencies[11], 16000);
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
