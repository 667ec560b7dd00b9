#include "i18n/AboutDialog.h"

#include "i18n/HelpLinks.h"
#include "i18n/UrlLabel.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include <functional>

namespace i18n {

namespace {

constexpr int iconSize = 16;
const QColor linkInk(0, 0, 128);

QFont boldPixelFont(const QFont &base, int pixels)
{
    QFont font = base;
    font.setPixelSize(pixels);
    font.setBold(true);
    return font;
}

// The two link icons are drawn rather than shipped: they stay sharp at any scale factor and
// need no file in the program folder.
QPixmap linkIcon(qreal devicePixelRatio, const std::function<void(QPainter &)> &draw)
{
    QPixmap pixmap(QSize(iconSize, iconSize) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(linkInk, 1.1));
    draw(painter);
    return pixmap;
}

void drawGlobe(QPainter &painter)
{
    painter.setBrush(QColor(220, 232, 250));
    painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QRectF(5, 1.5, 6, 13));
    painter.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
}

void drawEnvelope(QPainter &painter)
{
    const QRectF envelope(1.5, 3.5, 13, 9);
    painter.setBrush(QColor(250, 246, 225));
    painter.drawRoundedRect(envelope, 1, 1);
    QPainterPath flap;
    flap.moveTo(envelope.topLeft());
    flap.lineTo(envelope.center().x(), envelope.center().y() + 1);
    flap.lineTo(envelope.topRight());
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(flap);
}

QLabel *iconLabel(QWidget *parent, const QString &objectName, const QPixmap &pixmap)
{
    auto *label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setPixmap(pixmap);
    label->setFixedSize(iconSize, iconSize);
    return label;
}

}  // namespace

AboutDialog::AboutDialog(const QString &version, const QString &webAddress,
                         const QString &supportAddress, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Vantrel"));

    auto *productName = new QLabel(QStringLiteral("Vantrel"), this);
    productName->setObjectName(QStringLiteral("Label1"));
    productName->setFont(boldPixelFont(font(), 32));

    auto *versionText = new QLabel(version, this);
    versionText->setObjectName(QStringLiteral("Label4"));
    versionText->setFont(boldPixelFont(font(), 13));
    // Both labels sit on the row's bottom edge; lifting the version by the difference of
    // the two descents puts it on the name's baseline.
    const int descentGap = QFontMetrics(productName->font()).descent()
                           - QFontMetrics(versionText->font()).descent();
    versionText->setContentsMargins(0, 0, 0, qMax(0, descentGap));

    auto *closeButton = new QPushButton(QStringLiteral("x"), this);
    closeButton->setObjectName(QStringLiteral("Button1"));
    closeButton->setFont(boldPixelFont(font(), 16));
    closeButton->setFixedSize(24, 24);
    closeButton->setToolTip(QStringLiteral("Close"));
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);

    auto *webLink = new UrlLabel(webAddress, QUrl(webAddress), this);
    webLink->setObjectName(QStringLiteral("UrlLabel1"));
    auto *mailLink = new UrlLabel(supportAddress, supportMailUrl(supportAddress), this);
    mailLink->setObjectName(QStringLiteral("UrlLabel2"));

    auto *title = new QHBoxLayout;
    title->setSpacing(8);
    title->addWidget(productName, 0, Qt::AlignBottom);
    title->addWidget(versionText, 0, Qt::AlignBottom);
    title->addStretch(1);

    const qreal ratio = devicePixelRatioF();
    auto *links = new QGridLayout;
    links->setHorizontalSpacing(6);
    links->setVerticalSpacing(4);
    links->setContentsMargins(2, 0, 0, 0);
    links->addWidget(iconLabel(this, QStringLiteral("Image1"), linkIcon(ratio, drawGlobe)), 0, 0);
    links->addWidget(webLink, 0, 1);
    links->addWidget(iconLabel(this, QStringLiteral("Image2"), linkIcon(ratio, drawEnvelope)), 1, 0);
    links->addWidget(mailLink, 1, 1);
    links->setColumnStretch(1, 1);

    auto *content = new QVBoxLayout;
    content->setSpacing(10);
    content->addLayout(title);
    content->addLayout(links);

    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(18, 12, 10, 14);
    outer->setSpacing(24);
    outer->addLayout(content, 1);
    outer->addWidget(closeButton, 0, Qt::AlignTop | Qt::AlignRight);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    closeButton->setDefault(true);
    closeButton->setFocus();
}

}  // namespace i18n
