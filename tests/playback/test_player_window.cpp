#include "audio/AudioBackend.h"
#include "playback/AudioEngine.h"
#include "playback/PlayerDisplay.h"
#include "playback/PlayerWindow.h"
#include "playback/SeekBar.h"

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace playback;

namespace {

// 3 minutes 25 seconds of a quiet sine, 8 kHz mono WAV: its decoded length is exact.
bool makeRecording(const QString &path, QString *why)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                  QStringLiteral("-f"), QStringLiteral("lavfi"),
                  QStringLiteral("-i"), QStringLiteral("sine=frequency=440:sample_rate=8000:duration=205"),
                  QStringLiteral("-af"), QStringLiteral("volume=0.1"), path});
    if (!ffmpeg.waitForFinished(30000) || ffmpeg.exitCode() != 0) {
        *why = QString::fromLocal8Bit(ffmpeg.readAllStandardError()) + ffmpeg.errorString();
        return false;
    }
    return true;
}

QString label(const PlayerWindow &window, const char *name)
{
    return window.findChild<QLabel *>(QString::fromLatin1(name))->text();
}

}  // namespace

class PlayerWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // A folder with a dot, so the extension is taken from the name part only.
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("2026.12")));
        m_file = m_dir.path() + QStringLiteral("/2026.12/News & Views.final.wav");
        QString why;
        QVERIFY2(makeRecording(m_file, &why), qPrintable(why));
    }

    void displayRules()
    {
        QCOMPARE(formatPlayTime(0), QStringLiteral("??:??"));
        QCOMPARE(formatPlayTime(999), QStringLiteral("00:00"));
        QCOMPARE(formatPlayTime(125 * 60000 + 59999), QStringLiteral("125:59"));
        QCOMPARE(playTimeDisplay(0, 205000), QStringLiteral("??:??" "/03:25"));
        // Past 35:47 the per-mille product no longer fits 32 bits.
        QCOMPARE(playedPerMille(3000000, 3600000), 833);
        QCOMPARE(seekTargetMs(999, 3600000), 3596400);
        QCOMPARE(playerTitle(QStringLiteral("/rec/a.b/c")), QStringLiteral("c"));
    }

    void showsTitleAndUnknownTimeAtTheStart()
    {
        audio::AudioBackend backend;
        AudioEngine engine(backend);
        engine.setDevice(0);  // "No sound": plays in real time, silently
        const SeekBarPictures pictures = loadSeekBarPictures(QStringLiteral(VT_PROGRAM_DIR "/"));
        QCOMPARE(pictures.knob.size(), QSize(35, 17));
        PlayerWindow window(engine, m_file, pictures);
        window.show();
        QCOMPARE(engine.state(), AudioEngine::State::Playing);
        QCOMPARE(label(window, "Label22"), QStringLiteral("News & Views.final"));

        engine.pause();
        engine.setPositionMs(0);
        window.refresh();
        QCOMPARE(label(window, "Label19"), QStringLiteral("??:??" "/03:25"));
        auto *bar = window.findChild<SeekBar *>(QStringLiteral("SeekBar1"));
        QCOMPARE(bar->position(), 0);

        // Letting go of the bar moves playback to the knob; the paused engine holds there.
        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(212, 10));
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(212, 10));
        window.refresh();
        QCOMPARE(label(window, "Label19"), QStringLiteral("01:42/03:25"));
        QCOMPARE(bar->position(), 500);

        // Pause on a paused recording continues it.
        QTest::mouseClick(window.findChild<QWidget *>(QStringLiteral("SpeedButton3")), Qt::LeftButton);
        QCOMPARE(engine.state(), AudioEngine::State::Playing);

        window.close();
        QCOMPARE(engine.state(), AudioEngine::State::Stopped);
    }

    void stopAndUnreadableFilesShowTheIdleDisplay()
    {
        audio::AudioBackend backend;
        AudioEngine engine(backend);
        engine.setDevice(0);
        PlayerWindow window(engine, m_file, {});
        window.show();
        QTest::mouseClick(window.findChild<QWidget *>(QStringLiteral("SpeedButton2")), Qt::LeftButton);
        window.refresh();
        QCOMPARE(label(window, "Label19"), QStringLiteral("00:00/00:00"));
        QCOMPARE(label(window, "Label22"), QString());
        QCOMPARE(window.findChild<SeekBar *>(QStringLiteral("SeekBar1"))->position(), 0);

        PlayerWindow broken(engine, m_dir.path() + QStringLiteral("/missing.mp3"), {});
        broken.show();
        QCOMPARE(label(broken, "Label22"), QStringLiteral("missing"));
        broken.refresh();
        QCOMPARE(label(broken, "Label22"), QString());
        QCOMPARE(label(broken, "Label19"), QStringLiteral("00:00/00:00"));
    }

private:
    QTemporaryDir m_dir;
    QString m_file;
};

QTEST_MAIN(PlayerWindowTest)
#include "test_player_window.moc"
