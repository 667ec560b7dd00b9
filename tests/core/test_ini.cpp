#include "core/Ini.h"

#include <QTemporaryDir>
#include <QTest>

using core::Ini;

class TestIni : public QObject {
    Q_OBJECT
private slots:
    void readsHandEditedFile();
    void rewritingSectionKeepsForeignLines();
    void updatesFirstMatchInPlace();
    void appendsMissingKeyAfterLastKeyLine();
    void appendsMissingSectionAtEnd();
    void keepsCrlfAndByteOrderMark();
    void readsCrOnlyLinesAndStripsOuterQuotes();
    void lineBreaksInValuesStayOnOneLine();
    void parsesIntegerForms_data();
    void parsesIntegerForms();
    void readIntTakesWhole32BitNumbersOnly();
    void parseAllListsEverySectionInOrder();
    void parseAllHandlesLargeIndex();
    void manyWritesBuildLargeDocument();
    void savesAndLoadsFile();
};

static const QByteArray kHandEdited =
    "; settings edited by hand\n"
    "[OPTIONS]\n"
    "  levelmin = -30  \n"
    "SaveFolder=/home/a/rec\n"
    "; StoreTime=99\n"
    "storetime = $1E\n"
    "STORETIME=7\n"
    "not a key line\n"
    "\n"
    "[Extra]\n"
    "Keep=me\n"
    "\n"
    "[options]\n"
    "Lang=De\n"
    "\n"
    "[Device]\n"
    "SampleRate=0xAC44\n";

void TestIni::readsHandEditedFile()
{
    const Ini ini = Ini::fromText(kHandEdited);
    QCOMPARE(ini.readInt("Options", "LevelMin", -24), -30);
    QCOMPARE(ini.readString("options", "savefolder"), QString("/home/a/rec"));
    QCOMPARE(ini.readInt("Options", "StoreTime", 30), 30);  // first of the duplicates, $1E
    QVERIFY(!ini.hasKey("Options", "Lang"));                // only in the second [options]
    QCOMPARE(ini.readString("Options", "Lang", "En"), QString("En"));
    QVERIFY(!ini.hasKey("Options", "not a key line"));
    QCOMPARE(ini.readInt("DEVICE", "samplerate", 0), 44100);
    QCOMPARE(ini.readString("Extra", "Keep"), QString("me"));
    QCOMPARE(ini.readInt("Nope", "X", 5), 5);
    QCOMPARE(ini.sections(), QStringList({"OPTIONS", "Extra", "Device"}));
}

void TestIni::rewritingSectionKeepsForeignLines()
{
    Ini ini = Ini::fromText(kHandEdited);
    ini.writeInt("Options", "LevelMin", -24);
    ini.writeString("Options", "SaveFolder", "/srv/rec");
    ini.writeString("Options", "SaveFilename", "%y-%m-%d_%t");
    ini.writeInt("Options", "StoreTime", 12);
    ini.writeString("Options", "Lang", "Fr");
    ini.writeInt("Device", "SampleRate", 48000);
    ini.writeInt("Device", "PlayDev", 1);

    const QByteArray text = ini.toText();
    QCOMPARE(text,
             QByteArray("; settings edited by hand\n"
                        "[OPTIONS]\n"
                        "levelmin=-24\n"
                        "SaveFolder=/srv/rec\n"
                        "; StoreTime=99\n"
                        "storetime=12\n"
                        "STORETIME=7\n"
                        "SaveFilename=%y-%m-%d_%t\n"
                        "Lang=Fr\n"
                        "not a key line\n"
                        "\n"
                        "[Extra]\n"
                        "Keep=me\n"
                        "\n"
                        "[options]\n"
                        "Lang=De\n"
                        "\n"
                        "[Device]\n"
                        "SampleRate=48000\n"
                        "PlayDev=1\n"));
    const Ini again = Ini::fromText(text);
    QCOMPARE(again.readString("Options", "Lang"), QString("Fr"));
    QCOMPARE(again.readInt("Options", "StoreTime", 30), 12);
    QCOMPARE(again.sections(), QStringList({"OPTIONS", "Extra", "Device"}));
    // Writing the same values again changes nothing.
    Ini twice = again;
    twice.writeString("options", "LANG", "Fr");
    twice.writeInt("Options", "StoreTime", 12);
    QCOMPARE(twice.toText(), text);
}

void TestIni::updatesFirstMatchInPlace()
{
    Ini ini = Ini::fromText("[A]\nx=1\ny=2\n[a]\nx=3\n");
    ini.writeString(" a ", " X ", "  new value ");
    QCOMPARE(ini.toText(), QByteArray("[A]\nx=new value\ny=2\n[a]\nx=3\n"));
    QCOMPARE(ini.readString("A", "x"), QString("new value"));
}

void TestIni::appendsMissingKeyAfterLastKeyLine()
{
    Ini ini = Ini::fromText("[A]\nx=1\n; about B\n\n[B]\n");
    ini.writeInt("A", "y", 2);
    ini.writeInt("B", "z", 3);
    QCOMPARE(ini.toText(), QByteArray("[A]\nx=1\ny=2\n; about B\n\n[B]\nz=3\n"));

    Ini noKeys = Ini::fromText("[A]\n\n\n[B]\nq=1\n");
    noKeys.writeString("A", "k", "v");
    QCOMPARE(noKeys.toText(), QByteArray("[A]\nk=v\n\n\n[B]\nq=1\n"));
}

void TestIni::appendsMissingSectionAtEnd()
{
    Ini empty;
    empty.writeInt("Options", "StoreTime", 30);
    empty.writeString("Device", "X", "1");
    QCOMPARE(empty.toText(), QByteArray("[Options]\nStoreTime=30\n\n[Device]\nX=1\n"));

    Ini endsBlank = Ini::fromText("[A]\nx=1\n\n");
    endsBlank.writeString("B", "y", "2");
    QCOMPARE(endsBlank.toText(), QByteArray("[A]\nx=1\n\n[B]\ny=2\n"));

    Ini noFinalNewline = Ini::fromText("; c");
    noFinalNewline.writeString("B", "y", "2");
    QCOMPARE(noFinalNewline.toText(), QByteArray("; c\n\n[B]\ny=2\n"));
}

void TestIni::keepsCrlfAndByteOrderMark()
{
    Ini ini = Ini::fromText("\xEF\xBB\xBF[A]\r\nx = 1\r\n");
    QCOMPARE(ini.readInt("A", "x", 0), 1);
    ini.writeInt("A", "y", 2);
    QCOMPARE(ini.toText(), QByteArray("\xEF\xBB\xBF[A]\r\nx = 1\r\ny=2\r\n"));

    const Ini utf8 = Ini::fromText("[Ümlaut]\nSchlüssel=Größe\n");
    QCOMPARE(utf8.readString("ümlaut", "SCHLÜSSEL"), QString("Größe"));
}

void TestIni::readsCrOnlyLinesAndStripsOuterQuotes()
{
    Ini ini = Ini::fromText("[A]\rPath = \"/srv/my rec\" \rCmd=\"a b\" -x \"c d\"\r"
                            "Empty=\"\"\rOne=\"\rInner=\"say \"hi\"\"\r");
    QCOMPARE(ini.readString("A", "Path"), QString("/srv/my rec"));
    QCOMPARE(ini.readString("A", "Cmd"), QString("\"a b\" -x \"c d\""));
    QCOMPARE(ini.readString("A", "Empty", "d"), QString());
    QCOMPARE(ini.readString("A", "One"), QString("\""));
    QCOMPARE(ini.readString("A", "Inner"), QString("\"say \"hi\"\""));
    QCOMPARE(ini.parseAll()[0].entries[0].value, QString("/srv/my rec"));
    ini.writeString("A", "New", "1");
    QVERIFY(ini.toText().endsWith("Inner=\"say \"hi\"\"\rNew=1\r"));
}

void TestIni::lineBreaksInValuesStayOnOneLine()
{
    Ini ini;
    ini.writeString("A", "x", "one\n[B]\r\ny=2");
    QCOMPARE(ini.toText().count('\n'), 2);
    QVERIFY(!ini.hasSection("B"));
    QCOMPARE(ini.readString("A", "x"), QString("one [B]  y=2"));
    ini.writeString("A", "  ", "lost");  // a blank key name writes nothing
    QCOMPARE(ini.toText().count('\n'), 2);
    // A command line keeps its quotes.
    ini.writeString("A", "Cmd", "\"lame\" -V2 - \"x\"");
    QCOMPARE(Ini::fromText(ini.toText()).readString("A", "Cmd"), QString("\"lame\" -V2 - \"x\""));
}

void TestIni::parsesIntegerForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isNumber");
    QTest::addColumn<qint64>("value");
    QTest::newRow("decimal") << "42" << true << qint64(42);
    QTest::newRow("blanks") << "  -7 " << true << qint64(-7);
    QTest::newRow("plus") << "+3" << true << qint64(3);
    QTest::newRow("dollar") << "$FF" << true << qint64(255);
    QTest::newRow("0x") << "0x1a" << true << qint64(26);
    QTest::newRow("0X") << "0X1A" << true << qint64(26);
    QTest::newRow("negative hex") << "-$10" << true << qint64(-16);
    QTest::newRow("trailing garbage") << "12abc" << true << qint64(12);
    QTest::newRow("hex garbage") << "$1G" << true << qint64(1);
    QTest::newRow("zero") << "0" << true << qint64(0);
    QTest::newRow("64-bit hex") << "0xFFFFFFFFFFFFFFFF" << true << qint64(-1);
    QTest::newRow("int64 min") << "-9223372036854775808" << true
                               << std::numeric_limits<qint64>::min();
    QTest::newRow("empty") << "" << false << qint64(0);
    QTest::newRow("word") << "abc" << false << qint64(0);
    QTest::newRow("sign only") << "-" << false << qint64(0);
    QTest::newRow("bare dollar") << "$" << false << qint64(0);
    QTest::newRow("bare 0x") << "0x" << false << qint64(0);
    QTest::newRow("blank after sign") << "- 5" << false << qint64(0);
    QTest::newRow("too long") << "99999999999999999999" << false << qint64(0);
    QTest::newRow("hex too long") << "$10000000000000000" << false << qint64(0);
}

void TestIni::parsesIntegerForms()
{
    QFETCH(QString, text);
    QFETCH(bool, isNumber);
    QFETCH(qint64, value);
    const std::optional<qint64> n = Ini::parseInt(text);
    QCOMPARE(n.has_value(), isNumber);
    if (isNumber) QCOMPARE(*n, value);
}

void TestIni::readIntTakesWhole32BitNumbersOnly()
{
    const Ini ini = Ini::fromText("[A]\nhex=0xFFFFFFFF\nmin=-2147483648\ndec=4294967295\n"
                                  "over=3000000000\nbigHex=0x100000000\ntext=1 year\nword=none\n"
                                  "empty=\n");
    QCOMPARE(ini.readInt("A", "hex", 5), -1);  // 32 bits of hexadecimal are a bit pattern
    QCOMPARE(ini.readInt("A", "min", 5), std::numeric_limits<int>::min());
    for (const char *key : {"dec", "over", "bigHex", "text", "word"})
        QCOMPARE(ini.readInt("A", key, 5), 5);
    QCOMPARE(ini.readInt("A", "empty", 5), 5);
    QVERIFY(ini.hasKey("A", "empty"));
    QCOMPARE(ini.readString("A", "empty", "d"), QString());
}

void TestIni::parseAllListsEverySectionInOrder()
{
    const auto all = Ini::fromText(kHandEdited).parseAll();
    QCOMPARE(all.size(), size_t(4));
    QCOMPARE(all[0].name, QString("OPTIONS"));
    QCOMPARE(all[0].entries.size(), size_t(4));
    QCOMPARE(all[0].entries[2].key, QString("storetime"));
    QCOMPARE(all[0].entries[2].value, QString("$1E"));
    QCOMPARE(all[0].entries[3].value, QString("7"));
    QCOMPARE(all[2].name, QString("options"));
    QCOMPARE(all[2].entries[0].value, QString("De"));
    QCOMPARE(all[3].entries[0].key, QString("SampleRate"));
}

void TestIni::parseAllHandlesLargeIndex()
{
    constexpr int kRecords = 100000;
    QByteArray text;
    text.reserve(kRecords * 70);
    for (int i = 0; i < kRecords; ++i) {
        text += "[" + QByteArray::number(i) + "]\nDate=" + QByteArray::number(40000.5 + i)
                + "\nLength=" + QByteArray::number(i % 3600) + "\nFile=/r/" + QByteArray::number(i)
                + ".mp3\n";
    }
    const auto all = Ini::fromText(text).parseAll();
    QCOMPARE(all.size(), size_t(kRecords));
    for (int i : {0, 1, 4711, kRecords - 1}) {
        QCOMPARE(all[size_t(i)].name, QString::number(i));
        QCOMPARE(all[size_t(i)].entries.size(), size_t(3));
        QCOMPARE(all[size_t(i)].entries[2].value, QString("/r/%1.mp3").arg(i));
    }
}

void TestIni::manyWritesBuildLargeDocument()
{
    // Writers of large files call writeString per key; this must stay linear overall.
    constexpr int kRecords = 100000;
    Ini ini;
    for (int i = 0; i < kRecords; ++i) {
        const QString section = QString::number(i);
        ini.writeString(section, "Date", "1.5");
        ini.writeInt(section, "Length", i);
    }
    QCOMPARE(ini.readInt("99999", "length", -1), 99999);
    QCOMPARE(ini.sections().size(), kRecords);
    QCOMPARE(Ini::fromText(ini.toText()).parseAll().size(), size_t(kRecords));
}

void TestIni::savesAndLoadsFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("vantrel.ini");
    QCOMPARE(Ini::load(path).toText(), QByteArray());  // missing file: empty document
    Ini ini;
    ini.writeString("Options", "Lang", "De");
    QVERIFY(ini.save(path));
    QCOMPARE(Ini::load(path).readString("options", "lang"), QString("De"));
    QVERIFY(!ini.save(dir.filePath("missing/folder/x.ini")));
}

QTEST_GUILESS_MAIN(TestIni)
#include "test_ini.moc"
