#include "mainwindow/previewpopup.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

namespace {

constexpr int kGapAboveSlider = 6;

} // namespace

PreviewPopup::PreviewPopup(QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("previewPopup"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setStyleSheet(QStringLiteral(
        "#previewPopup { background-color: #1E1E1E; border: 1px solid #444; border-radius: 3px; }"
        "QLabel { color: white; background: transparent; border: none; }"));

    picture = new QLabel(this);
    picture->hide();
    time = new QLabel(this);
    time->setAlignment(Qt::AlignCenter);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->setSpacing(2);
    layout->addWidget(picture, 0, Qt::AlignHCenter);
    layout->addWidget(time);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    hide();
}

void PreviewPopup::showOver(QWidget *slider, int x, const QString &text)
{
    anchorSlider = slider;
    anchorX = x;
    time->setText(text);
    show();
    raise();
    place();
}

void PreviewPopup::setPicture(const QImage &image)
{
    if (image.isNull()) {
        picture->clear();
        picture->hide();
    } else {
        picture->setPixmap(QPixmap::fromImage(image));
        picture->setFixedSize(image.size());
        picture->show();
    }
    place();
}

QString PreviewPopup::timeText() const
{
    return time->text();
}

bool PreviewPopup::hasPicture() const
{
    return !picture->isHidden();
}

void PreviewPopup::place()
{
    QWidget *area = parentWidget();
    if (!area || !anchorSlider || isHidden())
        return;
    // The fixed-size layout sets the size from the contents at once.
    layout()->activate();
    const QPoint anchor = anchorSlider->mapTo(area, QPoint(anchorX, 0));
    const int left = qBound(0, anchor.x() - width() / 2, qMax(0, area->width() - width()));
    const int top = qMax(0, anchor.y() - height() - kGapAboveSlider);
    move(left, top);
}
