#pragma once

#include "playback/audiobackend.h"
#include "playback/audiosink.h"

#include <QByteArray>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

// An audio output that plays in real time without a sound card: it takes what is
// written at the rate of its format, as a sound server would, with a latency before a
// sample is heard and the coarse, stepwise progress a PulseAudio sink reports. It keeps
// everything written and can tell when each sample was heard, so tests can check what
// was heard, and when, against what was seen.
//
// Thread: made and used on the audio worker's thread; the switches and the recording
// may be read and set from any thread (they are locked or atomic).
class FakeAudioSink : public AudioSink
{
public:
    explicit FakeAudioSink(const QAudioFormat &format, int latencyMs = 40, int stepMs = 20);

    // Switches for the tests.
    std::atomic<bool> failNow{false};   // the output goes away: it reports failure from now on
    std::atomic<bool> starve{false};    // the "server" stops taking data (a stall)

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

    // Everything heard, in order, with the monotonic time (ms, steady clock) at which
    // each sample was heard. Samples written but dropped by stop() are not included.
    struct Heard
    {
        std::vector<float> samples;     // first channel, as float
        std::vector<double> heardAtMs;  // per sample
    };
    Heard heard() const;
    double volume() const;

    static double nowMs();

private:
    void advance() const;
    qint64 bytesPerMs() const;

    const QAudioFormat audioFormat;
    const int latencyMs;
    const int stepMs;
    mutable std::mutex mutex;
    bool running = false;
    bool suspended = false;
    qint64 bufferBytes = 0;
    qint64 written = 0;             // since start()
    mutable qint64 taken = 0;       // taken by the "server" since start()
    mutable double lastAdvanceMs = 0;
    mutable double takenCarryMs = 0;
    QByteArray pending;             // written, not yet taken
    mutable Heard record;
    double currentVolume = 1.0;
};

// Hands out one FakeAudioSink, or none (a machine without sound).
class FakeAudioBackend : public AudioBackend
{
public:
    explicit FakeAudioBackend(std::shared_ptr<FakeAudioSink> sink) : sink(std::move(sink)) {}
    AudioSink *defaultOutput() override { return sink && !sink->hasFailed() ? sink.get() : nullptr; }
    QString describe() const override { return sink ? QStringLiteral("fake output") : QStringLiteral("none"); }

private:
    std::shared_ptr<FakeAudioSink> sink;
};
