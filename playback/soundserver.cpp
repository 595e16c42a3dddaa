#include "playback/soundserver.h"

#include <QByteArray>
#include <QDir>
#include <QStringList>
#include <QtGlobal>

#if defined(Q_OS_LINUX)
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#endif

namespace soundserver {

#if defined(Q_OS_LINUX)
namespace {

bool canConnect(const QByteArray &socketPath)
{
    sockaddr_un address{};
    if (socketPath.isEmpty() || size_t(socketPath.size()) >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

bool reachable()
{
    // PulseAudio (and PipeWire's Pulse server) listen where PULSE_SERVER says, or in
    // the user's runtime folder, or system-wide.
    const QByteArray server = qgetenv("PULSE_SERVER");
    if (!server.isEmpty()) {
        const QList<QByteArray> entries = server.split(' ');
        for (const QByteArray &entry : entries) {
            if (entry.startsWith("unix:")) {
                if (canConnect(entry.mid(5)))
                    return true;
            } else if (entry.startsWith('/')) {
                if (canConnect(entry))
                    return true;
            } else if (!entry.isEmpty()) {
                return true; // a network server: let the backend try it
            }
        }
        return false;
    }
    QList<QByteArray> candidates;
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        candidates << runtime + "/pulse/native";
    candidates << QByteArray("/run/user/") + QByteArray::number(uint(::getuid())) + "/pulse/native"
               << QByteArray("/var/run/pulse/native") << QByteArray("/run/pulse/native");
    for (const QByteArray &candidate : candidates) {
        if (canConnect(candidate))
            return true;
    }
    return false;
}

#else

bool reachable()
{
    // Elsewhere the system's own audio service is always there.
    return true;
}

#endif

} // namespace soundserver
