#include "video/framereduction.h"

#include <QPainter>

namespace framereduction {

int halvingsFor(QSize frame, QSize target)
{
    if (target.isEmpty())
        return 0;
    int steps = 0;
    while (frame.width() >= 2 * target.width() && frame.height() >= 2 * target.height()) {
        frame = QSize(frame.width() / 2, frame.height() / 2);
        ++steps;
    }
    return steps;
}

QImage halved(const QImage &image)
{
    const int width = image.width() / 2;
    const int height = image.height() / 2;
    if (width <= 0 || height <= 0)
        return QImage();
    QImage result(width, height, QImage::Format_RGB32);
    if (result.isNull())
        return QImage();
    // At exactly half size every bilinear sample falls midway between four source
    // pixels, so the painter's own (vectorised, threaded) scaler yields their mean.
    QPainter painter(&result);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(0, 0, width, height), image, QRectF(0, 0, 2 * width, 2 * height));
    return result;
}

QImage reducedFor(const QImage &frame, QSize target)
{
    QImage reduced = frame;
    for (int steps = halvingsFor(frame.size(), target); steps > 0 && !reduced.isNull(); --steps)
        reduced = halved(reduced);
    return reduced.isNull() ? frame : reduced;
}

} // namespace framereduction
