#include "playback/videoworker.h"

#include "playback/framequeue.h"
#include "playback/mediaclock.h"
#include "playback/packetqueue.h"
#include "subtitles/subtitlerenderer.h"
#include "video/framegeometry.h"
#include "video/orientation.h"

#include <QDebug>
#include <QLoggingCategory>

#include <chrono>
#include <cmath>

Q_LOGGING_CATEGORY(lcVideo, "zeltora.playback.video", QtInfoMsg)

namespace {

constexpr AVRational Milliseconds{1, 1000};
constexpr qint64 fallbackFrameMs = 40;

std::shared_ptr<AVFrame> shareFrame(const AVFrame *frame)
{
    return std::shared_ptr<AVFrame>(av_frame_clone(frame), [](AVFrame *f) { av_frame_free(&f); });
}

} // namespace

VideoWorker::VideoWorker(PacketQueue *packets, FrameQueue *frames, Wakeup *wakeup, MediaClock *clock,
                         const std::atomic<int> *serial, Callbacks callbacks)
    : packets(packets), frames(frames), wakeup(wakeup), clock(clock), currentSerial(serial),
      callbacks(std::move(callbacks)), frame(av_frame_alloc()), filtered(av_frame_alloc())
{
    thread = std::thread([this] { run(); });
}

VideoWorker::~VideoWorker()
{
    quitting = true;
    wakeup->notify();
    thread.join();
    sws_freeContext(converter);
}

void VideoWorker::setTarget(QSize area, bool cover)
{
    {
        std::lock_guard<std::mutex> lock(targetMutex);
        targetArea = area;
        targetCover = cover;
    }
    wakeup->notify();
}

void VideoWorker::refresh(const VideoFrame &shown)
{
    if (!shown.source)
        return;
    {
        std::lock_guard<std::mutex> lock(targetMutex);
        refreshRequest = shown;
    }
    wakeup->notify();
}

bool VideoWorker::stale() const
{
    return serial != currentSerial->load(std::memory_order_acquire);
}

bool VideoWorker::idle() const
{
    return packets->isEmpty();
}

void VideoWorker::run()
{
    using namespace std::chrono_literals;
    while (!quitting) {
        serveRefresh();
        if (!pending.empty()) {
            if (!deliverPending()) {
                wakeup->wait([this] {
                    std::lock_guard<std::mutex> lock(targetMutex);
                    return quitting || refreshRequest || frames->hasRoom() || stale();
                }, 50ms);
            }
            continue;
        }
        if (decoderHasOutput) {
            receiveFrames();
            continue;
        }
        PacketQueue::Entry entry;
        if (!packets->take(entry)) {
            wakeup->wait([this] {
                std::lock_guard<std::mutex> lock(targetMutex);
                return quitting || refreshRequest || !idle();
            }, 200ms);
            continue;
        }
        handleEntry(entry);
    }
}

void VideoWorker::handleEntry(PacketQueue::Entry &entry)
{
    using Kind = PacketQueue::Entry::Kind;
    switch (entry.kind) {
    case Kind::Start:
        serial = entry.serial;
        startStream(entry.params);
        targetMs = entry.targetMs;
        subtitles = std::move(entry.subtitles);
        // libass's font scan (fontconfig) takes tens of milliseconds: here, before
        // the first frame, not in the middle of playback.
        if (subtitles && entry.subtitleText)
            subtitles->prepare();
        break;
    case Kind::Flush:
        qCDebug(lcVideo) << "flush" << entry.serial << "target" << entry.targetMs;
        serial = entry.serial;
        if (decoder)
            avcodec_flush_buffers(decoder.get());
        filter.flush();
        targetMs = entry.targetMs;
        draining = false;
        decoderHasOutput = false;
        deliveredSinceFlush = 0;
        lastPtsMs = -1;
        held.reset();
        pending.clear();
        break;
    case Kind::End:
        if (entry.serial != serial)
            break;
        if (!decoder) {
            finishStream();
            break;
        }
        draining = true;
        if (const int ret = avcodec_send_packet(decoder.get(), nullptr); ret < 0 && ret != AVERROR_EOF)
            qCWarning(lcVideo) << "Could not drain the video decoder:" << ffmpeg::errorText(ret);
        decoderHasOutput = true;
        break;
    case Kind::Packet:
        if (entry.serial != serial || !decoder || draining)
            break;
        skipUnneededFrames(entry.packet.get());
        if (const int ret = avcodec_send_packet(decoder.get(), entry.packet.get()); ret < 0)
            qCDebug(lcVideo) << "The video decoder refused a packet:" << ffmpeg::errorText(ret);
        decoderHasOutput = true;
        break;
    }
}

// On the way to an exact seek's target, frames that no other frame refers to need
// not be decoded at all: about a third of an H.264 group of pictures with B-frames.
// Frames close to the target are decoded in full, so that a deinterlacer has the
// neighbours of the first frame it shows.
void VideoWorker::skipUnneededFrames(const AVPacket *packet)
{
    AVDiscard wanted = AVDISCARD_DEFAULT;
    if (targetMs >= 0 && packet->pts != AV_NOPTS_VALUE) {
        const qint64 endMs = av_rescale_q(packet->pts + std::max<int64_t>(packet->duration, 0),
                                          params->timeBase, AVRational{1, 1000}) - params->originMs;
        if (endMs < targetMs - skipMarginMs)
            wanted = AVDISCARD_NONREF;
    }
    // The decoder reads the setting with each packet it is given.
    decoder->skip_frame = wanted;
}

void VideoWorker::startStream(const std::shared_ptr<const StreamParams> &newParams)
{
    params = newParams;
    decoder.reset();
    draining = false;
    decoderHasOutput = false;
    deliveredSinceFlush = 0;
    lastPtsMs = -1;
    lastDurationMs = 0;
    held.reset();
    pending.clear();
    filter.setStream(params ? params->pictureTraits : VideoFilter::StreamTraits());
    if (!params)
        return;
    QString error;
    decoder = ffmpeg::openDecoder(params->codec.get(), params->timeBase, 0, &error);
    if (!decoder)
        qCWarning(lcVideo) << "No picture:" << error;
}

void VideoWorker::receiveFrames()
{
    // FFmpeg: "AVERROR(EAGAIN): output is not available in this state - user must try
    // to send new input"; "AVERROR_EOF: the codec has been fully flushed, and there
    // will be no more output frames". Frames are taken one at a time so that a full
    // queue holds the decoder back instead of piling converted pictures up.
    const int ret = avcodec_receive_frame(decoder.get(), frame.get());
    if (ret == 0) {
        ++decoded;
        filterFrame(frame.get());
        av_frame_unref(frame.get());
        return;
    }
    decoderHasOutput = false;
    if (ret == AVERROR_EOF) {
        if (draining) {
            // bwdif keeps a picture back until it is told the stream ended.
            if (const int drained = filter.push(nullptr); drained < 0 && drained != AVERROR_EOF)
                qCDebug(lcVideo) << "Could not drain the picture filter:" << ffmpeg::errorText(drained);
            pullFiltered();
            finishStream();
        }
        return;
    }
    if (ret != AVERROR(EAGAIN))
        qCDebug(lcVideo) << "Video decoding failed:" << ffmpeg::errorText(ret);
}

void VideoWorker::filterFrame(AVFrame *decodedFrame)
{
    if (stale())
        return;
    // HDR pictures are tone-mapped at the size they are shown at, not larger.
    const QSize shown = framegeometry::displaySize(
        QSize(decodedFrame->width, decodedFrame->height),
        framegeometry::displaySampleAspectRatio(params->sampleAspectRatio, decodedFrame->sample_aspect_ratio),
        Orientation::fromFrame(decodedFrame, params->pictureTraits.orientation));
    filter.setTargetSize(sizeInArea(shown));
    int ret = filter.push(decodedFrame);
    if (ret == AVERROR(EAGAIN)) {
        pullFiltered();
        ret = filter.push(decodedFrame);
    }
    if (ret < 0 && ret != AVERROR_EOF)
        qCDebug(lcVideo) << "The picture filter refused a frame:" << ffmpeg::errorText(ret);
    pullFiltered();
}

void VideoWorker::pullFiltered()
{
    while (filter.pull(filtered.get()) == 0) {
        processFrame(filtered.get());
        av_frame_unref(filtered.get());
    }
}

void VideoWorker::processFrame(AVFrame *decodedFrame)
{
    if (stale())
        return;

    // The filter's output counts in its own time base, for every path alike, in pts
    // (it fills that from the decoder's best guess where the stream had none).
    const AVRational timeBase = filter.outputTimeBase();
    const int64_t timestamp = decodedFrame->pts;
    const qint64 ptsMs = timestamp != AV_NOPTS_VALUE
        ? av_rescale_q(timestamp, timeBase, Milliseconds) - params->originMs
        : (lastPtsMs >= 0 ? lastPtsMs + lastDurationMs : 0);
#ifdef FF_API_PKT_DURATION
    const int64_t ticks = decodedFrame->duration;
#else
    const int64_t ticks = decodedFrame->pkt_duration;
#endif
    qint64 durationMs = ticks > 0 ? av_rescale_q(ticks, timeBase, Milliseconds) : 0;
    if (durationMs <= 0)
        durationMs = params->frameRate > 0 ? qint64(std::llround(1000.0 / params->frameRate)) : fallbackFrameMs;
    lastPtsMs = ptsMs;
    lastDurationMs = durationMs;

    if (targetMs >= 0) {
        if (ptsMs + durationMs <= targetMs) {
            // Before the target of an exact seek. Kept in case the target lies past the
            // last frame, where the last one is the answer.
            held.reset(av_frame_clone(decodedFrame));
            return;
        }
        targetMs = -1;
        held.reset();
    }

    // Far behind already: drop it before the costly conversion. The first frame after
    // a flush is always made, so a seek always shows a picture.
    if (deliveredSinceFlush > 0 && !clock->isPaused() && !clock->isHeld()
        && double(ptsMs + durationMs) < clock->position() - double(lateDropMs)
        && std::chrono::steady_clock::now() - lastDelivered < maxDropSpan) {
        ++droppedLate;
        return;
    }

    VideoFrame out;
    out.image = convert(decodedFrame);
    if (out.image.isNull())
        return;
    drawSubtitles(out.image, ptsMs);
    out.ptsMs = ptsMs;
    out.durationMs = durationMs;
    out.serial = serial;
    out.source = shareFrame(decodedFrame);
    deliver(std::move(out));
}

void VideoWorker::finishStream()
{
    draining = false;
    if (deliveredSinceFlush == 0 && pending.empty() && held) {
        // The target of the seek lies beyond the last frame: show the last one.
        const ffmpeg::FramePtr last = std::move(held);
        targetMs = -1;
        processFrame(last.get());
    }
    VideoFrame end;
    end.endOfStream = true;
    end.serial = serial;
    deliver(std::move(end));
}

void VideoWorker::deliver(VideoFrame out)
{
    pending.push_back(std::move(out));
    deliverPending();
}

bool VideoWorker::deliverPending()
{
    bool queued = false;
    while (!pending.empty()) {
        if (stale()) {
            pending.clear();
            break;
        }
        if (!frames->hasRoom())
            break;
        if (!pending.front().endOfStream) {
            ++deliveredSinceFlush;
            lastDelivered = std::chrono::steady_clock::now();
        }
        frames->put(std::move(pending.front()));
        pending.pop_front();
        queued = true;
    }
    if (queued && callbacks.framesQueued)
        callbacks.framesQueued();
    return pending.empty();
}

void VideoWorker::serveRefresh()
{
    std::optional<VideoFrame> request;
    {
        std::lock_guard<std::mutex> lock(targetMutex);
        request.swap(refreshRequest);
    }
    if (!request || !request->source)
        return;
    VideoFrame again = *request;
    again.image = convert(request->source.get());
    if (!again.image.isNull())
        drawSubtitles(again.image, again.ptsMs);
    if (!again.image.isNull() && callbacks.refreshed)
        callbacks.refreshed(again);
}

QSize VideoWorker::sizeInArea(QSize shown)
{
    QSize area;
    bool cover = false;
    {
        std::lock_guard<std::mutex> lock(targetMutex);
        area = targetArea;
        cover = targetCover;
    }
    if (!area.isValid() || area.isEmpty())
        return shown;
    return cover ? framegeometry::coverRect(shown, area).size() : framegeometry::letterboxRect(shown, area).size();
}

QImage VideoWorker::convert(const AVFrame *source)
{
    // Filtered pictures lie upright and carry the pixel shape to show them with.
    const QSize shown = framegeometry::displaySize(
        QSize(source->width, source->height),
        framegeometry::displaySampleAspectRatio(AVRational{0, 1}, source->sample_aspect_ratio));
    return ffmpeg::convertFrameScaled(&converter, source, sizeInArea(shown), &imagePool);
}

void VideoWorker::drawSubtitles(QImage &image, qint64 ptsMs)
{
    if (!subtitles)
        return;
    QSize area;
    bool cover = false;
    {
        std::lock_guard<std::mutex> lock(targetMutex);
        area = targetArea;
        cover = targetCover;
    }
    const QRect whole(QPoint(0, 0), image.size());
    if (!cover || area.isEmpty() || (image.width() <= area.width() && image.height() <= area.height())) {
        subtitles->render(image, whole, ptsMs);
        return;
    }
    // Cover mode: the frame is larger than the area and the window shows its middle.
    // The subtitles belong on that visible part, not on the cropped-off bottom, so
    // they are drawn through a view of it, the picture lying around it.
    const QRect placed = framegeometry::coverRect(image.size(), area);
    const QRect visible = QRect(-placed.topLeft(), area) & whole;
    if (visible.isEmpty())
        return;
    uchar *pixels = image.bits();
    if (!pixels)
        return;
    QImage view(pixels + qsizetype(visible.y()) * image.bytesPerLine() + qsizetype(visible.x()) * 4,
                visible.width(), visible.height(), image.bytesPerLine(), image.format());
    subtitles->render(view, whole.translated(-visible.topLeft()), ptsMs);
}
