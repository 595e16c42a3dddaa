#include "mainwindow/playbackclock.h"

PlaybackClock::PlaybackClock()
{
    wall.start();
}

PlaybackClock::~PlaybackClock() = default;

qint64 PlaybackClock::now() const
{
    return wall.elapsed();
}

qint64 PlaybackClock::wallMs() const
{
    return now();
}

qint64 PlaybackClock::position() const
{
    return running ? anchorMedia + (now() - anchorWall) : anchorMedia;
}

void PlaybackClock::start()
{
    if (running)
        return;
    anchorWall = now();
    running = true;
}

void PlaybackClock::pause()
{
    if (!running)
        return;
    anchorMedia = position();
    running = false;
}

void PlaybackClock::setPosition(qint64 ms)
{
    anchorMedia = ms;
    anchorWall = now();
}
