#include "playback/qtaudiosink.h"

#include <QDebug>
#include <QIODevice>

QtAudioSink::QtAudioSink(const QAudioDevice &outputDevice, const QAudioFormat &format)
    : sink(outputDevice, format)
{
}

QtAudioSink::~QtAudioSink() = default;

QAudioFormat QtAudioSink::format() const
{
    return sink.format();
}

bool QtAudioSink::usable() const
{
    if (broken)
        return false;
    if (device && sink.state() == QAudio::StoppedState) {
        // Stopped behind our back (the server went away): the push device is gone.
        device = nullptr;
        if (sink.error() != QAudio::NoError)
            broken = true;
    }
    return !broken;
}

bool QtAudioSink::start(qint64 bufferBytes)
{
    if (!usable())
        return false;
    sink.setBufferSize(bufferBytes);
    device = sink.start();
    if (!device || sink.state() == QAudio::StoppedState) {
        device = nullptr;
        broken = true;
        return false;
    }
    return true;
}

void QtAudioSink::stop()
{
    if (!usable() || !device)
        return;
    device = nullptr;
    sink.reset();
}

void QtAudioSink::suspend()
{
    if (usable() && device)
        sink.suspend();
}

void QtAudioSink::resume()
{
    if (usable() && device)
        sink.resume();
}

qint64 QtAudioSink::bytesFree() const
{
    return usable() && device ? sink.bytesFree() : 0;
}

qint64 QtAudioSink::write(const char *data, qint64 bytes)
{
    if (!usable() || !device)
        return 0;
    const qint64 written = device->write(data, bytes);
    const QAudio::Error error = sink.error();
    if (error == QAudio::IOError || error == QAudio::FatalError || error == QAudio::OpenError) {
        broken = true;
        device = nullptr;
        return 0;
    }
    return qMax<qint64>(0, written);
}

qint64 QtAudioSink::processedUSecs() const
{
    return usable() && device ? sink.processedUSecs() : 0;
}

bool QtAudioSink::hasFailed() const
{
    return !usable();
}

void QtAudioSink::setVolume(double linear)
{
    // Applied by the sink to what it writes from now on, not to what it holds.
    if (!broken)
        sink.setVolume(linear);
}
