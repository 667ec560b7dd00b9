#pragma once
// The coverage of the last 30 local days as a picture: a strip a day, today on top, each the
// day from midnight to midnight with its hours marked, in the shades of ledger::StripShade.
// A tool tip names the span under the mouse. The geometry is ledger/CoverageStrip.h's; this
// widget only lays the strips out and paints them.
//
// Runs on the GUI thread. The spans come from the ledger's worker through requestSpans, so
// that a slow disk never holds the window; the view asks when it is shown and every minute
// while it is visible.

#include "ledger/CoverageStrip.h"

#include <QColor>
#include <QDate>
#include <QSet>
#include <QWidget>
#include <vector>

class QPainter;

namespace ledger {
class Ledger;
}

namespace app {

class CoverageView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDays = 30;

    explicit CoverageView(ledger::Ledger &ledger, QWidget *parent = nullptr);

    // Asks the ledger for the days up to today; the answer repaints.
    void refresh();
    // Shows the kDays days up to newestDay from these spans; newestDay is left blank after nowMs.
    void setSpans(const QDate &newestDay, qint64 nowMs, const std::vector<ledger::Span> &spans,
                  const QSet<QString> &damagedFiles);

    static QColor shadeColour(ledger::StripShade shade);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;

private:
    struct Day {
        QDate date;
        ledger::Interval bounds;
        std::vector<ledger::Span> spans;  // those overlapping the day
        std::vector<ledger::StripSegment> segments;
    };

    int labelWidth() const;
    int scaleHeight() const;
    ledger::StripScale scaleOf(const Day &day) const;
    QRect stripRect(int row) const;
    int rowAt(int y) const;
    QString toolTipAt(const QPoint &at) const;
    void paintScale(QPainter &painter) const;
    void paintDay(QPainter &painter, int row) const;

    ledger::Ledger &m_ledger;
    std::vector<Day> m_days;  // today first
    QSet<QString> m_damagedFiles;
    qint64 m_nowMs = 0;
    bool m_asking = false;
};

// A row of swatches with the names of the shades; each name is a label with an object name
// for the language files.
QWidget *coverageLegend(QWidget *parent);

}  // namespace app
