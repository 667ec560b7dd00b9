#include "archive/ArchiveIndex.h"
#include "archive/FastTimeParser.h"
#include "archive/RegionalDateTime.h"
#include "core/DayCount.h"

#include <QTest>

using namespace archive;

namespace {

double at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return core::toDayCount(QDate(y, mo, d), QTime(h, mi, s));
}

QList<QByteArray> lines(const QByteArray &text)
{
    QList<QByteArray> out;
    for (const QByteArray &l : text.split('\n'))
        if (!l.trimmed().isEmpty()) out.append(l);
    return out;
}

}  // namespace

class TestArchiveIndex : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void formatsDropYearShortingAndZone();
    void writesRegionalTextWithDateAloneAtMidnight();
    void roundTripsInLocale_data();
    void roundTripsInLocale();
    void everyKnownLocaleReadsBackWhatItWrites();
    void fastTimeReadingAgreesWithQt();
    void readsIsoFormsAndRejectsOtherText();
    void loadsSectionsWhateverTheirNamesAndRenumbers();
    void missingOrOddValuesGiveDefaults();
    void keepsOneLinePerValueAndPathsByteForByte();
    void keepsUnreadableDatesAndReadsInTheNamedLocale();
};

void TestArchiveIndex::formatsDropYearShortingAndZone()
{
    QCOMPARE(shortDateFormatFullYear(QLocale(QStringLiteral("en_US"))), QStringLiteral("M/d/yyyy"));
    QCOMPARE(shortDateFormatFullYear(QLocale(QStringLiteral("de_DE"))), QStringLiteral("dd.MM.yyyy"));
    QCOMPARE(shortDateFormatFullYear(QLocale(QStringLiteral("en_GB"))), QStringLiteral("dd/MM/yyyy"));
    // A quoted literal keeps its letters: Bulgarian "d.MM.yy 'г'."
    QCOMPARE(shortDateFormatFullYear(QLocale(QStringLiteral("bg_BG"))), QStringLiteral("d.MM.yyyy 'г'."));

    QCOMPARE(timeFormatWithSeconds(QLocale(QStringLiteral("en_US"))), QStringLiteral("h:mm:ss AP"));
    QCOMPARE(timeFormatWithSeconds(QLocale(QStringLiteral("de_DE"))), QStringLiteral("HH:mm:ss"));
    QCOMPARE(timeFormatWithSeconds(QLocale(QStringLiteral("fa_IR"))), QStringLiteral("H:mm:ss"));
    QCOMPARE(timeFormatWithSeconds(QLocale(QStringLiteral("zh_CN"))), QStringLiteral("HH:mm:ss"));
    QCOMPARE(timeFormatWithSeconds(QLocale(QStringLiteral("sq_AL"))), QStringLiteral("h:mm:ss AP"));
}

void TestArchiveIndex::writesRegionalTextWithDateAloneAtMidnight()
{
    const RegionalDateTime us(QLocale(QStringLiteral("en_US")));
    QCOMPARE(us.format(at(2026, 12, 7, 20, 44, 37)), QStringLiteral("12/7/2026 8:44:37 PM"));
    QCOMPARE(us.format(at(2026, 12, 7)), QStringLiteral("12/7/2026"));
    QCOMPARE(us.format(at(2026, 12, 7, 0, 0, 1)), QStringLiteral("12/7/2026 12:00:01 AM"));
    // Fractions of a second are not written; under a second past midnight is midnight.
    QCOMPARE(us.format(at(2026, 12, 7, 9, 5, 7) + 0.6 / core::kSecondsPerDay),
             QStringLiteral("12/7/2026 9:05:07 AM"));
    QCOMPARE(us.format(at(2026, 12, 7) + 0.4 / core::kSecondsPerDay), QStringLiteral("12/7/2026"));
    QCOMPARE(us.format(std::nan("")), QString());

    const RegionalDateTime de(QLocale(QStringLiteral("de_DE")));
    QCOMPARE(de.format(at(2026, 3, 1, 8, 4, 5)), QStringLiteral("01.03.2026 08:04:05"));
}

void TestArchiveIndex::roundTripsInLocale_data()
{
    QTest::addColumn<QString>("locale");
    for (const char *name : {"en_GB", "en_US", "de_DE", "C"}) QTest::newRow(name) << QString::fromLatin1(name);
}

void TestArchiveIndex::roundTripsInLocale()
{
    QFETCH(QString, locale);
    const QLocale l(locale);
    ArchiveList records;
    const QList<double> times{at(2026, 12, 7),          at(2026, 12, 7, 0, 0, 1),
                              at(2026, 12, 7, 12, 0, 0), at(2026, 12, 7, 12, 30, 9),
                              at(2026, 12, 7, 20, 44, 37), at(2031, 1, 31, 23, 59, 59),
                              at(1999, 2, 3, 4, 5, 6),   at(1899, 12, 29, 6, 0, 0)};
    for (double t : times) records.push_back(makeArchiveRecord(t, 1, QStringLiteral("/r/a.mp3")));

    const ArchiveList back = parseArchiveIndex(writeArchiveIndex(records, l), l);
    QCOMPARE(back.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i)
        QCOMPARE(core::fromDayCount(back[i].start), core::fromDayCount(records[i].start));
}

void TestArchiveIndex::everyKnownLocaleReadsBackWhatItWrites()
{
    const QList<QLocale> all =
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    QVERIFY(all.size() > 100);
    QStringList failures;
    for (const QLocale &l : all) {
        RegionalDateTime dt(l);
        for (double t : {at(2026, 12, 7), at(2026, 12, 7, 12, 0, 5), at(2026, 6, 30, 0, 30, 59),
                         at(2026, 6, 30, 19, 2, 3)}) {
            const QString text = dt.format(t);
            if (dt.parse(text) != t) failures.append(l.name() + u' ' + text);
        }
    }
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u", ")));
}

void TestArchiveIndex::fastTimeReadingAgreesWithQt()
{
    int usable = 0;
    QStringList disagreements;
    for (const QLocale &l :
         QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory)) {
        const QString format = timeFormatWithSeconds(l);
        const FastTimeParser fast(l, format);
        if (!fast.usable()) continue;
        ++usable;
        // Text written from a known time must read as that time (Qt itself misreads some
        // locales whose marker comes first); odd text, where taken at all, as Qt reads it.
        for (int h = 0; h < 24; ++h) {
            const QTime t(h, 7, 9);
            const QString text = l.toString(t, format);
            for (const QString &variant : {text, text.toLower()}) {
                const QTime mine = fast.parse(variant);
                if (mine.isValid() && mine != t) disagreements.append(l.name() + u' ' + variant);
            }
            for (const QString &odd : {text + u' ', text.chopped(1), u'0' + text}) {
                const QTime mine = fast.parse(odd);
                if (mine.isValid() && mine != l.toTime(odd, format)) disagreements.append(l.name() + u' ' + odd);
            }
        }
        for (const char *odd : {"0:00:00", "12:00:00", "24:00:00", "1:2:3", "13:00:00 PM", ""}) {
            const QString text = QString::fromLatin1(odd);
            const QTime mine = fast.parse(text);
            if (mine.isValid() && mine != l.toTime(text, format)) disagreements.append(l.name() + u' ' + text);
        }
    }
    QVERIFY(usable > 300);
    QVERIFY2(disagreements.isEmpty(), qPrintable(disagreements.join(u", ")));
}

void TestArchiveIndex::readsIsoFormsAndRejectsOtherText()
{
    RegionalDateTime gb(QLocale(QStringLiteral("en_GB")));
    const double expected = at(2026, 12, 7, 20, 44, 37);
    QCOMPARE(gb.parse(QStringLiteral("2026-12-07 20:44:37")), expected);
    QCOMPARE(gb.parse(QStringLiteral("2026-12-07T20:44:37")), expected);
    QCOMPARE(gb.parse(QStringLiteral("  07/12/2026 20:44:37 ")), expected);
    QCOMPARE(gb.parse(QStringLiteral("2026-12-07")), at(2026, 12, 7));
    for (const char *bad : {"", "garbage", "12/7/26 8:44:37 PM", "07/12/2026 25:00:00",
                            "2026-13-07", "2026-12-07 20:44:37 UTC", "2026-12-07X20:44:37",
                            "31/02/2026"})
        QCOMPARE(gb.parse(QString::fromLatin1(bad)), 0.0);
}

void TestArchiveIndex::loadsSectionsWhateverTheirNamesAndRenumbers()
{
    const QLocale c = QLocale::c();
    const QByteArray file = "[One]\r\nDateTime=7 Dec 2026\r\nFilename=/r/1.mp3\r\nLength=10\r\n"
                            "[Two]\r\nlength=20\r\nFILENAME=/r/2.mp3\r\n\r\n"
                            "[One]\r\nFilename=/r/3.mp3\r\nLength=30\r\nLength=99\r\n";
    const ArchiveList records = parseArchiveIndex(file, c);
    QCOMPARE(records.size(), size_t(3));
    QCOMPARE(records[0].start, at(2026, 12, 7));
    QCOMPARE(records[1].path, QStringLiteral("/r/2.mp3"));
    QCOMPARE(records[1].lengthSeconds, 20);
    QCOMPARE(records[2].lengthSeconds, 30);  // the first of duplicate keys

    const QByteArray written = writeArchiveIndex(records, c);
    QVERIFY(!written.contains('\r'));
    QVERIFY(written.startsWith("; Locale=C\n\n[Item0]\n"));
    QCOMPARE(lines(written),
             (QList<QByteArray>{"; Locale=C",
                                "[Item0]", "DateTime=7 Dec 2026", "Filename=/r/1.mp3", "Length=10",
                                "[Item1]", "DateTime=", "Filename=/r/2.mp3", "Length=20",
                                "[Item2]", "DateTime=", "Filename=/r/3.mp3", "Length=30"}));
}

void TestArchiveIndex::missingOrOddValuesGiveDefaults()
{
    const ArchiveList records = parseArchiveIndex("[Item0]\n"
                                                  "[Item1]\nDateTime=yesterday\nLength=abc\n"
                                                  "[Item2]\nLength=0x10\n"
                                                  "[Item3]\nLength=-1\n"
                                                  "[Item4]\nLength=4294967295\n",
                                                  QLocale::c());
    QCOMPARE(records.size(), size_t(5));
    QCOMPARE(records[0].start, 0.0);
    QCOMPARE(records[0].lengthSeconds, 0);
    QVERIFY(records[0].path.isEmpty());
    QCOMPARE(records[1].start, 0.0);
    QCOMPARE(records[1].lengthSeconds, 0);
    QCOMPARE(records[2].lengthSeconds, 16);
    QCOMPARE(records[3].lengthSeconds, -1);
    QCOMPARE(records[4].lengthSeconds, -1);
    QVERIFY(parseArchiveIndex(QByteArray(), QLocale::c()).empty());
    QVERIFY(parseArchiveIndex("no sections here\nDateTime=1\n", QLocale::c()).empty());
}

void TestArchiveIndex::keepsOneLinePerValueAndPathsByteForByte()
{
    const QString longPath = QStringLiteral("/r/") + QString(300, u'é');
    const ArchiveList records{
        makeArchiveRecord(at(2026, 1, 2, 3, 4, 5), -7, QStringLiteral("/r/a\n[Item9]\nLength=5.mp3")),
        makeArchiveRecord(at(2026, 1, 2), 1, longPath)};
    const ArchiveList back = parseArchiveIndex(writeArchiveIndex(records, QLocale::c()), QLocale::c());
    QCOMPARE(back.size(), size_t(2));
    QCOMPARE(back[0].lengthSeconds, -7);
    QCOMPARE(back[0].path, QStringLiteral("/r/a [Item9] Length=5.mp3"));
    QCOMPARE(back[1].path, longPath);  // whole, not cut to a byte limit

    // A name that is not UTF-8 (a Latin-1 "é") is written back as the bytes it was read as.
    const QByteArray latin1 = "/r/caf\xe9 \xff.mp3";
    const ArchiveList odd = parseArchiveIndex("[x]\nFilename=" + latin1 + "\nLength=3\n", QLocale::c());
    QCOMPARE(filenameBytes(odd[0]), latin1);
    QVERIFY(writeArchiveIndex(odd, QLocale::c()).contains("\nFilename=" + latin1 + '\n'));
    QCOMPARE(filenameBytes(parseArchiveIndex("[x]\nFilename=/r/\xc3\xa9\n", QLocale::c())[0]),
             QByteArray("/r/\xc3\xa9"));
}

void TestArchiveIndex::keepsUnreadableDatesAndReadsInTheNamedLocale()
{
    const QLocale gb(QStringLiteral("en_GB")), us(QStringLiteral("en_US")), de(QStringLiteral("de_DE"));
    // A date no locale reads is written back as it was, never as the first day of the count.
    const ArchiveList unreadable = parseArchiveIndex("[x]\nDateTime=Mon 7th\nLength=1\n", us);
    QCOMPARE(unreadable[0].start, 0.0);
    QVERIFY(writeArchiveIndex(unreadable, us).contains("\nDateTime=Mon 7th\n"));

    // A midnight start is a date alone; the locale line keeps 2 March from reading as 3 February.
    const ArchiveList march{makeArchiveRecord(at(2026, 3, 2), 1, QStringLiteral("/r/a.mp3"))};
    const QByteArray fromGb = writeArchiveIndex(march, gb);
    QVERIFY(fromGb.contains("DateTime=02/03/2026\n"));
    QCOMPARE(parseArchiveIndex(fromGb, us)[0].start, at(2026, 3, 2));
    // Without the line, as files of earlier versions, the current locale reads the dates;
    // so does it read what the named locale cannot.
    QCOMPARE(parseArchiveIndex("[x]\nDateTime=02/03/2026\n", us)[0].start, at(2026, 2, 3));
    QCOMPARE(parseArchiveIndex("; Locale=en_US\n[x]\nDateTime=13.02.2026\n", de)[0].start,
             at(2026, 2, 13));
    QCOMPARE(parseArchiveIndex("; Locale=xx_YY\n[x]\nDateTime=02/03/2026\n", us)[0].start,
             at(2026, 2, 3));
}

QTEST_GUILESS_MAIN(TestArchiveIndex)
#include "test_archiveindex.moc"
