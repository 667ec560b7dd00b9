#pragma once
// Where the main window opens: the bounds stored in vantrel.ini, brought within the screens
// that are there now. A hand-edited or stale size (40000 x 40000, a position on a monitor
// since unplugged, INT_MIN) must never reach the window system: a huge window allocates
// its backing store in gigabytes, and a position off every screen leaves it unreachable.

#include <QList>
#include <QRect>
#include <QSize>
#include <optional>

namespace app {

struct StoredPlacement {
    bool hasPosition = false;  // false: State -1, the stored bounds are not used
    // A missing key keeps the window's current value.
    std::optional<int> x, y, w, h;
};

// The normal bounds to give the window (left/top of its frame, client width/height).
// screenAreas: the available area of every screen, the primary first; may be empty.
// designSize: the size of a window without a stored position, and the smallest size.
// Without a stored position the window is centred on the primary screen at designSize.
// Otherwise the stored size is bounded to the screen the stored bounds overlap most (the
// primary when they overlap none), and the window is moved wholly into that screen's area.
// Without any screen the window keeps its current position at designSize.
QRect windowBoundsAtStart(const StoredPlacement &stored, const QRect &current,
                         const QList<QRect> &screenAreas, QSize designSize);

}  // namespace app
