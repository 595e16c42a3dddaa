#pragma once

#include "desktop/desktopintegration.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

class ArtCache;
class DBusMprisPlayerAdaptor;
class DBusScreenInhibitor;
class QTimer;

// The desktop integration on the session bus: the player as MPRIS (the
// org.mpris.MediaPlayer2 interfaces at /org/mpris/MediaPlayer2), the one running
// player of the session under a name of its own, and the screen kept awake while a
// picture plays.
//
// Thread: the GUI thread. Qt D-Bus reads the bus on a thread of its own and
// delivers calls here as events. Nothing here waits on the bus, except
// handOverToRunningInstance, which runs before there is a window, and the
// unregistration of our names as the player closes.
class DBusDesktopIntegration : public DesktopIntegration
{
    Q_OBJECT

public:
    // Null when the session has no bus to reach.
    static DBusDesktopIntegration *createIfBusReachable(QObject *parent = nullptr);
    ~DBusDesktopIntegration() override;

    bool handOverToRunningInstance(const QString &file) override;
    void setPlayback(Playback playback) override;
    void setTrack(const Track &track) override;
    void setAbilities(const Abilities &abilities) override;
    void setVolume(int percent) override;
    void setPositionSource(std::function<qint64()> source) override;
    void notifySeeked(qint64 positionMs) override;

    // --- for the bus adaptors ---
    Playback playback() const { return currentPlayback; }
    const Abilities &abilities() const { return currentAbilities; }
    int volumePercent() const { return currentVolume; }
    qint64 positionMs() const;
    qint64 lengthMs() const { return currentTrack.lengthMs; }
    QDBusObjectPath trackId() const;
    QVariantMap metadata() const;

    // Emits `signal` with `values` once control is back in the event loop, so the
    // bus call that asked has been answered before the window acts on it.
    template <typename... Args, typename... Values>
    void requestLater(void (DesktopIntegration::*signal)(Args...), Values... values)
    {
        QMetaObject::invokeMethod(
            this, [this, signal, values...] { (this->*signal)(values...); }, Qt::QueuedConnection);
    }

private:
    DBusDesktopIntegration(const QDBusConnection &bus, QObject *parent);

    void becomePlayer();
    QVariantMap announcedProperties() const;
    void scheduleFlush();
    void flush();
    void handleArt(const QString &path, const QUrl &url);

    QDBusConnection bus;
    QObject *instanceCarrier = nullptr; // bears the adaptor of our own name, at its own path
    DBusMprisPlayerAdaptor *player = nullptr;
    DBusScreenInhibitor *inhibitor = nullptr;
    ArtCache *art = nullptr;
    QTimer *flushTimer = nullptr;
    QStringList ownedNames;
    bool playerRegistered = false;
    bool instanceRegistered = false;

    Playback currentPlayback = Playback::Stopped;
    Track currentTrack;
    Abilities currentAbilities;
    int currentVolume = 50;
    std::function<qint64()> positionSource;
    quint64 trackNumber = 0;
    QUrl artUrl;
    QVariantMap announced; // the player's properties as last announced
};
