#pragma once

#include <QAudioFormat>
#include <QtGlobal>

// One audio output written in push mode, as the audio worker sees it. The real one
// wraps QAudioSink; tests put a sink of their own in its place.
//
// Thread: created, used and destroyed on the audio worker's thread only.
class AudioSink
{
public:
    virtual ~AudioSink() = default;

    virtual QAudioFormat format() const = 0;
    // Starts empty with a buffer of about `bufferBytes`; whatever was queued before is
    // gone. False when the output cannot play.
    virtual bool start(qint64 bufferBytes) = 0;
    // Silent at once; what was queued is discarded.
    virtual void stop() = 0;
    // Holds what is queued, silent at once, and plays on from there on resume().
    virtual void suspend() = 0;
    virtual void resume() = 0;
    virtual qint64 bytesFree() const = 0;
    virtual qint64 write(const char *data, qint64 bytes) = 0;
    // Microseconds of audio played since start(), as well as the output can tell.
    virtual qint64 processedUSecs() const = 0;
    // The output is gone (device unplugged, sound server ended): it is not used again.
    virtual bool hasFailed() const = 0;
    virtual void setVolume(double linear) = 0;
};
