#pragma once

#include "decoder/ffmpegsupport.h"
#include "playback/packetqueue.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class AudioBackend;
class AudioSink;
class MediaClock;
class QTimer;

// Decodes the sound, converts it to the output's format and keeps the output fed,
// and tells the clock which moment of the media is being heard.
//
// Thread: the audio thread, a QThread with an event loop that the controller starts
// and stops; the worker is moved there before initialise() runs and is deleted there
// when the thread finishes. It owns the audio decoder, the resampler and the output
// backend with its sinks (Qt's audio sink must be used from one thread). It reads the
// audio PacketQueue (which locks itself), reports to the MediaClock (which locks
// itself) and reads the controller's serial number (an atomic). The controller reaches
// it only through queued calls of its slots; it answers only by signals.
class AudioWorker : public QObject
{
    Q_OBJECT

public:
    using BackendFactory = std::function<std::unique_ptr<AudioBackend>()>;

    AudioWorker(PacketQueue *packets, MediaClock *clock, const std::atomic<int> *serial,
                BackendFactory backendFactory);
    ~AudioWorker() override;

    // Whether sound had an output when the worker last looked (before it first
    // looked: yes, so that a play started early waits for sound that may be there;
    // without an output the worker hands the clock to the wall at once). Any thread
    // may ask.
    bool outputAvailable() const { return available.load(); }

    // The output's buffer: short enough that volume, pause and seek are heard at once,
    // long enough to ride out a busy moment of the machine.
    static constexpr int bufferMs = 120;
    // How much converted sound is kept ready beyond what the output holds.
    static constexpr int readyAheadMs = 200;
    // Gaps in the sound's timestamps up to this long are filled with silence, so the
    // sound stays on its timeline; longer ones are jumps the clock follows.
    static constexpr int maxGapFillMs = 5000;

public slots:
    void initialise();
    void setPlaying(bool playing);
    void setVolume(double linear);

signals:
    // All sound of play `serial` has been heard.
    void ended(int serial);
    // The output went away, or there never was one (reported once until it returns).
    void outputLost(const QString &reason);
    void outputFound(const QString &description);

private:
    struct Chunk
    {
        QByteArray data;
        qint64 offset = 0;
        double ptsMs = 0.0; // media time of data[offset]
    };

    void tick();
    bool followSerial();
    void takeEntries();
    void silentTick();
    void handleEntry(PacketQueue::Entry &entry);
    void startStream(const std::shared_ptr<const StreamParams> &params);
    void beginSegment(qint64 targetMs);
    void chooseOutput();
    void loseOutput(const QString &reason);
    void decodePacket(const AVPacket *packet);
    void receiveFrames();
    void appendFrame(const AVFrame *frame);
    bool prepareResampler(const AVFrame *frame);
    void appendSamples(QByteArray data, double ptsMs);
    void writeToSink();
    void syncClock();
    void checkEnd();
    void stopSink();
    double bytesToMs(qint64 bytes) const;
    qint64 msToBytes(double ms) const;
    double readyMs() const;

    PacketQueue *packets;
    MediaClock *clock;
    const std::atomic<int> *currentSerial;
    BackendFactory backendFactory;
    std::atomic<bool> available{true};

    std::unique_ptr<AudioBackend> backend;
    QTimer *timer = nullptr;
    AudioSink *sink = nullptr;
    bool playing = false;
    double volume = 1.0;
    bool lossReported = false;

    // The stream of the current play.
    int serial = -1;
    std::shared_ptr<const StreamParams> params;
    ffmpeg::CodecContextPtr decoder;
    ffmpeg::FramePtr frame;
    ffmpeg::SwrPtr resampler;
    int resamplerFormat = -1;
    int resamplerRate = 0;
    AVChannelLayout resamplerLayout{};
    bool silent = false;            // no output: the sound is paced by the clock, unheard
    qint64 targetMs = -1;           // exact seek: sound before this is skipped
    double nextPtsMs = -1.0;        // where the next samples are expected on the timeline
    bool inputEnded = false;
    bool endReported = false;
    std::optional<PacketQueue::Entry> lookahead; // silent: a packet whose time has not come
    double silentEndMs = 0.0;

    // The output's format and what has been written to it since it was started.
    int bytesPerFrame = 0;
    int outputRate = 0;
    AVSampleFormat outputSampleFormat = AV_SAMPLE_FMT_NONE;
    AVChannelLayout outputLayout{};
    std::deque<Chunk> ready;
    qint64 readyBytes = 0;
    bool sinkRunning = false;
    qint64 writtenBytes = 0;
    double writtenEndMs = 0.0;
    qint64 lastWriteAtMs = 0;
};
