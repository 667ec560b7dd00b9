#pragma once
// Stereo level meter: two vertical bars (left channel at the left edge, right at the right)
// with a dB scale between them. Each bar shows the bright image below the level and the dim
// image above it. Knows nothing of audio: it is given raw levels and the full-scale level.
//
// Frames are drawn into an off-screen image and copied to the screen in one step; the widget
// is opaque, so nothing is erased underneath. The frame and the scale stay in that image
// until the size, the scale bottom or a colour changes; a level change redraws and copies
// only its own bar's column. Main thread only.

#include <QColor>
#include <QImage>
#include <QWidget>

class LevelMeter : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int MaxLev READ maxLev WRITE setMaxLev)
    Q_PROPERTY(QColor BackColor READ backColor WRITE setBackColor)
    Q_PROPERTY(QColor FrameColor READ frameColor WRITE setFrameColor)
    Q_PROPERTY(QColor TextColor READ textColor WRITE setTextColor)
    Q_PROPERTY(int BottomdB READ bottomDb WRITE setBottomDb)
    Q_PROPERTY(QImage BackBitmap READ backBitmap WRITE setBackBitmap)
    Q_PROPERTY(QImage FrontBitmap READ frontBitmap WRITE setFrontBitmap)

public:
    explicit LevelMeter(QWidget *parent = nullptr);

    // A level that moves its bar's top repaints that bar at once (synchronously); one that
    // leaves the bar as it is only is stored.
    void setLeftLev(int level);
    void setRightLev(int level);
    int leftLev() const { return m_leftLev; }
    int rightLev() const { return m_rightLev; }

    // Appearance: stored only; shown from the next paint on.
    int maxLev() const { return m_maxLev; }  // 0 is replaced by 1 at the next render
    void setMaxLev(int level) { m_maxLev = level; }
    QColor backColor() const { return m_backColor; }
    void setBackColor(const QColor &c) { m_backColor = c; }
    QColor frameColor() const { return m_frameColor; }
    void setFrameColor(const QColor &c) { m_frameColor = c; }
    QColor textColor() const { return m_textColor; }
    void setTextColor(const QColor &c) { m_textColor = c; }
    int bottomDb() const { return m_bottomDb; }  // lower end of the scale, negative
    void setBottomDb(int db) { m_bottomDb = db; }
    QImage backBitmap() const { return m_backSource; }  // bright: below the level
    void setBackBitmap(const QImage &image);
    QImage frontBitmap() const { return m_frontSource; }  // dim: above the level
    void setFrontBitmap(const QImage &image);

    // Frames drawn so far, for checking that unchanged levels cost nothing.
    int renderCount() const { return m_renderCount; }

Q_SIGNALS:
    // Any mouse button, anywhere on the meter.
    void mousePressed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    // Brings the off-screen image up to date; true when the frame and scale were redrawn.
    bool render();
    // Where the bar with left edge x can be drawn.
    QRect barColumn(int x) const;
    // Whether a bar showing level `from` looks different at level `to`.
    bool barMoves(int from, int to) const;

    QImage m_litImage;    // back source stretched to the widget
    QImage m_unlitImage;  // front source stretched to the widget
    QImage m_backSource;
    QImage m_frontSource;
    QImage m_buffer;
    bool m_stretchedStale = true;
    // What the frame and scale in the buffer were drawn for.
    struct ScaleKey {
        QSize size;
        int bottomDb = 0;
        QRgb back = 0, frame = 0, text = 0;
        bool operator==(const ScaleKey &o) const
        {
            return size == o.size && bottomDb == o.bottomDb && back == o.back && frame == o.frame && text == o.text;
        }
        bool operator!=(const ScaleKey &o) const { return !(*this == o); }
    };
    ScaleKey m_scaleKey;
    ScaleKey scaleKey() const;  // of the current settings
    QFont m_font;

    int m_rightLev = 0;
    int m_leftLev = 0;
    int m_maxLev = 32768;
    QColor m_backColor = Qt::black;
    QColor m_frameColor = Qt::black;
    QColor m_textColor = Qt::white;
    int m_bottomDb = 0;
    int m_renderCount = 0;
    int m_textHeight = 0;  // of the last frame; 0 before the first
};
