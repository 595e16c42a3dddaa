#pragma once

#include "decoder/ffmpegsupport.h"
#include "playback/packetqueue.h"
#include "playback/streamparams.h"
#include "playback/videofilter.h"
#include "playback/videoframe.h"
#include "playback/wakeup.h"

#include <QSize>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class FrameQueue;
class MediaClock;
class SubtitleRenderer;

// Decodes the picture and converts every frame straight to the size it is shown at.
//
// Thread: its own (started by the constructor, joined by the destructor). It owns the
// video decoder, the converter and each frame until the frame is in the FrameQueue.
// It reads the video PacketQueue and the clock, and the target size and the controller's
// serial number, which other threads set (the target under the worker's lock, the
// serial as an atomic). Finished pictures leave through the FrameQueue, pictures made
// again for a new size through the `refreshed` callback, which must post to the GUI
// thread. The file's subtitles are drawn here, into each converted frame at its own
// time before it is queued, with the SubtitleRenderer that came with the stream.
class VideoWorker
{
public:
    struct Callbacks
    {
        std::function<void()> framesQueued;
        std::function<void(const VideoFrame &frame)> refreshed;
    };

    VideoWorker(PacketQueue *packets, FrameQueue *frames, Wakeup *wakeup, MediaClock *clock,
                const std::atomic<int> *serial, Callbacks callbacks);
    ~VideoWorker();
    VideoWorker(const VideoWorker &) = delete;
    VideoWorker &operator=(const VideoWorker &) = delete;

    // The area the picture is shown in, in device pixels; cover: the picture fills it
    // and is cropped (full screen), otherwise it is fitted inside (letter-box).
    void setTarget(QSize area, bool cover);
    // Converts a frame already shown again at the current target (a resize while paused).
    void refresh(const VideoFrame &shown);

    quint64 framesDecoded() const { return decoded; }
    quint64 framesDroppedLate() const { return droppedLate; }

    // A frame this much behind the clock is not converted at all, as long as a
    // frame was delivered within the span: a machine too slow for the file still
    // sees a few pictures a second rather than none.
    static constexpr qint64 lateDropMs = 80;
    static constexpr qint64 skipMarginMs = 150;
    static constexpr std::chrono::milliseconds maxDropSpan{250};

private:
    void run();
    void skipUnneededFrames(const AVPacket *packet);
    bool idle() const;
    void handleEntry(PacketQueue::Entry &entry);
    void startStream(const std::shared_ptr<const StreamParams> &params);
    void receiveFrames();
    void filterFrame(AVFrame *frame);
    void pullFiltered();
    void processFrame(AVFrame *frame);
    void finishStream();
    void deliver(VideoFrame frame);
    bool deliverPending();
    void serveRefresh();
    QImage convert(const AVFrame *frame);
    void drawSubtitles(QImage &image, qint64 ptsMs);
    // The size a picture of this shown shape takes in the video area (device pixels).
    QSize sizeInArea(QSize shown);
    bool stale() const;

    PacketQueue *packets;
    FrameQueue *frames;
    Wakeup *wakeup;
    MediaClock *clock;
    const std::atomic<int> *currentSerial;
    Callbacks callbacks;
    std::atomic<bool> quitting{false};
    std::atomic<quint64> decoded{0};
    std::atomic<quint64> droppedLate{0};

    std::mutex targetMutex;
    QSize targetArea;                     // guarded by targetMutex
    bool targetCover = false;             // guarded by targetMutex
    std::optional<VideoFrame> refreshRequest; // guarded by targetMutex

    // Owned by the worker thread.
    std::shared_ptr<const StreamParams> params;
    std::shared_ptr<SubtitleRenderer> subtitles;
    ffmpeg::CodecContextPtr decoder;
    ffmpeg::FramePtr frame;
    ffmpeg::FramePtr filtered;
    // Turns, deinterlaces and tone-maps where the stream needs it; passes through
    // otherwise.
    VideoFilter filter;
    SwsContext *converter = nullptr;
    ffmpeg::ImagePool imagePool;
    int serial = -1;
    qint64 targetMs = -1;                 // exact seek: frames before this are skipped
    bool decoderHasOutput = false;        // receive frames before sending more
    bool draining = false;
    int deliveredSinceFlush = 0;
    std::chrono::steady_clock::time_point lastDelivered;
    qint64 lastPtsMs = -1;
    qint64 lastDurationMs = 0;
    ffmpeg::FramePtr held;                // the last frame skipped before the target
    std::deque<VideoFrame> pending;       // converted, waiting for room in the queue

    std::thread thread;
};
