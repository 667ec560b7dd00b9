#include "meter/LevelMeter.h"

#include "meter/MeterGeometry.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

namespace {

const QColor kScaleLineColor(0x55, 0x55, 0x55);

// The buffer and the stretched images hold device pixels; a source rectangle of drawImage()
// is given in those.
QRectF devicePixels(const QRect &logical, qreal ratio)
{
    return QRectF(QPointF(logical.topLeft()) * ratio, QSizeF(logical.size()) * ratio);
}

}  // namespace

LevelMeter::LevelMeter(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    m_font = QFont(QStringLiteral("lucida console"), 7);
    m_font.setStyleHint(QFont::TypeWriter);
}

void LevelMeter::setLeftLev(int level)
{
    if (level == m_leftLev)
        return;
    const bool moves = barMoves(m_leftLev, level);
    m_leftLev = level;
    if (moves)
        repaint(barColumn(meter::kMargin));
}

void LevelMeter::setRightLev(int level)
{
    if (level == m_rightLev)
        return;
    const bool moves = barMoves(m_rightLev, level);
    m_rightLev = level;
    if (moves)
        repaint(barColumn(width() - meter::kMargin - meter::kBarWidth));
}

void LevelMeter::setBackBitmap(const QImage &image)
{
    m_backSource = image;
    m_stretchedStale = true;
}

void LevelMeter::setFrontBitmap(const QImage &image)
{
    m_frontSource = image;
    m_stretchedStale = true;
}

bool LevelMeter::barMoves(int from, int to) const
{
    // Before the first frame, or with the look changed since the last one: draw.
    if (m_textHeight == 0 || m_stretchedStale || m_maxLev == 0 || scaleKey() != m_scaleKey)
        return true;
    return meter::barTop(height(), m_textHeight, m_bottomDb, m_maxLev, from)
           != meter::barTop(height(), m_textHeight, m_bottomDb, m_maxLev, to);
}

LevelMeter::ScaleKey LevelMeter::scaleKey() const
{
    return {size(), m_bottomDb, m_backColor.rgba(), m_frameColor.rgba(), m_textColor.rgba()};
}

QRect LevelMeter::barColumn(int x) const
{
    return QRect(x, meter::kMargin, meter::kBarWidth, height() - 2 * meter::kMargin);
}

void LevelMeter::paintEvent(QPaintEvent *event)
{
    const bool scaleRedrawn = render();
    QPainter screen(this);
    screen.drawImage(event->rect(), m_buffer, devicePixels(event->rect(), m_buffer.devicePixelRatio()));
    // A bar's repaint found the scale changed since the last frame: show the rest as well.
    if (scaleRedrawn && !event->rect().contains(rect()))
        update();
}

void LevelMeter::mousePressEvent(QMouseEvent *)
{
    Q_EMIT mousePressed();
}

bool LevelMeter::render()
{
    ++m_renderCount;
    if (m_maxLev == 0)
        m_maxLev = 1;

    const int w = width();
    const int h = height();
    // Drawn in device pixels, so that the digits and the bars' edges are as sharp as the
    // desktop's text on a scaled screen; the geometry stays in the widget's coordinates.
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(w, h) * ratio).toSize();
    if (m_buffer.size() != pixels || m_buffer.devicePixelRatio() != ratio) {
        m_buffer = QImage(pixels, QImage::Format_RGB32);
        m_buffer.setDevicePixelRatio(ratio);
        m_stretchedStale = true;
        m_scaleKey = {};
    }
    if (m_stretchedStale) {
        // Stretched once per size or image change rather than every frame; the picture is
        // the same.
        const auto stretch = [pixels, ratio](const QImage &src) {
            if (src.isNull())
                return QImage();
            QImage stretched = src.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            stretched.setDevicePixelRatio(ratio);
            return stretched;
        };
        m_litImage = stretch(m_backSource);
        m_unlitImage = stretch(m_frontSource);
        m_stretchedStale = false;
    }
    if (m_buffer.isNull())
        return false;

    QPainter p(&m_buffer);
    p.setFont(m_font);
    const QFontMetrics fm(m_font, &m_buffer);
    const meter::MeterGeometry g = meter::computeMeterGeometry(
        w, h, fm.height(), fm.horizontalAdvance(QLatin1Char('0')), m_bottomDb, m_maxLev,
        m_leftLev, m_rightLev);

    // The frame and the scale depend only on size, scale bottom and colours, and the bars
    // never overlap them: they stay in the buffer until one of these changes, so a level
    // change redraws just the two bars (text rendering is the costly part of a frame).
    const ScaleKey key = scaleKey();
    const bool scaleChanged = key != m_scaleKey;
    m_textHeight = g.textHeight;
    if (scaleChanged) {
        m_scaleKey = key;
        p.fillRect(0, 0, w, h, m_backColor);
        p.setPen(m_frameColor);
        p.setBrush(Qt::NoBrush);
        p.drawRect(0, 0, w - 1, h - 1);

        for (int y : g.lineYs)
            p.fillRect(g.scaleLeft, y, g.scaleRight - g.scaleLeft, 1, kScaleLineColor);
        p.setPen(m_textColor);
        for (const meter::MeterLabel &label : g.labels) {
            const QString text = QString::number(label.value);
            // Each label sits on its own line; the opaque box cuts the line behind the digits.
            p.fillRect(label.x, label.y, fm.horizontalAdvance(text), g.textHeight, m_backColor);
            p.drawText(label.x, label.y + fm.ascent(), text);
        }
    }

    for (const meter::MeterBar &bar : {g.left, g.right}) {
        if (!m_litImage.isNull() && !bar.litRect().isEmpty())
            p.drawImage(bar.litRect(), m_litImage, devicePixels(bar.litRect(), ratio));
        if (!m_unlitImage.isNull() && !bar.unlitRect().isEmpty())
            p.drawImage(bar.unlitRect(), m_unlitImage, devicePixels(bar.unlitRect(), ratio));
    }
    return scaleChanged;
}
