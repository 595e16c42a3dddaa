#include "desktop/dbusmprisrootadaptor.h"

#include "desktop/dbusdesktopintegration.h"

DBusMprisRootAdaptor::DBusMprisRootAdaptor(DBusDesktopIntegration *owner)
    : QDBusAbstractAdaptor(owner), owner(owner)
{
}

QStringList DBusMprisRootAdaptor::mimeTypes()
{
    // Kept in step with MimeType= in packaging/zeltora.desktop (a test compares them).
    // Where shared-mime-info releases disagree on a canonical name, both are listed.
    static const QStringList types = {
        QStringLiteral("video/mp4"), QStringLiteral("video/x-m4v"),
        QStringLiteral("video/x-matroska"), QStringLiteral("video/matroska"),
        QStringLiteral("video/webm"), QStringLiteral("video/quicktime"),
        QStringLiteral("video/x-msvideo"), QStringLiteral("video/avi"), QStringLiteral("video/vnd.avi"),
        QStringLiteral("video/mpeg"), QStringLiteral("video/mp2t"), QStringLiteral("video/ogg"),
        QStringLiteral("video/x-ogm+ogg"), QStringLiteral("video/x-flv"), QStringLiteral("video/3gpp"),
        QStringLiteral("video/3gpp2"), QStringLiteral("video/x-ms-wmv"), QStringLiteral("video/x-ms-asf"),
        QStringLiteral("video/dv"), QStringLiteral("video/x-theora+ogg"),
        QStringLiteral("audio/mpeg"), QStringLiteral("audio/mp3"), QStringLiteral("audio/flac"),
        QStringLiteral("audio/x-flac"), QStringLiteral("audio/x-wav"), QStringLiteral("audio/wav"),
        QStringLiteral("audio/vnd.wave"), QStringLiteral("audio/ogg"), QStringLiteral("audio/x-vorbis+ogg"),
        QStringLiteral("audio/x-opus+ogg"), QStringLiteral("audio/opus"), QStringLiteral("audio/aac"),
        QStringLiteral("audio/mp4"), QStringLiteral("audio/x-m4a"), QStringLiteral("audio/x-matroska"),
        QStringLiteral("audio/webm"), QStringLiteral("audio/x-ms-wma"), QStringLiteral("audio/x-aiff"),
        QStringLiteral("audio/ac3"), QStringLiteral("audio/x-ape"), QStringLiteral("audio/x-wavpack"),
    };
    return types;
}

QString DBusMprisRootAdaptor::identity() const
{
    return QStringLiteral("Zeltora");
}

QString DBusMprisRootAdaptor::desktopEntry() const
{
    return QStringLiteral("zeltora"); // packaging/zeltora.desktop, without its suffix
}

QStringList DBusMprisRootAdaptor::supportedUriSchemes() const
{
    return {QStringLiteral("file")};
}

void DBusMprisRootAdaptor::Raise()
{
    owner->requestLater(&DesktopIntegration::raiseRequested);
}
