#include "i18n/UrlLabel.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QToolTip>

namespace i18n {

Q_LOGGING_CATEGORY(lcLinks, "vantrel.i18n.links")

bool openWithDesktop(const QUrl &url, QString *why)
{
    if (QDesktopServices::openUrl(url))
        return true;
    const QString cause = QStringLiteral("Cannot open %1: the desktop has no program for it").arg(url.toDisplayString());
    qCWarning(lcLinks).noquote() << cause;
    if (why)
        *why = cause;
    return false;
}

UrlLabel::UrlLabel(QWidget *parent) : QLabel(parent)
{
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    QPalette navy = palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    setPalette(navy);
    setFocusPolicy(Qt::StrongFocus);
    setTextInteractionFlags(Qt::NoTextInteraction);
}

UrlLabel::UrlLabel(const QString &text, const QUrl &url, QWidget *parent) : UrlLabel(parent)
{
    setText(text);
    m_url = url;
}

void UrlLabel::click()
{
    if (m_clickHandler)
        m_clickHandler(this);
    else
        openUrl();
}

void UrlLabel::openUrl()
{
    if (m_url.isEmpty())
        return;
    QString cause;
    if (!openWithDesktop(m_url, &cause))
        QToolTip::showText(mapToGlobal(rect().bottomLeft()), cause, this);
}

void UrlLabel::enterEvent(QEnterEvent *event)
{
    m_hadOwnCursor = testAttribute(Qt::WA_SetCursor);
    m_cursorBeforeEnter = cursor();
    setCursor(Qt::PointingHandCursor);
    QLabel::enterEvent(event);
}

void UrlLabel::leaveEvent(QEvent *event)
{
    if (m_hadOwnCursor)
        setCursor(m_cursorBeforeEnter);
    else
        unsetCursor();
    QLabel::leaveEvent(event);
}

void UrlLabel::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void UrlLabel::mouseReleaseEvent(QMouseEvent *event)
{
    const bool clicked = m_pressed && event->button() == Qt::LeftButton
                         && rect().contains(event->position().toPoint());
    m_pressed = false;
    QLabel::mouseReleaseEvent(event);
    if (clicked)
        click();
}

void UrlLabel::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

void UrlLabel::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    // A label draws no focus of its own; a link reached with Tab must show that it has it.
    if (!hasFocus())
        return;
    QStylePainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = contentsRect();
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}

}  // namespace i18n
