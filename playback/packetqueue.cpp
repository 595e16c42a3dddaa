#include "playback/packetqueue.h"

#include "playback/wakeup.h"

PacketQueue::PacketQueue(Wakeup *consumer, Wakeup *producer)
    : consumer(consumer), producer(producer)
{
}

void PacketQueue::put(Entry entry)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (entry.kind == Entry::Kind::Packet && entry.packet) {
            ++current.packets;
            current.bytes += entry.packet->size;
            current.durationMs += entry.durationMs;
        }
        entries.push_back(std::move(entry));
    }
    if (consumer)
        consumer->notify();
}

bool PacketQueue::take(Entry &entry)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (entries.empty())
            return false;
        entry = std::move(entries.front());
        entries.pop_front();
        if (entry.kind == Entry::Kind::Packet && entry.packet) {
            --current.packets;
            current.bytes -= entry.packet->size;
            current.durationMs -= entry.durationMs;
        }
    }
    if (producer)
        producer->notify();
    return true;
}

void PacketQueue::clear(bool keepStart)
{
    std::deque<Entry> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex);
        dropped.swap(entries);
        current = Fill();
        if (keepStart) {
            for (auto it = dropped.rbegin(); it != dropped.rend(); ++it) {
                if (it->kind == Entry::Kind::Start) {
                    entries.push_back(std::move(*it));
                    break;
                }
            }
        }
    }
    // The packets are freed outside the lock.
    dropped.clear();
    if (producer)
        producer->notify();
}

PacketQueue::Fill PacketQueue::fill() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return current;
}

bool PacketQueue::isEmpty() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return entries.empty();
}
