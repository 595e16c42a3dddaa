#pragma once

// Pieces of FFmpeg handling shared by the playback decoder and the thumbnail probe.

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace ffmpeg {

// The text FFmpeg gives for an error code (av_strerror).
QString errorText(int errnum);

// avformat_open_input restricted to the local file protocol: no path, argument or
// playlist inside a media file can make us read network or other-protocol resources.
// A path such as "concat:a.mp4" is opened as the local file of that name.
// With an interrupt callback, blocking reads give up as soon as it answers non-zero,
// from the open onwards. Returns FFmpeg's result; on failure *ctx is null.
int openLocalInput(AVFormatContext **ctx, const QString &path,
                   const AVIOInterruptCB *interrupt = nullptr);

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

// Converts a decoded frame straight into a fresh RGB32 image of the given size, in
// one swscale pass (no full-size copy first). Null when it cannot be converted.
QImage convertFrameToSize(SwsContext **converter, const AVFrame *frame, QSize size);

// Deleters for call-scoped FFmpeg objects.
struct FormatContextCloser { void operator()(AVFormatContext *c) const { avformat_close_input(&c); } };
struct CodecContextFreer { void operator()(AVCodecContext *c) const { avcodec_free_context(&c); } };
struct FrameFreer { void operator()(AVFrame *f) const { av_frame_free(&f); } };
struct PacketFreer { void operator()(AVPacket *p) const { av_packet_free(&p); } };
struct SwsFreer { void operator()(SwsContext *s) const { sws_freeContext(s); } };

using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextCloser>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;

} // namespace ffmpeg
