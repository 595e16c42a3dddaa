#pragma once

#include "playback/videoframe.h"

#include <deque>
#include <mutex>

class Wakeup;

// The few pictures the video worker has converted ahead of the moment they are shown.
//
// Threads: the video worker puts (only when hasRoom()), the GUI thread peeks, takes
// and clears; the queue's own lock guards everything. Nothing blocks: the worker
// sleeps on its Wakeup, which take() and clear() notify.
class FrameQueue
{
public:
    FrameQueue(int capacity, Wakeup *producer);

    bool hasRoom() const;
    void put(VideoFrame frame);
    // The oldest frame, or false when the queue is empty.
    bool peek(VideoFrame &frame) const;
    // The frame after the oldest one, or false.
    bool peekSecond(VideoFrame &frame) const;
    void pop();
    void clear();
    int size() const;

private:
    const int capacity;
    Wakeup *producer;
    mutable std::mutex mutex;
    std::deque<VideoFrame> frames;
};
