// The window among the desktop's other programs: media keys, the panel's media
// widget, a phone's remote and a second start of the program reach it through a
// DesktopIntegration, and its playback state goes out the same way.

#include "mainwindow/zeltorawindow.h"

#include "desktop/desktopintegration.h"
#include "playback/playbackcontroller.h"
#include "playlist/playlistmodel.h"

#include <QFileInfo>
#include <QSlider>

void ZeltoraWindow::attachDesktop(DesktopIntegration *integration)
{
    if (!integration || desktop)
        return;
    desktop = integration;
    desktop->setParent(this);

    connect(desktop, &DesktopIntegration::playRequested, this, [this] {
        // With nothing to play, play() would answer a remote key with a message box.
        if (player->isOpen() || player->isLoading() || playlistModel->count() > 0)
            play();
    });
    connect(desktop, &DesktopIntegration::pauseRequested, this, [this] {
        if (isPlaying && !isPaused)
            pause();
    });
    connect(desktop, &DesktopIntegration::playPauseRequested, this, &ZeltoraWindow::togglePlayPause);
    connect(desktop, &DesktopIntegration::stopRequested, this, &ZeltoraWindow::stop);
    connect(desktop, &DesktopIntegration::nextRequested, this, &ZeltoraWindow::playNext);
    connect(desktop, &DesktopIntegration::previousRequested, this, &ZeltoraWindow::playPrevious);
    connect(desktop, &DesktopIntegration::seekByRequested, this, [this](qint64 offsetMs) {
        const qint64 target = desktopPosition() + offsetMs;
        // A step past the end asks for the next file.
        if (mediaDuration > 0 && target > mediaDuration)
            playNext();
        else
            seekFromDesktop(target);
    });
    connect(desktop, &DesktopIntegration::setPositionRequested, this, &ZeltoraWindow::seekFromDesktop);
    connect(desktop, &DesktopIntegration::openRequested, this, &ZeltoraWindow::playFromOutside);
    connect(desktop, &DesktopIntegration::raiseRequested, this, &ZeltoraWindow::raiseFromDesktop);
    connect(desktop, &DesktopIntegration::volumeRequested, volumeSlider, &QSlider::setValue);
    connect(volumeSlider, &QSlider::valueChanged, desktop, &DesktopIntegration::setVolume);
    // The playlist's length decides whether there is something to play, and a next one.
    connect(playlistModel, &QAbstractItemModel::rowsInserted, this, &ZeltoraWindow::publishState);
    connect(playlistModel, &QAbstractItemModel::rowsRemoved, this, &ZeltoraWindow::publishState);
    connect(playlistModel, &QAbstractItemModel::modelReset, this, &ZeltoraWindow::publishState);

    desktop->setPositionSource([this] { return desktopPosition(); });
    desktop->setVolume(volumeSlider->value());
    publishTrack();
    publishState();
}

void ZeltoraWindow::playFromOutside(const QString &path)
{
    const QFileInfo file(path);
    if (!file.exists()) {
        loadMedia(path); // says that it cannot be loaded; a missing file joins nothing
        return;
    }
    // Compared by canonical path, so the same file under another name (a link, a
    // relative path) is not listed twice.
    const QString canonical = file.canonicalFilePath();
    int row = -1;
    for (int i = 0; i < playlistModel->count() && row < 0; ++i) {
        if (QFileInfo(playlistModel->filePath(i)).canonicalFilePath() == canonical)
            row = i;
    }
    if (row < 0) {
        playlistModel->addFile(file.absoluteFilePath());
        row = playlistModel->count() - 1;
    }
    loadMedia(playlistModel->filePath(row));
    // Plays as soon as it is open; a file that fails is reported and nothing else
    // starts in its place.
    play();
}

void ZeltoraWindow::publishTrack()
{
    if (!desktop)
        return;
    DesktopIntegration::Track track;
    if (player->isOpen()) {
        const MediaInfo &info = player->mediaInfo();
        track.path = QFileInfo(info.path).absoluteFilePath();
        track.title = info.title;
        track.artist = info.artist;
        track.album = info.album;
        track.lengthMs = mediaDuration;
        track.hasPicture = info.hasVideo;
    }
    desktop->setTrack(track);
}

void ZeltoraWindow::publishState()
{
    if (!desktop)
        return;
    const bool open = player->isOpen();
    if (!open)
        desktop->setTrack({});
    using Playback = DesktopIntegration::Playback;
    desktop->setPlayback(isPlaying && !isPaused ? Playback::Playing
                         : isPaused             ? Playback::Paused
                                                : Playback::Stopped);
    DesktopIntegration::Abilities abilities;
    abilities.canPlay = open || playlistModel->count() > 0;
    abilities.canSeek = open && mediaDuration > 0;
    abilities.canGoNext = abilities.canGoPrevious = playlistModel->count() > 1;
    desktop->setAbilities(abilities);
}

void ZeltoraWindow::publishSeek(qint64 positionMs)
{
    if (desktop)
        desktop->notifySeeked(positionMs);
}

void ZeltoraWindow::raiseFromDesktop()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void ZeltoraWindow::seekFromDesktop(qint64 positionMs)
{
    if (!player->isOpen())
        return;
    mediaEnded = false;
    const qint64 target = qBound<qint64>(0, positionMs, mediaDuration);
    player->seek(target, PlaybackController::SeekMode::Exact);
    publishSeek(target);
    updatePosition();
}

qint64 ZeltoraWindow::desktopPosition() const
{
    if (!player->isOpen() || (!isPlaying && !isPaused))
        return 0;
    return player->position();
}
