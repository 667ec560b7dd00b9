// The web server of a headless instance that records from the test sound server, met by the
// real peers: curl, headless Chromium, promtool and a Prometheus server scraping it.
#include "support/ProgramProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

namespace {

const QString kProgram = QStringLiteral(VT_EXECUTABLE);

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

struct Fetched {
    int status = 0;
    QByteArray body;
};

// GET through curl; `options` go before the URL (-r, -H, --path-as-is).
Fetched fetch(const QString &url, const QStringList &options = {})
{
    QTemporaryDir dir;
    const QString body = dir.filePath(QStringLiteral("body"));
    QProcess curl;
    curl.start(QStringLiteral("curl"), QStringList{QStringLiteral("-s"), QStringLiteral("-m"), QStringLiteral("20"),
                                                  QStringLiteral("-o"), body, QStringLiteral("-w"), QStringLiteral("%{http_code}")}
                                           + options + QStringList{url});
    if (!curl.waitForFinished(30000))
        return {};
    QFile f(body);  // curl makes none for an empty body
    return {curl.readAllStandardOutput().toInt(), f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray()};
}

QJsonObject fetchJson(const QString &url) { return QJsonDocument::fromJson(fetch(url).body).object(); }

// The output of a program run to its end; empty when it failed.
QByteArray runToEnd(const QString &program, const QStringList &arguments, int *exitCode = nullptr,
                    const QByteArray &input = {})
{
    QProcess p;
    p.start(program, arguments);
    if (!input.isEmpty()) {
        p.write(input);
        p.closeWriteChannel();
    }
    const bool ended = p.waitForFinished(60000);
    if (exitCode) *exitCode = ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    if (!ended) p.kill();
    return p.readAllStandardOutput() + p.readAllStandardError();
}

class Instance {
public:
    // A program folder recording WAV into home/rec with `web` as its [Web] section.
    explicit Instance(const QByteArray &web)
    {
        QFile::link(QStringLiteral(VT_PROGRAM_DIR "/Plugins"), m_home.filePath(QStringLiteral("Plugins")));
        QFile ini(m_home.filePath(QStringLiteral("vantrel.ini")));
        (void)ini.open(QIODevice::WriteOnly);
        ini.write(QStringLiteral("[Options]\nSaveFolder=%1\n[Device]\nRecDev=0\nSampleRate=48000\n"
                                 "[Encoder]\nName=WAV\nCmd=vtwav ::s\nExt=wav\n[Alarm]\nDiskHours=0\n[Web]\n")
                      .arg(m_home.filePath(QStringLiteral("rec")))
                      .toUtf8()
                  + web);
    }
    ~Instance()
    {
        if (m_program.state() == QProcess::Running)
            testsupport::terminateProgram(m_program);
    }

    QString home() const { return m_home.path(); }

    // Starts it headless and waits until it takes commands.
    bool start()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        m_program.setProcessEnvironment(env);
        m_program.start(kProgram, {QStringLiteral("--home"), home(), QStringLiteral("--headless")});
        const QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired() && m_program.state() != QProcess::NotRunning) {
            if (command(QStringLiteral("status")).contains("recording:"))
                return true;
            QTest::qWait(200);
        }
        return false;
    }
    QByteArray command(const QString &word)
    {
        return runToEnd(kProgram, {QStringLiteral("--home"), home(), QStringLiteral("--command"), word});
    }
    // What it said on standard error up to its end.
    QString stop()
    {
        testsupport::terminateProgram(m_program);
        return QString::fromUtf8(m_program.readAllStandardError());
    }

private:
    QTemporaryDir m_home;
    QProcess m_program;
};

}  // namespace

class TestWebServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the test sound server (PULSE_SERVER)");
        for (const char *tool : {"curl", "chromium", "promtool", "prometheus"})
            QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty(),
                     qPrintable(QStringLiteral("%1 is missing: scripts/setup.sh installs it").arg(QLatin1String(tool))));
    }

    void pageApiAndMetricsOfARecordingInstance()
    {
        const quint16 port = freePort();
        Instance instance("Listen=127.0.0.1:" + QByteArray::number(port) + "\n");
        QVERIFY(instance.start());
        const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);

        // Two recordings, then a third that runs while Prometheus scrapes.
        for (int i = 0; i < 2; ++i) {
            QVERIFY(instance.command(QStringLiteral("record")).contains("recording: yes"));
            QTest::qWait(3000);
            QVERIFY(instance.command(QStringLiteral("stop")).contains("recording: no"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(fetchJson(base + QStringLiteral("/api/archive"))[QStringLiteral("recordings")].toArray().size(), 2, 10000);
        QVERIFY(instance.command(QStringLiteral("record")).contains("recording: yes"));
        QTRY_VERIFY_WITH_TIMEOUT(fetchJson(base + QStringLiteral("/api/status"))[QStringLiteral("recording")].toBool(), 5000);

        QTemporaryDir scraper;
        const quint16 prometheusPort = freePort();
        QFile config(scraper.filePath(QStringLiteral("prometheus.yml")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: vantrel\n"
                                    "    static_configs:\n      - targets: ['127.0.0.1:%1']\n").arg(port).toUtf8());
        config.close();
        QProcess prometheus;
        prometheus.setProcessChannelMode(QProcess::MergedChannels);
        prometheus.start(QStringLiteral("prometheus"),
                         {QStringLiteral("--config.file=") + config.fileName(),
                          QStringLiteral("--storage.tsdb.path=") + scraper.filePath(QStringLiteral("data")),
                          QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheusPort)});
        const QString query = QStringLiteral("http://127.0.0.1:%1/api/v1/query?query=vantrel_recording").arg(prometheusPort);
        const auto scraped = [&] {
            const QJsonArray result = fetchJson(query)[QStringLiteral("data")].toObject()[QStringLiteral("result")].toArray();
            return result.isEmpty() ? QString() : result[0].toObject()[QStringLiteral("value")].toArray()[1].toString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(scraped(), QStringLiteral("1"), 30000);
        prometheus.terminate();
        prometheus.waitForFinished();

        int checked = -1;
        const QByteArray said = runToEnd(QStringLiteral("promtool"), {QStringLiteral("check"), QStringLiteral("metrics")},
                                         &checked, fetch(base + QStringLiteral("/metrics")).body);
        QVERIFY2(checked == 0, said.constData());
        QVERIFY(instance.command(QStringLiteral("stop")).contains("recording: no"));

        // Byte ranges are the file's bytes.
        const QJsonArray recordings = fetchJson(base + QStringLiteral("/api/archive"))[QStringLiteral("recordings")].toArray();
        QTRY_COMPARE_WITH_TIMEOUT(fetchJson(base + QStringLiteral("/api/archive"))[QStringLiteral("recordings")].toArray().size(), 3, 10000);
        const QJsonObject oldest = fetchJson(base + QStringLiteral("/api/archive"))[QStringLiteral("recordings")].toArray().last().toObject();
        QFile file(QDir(instance.home()).filePath(QStringLiteral("rec/")) + oldest[QStringLiteral("file")].toString());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const Fetched part = fetch(base + oldest[QStringLiteral("url")].toString(), {QStringLiteral("-r"), QStringLiteral("1000-2999")});
        QCOMPARE(part.status, 206);
        QVERIFY(part.body == bytes.mid(1000, 2000));

        // An exported span is what the command line exports.
        const QDateTime start = QDateTime::fromString(oldest[QStringLiteral("start")].toString(), Qt::ISODate);
        const QString from = start.addSecs(1).toString(Qt::ISODate), to = start.addSecs(2).toString(Qt::ISODate);
        QUrlQuery span;
        span.addQueryItem(QStringLiteral("from"), from);
        span.addQueryItem(QStringLiteral("to"), to);
        const Fetched streamed = fetch(base + QStringLiteral("/api/export?") + span.toString(QUrl::FullyEncoded) + QStringLiteral("&format=wav"));
        QCOMPARE(streamed.status, 200);
        QTemporaryDir out;
        int exported = -1;
        runToEnd(kProgram, {QStringLiteral("--home"), instance.home(), QStringLiteral("--export"), from, to,
                            out.filePath(QStringLiteral("span.wav"))}, &exported);
        QCOMPARE(exported, 0);
        QFile cli(out.filePath(QStringLiteral("span.wav")));
        QVERIFY(cli.open(QIODevice::ReadOnly));
        QVERIFY(streamed.body.size() > 48000 * 4 && streamed.body == cli.readAll());

        // No path from a request reaches a file outside the archive.
        for (const char *hostile : {"/../../etc/passwd", "/recordings/../../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd",
                                    "/recordings/%2e%2e%2f%2e%2e%2fetc%2fpasswd", "//etc/passwd", "/recordings//etc/passwd"}) {
            const Fetched r = fetch(base + QString::fromLatin1(hostile), {QStringLiteral("--path-as-is")});
            QVERIFY2(r.status >= 400 && r.status < 500 && !r.body.contains("root:"), hostile);
        }

        // The page as a browser shows it: a player for each recording.
        int rendered = -1;
        const QByteArray dom = runToEnd(QStringLiteral("chromium"), {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                                        QStringLiteral("--disable-gpu"), QStringLiteral("--virtual-time-budget=5000"),
                                        QStringLiteral("--dump-dom"), base + QStringLiteral("/")}, &rendered);
        QCOMPARE(dom.count("<audio"), 3);
        QVERIFY(dom.contains(oldest[QStringLiteral("file")].toString().toUtf8()));
        const QString shot = QDir::temp().filePath(QStringLiteral("vt-web-page.png"));
        runToEnd(QStringLiteral("chromium"), {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                 QStringLiteral("--virtual-time-budget=5000"), QStringLiteral("--window-size=1280,1800"),
                 QStringLiteral("--screenshot=") + shot, base + QStringLiteral("/")});
        QVERIFY(QFileInfo(shot).size() > 10000);
        qInfo("the page as Chromium shows it: %s", qPrintable(shot));

        // The next start lists the archive it loads, before anything is recorded.
        instance.stop();
        QVERIFY(instance.start());
        QTRY_COMPARE_WITH_TIMEOUT(fetchJson(base + QStringLiteral("/api/archive"))[QStringLiteral("recordings")].toArray().size(), 3, 5000);
        instance.stop();
    }

    // A token is asked for when set; an address that is taken, or open to others without a
    // token, is said once and leaves the recording alone.
    void tokenAndAddressesThatCannotServe()
    {
        const quint16 port = freePort();
        Instance guarded("Listen=127.0.0.1:" + QByteArray::number(port) + "\nToken=s3cret\n");
        QVERIFY(guarded.start());
        const QString status = QStringLiteral("http://127.0.0.1:%1/api/status").arg(port);
        QCOMPARE(fetch(status).status, 401);
        QCOMPARE(fetch(status, {QStringLiteral("-H"), QStringLiteral("Authorization: Bearer s3cret")}).status, 200);
        QCOMPARE(fetch(status + QStringLiteral("?token=s3cret")).status, 200);
        QCOMPARE(fetch(status + QStringLiteral("?token=s3creT")).status, 401);

        Instance taken("Listen=127.0.0.1:" + QByteArray::number(port) + "\n");
        const quint16 openPort = freePort();
        Instance open("Listen=0.0.0.0:" + QByteArray::number(openPort) + "\n");
        for (Instance *refused : {&taken, &open}) {
            QVERIFY(refused->start());
            const QByteArray shown = refused->command(QStringLiteral("record"));
            QVERIFY2(shown.contains("recording: yes") && shown.contains("web server off: "), shown.constData());
        }
        // Given a token and reloaded, the open address serves while the recording goes on.
        QFile ini(open.home() + QStringLiteral("/vantrel.ini"));
        QVERIFY(ini.open(QIODevice::Append));
        ini.write("Token=s3cret\n");
        ini.close();
        QVERIFY(!open.command(QStringLiteral("reload")).contains("web server off"));
        QCOMPARE(fetch(QStringLiteral("http://127.0.0.1:%1/api/status?token=s3cret").arg(openPort)).status, 200);
        QTest::qWait(2500);
        for (Instance *refused : {&taken, &open}) {
            QVERIFY(refused->command(QStringLiteral("stop")).contains("recording: no"));
            const QString said = refused->stop();
            const QString cause = refused == &taken ? QStringLiteral("cannot listen on 127.0.0.1:%1: Address already in use").arg(port)
                                                    : QStringLiteral("needs a [Web] Token");
            QVERIFY2(said.count(cause) == 1, qPrintable(said));
            const QStringList files = QDir(refused->home() + QStringLiteral("/rec")).entryList({QStringLiteral("*.wav")});
            QCOMPARE(files.size(), 1);
            QVERIFY(QFileInfo(refused->home() + QStringLiteral("/rec/") + files[0]).size() > 2 * 48000 * 4);
        }
        QCOMPARE(fetch(status + QStringLiteral("?token=s3cret")).status, 200);
        guarded.stop();
    }
};

QTEST_GUILESS_MAIN(TestWebServer)
#include "test_web_server.moc"
