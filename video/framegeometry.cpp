#include "video/framegeometry.h"

#include <QtGlobal>

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

QPoint placeholderIconCentre(QSize area)
{
    return QPoint(area.width() / 2, area.height() / 2 - placeholderIconRise);
}

QPoint placeholderButtonCentre(QSize area)
{
    return QPoint(area.width() / 2, area.height() / 2 + placeholderButtonDrop);
}

} // namespace framegeometry
