#include "subtitles/subtitledecoder.h"

#include "subtitles/subtitleencoding.h"

#include <QLoggingCategory>

#include <cstring>

extern "C" {
#include <libavutil/mathematics.h>
}

namespace {

Q_LOGGING_CATEGORY(lcSubtitleDecoder, "zeltora.subtitles.decoder", QtWarningMsg)

// Larger than any real subtitle picture; guards the conversion against a damaged
// stream's claims.
constexpr int MaxPictureSide = 8192;

struct SubtitleHolder {
    AVSubtitle subtitle{};
    ~SubtitleHolder() { avsubtitle_free(&subtitle); }
};

// Plain text from a decoder that does not speak ASS, as an ASS event in the
// default style.
QByteArray plainTextLine(const char *text)
{
    QByteArray escaped(text);
    escaped.replace("\r\n", "\\N");
    escaped.replace('\n', "\\N");
    return QByteArrayLiteral("0,0,Default,,0,0,0,,") + escaped;
}

// Text decoders number their events from 0 again after every flush, so the same
// line read again after a seek would come with a different number. Without the
// number it is recognisable.
QByteArray withoutReadOrder(const char *line)
{
    const char *comma = std::strchr(line, ',');
    return comma ? QByteArrayLiteral("0") + comma : QByteArray(line);
}

SubtitleEvent::Picture toPicture(const AVSubtitleRect *rect)
{
    if (rect->w <= 0 || rect->h <= 0 || rect->w > MaxPictureSide || rect->h > MaxPictureSide
        || !rect->data[0] || !rect->data[1] || rect->linesize[0] < rect->w
        || rect->nb_colors <= 0 || rect->nb_colors > 256)
        return {};
    const QImage indexed(rect->data[0], rect->w, rect->h, rect->linesize[0], QImage::Format_Indexed8);
    // FFmpeg's palette entries are 0xAARRGGBB, QRgb's own layout. Indices past the
    // palette are transparent rather than Qt's opaque black.
    QList<QRgb> palette(256, 0);
    std::memcpy(palette.data(), rect->data[1], size_t(rect->nb_colors) * sizeof(QRgb));
    QImage withPalette = indexed;
    withPalette.setColorTable(palette);
    SubtitleEvent::Picture picture;
    picture.image = withPalette.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    picture.position = QPoint(rect->x, rect->y);
    return picture;
}

// A copy of `packet`'s times and flags around other bytes; null when out of memory.
ffmpeg::PacketPtr withPayload(const AVPacket *packet, const QByteArray &payload)
{
    ffmpeg::PacketPtr copy(av_packet_alloc());
    if (!copy || av_new_packet(copy.get(), int(payload.size())) < 0 || av_packet_copy_props(copy.get(), packet) < 0)
        return nullptr;
    std::memcpy(copy->data, payload.constData(), size_t(payload.size()));
    return copy;
}

} // namespace

bool SubtitleDecoder::open(const AVCodecParameters *parameters, AVRational streamTimeBase, qint64 origin)
{
    close();
    failed = false;
    pendingError.clear();
    if (!parameters || parameters->codec_type != AVMEDIA_TYPE_SUBTITLE) {
        fail(tr("这条轨道不是字幕"));
        return false;
    }
    const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec) {
        fail(tr("不支持的字幕格式：%1").arg(QString::fromUtf8(avcodec_get_name(parameters->codec_id))));
        return false;
    }
    ffmpeg::CodecContextPtr fresh(avcodec_alloc_context3(codec));
    if (!fresh) {
        fail(tr("字幕解码器无法创建"));
        return false;
    }
    int ret = avcodec_parameters_to_context(fresh.get(), parameters);
    if (ret >= 0) {
        // Decoders time their events from the packets only when they know the
        // packets' time base.
        fresh->pkt_timebase = streamTimeBase;
        ret = avcodec_open2(fresh.get(), codec, nullptr);
    }
    if (ret < 0) {
        fail(tr("字幕解码器无法打开：%1").arg(ffmpeg::errorText(ret)));
        return false;
    }
    context = std::move(fresh);
    timeBase = streamTimeBase;
    originMs = origin;
    keepsReadOrder = parameters->codec_id == AV_CODEC_ID_ASS || parameters->codec_id == AV_CODEC_ID_SSA;
    const AVCodecDescriptor *descriptor = avcodec_descriptor_get(parameters->codec_id);
    pictures = descriptor && (descriptor->props & AV_CODEC_PROP_BITMAP_SUB);
    switch (parameters->codec_id) {
    case AV_CODEC_ID_SUBRIP:
    case AV_CODEC_ID_ASS:
    case AV_CODEC_ID_SSA:
    case AV_CODEC_ID_WEBVTT:
    case AV_CODEC_ID_TEXT:
        plainText = true;
        break;
    default:
        plainText = false;
    }
    return true;
}

void SubtitleDecoder::close()
{
    context.reset();
}

SubtitleFormat SubtitleDecoder::format() const
{
    SubtitleFormat format;
    if (!context)
        return format;
    if (pictures) {
        format.kind = SubtitleFormat::Kind::Pictures;
    } else {
        format.kind = SubtitleFormat::Kind::Text;
        // Set by every text decoder on opening: the stream's own header for ASS,
        // FFmpeg's default one (or mov_text's style) for the others.
        if (context->subtitle_header && context->subtitle_header_size > 0)
            format.assHeader = QByteArray(reinterpret_cast<const char *>(context->subtitle_header),
                                          context->subtitle_header_size);
    }
    return format;
}

QList<SubtitleEvent> SubtitleDecoder::decode(const AVPacket *packet)
{
    QList<SubtitleEvent> events;
    if (!context || !packet || packet->size <= 0)
        return events;
    // Matroska wants UTF-8 text, but files muxed from old GBK or Big5 subtitle
    // files carry those bytes unchanged, and FFmpeg rejects every such line. Read
    // in whatever encoding they are, they can be shown after all.
    ffmpeg::PacketPtr converted;
    if (plainText) {
        const SubtitleText text = decodeSubtitleText(
            QByteArray::fromRawData(reinterpret_cast<const char *>(packet->data), packet->size));
        if (text.encoding != "UTF-8")
            converted = withPayload(packet, text.text.toUtf8());
    }
    SubtitleHolder holder;
    int got = 0;
    // FFmpeg 5.1 declares the packet non-const but only reads it.
    const int ret = avcodec_decode_subtitle2(context.get(), &holder.subtitle, &got,
                                             const_cast<AVPacket *>(converted ? converted.get() : packet));
    if (ret < 0) {
        fail(tr("字幕有损坏，无法解码的部分已跳过：%1").arg(ffmpeg::errorText(ret)));
        return events;
    }
    if (!got)
        return events;

    const AVSubtitle &subtitle = holder.subtitle;
    if (subtitle.pts == AV_NOPTS_VALUE && packet->pts == AV_NOPTS_VALUE) {
        qCDebug(lcSubtitleDecoder) << "Dropped a subtitle without a time";
        return events;
    }
    const SubtitleEvent timing = toEvent(subtitle, packet);
    if (pictures) {
        SubtitleEvent event = timing;
        event.canvas = QSize(context->width, context->height);
        for (unsigned i = 0; i < subtitle.num_rects; ++i) {
            const AVSubtitleRect *rect = subtitle.rects[i];
            if (rect->type != SUBTITLE_BITMAP)
                continue;
            SubtitleEvent::Picture picture = toPicture(rect);
            if (!picture.image.isNull())
                event.pictures << picture;
        }
        events << event;
        return events;
    }
    for (unsigned i = 0; i < subtitle.num_rects; ++i) {
        const AVSubtitleRect *rect = subtitle.rects[i];
        SubtitleEvent event = timing;
        if (rect->type == SUBTITLE_ASS && rect->ass)
            event.assLine = keepsReadOrder ? QByteArray(rect->ass) : withoutReadOrder(rect->ass);
        else if (rect->type == SUBTITLE_TEXT && rect->text)
            event.assLine = plainTextLine(rect->text);
        if (event.isText())
            events << event;
    }
    return events;
}

SubtitleEvent SubtitleDecoder::toEvent(const AVSubtitle &subtitle, const AVPacket *packet) const
{
    const int64_t pts = subtitle.pts != AV_NOPTS_VALUE
        ? subtitle.pts
        : av_rescale_q(packet->pts, timeBase, AV_TIME_BASE_Q);
    const qint64 baseMs = av_rescale_rnd(pts, 1, 1000, AV_ROUND_NEAR_INF) - originMs;
    SubtitleEvent event;
    event.startMs = baseMs + subtitle.start_display_time;
    // Blu-ray subtitles say UINT32_MAX: they last until the next display set.
    if (subtitle.end_display_time != UINT32_MAX && subtitle.end_display_time > subtitle.start_display_time)
        event.endMs = baseMs + subtitle.end_display_time;
    else if (packet->duration > 0 && !pictures)
        event.endMs = baseMs + av_rescale_q(packet->duration, timeBase, AVRational{1, 1000});
    return event;
}

void SubtitleDecoder::flush()
{
    if (context)
        avcodec_flush_buffers(context.get());
}

QString SubtitleDecoder::takeError()
{
    return std::exchange(pendingError, QString());
}

void SubtitleDecoder::fail(const QString &message)
{
    if (failed) {
        qCDebug(lcSubtitleDecoder).noquote() << message;
        return;
    }
    qCWarning(lcSubtitleDecoder).noquote() << message;
    failed = true;
    pendingError = message;
}
