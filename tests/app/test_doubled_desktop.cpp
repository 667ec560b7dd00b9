// The program's own painted controls on a desktop scaled to 200 %: each paints in device
// pixels, never at its own size doubled beside the sharp text of the rest of the window.

#include "app/ProgramFolder.h"
#include "app/Recorder.h"
#include "app/RecordingTab.h"
#include "audio/AudioBackend.h"
#include "meter/LevelMeter.h"
#include "meter/MeterLook.h"
#include "playback/AudioEngine.h"
#include "playback/PlayerWindow.h"
#include "playback/SeekBar.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// True when every aligned 2 × 2 block is one colour: a picture painted at half the size.
bool isPixelDoubled(const QImage &image)
{
    for (int y = 0; y + 1 < image.height(); y += 2)
        for (int x = 0; x + 1 < image.width(); x += 2) {
            const QRgb c = image.pixel(x, y);
            if (image.pixel(x + 1, y) != c || image.pixel(x, y + 1) != c || image.pixel(x + 1, y + 1) != c)
                return false;
        }
    return true;
}

QSize iconPixels(const QAbstractButton *button)
{
    return button ? button->icon().pixmap(QSize(16, 16), 2.0).size() : QSize();
}

}  // namespace

class DoubledDesktopTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QCOMPARE(qApp->devicePixelRatio(), 2.0); }

    void meterAndSeekBarPaintInDevicePixels()
    {
        LevelMeter lev;
        meter::applyInputMeterLook(lev);
        lev.setBottomDb(-24);
        lev.setLeftLev(16384);
        lev.resize(50, 293);
        const QImage meterShot = lev.grab().toImage();
        QCOMPARE(meterShot.size(), QSize(100, 586));
        QVERIFY2(!isPixelDoubled(meterShot), "the meter's digits are doubled pixels");

        QImage strip(155, 9, QImage::Format_RGB32);  // a stripe every other pixel
        for (int x = 0; x < strip.width(); ++x)
            for (int y = 0; y < strip.height(); ++y)
                strip.setPixelColor(x, y, x % 2 ? Qt::white : Qt::blue);
        playback::SeekBar bar;
        bar.setStripImage(strip);
        bar.resize(425, 16);
        bar.setPosition(500);
        QCOMPARE(bar.picture().size(), QSize(850, 32));
        QCOMPARE(bar.picture().devicePixelRatio(), 2.0);
        QVERIFY2(!isPixelDoubled(bar.grab().toImage()), "the seek bar is doubled pixels");
    }

    void drawnIconsHaveDevicePixelPictures()
    {
        QTemporaryDir dir;
        app::setProgramFolder(dir.path());
        app::Recorder recorder;
        app::RecordingTab tab(recorder);
        for (const char *name : {"BitBtn1", "BitBtn2"})
            QCOMPARE(iconPixels(tab.findChild<QAbstractButton *>(QLatin1String(name))), QSize(32, 32));

        audio::AudioBackend backend;
        playback::AudioEngine engine(backend);
        playback::PlayerWindow player(engine, dir.filePath(QStringLiteral("none.mp3")), {});
        const QList<QAbstractButton *> buttons = player.findChildren<QAbstractButton *>();
        QVERIFY(!buttons.isEmpty());
        for (const QAbstractButton *button : buttons)
            if (!button->icon().isNull())
                QCOMPARE(iconPixels(button), QSize(32, 32));
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    DoubledDesktopTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_doubled_desktop.moc"
