#include "desktop/desktopintegration.h"

#include "desktop/nulldesktopintegration.h"

#ifdef ZELTORA_HAVE_DBUS
#include "desktop/dbusdesktopintegration.h"
#endif

DesktopIntegration *DesktopIntegration::create(QObject *parent)
{
#ifdef ZELTORA_HAVE_DBUS
    if (DesktopIntegration *integration = DBusDesktopIntegration::createIfBusReachable(parent))
        return integration;
#endif
    return new NullDesktopIntegration(parent);
}
