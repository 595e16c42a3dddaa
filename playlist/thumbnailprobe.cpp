#include "playlist/thumbnailprobe.h"

#include "decoder/ffmpegsupport.h"
#include "video/framegeometry.h"
#include "video/orientation.h"
#include "playlist/mediapaths.h"

#include <QLoggingCategory>

// Failures are common and expected here (audio files, half-copied downloads), so
// they are logged at debug level only.
Q_LOGGING_CATEGORY(lcThumbnail, "zeltora.thumbnail", QtWarningMsg)

namespace thumbnailprobe {

namespace {

// A stream that never yields a picture must not make the probe read the whole file: give up after 500 packets or 16 MiB of packet data, whichever comes first.
// A healthy file shows its first picture within a few dozen packets.
constexpr int maxPackets = 500;
constexpr qint64 maxPacketBytes = 16 * 1024 * 1024;

bool receiveFrame(AVCodecContext *decoder, AVFrame *frame, const QString &path)
{
    const int ret = avcodec_receive_frame(decoder, frame);
    if (ret == 0)
        return true;
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
        qCDebug(lcThumbnail) << "Decoding failed for" << path << ffmpeg::errorText(ret);
    return false;
}

// A picture larger than the thumbnail is shrunk in its own pixel format before it is
// turned into RGB: swscale's area average reads the big frame once, where converting
// a 4K frame whole would first fill a fresh 33 MB image. The colour tags go along, so
// the conversion to RGB still applies the frame's own matrix and range. Null when
// there is nothing to gain or the format cannot be scaled.
ffmpeg::FramePtr shrinkToCover(const AVFrame *frame, int edge, const QString &path)
{
    const int width = frame->width, height = frame->height;
    if (edge <= 0 || width <= 0 || height <= 0)
        return nullptr;
    int coverWidth = edge, coverHeight = edge;
    if (width >= height)
        coverWidth = int((qint64(width) * edge + height - 1) / height);
    else
        coverHeight = int((qint64(height) * edge + width - 1) / width);
    const auto format = static_cast<AVPixelFormat>(frame->format);
    if (coverWidth >= width || coverHeight >= height
        || sws_isSupportedInput(format) <= 0 || sws_isSupportedOutput(format) <= 0)
        return nullptr;

    ffmpeg::FramePtr small(av_frame_alloc());
    if (!small)
        return nullptr;
    small->format = format;
    small->width = coverWidth;
    small->height = coverHeight;
    int ret = av_frame_get_buffer(small.get(), 0);
    if (ret >= 0)
        ret = av_frame_copy_props(small.get(), frame);
    if (ret < 0) {
        qCDebug(lcThumbnail) << "Cannot make a small frame for" << path << ffmpeg::errorText(ret);
        return nullptr;
    }
    const ffmpeg::SwsPtr scaler(sws_getContext(width, height, format, coverWidth, coverHeight, format,
                                               SWS_AREA, nullptr, nullptr, nullptr));
    if (!scaler) {
        qCDebug(lcThumbnail) << "Cannot shrink the first picture of" << path;
        return nullptr;
    }
    ret = sws_scale(scaler.get(), frame->data, frame->linesize, 0, height, small->data, small->linesize);
    if (ret != coverHeight) {
        qCDebug(lcThumbnail) << "Shrinking the first picture of" << path << "failed" << ret;
        return nullptr;
    }
    return small;
}

int askInterrupt(void *opaque)
{
    const auto *interrupted = static_cast<const Interrupt *>(opaque);
    return (*interrupted)() ? 1 : 0;
}

} // namespace

QImage firstFrame(const QString &path, const Interrupt &interrupted, int coverEdge)
{
    // Opening a named pipe blocks until someone writes to it, beyond the reach of
    // any interrupt callback.
    if (!mediapaths::isPlayableFile(path)) {
        qCDebug(lcThumbnail) << "Not a regular file:" << path;
        return QImage();
    }
    const AVIOInterruptCB callback{askInterrupt, const_cast<Interrupt *>(&interrupted)};
    const auto stop = [&interrupted] { return interrupted && interrupted(); };

    AVFormatContext *openedFormat = nullptr;
    int ret = ffmpeg::openLocalInput(&openedFormat, path, interrupted ? &callback : nullptr);
    if (ret < 0 || !openedFormat) {
        qCDebug(lcThumbnail) << "Cannot open" << path << ffmpeg::errorText(ret);
        return QImage();
    }
    const ffmpeg::FormatContextPtr format(openedFormat);

    ret = avformat_find_stream_info(format.get(), nullptr);
    if (ret < 0) {
        qCDebug(lcThumbnail) << "No stream information in" << path << ffmpeg::errorText(ret);
        return QImage();
    }

    const int streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (streamIndex < 0) {
        qCDebug(lcThumbnail) << "No video stream in" << path << ffmpeg::errorText(streamIndex);
        return QImage();
    }
    const AVCodecParameters *parameters = format->streams[streamIndex]->codecpar;

    const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec) {
        qCDebug(lcThumbnail) << "No decoder for the video of" << path;
        return QImage();
    }
    const ffmpeg::CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder) {
        qCDebug(lcThumbnail) << "Cannot allocate a decoder for" << path;
        return QImage();
    }
    ret = avcodec_parameters_to_context(decoder.get(), parameters);
    if (ret < 0) {
        qCDebug(lcThumbnail) << "Cannot set up the decoder for" << path << ffmpeg::errorText(ret);
        return QImage();
    }
    ret = avcodec_open2(decoder.get(), codec, nullptr);
    if (ret < 0) {
        qCDebug(lcThumbnail) << "Cannot open the decoder for" << path << ffmpeg::errorText(ret);
        return QImage();
    }

    const ffmpeg::FramePtr frame(av_frame_alloc());
    const ffmpeg::PacketPtr packet(av_packet_alloc());
    if (!frame || !packet) {
        qCDebug(lcThumbnail) << "Out of memory probing" << path;
        return QImage();
    }

    bool haveFrame = false;
    int packetsRead = 0;
    qint64 bytesRead = 0;
    while (!haveFrame) {
        if (stop())
            return QImage();
        if (packetsRead >= maxPackets || bytesRead >= maxPacketBytes) {
            qCDebug(lcThumbnail) << "No picture within" << packetsRead << "packets of" << path;
            break;
        }
        ret = av_read_frame(format.get(), packet.get());
        if (ret < 0) {
            if (ret != AVERROR_EOF)
                qCDebug(lcThumbnail) << "Reading failed for" << path << ffmpeg::errorText(ret);
            break;
        }
        ++packetsRead;
        bytesRead += packet->size;
        if (packet->stream_index == streamIndex) {
            ret = avcodec_send_packet(decoder.get(), packet.get());
            if (ret < 0)
                qCDebug(lcThumbnail) << "Decoder refused a packet of" << path << ffmpeg::errorText(ret);
            else
                haveFrame = receiveFrame(decoder.get(), frame.get(), path);
        }
        av_packet_unref(packet.get());
    }

    // Decoders that reorder frames hold the first pictures back until more input
    // comes; a very short file only gives them up when the decoder is drained.
    if (!haveFrame && !stop()) {
        ret = avcodec_send_packet(decoder.get(), nullptr);
        if (ret < 0)
            qCDebug(lcThumbnail) << "Cannot drain the decoder for" << path << ffmpeg::errorText(ret);
        else
            haveFrame = receiveFrame(decoder.get(), frame.get(), path);
    }
    if (!haveFrame)
        return QImage();

    const ffmpeg::FramePtr small = shrinkToCover(frame.get(), coverEdge, path);
    SwsContext *converter = nullptr;
    const QImage image = ffmpeg::convertFrame(&converter, small ? small.get() : frame.get());
    const ffmpeg::SwsPtr converterOwner(converter);
    if (image.isNull()) {
        qCDebug(lcThumbnail) << "Cannot convert the first picture of" << path;
        return image;
    }
    // Upright and in its true shape, as the picture is shown when it plays.
    const AVStream *stream = format->streams[streamIndex];
    return orientedForDisplay(image, Orientation::fromFrame(frame.get(), Orientation::fromStream(stream)),
                              framegeometry::displaySampleAspectRatio(stream->sample_aspect_ratio,
                                                                      frame->sample_aspect_ratio));
}

QRect centreSquare(QSize scaled, int edge)
{
    return QRect((scaled.width() - edge) / 2, (scaled.height() - edge) / 2, edge, edge);
}

QImage cropThumbnail(const QImage &frame, int edge)
{
    if (frame.isNull() || edge <= 0)
        return QImage();
    const QImage scaled = frame.scaled(edge, edge, Qt::KeepAspectRatioByExpanding,
                                       Qt::SmoothTransformation);
    return scaled.copy(centreSquare(scaled.size(), edge)).convertToFormat(QImage::Format_RGB32);
}

} // namespace thumbnailprobe
