#include "audio/AudioBackend.h"
#include "playback/AudioEngine.h"
#include "playback/PlayerDisplay.h"
#include "playback/PlayerWindow.h"
#include "playback/SeekBar.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace playback;

namespace {

// 8 kHz mono from an FFmpeg source: `seconds` of a quiet sine, or of silence. Written to a
// pipe (`piped`), a FLAC never gets its total length into its header: the file a crash
// leaves behind.
bool makeRecording(const QString &path, QString *why, int seconds = 205, bool silent = false,
                   bool piped = false)
{
    const QString source = silent ? QStringLiteral("anullsrc=r=8000:cl=mono:d=%1").arg(seconds)
                                  : QStringLiteral("sine=frequency=440:sample_rate=8000:duration=%1").arg(seconds);
    QStringList args{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                     QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), source,
                     QStringLiteral("-af"), QStringLiteral("volume=0.1")};
    QProcess ffmpeg;
    if (piped) {
        args << QStringLiteral("-f") << QStringLiteral("flac") << QStringLiteral("pipe:1");
        ffmpeg.setStandardOutputFile(path);
    } else {
        args << path;
    }
    ffmpeg.start(QStringLiteral("ffmpeg"), args);
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
        m_lengthless = m_dir.filePath(QStringLiteral("cut off.flac"));
        QVERIFY2(makeRecording(m_lengthless, &why, 205, false, true), qPrintable(why));
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

    void showsTitleAndUnknownTimeAtTheStart_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("title");
        QTest::newRow("wav") << m_file << QStringLiteral("News & Views.final");
        // Its length comes from the time stamps at its end.
        QTest::newRow("flac without a length in its header") << m_lengthless << QStringLiteral("cut off");
    }

    void showsTitleAndUnknownTimeAtTheStart()
    {
        QFETCH(QString, file);
        QFETCH(QString, title);
        audio::AudioBackend backend;
        AudioEngine engine(backend);
        engine.setDevice(0);  // "No sound": plays in real time, silently
        const SeekBarPictures pictures = loadSeekBarPictures(QStringLiteral(VT_PROGRAM_DIR "/"));
        QCOMPARE(pictures.knob.size(), QSize(35, 17));
        PlayerWindow window(engine, file, pictures);
        window.show();
        QCOMPARE(engine.state(), AudioEngine::State::Playing);
        window.refresh();
        QCOMPARE(label(window, "Label22"), title);

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

    // A logger's two-hour block: the time display shows whole, the title gives way to it.
    void longRecordingShowsItsWholeTime()
    {
        const QString file = m_dir.filePath(QStringLiteral("two hours.flac"));
        QString why;
        QVERIFY2(makeRecording(file, &why, 125 * 60, true), qPrintable(why));
        audio::AudioBackend backend;
        AudioEngine engine(backend);
        engine.setDevice(0);
        PlayerWindow window(engine, file, {});
        window.show();
        engine.pause();
        engine.setPositionMs(123 * 60000 + 20000);
        window.refresh();
        const auto *time = window.findChild<QLabel *>(QStringLiteral("Label19"));
        QCOMPARE(time->text(), QStringLiteral("123:20/125:00"));
        QVERIFY(time->width() >= time->fontMetrics().horizontalAdvance(time->text()));
        QVERIFY(window.rect().contains(time->geometry()));
        QVERIFY(window.findChild<QWidget *>(QStringLiteral("Bevel1"))->geometry().right() < time->x());
    }

    // Space pauses and continues where playback stands, whichever control has the focus.
    void spacePausesAndContinuesWhereItStands()
    {
        audio::AudioBackend backend;
        AudioEngine engine(backend);
        engine.setDevice(0);
        PlayerWindow window(engine, m_file, {});
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        engine.setPositionMs(60000);
        auto pressSpace = [&window] {
            QWidget *focus = QApplication::focusWidget();
            QTest::keyClick(focus ? focus : &window, Qt::Key_Space);
        };
        pressSpace();
        QCOMPARE(engine.state(), AudioEngine::State::Paused);
        QVERIFY2(engine.positionMs() >= 60000, qPrintable(QString::number(engine.positionMs())));
        pressSpace();
        QCOMPARE(engine.state(), AudioEngine::State::Playing);
        QVERIFY2(engine.positionMs() >= 60000, qPrintable(QString::number(engine.positionMs())));
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
    QString m_lengthless;
};

QTEST_MAIN(PlayerWindowTest)
#include "test_player_window.moc"
