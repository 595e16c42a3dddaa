#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

// A place for one worker thread to sleep until something it waits for may have
// happened: a queue it reads got data, a queue it fills got room, a command arrived.
// Whoever changes such a thing calls notify(); the worker re-checks its condition.
// Any thread may notify; one thread waits.
class Wakeup
{
public:
    void notify();

    // Sleeps until `ready` is true, notify() was called, or the timeout passed; `ready`
    // is checked under the wakeup's own lock, so no notification between the check and
    // the sleep is lost.
    void wait(const std::function<bool()> &ready, std::chrono::milliseconds timeout);

private:
    std::mutex mutex;
    std::condition_variable condition;
    unsigned long long generation = 0;
};
