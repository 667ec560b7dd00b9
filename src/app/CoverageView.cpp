#include "app/CoverageView.h"

#include "ledger/Ledger.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QToolTip>
#include <algorithm>

namespace app {

namespace {

using ledger::StripShade;

constexpr int kRefreshMs = 60 * 1000;
constexpr int kPitch = 4;  // a strip of 3 pixels and a gap of 1: the tab keeps room for the list
constexpr int kLabelEvery = 7;  // a date every week down the column, today's first

QFont smallFont(const QFont &font)
{
    QFont small = font;
    if (font.pointSizeF() > 0) small.setPointSizeF(font.pointSizeF() * 0.85);
    return small;
}

}  // namespace

CoverageView::CoverageView(ledger::Ledger &ledger, QWidget *parent) : QWidget(parent), m_ledger(ledger)
{
    setObjectName(QStringLiteral("pbCoverage"));
    setFont(smallFont(font()));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto *timer = new QTimer(this);
    timer->setInterval(kRefreshMs);
    connect(timer, &QTimer::timeout, this, [this] {
        if (isVisible()) refresh();
    });
    timer->start();
}

void CoverageView::refresh()
{
    if (m_asking) return;  // the answer on its way will do
    m_asking = true;
    const QDate today = QDate::currentDate();
    m_ledger.requestSpans(ledger::localDay(today.addDays(1 - kDays)).startMs, ledger::localDay(today).endMs, this,
                          [this, today](std::vector<ledger::Span> spans, QSet<QString> damagedFiles) {
                              m_asking = false;
                              setSpans(today, QDateTime::currentMSecsSinceEpoch(), spans, damagedFiles);
                          });
}

void CoverageView::setSpans(const QDate &newestDay, qint64 nowMs, const std::vector<ledger::Span> &spans,
                            const QSet<QString> &damagedFiles)
{
    m_days.clear();
    m_nowMs = nowMs;
    m_damagedFiles = damagedFiles;
    for (int i = 0; i < kDays; ++i) {
        Day day;
        day.date = newestDay.addDays(-i);
        day.bounds = ledger::localDay(day.date);
        std::copy_if(spans.begin(), spans.end(), std::back_inserter(day.spans), [&](const ledger::Span &s) {
            return s.startMs < day.bounds.endMs && s.endMs > day.bounds.startMs;
        });
        day.segments = ledger::stripSegments(day.spans, damagedFiles, day.date, nowMs);
        m_days.push_back(std::move(day));
    }
    update();
}

QColor CoverageView::shadeColour(StripShade shade)
{
    switch (shade) {
    case StripShade::Lost: return QColor(0xe5, 0x39, 0x35);
    case StripShade::Damaged: return QColor(0x7f, 0x12, 0x12);
    case StripShade::Silent: return QColor(0xf5, 0xa6, 0x00);
    case StripShade::Recorded: return QColor(0x3d, 0xa3, 0x4a);
    case StripShade::Unrecorded: return QColor(0xf2, 0xb0, 0xac);
    case StripShade::NotAsked: break;
    }
    return QColor(0xc4, 0xc4, 0xc4);
}

int CoverageView::labelWidth() const { return fontMetrics().horizontalAdvance(QStringLiteral("00-00")) + 6; }

// The hour numbers, their ticks and a gap of two pixels.
int CoverageView::scaleHeight() const { return fontMetrics().height() + 6; }


QSize CoverageView::sizeHint() const { return {labelWidth() + 24 * 16, scaleHeight() + kDays * kPitch}; }

QSize CoverageView::minimumSizeHint() const { return {labelWidth() + 24 * 4, sizeHint().height()}; }

// The strips leave room on the right for half the "24" of the scale.
QRect CoverageView::stripRect(int row) const
{
    const int right = fontMetrics().horizontalAdvance(QStringLiteral("24")) / 2 + 1;
    return {labelWidth(), scaleHeight() + row * kPitch, std::max(1, width() - labelWidth() - right), kPitch - 1};
}

int CoverageView::rowAt(int y) const
{
    if (y < scaleHeight()) return -1;
    const int row = (y - scaleHeight()) / kPitch;
    return row < int(m_days.size()) ? row : -1;
}

ledger::StripScale CoverageView::scaleOf(const Day &day) const
{
    const QRect strip = stripRect(0);
    return {day.bounds.startMs, day.bounds.endMs, strip.left(), strip.width()};
}

void CoverageView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintScale(painter);
    for (int row = 0; row < int(m_days.size()); ++row) paintDay(painter, row);
}

// Hour ticks over the strips, the longer every six hours with the hour written above.
void CoverageView::paintScale(QPainter &painter) const
{
    const QRect strip = stripRect(0);
    const int base = scaleHeight() - 3;
    painter.setPen(palette().color(QPalette::WindowText));
    for (int hour = 0; hour <= 24; ++hour) {
        const int x = strip.left() + hour * strip.width() / 24;
        const bool major = hour % 6 == 0;
        painter.drawLine(x, base - (major ? 3 : 1), x, base);
        if (!major) continue;
        const QString text = QString::number(hour);
        const int w = fontMetrics().horizontalAdvance(text);
        painter.drawText(QRect(x - w / 2, 0, w, fontMetrics().height()), Qt::AlignCenter, text);
    }
}

void CoverageView::paintDay(QPainter &painter, int row) const
{
    const Day &day = m_days[size_t(row)];
    const QRect strip = stripRect(row);
    const ledger::StripScale scale = scaleOf(day);
    painter.fillRect(strip, palette().color(QPalette::Base));  // the rest of today
    for (const ledger::StripRun &run : ledger::stripRuns(day.segments, scale))
        painter.fillRect(run.x, strip.top(), run.width, strip.height(), shadeColour(run.shade));
    const QColor hourMark(255, 255, 255, 60), quarterMark(255, 255, 255, 150);
    for (const qint64 mark : ledger::hourMarks(day.date)) {
        const int hour = QDateTime::fromMSecsSinceEpoch(mark).time().hour();
        if (mark == day.bounds.startMs) continue;
        painter.fillRect(scale.xOf(mark), strip.top(), 1, strip.height(), hour % 6 == 0 ? quarterMark : hourMark);
    }
    if (row % kLabelEvery != 0) return;
    const int textHeight = fontMetrics().height();
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(0, strip.center().y() - textHeight / 2, labelWidth() - 4, textHeight),
                     Qt::AlignRight | Qt::AlignVCenter, day.date.toString(QStringLiteral("MM-dd")));
}

QString CoverageView::toolTipAt(const QPoint &at) const
{
    if (!m_ledger.isUsable()) return QStringLiteral("No coverage: the ledger cannot be read (%1)").arg(m_ledger.error());
    const int row = rowAt(at.y());
    if (row < 0) return {};
    const Day &day = m_days[size_t(row)];
    const ledger::StripScale scale = scaleOf(day);
    if (at.x() < scale.left || at.x() >= scale.left + scale.width) return {};
    const qint64 ms = scale.msAt(at.x());
    const QString moment = QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    if (ms >= m_nowMs) return moment + QStringLiteral("\nstill to come");
    const ledger::Span *span = ledger::spanAt(day.spans, m_damagedFiles, scale, at.x());
    if (!span) return moment + QStringLiteral("\nnothing asked or recorded");
    const bool damaged = span->kind == ledger::SpanKind::Recorded && m_damagedFiles.contains(span->file);
    return moment + QLatin1Char('\n') + ledger::spanDescription(*span, damaged);
}

bool CoverageView::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    auto *help = static_cast<QHelpEvent *>(event);
    const QString text = toolTipAt(help->pos());
    if (text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(help->globalPos(), text, this);
    }
    return true;
}

void CoverageView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
}

QWidget *coverageLegend(QWidget *parent)
{
    struct Entry {
        StripShade shade;
        const char *objectName;
        const char *text;
    };
    const Entry entries[] = {{StripShade::Recorded, "lbCoverageRecorded", "recorded"},
                             {StripShade::Damaged, "lbCoverageDamaged", "damaged"},
                             {StripShade::Lost, "lbCoverageLost", "lost"},
                             {StripShade::Silent, "lbCoverageSilent", "silent"},
                             {StripShade::Unrecorded, "lbCoverageUnrecorded", "missing"},
                             {StripShade::NotAsked, "lbCoverageNotAsked", "not asked"}};
    auto *legend = new QWidget(parent);
    legend->setObjectName(QStringLiteral("pnCoverageLegend"));
    legend->setFont(smallFont(legend->font()));
    auto *row = new QHBoxLayout(legend);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(3);
    const int side = legend->fontMetrics().ascent() - 2;
    for (const Entry &e : entries) {
        QPixmap swatch(side, side);
        swatch.fill(CoverageView::shadeColour(e.shade));
        auto *sample = new QLabel(legend);
        sample->setPixmap(swatch);
        auto *caption = new QLabel(QString::fromLatin1(e.text), legend);
        caption->setObjectName(QString::fromLatin1(e.objectName));
        row->addWidget(sample);
        row->addWidget(caption);
        row->addSpacing(5);
    }
    row->addStretch(1);
    return legend;
}

}  // namespace app
