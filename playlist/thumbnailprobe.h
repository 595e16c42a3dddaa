#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

// The small picture beside a video entry in the playlist: the first frame of the file,
// scaled to cover a square and cut to its middle.
namespace thumbnailprobe {

constexpr int thumbnailEdge = 40;

// Decodes the first video frame of a local file into an RGB32 image at the video's
// own size. Null when the file has no decodable picture near its start.
QImage firstFrame(const QString &path);

// The edge x edge square taken from the middle of an image of the given size; an odd
// overflow leaves its extra pixel on the right or at the bottom.
QRect centreSquare(QSize scaled, int edge = thumbnailEdge);

// The frame scaled (smoothly) so that it covers the square, then cut to the middle.
// Null for a null frame.
QImage cropThumbnail(const QImage &frame, int edge = thumbnailEdge);

} // namespace thumbnailprobe
