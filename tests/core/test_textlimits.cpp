#include "core/TextLimits.h"

#include <QTest>

using namespace core;

class TestTextLimits : public QObject {
    Q_OBJECT
private slots:
    void cutsBeforeSplitCharacter();
    void formatsHoursMinutesSeconds();
};

void TestTextLimits::cutsBeforeSplitCharacter()
{
    // "aä€😀": 1 + 2 + 3 + 4 bytes.
    const QString text = QString::fromUtf8("a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80");
    const int expectedChars[] = {0, 1, 1, 2, 2, 2, 3, 3, 3, 3, 5, 5};  // UTF-16 units
    for (int max = 0; max <= 11; ++max) {
        const QString cut = cutToBytes(text, max);
        QVERIFY(cut.toUtf8().size() <= max);
        QCOMPARE(cut, text.left(expectedChars[max]));
        QCOMPARE(QString::fromUtf8(cutUtf8(text.toUtf8(), max)), cut);
    }
    QCOMPARE(cutToBytes(QString(300, QChar('x')), 255).size(), 255);
    QCOMPARE(cutToBytes("abc", -1), QString());
}

void TestTextLimits::formatsHoursMinutesSeconds()
{
    QCOMPARE(formatHms(0), QString("0:00:00"));
    QCOMPARE(formatHms(59), QString("0:00:59"));
    QCOMPARE(formatHms(3661), QString("1:01:01"));
    QCOMPARE(formatHms(100 * 3600 + 5), QString("100:00:05"));
    QCOMPARE(formatHms(-3661), QString("1:01:01"));
    QCOMPARE(formatHms(std::numeric_limits<qint64>::min()), QString("2562047788015215:30:08"));
}

QTEST_GUILESS_MAIN(TestTextLimits)
#include "test_textlimits.moc"
