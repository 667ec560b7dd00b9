// The web server's rules without a socket: where it may listen, the byte ranges it serves,
// the token, and that a request can only ever reach a file by an archive record's id.
#include "web/ByteRange.h"
#include "web/Metrics.h"
#include "web/WebRoutes.h"
#include "web/WebSettings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace web;

namespace {

HttpRequest get(const QString &path, QMap<QByteArray, QByteArray> headers = {}, QMap<QByteArray, QByteArray> arguments = {})
{
    HttpRequest r;
    r.method = "GET";
    r.path = path;
    r.header = [headers](const char *key) { return headers.value(key); };
    r.argument = [arguments](const char *key) { return arguments.value(key); };
    return r;
}

}  // namespace

class TestWeb : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    SnapshotBoard m_board;
    QString m_recording;

private slots:
    void initTestCase()
    {
        m_recording = m_dir.filePath(QStringLiteral("2026-12-09_10-00.mp3"));
        QFile f(m_recording);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QByteArray bytes(1000, '\0');
        for (int i = 0; i < bytes.size(); ++i) bytes[i] = char(i % 251);
        f.write(bytes);
        f.close();
        m_board.publishArchive({{recordingId(m_recording), QDateTime::currentDateTime(), 60, m_recording}});
    }

    void listenAddresses_data()
    {
        QTest::addColumn<QString>("listen");
        QTest::addColumn<QString>("host");  // empty: refused
        QTest::addColumn<bool>("needsToken");
        QTest::newRow("ipv4 loopback") << "127.0.0.1:8080" << "127.0.0.1" << false;
        QTest::newRow("ipv6 loopback") << "[::1]:8080" << "::1" << false;
        QTest::newRow("localhost") << "localhost:8080" << "127.0.0.1" << false;
        QTest::newRow("every address") << ":8080" << "0.0.0.0" << true;
        QTest::newRow("a LAN address") << "192.168.1.5:80" << "192.168.1.5" << true;
        QTest::newRow("no port") << "127.0.0.1" << "" << false;
        QTest::newRow("port 0") << "127.0.0.1:0" << "" << false;
        QTest::newRow("port too big") << "127.0.0.1:70000" << "" << false;
        QTest::newRow("a name") << "studio.local:80" << "" << false;
        QTest::newRow("ipv6 without brackets") << "::1:8080" << "" << false;
    }
    void listenAddresses()
    {
        QFETCH(QString, listen);
        QFETCH(QString, host);
        QFETCH(bool, needsToken);
        QString error;
        const auto address = parseListen(listen, &error);
        QCOMPARE(address.has_value(), !host.isEmpty());
        if (!address) {
            QVERIFY(error.contains(listen));
            return;
        }
        QCOMPARE(address->host, host);
        QCOMPARE(!listenRefusal(*address, QString()).isEmpty(), needsToken);
        QVERIFY(listenRefusal(*address, QStringLiteral("secret")).isEmpty());
    }

    void byteRanges_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("kind");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("last");
        using K = ByteRange::Kind;
        QTest::newRow("none") << QByteArray() << int(K::Whole) << 0LL << 999LL;
        QTest::newRow("closed") << QByteArray("bytes=100-199") << int(K::Part) << 100LL << 199LL;
        QTest::newRow("open") << QByteArray("bytes=900-") << int(K::Part) << 900LL << 999LL;
        QTest::newRow("suffix") << QByteArray("bytes=-10") << int(K::Part) << 990LL << 999LL;
        QTest::newRow("past the end is cut") << QByteArray("bytes=990-5000") << int(K::Part) << 990LL << 999LL;
        QTest::newRow("starts past the end") << QByteArray("bytes=1000-") << int(K::Unsatisfiable) << 0LL << -1LL;
        QTest::newRow("a list") << QByteArray("bytes=0-1,5-6") << int(K::Unsatisfiable) << 0LL << -1LL;
        QTest::newRow("reversed") << QByteArray("bytes=5-2") << int(K::Malformed) << 0LL << -1LL;
        QTest::newRow("not bytes") << QByteArray("items=0-1") << int(K::Malformed) << 0LL << -1LL;
        QTest::newRow("signs") << QByteArray("bytes=+1-2") << int(K::Malformed) << 0LL << -1LL;
        QTest::newRow("huge") << QByteArray("bytes=99999999999999999999-") << int(K::Malformed) << 0LL << -1LL;
    }
    void byteRanges()
    {
        QFETCH(QByteArray, header);
        QFETCH(int, kind);
        const ByteRange r = parseByteRange(header, 1000);
        QCOMPARE(int(r.kind), kind);
        if (r.kind == ByteRange::Kind::Part || r.kind == ByteRange::Kind::Whole) {
            QTEST(r.first, "first");
            QTEST(r.last, "last");
        }
    }

    // Bearer header or ?token=; anything else, including a token of the same length, is 401.
    void theTokenIsAsked()
    {
        const WebContext context{&m_board, nullptr, QStringLiteral("s3cret")};
        QCOMPARE(answer(context, get(QStringLiteral("/api/status"))).status, 401);
        QCOMPARE(answer(context, get(QStringLiteral("/api/status"), {{"Authorization", "Bearer s3creT"}})).status, 401);
        QCOMPARE(answer(context, get(QStringLiteral("/metrics"), {}, {{"token", "s3cre"}})).status, 401);
        QCOMPARE(answer(context, get(QStringLiteral("/api/status"), {{"Authorization", "Bearer s3cret"}})).status, 200);
        QCOMPARE(answer(context, get(QStringLiteral("/metrics"), {}, {{"token", "s3cret"}})).status, 200);
    }

    // Only the id of a record reaches a file, and only that record's file.
    void filesAreServedByIdOnly()
    {
        const WebContext context{&m_board, nullptr, {}};
        const QString id = recordingId(m_recording);
        for (const char *hostile : {"/../../etc/passwd", "/recordings/../../etc/passwd", "//etc/passwd",
                                    "/recordings/%2e%2e%2f%2e%2e%2fetc%2fpasswd", "/recordings//etc/passwd",
                                    "/recordings/0123456789abcdef", "/page.css/../../etc/passwd"}) {
            const HttpResponse r = answer(context, get(QString::fromLatin1(hostile)));
            QVERIFY2(r.status == 404, hostile);
            QVERIFY(r.filePath.isEmpty());
        }
        HttpResponse r = answer(context, get(QStringLiteral("/recordings/") + id, {{"Range", "bytes=100-199"}}));
        QCOMPARE(r.status, 206);
        QCOMPARE(r.filePath, m_recording);
        QCOMPARE(r.fileOffset, 100);
        QCOMPARE(r.fileLength, 100);
        QCOMPARE(r.contentType, QByteArray("audio/mpeg"));
        QVERIFY(r.headers.end() != std::find(r.headers.begin(), r.headers.end(),
                                             std::pair<QByteArray, QByteArray>("Content-Range", "bytes 100-199/1000")));
        QCOMPARE(answer(context, get(QStringLiteral("/recordings/") + id, {{"Range", "bytes=2000-"}})).status, 416);
        r = answer(context, get(QStringLiteral("/recordings/") + id));
        QCOMPARE(r.status, 200);
        QCOMPARE(r.fileLength, 1000);

        QCOMPARE(answer(context, get(QStringLiteral("/"))).contentType, QByteArray("text/html; charset=utf-8"));
        QVERIFY(answer(context, get(QStringLiteral("/page.js"))).body.size() > 1000);
        HttpRequest post = get(QStringLiteral("/api/status"));
        post.method = "POST";
        QCOMPARE(answer(context, post).status, 405);
    }

    // A value that is not known leaves its series out; a station name cannot break a label.
    void metricsLeaveOutWhatIsNotKnown()
    {
        StatusSnapshot idle;
        idle.station = QStringLiteral("Studio \"A\"\\1");
        const QByteArray text = renderMetrics(idle, {});
        QVERIFY(!text.contains("vantrel_level_dbfs"));
        QVERIFY(!text.contains("vantrel_next_entry_timestamp_seconds"));
        QVERIFY(!text.contains("vantrel_coverage_ratio"));
        QVERIFY(text.contains("vantrel_recording{station=\"Studio \\\"A\\\"\\\\1\"} 0\n"));
        StatusSnapshot recording = idle;
        recording.recording = true;
        recording.levelDbfs = std::array<double, 2>{-6.0, -std::numeric_limits<double>::infinity()};
        const QByteArray shown = renderMetrics(recording, {10, 1, 0.5});
        QVERIFY(shown.contains("channel=\"right\"} -Inf\n"));
        QVERIFY(shown.contains("vantrel_coverage_ratio{station=\"Studio \\\"A\\\"\\\\1\",day=\"today\"} 0.5\n"));
    }
};

QTEST_GUILESS_MAIN(TestWeb)
#include "test_web.moc"
