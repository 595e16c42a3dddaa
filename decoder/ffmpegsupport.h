#pragma once

// Pieces of FFmpeg handling shared by the playback decoder and the thumbnail probe.

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace ffmpeg {

// The text FFmpeg gives for an error code (av_strerror).
QString errorText(int errnum);

// avformat_open_input restricted to the local file protocol: no path, argument or
// playlist inside a media file can make us read network or other-protocol resources.
// A path such as "concat:a.mp4" is opened as the local file of that name.
// With an interrupt callback, a blocking open or any later read on the context ends
// as soon as the callback returns non-zero. Returns FFmpeg's result; on failure *ctx
// is null.
int openLocalInput(AVFormatContext **ctx, const QString &path, const AVIOInterruptCB *interrupt = nullptr);

// Deleters for call-scoped FFmpeg objects.
struct FormatContextCloser { void operator()(AVFormatContext *c) const { avformat_close_input(&c); } };
struct CodecContextFreer { void operator()(AVCodecContext *c) const { avcodec_free_context(&c); } };
struct FrameFreer { void operator()(AVFrame *f) const { av_frame_free(&f); } };
struct PacketFreer { void operator()(AVPacket *p) const { av_packet_free(&p); } };
struct SwsFreer { void operator()(SwsContext *s) const { sws_freeContext(s); } };
struct SwrFreer { void operator()(SwrContext *s) const { swr_free(&s); } };
struct CodecParametersFreer { void operator()(AVCodecParameters *p) const { avcodec_parameters_free(&p); } };
struct FilterGraphFreer { void operator()(AVFilterGraph *g) const { avfilter_graph_free(&g); } };

using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextCloser>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;
using CodecParametersPtr = std::unique_ptr<AVCodecParameters, CodecParametersFreer>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphFreer>;

// Recycles the memory of frame images of one size. A buffer goes back to the pool
// only when the last QImage sharing it is gone, so an image already handed out is
// never written again; what the pool saves is the page faults of fresh memory for
// every frame, which at 1080p cost more than the conversion itself.
class ImagePool
{
public:
    ImagePool() = default;
    ~ImagePool();
    ImagePool(const ImagePool &) = delete;
    ImagePool &operator=(const ImagePool &) = delete;

    // A buffer of `size` bytes, or null. The pool starts anew when the size changes;
    // buffers of the old size still out are freed when their images go.
    AVBufferRef *get(size_t size);

private:
    AVBufferPool *pool = nullptr;
    size_t bufferSize = 0;
};

// An opened decoder for one stream's parameters: frame threads as many as the machine
// has (threadCount 0) unless told otherwise, packet time base set so that frames carry
// usable timestamps. Null on failure, with the reason in *error when given.
CodecContextPtr openDecoder(const AVCodecParameters *parameters, AVRational timeBase,
                            int threadCount = 0, QString *error = nullptr);

// Converts a decoded frame into a fresh RGB32 image of the frame's own size.
// *converter is created on first use and re-created whenever the frame's size or
// pixel format differs from the one it was made for. The image's rows are padded
// so that optimised converters writing past the last pixel stay inside the buffer.
// With a pool, the image's memory comes from it. Returns a null image when the
// frame cannot be converted.
QImage convertFrame(SwsContext **converter, const AVFrame *frame, ImagePool *pool = nullptr);

// The padded RGB32 buffer convertFrame allocates for a frame: bytes per row and
// total bytes. Both are 0 for an impossible size.
struct ImageLayout {
    int stride = 0;
    size_t size = 0;
};
ImageLayout imageLayout(int width, int height);

// The conversion step of convertFrame, into caller memory of at least
// imageLayout(frame->width, frame->height).size bytes laid out as that says.
bool convertFrameInto(SwsContext **converter, const AVFrame *frame, uint8_t *buffer);

// Converts a decoded frame straight to the size it is shown at, in one swscale pass,
// so that painting it is a plain copy. Large reductions use an area filter, which
// averages every source pixel instead of sampling a few and so keeps fine detail
// from shimmering. Same contract as convertFrame otherwise.
QImage convertFrameScaled(SwsContext **converter, const AVFrame *frame, QSize target, ImagePool *pool = nullptr);

// What a file says about itself, for a media widget or a title: empty where it is
// silent. The container's tags come first; formats that keep them on a stream
// (Ogg, Opus) are read from the streams, in order.
struct MediaTags {
    QString title;
    QString artist;
    QString album;
};
MediaTags readTags(const AVFormatContext *context);

} // namespace ffmpeg
