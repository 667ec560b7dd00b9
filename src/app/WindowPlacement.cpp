#include "app/WindowPlacement.h"

#include <QtGlobal>

namespace app {

namespace {

// Bounds in 64 bits: a stored left of INT_MAX plus a width would overflow in int.
struct WideRect {
    qint64 left, top, width, height;
};

qint64 overlap(qint64 aStart, qint64 aLength, qint64 bStart, qint64 bLength)
{
    const qint64 start = qMax(aStart, bStart);
    const qint64 end = qMin(aStart + aLength, bStart + bLength);
    return qMax<qint64>(0, end - start);
}

// Index of the area the rectangle overlaps most; 0 (the primary) when it overlaps none.
qsizetype bestScreen(const WideRect &r, const QList<QRect> &areas)
{
    qsizetype best = 0;
    qint64 bestOverlap = 0;
    for (qsizetype i = 0; i < areas.size(); ++i) {
        const QRect &a = areas[i];
        const qint64 shared = overlap(r.left, r.width, a.x(), a.width())
                              * overlap(r.top, r.height, a.y(), a.height());
        if (shared > bestOverlap) {
            bestOverlap = shared;
            best = i;
        }
    }
    return best;
}

// A length bounded to [minimum, available], the minimum winning on a smaller screen.
int boundedLength(qint64 length, int available, int minimum)
{
    return int(qMax<qint64>(minimum, qMin<qint64>(length, available)));
}

// A start that keeps [start, start + length) inside the area, its start edge winning.
int boundedStart(qint64 start, int length, int areaStart, int areaLength)
{
    const qint64 last = qint64(areaStart) + areaLength - length;
    return int(qMax<qint64>(areaStart, qMin<qint64>(start, last)));
}

}  // namespace

QRect windowBoundsAtStart(const StoredPlacement &stored, const QRect &current,
                         const QList<QRect> &screenAreas, QSize designSize)
{
    // Without a screen to fit into, nothing stored can be trusted: the design size.
    if (screenAreas.isEmpty()) return QRect(current.topLeft(), designSize);
    if (!stored.hasPosition) {
        const QPoint centre = screenAreas.front().center();
        return QRect(centre - QPoint(designSize.width() / 2, designSize.height() / 2), designSize);
    }

    const WideRect wanted{stored.x.value_or(current.x()), stored.y.value_or(current.y()),
                          stored.w.value_or(current.width()), stored.h.value_or(current.height())};
    const QRect &area = screenAreas[bestScreen(wanted, screenAreas)];
    const int width = boundedLength(wanted.width, area.width(), designSize.width());
    const int height = boundedLength(wanted.height, area.height(), designSize.height());
    return QRect(boundedStart(wanted.left, width, area.x(), area.width()),
                 boundedStart(wanted.top, height, area.y(), area.height()), width, height);
}

}  // namespace app
