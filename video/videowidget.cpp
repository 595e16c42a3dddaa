#include "video/videowidget.h"

#include "video/framegeometry.h"
#include "video/framereduction.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

namespace {

const char noVideoIconPath[] = ":/icons/no-video-icon.svg";

const char openFileButtonStyle[] = R"(
    QToolButton {
        background-color: #111111;
        color: white;
        border-radius: 18px;
        padding: 8px;
        font-size: 14px;
        min-width: 100px;
    }
    QToolButton:hover {
        background-color: #151515;
    }
    /* 不画下拉箭头 */
    QToolButton::menu-indicator {
        image: url(none) !important;
        width: 50px !important;
        height: 0px !important;
        border: none !important;
        padding: 0 !important;
        margin: 0 !important;
    }
    /* 右端不可见的下拉区域 */
    QToolButton::menu-button {
        border: none;
        width: 25px;
        background: transparent;
    }
    QToolButton::menu-arrow {
        image: url(none);
    }
)";

const char openMenuStyle[] = R"(
    QMenu {
        background-color: #000000;
        color: white;
        border: none;
        padding: 0;
        border-radius: 15px;
        min-width: 100px;
    }
    QMenu::item {
        padding: 5px 25px;
        min-width: 70px;
        border-radius: 18px;
        margin: 2px;
        border: none;
        background-color: #111111;
    }
    QMenu::item:selected {
        background-color: #111111;
    }
    QMenu::item:hover {
        background-color: #151515;
    }
)";

} // namespace

VideoWidget::VideoWidget(QWidget *parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setStyleSheet(QStringLiteral("\n    background-color: #000000;\n    "));
    // Every paint covers every pixel, so Qt need not erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);

    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    openFileButton = new QToolButton(this);
    openFileButton->setText(tr("打开文件"));
    openFileButton->setCursor(Qt::PointingHandCursor);
    openFileButton->setPopupMode(QToolButton::MenuButtonPopup);
    openFileButton->setStyleSheet(QString::fromUtf8(openFileButtonStyle));

    openMenu = new QMenu(this);
    openMenu->setWindowFlags(openMenu->windowFlags() | Qt::NoDropShadowWindowHint);
    openMenu->setStyleSheet(QString::fromUtf8(openMenuStyle));
    QAction *openFolderAction = openMenu->addAction(tr("打开文件夹"));

    connect(openFileButton, &QToolButton::clicked, this, &VideoWidget::onOpenFileClicked);
    connect(openFolderAction, &QAction::triggered, this, &VideoWidget::onOpenFolderClicked);

    openFileButton->setMenu(openMenu);
    openFileButton->hide();

    pendingClick = new QTimer(this);
    pendingClick->setSingleShot(true);
    connect(pendingClick, &QTimer::timeout, this, &VideoWidget::clicked);

    // Let the new application style settle, then re-polish so the button's sheet
    // takes effect before the first paint.
    QCoreApplication::processEvents();
    openFileButton->style()->unpolish(openFileButton);
    openFileButton->style()->polish(openFileButton);
}

VideoWidget::~VideoWidget() = default;

void VideoWidget::setFrame(const QImage &frame)
{
    frameImage = frame;
    openFileButton->setVisible(frameImage.isNull());
    if (frameImage.isNull()) {
        // A click on a picture that has gone since does not act on what replaced it.
        pendingClick->stop();
        placeOpenFileButton();
    }
    update();
}

QSize VideoWidget::sizeHint() const
{
    return frameImage.isNull() ? QSize(640, 480) : frameImage.size();
}

void VideoWidget::mousePressEvent(QMouseEvent *event)
{
    Q_UNUSED(event)
    if (frameImage.isNull())
        return;
    // A press that is not the second of a double click (another button, or too far
    // away) leaves the click before it standing as a single one.
    if (pendingClick->isActive()) {
        pendingClick->stop();
        emit clicked();
    }
    pendingClick->start(QApplication::doubleClickInterval());
}

void VideoWidget::mouseDoubleClickEvent(QMouseEvent *event)
{
    Q_UNUSED(event)
    pendingClick->stop();
    if (!frameImage.isNull())
        emit doubleClicked();
}

void VideoWidget::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        event->ignore();
        return;
    }
    event->accept();
    emit wheelTurned(delta);
}

void VideoWidget::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    QPainter painter(this);

    if (frameImage.isNull()) {
        painter.fillRect(rect(), QColor(0, 0, 0));
        const int edge = framegeometry::placeholderIconEdge;
        const QPixmap icon = QIcon(QString::fromLatin1(noVideoIconPath)).pixmap(QSize(edge, edge));
        const QRect iconRect = framegeometry::centredRect(
            QSize(edge, edge), framegeometry::placeholderIconCentre(size()));
        painter.drawPixmap(iconRect, icon);
        openFileButton->show();
        placeOpenFileButton();
        return;
    }

    const bool cover = coversArea();
    const QSize area = displayArea();
    const qreal ratio = area.width() > 0 && width() > 0 ? qreal(area.width()) / width() : 1.0;
    const QRect fitted = cover ? framegeometry::coverRect(frameImage.size(), area)
                               : framegeometry::letterboxRect(frameImage.size(), area);
    if (fitted.isValid() && fitted.size() == frameImage.size()) {
        // Made for this very size by the engine: a plain copy, bars painted around it.
        const QRectF target(QPointF(fitted.topLeft()) / ratio, QSizeF(fitted.size()) / ratio);
        if (!cover) {
            const QRegion bars = QRegion(rect()).subtracted(QRegion(target.toAlignedRect()));
            for (const QRect &bar : bars)
                painter.fillRect(bar, Qt::black);
        }
        painter.drawImage(target, frameImage);
        openFileButton->hide();
        return;
    }

    // Any other picture (the engine has not caught up with a resize yet): the painter
    // scales while it draws, so no scaled copy of the frame is made; only a frame
    // shrunk below half its size is first halved, to keep fine detail from shimmering
    // (framereduction.h).
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QRect target;
    if (cover) {
        target = framegeometry::coverRect(frameImage.size(), size());
    } else {
        target = framegeometry::letterboxRect(frameImage.size(), size());
        painter.fillRect(rect(), Qt::black);
    }
    if (target.isValid())
        painter.drawImage(target, framereduction::reducedFor(frameImage, target.size()));
    openFileButton->hide();
}

void VideoWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeOpenFileButton();
    announceDisplayArea();
}

void VideoWidget::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    announceDisplayArea();
}

QSize VideoWidget::displayArea() const
{
    return (QSizeF(size()) * devicePixelRatioF()).toSize();
}

bool VideoWidget::coversArea() const
{
    return window()->isFullScreen();
}

void VideoWidget::announceDisplayArea()
{
    const QSize area = displayArea();
    const bool cover = coversArea();
    if (area == announcedArea && cover == announcedCover)
        return;
    announcedArea = area;
    announcedCover = cover;
    emit displayAreaChanged(area, cover);
}

void VideoWidget::onOpenFileClicked()
{
    emit openFileRequested();
}

void VideoWidget::onOpenFolderClicked()
{
    emit openFolderRequested();
}

void VideoWidget::placeOpenFileButton()
{
    openFileButton->setGeometry(framegeometry::centredRect(
        openFileButton->sizeHint(), framegeometry::placeholderButtonCentre(size())));
}
