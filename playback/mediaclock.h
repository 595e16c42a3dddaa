#pragma once

#include <QtGlobal>

#include <functional>
#include <mutex>

// The media time being heard and seen now, in milliseconds: the one clock the picture
// is paced against.
//
// While sound plays it follows the audio output (the audio worker reports the time of
// the sample being heard); otherwise, and from the moment the sound ends or its output
// fails, it runs on the monotonic wall clock from wherever it stood. Within one play it
// never runs backwards: a report behind the clock slows it down (down to standing still
// while the output starves), a small lead speeds it up a little, and only a large lead
// makes it jump forward. Seeking and loading reset it.
//
// Threads: any. The GUI thread resets, pauses and reads it; the audio worker reports
// to it. A mutex guards the state.
class MediaClock
{
public:
    enum class Master { Wall, Audio };

    // `nowUs` is the monotonic time source in microseconds; tests drive their own.
    explicit MediaClock(std::function<qint64()> nowUs = {});

    double position() const;

    // Stands at `ms`, held there until released (wall) or until the audio reports.
    // `serial` names this play: reports about an earlier one are ignored.
    void reset(double ms, Master master, int serial = 0);
    void setPaused(bool paused);
    bool isPaused() const;
    // Wall master: start moving from where it stands (no effect while paused).
    void release();
    bool isHeld() const;
    Master master() const;
    // The audio of play `serial` has ended or failed: go on on wall time from the
    // current value (a clock still held waits for release()).
    void useWall(int serial = 0);

    // The audio worker's measurement of the media time being heard now, in play `serial`.
    void syncToAudio(double heardMs, int serial = 0);

    // Beyond this lead of the audio over the clock, the clock jumps instead of
    // catching up; within it, the error is worked off within about `catchUpMs`.
    static constexpr double snapThresholdMs = 150.0;
    static constexpr double catchUpMs = 300.0;
    static constexpr double maxRate = 1.1;
    // Reports that stand still this long mean the output is starving.
    static constexpr qint64 stallUs = 60000;

private:
    double valueAt(qint64 nowUs) const;
    void anchor(double value, qint64 nowUs, double newRate);

    std::function<qint64()> nowUs;
    mutable std::mutex mutex;
    Master current = Master::Wall;
    int serial = 0;
    double anchorMs = 0.0;
    qint64 anchorUs = 0;
    double rate = 1.0;
    bool held = true;
    bool paused = true;
    double lastHeardMs = -1.0;
    qint64 lastHeardChangeUs = 0;
};
