// What the picture filter stage (VideoFilter) costs the video worker: deinterlacing,
// tone mapping, turning. Prints one "RESULT key=value ..." line; bench_report runs it
// afresh for every run.
//
//   bench_filter CLIP [THREADS [WxH]]
//
// THREADS is the graph's slice threads: 1 keeps all filtering on the calling thread,
// 0 (the default) lets FFmpeg choose. WxH is the size the pictures are shown at
// (VideoFilter::setTargetSize), default none. Two passes:
//  - filter only: the first frames are decoded beforehand and kept, then pushed
//    through the filter one after another;
//  - decode included: the whole clip demuxed, decoded (all cores, as the player's
//    decoder does) and filtered frame by frame, the way the worker would.

#include "benchsupport.h"

#include "decoder/ffmpegsupport.h"
#include "playback/videofilter.h"

#include <QCoreApplication>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstdio>
#include <vector>

using bench::monotonicNs;
using bench::ResultLine;

namespace {

int fail(const char *what, const QString &detail = QString())
{
    std::fprintf(stderr, "bench_filter: %s %s\n", what, detail.toLocal8Bit().constData());
    return 1;
}

// Frames of the clip's best video stream, in order, until the end.
class FrameSource
{
public:
    QString open(const QString &path)
    {
        AVFormatContext *opened = nullptr;
        int ret = ffmpeg::openLocalInput(&opened, path);
        if (ret < 0)
            return ffmpeg::errorText(ret);
        format.reset(opened);
        if ((ret = avformat_find_stream_info(opened, nullptr)) < 0)
            return ffmpeg::errorText(ret);
        index = av_find_best_stream(opened, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (index < 0)
            return QStringLiteral("no video stream");
        stream = opened->streams[index];
        const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
        decoder.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
        packet.reset(av_packet_alloc());
        if (!decoder || !packet)
            return QStringLiteral("no decoder");
        if ((ret = avcodec_parameters_to_context(decoder.get(), stream->codecpar)) < 0)
            return ffmpeg::errorText(ret);
        decoder->pkt_timebase = stream->time_base;
        decoder->thread_count = 0;
        if ((ret = avcodec_open2(decoder.get(), codec, nullptr)) < 0)
            return ffmpeg::errorText(ret);
        return QString();
    }

    // 0 with a frame, AVERROR_EOF at the end, another error on failure.
    int next(AVFrame *frame)
    {
        for (;;) {
            int ret = avcodec_receive_frame(decoder.get(), frame);
            if (ret != AVERROR(EAGAIN))
                return ret;
            ret = av_read_frame(format.get(), packet.get());
            if (ret < 0) {
                ret = avcodec_send_packet(decoder.get(), nullptr);
                if (ret < 0 && ret != AVERROR_EOF)
                    return ret;
                continue;
            }
            if (packet->stream_index == index)
                avcodec_send_packet(decoder.get(), packet.get());
            av_packet_unref(packet.get());
        }
    }

    const AVStream *stream = nullptr;

private:
    ffmpeg::FormatContextPtr format;
    ffmpeg::CodecContextPtr decoder;
    ffmpeg::PacketPtr packet;
    int index = -1;
};

// Pulls everything ready; returns how many frames came out.
int pullAll(VideoFilter &filter, AVFrame *out)
{
    int frames = 0;
    while (filter.pull(out) == 0) {
        ++frames;
        av_frame_unref(out);
    }
    return frames;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return fail("usage: bench_filter CLIP [THREADS [WxH]]");
    const QString clip = QString::fromLocal8Bit(argv[1]);
    const int threads = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 0;
    const QStringList target = argc > 3 ? QString::fromLocal8Bit(argv[3]).split(QLatin1Char('x')) : QStringList();
    const QSize targetSize = target.size() == 2 ? QSize(target[0].toInt(), target[1].toInt()) : QSize();
    const ffmpeg::FramePtr frame(av_frame_alloc());
    const ffmpeg::FramePtr out(av_frame_alloc());
    if (!frame || !out)
        return fail("out of memory");

    // Filter only. Kept frames are limited to about 600 MB of pictures.
    FrameSource source;
    QString error = source.open(clip);
    if (!error.isEmpty())
        return fail("cannot open", clip + QLatin1Char(' ') + error);
    std::vector<ffmpeg::FramePtr> kept;
    size_t keep = 50;
    while (kept.size() < keep && source.next(frame.get()) == 0) {
        const int bytes = av_image_get_buffer_size(static_cast<AVPixelFormat>(frame->format), frame->width,
                                                   frame->height, 1);
        keep = std::min<size_t>(50, size_t(qMax(4, 600 * 1024 * 1024 / qMax(bytes, 1))));
        kept.emplace_back(av_frame_clone(frame.get()));
        av_frame_unref(frame.get());
    }
    if (kept.empty())
        return fail("no frames in", clip);
    const AVFrame *first = kept.front().get();
    const char *formatName = av_get_pix_fmt_name(static_cast<AVPixelFormat>(first->format));
    const QString input = QStringLiteral("%1x%2_%3").arg(first->width).arg(first->height)
                              .arg(QString::fromLatin1(formatName ? formatName : "?"));

    VideoFilter filter;
    filter.setThreadCount(threads);
    filter.setTargetSize(targetSize);
    filter.setStream(source.stream);
    std::vector<double> perInput;
    int filteredOut = 0;
    const qint64 filterStart = monotonicNs();
    const double filterCpuStart = bench::processCpuSeconds();
    for (ffmpeg::FramePtr &picture : kept) {
        const qint64 t0 = monotonicNs();
        if (filter.push(picture.get()) < 0)
            return fail("the filter refused a frame");
        filteredOut += pullAll(filter, out.get());
        perInput.push_back(double(monotonicNs() - t0) / 1e6);
    }
    filter.push(nullptr);
    filteredOut += pullAll(filter, out.get());
    const double filterMs = double(monotonicNs() - filterStart) / 1e6;
    const double filterCpuMs = (bench::processCpuSeconds() - filterCpuStart) * 1000.0;
    const QString chain = filter.needsFiltering() ? filter.description() : QStringLiteral("none");
    const double outPerIn = double(filteredOut) / double(kept.size());
    kept.clear();

    // Decode included: the whole clip, frame by frame.
    FrameSource whole;
    error = whole.open(clip);
    if (!error.isEmpty())
        return fail("cannot open", clip + QLatin1Char(' ') + error);
    filter.setStream(whole.stream);
    const double rate = av_q2d(whole.stream->avg_frame_rate);
    int framesIn = 0, framesOut = 0;
    const qint64 wholeStart = monotonicNs();
    const double wholeCpuStart = bench::processCpuSeconds();
    while (whole.next(frame.get()) == 0) {
        ++framesIn;
        if (filter.push(frame.get()) < 0)
            return fail("the filter refused a frame");
        framesOut += pullAll(filter, out.get());
    }
    filter.push(nullptr);
    framesOut += pullAll(filter, out.get());
    const double wholeSeconds = bench::secondsSince(wholeStart);
    const double wholeCpuSeconds = bench::processCpuSeconds() - wholeCpuStart;
    const double clipSeconds = rate > 0 ? framesIn / rate : 0;

    ResultLine()
        .add(QStringLiteral("input"), input)
        .add(QStringLiteral("chain"), chain)
        .add(QStringLiteral("threads"), threads, 0)
        .add(QStringLiteral("out_per_in"), outPerIn, 2)
        .add(QStringLiteral("budget_ms"), rate > 0 ? 1000.0 / (rate * outPerIn) : 0)
        .add(QStringLiteral("filter_ms"), filterMs / filteredOut)
        .add(QStringLiteral("filter_cpu_ms"), filterCpuMs / filteredOut)
        .add(QStringLiteral("first_ms"), perInput.front())
        .add(QStringLiteral("filter_worst_ms"), bench::percentile(std::vector<double>(perInput.begin() + 1, perInput.end()), 100) / outPerIn)
        .add(QStringLiteral("frames_in"), framesIn, 0)
        .add(QStringLiteral("frames_out"), framesOut, 0)
        .add(QStringLiteral("whole_ms"), wholeSeconds * 1000.0 / framesOut)
        .add(QStringLiteral("whole_cpu_ms"), wholeCpuSeconds * 1000.0 / framesOut)
        .add(QStringLiteral("realtime"), wholeSeconds > 0 ? clipSeconds / wholeSeconds : 0)
        .print();
    return 0;
}
