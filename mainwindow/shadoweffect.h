#pragma once

#include <QGraphicsDropShadowEffect>
#include <QImage>
#include <QPoint>

// A drop shadow that is blurred once per size instead of on every repaint.
//
// QGraphicsDropShadowEffect renders its whole source into a pixmap and blurs it
// whenever anything inside changes; on the window's central widget that means the
// whole window, blurred, for every video frame (tens of milliseconds, enough to halve
// the frame rate). The window's outline does not change while a video plays, so this
// effect keeps the blurred shadow and paints only the changed part of the source.
class ShadowEffect : public QGraphicsDropShadowEffect
{
    Q_OBJECT

public:
    explicit ShadowEffect(QObject *parent = nullptr);

protected:
    void draw(QPainter *painter) override;
    void sourceChanged(ChangeFlags flags) override;

private:
    void invalidate() { shadowValid = false; }

    QImage shadow;       // premultiplied shadow colour with blurred alpha
    QPoint shadowOrigin; // device position of the shadow image's top-left corner
    bool shadowValid = false;
};
