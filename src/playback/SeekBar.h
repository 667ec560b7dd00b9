#pragma once
// Horizontal seek bar drawn from two pictures: a strip stretched across the control and a
// knob placed at the position, 0…999 per mille of the knob's travel. The user sets the
// position by pressing and dragging (any button); the owner sets it from code.
//
// The finished picture lives in an off-screen image, redrawn when the position or the
// background colour changes, or when the control's size no longer matches it; painting only
// copies it, and the control is opaque, so nothing is erased underneath. Assigned pictures
// show from the next redraw on. Main thread only.

#include <QColor>
#include <QImage>
#include <QWidget>

namespace playback {

class SeekBar : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Position READ position WRITE setPosition NOTIFY positionChanged)
    Q_PROPERTY(QColor BackColor READ backColor WRITE setBackColor)
    Q_PROPERTY(QImage Img_Back READ stripImage WRITE setStripImage)
    Q_PROPERTY(QImage Img_Slider READ knobImage WRITE setKnobImage)

public:
    explicit SeekBar(QWidget *parent = nullptr);

    int position() const { return m_position; }
    // A value equal to the current one does nothing. Any other is clamped into 0…999 and
    // announced with positionChanged(), even when the clamp gives back the old value; the
    // control is then redrawn.
    void setPosition(int position);

    QColor backColor() const { return m_backColor; }
    void setBackColor(const QColor &color);
    QImage stripImage() const { return m_strip; }
    void setStripImage(const QImage &image) { m_strip = image; }
    QImage knobImage() const { return m_knob; }
    void setKnobImage(const QImage &image) { m_knob = image; }

    bool isDragging() const { return m_dragging; }
    // The off-screen picture as last drawn, in device pixels (its devicePixelRatio is the
    // widget's).
    const QImage &picture() const { return m_picture; }

Q_SIGNALS:
    void positionChanged(int position);
    // Once per press, move and release. A press is announced before the position follows
    // the pointer, a move after it, so an owner can stop moving the bar itself first.
    void mousePressed();
    void mouseMoved();
    void mouseReleased();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool pictureFits() const;  // of the widget's size and pixel ratio
    void redraw();
    void followPointer(int x);

    int m_position = 0;
    QColor m_backColor = QColor(192, 192, 192);
    QImage m_strip;
    QImage m_knob;
    QImage m_picture;
    bool m_dragging = false;
};

}  // namespace playback
