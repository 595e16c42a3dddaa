#include "playback/wakeup.h"

void Wakeup::notify()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++generation;
    }
    condition.notify_all();
}

void Wakeup::wait(const std::function<bool()> &ready, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex);
    const unsigned long long seen = generation;
    if (ready && ready())
        return;
    condition.wait_for(lock, timeout, [&] { return generation != seen; });
}
