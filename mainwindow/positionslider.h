#pragma once

// GUI thread only.

#include <QPoint>
#include <QRect>
#include <QSlider>

// The position slider of the transport bar. A press on the groove jumps to the
// value under the pointer (clickedTo) instead of stepping a page towards it; a
// press on the handle drags as with any QSlider (sliderMoved, sliderReleased).
// Every pointer move over it, with or without a button, reports the value it points
// at (hovered), so the window can show where a click or a release would go.
class PositionSlider : public QSlider
{
    Q_OBJECT

public:
    // What the value under a point depends on, read from the live widget by
    // currentGeometry() so that valueAt can be a pure function of it.
    struct Geometry {
        QRect groove;
        int handleLength = 0;
        int minimum = 0;
        int maximum = 0;
        Qt::Orientation orientation = Qt::Horizontal;
        // Values grow right to left or top to bottom: QStyleOptionSlider::upsideDown,
        // which folds in inverted appearance, vertical sliders and right-to-left layouts.
        bool upsideDown = false;
    };

    // The value whose handle would be centred on the point; clamped to the range.
    static int valueAt(const Geometry &geometry, QPoint point);

    explicit PositionSlider(QWidget *parent = nullptr);

    Geometry currentGeometry() const;
    int valueAt(QPoint point) const { return valueAt(currentGeometry(), point); }

signals:
    void clickedTo(int value);
    // During a drag the value is the handle's, which is where a release will go.
    void hovered(int value, const QPoint &pos);
    void hoverLeft();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;
};
