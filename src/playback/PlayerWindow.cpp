#include "playback/PlayerWindow.h"

#include "playback/AudioEngine.h"
#include "playback/PlayerDisplay.h"
#include "playback/SeekBar.h"

#include <QFile>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>
#include <QShowEvent>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

Q_LOGGING_CATEGORY(lcPlayer, "vantrel.playback.player")

namespace playback {

namespace {

constexpr int kRefreshMs = 100;
// The layout's title frame and time display; the display grows leftwards over the title
// when its text needs more room (from 100 minutes on), keeping this gap between them.
constexpr QRect kTitleFrameRect(7, 8, 327, 15);
constexpr QRect kTimeRect(346, 8, 88, 16);
constexpr int kTitleInset = 1;
constexpr int kTitleToTimeGap = kTimeRect.left() - (kTitleFrameRect.right() + 1);
const QString kIdleTime = QStringLiteral("00:00/00:00");

enum class Symbol { Play, Stop, Pause };

// A button picture for desktops whose icon theme lacks the media symbols: dark glyphs on
// transparency, drawn at 16 × 16 for plain and doubled desktops alike.
QPixmap drawnPicture(Symbol symbol, qreal ratio)
{
    QPixmap pixmap(QSize(16, 16) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2e, 0x34, 0x36));
    switch (symbol) {
    case Symbol::Play: {
        QPainterPath triangle;
        triangle.moveTo(4, 2);
        triangle.lineTo(14, 8);
        triangle.lineTo(4, 14);
        triangle.closeSubpath();
        painter.drawPath(triangle);
        break;
    }
    case Symbol::Stop:
        painter.drawRect(3, 3, 10, 10);
        break;
    case Symbol::Pause:
        painter.drawRect(3, 2, 4, 12);
        painter.drawRect(9, 2, 4, 12);
        break;
    }
    painter.end();
    return pixmap;
}

QIcon drawnIcon(Symbol symbol)
{
    QIcon icon(drawnPicture(symbol, 1.0));
    icon.addPixmap(drawnPicture(symbol, 2.0));
    return icon;
}

QToolButton *pictureButton(const QString &objectName, const QString &themeIcon, Symbol symbol,
                           const QString &toolTip, const QRect &geometry, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setIcon(QIcon::fromTheme(themeIcon, drawnIcon(symbol)));
    button->setIconSize(QSize(16, 16));
    button->setToolTip(toolTip);
    button->setAutoRaise(true);
    // Space belongs to the window (pause and resume), never to the button under the focus.
    button->setFocusPolicy(Qt::NoFocus);
    button->setGeometry(geometry);
    return button;
}

QImage loadPicture(const QString &path)
{
    QImage image;
    if (!QFile::exists(path))
        qCWarning(lcPlayer).noquote() << "seek bar picture missing:" << path;
    else if (!image.load(path))
        qCWarning(lcPlayer).noquote() << "seek bar picture unreadable:" << path;
    return image;
}

}  // namespace

SeekBarPictures loadSeekBarPictures(const QString &programFolder)
{
    return {loadPicture(programFolder + seekStripFile()), loadPicture(programFolder + seekKnobFile())};
}

PlayerWindow::PlayerWindow(AudioEngine &engine, const QString &fileName,
                           const SeekBarPictures &pictures, QWidget *parent)
    : QDialog(parent), m_engine(engine), m_fileName(fileName)
{
    setObjectName(QStringLiteral("frmPlayer"));
    // The caption is the same in every language.
    setWindowTitle(QStringLiteral("MiniPlayer"));
    setFixedSize(442, 84);
    makeTitle();
    makeTimeDisplay();
    makeSeekBar(pictures);
    makeButtons();
    showEngineFailures();

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setObjectName(QStringLiteral("Timer1"));
    m_refreshTimer->setInterval(kRefreshMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &PlayerWindow::refresh);
    m_refreshTimer->start();
}

void PlayerWindow::makeTitle()
{
    m_titleFrame = new QFrame(this);
    m_titleFrame->setObjectName(QStringLiteral("Bevel1"));
    m_titleFrame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_titleFrame->setGeometry(kTitleFrameRect);

    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("Label22"));
    // Plain text: a file name is shown as it is, "&" and "<" included.
    m_title->setTextFormat(Qt::PlainText);
    m_title->setAutoFillBackground(true);
    QPalette white = m_title->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    m_title->setPalette(white);
    m_title->setGeometry(kTitleFrameRect.adjusted(kTitleInset, kTitleInset, -kTitleInset, -kTitleInset));
    QFont titleFont = m_title->font();
    titleFont.setPixelSize(11);
    m_title->setFont(titleFont);
}

void PlayerWindow::makeTimeDisplay()
{
    m_time = new QLabel(kIdleTime, this);
    m_time->setObjectName(QStringLiteral("Label19"));
    m_time->setTextFormat(Qt::PlainText);
    QFont mono(QStringLiteral("Courier New"));
    mono.setStyleHint(QFont::TypeWriter);
    mono.setPixelSize(13);
    m_time->setFont(mono);
    m_time->setGeometry(kTimeRect);
}

void PlayerWindow::makeSeekBar(const SeekBarPictures &pictures)
{
    m_seekBar = new SeekBar(this);
    m_seekBar->setObjectName(QStringLiteral("SeekBar1"));
    m_seekBar->setGeometry(8, 27, 425, 20);
    m_seekBar->setStripImage(pictures.strip);
    m_seekBar->setKnobImage(pictures.knob);
    m_seekBar->setBackColor(palette().color(QPalette::Button));
    m_seekBar->setPosition(1);
    connect(m_seekBar, &SeekBar::mousePressed, this, [this] { m_followEngine = false; });
    connect(m_seekBar, &SeekBar::mouseReleased, this, &PlayerWindow::seekToBar);
}

void PlayerWindow::makeButtons()
{
    m_playButton = pictureButton(QStringLiteral("SpeedButton4"), QStringLiteral("media-playback-start"),
                                 Symbol::Play, QStringLiteral("Play"), QRect(8, 50, 26, 27), this);
    m_stopButton = pictureButton(QStringLiteral("SpeedButton2"), QStringLiteral("media-playback-stop"),
                                 Symbol::Stop, QStringLiteral("Stop"), QRect(38, 50, 26, 26), this);
    m_pauseButton = pictureButton(QStringLiteral("SpeedButton3"), QStringLiteral("media-playback-pause"),
                                  Symbol::Pause, QStringLiteral("Pause"), QRect(68, 50, 26, 26), this);
    connect(m_playButton, &QToolButton::clicked, this, &PlayerWindow::play);
    connect(m_stopButton, &QToolButton::clicked, &m_engine, &AudioEngine::stop);
    connect(m_pauseButton, &QToolButton::clicked, this, &PlayerWindow::pauseOrResume);
    auto *space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    connect(space, &QShortcut::activated, this, &PlayerWindow::toggleByKey);
}

void PlayerWindow::showEngineFailures()
{
    // A failure while playing ends the track; the next refresh shows the idle display.
    connect(&m_engine, &AudioEngine::playbackFailed, this, [this](const QString &message) {
        QMessageBox::warning(this, windowTitle(), tr("Playback stopped: %1").arg(message));
    });
    // The texts of a failure inside Play are the program's own, shown as they stand.
    connect(&m_engine, &AudioEngine::playFailed, this, [this](const QString &message) {
        QMessageBox::critical(this, QStringLiteral("Exception"),
                              QStringLiteral("Exception: %1\nFunc: AudioEnginePlay").arg(message));
    });
}

PlayerWindow::~PlayerWindow()
{
    m_engine.stop();
}

void PlayerWindow::play()
{
    m_title->setText(playerTitle(m_fileName));
    m_engine.play(m_fileName, false);
}

void PlayerWindow::refresh()
{
    const AudioEngine::State state = m_engine.state();
    const qint32 lengthMs = m_engine.lengthMs();
    if (lengthMs != 0 && (state == AudioEngine::State::Playing || state == AudioEngine::State::Paused)) {
        const qint32 positionMs = m_engine.positionMs();
        showTime(playTimeDisplay(positionMs, lengthMs));
        if (m_followEngine)
            m_seekBar->setPosition(playedPerMille(positionMs, lengthMs));
    } else {
        showTime(kIdleTime);
        m_seekBar->setPosition(0);
        m_title->clear();
    }
}

void PlayerWindow::pauseOrResume()
{
    if (m_engine.state() == AudioEngine::State::Paused)
        m_engine.resume();
    else
        m_engine.pause();
}

// As desktop players do: Space pauses a playing file and continues a paused one where it
// stands; only a stopped or finished one starts again, from its beginning.
void PlayerWindow::toggleByKey()
{
    const AudioEngine::State state = m_engine.state();
    if (state == AudioEngine::State::Playing || state == AudioEngine::State::Paused)
        pauseOrResume();
    else
        play();
}

void PlayerWindow::showTime(const QString &text)
{
    m_time->setText(text);
    const int width = std::max(kTimeRect.width(), m_time->fontMetrics().horizontalAdvance(text));
    if (width == m_time->width())
        return;
    QRect time = kTimeRect;
    time.setLeft(kTimeRect.right() + 1 - width);
    m_time->setGeometry(time);
    QRect frame = kTitleFrameRect;
    frame.setRight(time.left() - kTitleToTimeGap - 1);
    m_titleFrame->setGeometry(frame);
    m_title->setGeometry(frame.adjusted(kTitleInset, kTitleInset, -kTitleInset, -kTitleInset));
}

void PlayerWindow::seekToBar()
{
    m_engine.setPositionMs(seekTargetMs(m_seekBar->position(), m_engine.lengthMs()));
    m_followEngine = true;
}

void PlayerWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Showing the window is the user's request to hear the file.
    if (!event->spontaneous())
        play();
}

void PlayerWindow::hideEvent(QHideEvent *event)
{
    // Every way of closing hides the window first: the button in the title bar, Escape,
    // the owner going away.
    if (!event->spontaneous())
        m_engine.stop();
    QDialog::hideEvent(event);
}

}  // namespace playback
