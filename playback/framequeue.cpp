#include "playback/framequeue.h"

#include "playback/wakeup.h"

FrameQueue::FrameQueue(int capacity, Wakeup *producer)
    : capacity(capacity), producer(producer)
{
}

bool FrameQueue::hasRoom() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return int(frames.size()) < capacity;
}

void FrameQueue::put(VideoFrame frame)
{
    std::lock_guard<std::mutex> lock(mutex);
    frames.push_back(std::move(frame));
}

bool FrameQueue::peek(VideoFrame &frame) const
{
    std::lock_guard<std::mutex> lock(mutex);
    if (frames.empty())
        return false;
    frame = frames.front();
    return true;
}

bool FrameQueue::peekSecond(VideoFrame &frame) const
{
    std::lock_guard<std::mutex> lock(mutex);
    if (frames.size() < 2)
        return false;
    frame = frames[1];
    return true;
}

void FrameQueue::pop()
{
    VideoFrame dropped;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (frames.empty())
            return;
        dropped = std::move(frames.front());
        frames.pop_front();
    }
    if (producer)
        producer->notify();
}

void FrameQueue::clear()
{
    std::deque<VideoFrame> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex);
        dropped.swap(frames);
    }
    dropped.clear();
    if (producer)
        producer->notify();
}

int FrameQueue::size() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return int(frames.size());
}
