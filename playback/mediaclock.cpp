#include "playback/mediaclock.h"

#include <QElapsedTimer>

#include <algorithm>
#include <memory>

MediaClock::MediaClock(std::function<qint64()> now)
    : nowUs(std::move(now))
{
    if (!nowUs) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        nowUs = [timer] { return timer->nsecsElapsed() / 1000; };
    }
    anchorUs = nowUs();
}

double MediaClock::valueAt(qint64 now) const
{
    if (held || paused)
        return anchorMs;
    return anchorMs + double(now - anchorUs) / 1000.0 * rate;
}

void MediaClock::anchor(double value, qint64 now, double newRate)
{
    anchorMs = value;
    anchorUs = now;
    rate = newRate;
}

double MediaClock::position() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return valueAt(nowUs());
}

void MediaClock::reset(double ms, Master master, int newSerial)
{
    std::lock_guard<std::mutex> lock(mutex);
    serial = newSerial;
    current = master;
    held = true;
    anchor(ms, nowUs(), 1.0);
    lastHeardMs = -1.0;
}

void MediaClock::setPaused(bool pause)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (paused == pause)
        return;
    const qint64 now = nowUs();
    anchor(valueAt(now), now, rate);
    paused = pause;
    // A report from before the pause says nothing about how fast sound moves after it.
    lastHeardMs = -1.0;
    // The output takes a moment to play again after a pause: time waits for it
    // instead of running ahead of the sound.
    if (!pause && current == Master::Audio)
        held = true;
}

bool MediaClock::isPaused() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return paused;
}

void MediaClock::release()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!held)
        return;
    const qint64 now = nowUs();
    anchor(valueAt(now), now, 1.0);
    held = false;
}

bool MediaClock::isHeld() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return held;
}

MediaClock::Master MediaClock::master() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return current;
}

void MediaClock::useWall(int ofSerial)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (current == Master::Wall || ofSerial != serial)
        return;
    const qint64 now = nowUs();
    anchor(valueAt(now), now, 1.0);
    current = Master::Wall;
}

void MediaClock::syncToAudio(double heardMs, int ofSerial)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (current != Master::Audio || paused || ofSerial != serial)
        return;
    const qint64 now = nowUs();
    if (heardMs != lastHeardMs) {
        lastHeardMs = heardMs;
        lastHeardChangeUs = now;
    }
    if (held) {
        // Picks up where the sound is, but never behind where it stood.
        anchor(std::max(heardMs, anchorMs), now, 1.0);
        held = false;
        return;
    }
    const double value = valueAt(now);
    const double error = heardMs - value;
    if (error > snapThresholdMs) {
        anchor(heardMs, now, 1.0);
        return;
    }
    // The output has stopped taking samples: nothing is heard, so nothing may be seen
    // to move either.
    const bool starving = now - lastHeardChangeUs >= stallUs;
    const double newRate = starving ? 0.0 : std::clamp(1.0 + error / catchUpMs, 0.0, maxRate);
    anchor(value, now, newRate);
}
