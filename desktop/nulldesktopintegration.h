#pragma once

#include "desktop/desktopintegration.h"

// The integration where there is no desktop bus (a build without Qt D-Bus, a
// session without a bus): every start is a player of its own, nothing is announced
// and nothing is ever requested.
//
// Thread: the GUI thread, like every DesktopIntegration.
class NullDesktopIntegration : public DesktopIntegration
{
    Q_OBJECT

public:
    using DesktopIntegration::DesktopIntegration;

    bool handOverToRunningInstance(const QString &) override { return false; }
    void setPlayback(Playback) override {}
    void setTrack(const Track &) override {}
    void setAbilities(const Abilities &) override {}
    void setVolume(int) override {}
    void setPositionSource(std::function<qint64()>) override {}
    void notifySeeked(qint64) override {}
};
