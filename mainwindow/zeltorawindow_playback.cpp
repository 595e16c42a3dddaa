// Loading, playing, pausing and stopping media, through the playback engine.
//
// The engine (playback/) decodes, keeps time and paces the pictures off this thread;
// the window sends it commands, shows the frames it hands over and keeps the
// transport bar in step. Nothing here waits for the engine: a load answers later with
// handleLoaded or handleLoadFailed.

#include "mainwindow/zeltorawindow.h"
#include "ui_zeltorawindow.h"

#include "mainwindow/timetext.h"
#include "playback/playbackcontroller.h"
#include "playlist/mediapaths.h"
#include "playlist/playlistmodel.h"
#include "video/videowidget.h"

#include <QAudio>
#include <QFileInfo>
#include <QMessageBox>
#include <QSlider>
#include <QTimer>

#include <limits>

namespace {

// How often the position slider and the time labels follow playback.
constexpr int kPositionTickMs = 33;

float linearVolume(int volume)
{
    return QAudio::convertVolume(float(volume / 100.0), QAudio::LogarithmicVolumeScale,
                                 QAudio::LinearVolumeScale);
}

} // namespace

bool ZeltoraWindow::loadMedia(const QString &path)
{
    currentEntry = QPersistentModelIndex();
    loadOrigin = LoadOrigin::Chosen;
    return startLoad(path);
}

bool ZeltoraWindow::startLoad(const QString &path)
{
    stop();
    mediaEnded = false;
    currentFrame = QImage();
    // FFmpeg's open waits for a writer on a named pipe and may read a device
    // forever: only a regular file is handed to it. What was open before is let
    // go, as after a failed load.
    if (!mediapaths::isPlayableFile(path)) {
        player->close();
        handleLoadFailed(path, mediapaths::rejectionText(path));
        return false;
    }
    player->load(path);
    rebuildTrackMenus();
    return true;
}

bool ZeltoraWindow::loadEntry(int row, LoadOrigin origin)
{
    currentEntry = QPersistentModelIndex(playlistModel->index(row));
    loadOrigin = origin;
    if (!startLoad(playlistModel->filePath(row)))
        return false;
    play();
    return true;
}

void ZeltoraWindow::handleLoaded(const MediaInfo &info)
{
    // It plays after all (the file was mended, or replaced): no longer passed over.
    if (currentEntry.isValid())
        playlistModel->setFailed(currentEntry.row(), false);
    updateDuration(info.durationMs);
    // A long file left in the middle starts where it was left.
    resumePlace();
    setWindowTitle(QFileInfo(info.path).fileName() + QStringLiteral(" - Zeltora"));
    if (info.hasVideo || !info.cover.isNull())
        videoWidget->setMinimumSize(1, 1);
    else
        videoWidget->setMinimumSize(640, 480);
    showCover();
    rebuildTrackMenus();
    publishTrack();
    updateControls();
}

void ZeltoraWindow::showCover()
{
    // Music with an album cover shows the cover while it plays, not the placeholder.
    const MediaInfo &info = player->mediaInfo();
    if (isPlaying && player->isOpen() && !info.hasVideo && !info.cover.isNull())
        showFrame(info.cover);
}

void ZeltoraWindow::handleLoadFailed(const QString &path, const QString &message)
{
    // Marked, so that play-through passes it over instead of reporting it again.
    const int row = currentEntry.isValid() ? currentEntry.row() : -1;
    if (row >= 0)
        playlistModel->setFailed(row, true);
    stop();
    if (loadOrigin == LoadOrigin::PlayThrough) {
        // Nobody asked for this file: a box per broken entry would pile up while
        // the list plays on.
        ui->statusBar->setText(tr("无法播放，已跳过: %1").arg(QFileInfo(path).fileName()));
        // An entry removed while it was opening leaves no place to go on from;
        // starting over from the top would replay what came before it.
        if (row >= 0)
            playOnFrom(row, playDirection, true);
        return;
    }
    // The engine's own words first, then what the window could not do.
    QMessageBox::critical(this, QStringLiteral("Error"), message, QMessageBox::Ok, QMessageBox::NoButton);
    QMessageBox::warning(this, tr("错误"), tr("无法加载媒体文件: ") + path,
                         QMessageBox::Ok, QMessageBox::NoButton);
    updateControls();
}

void ZeltoraWindow::play()
{
    if (!player->isOpen() && !player->isLoading()) {
        if (playlistModel->count() < 1) {
            const QString text = tr("播放列表为空，请先添加媒体文件");
            ui->statusBar->setText(text);
            QMessageBox::information(this, tr("提示"), text, QMessageBox::Ok, QMessageBox::NoButton);
            return;
        }
        // Play names the list: its first entry that can play, as chosen by the person.
        const int row = nextPlayableRow(-1, 1);
        if (row < 0) {
            ui->statusBar->setText(tr("播放列表中没有可以播放的文件"));
            return;
        }
        playDirection = 1;
        loadEntry(row, LoadOrigin::Chosen); // plays once loading has begun
        return;
    }

    // Played to the end and stopped there: play again from the start.
    if (mediaEnded) {
        mediaEnded = false;
        player->seek(0);
    }

    frameTimer->start(kPositionTickMs);
    isPlaying = true;
    isPaused = false;
    player->play();
    showCover();
    updateControls();
}

void ZeltoraWindow::pause()
{
    frameTimer->stop();
    isPlaying = false;
    isPaused = true;
    player->pause();
    updateControls();
}

void ZeltoraWindow::stop()
{
    // Leaving a long file before its end (stop, another entry, its removal) keeps its place.
    rememberPlace();
    frameTimer->stop();
    isPlaying = false;
    isPaused = false;
    // The engine keeps the file at its place; a later play goes on from there.
    player->stop();
    videoWidget->setFrame(QImage());
    updateControls();
    ui->positionSlider->setValue(0);
    ui->currentTimeLabel->setText(QStringLiteral("00:00:00"));
}

void ZeltoraWindow::togglePlayPause()
{
    if (player->isOpen() || player->isLoading()) {
        if (isPlaying && !isPaused) {
            pause();
            return;
        }
        play();
        return;
    }
    if (playlistModel->count() <= 0)
        return;
    play();
}

void ZeltoraWindow::updateControls()
{
    const bool playing = isPlaying && !isPaused;
    ui->playPauseButton->setIcon(QIcon(playing ? QStringLiteral(":/icons/pause.svg")
                                               : QStringLiteral(":/icons/play.svg")));
    ui->stopButton->setEnabled(isPlaying || isPaused);
    const bool open = player->isOpen();
    const bool several = playlistModel->count() > 1;
    ui->prevButton->setEnabled(several && open);
    ui->nextButton->setEnabled(several && open);
    ui->volumeButton->setEnabled(open);
    ui->positionSlider->setEnabled(open);
    publishState();
}

void ZeltoraWindow::updateVideoFrame()
{
    updatePosition();
}

void ZeltoraWindow::showFrame(const QImage &frame)
{
    currentFrame = frame;
    videoWidget->setFrame(currentFrame);
    if (!isPlaying)
        updatePosition(); // a seek while paused shows its place at once
}

void ZeltoraWindow::handlePlayerFinished()
{
    mediaEnded = true;
    // Paused or stopped (a seek to the very end): a player does not start the next
    // file by itself; play starts this one again from the beginning.
    if (!isPlaying)
        return;
    handlePlaybackFinished();
}

void ZeltoraWindow::updatePosition()
{
    if (!player->isOpen())
        return;
    if (ui->positionSlider->isSliderDown())
        return;
    const qint64 pos = player->position();
    const int value = int(pos / sliderUnitMs);
    if (ui->positionSlider->value() != value)
        ui->positionSlider->setValue(value);
    const QString text = formatTime(pos);
    if (ui->currentTimeLabel->text() != text)
        ui->currentTimeLabel->setText(text);
}

void ZeltoraWindow::updateDuration(qint64 duration)
{
    mediaDuration = duration;
    // The slider counts in int; very long media get a coarser slider step instead of
    // an overflowing range. The labels stay exact.
    const qint64 maxSteps = std::numeric_limits<int>::max();
    sliderUnitMs = duration > maxSteps ? (duration + maxSteps - 1) / maxSteps : 1;
    ui->positionSlider->setRange(0, int(qMax<qint64>(0, duration) / sliderUnitMs));
    ui->totalTimeLabel->setText(formatTime(duration));
}

qint64 ZeltoraWindow::sliderTarget(int position) const
{
    return qMax<qint64>(0, qMin<qint64>(qint64(position) * sliderUnitMs, mediaDuration));
}

void ZeltoraWindow::seek(int position)
{
    if (!player->isOpen())
        return;
    // While the handle is dragged: the nearest key frame, for quick feedback.
    mediaEnded = false;
    const qint64 target = sliderTarget(position);
    player->seek(target, PlaybackController::SeekMode::Fast);
    ui->currentTimeLabel->setText(formatTime(target));
    publishSeek(target);
}

void ZeltoraWindow::handleSliderReleased()
{
    if (!player->isOpen())
        return;
    // Where the handle was let go: exactly there.
    mediaEnded = false;
    const qint64 target = sliderTarget(ui->positionSlider->value());
    player->seek(target, PlaybackController::SeekMode::Exact);
    publishSeek(target);
}

void ZeltoraWindow::handleVideoClicked()
{
    if (!isPlaying)
        play();
    else
        pause();
}

void ZeltoraWindow::setVolume(int volume)
{
    player->setVolume(linearVolume(volume));

    QString icon;
    if (volume <= 0)
        icon = QStringLiteral(":/icons/volume-mute.svg");
    else if (volume < 33)
        icon = QStringLiteral(":/icons/volume-low.svg");
    else if (volume <= 65)
        icon = QStringLiteral(":/icons/volume-medium.svg");
    else
        icon = QStringLiteral(":/icons/volume-high.svg");
    ui->volumeButton->setIcon(QIcon(icon));
}
