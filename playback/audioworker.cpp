#include "playback/audioworker.h"

#include "playback/audiobackend.h"
#include "playback/audiosink.h"
#include "playback/mediaclock.h"
#include "playback/qtaudiobackend.h"

#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTimer>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include <cmath>
#include <cstring>

Q_LOGGING_CATEGORY(lcAudio, "zeltora.playback.audio", QtInfoMsg)

namespace {

constexpr AVRational Milliseconds{1, 1000};
constexpr int activeTickMs = 5;
constexpr int idleTickMs = 40;
// A gap or overlap in the sound's timestamps smaller than this is the jitter of
// container timestamps, not missing sound.
constexpr double gapToleranceMs = 30.0;
// After the input ended, sound the output has held this long beyond its buffer
// without reporting it played is taken as heard.
constexpr qint64 endGraceMs = 500;

qint64 monotonicMs()
{
    static QElapsedTimer timer = [] { QElapsedTimer t; t.start(); return t; }();
    return timer.elapsed();
}

AVSampleFormat sampleFormatFor(QAudioFormat::SampleFormat format)
{
    switch (format) {
    case QAudioFormat::Float: return AV_SAMPLE_FMT_FLT;
    case QAudioFormat::Int16: return AV_SAMPLE_FMT_S16;
    case QAudioFormat::Int32: return AV_SAMPLE_FMT_S32;
    case QAudioFormat::UInt8: return AV_SAMPLE_FMT_U8;
    default: return AV_SAMPLE_FMT_NONE;
    }
}

AVChannelLayout layoutFor(int channels)
{
    AVChannelLayout layout{};
    switch (channels) {
    case 1: layout = AV_CHANNEL_LAYOUT_MONO; break;
    case 2: layout = AV_CHANNEL_LAYOUT_STEREO; break;
    case 6: layout = AV_CHANNEL_LAYOUT_5POINT1; break;
    case 8: layout = AV_CHANNEL_LAYOUT_7POINT1; break;
    default: av_channel_layout_default(&layout, channels); break;
    }
    return layout;
}

} // namespace

AudioWorker::AudioWorker(PacketQueue *packets, MediaClock *clock, const std::atomic<int> *serial,
                         BackendFactory factory)
    : packets(packets), clock(clock), currentSerial(serial), backendFactory(std::move(factory)),
      frame(av_frame_alloc())
{
    if (!backendFactory)
        backendFactory = [] { return std::make_unique<QtAudioBackend>(); };
}

AudioWorker::~AudioWorker()
{
    stopSink();
    av_channel_layout_uninit(&resamplerLayout);
    av_channel_layout_uninit(&outputLayout);
    // The sinks go with the backend, on this thread.
    backend.reset();
}

void AudioWorker::initialise()
{
    backend = backendFactory();
    timer = new QTimer(this);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, &AudioWorker::tick);
    timer->start(idleTickMs);
    // Knowing early whether there is sound lets the first play pick its clock.
    AudioSink *output = backend ? backend->defaultOutput() : nullptr;
    available = output != nullptr;
    if (output) {
        emit outputFound(backend->describe());
    } else {
        lossReported = true;
        qCInfo(lcAudio) << "No sound output (" << (backend ? backend->describe() : QString()) << "): playing without sound";
        emit outputLost(backend ? backend->describe() : QString());
    }
}

void AudioWorker::setPlaying(bool play)
{
    if (playing == play)
        return;
    playing = play;
    if (sink && sinkRunning && !silent) {
        if (playing)
            sink->resume();
        else
            sink->suspend();
    }
    tick();
}

void AudioWorker::setVolume(double linear)
{
    volume = linear;
    if (sink)
        sink->setVolume(volume);
}

double AudioWorker::bytesToMs(qint64 bytes) const
{
    return bytesPerFrame > 0 && outputRate > 0 ? double(bytes) / bytesPerFrame * 1000.0 / outputRate : 0.0;
}

qint64 AudioWorker::msToBytes(double ms) const
{
    return qint64(std::llround(ms * outputRate / 1000.0)) * bytesPerFrame;
}

double AudioWorker::readyMs() const
{
    return bytesToMs(readyBytes);
}

void AudioWorker::tick()
{
    if (!followSerial())
        return;
    if (silent) {
        silentTick();
        return;
    }
    takeEntries();
    if (playing && sink) {
        writeToSink();
        if (sink && sink->hasFailed())
            loseOutput(QStringLiteral("the sound output stopped working"));
        else
            syncClock();
    }
    checkEnd();
    if (timer)
        timer->setInterval(params ? activeTickMs : idleTickMs);
}

// The controller moves to a new play (a seek, a stop, another file) before the packets
// of that play arrive: from that moment nothing of the old one may be heard.
bool AudioWorker::followSerial()
{
    const int wanted = currentSerial->load(std::memory_order_acquire);
    if (wanted == serial)
        return true;
    stopSink();
    ready.clear();
    readyBytes = 0;
    lookahead.reset();
    // Entries of older plays are dropped until the new play's first entry arrives;
    // only the stream itself is kept (a seek can follow an open at once).
    PacketQueue::Entry entry;
    while (packets->take(entry)) {
        if (entry.serial != wanted) {
            if (entry.kind == PacketQueue::Entry::Kind::Start)
                startStream(entry.params);
            continue;
        }
        handleEntry(entry);
        return serial == wanted;
    }
    return false;
}

void AudioWorker::takeEntries()
{
    PacketQueue::Entry entry;
    while (readyMs() < bufferMs + readyAheadMs && !inputEnded && packets->take(entry)) {
        if (entry.serial != serial) {
            if (entry.kind == PacketQueue::Entry::Kind::Start)
                startStream(entry.params);
            continue;
        }
        handleEntry(entry);
        if (silent)
            return;
    }
}

void AudioWorker::handleEntry(PacketQueue::Entry &entry)
{
    using Kind = PacketQueue::Entry::Kind;
    switch (entry.kind) {
    case Kind::Start:
        serial = entry.serial;
        startStream(entry.params);
        beginSegment(entry.targetMs);
        break;
    case Kind::Flush:
        serial = entry.serial;
        if (decoder)
            avcodec_flush_buffers(decoder.get());
        beginSegment(entry.targetMs);
        break;
    case Kind::End:
        inputEnded = true;
        if (decoder && !silent) {
            // Ask the decoder for what it still holds.
            avcodec_send_packet(decoder.get(), nullptr);
            receiveFrames();
        }
        break;
    case Kind::Packet:
        if (!params)
            break;
        if (silent) {
            const AVPacket *packet = entry.packet.get();
            const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (ts != AV_NOPTS_VALUE) {
                const double start = double(av_rescale_q(ts, params->timeBase, Milliseconds) - params->originMs);
                silentEndMs = start + double(av_rescale_q(packet->duration, params->timeBase, Milliseconds));
            }
            break;
        }
        decodePacket(entry.packet.get());
        break;
    }
}

void AudioWorker::startStream(const std::shared_ptr<const StreamParams> &newParams)
{
    params = newParams;
    decoder.reset();
    resampler.reset();
    resamplerFormat = -1;
    if (!params)
        return;
    QString error;
    decoder = ffmpeg::openDecoder(params->codec.get(), params->timeBase, 1, &error);
    if (!decoder) {
        qCWarning(lcAudio) << "No sound:" << error;
        params.reset();
    }
}

void AudioWorker::beginSegment(qint64 target)
{
    stopSink();
    ready.clear();
    readyBytes = 0;
    lookahead.reset();
    resampler.reset();
    resamplerFormat = -1;
    targetMs = target;
    nextPtsMs = target >= 0 ? double(target) : -1.0;
    inputEnded = false;
    endReported = false;
    silentEndMs = target >= 0 ? double(target) : 0.0;
    if (!params) {
        // A file without sound: its end is reached at once, and the picture keeps time.
        clock->useWall(serial);
        return;
    }
    chooseOutput();
}

void AudioWorker::chooseOutput()
{
    AudioSink *output = backend ? backend->defaultOutput() : nullptr;
    if (output != sink)
        stopSink();
    sink = output;
    available = sink != nullptr;
    silent = sink == nullptr;
    if (silent) {
        clock->useWall(serial);
        if (!lossReported) {
            lossReported = true;
            qCInfo(lcAudio) << "No sound output (" << backend->describe() << "): playing without sound";
            emit outputLost(backend->describe());
        }
        return;
    }
    if (lossReported) {
        lossReported = false;
        qCInfo(lcAudio) << "Sound output:" << backend->describe();
        emit outputFound(backend->describe());
    }
    const QAudioFormat format = sink->format();
    bytesPerFrame = format.bytesPerFrame();
    outputRate = format.sampleRate();
    outputSampleFormat = sampleFormatFor(format.sampleFormat());
    av_channel_layout_uninit(&outputLayout);
    outputLayout = layoutFor(format.channelCount());
    sink->setVolume(volume);
}

void AudioWorker::loseOutput(const QString &reason)
{
    qCWarning(lcAudio) << "Sound output lost (" << reason << "); the picture plays on without sound";
    sink = nullptr;
    sinkRunning = false;
    available = false;
    silent = true;
    lossReported = true;
    // The unheard rest of this play is paced by the wall clock from here on.
    silentEndMs = ready.empty() ? nextPtsMs : ready.back().ptsMs + bytesToMs(qint64(ready.back().data.size()));
    ready.clear();
    readyBytes = 0;
    clock->useWall(serial);
    emit outputLost(reason);
}

void AudioWorker::silentTick()
{
    if (timer)
        timer->setInterval(activeTickMs * 4);
    if (!playing)
        return;
    const double now = clock->position();
    while (!inputEnded) {
        PacketQueue::Entry entry;
        if (lookahead) {
            entry = std::move(*lookahead);
            lookahead.reset();
        } else if (!packets->take(entry)) {
            break;
        }
        if (entry.serial != serial) {
            if (entry.kind == PacketQueue::Entry::Kind::Start)
                startStream(entry.params);
            continue;
        }
        if (entry.kind == PacketQueue::Entry::Kind::Packet && params) {
            const AVPacket *packet = entry.packet.get();
            const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            const double start = ts != AV_NOPTS_VALUE
                ? double(av_rescale_q(ts, params->timeBase, Milliseconds) - params->originMs) : now;
            // Taken no faster than it would be heard, so the demuxer's read-ahead
            // limit keeps working for the picture.
            if (start > now + readyAheadMs) {
                lookahead = std::move(entry);
                break;
            }
        }
        handleEntry(entry);
        if (!silent)
            return; // a new play found an output
    }
    if (inputEnded && !endReported && now >= silentEndMs) {
        endReported = true;
        emit ended(serial);
    }
}

void AudioWorker::decodePacket(const AVPacket *packet)
{
    if (!decoder)
        return;
    const int ret = avcodec_send_packet(decoder.get(), packet);
    if (ret < 0 && ret != AVERROR(EAGAIN)) {
        // A damaged packet: skipped, the rest plays.
        qCDebug(lcAudio) << "The audio decoder refused a packet:" << ffmpeg::errorText(ret);
        return;
    }
    receiveFrames();
}

void AudioWorker::receiveFrames()
{
    for (;;) {
        const int ret = avcodec_receive_frame(decoder.get(), frame.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return;
        if (ret < 0) {
            qCDebug(lcAudio) << "Audio decoding failed:" << ffmpeg::errorText(ret);
            return;
        }
        appendFrame(frame.get());
        av_frame_unref(frame.get());
    }
}

bool AudioWorker::prepareResampler(const AVFrame *input)
{
    if (resampler && input->format == resamplerFormat && input->sample_rate == resamplerRate
        && av_channel_layout_compare(&input->ch_layout, &resamplerLayout) == 0)
        return true;

    if (resampler) {
        // The stream changed its rate or layout: what the old resampler still holds
        // plays first, so nothing is lost at the seam.
        const int held = swr_get_out_samples(resampler.get(), 0);
        if (held > 0) {
            QByteArray tail(held * bytesPerFrame, Qt::Uninitialized);
            uint8_t *out[1] = {reinterpret_cast<uint8_t *>(tail.data())};
            const int got = swr_convert(resampler.get(), out, held, nullptr, 0);
            if (got > 0) {
                tail.truncate(got * bytesPerFrame);
                appendSamples(tail, nextPtsMs >= 0 ? nextPtsMs : 0.0);
            }
        }
        qCInfo(lcAudio) << "The sound changes format in mid-stream:" << input->sample_rate << "Hz,"
                        << input->ch_layout.nb_channels << "channels";
    }

    AVChannelLayout inputLayout{};
    if (input->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || input->ch_layout.nb_channels <= 0)
        av_channel_layout_default(&inputLayout, qMax(1, input->ch_layout.nb_channels));
    else
        av_channel_layout_copy(&inputLayout, &input->ch_layout);

    SwrContext *made = nullptr;
    int ret = swr_alloc_set_opts2(&made, &outputLayout, outputSampleFormat, outputRate,
                                  &inputLayout, AVSampleFormat(input->format), input->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&inputLayout);
    if (ret >= 0)
        ret = swr_init(made);
    if (ret < 0) {
        swr_free(&made);
        resampler.reset();
        qCWarning(lcAudio) << "Cannot convert the sound to the output's format:" << ffmpeg::errorText(ret);
        return false;
    }
    resampler.reset(made);
    resamplerFormat = input->format;
    resamplerRate = input->sample_rate;
    av_channel_layout_uninit(&resamplerLayout);
    av_channel_layout_copy(&resamplerLayout, &input->ch_layout);
    return true;
}

void AudioWorker::appendFrame(const AVFrame *input)
{
    if (input->nb_samples <= 0 || bytesPerFrame <= 0 || !prepareResampler(input))
        return;
    int64_t ts = input->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE)
        ts = input->pts;
    double ptsMs = ts != AV_NOPTS_VALUE
        ? double(av_rescale_q(ts, params->timeBase, AVRational{1, 1000000})) / 1000.0 - double(params->originMs)
        : (nextPtsMs >= 0 ? nextPtsMs : 0.0);

    const int capacity = swr_get_out_samples(resampler.get(), input->nb_samples);
    if (capacity <= 0)
        return;
    QByteArray data(capacity * bytesPerFrame, Qt::Uninitialized);
    uint8_t *out[1] = {reinterpret_cast<uint8_t *>(data.data())};
    const int got = swr_convert(resampler.get(), out, capacity,
                                const_cast<const uint8_t **>(input->extended_data), input->nb_samples);
    if (got <= 0)
        return;
    data.truncate(got * bytesPerFrame);
    appendSamples(std::move(data), ptsMs);
}

void AudioWorker::appendSamples(QByteArray data, double ptsMs)
{
    const double lengthMs = bytesToMs(data.size());
    if (targetMs >= 0) {
        // Exact seek: sound starts at the very sample of the target.
        if (ptsMs + lengthMs <= double(targetMs))
            return;
        if (ptsMs < double(targetMs)) {
            const qint64 skip = qMin<qint64>(msToBytes(double(targetMs) - ptsMs), data.size());
            data.remove(0, skip);
            ptsMs = double(targetMs);
        }
        targetMs = -1;
    }
    if (data.isEmpty())
        return;
    if (nextPtsMs >= 0) {
        const double gap = ptsMs - nextPtsMs;
        if (gap > gapToleranceMs && gap <= maxGapFillMs) {
            // Missing sound (or sound that starts after the picture): silence keeps
            // what follows at its own time.
            QByteArray silence(msToBytes(gap), char(0));
            if (outputSampleFormat == AV_SAMPLE_FMT_U8)
                silence.fill(char(0x80));
            ready.push_back(Chunk{std::move(silence), 0, nextPtsMs});
            readyBytes += ready.back().data.size();
        }
    }
    nextPtsMs = ptsMs + bytesToMs(data.size());
    readyBytes += data.size();
    ready.push_back(Chunk{std::move(data), 0, ptsMs});
}

void AudioWorker::writeToSink()
{
    if (!sinkRunning) {
        if (ready.empty())
            return;
        if (!sink->start(msToBytes(bufferMs))) {
            loseOutput(QStringLiteral("the sound output could not start"));
            return;
        }
        sink->setVolume(volume);
        sinkRunning = true;
        writtenBytes = 0;
        writtenEndMs = ready.front().ptsMs;
    }
    qint64 room = sink->bytesFree();
    room -= room % qMax(1, bytesPerFrame);
    while (room > 0 && !ready.empty()) {
        Chunk &chunk = ready.front();
        const qint64 left = chunk.data.size() - chunk.offset;
        const qint64 amount = qMin(room, left);
        const qint64 written = sink->write(chunk.data.constData() + chunk.offset, amount);
        if (written <= 0)
            break;
        chunk.offset += written;
        readyBytes -= written;
        writtenBytes += written;
        room -= written;
        writtenEndMs = chunk.ptsMs + bytesToMs(chunk.offset);
        lastWriteAtMs = monotonicMs();
        if (chunk.offset >= chunk.data.size())
            ready.pop_front();
    }
}

void AudioWorker::syncClock()
{
    if (!sinkRunning || writtenBytes <= 0)
        return;
    const double playedMs = double(sink->processedUSecs()) / 1000.0;
    if (playedMs <= 0.0)
        return;
    // What is heard now: the end of what was written, less what the output still holds.
    const double heldMs = qMax(0.0, bytesToMs(writtenBytes) - playedMs);
    clock->syncToAudio(writtenEndMs - heldMs, serial);
}

void AudioWorker::checkEnd()
{
    if (endReported || !inputEnded || !ready.empty())
        return;
    if (params && sink && sinkRunning && writtenBytes > 0) {
        const double heldMs = bytesToMs(writtenBytes) - double(sink->processedUSecs()) / 1000.0;
        const bool heard = heldMs <= 2.0 || monotonicMs() - lastWriteAtMs > bufferMs + endGraceMs;
        if (!heard || !playing)
            return;
    }
    endReported = true;
    // The picture may run on past the sound: it does so on the wall clock, from here.
    clock->useWall(serial);
    emit ended(serial);
}

void AudioWorker::stopSink()
{
    if (sink && sinkRunning)
        sink->stop();
    sinkRunning = false;
    writtenBytes = 0;
}
