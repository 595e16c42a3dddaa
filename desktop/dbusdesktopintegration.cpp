#include "desktop/dbusdesktopintegration.h"

#include "desktop/artcache.h"
#include "desktop/dbusinstanceadaptor.h"
#include "desktop/dbusmprisplayeradaptor.h"
#include "desktop/dbusmprisrootadaptor.h"
#include "desktop/dbusscreeninhibitor.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTimer>

Q_LOGGING_CATEGORY(lcDesktop, "zeltora.desktop", QtInfoMsg)

namespace {

const QString kInstanceService = QStringLiteral("com.wandelforge.Zeltora");
const QString kInstancePath = QStringLiteral("/com/wandelforge/Zeltora");
const QString kMprisService = QStringLiteral("org.mpris.MediaPlayer2.zeltora");
const QString kMprisPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

// The running player answers at once and acts afterwards; only a player that hangs
// makes a second start wait this long before it opens a window of its own.
constexpr int kHandOverTimeoutMs = 5000;

// Without the variable libdbus would fall back to autolaunching a bus of its own
// through X11, a stray daemon that no other program shares. The systemd user bus is
// found without the variable, at its well-known socket.
bool sessionBusAddressKnown()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

} // namespace

DBusDesktopIntegration *DBusDesktopIntegration::createIfBusReachable(QObject *parent)
{
    if (!sessionBusAddressKnown())
        return nullptr;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCInfo(lcDesktop) << "No session bus; running on our own:" << bus.lastError().message();
        return nullptr;
    }
    return new DBusDesktopIntegration(bus, parent);
}

DBusDesktopIntegration::DBusDesktopIntegration(const QDBusConnection &bus, QObject *parent)
    : DesktopIntegration(parent), bus(bus)
{
    new DBusMprisRootAdaptor(this);
    player = new DBusMprisPlayerAdaptor(this);
    instanceCarrier = new QObject(this);
    new DBusInstanceAdaptor(instanceCarrier, this);
    inhibitor = new DBusScreenInhibitor(bus, this);
    art = new ArtCache(this);
    connect(art, &ArtCache::artReady, this, &DBusDesktopIntegration::handleArt);

    // Changes made in one pass of the event loop (stop, load, play) go out as one.
    flushTimer = new QTimer(this);
    flushTimer->setSingleShot(true);
    flushTimer->setInterval(0);
    connect(flushTimer, &QTimer::timeout, this, &DBusDesktopIntegration::flush);
}

DBusDesktopIntegration::~DBusDesktopIntegration()
{
    for (const QString &name : std::as_const(ownedNames))
        bus.unregisterService(name);
    if (playerRegistered)
        bus.unregisterObject(kMprisPath);
    if (instanceRegistered)
        bus.unregisterObject(kInstancePath);
}

bool DBusDesktopIntegration::handOverToRunningInstance(const QString &file)
{
    // The object goes up before the name, so a call that finds the name finds it too.
    instanceRegistered = bus.registerObject(kInstancePath, instanceCarrier, QDBusConnection::ExportAdaptors);
    if (!instanceRegistered)
        qCWarning(lcDesktop) << "Cannot offer" << kInstancePath << bus.lastError().message();
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> claim =
        bus.interface()->registerService(kInstanceService, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (claim.isValid() && claim.value() == QDBusConnectionInterface::ServiceRegistered) {
        ownedNames << kInstanceService;
        becomePlayer();
        return false;
    }
    if (instanceRegistered)
        bus.unregisterObject(kInstancePath);
    instanceRegistered = false;
    if (!claim.isValid()) {
        qCWarning(lcDesktop) << "Cannot claim" << kInstanceService << claim.error().message();
        becomePlayer();
        return false;
    }

    QDBusMessage call = QDBusMessage::createMethodCall(kInstanceService, kInstancePath, kInstanceService,
                                                       file.isEmpty() ? QStringLiteral("Activate")
                                                                      : QStringLiteral("Open"));
    if (!file.isEmpty())
        call << file;
    const QDBusMessage answer = bus.call(call, QDBus::Block, kHandOverTimeoutMs);
    if (answer.type() == QDBusMessage::ReplyMessage)
        return true;
    qCWarning(lcDesktop) << "The running Zeltora did not answer (" << answer.errorMessage()
                         << "); opening a window of our own";
    becomePlayer();
    return false;
}

void DBusDesktopIntegration::becomePlayer()
{
    if (!bus.registerObject(kMprisPath, this, QDBusConnection::ExportAdaptors)) {
        qCWarning(lcDesktop) << "Cannot offer" << kMprisPath << bus.lastError().message();
        return;
    }
    playerRegistered = true;
    // A second player of ours (one that could not hand over) takes the name the
    // media player interface gives to further instances.
    const QString names[] = {kMprisService,
                             kMprisService + QStringLiteral(".instance")
                                 + QString::number(QCoreApplication::applicationPid())};
    for (const QString &name : names) {
        if (bus.registerService(name)) {
            ownedNames << name;
            break;
        }
    }
    announced = announcedProperties();
}

void DBusDesktopIntegration::setPlayback(Playback playback)
{
    currentPlayback = playback;
    scheduleFlush();
}

void DBusDesktopIntegration::setTrack(const Track &track)
{
    if (track.path.isEmpty() && currentTrack.path.isEmpty())
        return;
    currentTrack = track;
    artUrl.clear();
    if (!track.path.isEmpty()) {
        ++trackNumber;
        art->request(track.path);
    }
    scheduleFlush();
}

void DBusDesktopIntegration::setAbilities(const Abilities &abilities)
{
    currentAbilities = abilities;
    scheduleFlush();
}

void DBusDesktopIntegration::setVolume(int percent)
{
    currentVolume = qBound(0, percent, 100);
    scheduleFlush();
}

void DBusDesktopIntegration::setPositionSource(std::function<qint64()> source)
{
    positionSource = std::move(source);
}

void DBusDesktopIntegration::notifySeeked(qint64 positionMs)
{
    if (playerRegistered)
        emit player->Seeked(qMax<qint64>(0, positionMs) * 1000);
}

qint64 DBusDesktopIntegration::positionMs() const
{
    return positionSource ? qMax<qint64>(0, positionSource()) : 0;
}

QDBusObjectPath DBusDesktopIntegration::trackId() const
{
    if (currentTrack.path.isEmpty())
        return QDBusObjectPath(kNoTrack);
    return QDBusObjectPath(kInstancePath + QStringLiteral("/track/") + QString::number(trackNumber));
}

QVariantMap DBusDesktopIntegration::metadata() const
{
    QVariantMap data;
    data.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId()));
    const QString &path = currentTrack.path;
    if (path.isEmpty())
        return data;
    data.insert(QStringLiteral("xesam:url"), QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
    data.insert(QStringLiteral("xesam:title"),
                currentTrack.title.isEmpty() ? QFileInfo(path).fileName() : currentTrack.title);
    if (currentTrack.lengthMs > 0)
        data.insert(QStringLiteral("mpris:length"), qlonglong(currentTrack.lengthMs) * 1000);
    if (!currentTrack.artist.isEmpty())
        data.insert(QStringLiteral("xesam:artist"), QStringList{currentTrack.artist});
    if (!currentTrack.album.isEmpty())
        data.insert(QStringLiteral("xesam:album"), currentTrack.album);
    if (artUrl.isValid())
        data.insert(QStringLiteral("mpris:artUrl"), artUrl.toString(QUrl::FullyEncoded));
    return data;
}

QVariantMap DBusDesktopIntegration::announcedProperties() const
{
    return {
        {QStringLiteral("PlaybackStatus"), player->playbackStatus()},
        {QStringLiteral("Metadata"), metadata()},
        {QStringLiteral("Volume"), player->volume()},
        {QStringLiteral("CanGoNext"), currentAbilities.canGoNext},
        {QStringLiteral("CanGoPrevious"), currentAbilities.canGoPrevious},
        {QStringLiteral("CanPlay"), currentAbilities.canPlay},
        {QStringLiteral("CanPause"), currentAbilities.canPlay},
        {QStringLiteral("CanSeek"), currentAbilities.canSeek},
    };
}

void DBusDesktopIntegration::scheduleFlush()
{
    flushTimer->start();
}

void DBusDesktopIntegration::flush()
{
    // Only what differs from the last announcement goes out, so a refresh that
    // changed nothing stays off the bus.
    const QVariantMap now = announcedProperties();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (announced.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    }
    announced = now;
    if (playerRegistered && !changed.isEmpty()) {
        QDBusMessage signal = QDBusMessage::createSignal(kMprisPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                         QStringLiteral("PropertiesChanged"));
        signal << kPlayerInterface << changed << QStringList();
        if (!bus.send(signal))
            qCWarning(lcDesktop) << "Cannot announce a change:" << bus.lastError().message();
    }
    inhibitor->setActive(currentPlayback == Playback::Playing && currentTrack.hasPicture);
}

void DBusDesktopIntegration::handleArt(const QString &path, const QUrl &url)
{
    if (path != currentTrack.path || url == artUrl)
        return;
    artUrl = url;
    scheduleFlush();
}
