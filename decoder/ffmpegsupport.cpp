#include "decoder/ffmpegsupport.h"

#include <QByteArray>
#include <QDebug>

#include <cstring>
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
    AVDictionary *options = nullptr;
    // The whitelist travels into every nested open (playlists, segments,
    // references), so a media file cannot pull anything but local files.
    int ret = av_dict_set(&options, "protocol_whitelist", "file", 0);
    if (ret < 0) {
        qWarning() << "Could not restrict input protocols:" << errorText(ret);
        return ret;
    }
    if (interrupt) {
        // The callback has to be in place before the open, which already reads.
        *ctx = avformat_alloc_context();
        if (!*ctx) {
            av_dict_free(&options);
            return AVERROR(ENOMEM);
        }
        (*ctx)->interrupt_callback = *interrupt;
    }
    // With the explicit "file:" scheme FFmpeg never reads a protocol name out of
    // the path itself: the file protocol strips the prefix and opens the rest
    // verbatim, colons and all.
    const QByteArray url = QByteArrayLiteral("file:") + path.toUtf8();
    ret = avformat_open_input(ctx, url.constData(), nullptr, &options);
    av_dict_free(&options);
    if (ret < 0)
        *ctx = nullptr;
    return ret;
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

namespace {

// The conversion into a padded RGB32 buffer laid out as imageLayout(size) says.
bool scaleInto(SwsContext **converter, const AVFrame *frame, QSize size, uint8_t *buffer)
{
    if (!frame || !buffer || frame->width <= 0 || frame->height <= 0 || frame->format < 0)
        return false;
    const auto format = static_cast<AVPixelFormat>(frame->format);
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(format);
    if (!desc || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL))
        return false;
    const ImageLayout layout = imageLayout(size.width(), size.height());
    if (layout.size == 0)
        return false;

    // Same source geometry and format: the cached context comes back unchanged;
    // otherwise the old one is freed and a fresh one made.
    SwsContext *context = sws_getCachedContext(*converter,
                                               frame->width, frame->height, format,
                                               size.width(), size.height(), AV_PIX_FMT_BGRA,
                                               SWS_BILINEAR, nullptr, nullptr, nullptr);
    *converter = context;
    if (!context) {
        qWarning() << "Could not create a frame converter for"
                   << frame->width << "x" << frame->height << av_get_pix_fmt_name(format);
        return false;
    }
    applyColorDetails(context, frame, desc);

    uint8_t *const dst[4] = {buffer, nullptr, nullptr, nullptr};
    const int dstStride[4] = {layout.stride, 0, 0, 0};
    const int rows = sws_scale(context, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    if (rows != size.height()) {
        qWarning() << "Frame conversion failed:" << (rows < 0 ? errorText(rows) : QStringLiteral("short output"));
        return false;
    }

    // RGB32 promises an opaque picture; sources with transparency would leave
    // their own alpha behind.
    if (desc->flags & (AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_PAL)) {
        for (int y = 0; y < size.height(); ++y) {
            uint8_t *row = buffer + qint64(y) * layout.stride;
            for (int x = 0; x < size.width(); ++x)
                row[x * 4 + 3] = 0xff;
        }
    }
    return true;
}

} // namespace

bool convertFrameInto(SwsContext **converter, const AVFrame *frame, uint8_t *buffer)
{
    return frame && scaleInto(converter, frame, QSize(frame->width, frame->height), buffer);
}

QImage convertFrameToSize(SwsContext **converter, const AVFrame *frame, QSize size)
{
    const ImageLayout layout = imageLayout(size.width(), size.height());
    if (!frame || layout.size == 0)
        return QImage();
    auto *buffer = static_cast<uint8_t *>(av_malloc(layout.size));
    if (!buffer) {
        qWarning() << "Could not allocate an image of" << size;
        return QImage();
    }
    QImage image;
    if (scaleInto(converter, frame, size, buffer))
        image = QImage(buffer, size.width(), size.height(), layout.stride, QImage::Format_RGB32,
                       freeImageBuffer, buffer);
    // QImage does not take the buffer when it refuses the geometry.
    if (image.isNull())
        av_free(buffer);
    return image;
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
    if (!frame || frame->width <= 0 || frame->height <= 0)
        return QImage();
    const ImageLayout layout = imageLayout(frame->width, frame->height);
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
    if (!convertFrameInto(converter, frame, buffer)) {
        release();
        return QImage();
    }
    QImage image = pooled
        ? QImage(buffer, frame->width, frame->height, layout.stride, QImage::Format_RGB32,
                 releasePooledBuffer, pooled)
        : QImage(buffer, frame->width, frame->height, layout.stride, QImage::Format_RGB32,
                 freeImageBuffer, buffer);
    if (image.isNull()) {
        // QImage does not take the buffer when it refuses the geometry.
        release();
        return QImage();
    }
    return image;
}

} // namespace ffmpeg
