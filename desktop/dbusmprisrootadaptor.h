#pragma once

#include <QDBusAbstractAdaptor>
#include <QStringList>

class DBusDesktopIntegration;

// org.mpris.MediaPlayer2: who the player is and what it can be asked in general.
//
// Thread: the GUI thread, where Qt D-Bus delivers its calls.
class DBusMprisRootAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)

public:
    explicit DBusMprisRootAdaptor(DBusDesktopIntegration *owner);

    // The media types the player announces; the desktop entry claims the same.
    static QStringList mimeTypes();

    bool canQuit() const { return false; }
    bool canRaise() const { return true; }
    bool hasTrackList() const { return false; }
    QString identity() const;
    QString desktopEntry() const;
    QStringList supportedUriSchemes() const;
    QStringList supportedMimeTypes() const { return mimeTypes(); }

public slots:
    void Raise();
    void Quit() {} // CanQuit is false: the window is closed by its user only

private:
    DBusDesktopIntegration *owner;
};
