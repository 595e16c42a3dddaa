#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <Qt>

#include "video/orientation.h"

extern "C" {
#include <libavutil/rational.h>
}

// Where the video widget puts things, and how big a picture is when it is seen as
// meant. Pure functions of sizes, so the rounding can be checked without painting
// anything.
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

// Whether a sample (pixel) aspect ratio can be believed: positive, and stretching
// by no more than 10:1 either way. Real anamorphic video stays within 3:1; beyond
// that lies a broken header.
bool isUsableSampleAspectRatio(AVRational sar);

// The sample aspect ratio to show a picture with, as av_guess_sample_aspect_ratio
// picks it: the container's when usable (it is the easier one to correct, so it
// overrides), else the one coded in the stream or frame, else square pixels.
AVRational displaySampleAspectRatio(AVRational container, AVRational coded);

// The size a picture of the coded size is seen at: stretched by the sample aspect
// ratio (an unusable one counts as square), then turned by the orientation. Only
// ever enlarged in one direction, never shrunk, so no detail is thrown away before
// the final scale to the screen. Invalid for an empty coded size.
QSize displaySize(QSize coded, AVRational sampleAspectRatio, Orientation orientation = Orientation());

// The placeholder's icon and open-file button, centred below and above the middle.
QPoint placeholderIconCentre(QSize area);
QPoint placeholderButtonCentre(QSize area);

} // namespace framegeometry
