#include "support/fakeaudiosink.h"

#include <chrono>
#include <cmath>
#include <cstring>

FakeAudioSink::FakeAudioSink(const QAudioFormat &format, int latency, int step)
    : audioFormat(format), latencyMs(latency), stepMs(step)
{
}

double FakeAudioSink::nowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

qint64 FakeAudioSink::bytesPerMs() const
{
    return qMax(1, audioFormat.bytesPerFrame() * audioFormat.sampleRate() / 1000);
}

QAudioFormat FakeAudioSink::format() const
{
    return audioFormat;
}

// The "server" takes data in steps of stepMs at the real-time rate while running; what
// it takes is heard latencyMs later.
void FakeAudioSink::advance() const
{
    const double now = nowMs();
    if (!running || suspended || starve) {
        lastAdvanceMs = now;
        return;
    }
    takenCarryMs += now - lastAdvanceMs;
    lastAdvanceMs = now;
    const int frameBytes = audioFormat.bytesPerFrame();
    while (takenCarryMs >= stepMs) {
        const qint64 available = written - taken;
        if (available <= 0) {
            takenCarryMs = 0; // starved: the server waits for data
            break;
        }
        takenCarryMs -= stepMs;
        const qint64 chunk = qMin<qint64>(available, qint64(stepMs) * bytesPerMs() / frameBytes * frameBytes);
        // The first sample of the chunk is heard latency after the step that took it.
        const double stepStart = now - takenCarryMs - stepMs;
        const qint64 offset = taken - (written - qint64(pending.size()));
        const auto *bytes = reinterpret_cast<const uchar *>(pending.constData() + offset);
        const int frames = int(chunk / frameBytes);
        for (int i = 0; i < frames; ++i) {
            float value = 0;
            if (audioFormat.sampleFormat() == QAudioFormat::Float)
                std::memcpy(&value, bytes + qint64(i) * frameBytes, sizeof value);
            else if (audioFormat.sampleFormat() == QAudioFormat::Int16)
                value = float(*reinterpret_cast<const qint16 *>(bytes + qint64(i) * frameBytes)) / 32768.0f;
            record.samples.push_back(value * float(currentVolume));
            record.heardAtMs.push_back(stepStart + latencyMs + double(i) * 1000.0 / audioFormat.sampleRate());
        }
        taken += chunk;
    }
}

bool FakeAudioSink::start(qint64 bytes)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (failNow)
        return false;
    running = true;
    suspended = false;
    bufferBytes = bytes;
    written = 0;
    taken = 0;
    takenCarryMs = 0;
    lastAdvanceMs = nowMs();
    pending.clear();
    return true;
}

void FakeAudioSink::stop()
{
    std::lock_guard<std::mutex> lock(mutex);
    advance();
    running = false;
    pending.clear();
    written = taken = 0;
}

void FakeAudioSink::suspend()
{
    std::lock_guard<std::mutex> lock(mutex);
    advance();
    suspended = true;
}

void FakeAudioSink::resume()
{
    std::lock_guard<std::mutex> lock(mutex);
    advance();
    suspended = false;
    lastAdvanceMs = nowMs();
}

qint64 FakeAudioSink::bytesFree() const
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!running || suspended || failNow)
        return 0;
    advance();
    // Space opens in whole steps, as a server's requests come.
    const qint64 step = qint64(stepMs) * bytesPerMs();
    const qint64 room = bufferBytes - (written - taken);
    return room >= step ? room / step * step : 0;
}

qint64 FakeAudioSink::write(const char *data, qint64 bytes)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!running || failNow)
        return 0;
    advance();
    // Forget what was taken, keep what is still queued.
    const qint64 queued = written - taken;
    pending = pending.right(int(queued));
    pending.append(data, int(bytes));
    written += bytes;
    return bytes;
}

qint64 FakeAudioSink::processedUSecs() const
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!running)
        return 0;
    advance();
    const double takenMs = double(taken) / double(bytesPerMs());
    return qint64(qMax(0.0, takenMs - latencyMs) * 1000.0);
}

bool FakeAudioSink::hasFailed() const
{
    return failNow;
}

void FakeAudioSink::setVolume(double linear)
{
    std::lock_guard<std::mutex> lock(mutex);
    currentVolume = linear;
}

double FakeAudioSink::volume() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return currentVolume;
}

FakeAudioSink::Heard FakeAudioSink::heard() const
{
    std::lock_guard<std::mutex> lock(mutex);
    advance();
    return record;
}
