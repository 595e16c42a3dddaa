#pragma once

#include "decoder/ffmpegsupport.h"
#include "playback/streamparams.h"

#include <deque>
#include <memory>
#include <mutex>

class SubtitleRenderer;
class Wakeup;

// The packets of one stream on their way from the demuxer thread to that stream's
// decoder, with the markers that tell the decoder what happened in between: a new
// stream (a file was opened), a flush (a seek), the end of the input.
//
// Threads: put() by the demuxer thread, take() by the decoder thread, clear() and
// fill() by either; everything is guarded by the queue's own lock. The queue never
// blocks: the demuxer reads on only while fill() is below its limits, and each side
// is woken through its Wakeup when the other has changed the queue.
class PacketQueue
{
public:
    struct Entry
    {
        enum class Kind { Packet, Start, Flush, End };
        Kind kind = Kind::Packet;
        // The controller's serial number when the demuxer made this entry; whatever
        // carries an older serial than the controller's latest is from before a seek.
        int serial = 0;
        ffmpeg::PacketPtr packet;                   // Packet
        std::shared_ptr<const StreamParams> params; // Start
        // Video Start: what draws the file's subtitles onto its frames; null when
        // there is nothing to draw them on. `subtitleText`: a text track may be
        // shown, so the fonts are worth loading before the first frame.
        std::shared_ptr<SubtitleRenderer> subtitles;
        bool subtitleText = false;
        // Start and Flush: media time (ms) before which decoded output is thrown away
        // (an exact seek); -1 when everything counts.
        qint64 targetMs = -1;
        qint64 durationMs = 0;                      // Packet: for the read-ahead limit
    };

    struct Fill
    {
        int packets = 0;
        qint64 bytes = 0;
        qint64 durationMs = 0;
    };

    // `consumer` is woken on put, `producer` on take; either may be null.
    PacketQueue(Wakeup *consumer, Wakeup *producer);

    void put(Entry entry);
    bool take(Entry &entry);
    // Drops everything, except, when asked, the stream's Start entry: a seek right
    // after an open must not leave the decoder without its stream.
    void clear(bool keepStart = false);
    Fill fill() const;
    bool isEmpty() const;

private:
    Wakeup *consumer;
    Wakeup *producer;
    mutable std::mutex mutex;
    std::deque<Entry> entries;
    Fill current;
};
