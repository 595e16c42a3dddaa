#pragma once

#include "decoder/ffmpegsupport.h"
#include "playback/mediainfo.h"
#include "playback/wakeup.h"
#include "subtitles/subtitledecoder.h"

#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

class PacketQueue;
class SubtitleRenderer;

// Reads the open file and deals its packets out to the decoders.
//
// Thread: its own (started by the constructor, joined by the destructor). It alone
// owns the file's AVFormatContext; it touches nothing else but the packet queues it
// fills (they lock themselves) and the two callbacks, which must only post to
// another thread. Commands (open, seek, close) may come from any thread; the newest
// one wins, and an older one still running is interrupted through FFmpeg's interrupt
// callback, so a read from a slow disk never holds up the next command or shutdown.
//
// Subtitles take no queue of their own: the chosen stream's packets are decoded here
// as they are read (microseconds each) and go straight into the file's
// SubtitleRenderer, which the video worker receives with its Start entry. A subtitle
// file is read whole here too, off the GUI thread.
class Demuxer
{
public:
    struct Callbacks
    {
        std::function<void(int serial, const MediaInfo &info)> opened;
        std::function<void(int serial, const QString &path, const QString &message)> failed;
        // A subtitle track or file that cannot be shown (in full): once per track.
        std::function<void(const QString &path, const QString &message)> subtitleFailed;
    };

    Demuxer(PacketQueue *video, PacketQueue *audio, Wakeup *wakeup, Callbacks callbacks);
    ~Demuxer();
    Demuxer(const Demuxer &) = delete;
    Demuxer &operator=(const Demuxer &) = delete;

    void open(const QString &path, int serial);
    // Exact: the decoders throw away what lies before the target. Otherwise playback
    // goes on from the key frame at or before it.
    void seek(qint64 targetMs, bool exact, int serial);
    // Forgets the file; the queues get nothing more.
    void close(int serial);
    // The audio stream to play from the next seek on (the decoder is opened anew
    // there, so the caller seeks to where playback is).
    void selectAudio(int streamIndex);
    // The subtitles to show: a stream of the file, a subtitle file (`file` not
    // empty), or none. Takes effect before the next packet is read or seek is run;
    // a stream's lines already passed are read again by a seek to where playback is.
    void selectSubtitles(int streamIndex, const QString &file);

    // Read-ahead limits: stop reading when every stream has this much queued, or all
    // of them together this many bytes.
    static constexpr qint64 enoughMs = 1000;
    static constexpr int enoughPackets = 25;
    static constexpr qint64 maxQueuedBytes = 16 * 1024 * 1024;
    static constexpr int maxPacketsBeforeKeyFrame = 300;

private:
    struct Command
    {
        enum class Kind { None, Open, Seek, Close };
        Kind kind = Kind::None;
        QString path;
        qint64 targetMs = 0;
        bool exact = false;
        int serial = 0;
    };

    void post(Command command);
    void run();
    bool takeCommand(Command &command);
    void openFile(const Command &command);
    bool openInput(const QString &path, QString *message);
    void seekFile(const Command &command);
    bool seekTo(qint64 targetMs, bool exact);
    qint64 firstKeyFrameMs();
    void discardUnusedStreams();
    void describeTracks(MediaInfo &info);
    void chooseDefaultSubtitles(MediaInfo &info);
    void applySubtitleRequest();
    void showSubtitleStream(int index);
    void showSubtitleFile(const QString &file);
    void reportSubtitleError(const QString &message);
    void decodeSubtitlePacket(const AVStream *stream);
    void closeFile();
    void readPacket();
    bool queuesFull() const;
    void endOfInput();
    void fixDiscontinuity(AVPacket *packet, const AVStream *stream);
    MediaInfo describe(const QString &path) const;
    static int interruptCallback(void *opaque);

    PacketQueue *videoQueue;
    PacketQueue *audioQueue;
    Wakeup *wakeup;
    Callbacks callbacks;

    std::mutex commandMutex;
    Command pending;                    // guarded by commandMutex
    std::atomic<bool> commandWaiting{false};
    std::atomic<bool> quitting{false};
    // Track choices, guarded by commandMutex.
    int wantedAudio = -1;
    bool subtitleRequest = false;
    int wantedSubtitleStream = -1;
    QString wantedSubtitleFile;
    std::atomic<bool> subtitleRequestWaiting{false};

    // Owned by the demuxer thread.
    ffmpeg::FormatContextPtr format;
    ffmpeg::PacketPtr packet;
    QString path;
    int serial = 0;
    int videoStream = -1;
    int audioStream = -1;
    int subtitleStream = -1;
    QString subtitleFile;
    SubtitleDecoder subtitleDecoder;
    // The open file's; shared with the video worker, which alone draws with it.
    std::shared_ptr<SubtitleRenderer> subtitles;
    bool atEnd = false;
    bool awaitingKeyFrame = false;
    int packetsBeforeKeyFrame = 0;
    qint64 originMs = 0;
    // Timestamp repair for streams whose clock resets or leaps (transport streams,
    // concatenated captures): per stream (video, audio), microseconds added to every
    // timestamp from the jump on, and where the next packet was expected. Each stream
    // is mended on its own because their packets cross the jump at different moments.
    // Subtitles are too sparse to tell a jump from a pause: they take the picture's.
    std::array<qint64, 2> timestampShiftUs{{0, 0}};
    std::array<qint64, 2> nextDtsUs{{AV_NOPTS_VALUE, AV_NOPTS_VALUE}};

    std::thread thread;
};
