#include "playback/videofilter.h"

#include "video/framegeometry.h"

#include <QLoggingCategory>
#include <QStringList>

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/pixdesc.h>
}

Q_LOGGING_CATEGORY(lcVideoFilter, "zeltora.videofilter", QtInfoMsg)

namespace {

// HDR reference white (BT.2408): the level graded as diffuse white, which SDR shows
// at full level. With it, mid-grey (26 nits) stays mid-grey once encoded for SDR.
constexpr double referenceWhiteNits = 203.0;
// The peak assumed when the stream does not say: HLG's nominal display, and what
// most PQ material is mastered for.
constexpr double defaultPeakNits = 1000.0;
constexpr double maxPeakNits = 10000.0;
// Below this share of reference white the tone curve is the identity.
constexpr double toneCurveKnee = 0.5;

bool isHdrTransfer(AVColorTransferCharacteristic transfer)
{
    return transfer == AVCOL_TRC_SMPTE2084 || transfer == AVCOL_TRC_ARIB_STD_B67;
}

// The brightest light the frame's metadata promises, in nits.
double peakNitsOf(const AVFrame *frame)
{
    double peak = 0;
    if (frame->color_trc == AVCOL_TRC_SMPTE2084) {
        if (const AVFrameSideData *side = av_frame_get_side_data(frame, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL)) {
            if (side->size >= sizeof(AVContentLightMetadata))
                peak = reinterpret_cast<const AVContentLightMetadata *>(side->data)->MaxCLL;
        }
        if (peak <= 0) {
            const AVFrameSideData *side = av_frame_get_side_data(frame, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA);
            if (side && side->size >= sizeof(AVMasteringDisplayMetadata)) {
                const auto *mastering = reinterpret_cast<const AVMasteringDisplayMetadata *>(side->data);
                if (mastering->has_luminance && mastering->max_luminance.den > 0)
                    peak = av_q2d(mastering->max_luminance);
            }
        }
    }
    if (!(peak > 0))
        peak = defaultPeakNits;
    // Whole nits: metadata noise must not rebuild the graph.
    return std::round(std::clamp(peak, referenceWhiteNits, maxPeakNits));
}

// zscale's colour options take FFmpeg's own enumeration values. Tags it cannot use,
// or none, mean what HDR video is made in: BT.2020.
int zscalePrimaries(AVColorPrimaries primaries)
{
    switch (primaries) {
    case AVCOL_PRI_BT709:
    case AVCOL_PRI_BT2020:
    case AVCOL_PRI_SMPTE431:
    case AVCOL_PRI_SMPTE432:
        return primaries;
    default:
        return AVCOL_PRI_BT2020;
    }
}

int zscaleMatrix(AVColorSpace matrix)
{
    switch (matrix) {
    case AVCOL_SPC_BT709:
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return matrix;
    default:
        return AVCOL_SPC_BT2020_NCL;
    }
}

// The tone curve, as an expression of a 12-bit PQ-encoded value giving a 12-bit SDR
// value: PQ to light in reference-white units, identity up to the knee, then the
// Mobius curve of FFmpeg's tonemap filter, which reaches SDR white exactly at the
// peak, and encoded for an SDR display (BT.1886, gamma 2.4). Applied to R, G and B
// alike it is a table built once, where the tonemap filter computes every pixel in
// floating point at three times the cost. PQ is perceptually even, so 12 bits of it
// show no steps.
QString toneCurve(double peakNits)
{
    const double peak = peakNits / referenceWhiteNits;
    const double j = toneCurveKnee;
    const double a = -j * j * (peak - 1.0) / (j * j - 2.0 * j + peak);
    const double b = (j * j - 2.0 * j * peak + peak) / std::max(peak - 1.0, 1e-6);
    const double scale = (b * b + 2.0 * b * j + j * j) / (b - a);
    const auto n = [](double v) { return QString::number(v, 'g', 12); };
    // SMPTE ST 2084's constants; st/ld keep each step to one evaluation. lutrgb
    // fills 65536 entries whatever the depth: those past 12 bits cost nothing.
    return QStringLiteral("if(gt(val,4095),4095,"
                          "st(0,pow(val/4095,%1));"
                          "st(1,%2*pow(max(ld(0)-%3,0)/(%4-%5*ld(0)),%6));"
                          "st(2,if(lte(ld(1),%7),ld(1),%8*(ld(1)+%9)/(ld(1)+%10)));"
                          "4095*pow(min(ld(2),1),1/2.4))")
        .arg(n(4096.0 / (2523.0 * 128.0)), n(10000.0 / referenceWhiteNits), n(3424.0 / 4096.0),
             n(2413.0 / 4096.0 * 32.0), n(2392.0 / 4096.0 * 32.0), n(16384.0 / 2610.0), n(j), n(scale))
        .arg(n(a), n(b));
}

QString orientationChain(Orientation orientation)
{
    // Mirrored left to right first, then turned clockwise (see Orientation).
    switch (orientation.rotation()) {
    case 90:
        return orientation.isMirrored() ? QStringLiteral("transpose=clock_flip") : QStringLiteral("transpose=clock");
    case 180:
        return orientation.isMirrored() ? QStringLiteral("vflip") : QStringLiteral("hflip,vflip");
    case 270:
        return orientation.isMirrored() ? QStringLiteral("transpose=cclock_flip") : QStringLiteral("transpose=cclock");
    default:
        return orientation.isMirrored() ? QStringLiteral("hflip") : QString();
    }
}

void freeInOut(AVFilterInOut *inOut)
{
    avfilter_inout_free(&inOut);
}

} // namespace

bool VideoFilter::Setup::operator==(const Setup &other) const
{
    return width == other.width && height == other.height && format == other.format
        && primaries == other.primaries && transfer == other.transfer && matrix == other.matrix
        && range == other.range && peakNits == other.peakNits && toneMappedSize == other.toneMappedSize
        && orientation == other.orientation && deinterlace == other.deinterlace;
}

VideoFilter::VideoFilter() = default;

VideoFilter::~VideoFilter() = default;

VideoFilter::StreamTraits VideoFilter::StreamTraits::of(const AVStream *stream)
{
    StreamTraits traits;
    if (!stream)
        return traits;
    if (stream->time_base.num > 0 && stream->time_base.den > 0)
        traits.timeBase = stream->time_base;
    if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0)
        traits.frameRate = stream->avg_frame_rate;
    traits.containerSar = stream->sample_aspect_ratio;
    if (stream->codecpar)
        traits.fieldOrder = stream->codecpar->field_order;
    traits.orientation = Orientation::fromStream(stream);
    return traits;
}

void VideoFilter::setStream(const AVStream *stream)
{
    setStream(StreamTraits::of(stream));
}

void VideoFilter::setStream(const StreamTraits &traits)
{
    dropGraph();
    flush();
    interlacedSeen = false;
    streamTimeBase = traits.timeBase.num > 0 && traits.timeBase.den > 0 ? traits.timeBase : AVRational{1, AV_TIME_BASE};
    frameRate = traits.frameRate;
    containerSar = traits.containerSar;
    fieldOrder = traits.fieldOrder;
    streamOrientation = traits.orientation;
    outTimeBase = av_mul_q(streamTimeBase, AVRational{1, 2});
}

VideoFilter::Setup VideoFilter::setupFor(const AVFrame *frame)
{
    Setup setup;
    setup.width = frame->width;
    setup.height = frame->height;
    setup.format = frame->format;
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    if (!desc || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL))
        return setup; // nothing here can work on pictures in video memory

    setup.orientation = Orientation::fromFrame(frame, streamOrientation);

    if (frame->interlaced_frame)
        interlacedSeen = true;
    if (frame->width >= 3 && frame->height >= 4) { // bwdif's smallest picture
        if (interlacedSeen) {
            setup.deinterlace = Deinterlace::FlaggedFrames;
        } else {
            // The container knows, the decoder does not flag: the field shown first.
            switch (fieldOrder) {
            case AV_FIELD_TT:
            case AV_FIELD_BT:
                setup.deinterlace = Deinterlace::AllTopFirst;
                break;
            case AV_FIELD_BB:
            case AV_FIELD_TB:
                setup.deinterlace = Deinterlace::AllBottomFirst;
                break;
            default:
                break;
            }
        }
    }

    // Colour tags matter only to tone mapping; elsewhere a change of tags must not
    // cost a new graph.
    if (isHdrTransfer(frame->color_trc)) {
        setup.transfer = frame->color_trc;
        setup.primaries = frame->color_primaries;
        setup.matrix = frame->colorspace;
        setup.range = frame->color_range;
        setup.peakNits = peakNitsOf(frame);
        setup.toneMappedSize = toneMappedSize(frame, setup.orientation);
    }
    return setup;
}

QSize VideoFilter::toneMappedSize(const AVFrame *frame, Orientation orientation) const
{
    if (targetSize.isEmpty())
        return QSize();
    // Compared in the coded orientation, with the sample aspect ratio applied: the
    // shrunk picture has about square pixels.
    const QSize shown = framegeometry::displaySize(QSize(frame->width, frame->height), frame->sample_aspect_ratio);
    const QSize target = orientation.swapsAxes() ? targetSize.transposed() : targetSize;
    const double factor = std::max(double(target.width()) / shown.width(), double(target.height()) / shown.height());
    if (factor >= 1.0)
        return QSize();
    const auto even = [](double length) { return std::max(2, 2 * int(std::lround(length / 2))); };
    return QSize(even(shown.width() * factor), even(shown.height() * factor));
}

QString VideoFilter::chainFor(const Setup &setup) const
{
    QStringList filters;
    // Fields first, while lines are still lines of the coded picture.
    switch (setup.deinterlace) {
    case Deinterlace::FlaggedFrames:
        filters << QStringLiteral("bwdif=mode=send_field:parity=auto:deint=interlaced");
        break;
    case Deinterlace::AllTopFirst:
        filters << QStringLiteral("bwdif=mode=send_field:parity=tff:deint=all");
        break;
    case Deinterlace::AllBottomFirst:
        filters << QStringLiteral("bwdif=mode=send_field:parity=bff:deint=all");
        break;
    case Deinterlace::None:
        break;
    }
    if (isHdrTransfer(setup.transfer)) {
        // Shrunk first to the size it is shown at, in its own format (cheap); to
        // PQ-encoded RGB in BT.709 primaries (HLG too: zscale goes through light);
        // the tone curve; BT.709 limited-range 4:2:0, swscale's cheapest input.
        if (setup.toneMappedSize.isValid())
            filters << QStringLiteral("scale=%1:%2:flags=bilinear")
                           .arg(setup.toneMappedSize.width()).arg(setup.toneMappedSize.height());
        filters << QStringLiteral("zscale=tin=%1:min=%2:pin=%3:rin=%4:t=smpte2084:p=bt709")
                       .arg(int(setup.transfer))
                       .arg(zscaleMatrix(setup.matrix))
                       .arg(zscalePrimaries(setup.primaries))
                       .arg(setup.range == AVCOL_RANGE_JPEG ? QStringLiteral("full") : QStringLiteral("limited"))
                << QStringLiteral("format=gbrp12le")
                << QStringLiteral("lutrgb=r='%1':g='%1':b='%1'").arg(toneCurve(setup.peakNits))
                << QStringLiteral("zscale=tin=bt709:pin=bt709:t=bt709:m=bt709:r=limited:d=ordered")
                << QStringLiteral("format=yuv420p");
    }
    // Turned last: on 8 bits where tone mapping made them, and bwdif saw real fields.
    const QString turn = orientationChain(setup.orientation);
    if (!turn.isEmpty())
        filters << turn;
    return filters.join(QLatin1Char(','));
}

bool VideoFilter::buildGraph(const Setup &setup, const AVFrame *frame)
{
    const QString wanted = chainFor(setup);
    if (wanted.isEmpty())
        return true;

    auto fail = [&](const char *what, int ret) {
        qCWarning(lcVideoFilter) << "Cannot set up the filter chain" << wanted << "-" << what
                                 << (ret < 0 ? ffmpeg::errorText(ret) : QString());
        dropGraph();
        return false;
    };

    graph.reset(avfilter_graph_alloc());
    if (!graph)
        return fail("out of memory", AVERROR(ENOMEM));
    graph->nb_threads = threadCount;

    QString args = QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=%4/%5:pixel_aspect=%6/%7")
                       .arg(setup.width).arg(setup.height).arg(setup.format)
                       .arg(streamTimeBase.num).arg(streamTimeBase.den)
                       .arg(frame->sample_aspect_ratio.num).arg(frame->sample_aspect_ratio.den);
    if (frameRate.num > 0)
        args += QStringLiteral(":frame_rate=%1/%2").arg(frameRate.num).arg(frameRate.den);
    int ret = avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "in",
                                           args.toUtf8().constData(), nullptr, graph.get());
    if (ret < 0)
        return fail("source", ret);
    ret = avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out",
                                       nullptr, nullptr, graph.get());
    if (ret < 0)
        return fail("sink", ret);

    // The chain's open input is fed by the source, its open output feeds the sink.
    std::unique_ptr<AVFilterInOut, decltype(&freeInOut)> sourceEnd(avfilter_inout_alloc(), freeInOut);
    std::unique_ptr<AVFilterInOut, decltype(&freeInOut)> sinkEnd(avfilter_inout_alloc(), freeInOut);
    if (!sourceEnd || !sinkEnd)
        return fail("out of memory", AVERROR(ENOMEM));
    sourceEnd->name = av_strdup("in");
    sourceEnd->filter_ctx = source;
    sinkEnd->name = av_strdup("out");
    sinkEnd->filter_ctx = sink;
    if (!sourceEnd->name || !sinkEnd->name)
        return fail("out of memory", AVERROR(ENOMEM));
    AVFilterInOut *inputs = sinkEnd.release();
    AVFilterInOut *outputs = sourceEnd.release();
    ret = avfilter_graph_parse_ptr(graph.get(), wanted.toUtf8().constData(), &inputs, &outputs, nullptr);
    freeInOut(inputs);
    freeInOut(outputs);
    if (ret < 0)
        return fail("parse", ret);
    ret = avfilter_graph_config(graph.get(), nullptr);
    if (ret < 0)
        return fail("configure", ret);

    chain = wanted;
    fieldRate = setup.deinterlace != Deinterlace::None;
    qCDebug(lcVideoFilter) << "Filtering" << setup.width << "x" << setup.height
                           << av_get_pix_fmt_name(static_cast<AVPixelFormat>(setup.format)) << "through" << chain;
    return true;
}

void VideoFilter::dropGraph()
{
    graph.reset();
    source = nullptr;
    sink = nullptr;
    chain.clear();
    fieldRate = false;
}

int VideoFilter::drainGraph()
{
    if (!graph)
        return 0;
    int ret = av_buffersrc_add_frame_flags(source, nullptr, 0);
    if (ret >= 0)
        ret = collect();
    if (ret < 0)
        qCWarning(lcVideoFilter) << "Draining the filter chain" << chain << "failed:" << ffmpeg::errorText(ret);
    return ret;
}

int VideoFilter::collect()
{
    const AVRational sinkTimeBase = av_buffersink_get_time_base(sink);
    for (;;) {
        ffmpeg::FramePtr out(av_frame_alloc());
        if (!out)
            return AVERROR(ENOMEM);
        const int ret = av_buffersink_get_frame(sink, out.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0)
            return ret;
        queueOutput(std::move(out), sinkTimeBase);
    }
}

void VideoFilter::queueOutput(ffmpeg::FramePtr frame, AVRational timeBase)
{
    if (frame->pts != AV_NOPTS_VALUE)
        frame->pts = av_rescale_q(frame->pts, timeBase, outTimeBase);
    // Durations stay in the stream's units through the filters; a field lasts half
    // its frame.
    if (frame->pkt_duration > 0)
        frame->pkt_duration = av_rescale_q(frame->pkt_duration, streamTimeBase, outTimeBase) / (fieldRate ? 2 : 1);
    frame->time_base = outTimeBase;
    // Applied here; nobody after us may turn the picture again.
    av_frame_remove_side_data(frame.get(), AV_FRAME_DATA_DISPLAYMATRIX);
    ready.push_back(std::move(frame));
}

int VideoFilter::push(AVFrame *frame)
{
    if (draining)
        return AVERROR_EOF;
    if (!ready.empty())
        return AVERROR(EAGAIN);
    if (!frame) {
        draining = true;
        return drainGraph();
    }

    if (frame->pts == AV_NOPTS_VALUE)
        frame->pts = frame->best_effort_timestamp;
    frame->sample_aspect_ratio = framegeometry::displaySampleAspectRatio(containerSar, frame->sample_aspect_ratio);

    const Setup setup = setupFor(frame);
    if (!haveSetup || !(setup == current)) {
        // What the old graph holds back comes out before the new pictures.
        drainGraph();
        dropGraph();
        current = setup;
        haveSetup = true;
        buildGraph(setup, frame); // on failure the frames pass through
    }

    if (graph) {
        // The graph takes a reference of its own, so the frame is still ours to
        // pass through if the graph fails on it.
        int ret = av_buffersrc_add_frame_flags(source, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
        if (ret >= 0)
            ret = collect();
        if (ret >= 0) {
            av_frame_unref(frame);
            return 0;
        }
        qCWarning(lcVideoFilter) << "The filter chain" << chain << "failed, showing the pictures as they are:"
                                 << ffmpeg::errorText(ret);
        dropGraph(); // `current` stays, so this stream's format is not tried again
    }

    ffmpeg::FramePtr passed(av_frame_alloc());
    if (!passed)
        return AVERROR(ENOMEM);
    av_frame_move_ref(passed.get(), frame);
    queueOutput(std::move(passed), streamTimeBase);
    return 0;
}

int VideoFilter::pull(AVFrame *frame)
{
    if (ready.empty())
        return draining ? AVERROR_EOF : AVERROR(EAGAIN);
    av_frame_move_ref(frame, ready.front().get());
    ready.pop_front();
    return 0;
}

void VideoFilter::flush()
{
    // Turning and tone mapping keep nothing from one picture to the next, so their
    // graph survives a seek: building one costs a 2160p HDR stream a few hundred
    // milliseconds of the worker. bwdif holds pictures back, and a drained graph
    // takes no more.
    if (fieldRate || draining)
        dropGraph();
    if (!graph)
        haveSetup = false;
    ready.clear();
    draining = false;
}

QImage VideoFilter::displayImage(const AVStream *stream, const AVFrame *frame, QSize target)
{
    ffmpeg::FramePtr in(frame ? av_frame_clone(frame) : nullptr);
    ffmpeg::FramePtr out(av_frame_alloc());
    if (!in || !out)
        return QImage();
    VideoFilter filter;
    filter.setStream(stream);
    filter.setTargetSize(target);
    if (filter.push(in.get()) < 0)
        return QImage();
    // bwdif gives its first field only once it knows the stream has ended.
    if (filter.pull(out.get()) < 0 && (filter.push(nullptr) < 0 || filter.pull(out.get()) < 0))
        return QImage();
    SwsContext *converter = nullptr;
    const QImage image = ffmpeg::convertFrame(&converter, out.get());
    sws_freeContext(converter);
    return orientedForDisplay(image, Orientation(), out->sample_aspect_ratio);
}

bool VideoFilter::needsFiltering() const
{
    return graph != nullptr;
}
