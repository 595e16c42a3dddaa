#include "mainwindow/popupplacement.h"

#include <algorithm>

QPoint popupPlacement(const QRect &button, const QSize &popup, const std::optional<QRect> &available)
{
    constexpr int gap = 5;
    int x = button.x() + button.width() / 2 - popup.width() / 2;
    int y = button.y() - popup.height() - gap;
    if (!available)
        return QPoint(x, y);

    const QRect &area = *available;
    if (y < area.top())
        y = button.y() + button.height() + gap;
    x = std::max(area.left(), std::min(x, area.right() - popup.width()));
    return QPoint(x, y);
}
