#pragma once

#include "playback/audiosink.h"

#include <QAudioDevice>
#include <QAudioSink>

class QIODevice;

// AudioSink on Qt's QAudioSink in push mode.
//
// Qt 6.4's PulseAudio sink needs care: its buffer must be sized before every start()
// (unsized it buffers about two seconds, and it shrinks on each restart); some of its
// write() error paths leave PulseAudio's lock held, so after an I/O or fatal error it
// is never called again; and the push device it hands out is deleted by stop(),
// reset() or a server failure, so the pointer is dropped whenever the sink stops.
//
// Thread: the audio worker's thread only.
class QtAudioSink : public AudioSink
{
public:
    QtAudioSink(const QAudioDevice &device, const QAudioFormat &format);
    ~QtAudioSink() override;

    QAudioFormat format() const override;
    bool start(qint64 bufferBytes) override;
    void stop() override;
    void suspend() override;
    void resume() override;
    qint64 bytesFree() const override;
    qint64 write(const char *data, qint64 bytes) override;
    qint64 processedUSecs() const override;
    bool hasFailed() const override;
    void setVolume(double linear) override;

private:
    bool usable() const;

    QAudioSink sink;
    mutable QIODevice *device = nullptr;
    mutable bool broken = false;
};
