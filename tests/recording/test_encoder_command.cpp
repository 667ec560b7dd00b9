#include "recording/EncoderCommand.h"

#include <QTest>

using recording::encoderArguments;
using recording::splitCommandLine;

class TestEncoderCommand : public QObject {
    Q_OBJECT

private slots:
    void splitsOnBlanksAndGroupsQuotes()
    {
        QCOMPARE(splitCommandLine("  lame \t-b 128  - ::s "),
                 QStringList({"lame", "-b", "128", "-", "::s"}));
        QCOMPARE(splitCommandLine("enc \"a b\" 'c d' x\"y z\"'w'"),
                 QStringList({"enc", "a b", "c d", "xy zw"}));
        QCOMPARE(splitCommandLine("enc \"\" ''"), QStringList({"enc", "", ""}));
        QCOMPARE(splitCommandLine(""), QStringList());
    }

    void escapesOnlyQuoteAndBackslashInDoubleQuotes()
    {
        QCOMPARE(splitCommandLine("e \"a\\\"b\" \"c\\\\d\" \"e\\nf\" 'g\\'h"),
                 QStringList({"e", "a\"b", "c\\d", "e\\nf", "g\\h"}));
        // Outside quotes a backslash is an ordinary character.
        QCOMPARE(splitCommandLine("e C:\\dir\\x.txt"), QStringList({"e", "C:\\dir\\x.txt"}));
    }

    void openQuoteRunsToTheEnd()
    {
        QCOMPARE(splitCommandLine("e \"a b"), QStringList({"e", "a b"}));
    }

    void putsTheProgramInPluginsAndTheOutputPathInPlace()
    {
        QCOMPARE(encoderArguments("/opt/vt/", "lame -b 128 - ::s", "/rec/a.mp3"),
                 QStringList({"/opt/vt/Plugins/lame", "-b", "128", "-", "/rec/a.mp3"}));
        // Several markers, inside a longer argument, in quotes; a capital S is no marker.
        QCOMPARE(encoderArguments("/p/", "enc --out=::s \"::s::s\" ::S", "/o"),
                 QStringList({"/p/Plugins/enc", "--out=/o", "/o/o", "::S"}));
        // No marker: no output path.
        QCOMPARE(encoderArguments("/p/", "enc -q", "/o"), QStringList({"/p/Plugins/enc", "-q"}));
        QCOMPARE(encoderArguments("/p/", "   ", "/o"), QStringList());
    }

    void outputPathIsAlwaysOneArgument()
    {
        const QString nasty = "/tmp/a b \"c\" 'd' $(touch /tmp/x) `id`; rm -rf ~ & \\ ::s.mp3";
        const QStringList argv = encoderArguments("/p/", "lame - ::s", nasty);
        QCOMPARE(argv.size(), 3);
        // The path is inserted after splitting, so its own "::s" is not replaced again.
        QCOMPARE(argv.last(), nasty);
    }

    void aProgramFolderWithBlanksStaysOneArgument()
    {
        QCOMPARE(encoderArguments("/home/u/My Programs/", "lame ::s", "/o").first(),
                 QString("/home/u/My Programs/Plugins/lame"));
    }
};

QTEST_GUILESS_MAIN(TestEncoderCommand)
#include "test_encoder_command.moc"
