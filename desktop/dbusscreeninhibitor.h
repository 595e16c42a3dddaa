#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>

class QDBusPendingCallWatcher;

// Keeps the screen from blanking and the machine from suspending while it is
// active: through org.freedesktop.ScreenSaver where the desktop runs one, else
// through the desktop portal's Inhibit. Every call is asynchronous; a change of
// mind while a request is on its way is acted on when its answer comes.
//
// Thread: the GUI thread; Qt D-Bus delivers the answers there.
class DBusScreenInhibitor : public QObject
{
    Q_OBJECT

public:
    DBusScreenInhibitor(const QDBusConnection &bus, QObject *parent = nullptr);
    // Releases what is held, and what is still being asked for once it is granted.
    ~DBusScreenInhibitor() override;

    void setActive(bool active);

private:
    enum class Backend { ScreenSaver, Portal, None };

    void update();
    void request();
    void handleAnswer(QDBusPendingCallWatcher *watcher, Backend asked);

    QDBusConnection bus;
    Backend backend = Backend::ScreenSaver;
    bool wanted = false;
    QDBusPendingCallWatcher *pending = nullptr;
    bool held = false;
    Backend heldBy = Backend::None;
    uint cookie = 0;          // from the screen saver
    QDBusObjectPath handle;   // from the portal
    bool reportedNone = false;
};
