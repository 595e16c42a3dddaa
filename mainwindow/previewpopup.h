#pragma once

// GUI thread only.

#include <QFrame>
#include <QPointer>

class QImage;
class QLabel;

// The small frame over the position slider while the pointer rests on it: the time
// under the pointer and, for video, a picture of that moment. A child of the window,
// not a window of its own, so it needs no window manager and goes along into full
// screen; it lets the mouse through to whatever lies beneath.
class PreviewPopup : public QFrame
{
    Q_OBJECT

public:
    explicit PreviewPopup(QWidget *parent);

    // Shows the time with the popup centred over x of the slider, its lower edge just
    // above the slider, and kept within the parent.
    void showOver(QWidget *slider, int x, const QString &time);
    // A null image leaves the time alone in the popup.
    void setPicture(const QImage &image);

    QString timeText() const;
    bool hasPicture() const;

private:
    void place();

    QLabel *picture = nullptr;
    QLabel *time = nullptr;
    QPointer<QWidget> anchorSlider;
    int anchorX = 0;
};
