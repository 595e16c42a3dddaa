#include "desktop/dbusinstanceadaptor.h"

#include "desktop/dbusdesktopintegration.h"

#include <QFileInfo>

DBusInstanceAdaptor::DBusInstanceAdaptor(QObject *carrier, DBusDesktopIntegration *owner)
    : QDBusAbstractAdaptor(carrier), owner(owner)
{
}

void DBusInstanceAdaptor::Open(const QString &path)
{
    // The caller made the path absolute in its own working folder; a relative one
    // would be read in ours.
    if (path.isEmpty() || !QFileInfo(path).isAbsolute())
        return;
    owner->requestLater(&DesktopIntegration::openRequested, path);
    owner->requestLater(&DesktopIntegration::raiseRequested);
}

void DBusInstanceAdaptor::Activate()
{
    owner->requestLater(&DesktopIntegration::raiseRequested);
}
