#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// Media time that follows wall time while running, stands still while paused and
// jumps on seek. The frame pacing asks only this object for "now", so an audio
// clock can later take its place without touching the pacing logic.
class PlaybackClock
{
public:
    PlaybackClock();
    virtual ~PlaybackClock();

    // Media time in milliseconds.
    virtual qint64 position() const;
    bool isRunning() const { return running; }

    void start();                 // run on from the current position
    void pause();                 // hold the current position
    void setPosition(qint64 ms);  // jump; keeps running or paused as it was

    // Monotonic wall time in milliseconds, for measuring real intervals.
    qint64 wallMs() const;

protected:
    // Wall time source; tests replace it to drive the clock by hand.
    virtual qint64 now() const;

private:
    QElapsedTimer wall;
    qint64 anchorMedia = 0; // media time at anchorWall
    qint64 anchorWall = 0;  // wall time when the clock last started or jumped
    bool running = false;
};
