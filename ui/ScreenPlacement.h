#pragma once
// Where top-level windows open: wholly on the screen they are on, and the
// file-errors window beside its owner where the screen has room for it. The
// rectangles are frames (title bar and borders included) in screen pixels.

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace corvina {

// The frame moved, and cut down to the screen's size if larger, so that all
// of it lies on available.
QRect FitOnScreen(const QRect& frame, const QRect& available);

// The top-left corner for a frame of the given size: right of owner, else
// left of it, else over the side of it with the more room; on available.
QPoint PlaceBeside(const QRect& owner, const QSize& frame, const QRect& available);

// Each time window is shown, it is made to fit the available area of its
// screen; a window given its position is moved onto it too, while one left
// to the window manager is placed by it.
void KeepOpeningOnScreen(QWidget& window);

}  // namespace corvina
