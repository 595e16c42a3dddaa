#include "video/framegeometry.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <limits>

namespace framegeometry {

QRect centredRect(QSize item, QPoint centre)
{
    QRect rect(QPoint(0, 0), item);
    rect.moveCenter(centre);
    return rect;
}

QSize scaledFrameSize(QSize frame, QSize area, Qt::AspectRatioMode mode)
{
    if (frame.isEmpty() || area.isEmpty())
        return QSize();
    QSize scaled = frame.scaled(area, mode);
    scaled.setWidth(qMax(scaled.width(), 1));
    scaled.setHeight(qMax(scaled.height(), 1));
    return scaled;
}

static QRect centredInArea(QSize item, QSize area)
{
    if (!item.isValid())
        return QRect();
    return centredRect(item, QRect(QPoint(0, 0), area).center());
}

QRect letterboxRect(QSize frame, QSize area)
{
    return centredInArea(scaledFrameSize(frame, area, Qt::KeepAspectRatio), area);
}

QRect coverRect(QSize frame, QSize area)
{
    return centredInArea(scaledFrameSize(frame, area, Qt::KeepAspectRatioByExpanding), area);
}

bool isUsableSampleAspectRatio(AVRational sar)
{
    if (sar.num <= 0 || sar.den <= 0)
        return false;
    const double ratio = av_q2d(sar);
    return ratio >= 0.1 && ratio <= 10.0;
}

AVRational displaySampleAspectRatio(AVRational container, AVRational coded)
{
    for (AVRational sar : {container, coded}) {
        if (isUsableSampleAspectRatio(sar)) {
            av_reduce(&sar.num, &sar.den, sar.num, sar.den, std::numeric_limits<int>::max());
            return sar;
        }
    }
    return AVRational{1, 1};
}

QSize displaySize(QSize coded, AVRational sampleAspectRatio, Orientation orientation)
{
    if (coded.isEmpty())
        return QSize();
    const AVRational sar = displaySampleAspectRatio(sampleAspectRatio, AVRational{0, 1});
    const auto stretch = [](int length, int num, int den) {
        const double stretched = std::round(double(length) * num / den);
        return int(std::clamp(stretched, 1.0, double(std::numeric_limits<int>::max())));
    };
    QSize shown = coded;
    if (sar.num > sar.den)
        shown.setWidth(stretch(coded.width(), sar.num, sar.den));
    else if (sar.num < sar.den)
        shown.setHeight(stretch(coded.height(), sar.den, sar.num));
    return orientation.swapsAxes() ? shown.transposed() : shown;
}

QPoint placeholderIconCentre(QSize area)
{
    return QPoint(area.width() / 2, area.height() / 2 - placeholderIconRise);
}

QPoint placeholderButtonCentre(QSize area)
{
    return QPoint(area.width() / 2, area.height() / 2 + placeholderButtonDrop);
}

} // namespace framegeometry
