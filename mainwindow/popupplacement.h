#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

// Where a small popup opens for a button: centred over it, its lower edge 5 px above
// the button, flipped below the button when that would leave the top of the screen,
// and pushed back horizontally inside the screen. Without a screen (nullopt) the
// point is returned unadjusted. All rectangles are in global coordinates.
QPoint popupPlacement(const QRect &button, const QSize &popup, const std::optional<QRect> &available);
