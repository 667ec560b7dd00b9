// The command socket's transport, on a handler that stands in for the recorder: clients that
// never finish their request, and a process without a free file descriptor, cannot take it down.
#include "app/RemoteCommands.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using app::CommandServer;

namespace {

QStringList g_log;

void keepLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_log << message;
}

// The answer up to "end", read while the event loop serves the server in this same thread.
QByteArray answerOf(QLocalSocket &client)
{
    QByteArray answer;
    (void)QTest::qWaitFor([&] {
        answer += client.readAll();
        return answer.endsWith("end\n");
    }, 5000);
    return answer;
}

QByteArray ask(const QString &path, const QByteArray &word)
{
    QLocalSocket client;
    client.connectToServer(path);
    if (!client.waitForConnected(2000))
        return {};
    client.write(word + '\n');
    return answerOf(client);
}

}  // namespace

class TestCommandServer : public QObject {
    Q_OBJECT

    QTemporaryDir m_runtime;
    QTemporaryDir m_home;
    std::unique_ptr<CommandServer> m_server;

private slots:
    void init()
    {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        m_server = std::make_unique<CommandServer>([](app::RemoteCommand) { return QByteArray("ok: yes\n"); });
        QString error;
        QVERIFY2(m_server->listen(m_home.path(), &error), qPrintable(error));
    }

    void cleanup()
    {
        m_server.reset();
        qInstallMessageHandler(nullptr);
    }

    // Idle clients beyond the number served at once wait; each is closed when its time for
    // the request line is up, and a real command is answered after them.
    void idleClientsAreClosedAndOthersServedAfterThem()
    {
        m_server->setRequestTimeout(300);
        std::vector<std::unique_ptr<QLocalSocket>> idle;
        for (int i = 0; i < CommandServer::kMaxPeers + 4; ++i) {
            idle.push_back(std::make_unique<QLocalSocket>());
            idle.back()->connectToServer(m_server->socketPath());
            QVERIFY(idle.back()->waitForConnected(2000));
        }
        QTRY_COMPARE(m_server->peerCount(), CommandServer::kMaxPeers);
        QCOMPARE(ask(m_server->socketPath(), "status"), QByteArray("ok: yes\nend\n"));
        QVERIFY(m_server->peerCount() <= CommandServer::kMaxPeers);
        for (const auto &client : idle)
            QTRY_COMPARE(client->state(), QLocalSocket::UnconnectedState);
        QTRY_COMPARE(m_server->peerCount(), 0);
    }

    // With every descriptor taken the connection waits in the backlog; the socket stays, the
    // wait is logged once, and the command is answered once descriptors are free again.
    void noFreeDescriptorWaitsAndAcceptsAgain()
    {
        rlimit saved = {};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
        rlimit low = saved;
        low.rlim_cur = 128;
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
        const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        QVERIFY(devNull >= 0);
        std::vector<int> fillers;
        for (int fd; (fd = ::dup(devNull)) >= 0;)
            fillers.push_back(fd);
        ::close(fillers.back());  // room for the client's end alone
        fillers.pop_back();

        qInstallMessageHandler(keepLog);
        g_log.clear();
        QLocalSocket client;
        client.connectToServer(m_server->socketPath());
        QVERIFY(client.waitForConnected(2000));
        client.write("status\n");
        QTRY_COMPARE(g_log.filter(QStringLiteral("waiting for a free file descriptor")).size(), 1);
        QVERIFY(QFileInfo::exists(m_server->socketPath()));

        for (int fd : fillers)
            ::close(fd);
        ::close(devNull);
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &saved) == 0);
        QCOMPARE(answerOf(client), QByteArray("ok: yes\nend\n"));
        QCOMPARE(g_log.filter(QStringLiteral("waiting for a free file descriptor")).size(), 1);
        QCOMPARE(ask(m_server->socketPath(), "status"), QByteArray("ok: yes\nend\n"));
    }
};

QTEST_GUILESS_MAIN(TestCommandServer)
#include "test_command_server.moc"
