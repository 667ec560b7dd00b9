#pragma once
// A label that is a link: underlined navy text, a hand cursor while the mouse is over it,
// and a click (left button pressed and released on it, or Enter or Space while it has the
// focus) opens `url` with the desktop's handler. A window may set the font and colour
// afterwards. Main thread only.

#include <QCursor>
#include <QLabel>
#include <QUrl>

#include <functional>

namespace i18n {

// Opens `url` with the desktop's handler. False when the desktop has no program for it (no
// xdg-open): the cause is then logged and given in *why. A browser or mail program that
// fails later is the desktop's to report.
bool openWithDesktop(const QUrl &url, QString *why = nullptr);

class UrlLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QUrl url READ url WRITE setUrl)

public:
    using ClickHandler = std::function<void(UrlLabel *)>;

    explicit UrlLabel(QWidget *parent = nullptr);
    UrlLabel(const QString &text, const QUrl &url, QWidget *parent = nullptr);

    QUrl url() const { return m_url; }
    void setUrl(const QUrl &url) { m_url = url; }

    // A handler set here takes the click over: the URL is then no longer opened. An empty
    // handler gives the label its own behaviour back.
    void setClickHandler(ClickHandler handler) { m_clickHandler = std::move(handler); }

    // What a click does.
    void click();

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void openUrl();

    QUrl m_url;
    ClickHandler m_clickHandler;
    bool m_pressed = false;
    // The cursor the label had before the mouse entered it; none when it showed its
    // parent's.
    bool m_hadOwnCursor = false;
    QCursor m_cursorBeforeEnter;
};

}  // namespace i18n
