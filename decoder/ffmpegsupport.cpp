#include "decoder/ffmpegsupport.h"

#include <QByteArray>
#include <QDebug>

#include <cstring>
#include <initializer_list>
#include <limits>

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
}

namespace ffmpeg {

namespace {

// Bytes added to every row beyond the image's own width and to the end of the
// buffer. swscale's SIMD converters store whole blocks of pixels: with FFmpeg 5.1
// on AVX2, yuv420p of even height comes out in blocks of 16 pixels (up to 60 bytes
// past the end of every row, the last one included), other paths in blocks of 8.
// Twice the widest block leaves room for wider vectors.
constexpr int RowSlack = 128;
constexpr int TailSlack = 64;
constexpr int RowAlignment = 64;

void freeImageBuffer(void *buffer)
{
    av_free(buffer);
}

bool isYuv(const AVPixFmtDescriptor *desc)
{
    return !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL))
        && desc->nb_components >= 3;
}

bool isFullRangeFormat(AVPixelFormat format)
{
    switch (format) {
    case AV_PIX_FMT_YUVJ411P:
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ444P:
        return true;
    default:
        return false;
    }
}

int swsColorspace(AVColorSpace space)
{
    switch (space) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_FCC: return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    default: return SWS_CS_DEFAULT; // BT.601, also for untagged streams
    }
}

// Tells swscale which YUV matrix and range the frame uses, so that full-range and
// BT.709 material keep their colours. Only touches the converter when the frame's
// tags differ from what it is set to.
void applyColorDetails(SwsContext *converter, const AVFrame *frame, const AVPixFmtDescriptor *desc)
{
    if (!isYuv(desc))
        return;
    const int wantedRange = (frame->color_range == AVCOL_RANGE_JPEG
                             || isFullRangeFormat(static_cast<AVPixelFormat>(frame->format))) ? 1 : 0;
    const int *wantedTable = sws_getCoefficients(swsColorspace(frame->colorspace));

    int *invTable = nullptr;
    int *table = nullptr;
    int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
    if (sws_getColorspaceDetails(converter, &invTable, &srcRange, &table, &dstRange,
                                 &brightness, &contrast, &saturation) < 0)
        return;
    if (srcRange == wantedRange && invTable && std::memcmp(invTable, wantedTable, 4 * sizeof(int)) == 0)
        return;
    if (sws_setColorspaceDetails(converter, wantedTable, wantedRange, table, dstRange,
                                 brightness, contrast, saturation) < 0)
        qWarning() << "Could not set the colour details of the frame converter";
}

} // namespace

QString errorText(int errnum)
{
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(errnum, buffer, sizeof buffer) < 0)
        return QStringLiteral("Unknown error %1").arg(errnum);
    return QString::fromUtf8(buffer);
}

int openLocalInput(AVFormatContext **ctx, const QString &path, const AVIOInterruptCB *interrupt)
{
    *ctx = nullptr;
    if (interrupt) {
        // The callback must be in place before the open: avformat_open_input itself
        // reads, and reading a file on a stalled disk is what it has to end.
        *ctx = avformat_alloc_context();
        if (!*ctx)
            return AVERROR(ENOMEM);
        (*ctx)->interrupt_callback = *interrupt;
    }
    AVDictionary *options = nullptr;
    // The whitelist travels into every nested open (playlists, segments,
    // references), so a media file cannot pull anything but local files.
    int ret = av_dict_set(&options, "protocol_whitelist", "file", 0);
    if (ret < 0) {
        qWarning() << "Could not restrict input protocols:" << errorText(ret);
        avformat_free_context(*ctx);
        *ctx = nullptr;
        return ret;
    }
    // With the explicit "file:" scheme FFmpeg never reads a protocol name out of
    // the path itself: the file protocol strips the prefix and opens the rest
    // verbatim, colons and all.
    const QByteArray url = QByteArrayLiteral("file:") + path.toUtf8();
    // On failure avformat_open_input frees a context the caller allocated and nulls it.
    ret = avformat_open_input(ctx, url.constData(), nullptr, &options);
    av_dict_free(&options);
    if (ret < 0)
        *ctx = nullptr;
    return ret;
}

CodecContextPtr openDecoder(const AVCodecParameters *parameters, AVRational timeBase, int threadCount,
                            QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return CodecContextPtr();
    };
    if (!parameters)
        return fail(QStringLiteral("no stream parameters"));
    const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec)
        return fail(QStringLiteral("no decoder for %1").arg(QString::fromUtf8(avcodec_get_name(parameters->codec_id))));
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context)
        return fail(QStringLiteral("out of memory"));
    int ret = avcodec_parameters_to_context(context.get(), parameters);
    if (ret < 0)
        return fail(errorText(ret));
    context->pkt_timebase = timeBase;
    context->thread_count = threadCount;
    ret = avcodec_open2(context.get(), codec, nullptr);
    if (ret < 0)
        return fail(QStringLiteral("the %1 decoder: %2").arg(QString::fromUtf8(codec->name), errorText(ret)));
    return context;
}

namespace {

// The first non-blank value among `keys` in one dictionary (keys match in any case).
QString firstTag(const AVDictionary *tags, std::initializer_list<const char *> keys)
{
    for (const char *key : keys) {
        const AVDictionaryEntry *entry = av_dict_get(tags, key, nullptr, 0);
        if (entry && entry->value) {
            const QString value = QString::fromUtf8(entry->value).trimmed();
            if (!value.isEmpty())
                return value;
        }
    }
    return QString();
}

void fillTags(MediaTags &tags, const AVDictionary *dictionary)
{
    if (tags.title.isEmpty())
        tags.title = firstTag(dictionary, {"title"});
    if (tags.artist.isEmpty())
        tags.artist = firstTag(dictionary, {"artist", "album_artist", "performer"});
    if (tags.album.isEmpty())
        tags.album = firstTag(dictionary, {"album"});
}

} // namespace

MediaTags readTags(const AVFormatContext *context)
{
    MediaTags tags;
    if (!context)
        return tags;
    fillTags(tags, context->metadata);
    for (unsigned i = 0; i < context->nb_streams; ++i)
        fillTags(tags, context->streams[i]->metadata);
    return tags;
}

ImageLayout imageLayout(int width, int height)
{
    ImageLayout layout;
    if (width <= 0 || height <= 0)
        return layout;
    // Keep the arithmetic far away from int overflow: QImage takes qsizetype
    // strides but swscale wants int ones.
    const qint64 rowBytes = qint64(width) * 4 + RowSlack;
    const qint64 stride = (rowBytes + RowAlignment - 1) / RowAlignment * RowAlignment;
    const qint64 size = stride * height + TailSlack;
    if (stride > std::numeric_limits<int>::max() || size > std::numeric_limits<int>::max())
        return layout;
    layout.stride = int(stride);
    layout.size = size_t(size);
    return layout;
}

// Scales and converts into `buffer`, laid out as imageLayout(target) says.
static bool convertInto(SwsContext **converter, const AVFrame *frame, QSize target, uint8_t *buffer)
{
    if (!frame || !buffer || frame->width <= 0 || frame->height <= 0 || frame->format < 0 || target.isEmpty())
        return false;
    const auto format = static_cast<AVPixelFormat>(frame->format);
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(format);
    if (!desc || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL))
        return false;
    const ImageLayout layout = imageLayout(target.width(), target.height());
    if (layout.size == 0)
        return false;

    // Bilinear samples only a few source pixels for each one it writes, which at
    // more than a halving skips whole rows and columns; the area filter averages
    // them all.
    const bool largeReduction = target.width() * 2 < frame->width || target.height() * 2 < frame->height;
    const int flags = largeReduction ? SWS_AREA : SWS_BILINEAR;
    // Same source geometry, format and target: the cached context comes back
    // unchanged; otherwise the old one is freed and a fresh one made.
    SwsContext *context = sws_getCachedContext(*converter,
                                               frame->width, frame->height, format,
                                               target.width(), target.height(), AV_PIX_FMT_BGRA,
                                               flags, nullptr, nullptr, nullptr);
    *converter = context;
    if (!context) {
        qWarning() << "Could not create a frame converter for"
                   << frame->width << "x" << frame->height << av_get_pix_fmt_name(format)
                   << "to" << target;
        return false;
    }
    applyColorDetails(context, frame, desc);

    uint8_t *const dst[4] = {buffer, nullptr, nullptr, nullptr};
    const int dstStride[4] = {layout.stride, 0, 0, 0};
    const int rows = sws_scale(context, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    if (rows != target.height()) {
        qWarning() << "Frame conversion failed:" << (rows < 0 ? errorText(rows) : QStringLiteral("short output"));
        return false;
    }

    // RGB32 promises an opaque picture; sources with transparency would leave
    // their own alpha behind.
    if (desc->flags & (AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_PAL)) {
        for (int y = 0; y < target.height(); ++y) {
            uint8_t *row = buffer + qint64(y) * layout.stride;
            for (int x = 0; x < target.width(); ++x)
                row[x * 4 + 3] = 0xff;
        }
    }
    return true;
}

bool convertFrameInto(SwsContext **converter, const AVFrame *frame, uint8_t *buffer)
{
    return frame && convertInto(converter, frame, QSize(frame->width, frame->height), buffer);
}

ImagePool::~ImagePool()
{
    // Frees the pool once the last buffer still held by an image comes back.
    av_buffer_pool_uninit(&pool);
}

AVBufferRef *ImagePool::get(size_t size)
{
    if (size == 0 || size > size_t(std::numeric_limits<int>::max()))
        return nullptr;
    if (!pool || size != bufferSize) {
        av_buffer_pool_uninit(&pool);
        pool = av_buffer_pool_init(size, nullptr);
        bufferSize = pool ? size : 0;
        if (!pool)
            return nullptr;
    }
    return av_buffer_pool_get(pool);
}

namespace {

void releasePooledBuffer(void *info)
{
    auto *ref = static_cast<AVBufferRef *>(info);
    av_buffer_unref(&ref);
}

} // namespace

QImage convertFrame(SwsContext **converter, const AVFrame *frame, ImagePool *pool)
{
    if (!frame)
        return QImage();
    return convertFrameScaled(converter, frame, QSize(frame->width, frame->height), pool);
}

QImage convertFrameScaled(SwsContext **converter, const AVFrame *frame, QSize target, ImagePool *pool)
{
    if (!frame || frame->width <= 0 || frame->height <= 0 || target.isEmpty())
        return QImage();
    const ImageLayout layout = imageLayout(target.width(), target.height());
    if (layout.size == 0)
        return QImage();

    AVBufferRef *pooled = pool ? pool->get(layout.size) : nullptr;
    auto *buffer = pooled ? pooled->data : static_cast<uint8_t *>(av_malloc(layout.size));
    if (!buffer) {
        qWarning() << "Could not allocate a frame image of" << frame->width << "x" << frame->height;
        return QImage();
    }
    auto release = [&] {
        if (pooled)
            av_buffer_unref(&pooled);
        else
            av_free(buffer);
    };
    if (!convertInto(converter, frame, target, buffer)) {
        release();
        return QImage();
    }
    QImage image = pooled
        ? QImage(buffer, target.width(), target.height(), layout.stride, QImage::Format_RGB32,
                 releasePooledBuffer, pooled)
        : QImage(buffer, target.width(), target.height(), layout.stride, QImage::Format_RGB32,
                 freeImageBuffer, buffer);
    if (image.isNull()) {
        // QImage does not take the buffer when it refuses the geometry.
        release();
        return QImage();
    }
    return image;
}

} // namespace ffmpeg
