#include "desktop/dbusmprisplayeradaptor.h"

#include "desktop/dbusdesktopintegration.h"

#include <QFileInfo>
#include <QUrl>

#include <cmath>

DBusMprisPlayerAdaptor::DBusMprisPlayerAdaptor(DBusDesktopIntegration *owner)
    : QDBusAbstractAdaptor(owner), owner(owner)
{
}

QString DBusMprisPlayerAdaptor::playbackStatus() const
{
    switch (owner->playback()) {
    case DesktopIntegration::Playback::Playing: return QStringLiteral("Playing");
    case DesktopIntegration::Playback::Paused: return QStringLiteral("Paused");
    case DesktopIntegration::Playback::Stopped: break;
    }
    return QStringLiteral("Stopped");
}

QVariantMap DBusMprisPlayerAdaptor::metadata() const
{
    return owner->metadata();
}

double DBusMprisPlayerAdaptor::volume() const
{
    return owner->volumePercent() / 100.0;
}

void DBusMprisPlayerAdaptor::setVolume(double volume)
{
    if (!std::isfinite(volume))
        return;
    // The volume slider goes from 0 to 100; beyond 1.0 is as loud as it gets.
    const int percent = int(std::lround(qBound(0.0, volume, 1.0) * 100.0));
    owner->requestLater(&DesktopIntegration::volumeRequested, percent);
}

qlonglong DBusMprisPlayerAdaptor::position() const
{
    return owner->positionMs() * 1000;
}

bool DBusMprisPlayerAdaptor::canGoNext() const
{
    return owner->abilities().canGoNext;
}

bool DBusMprisPlayerAdaptor::canGoPrevious() const
{
    return owner->abilities().canGoPrevious;
}

bool DBusMprisPlayerAdaptor::canPlay() const
{
    return owner->abilities().canPlay;
}

bool DBusMprisPlayerAdaptor::canSeek() const
{
    return owner->abilities().canSeek;
}

void DBusMprisPlayerAdaptor::Next()
{
    owner->requestLater(&DesktopIntegration::nextRequested);
}

void DBusMprisPlayerAdaptor::Previous()
{
    owner->requestLater(&DesktopIntegration::previousRequested);
}

void DBusMprisPlayerAdaptor::Pause()
{
    owner->requestLater(&DesktopIntegration::pauseRequested);
}

void DBusMprisPlayerAdaptor::PlayPause()
{
    owner->requestLater(&DesktopIntegration::playPauseRequested);
}

void DBusMprisPlayerAdaptor::Stop()
{
    owner->requestLater(&DesktopIntegration::stopRequested);
}

void DBusMprisPlayerAdaptor::Play()
{
    owner->requestLater(&DesktopIntegration::playRequested);
}

void DBusMprisPlayerAdaptor::Seek(qlonglong Offset)
{
    if (owner->abilities().canSeek)
        owner->requestLater(&DesktopIntegration::seekByRequested, qint64(Offset / 1000));
}

void DBusMprisPlayerAdaptor::SetPosition(const QDBusObjectPath &TrackId, qlonglong Position)
{
    // A request meant for a track that is no longer playing, or a time outside this
    // one, is ignored, as the interface asks.
    const qint64 ms = Position / 1000;
    if (!owner->abilities().canSeek || TrackId != owner->trackId() || ms < 0 || ms > owner->lengthMs())
        return;
    owner->requestLater(&DesktopIntegration::setPositionRequested, ms);
}

void DBusMprisPlayerAdaptor::OpenUri(const QString &Uri)
{
    const QUrl url(Uri);
    const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
    // Other schemes are not supported, which the interface lets a player ignore.
    if (path.isEmpty() || !QFileInfo(path).isAbsolute())
        return;
    owner->requestLater(&DesktopIntegration::openRequested, path);
}
