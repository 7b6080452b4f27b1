#pragma once

#include <QList>
#include <QRect>
#include <QSize>

namespace app {

// The folded size of the window (its size after a click on a full-screen window when no
// other was saved): the smallest size the window starts with.
inline constexpr QSize FoldedSize(620, 480);
// Height of the window's title area, the part a user drags it by. Before the window is
// shown its frame is not known; this is a usual title bar's height.
inline constexpr int TitleAreaHeight = 30;

// Where a window with a stored outer geometry goes on a desktop whose screens offer the
// `available` areas (each screen less its task bars), so that the user can always reach it:
// - a width or height below the folded size is taken as the folded one, and one above the
//   desktop's extent as that extent;
// - when no screen holds the window's title area (its top TitleAreaHeight pixels, as wide as
//   the window or the screen), the window is moved by the least distance onto the screen
//   nearest to where it was; otherwise it stays where it was stored.
// With no screens at all the stored position is kept (within +-2^24 pixels).
QRect placeWindow(QPoint storedPosition, QSize storedSize, const QList<QRect> &available);

} // namespace app
