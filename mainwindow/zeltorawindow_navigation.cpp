// Finding one's place in a file: seek keys, click-to-seek, the preview over the
// position slider, the volume keys and wheel, and where long files were left.

#include "mainwindow/zeltorawindow.h"
#include "ui_zeltorawindow.h"

#include "mainwindow/positionslider.h"
#include "mainwindow/previewpopup.h"
#include "mainwindow/resumestore.h"
#include "mainwindow/timetext.h"
#include "playback/playbackcontroller.h"
#include "preview/framepreviewer.h"
#include "video/videowidget.h"

#include <QAction>
#include <QSlider>

namespace {

constexpr qint64 kShortStepMs = 5 * 1000;
constexpr qint64 kLongStepMs = 60 * 1000;
constexpr int kVolumeStep = 5;
// What unmute gives when the volume has been 0 since the start (nothing to put back).
constexpr int kUnmuteLevel = 50;
constexpr int kWheelNotch = 120;

void hidePreview(PreviewPopup *popup, FramePreviewer *previews)
{
    previews->cancel();
    popup->hide();
    popup->setPicture(QImage());
}

} // namespace

void ZeltoraWindow::setupNavigation()
{
    // Window shortcuts, like the others: they work wherever the focus is, full screen too.
    const auto addKey = [this](const QString &text, const QKeySequence &key, auto handler) {
        auto *action = new QAction(text, this);
        action->setShortcut(key);
        connect(action, &QAction::triggered, this, handler);
        addAction(action);
        return action;
    };
    addKey(tr("后退 5 秒"), QKeySequence(Qt::Key_Left), [this] { seekBy(-kShortStepMs); });
    addKey(tr("前进 5 秒"), QKeySequence(Qt::Key_Right), [this] { seekBy(kShortStepMs); });
    addKey(tr("后退 1 分钟"), QKeySequence(Qt::CTRL | Qt::Key_Left), [this] { seekBy(-kLongStepMs); });
    addKey(tr("前进 1 分钟"), QKeySequence(Qt::CTRL | Qt::Key_Right), [this] { seekBy(kLongStepMs); });
    addKey(tr("回到开头"), QKeySequence(Qt::Key_Home), [this] { seekTo(0); });
    addKey(tr("音量加"), QKeySequence(Qt::Key_Up), [this] { changeVolumeBy(kVolumeStep); });
    addKey(tr("音量减"), QKeySequence(Qt::Key_Down), [this] { changeVolumeBy(-kVolumeStep); });
    addKey(tr("上一个"), QKeySequence(Qt::Key_PageUp), [this] { playPrevious(); });
    addKey(tr("下一个"), QKeySequence(Qt::Key_PageDown), [this] { playNext(); });
    muteAction = addKey(tr("静音"), QKeySequence(Qt::Key_M), [this] { toggleMute(); });
    connect(volumeSlider, &QSlider::valueChanged, this, [this](int volume) {
        // Unmute brings back the last level heard, however the volume came down to 0.
        if (volume > 0)
            volumeBeforeMute = volume;
        muteAction->setText(volume <= 0 ? tr("取消静音") : tr("静音"));
    });

    connect(videoWidget, &VideoWidget::wheelTurned, this, [this](int delta) { turnWheel(delta); });

    previewer = new FramePreviewer(this);
    previewPopup = new PreviewPopup(this);
    connect(previewer, &FramePreviewer::previewReady, this,
            [this](const QString &path, qint64, qint64, const QImage &image) { showPreviewPicture(path, image); });

    PositionSlider *slider = ui->positionSlider;
    connect(slider, &PositionSlider::clickedTo, this,
            [this](int value) { seekTo(qint64(value) * sliderUnitMs); });
    connect(slider, &PositionSlider::hovered, this,
            [this](int value, const QPoint &pos) { showPositionPreview(value, pos); });
    // The slider also leaves and hides while the window is being torn down, when
    // the window is no longer one to call; the popup and the previewer outlive it.
    connect(slider, &PositionSlider::hoverLeft, previewPopup,
            [popup = previewPopup, previews = previewer] { hidePreview(popup, previews); });
}

QString ZeltoraWindow::currentMediaPath() const
{
    return player->currentFile();
}

qint64 ZeltoraWindow::currentPositionMs() const
{
    // The engine's place: the picture on screen, a seek's target at once, the sound
    // heard for media without a picture.
    return player->position();
}

void ZeltoraWindow::seekTo(qint64 ms)
{
    if (!player->isOpen())
        return;
    const qint64 target = qBound<qint64>(0, ms, qMax<qint64>(0, mediaDuration));
    mediaEnded = false;
    player->seek(target, PlaybackController::SeekMode::Exact);
    ui->positionSlider->setValue(int(target / sliderUnitMs));
    ui->currentTimeLabel->setText(formatTime(target));
    publishSeek(target);
}

void ZeltoraWindow::seekBy(qint64 deltaMs)
{
    if (player->isOpen())
        seekTo(currentPositionMs() + deltaMs);
}

void ZeltoraWindow::changeVolumeBy(int delta)
{
    volumeSlider->setValue(qBound(volumeSlider->minimum(), volumeSlider->value() + delta,
                                  volumeSlider->maximum()));
}

void ZeltoraWindow::toggleMute()
{
    if (volumeSlider->value() > 0)
        volumeSlider->setValue(0);
    else
        volumeSlider->setValue(volumeBeforeMute > 0 ? volumeBeforeMute : kUnmuteLevel);
}

void ZeltoraWindow::turnWheel(int angleDelta)
{
    // Fine-grained wheels (touchpads) send small deltas: they add up to notches.
    // A turn the other way starts afresh.
    if (wheelRemainder != 0 && (wheelRemainder > 0) != (angleDelta > 0))
        wheelRemainder = 0;
    wheelRemainder += angleDelta;
    const int notches = wheelRemainder / kWheelNotch;
    wheelRemainder -= notches * kWheelNotch;
    if (notches != 0)
        changeVolumeBy(notches * kVolumeStep);
}

void ZeltoraWindow::showPositionPreview(int value, const QPoint &pos)
{
    if (!player->isOpen() || mediaDuration <= 0) {
        hidePositionPreview();
        return;
    }
    const qint64 ms = qBound<qint64>(0, qint64(value) * sliderUnitMs, mediaDuration);
    previewPopup->showOver(ui->positionSlider, pos.x(), formatTime(ms));
    if (player->hasVideo())
        previewer->request(currentMediaPath(), ms);
}

void ZeltoraWindow::showPreviewPicture(const QString &path, const QImage &image)
{
    // An answer that comes after the pointer has left, or for a file since replaced.
    if (previewPopup->isHidden() || path != currentMediaPath())
        return;
    previewPopup->setPicture(image);
}

void ZeltoraWindow::hidePositionPreview()
{
    hidePreview(previewPopup, previewer);
}

void ZeltoraWindow::rememberPlace()
{
    const QString path = currentMediaPath();
    if (!path.isEmpty())
        ResumeStore().leave(path, currentPositionMs(), mediaDuration);
}

bool ZeltoraWindow::resumePlace()
{
    const QString path = currentMediaPath();
    if (path.isEmpty())
        return false;
    const qint64 at = ResumeStore().resumePosition(path, mediaDuration);
    if (at < 0)
        return false;
    seekTo(at);
    ui->statusBar->setText(tr("从 %1 继续播放").arg(formatTime(at)));
    return true;
}
