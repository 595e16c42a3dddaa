#include "decoder/ffmpegdecoder.h"

#include "decoder/ffmpegsupport.h"

#include <QDebug>

#include <cmath>

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/version.h>
}

namespace {

// Packets one request may read before it gives up with a null frame; the next
// request reads on from there.
constexpr int PacketBudget = 10;

constexpr AVRational Milliseconds{1, 1000};

double rationalValue(AVRational r)
{
    return (r.num > 0 && r.den > 0) ? av_q2d(r) : 0.0;
}

} // namespace

FFmpegDecoder::FFmpegDecoder(QObject *parent)
    : QObject(parent)
{
    const int ret = avformat_network_init();
    if (ret < 0)
        qWarning() << "Could not initialise FFmpeg networking:" << ffmpeg::errorText(ret);
    frame = av_frame_alloc();
    packet = av_packet_alloc();
    if (!frame || !packet)
        qCritical() << "Could not allocate the decoder's frame and packet buffers";
}

FFmpegDecoder::~FFmpegDecoder()
{
    close();
    av_packet_free(&packet);
    av_frame_free(&frame);
    avformat_network_deinit();
}

bool FFmpegDecoder::open(const QString &path)
{
    close();
    currentPath = path;

    int ret = ffmpeg::openLocalInput(&formatContext, path);
    if (ret < 0) {
        qWarning() << "Could not open" << path << ":" << ffmpeg::errorText(ret);
        emit errorOccurred(QStringLiteral("Could not open file"));
        return false;
    }

    ret = avformat_find_stream_info(formatContext, nullptr);
    if (ret < 0) {
        qWarning() << "Could not read the streams of" << path << ":" << ffmpeg::errorText(ret);
        close();
        emit errorOccurred(QStringLiteral("Could not find stream information"));
        return false;
    }

    if (!openStream(AVMEDIA_TYPE_VIDEO, videoStreamIndex, videoCodecContext))
        qDebug() << "No video stream found";
    if (!openStream(AVMEDIA_TYPE_AUDIO, audioStreamIndex, audioCodecContext))
        qDebug() << "No audio stream found";

    opened = true;
    return true;
}

bool FFmpegDecoder::openStream(int mediaType, int &streamIndex, AVCodecContext *&codecContext)
{
    streamIndex = av_find_best_stream(formatContext, static_cast<AVMediaType>(mediaType), -1, -1, nullptr, 0);
    if (streamIndex < 0)
        return false;

    const AVStream *stream = formatContext->streams[streamIndex];
    QString error;
    codecContext = ffmpeg::openDecoder(stream->codecpar, stream->time_base, 0, &error).release();
    if (!codecContext) {
        qWarning() << "Could not decode stream" << streamIndex << ":" << error;
        return false;
    }
    return true;
}

void FFmpegDecoder::close()
{
    sws_freeContext(swsContext);
    swsContext = nullptr;
    avcodec_free_context(&videoCodecContext);
    avcodec_free_context(&audioCodecContext);
    avformat_close_input(&formatContext);
    videoStreamIndex = -1;
    audioStreamIndex = -1;
    opened = false;

    if (packet)
        av_packet_unref(packet);
    if (frame)
        av_frame_unref(frame);
    draining = false;
    finished = false;
    hasPosition = false;
    lastPosition = 0;
    lastFrameDuration = 0;
}

bool FFmpegDecoder::isOpen() const
{
    return opened;
}

QString FFmpegDecoder::currentFile() const
{
    return opened ? currentPath : QString();
}

qint64 FFmpegDecoder::duration() const
{
    if (!formatContext)
        return 0;
    if (formatContext->duration != AV_NOPTS_VALUE && formatContext->duration > 0)
        return formatContext->duration / 1000;

    // No container duration (raw streams, some live captures): take the longest
    // stream that knows its own, or admit that nothing is known.
    qint64 longest = 0;
    for (unsigned i = 0; i < formatContext->nb_streams; ++i) {
        const AVStream *stream = formatContext->streams[i];
        if (stream->duration == AV_NOPTS_VALUE || stream->duration <= 0)
            continue;
        longest = qMax<qint64>(longest, av_rescale_q(stream->duration, stream->time_base, Milliseconds));
    }
    return longest;
}

qint64 FFmpegDecoder::position() const
{
    if (!formatContext || videoStreamIndex < 0)
        return 0;
    return lastPosition;
}

double FFmpegDecoder::frameRate() const
{
    if (!videoCodecContext || videoStreamIndex < 0)
        return 0.0;
    const AVStream *stream = formatContext->streams[videoStreamIndex];
    // An unknown average rate (0/0, n/0) would otherwise reach the caller as NaN
    // or infinity; the container's base rate is the next best answer.
    const double average = rationalValue(stream->avg_frame_rate);
    return average > 0.0 ? average : rationalValue(stream->r_frame_rate);
}

bool FFmpegDecoder::hasVideo() const
{
    return videoStreamIndex >= 0;
}

bool FFmpegDecoder::hasAudio() const
{
    return audioStreamIndex >= 0;
}

bool FFmpegDecoder::hasMovingPicture() const
{
    return formatContext && videoStreamIndex >= 0
        && !(formatContext->streams[videoStreamIndex]->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

ffmpeg::MediaTags FFmpegDecoder::tags() const
{
    return ffmpeg::readTags(formatContext);
}

qint64 FFmpegDecoder::frameDuration() const
{
    return lastFrameDuration;
}

bool FFmpegDecoder::seek(qint64 pos)
{
    if (!opened || !formatContext || videoStreamIndex < 0 || !videoCodecContext)
        return false;

    const AVStream *stream = formatContext->streams[videoStreamIndex];
    // Positions are counted from the stream's first frame (see noteFrameTiming).
    int64_t target = av_rescale_q(pos, Milliseconds, stream->time_base);
    if (stream->start_time != AV_NOPTS_VALUE)
        target += stream->start_time;

    avcodec_flush_buffers(videoCodecContext);
    draining = false;
    finished = false;
    const int ret = av_seek_frame(formatContext, videoStreamIndex, target, AVSEEK_FLAG_BACKWARD);
    if (ret < 0) {
        qWarning() << "Could not seek to" << pos << "ms:" << ffmpeg::errorText(ret);
        return false;
    }
    return true;
}

void FFmpegDecoder::decodeVideoFrame()
{
    QImage image;
    if (opened && videoStreamIndex >= 0 && videoCodecContext && frame && packet && !finished)
        image = decodeNextFrame();
    emit frameReady(image);
}

QImage FFmpegDecoder::decodeNextFrame()
{
    int packetsLeft = PacketBudget;
    for (;;) {
        // Collect what the decoder holds before feeding it more. Its contract:
        // "AVERROR(EAGAIN): output is not available in this state - user must try
        // to send new input" and "AVERROR_EOF: the decoder has been fully flushed,
        // and there will be no more output frames". Neither is a failure.
        int ret = avcodec_receive_frame(videoCodecContext, frame);
        if (ret == 0) {
            QImage image = ffmpeg::convertFrame(&swsContext, frame, &imagePool);
            if (!image.isNull())
                noteFrameTiming(frame);
            av_frame_unref(frame);
            if (!image.isNull())
                return image;
            if (--packetsLeft <= 0)
                return QImage();
            continue;
        }
        if (ret == AVERROR_EOF) {
            finishPlayback();
            return QImage();
        }
        if (ret != AVERROR(EAGAIN)) {
            qWarning() << "Video decoding failed:" << ffmpeg::errorText(ret);
            if (--packetsLeft <= 0)
                return QImage();
            if (draining)
                continue;
        } else if (draining) {
            // A drained decoder never asks for input; take it as the end.
            finishPlayback();
            return QImage();
        }

        if (packetsLeft <= 0)
            return QImage();
        ret = av_read_frame(formatContext, packet);
        --packetsLeft;
        if (ret < 0) {
            if (ret != AVERROR_EOF)
                qWarning() << "Could not read from" << currentPath << ":" << ffmpeg::errorText(ret);
            startDraining();
            continue;
        }
        if (packet->stream_index == videoStreamIndex) {
            ret = avcodec_send_packet(videoCodecContext, packet);
            if (ret < 0)
                qWarning() << "The video decoder refused a packet:" << ffmpeg::errorText(ret);
        }
        av_packet_unref(packet);
    }
}

void FFmpegDecoder::startDraining()
{
    draining = true;
    // The empty packet asks the decoder to give up the frames it still holds.
    const int ret = avcodec_send_packet(videoCodecContext, nullptr);
    if (ret < 0 && ret != AVERROR_EOF)
        qWarning() << "Could not drain the video decoder:" << ffmpeg::errorText(ret);
}

void FFmpegDecoder::finishPlayback()
{
    if (finished)
        return;
    finished = true;
    // Receivers may open the next file from here; nothing of the old media may
    // be touched after this line.
    emit playbackFinished();
}

void FFmpegDecoder::noteFrameTiming(const AVFrame *decoded)
{
    const AVStream *stream = formatContext->streams[videoStreamIndex];

#ifdef FF_API_PKT_DURATION
    int64_t ticks = decoded->duration;
#else
    int64_t ticks = decoded->pkt_duration;
#endif
    qint64 length = ticks > 0 ? av_rescale_q(ticks, stream->time_base, Milliseconds) : 0;
    if (length <= 0) {
        const double rate = frameRate();
        length = rate > 0.0 ? qint64(std::llround(1000.0 / rate)) : 0;
    }

    int64_t timestamp = decoded->best_effort_timestamp;
    if (timestamp == AV_NOPTS_VALUE)
        timestamp = decoded->pts;
    qint64 position;
    if (timestamp != AV_NOPTS_VALUE) {
        const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        position = av_rescale_q(timestamp - start, stream->time_base, Milliseconds);
    } else {
        // No time stamp at all: step on from the previous frame.
        position = hasPosition ? lastPosition + lastFrameDuration : 0;
    }
    const qint64 total = duration();
    position = qMax<qint64>(position, 0);
    if (total > 0)
        position = qMin(position, total);

    lastPosition = position;
    lastFrameDuration = length;
    hasPosition = true;
}
