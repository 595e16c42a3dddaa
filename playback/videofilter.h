#pragma once

// Owning thread: the video worker that decodes the stream. Only that thread calls
// any member; the object shares nothing with other threads and touches only its own
// FFmpeg filter graph and the frames handed to it. FFmpeg may run slice threads of
// its own inside the graph (setThreadCount), joined before each call returns.

#include "decoder/ffmpegsupport.h"
#include "video/orientation.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <deque>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

struct AVFilterContext;
struct AVStream;

// Makes decoded pictures fit to be shown, between the decoder and the conversion
// to the screen's pixels:
//  - turns and mirrors them upright as the display matrix says,
//  - deinterlaces interlaced video at field rate (bwdif, one picture per field),
//  - tone-maps HDR video (PQ or HLG transfer) to BT.709 SDR, keeping mid-grey where
//    SDR video has it.
// Progressive SDR video that lies the right way up needs none of this and passes
// straight through: no graph, no copy, the decoder's own buffers come out.
//
// Usage mirrors FFmpeg's send/receive contract: setStream() once per stream, then
// push() each decoded frame and pull() until AVERROR(EAGAIN); push(nullptr) at the
// end of the stream and pull() until AVERROR_EOF; flush() on a seek.
//
// Output frames carry:
//  - pts (and pkt_duration) in outputTimeBase(), half the stream's time base, for
//    every path alike: field-rate output needs the finer steps, and timestamps stay
//    in one domain when the graph changes in mid-stream (also set in time_base);
//  - the sample aspect ratio to show them with (container over coded, sane; swapped
//    by a quarter turn), so framegeometry::displaySize(out size, out SAR) is the
//    shape to show, with no orientation left to apply (their display matrix is
//    removed);
//  - colour tags that describe them: the decoder's own unless tone-mapped, then
//    BT.709 limited-range yuv420p.
// Rotation and deinterlacing keep the pixel format, so swscale afterwards sees the
// same colours as without them.
class VideoFilter
{
public:
    // What the stream tells beyond its frames.
    struct StreamTraits
    {
        AVRational timeBase{1, AV_TIME_BASE};
        AVRational frameRate{0, 1};
        AVRational containerSar{0, 1};
        AVFieldOrder fieldOrder = AV_FIELD_UNKNOWN;
        Orientation orientation;
        static StreamTraits of(const AVStream *stream);
    };

    VideoFilter();
    ~VideoFilter();
    VideoFilter(const VideoFilter &) = delete;
    VideoFilter &operator=(const VideoFilter &) = delete;

    // Starts over for a new stream (frames still inside are dropped) and reads what
    // it tells beyond its frames: time base, frame rate, the container's sample
    // aspect ratio, field order and display matrix. Null: a bare stream of frames
    // with a time base of 1/AV_TIME_BASE.
    void setStream(const AVStream *stream);
    // The same from traits copied out of the stream, for a thread that does not own
    // the demuxer's context.
    void setStream(const StreamTraits &traits);

    // The size the pictures are shown at, in device pixels (the letter-box or cover
    // rectangle times the device pixel ratio); empty: unknown. Tone mapping is the
    // one costly step, so HDR pictures are shrunk to fit it before that step (and
    // come out with about square pixels); every other path ignores it, as swscale
    // scales afterwards anyway. A change rebuilds an HDR graph at the next frame.
    void setTargetSize(QSize size) { targetSize = size; }

    // Threads for FFmpeg's slice threading inside the graph; 0 (the default) lets
    // FFmpeg choose. Applies from the next graph built.
    void setThreadCount(int threads) { threadCount = threads; }

    // Takes the frame's references (the frame is left blank, ready for the decoder
    // again) or, with null, starts draining. Returns 0, AVERROR(EAGAIN) when output
    // must be pulled first, AVERROR_EOF after the drain was started, or another
    // error. A graph that fails is dropped for this stream's current format and the
    // frame passes through unchanged, so the picture stays on screen.
    int push(AVFrame *frame);

    // Moves the next output into `frame` (which must be blank). Returns 0,
    // AVERROR(EAGAIN) when more input is needed, AVERROR_EOF once drained.
    int pull(AVFrame *frame);

    // Drops everything held (bwdif keeps a picture back) for a seek; the stream's
    // settings stay. A graph without memory of past pictures is kept.
    void flush();

    // One picture as it is meant to be seen, for thumbnails and previews: through a
    // filter of its own (turned, deinterlaced, tone-mapped), converted to RGB32 and
    // stretched to its display size; `target` as in setTargetSize. The frame is not
    // changed. Null when it cannot be made.
    static QImage displayImage(const AVStream *stream, const AVFrame *frame, QSize target = QSize());

    // Whether the frames pushed last went through a filter graph (false before the
    // first frame).
    bool needsFiltering() const;
    AVRational outputTimeBase() const { return outTimeBase; }
    // The graph's filter chain, e.g. "bwdif=...,transpose=clock"; empty when passing
    // through. For the log and the tests.
    QString description() const { return chain; }

private:
    enum class Deinterlace { None, FlaggedFrames, AllTopFirst, AllBottomFirst };

    // Everything the graph is built from; a change means a new graph.
    struct Setup {
        int width = 0;
        int height = 0;
        int format = -1;
        AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
        AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
        AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
        AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
        double peakNits = 0;  // for tone mapping only
        QSize toneMappedSize; // invalid: as decoded
        Orientation orientation;
        Deinterlace deinterlace = Deinterlace::None;
        bool operator==(const Setup &other) const;
    };

    Setup setupFor(const AVFrame *frame);
    QSize toneMappedSize(const AVFrame *frame, Orientation orientation) const;
    QString chainFor(const Setup &setup) const;
    bool buildGraph(const Setup &setup, const AVFrame *frame);
    void dropGraph();
    int drainGraph();
    int collect();
    void queueOutput(ffmpeg::FramePtr frame, AVRational timeBase);

    // What the stream says.
    AVRational streamTimeBase{1, AV_TIME_BASE};
    AVRational frameRate{0, 1};
    AVRational containerSar{0, 1};
    AVFieldOrder fieldOrder = AV_FIELD_UNKNOWN;
    Orientation streamOrientation;
    AVRational outTimeBase{1, 2 * AV_TIME_BASE};
    int threadCount = 0;
    QSize targetSize;

    // Once a frame says it is interlaced the stream is deinterlaced to its end:
    // mixed streams would otherwise rebuild the graph at every switch.
    bool interlacedSeen = false;

    bool haveSetup = false;
    Setup current;
    ffmpeg::FilterGraphPtr graph;
    AVFilterContext *source = nullptr;
    AVFilterContext *sink = nullptr;
    QString chain;
    bool fieldRate = false;

    std::deque<ffmpeg::FramePtr> ready;
    bool draining = false;
};
