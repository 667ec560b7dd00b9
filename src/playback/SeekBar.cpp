#include "playback/SeekBar.h"

#include "playback/SeekBarGeometry.h"

#include <QMouseEvent>
#include <QPainter>

namespace playback {

SeekBar::SeekBar(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Moves are reported while no button is held, too.
    setMouseTracking(true);
    resize(100, 16);
}

void SeekBar::setPosition(int position)
{
    if (position == m_position)
        return;
    m_position = clampSeekPosition(position);
    Q_EMIT positionChanged(m_position);
    redraw();
    update();
}

void SeekBar::setBackColor(const QColor &color)
{
    m_backColor = color;
    redraw();
    update();
}

bool SeekBar::pictureFits() const
{
    const qreal ratio = devicePixelRatioF();
    return m_picture.devicePixelRatio() == ratio &&
           m_picture.size() == (QSizeF(size()) * ratio).toSize();
}

void SeekBar::redraw()
{
    // Drawn in device pixels: on a scaled desktop the pictures are stretched once, smoothly,
    // rather than drawn at the widget's size and doubled.
    if (!pictureFits()) {
        const qreal ratio = devicePixelRatioF();
        m_picture = QImage((QSizeF(size()) * ratio).toSize(), QImage::Format_RGB32);
        m_picture.setDevicePixelRatio(ratio);
    }
    if (m_picture.isNull())
        return;
    m_picture.fill(m_backColor);
    const SeekBarLayout layout = seekBarLayout(size(), m_strip.size(), m_knob.size(), m_position);
    QPainter painter(&m_picture);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!m_strip.isNull())
        painter.drawImage(layout.strip, m_strip);
    if (!m_knob.isNull())
        painter.drawImage(layout.knob, m_knob);
}

void SeekBar::paintEvent(QPaintEvent *)
{
    if (!pictureFits())
        redraw();
    QPainter(this).drawImage(0, 0, m_picture);
}

void SeekBar::followPointer(int x)
{
    setPosition(seekPositionAt(x, width(), m_knob.width()));
}

void SeekBar::mousePressEvent(QMouseEvent *event)
{
    m_dragging = true;
    Q_EMIT mousePressed();
    followPointer(int(event->position().x()));
}

void SeekBar::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging)
        followPointer(int(event->position().x()));
    Q_EMIT mouseMoved();
}

void SeekBar::mouseReleaseEvent(QMouseEvent *)
{
    m_dragging = false;
    Q_EMIT mouseReleased();
}

}  // namespace playback
