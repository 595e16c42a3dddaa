// Loading, playing, pausing and stopping media, and pacing its frames.
//
// The decoder answers each queued decodeVideoFrame request with one frame. Pacing
// follows each frame's own timestamp against the playback clock: a frame that is
// early waits in pendingFrame for its moment (the frame timer is re-armed for it), a
// frame whose slot has already passed is dropped, and the next request goes out as
// soon as the previous frame is on screen, so decoding overlaps the wait. Nothing
// here accumulates timing error: the clock is wall time, not a sum of intervals.

#include "mainwindow/zeltorawindow.h"
#include "ui_zeltorawindow.h"

#include "decoder/ffmpegdecoder.h"
#include "mainwindow/timetext.h"
#include "playlist/playlistmodel.h"
#include "video/videowidget.h"

#include <QAudio>
#include <QAudioDevice>
#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaDevices>
#include <QMessageBox>
#include <QMetaObject>
#include <QSlider>
#include <QTimer>

#include <cmath>
#include <limits>

namespace {

constexpr int kIdleTickMs = 33;
// A run of late frames is dropped only while something reached the screen recently,
// so a machine too slow for the file still shows a picture now and then.
constexpr qint64 kMaxDropSpanMs = 250;
// Null answers in a row that are re-requested at once (the decoder works through a
// bounded number of packets per request, e.g. audio interleaved ahead of video).
constexpr int kEagerNullAnswers = 64;

float linearVolume(int volume)
{
    return QAudio::convertVolume(float(volume / 100.0), QAudio::LogarithmicVolumeScale,
                                 QAudio::LinearVolumeScale);
}

} // namespace

void ZeltoraWindow::loadMedia(const QString &path)
{
    stop();

    lastShownPts = -1;
    lastDecodedPts = -1;
    pendingFrame = QImage();
    mediaEnded = false;
    nullAnswersInRow = 0;
    clock.pause();
    clock.setPosition(0);

    if (decoder->open(path)) {
        updateDuration(decoder->duration());
        setWindowTitle(QFileInfo(path).fileName() + QStringLiteral(" - Zeltora"));
        if (decoder->hasVideo())
            videoWidget->setMinimumSize(1, 1);
        else
            videoWidget->setMinimumSize(640, 480);
        publishTrack();
        updateControls();
    } else {
        QMessageBox::warning(this, tr("错误"), tr("无法加载媒体文件: ") + path,
                             QMessageBox::Ok, QMessageBox::NoButton);
    }
}

void ZeltoraWindow::play()
{
    if (!decoder->isOpen()) {
        if (playlistModel->count() < 1) {
            const QString text = tr("播放列表为空，请先添加媒体文件");
            ui->statusBar->setText(text);
            QMessageBox::information(this, tr("提示"), text, QMessageBox::Ok, QMessageBox::NoButton);
            return;
        }
        loadMedia(playlistModel->filePath(0));
        // loadMedia has said why it failed; with nothing open there is nothing to play.
        if (!decoder->isOpen()) {
            updateControls();
            return;
        }
    }

    // Played to the end and stopped there: play again from the start.
    if (mediaEnded)
        postSeek(0);

    frameTimer->start(kIdleTickMs);
    isPlaying = true;
    isPaused = false;
    clock.start();
    updateControls();
    pumpFrames();
}

void ZeltoraWindow::pause()
{
    frameTimer->stop();
    isPlaying = false;
    isPaused = true;
    clock.pause();
    updateControls();
}

void ZeltoraWindow::stop()
{
    frameTimer->stop();
    isPlaying = false;
    isPaused = false;
    clock.pause();
    // The decoder keeps its read position; a later play starts the clock at the next frame.
    resyncClock = true;
    showNextFrame = false;
    ++playbackGeneration;
    videoWidget->setFrame(QImage());
    updateControls();
    ui->positionSlider->setValue(0);
    ui->currentTimeLabel->setText(QStringLiteral("00:00:00"));
}

void ZeltoraWindow::togglePlayPause()
{
    if (decoder->isOpen()) {
        if (isPlaying && !isPaused) {
            pause();
            return;
        }
        play();
        return;
    }
    if (playlistModel->count() <= 0)
        return;
    // play() would try the same entry again and report the same failure twice.
    loadMedia(playlistModel->filePath(0));
    if (decoder->isOpen())
        play();
}

void ZeltoraWindow::updateControls()
{
    const bool playing = isPlaying && !isPaused;
    ui->playPauseButton->setIcon(QIcon(playing ? QStringLiteral(":/icons/pause.svg")
                                               : QStringLiteral(":/icons/play.svg")));
    ui->stopButton->setEnabled(isPlaying || isPaused);
    const bool open = decoder->isOpen();
    const bool several = playlistModel->count() > 1;
    ui->prevButton->setEnabled(several && open);
    ui->nextButton->setEnabled(several && open);
    ui->volumeButton->setEnabled(open);
    ui->positionSlider->setEnabled(open);
    publishState();
}

void ZeltoraWindow::updateVideoFrame()
{
    if (!decoder || !decoder->isOpen())
        return;
    // Media without a picture (audio only, or a video stream that never decodes)
    // never reaches an end of frames; it ends when its duration has played, so a
    // playlist plays on past it.
    const bool noPicture = lastShownPts < 0
        && (!decoder->hasVideo() || nullAnswersInRow >= kEagerNullAnswers);
    if (isPlaying && noPicture && !mediaEnded && mediaDuration > 0 && clock.position() >= mediaDuration) {
        handleDecoderFinished();
        return;
    }
    pumpFrames();
}

void ZeltoraWindow::requestFrame()
{
    ++framesInFlight;
    QMetaObject::invokeMethod(decoder, "decodeVideoFrame", Qt::QueuedConnection);
}

void ZeltoraWindow::scheduleNextTick(qint64 waitMs)
{
    if (!isPlaying)
        return;
    frameTimer->start(int(qBound(qint64(1), waitMs, qint64(kIdleTickMs))));
}

qint64 ZeltoraWindow::frameDurationEstimate(qint64 pts) const
{
    if (lastDecodedPts >= 0 && pts > lastDecodedPts)
        return pts - lastDecodedPts;
    const double rate = decoder->frameRate();
    if (std::isfinite(rate) && rate > 0.0)
        return qMax<qint64>(1, qint64(1000.0 / rate));
    return 40;
}

void ZeltoraWindow::handleFrame(const QImage &frame)
{
    if (framesInFlight > 0)
        --framesInFlight;
    if (staleAnswers > 0) {
        // Decoded from before the latest seek: not the picture the user asked for.
        --staleAnswers;
        pumpFrames();
        return;
    }

    if (frame.isNull()) {
        ++nullAnswersInRow;
        updatePosition();
        // The decoder stops after a bounded number of packets without a picture; ask on
        // at once while that is plausible, otherwise on the next tick.
        if (!mediaEnded && decoder->hasVideo() && nullAnswersInRow < kEagerNullAnswers) {
            if (isPlaying)
                pumpFrames();
            else if (showNextFrame && framesInFlight == 0)
                requestFrame(); // a seek while paused still owes the user its picture
        }
        return;
    }
    nullAnswersInRow = 0;

    const qint64 pts = decoder->position();
    pendingDuration = frameDurationEstimate(pts);
    lastDecodedPts = pts;
    pendingFrame = frame;
    pendingPts = pts;
    pumpFrames();
}

void ZeltoraWindow::showFrame(const QImage &frame)
{
    currentFrame = frame;
    videoWidget->setFrame(currentFrame);
    lastShownPts = pendingPts;
    lastShownWallMs = clock.wallMs();
    ++framesShown;
    updatePosition();
}

void ZeltoraWindow::pumpFrames()
{
    if (!pendingFrame.isNull()) {
        const QImage frame = pendingFrame;
        if (showNextFrame) {
            // The answer to a seek: shown at once, playing or not, and time goes on from it.
            // The demuxer lands on the key frame before the target; time goes on from the
            // target, so the frames in between count as late and are skipped.
            showNextFrame = false;
            resyncClock = false;
            clock.setPosition(qMax(pendingPts, seekTarget));
            pendingFrame = QImage();
            showFrame(frame);
        } else if (!isPlaying) {
            return; // held until play
        } else if (resyncClock) {
            resyncClock = false;
            clock.setPosition(pendingPts);
            pendingFrame = QImage();
            showFrame(frame);
        } else {
            const qint64 now = clock.position();
            if (pendingPts > now) {
                scheduleNextTick(pendingPts - now);
                return;
            }
            pendingFrame = QImage();
            const bool late = now - pendingPts > pendingDuration;
            if (late && clock.wallMs() - lastShownWallMs < kMaxDropSpanMs)
                ++framesDropped;
            else
                showFrame(frame);
        }
    }

    if (isPlaying && !mediaEnded && framesInFlight == 0)
        requestFrame();
    scheduleNextTick(kIdleTickMs);
}

void ZeltoraWindow::handleDecoderFinished()
{
    mediaEnded = true;
    // Paused or stopped (a seek to the very end): a player does not start the next
    // file by itself; play starts this one again from the beginning.
    if (!isPlaying)
        return;
    // Let the last picture stay on screen for its own duration before moving on.
    const qint64 wait = lastShownPts >= 0
        ? qMax<qint64>(0, lastShownPts + pendingDuration - clock.position())
        : 0;
    const quint64 generation = playbackGeneration;
    QTimer::singleShot(int(qMin<qint64>(wait, 1000)), this, [this, generation] {
        if (generation == playbackGeneration && mediaEnded)
            handlePlaybackFinished();
    });
}

void ZeltoraWindow::updatePosition()
{
    if (!decoder || !decoder->isOpen())
        return;
    if (ui->positionSlider->isSliderDown())
        return;
    const qint64 pos = decoder->position();
    ui->positionSlider->setValue(int(pos / sliderUnitMs));
    ui->currentTimeLabel->setText(formatTime(pos));
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

void ZeltoraWindow::seek(int position)
{
    if (!decoder || !decoder->isOpen())
        return;
    const qint64 target = qMax<qint64>(0, qMin<qint64>(qint64(position) * sliderUnitMs, mediaDuration));
    const bool resume = isPlaying && !isPaused;
    if (resume)
        pause();

    postSeek(target);
    showNextFrame = true;
    requestFrame();
    publishSeek(target);

    if (resume)
        play();
}

void ZeltoraWindow::postSeek(qint64 target)
{
    ++playbackGeneration;
    staleAnswers += framesInFlight;
    pendingFrame = QImage();
    lastDecodedPts = -1;
    mediaEnded = false;
    nullAnswersInRow = 0;
    resyncClock = true;
    seekTarget = target;
    clock.setPosition(target); // media without a picture have only the clock to go by
    QMetaObject::invokeMethod(decoder, "seek", Qt::QueuedConnection, Q_ARG(qint64, target));
}

void ZeltoraWindow::handleSliderReleased()
{
    if (isPlaying)
        play();
}

void ZeltoraWindow::handleVideoClicked()
{
    if (!isPlaying)
        play();
    else
        pause();
}

void ZeltoraWindow::handleDecoderError(const QString &message)
{
    QMessageBox::critical(this, QStringLiteral("Error"), message, QMessageBox::Ok, QMessageBox::NoButton);
    stop();
}

void ZeltoraWindow::setVolume(int volume)
{
    if (!audioOutput) {
        if (!decoder || !decoder->isOpen() || !decoder->hasAudio())
            return;
        audioOutput = new QAudioOutput(QMediaDevices::defaultAudioOutput(), this);
    }
    audioOutput->setVolume(linearVolume(volume));

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

void ZeltoraWindow::recreateAudioOutput()
{
    delete audioOutput;
    audioOutput = new QAudioOutput(QMediaDevices::defaultAudioOutput(), this);
    audioOutput->setVolume(volumeSlider ? linearVolume(volumeSlider->value()) : 0.5f);
}
