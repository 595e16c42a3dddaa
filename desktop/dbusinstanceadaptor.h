#pragma once

#include <QDBusAbstractAdaptor>

class DBusDesktopIntegration;

// com.wandelforge.Zeltora: how a second start of the program reaches the first,
// handing over the file it was given or asking the window to come forward.
//
// Thread: the GUI thread, where Qt D-Bus delivers its calls.
class DBusInstanceAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.wandelforge.Zeltora")

public:
    DBusInstanceAdaptor(QObject *carrier, DBusDesktopIntegration *owner);

public slots:
    // Plays the local file at the absolute `path` now, and brings the window forward.
    void Open(const QString &path);
    void Activate();

private:
    DBusDesktopIntegration *owner;
};
