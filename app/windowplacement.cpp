#include "app/windowplacement.h"

#include <algorithm>
#include <climits>

namespace app {

namespace {

// The title area of a window at `frame` as it must lie on `screen`: the window's top strip,
// no wider than the screen (a window wider than its screen shows its left part).
QRect titleArea(const QRect &frame, const QRect &screen)
{
    return QRect(frame.x(), frame.y(), std::min(frame.width(), screen.width()),
        std::min(TitleAreaHeight, frame.height()));
}

// Distance in pixels from a point to a rectangle (0 inside), as a squared length.
qint64 distanceSquared(const QPoint &point, const QRect &rect)
{
    const qint64 dx = point.x() < rect.left() ? rect.left() - point.x()
        : point.x() > rect.right()            ? point.x() - rect.right()
                                              : 0;
    const qint64 dy = point.y() < rect.top() ? rect.top() - point.y()
        : point.y() > rect.bottom()          ? point.y() - rect.bottom()
                                             : 0;
    return dx * dx + dy * dy;
}

} // namespace

QRect placeWindow(QPoint storedPosition, QSize storedSize, const QList<QRect> &available)
{
    QRect desktop;
    for (const QRect &screen : available)
        desktop = desktop.united(screen);
    const auto bounded = [](int value, int minimum, int maximum) {
        return std::clamp(value, minimum, std::max(minimum, maximum));
    };
    const int maxWidth = desktop.isEmpty() ? 1 << 24 : desktop.width();
    const int maxHeight = desktop.isEmpty() ? 1 << 24 : desktop.height();
    // A hand-edited file may hold any int: far-off positions are first brought within a
    // range where the rectangle's edges cannot overflow.
    constexpr int Far = 1 << 24;
    QRect frame(std::clamp(storedPosition.x(), -Far, Far),
        std::clamp(storedPosition.y(), -Far, Far),
        bounded(storedSize.width(), FoldedSize.width(), maxWidth),
        bounded(storedSize.height(), FoldedSize.height(), maxHeight));

    const auto onScreen
        = [&frame](const QRect &screen) { return screen.contains(titleArea(frame, screen)); };
    if (available.isEmpty() || std::any_of(available.cbegin(), available.cend(), onScreen))
        return frame;

    // The screen nearest to the title area's top left corner, the first of equals.
    const QRect *nearest = &available.constFirst();
    qint64 best = LLONG_MAX;
    const QPoint corner(frame.x(), frame.y());
    for (const QRect &screen : available) {
        const qint64 d = distanceSquared(corner, screen);
        if (d < best) {
            best = d;
            nearest = &screen;
        }
    }
    const QRect title = titleArea(frame, *nearest);
    const int left = std::clamp(frame.x(), nearest->left(), nearest->right() + 1 - title.width());
    const int top = std::clamp(frame.y(), nearest->top(), nearest->bottom() + 1 - title.height());
    frame.moveTo(left, top);
    return frame;
}

} // namespace app
