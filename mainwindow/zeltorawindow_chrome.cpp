// What the missing system frame would otherwise give: dragging by the title bar,
// minimise and close, the title menu, keyboard shortcuts, full screen with bars
// that hide themselves, and the volume popup.

#include "mainwindow/zeltorawindow.h"
#include "ui_zeltorawindow.h"

#include "mainwindow/popupplacement.h"
#include "video/videowidget.h"

#include <QAction>
#include <QCoreApplication>
#include <QGraphicsEffect>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QTimer>
#include <QWindow>

namespace {

constexpr int kShadowMargin = 10;
constexpr int kAutoHideMs = 3000;

} // namespace

void ZeltoraWindow::setupShortcuts()
{
    openAction = new QAction(tr("打开文件"), this);
    playAction = new QAction(tr("播放"), this);
    pauseAction = new QAction(tr("暂停"), this);
    stopAction = new QAction(tr("停止"), this);
    fullscreenAction = new QAction(tr("全屏"), this);
    screenshotAction = new QAction(tr("截图"), this);
    aboutAction = new QAction(tr("关于"), this);

    openAction->setShortcut(QKeySequence::Open);
    // Space is one key with one meaning: it toggles. It sits on playAction and its
    // shortcut event is turned into a toggle in eventFilter, so triggering the action
    // in any other way still just plays. pauseAction has no key: a second Space would
    // make both shortcuts ambiguous and neither would fire.
    playAction->setShortcut(QKeySequence(Qt::Key_Space));
    stopAction->setShortcut(QKeySequence(Qt::Key_S));
    fullscreenAction->setShortcut(QKeySequence(Qt::Key_F));
    screenshotAction->setShortcut(QKeySequence(Qt::Key_C));
    playAction->installEventFilter(this);

    addActions({openAction, playAction, pauseAction, stopAction, fullscreenAction,
                screenshotAction, aboutAction});
}

void ZeltoraWindow::setupMenu()
{
    titleMenu = new QMenu(this);
    connect(titleMenu->addAction(tr("打开文件")), &QAction::triggered, this, &ZeltoraWindow::openFile);
    titleMenu->addSeparator();
    connect(titleMenu->addAction(isFullScreen() ? tr("退出全屏") : tr("全屏")), &QAction::triggered,
            this, &ZeltoraWindow::toggleFullscreen);
    connect(titleMenu->addAction(tr("截图")), &QAction::triggered, this, &ZeltoraWindow::takeScreenshot);
    titleMenu->addAction(muteAction);
    setupTrackMenus();
    titleMenu->addMenu(audioMenu);
    titleMenu->addMenu(subtitleMenu);
    titleMenu->addSeparator();
    connect(titleMenu->addAction(tr("一键重置")), &QAction::triggered, this, &ZeltoraWindow::resetApplication);
    connect(titleMenu->addAction(tr("关于")), &QAction::triggered, this, &ZeltoraWindow::about);

    titleMenu->setStyleSheet(QStringLiteral(
        "QMenu { margin: 2px; background-color: #2E2E2E; color: white; border: 1px solid #444; }"
        "QMenu::item { padding: 5px 20px; }"
        "QMenu::item:selected { background-color: #3E3E3E; }"
        "QMenu::item:disabled { color: gray; }"));
    ui->menuButton->setMenu(titleMenu);
    ui->menuButton->setStyleSheet(QStringLiteral(
        "QPushButton { padding: 0; margin: 0; border: none; background: transparent; }"
        "QPushButton::menu-indicator { image: none; }"));
}

void ZeltoraWindow::setupTimers()
{
    hideTimer = new QTimer(this);
    hideTimer->setInterval(kAutoHideMs);
    connect(hideTimer, &QTimer::timeout, this, [this] { autoHideControls(); });
}

void ZeltoraWindow::autoHideControls()
{
    if (!controlsHovered && isFullScreen())
        setControlsVisible(false);
}

void ZeltoraWindow::setControlsVisible(bool visible)
{
    ui->headerFrame->setVisible(visible);
    ui->frameMenu->setVisible(visible);
    // Every showing restarts the countdown; hiding leaves the timer alone.
    if (visible && hideTimer)
        hideTimer->start();
}

void ZeltoraWindow::updateControlsVisibility()
{
    setControlsVisible(!isFullScreen() || controlsHovered);
}

bool ZeltoraWindow::isOverControls(const QPoint &windowPos) const
{
    // A hidden bar keeps its last laid-out place, and that place still counts.
    const auto contains = [this, windowPos](const QWidget *bar) {
        return QRect(bar->mapTo(this, QPoint(0, 0)), bar->size()).contains(windowPos);
    };
    return contains(ui->headerFrame) || contains(ui->frameMenu);
}

void ZeltoraWindow::dressForFullscreen(bool fullscreen)
{
    const int margin = fullscreen ? 0 : kShadowMargin;
    ui->verticalLayout->setContentsMargins(margin, margin, margin, margin);
    if (QGraphicsEffect *effect = ui->centralwidget->graphicsEffect())
        effect->setEnabled(!fullscreen);

    // A window manager does not stretch a window of fixed size over the screen, so
    // the size limits are set aside for the spell and put back afterwards.
    if (fullscreen) {
        if (!fixedMaximumSize.isValid()) {
            fixedMinimumSize = minimumSize();
            fixedMaximumSize = maximumSize();
        }
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else if (fixedMaximumSize.isValid()) {
        setMinimumSize(fixedMinimumSize);
        setMaximumSize(fixedMaximumSize);
        fixedMinimumSize = fixedMaximumSize = QSize();
    }
}

void ZeltoraWindow::enterFullscreen()
{
    normalGeometry = geometry();
    dressForFullscreen(true);
    showFullScreen();
}

void ZeltoraWindow::leaveFullscreen()
{
    showNormal();
    dressForFullscreen(false);
    if (normalGeometry.isValid())
        setGeometry(normalGeometry);
}

void ZeltoraWindow::toggleFullscreen()
{
    if (isFullScreen())
        leaveFullscreen();
    else
        enterFullscreen();
    updateControlsVisibility();
    refreshFullscreenMenuText();
    // Full screen covers the area instead of fitting inside it, even where the size
    // happens to stay the same.
    videoWidget->announceDisplayArea();
}

void ZeltoraWindow::enterRestoredFullscreen()
{
    if (!restoreFullscreen)
        return;
    if (isFullScreen()) {
        // Restoring the saved geometry can already have put the window in full
        // screen, still dressed for normal mode; its normal geometry is Qt's record.
        normalGeometry = QWidget::normalGeometry();
        dressForFullscreen(true);
    } else {
        showNormal();
        enterFullscreen();
    }
    updateControlsVisibility();
    refreshFullscreenMenuText();
    videoWidget->announceDisplayArea();
}

void ZeltoraWindow::refreshFullscreenMenuText()
{
    if (!titleMenu)
        return;
    const QString enter = tr("全屏");
    const QString leave = tr("退出全屏");
    const auto actions = titleMenu->actions();
    for (QAction *action : actions) {
        if (action->text() == enter || action->text() == leave) {
            action->setText(isFullScreen() ? leave : enter);
            return;
        }
    }
}

void ZeltoraWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || isFullScreen()) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPoint onHeader = ui->headerFrame->mapFrom(this, event->position().toPoint());
    if (ui->headerFrame->rect().contains(onHeader)) {
        dragging = true;
        dragStartPos = event->globalPosition().toPoint();
        windowStartPos = frameGeometry().topLeft();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void ZeltoraWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (dragging && (event->buttons() & Qt::LeftButton) && !isFullScreen()) {
        move(event->globalPosition().toPoint() - dragStartPos + windowStartPos);
        event->accept();
        return;
    }
    if (isFullScreen())
        trackPointerInFullscreen(event->position().toPoint());
    QWidget::mouseMoveEvent(event);
}

void ZeltoraWindow::trackPointerInFullscreen(const QPoint &windowPos)
{
    const bool inside = isOverControls(windowPos);
    if (inside != controlsHovered) {
        controlsHovered = inside;
        updateControlsVisibility();
    }
    if (!inside)
        setControlsVisible(true);
}

void ZeltoraWindow::showEvent(QShowEvent *event)
{
    // A hover move stops at the first ancestor without mouse tracking (frameMian,
    // the labels and buttons of the bars), so most of them never reach
    // mouseMoveEvent. The native window sees every one of them first.
    if (QWindow *handle = windowHandle())
        handle->installEventFilter(this);
    QMainWindow::showEvent(event);
}

void ZeltoraWindow::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && dragging) {
        dragging = false;
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void ZeltoraWindow::toggleVolumeSlider()
{
    if (volumeSlider->isVisible()) {
        volumeSlider->hide();
        return;
    }
    const QRect button(ui->volumeButton->mapToGlobal(QPoint(0, 0)), ui->volumeButton->size());
    const QSize popup = volumeSlider->size();

    // The screen is looked up where the popup would open, but that point can lie
    // off every screen (a button at the top edge); the button's own screen, then
    // the window's, stand in so the popup is still kept on screen.
    QScreen *screen = QGuiApplication::screenAt(popupPlacement(button, popup, std::nullopt));
    if (!screen)
        screen = QGuiApplication::screenAt(button.center());
    if (!screen)
        screen = this->screen();
    std::optional<QRect> available;
    if (screen)
        available = screen->availableGeometry();

    volumeSlider->move(popupPlacement(button, popup, available));
    volumeSlider->show();
    volumeSlider->raise();
}

bool ZeltoraWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == volumeSlider
        && (event->type() == QEvent::FocusOut || event->type() == QEvent::Leave)) {
        volumeSlider->hide();
        return true;
    }
    if (event->type() == QEvent::MouseMove && watched == windowHandle() && isFullScreen()) {
        trackPointerInFullscreen(static_cast<QMouseEvent *>(event)->position().toPoint());
        return false;
    }
    if (watched == playAction && event->type() == QEvent::Shortcut) {
        togglePlayPause();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void ZeltoraWindow::on_closeButton_clicked()
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, tr("确认退出"), tr("确定要退出 Zeltora 吗？"), QMessageBox::Yes | QMessageBox::No,
        QMessageBox::NoButton);
    if (answer == QMessageBox::Yes)
        QCoreApplication::quit();
}

void ZeltoraWindow::on_pushButton_3_clicked()
{
    showMinimized();
}
