#include "desktop/dbusscreeninhibitor.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLoggingCategory>
#include <QVariantMap>

Q_LOGGING_CATEGORY(lcInhibit, "zeltora.desktop.inhibit", QtInfoMsg)

namespace {

const QString kScreenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kScreenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kPortalInhibit = QStringLiteral("org.freedesktop.portal.Inhibit");
const QString kPortalRequest = QStringLiteral("org.freedesktop.portal.Request");

// The portal's flags: automatic suspend (4) and the session going idle (8).
constexpr uint kPortalSuspendAndIdle = 4 | 8;
constexpr int kCallTimeoutMs = 5000;

// Sent without waiting for an answer; the bus keeps the order of one connection's
// messages, so a later request arrives after it.
void sendRelease(QDBusConnection &bus, bool portal, uint cookie, const QDBusObjectPath &handle)
{
    QDBusMessage message = portal
        ? QDBusMessage::createMethodCall(kPortalService, handle.path(), kPortalRequest, QStringLiteral("Close"))
        : QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath, kScreenSaverService,
                                         QStringLiteral("UnInhibit"));
    if (!portal)
        message << cookie;
    if (!bus.send(message))
        qCWarning(lcInhibit) << "Could not release the screen saver:" << bus.lastError().message();
}

} // namespace

DBusScreenInhibitor::DBusScreenInhibitor(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), bus(bus)
{
}

DBusScreenInhibitor::~DBusScreenInhibitor()
{
    if (held)
        sendRelease(bus, heldBy == Backend::Portal, cookie, handle);
    if (pending) {
        // Granted after we are gone: released at once by the watcher, which then goes
        // too. Should the program end first, the service drops what a vanished
        // client held.
        pending->setParent(QCoreApplication::instance());
        disconnect(pending, nullptr, this, nullptr);
        QDBusConnection connection = bus;
        const bool portal = backend == Backend::Portal;
        connect(pending, &QDBusPendingCallWatcher::finished, pending,
                [connection, portal](QDBusPendingCallWatcher *watcher) mutable {
                    if (!watcher->isError()) {
                        const QDBusMessage answer = watcher->reply();
                        const QVariant first = answer.arguments().value(0);
                        sendRelease(connection, portal, first.toUInt(), first.value<QDBusObjectPath>());
                    }
                    watcher->deleteLater();
                });
    }
}

void DBusScreenInhibitor::setActive(bool active)
{
    if (active && !wanted && backend == Backend::None)
        backend = Backend::ScreenSaver; // try again: a service may have come since
    wanted = active;
    update();
}

void DBusScreenInhibitor::update()
{
    if (pending)
        return; // decided when the answer comes
    if (wanted && !held && backend != Backend::None) {
        request();
    } else if (!wanted && held) {
        sendRelease(bus, heldBy == Backend::Portal, cookie, handle);
        held = false;
    }
}

void DBusScreenInhibitor::request()
{
    const QString reason = tr("正在播放视频");
    QDBusMessage message;
    if (backend == Backend::ScreenSaver) {
        message = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath, kScreenSaverService,
                                                 QStringLiteral("Inhibit"));
        message << QCoreApplication::applicationName() << reason;
    } else {
        message = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kPortalInhibit,
                                                 QStringLiteral("Inhibit"));
        message << QString() << kPortalSuspendAndIdle
                << QVariantMap{{QStringLiteral("reason"), reason}};
    }
    const Backend asked = backend;
    pending = new QDBusPendingCallWatcher(bus.asyncCall(message, kCallTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, asked](QDBusPendingCallWatcher *watcher) { handleAnswer(watcher, asked); });
}

void DBusScreenInhibitor::handleAnswer(QDBusPendingCallWatcher *watcher, Backend asked)
{
    pending = nullptr;
    watcher->deleteLater();
    if (watcher->isError()) {
        const QDBusError error = watcher->error();
        if (asked == Backend::ScreenSaver) {
            qCDebug(lcInhibit) << "No screen saver service:" << error.message();
            backend = Backend::Portal;
        } else {
            if (!reportedNone)
                qCInfo(lcInhibit) << "The screen may blank during videos; neither the screen saver"
                                     " nor the desktop portal took the request:" << error.message();
            reportedNone = true;
            backend = Backend::None;
        }
    } else {
        const QVariant first = watcher->reply().arguments().value(0);
        held = true;
        heldBy = asked;
        if (asked == Backend::ScreenSaver)
            cookie = first.toUInt();
        else
            handle = first.value<QDBusObjectPath>();
    }
    update();
}
