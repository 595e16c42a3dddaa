#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <Qt>

// Where the video widget puts things. Pure functions of sizes, so the rounding can be
// checked without painting anything.
namespace framegeometry {

constexpr int placeholderIconEdge = 120;
constexpr int placeholderIconRise = 40;   // icon centre above the widget centre
constexpr int placeholderButtonDrop = 80; // button centre below the widget centre

// An item of the given size centred on a point, rounded as QRect::moveCenter rounds:
// the top-left corner is centre - (size - 1) / 2.
QRect centredRect(QSize item, QPoint centre);

// The size QImage::scaled would give: the frame scaled into the area with the given
// aspect mode, at least one pixel each way. Invalid when frame or area is empty.
QSize scaledFrameSize(QSize frame, QSize area, Qt::AspectRatioMode mode);

// The frame fitted inside the area and centred on it (bars on two sides).
QRect letterboxRect(QSize frame, QSize area);

// The frame scaled to cover the whole area and centred on it (the overflow is clipped).
QRect coverRect(QSize frame, QSize area);

// The placeholder's icon and open-file button, centred below and above the middle.
QPoint placeholderIconCentre(QSize area);
QPoint placeholderButtonCentre(QSize area);

} // namespace framegeometry
