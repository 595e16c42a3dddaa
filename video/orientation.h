#pragma once

#include <QImage>
#include <QTransform>

#include <cstdint>

extern "C" {
#include <libavutil/rational.h>
}

struct AVFrame;
struct AVStream;

// How a decoded picture has to be turned to be seen upright: first mirrored left to
// right (when mirrored), then turned clockwise by a quarter-turn multiple. Those eight
// cases are every way a picture can lie on a screen; cameras and phones store one of
// them as a display matrix beside the picture instead of turning the pixels.
class Orientation
{
public:
    Orientation() = default;
    // Any angle is taken to the nearest quarter turn, so 0, 90, 180 or 270 remain.
    Orientation(int clockwiseDegrees, bool mirrored);

    int rotation() const { return degrees; }
    bool isMirrored() const { return mirror; }
    bool isIdentity() const { return degrees == 0 && !mirror; }
    // A quarter turn either way: the shown width is the coded height.
    bool swapsAxes() const { return degrees == 90 || degrees == 270; }

    bool operator==(const Orientation &other) const
    {
        return degrees == other.degrees && mirror == other.mirror;
    }
    bool operator!=(const Orientation &other) const { return !(*this == other); }

    // From FFmpeg's 3x3 display matrix (side-data layout: 16.16 fixed point, row
    // vector convention, y pointing down, as in the ISO/QuickTime track header).
    // Null, singular or unreadable matrices give the identity.
    static Orientation fromDisplayMatrix(const int32_t *matrix);
    // The display matrix the container stores for the stream, if any.
    static Orientation fromStream(const AVStream *stream);
    // The frame's own display matrix (an H.264/HEVC orientation message) wins over
    // what the container says, which is the fallback.
    static Orientation fromFrame(const AVFrame *frame, Orientation fallback);

    // Maps the coded picture onto the upright one; for QImage::transformed, which
    // moves the result to the origin itself.
    QTransform transform() const;

private:
    int degrees = 0;
    bool mirror = false;
};

// The picture as it is meant to be seen: turned and mirrored as the orientation says,
// and stretched by the sample aspect ratio to framegeometry::displaySize. The image
// comes back unchanged (shared) when there is nothing to do. For thumbnails and
// previews made from a QImage of the coded picture.
QImage orientedForDisplay(const QImage &frame, Orientation orientation, AVRational sampleAspectRatio);
