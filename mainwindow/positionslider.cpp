#include "mainwindow/positionslider.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

int PositionSlider::valueAt(const Geometry &geometry, QPoint point)
{
    const bool horizontal = geometry.orientation == Qt::Horizontal;
    const int grooveStart = horizontal ? geometry.groove.x() : geometry.groove.y();
    const int grooveLength = horizontal ? geometry.groove.width() : geometry.groove.height();
    // The handle travels the groove less its own length; its centre pixel marks the
    // value, as QRect::center counts it.
    const int span = grooveLength - geometry.handleLength;
    if (span <= 0 || geometry.maximum <= geometry.minimum)
        return geometry.minimum;
    const int offset = (horizontal ? point.x() : point.y()) - grooveStart - (geometry.handleLength - 1) / 2;
    return QStyle::sliderValueFromPosition(geometry.minimum, geometry.maximum, offset, span,
                                           geometry.upsideDown);
}

PositionSlider::PositionSlider(QWidget *parent)
    : QSlider(parent)
{
    // Moves without a button arrive only with tracking on.
    setMouseTracking(true);
}

PositionSlider::Geometry PositionSlider::currentGeometry() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    Geometry geometry;
    geometry.groove = groove;
    geometry.orientation = orientation();
    geometry.handleLength = orientation() == Qt::Horizontal ? handle.width() : handle.height();
    geometry.minimum = minimum();
    geometry.maximum = maximum();
    geometry.upsideDown = option.upsideDown;
    return geometry;
}

void PositionSlider::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || maximum() <= minimum()) {
        QSlider::mousePressEvent(event);
        return;
    }
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QPoint pos = event->position().toPoint();
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    if (handle.contains(pos)) {
        QSlider::mousePressEvent(event);
        return;
    }
    const int value = valueAt(pos);
    setValue(value);
    event->accept();
    emit clickedTo(value);
}

void PositionSlider::mouseMoveEvent(QMouseEvent *event)
{
    QSlider::mouseMoveEvent(event);
    const QPoint pos = event->position().toPoint();
    emit hovered(isSliderDown() ? sliderPosition() : valueAt(pos), pos);
}

void PositionSlider::leaveEvent(QEvent *event)
{
    QSlider::leaveEvent(event);
    emit hoverLeft();
}

void PositionSlider::hideEvent(QHideEvent *event)
{
    // A bar hidden under a resting pointer (full screen) sends no leave of its own.
    QSlider::hideEvent(event);
    emit hoverLeft();
}
