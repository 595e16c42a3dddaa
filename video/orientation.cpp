#include "video/orientation.h"

#include "video/framegeometry.h"

#include <cmath>

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

namespace {

constexpr size_t displayMatrixBytes = 9 * sizeof(int32_t);

} // namespace

Orientation::Orientation(int clockwiseDegrees, bool mirrored)
    : degrees(int((std::lround(clockwiseDegrees / 90.0) % 4 + 4) % 4) * 90)
    , mirror(mirrored)
{
}

Orientation Orientation::fromDisplayMatrix(const int32_t *matrix)
{
    if (!matrix)
        return {};
    // A picture point (x, y) lands on (a x + c y, b x + d y). A plain clockwise turn
    // by t has a = cos t, b = sin t; mirroring first negates a and b and makes the
    // determinant negative. Doubles keep any scale in the matrix out of the way.
    const double a = matrix[0], b = matrix[1], c = matrix[3], d = matrix[4];
    const double determinant = a * d - b * c;
    if (determinant == 0 || !std::isfinite(determinant))
        return {};
    const bool mirrored = determinant < 0;
    const double sign = mirrored ? -1.0 : 1.0;
    const double degrees = std::atan2(sign * b, sign * a) * 180.0 / M_PI;
    return Orientation(int(std::lround(degrees)), mirrored);
}

Orientation Orientation::fromStream(const AVStream *stream)
{
    if (!stream)
        return {};
    size_t size = 0;
    const uint8_t *data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!data || size < displayMatrixBytes)
        return {};
    return fromDisplayMatrix(reinterpret_cast<const int32_t *>(data));
}

Orientation Orientation::fromFrame(const AVFrame *frame, Orientation fallback)
{
    if (!frame)
        return fallback;
    const AVFrameSideData *side = av_frame_get_side_data(frame, AV_FRAME_DATA_DISPLAYMATRIX);
    if (!side || side->size < displayMatrixBytes)
        return fallback;
    return fromDisplayMatrix(reinterpret_cast<const int32_t *>(side->data));
}

QTransform Orientation::transform() const
{
    QTransform turn;
    turn.rotate(degrees); // clockwise on screen, where y points down
    // Qt multiplies in the order points go through: mirror first, then turn.
    return mirror ? QTransform(-1, 0, 0, 1, 0, 0) * turn : turn;
}

QImage orientedForDisplay(const QImage &frame, Orientation orientation, AVRational sampleAspectRatio)
{
    if (frame.isNull())
        return frame;
    QImage upright = orientation.isIdentity() ? frame : frame.transformed(orientation.transform());
    // A turn combined with a mirror takes Qt's general transformation path, which
    // answers in a format with alpha; a quarter turn leaves no pixel uncovered, so the
    // picture keeps the format it came in (callers rely on RGB32).
    if (upright.format() != frame.format())
        upright.convertTo(frame.format());
    const QSize shown = framegeometry::displaySize(frame.size(), sampleAspectRatio, orientation);
    if (!shown.isValid() || upright.size() == shown)
        return upright;
    return upright.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}
