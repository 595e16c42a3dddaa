#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>

// The small picture beside a video entry in the playlist: the first frame of the file,
// scaled to cover a square and cut to its middle.
namespace thumbnailprobe {

constexpr int thumbnailEdge = 40;

// Asked again and again while a probe reads; true ends the probe early (FFmpeg's
// interrupt callback breaks off a read in progress). Called on the probing thread.
using Interrupt = std::function<bool()>;

// Decodes the first video frame of a local regular file into an RGB32 image at the
// video's own size or, with coverEdge > 0 and a larger picture, shrunk to the
// smallest size of the same shape that still covers a coverEdge square. Null when
// the file has no decodable picture near its start, is not a regular file, or when
// interrupted.
QImage firstFrame(const QString &path, const Interrupt &interrupted = {}, int coverEdge = 0);

// What makes a first frame for the playlist: firstFrame, or a stand-in for tests
// and benchmarks. Runs on the thumbnail worker's thread.
using Probe = std::function<QImage(const QString &path, const Interrupt &interrupted)>;

// The edge x edge square taken from the middle of an image of the given size; an odd
// overflow leaves its extra pixel on the right or at the bottom.
QRect centreSquare(QSize scaled, int edge = thumbnailEdge);

// The frame scaled (smoothly) so that it covers the square, then cut to the middle.
// Null for a null frame.
QImage cropThumbnail(const QImage &frame, int edge = thumbnailEdge);

} // namespace thumbnailprobe
