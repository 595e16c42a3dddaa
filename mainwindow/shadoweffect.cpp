#include "mainwindow/shadoweffect.h"

#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <vector>

namespace {

// One pass of a running-sum box blur of width 2r+1 over one row or column.
void boxBlurLine(const int *in, int *out, int n, int r)
{
    const int width = 2 * r + 1;
    long sum = 0;
    for (int i = -r; i <= r; ++i)
        sum += in[std::clamp(i, 0, n - 1)];
    for (int i = 0; i < n; ++i) {
        out[i] = int(sum / width);
        sum += in[std::min(i + r + 1, n - 1)] - in[std::max(i - r, 0)];
    }
}

// Three box passes in each direction approximate a Gaussian blur of the alpha mask.
std::vector<int> blurAlpha(const QImage &source, int radius)
{
    const int w = source.width();
    const int h = source.height();
    std::vector<int> a(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(source.constScanLine(y));
        for (int x = 0; x < w; ++x)
            a[size_t(y) * w + x] = qAlpha(line[x]);
    }
    const int r = std::max(1, radius / 3);
    std::vector<int> in(std::max(w, h)), out(std::max(w, h));
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < h; ++y) {
            std::copy_n(&a[size_t(y) * w], w, in.begin());
            boxBlurLine(in.data(), out.data(), w, r);
            std::copy_n(out.begin(), w, &a[size_t(y) * w]);
        }
        for (int x = 0; x < w; ++x) {
            for (int y = 0; y < h; ++y)
                in[y] = a[size_t(y) * w + x];
            boxBlurLine(in.data(), out.data(), h, r);
            for (int y = 0; y < h; ++y)
                a[size_t(y) * w + x] = out[y];
        }
    }
    return a;
}

} // namespace

ShadowEffect::ShadowEffect(QObject *parent)
    : QGraphicsDropShadowEffect(parent)
{
    connect(this, &QGraphicsDropShadowEffect::blurRadiusChanged, this, [this] { invalidate(); });
    connect(this, &QGraphicsDropShadowEffect::colorChanged, this, [this] { invalidate(); });
    connect(this, &QGraphicsDropShadowEffect::offsetChanged, this, [this] { invalidate(); });
}

void ShadowEffect::sourceChanged(ChangeFlags flags)
{
    if (flags & (SourceAttached | SourceDetached | SourceBoundingRectChanged))
        invalidate();
    QGraphicsDropShadowEffect::sourceChanged(flags);
}

void ShadowEffect::draw(QPainter *painter)
{
    if (!shadowValid) {
        QPoint origin;
        const QPixmap whole = sourcePixmap(Qt::DeviceCoordinates, &origin, PadToEffectiveBoundingRect);
        if (whole.isNull()) {
            drawSource(painter);
            return;
        }
        const QImage source = whole.toImage().convertToFormat(QImage::Format_ARGB32);
        const std::vector<int> alpha = blurAlpha(source, int(blurRadius()));
        const QColor c = color();
        shadow = QImage(source.size(), QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < shadow.height(); ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(shadow.scanLine(y));
            for (int x = 0; x < shadow.width(); ++x) {
                const int a = alpha[size_t(y) * shadow.width() + x] * c.alpha() / 255;
                line[x] = qPremultiply(qRgba(c.red(), c.green(), c.blue(), a));
            }
        }
        shadowOrigin = origin;
        shadowValid = true;
    }

    const QTransform transform = painter->worldTransform();
    painter->setWorldTransform(QTransform());
    painter->drawImage(shadowOrigin + offset().toPoint(), shadow);
    painter->setWorldTransform(transform);
    drawSource(painter);
}
