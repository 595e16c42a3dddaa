// The window among the desktop's other programs: media keys, the panel's media
// widget, a phone's remote and a second start of the program reach it through a
// DesktopIntegration, and its playback state goes out the same way.

#include "mainwindow/zeltorawindow.h"

#include "desktop/desktopintegration.h"
#include "playback/playbackcontroller.h"
#include "playlist/mediapaths.h"
#include "playlist/playlistmodel.h"
#include "ui_zeltorawindow.h"

#include <QFileInfo>
#include <QHash>
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
    QStringList files;
    switch (mediapaths::kindOf(path)) {
    case mediapaths::Kind::RegularFile:
        files = {QFileInfo(path).absoluteFilePath()};
        break;
    case mediapaths::Kind::Folder:
        files = mediapaths::scanFolder(QFileInfo(path).absoluteFilePath());
        if (files.isEmpty()) {
            ui->statusBar->setText(tr("文件夹中没有媒体文件: %1").arg(path));
            return;
        }
        break;
    case mediapaths::Kind::Missing:
    case mediapaths::Kind::Other:
        loadMedia(path); // refused unopened and reported; it joins nothing
        return;
    }

    // Compared by canonical path, so the same file under another name (a link, a
    // relative path) is not listed twice.
    QHash<QString, int> listed;
    for (int i = playlistModel->count() - 1; i >= 0; --i)
        listed.insert(QFileInfo(playlistModel->filePath(i)).canonicalFilePath(), i);
    QStringList joining;
    int row = -1;
    for (const QString &file : files) {
        const auto known = listed.constFind(QFileInfo(file).canonicalFilePath());
        const int fileRow = known != listed.constEnd()
            ? known.value()
            : playlistModel->count() + int(joining.size());
        if (known == listed.constEnd())
            joining.append(file);
        if (row < 0)
            row = fileRow;
    }
    playlistModel->addFiles(joining);
    // Plays now, even over a paused file; one that fails is reported and nothing
    // else starts in its place.
    playDirection = 1;
    loadEntry(row, LoadOrigin::Chosen);
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
