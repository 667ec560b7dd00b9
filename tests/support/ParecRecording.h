#pragma once
// parec recording a source of the test sound server, raw 16-bit stereo at 48000 Hz, into a
// file of its own: what a capture under test should have heard, or what was played.
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace testsupport {

class ParecRecording {
public:
    // source: a source name, or empty for the default source. True once frames arrive.
    // With a clock, firstFrameMs() is that clock's time of the first frame recorded: its
    // first frame is the one heard when its output begins to grow.
    bool start(const QString &source = {}, const QElapsedTimer *clock = nullptr)
    {
        m_path = m_dir.filePath(QStringLiteral("parec.raw"));
        m_parec.setStandardOutputFile(m_path);
        QStringList args{QStringLiteral("--raw"), QStringLiteral("--rate=48000"), QStringLiteral("--channels=2"),
                         QStringLiteral("--format=s16le"), QStringLiteral("--latency-msec=20")};
        if (!source.isEmpty())
            args << QStringLiteral("-d") << source;
        m_parec.start(QStringLiteral("parec"), args);
        if (!m_parec.waitForStarted(5000))
            return false;
        QElapsedTimer waited;
        waited.start();
        while (QFileInfo(m_path).size() == 0 && waited.elapsed() < 5000)
            QTest::qWait(5);
        if (clock)
            m_firstFrameMs = clock->elapsed() - QFileInfo(m_path).size() / (4 * 48000 / 1000);
        return QFileInfo(m_path).size() > 0;
    }

    QByteArray stop()
    {
        m_parec.terminate();
        m_parec.waitForFinished(5000);
        QFile file(m_path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    qint64 firstFrameMs() const { return m_firstFrameMs; }

private:
    QTemporaryDir m_dir;
    QString m_path;
    QProcess m_parec;
    qint64 m_firstFrameMs = 0;
};

}  // namespace testsupport
