// Measurements taken inside the player's own code, one kind per run of this program.
// Each mode prints one "RESULT key=value ..." line; bench_report runs the modes in
// fresh processes, repeats them and sets them beside the reference tools.
//
//   bench_player throughput CLIP        decode and convert a whole clip as fast as it goes
//   bench_player stages CLIP            cost per frame of decode, conversion and paint
//   bench_player play CLIP SECONDS [sweep]
//                                       play in the real window and watch the frames arrive;
//                                       with sweep, the pointer sweeps the position slider
//                                       at 20 Hz all along, asking for previews
//   bench_player startup CLIP [SPAWNNS] process start to the first frame on screen
//   bench_player open CLIP              thumbnail probe and loadMedia of one file

#include "benchsupport.h"

#include "app/loadstylesheet.h"
#include "decoder/ffmpegdecoder.h"
#include "playback/playbackcontroller.h"
#include "decoder/ffmpegsupport.h"
#include "mainwindow/zeltorawindow.h"
#include "playlist/playlistmodel.h"
#include "playlist/thumbnailprobe.h"
#include "video/framegeometry.h"
#include "video/framereduction.h"
#include "video/videowidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QImage>
#include <QMouseEvent>
#include <QTimer>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using bench::monotonicNs;
using bench::ResultLine;

class ZeltoraWindowTestAccess
{
public:
    explicit ZeltoraWindowTestAccess(ZeltoraWindow &w) : w(w) {}

    VideoWidget *videoWidget() const { return w.videoWidget; }
    PlaybackController *player() const { return w.player; }
    quint64 framesShown() const { return w.player->framesShown(); }
    quint64 framesDropped() const { return w.player->framesDropped(); }
    qint64 lastShownPts() const { return w.player->lastShownPts(); }

private:
    ZeltoraWindow &w;
};

namespace {

int fail(const char *what, const QString &detail = QString())
{
    std::fprintf(stderr, "bench_player: %s %s\n", what, detail.toLocal8Bit().constData());
    return 1;
}

// Lets the offscreen window be shown, laid out and painted once.
void settle(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// ---------------------------------------------------------------------------------
// throughput: the decoder exactly as the window drives it, minus the waiting.

int runThroughput(const QString &clip)
{
    const qint64 startNs = monotonicNs();
    const double cpuStart = bench::processCpuSeconds();

    FFmpegDecoder decoder;
    bool finished = false;
    int frames = 0;
    int nullsInRow = 0;
    QObject::connect(&decoder, &FFmpegDecoder::playbackFinished, [&] { finished = true; });
    QObject::connect(&decoder, &FFmpegDecoder::frameReady, [&](const QImage &frame) {
        if (frame.isNull()) {
            ++nullsInRow;
        } else {
            ++frames;
            nullsInRow = 0;
        }
    });
    if (!decoder.open(clip))
        return fail("cannot open", clip);
    const double openSeconds = bench::secondsSince(startNs);
    const qint64 decodeStartNs = monotonicNs();

    // A decoder that never announces the end must not keep the run going for ever.
    while (!finished && nullsInRow < 1000)
        decoder.decodeVideoFrame();

    const double decodeSeconds = bench::secondsSince(decodeStartNs);
    const double totalSeconds = bench::secondsSince(startNs);
    const double nominalFrames = double(decoder.duration()) / 1000.0 * decoder.frameRate();
    ResultLine()
        .add(QStringLiteral("frames"), frames, 0)
        .add(QStringLiteral("nominal_frames"), nominalFrames, 1)
        .add(QStringLiteral("finished"), finished ? 1 : 0, 0)
        .add(QStringLiteral("open_s"), openSeconds)
        .add(QStringLiteral("decode_s"), decodeSeconds)
        .add(QStringLiteral("total_s"), totalSeconds)
        .add(QStringLiteral("fps"), frames / totalSeconds, 1)
        .add(QStringLiteral("cpu_s"), bench::processCpuSeconds() - cpuStart)
        .print();
    return 0;
}

// ---------------------------------------------------------------------------------
// stages: the same work taken apart. Decoding runs alone (no conversion in between,
// so its threads have the machine); conversion and paint then run on frames kept
// from that pass.

struct DecodePass {
    int frames = 0;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    int width = 0;
    int height = 0;
    QString pixelFormat;
    QString codec;
    std::vector<ffmpeg::FramePtr> samples;
};

bool failed(const char *what, const QString &detail = QString())
{
    fail(what, detail);
    return false;
}

bool decodeWhole(const QString &clip, size_t maxSamples, DecodePass &pass)
{
    const qint64 startNs = monotonicNs();
    const double cpuStart = bench::processCpuSeconds();

    AVFormatContext *opened = nullptr;
    int ret = ffmpeg::openLocalInput(&opened, clip);
    if (ret < 0)
        return failed("cannot open", clip + QLatin1Char(' ') + ffmpeg::errorText(ret));
    const ffmpeg::FormatContextPtr format(opened);
    ret = avformat_find_stream_info(format.get(), nullptr);
    if (ret < 0)
        return failed("no stream info", ffmpeg::errorText(ret));
    const int streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (streamIndex < 0)
        return failed("no video stream", clip);
    const AVStream *stream = format->streams[streamIndex];
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        return failed("no decoder", clip);
    const ffmpeg::CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder)
        return failed("out of memory");
    ret = avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    if (ret < 0)
        return failed("decoder parameters", ffmpeg::errorText(ret));
    decoder->pkt_timebase = stream->time_base;
    decoder->thread_count = 0; // as the player's decoder does
    ret = avcodec_open2(decoder.get(), codec, nullptr);
    if (ret < 0)
        return failed("cannot open decoder", ffmpeg::errorText(ret));

    const ffmpeg::FramePtr frame(av_frame_alloc());
    const ffmpeg::PacketPtr packet(av_packet_alloc());
    if (!frame || !packet)
        return failed("out of memory");

    const double rate = av_q2d(stream->avg_frame_rate);
    const double seconds = format->duration > 0 ? double(format->duration) / AV_TIME_BASE : 10.0;
    const int nominal = rate > 0 ? int(seconds * rate) : 250;
    const int step = qMax(1, nominal / int(maxSamples));

    bool inputDone = false;
    for (;;) {
        ret = avcodec_receive_frame(decoder.get(), frame.get());
        if (ret == 0) {
            if (pass.frames == 0) {
                pass.width = frame->width;
                pass.height = frame->height;
                const char *name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
                pass.pixelFormat = QString::fromLatin1(name ? name : "?");
            }
            if (pass.frames % step == 0 && pass.samples.size() < maxSamples)
                pass.samples.emplace_back(av_frame_clone(frame.get()));
            ++pass.frames;
            av_frame_unref(frame.get());
            continue;
        }
        if (ret == AVERROR_EOF)
            break;
        if (ret != AVERROR(EAGAIN))
            return failed("decoding failed", ffmpeg::errorText(ret));
        if (inputDone)
            break;
        ret = av_read_frame(format.get(), packet.get());
        if (ret < 0) {
            inputDone = true;
            ret = avcodec_send_packet(decoder.get(), nullptr);
            if (ret < 0 && ret != AVERROR_EOF)
                return failed("cannot drain", ffmpeg::errorText(ret));
            continue;
        }
        if (packet->stream_index == streamIndex) {
            ret = avcodec_send_packet(decoder.get(), packet.get());
            if (ret < 0)
                std::fprintf(stderr, "packet refused: %s\n", ffmpeg::errorText(ret).toLocal8Bit().constData());
        }
        av_packet_unref(packet.get());
    }

    pass.wallSeconds = bench::secondsSince(startNs);
    pass.cpuSeconds = bench::processCpuSeconds() - cpuStart;
    pass.codec = QString::fromLatin1(codec->name);
    return pass.frames > 0 && !pass.samples.empty();
}

// Measures fn once per call, at least minCalls calls and at least minMs in total,
// after one unmeasured warm-up call; returns the median in milliseconds.
template<typename Fn>
double medianMs(int minCalls, double minMs, Fn fn)
{
    fn(0);
    std::vector<double> times;
    double total = 0;
    for (int i = 0; int(times.size()) < minCalls || total < minMs; ++i) {
        const qint64 t0 = monotonicNs();
        fn(i);
        const double ms = double(monotonicNs() - t0) / 1e6;
        times.push_back(ms);
        total += ms;
        if (times.size() > 2000)
            break;
    }
    return bench::median(times);
}

class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

int runStages(int argc, char **argv, const QString &clip)
{
    QApplication app(argc, argv);
    loadStyleSheet(app);

    DecodePass pass;
    if (!decodeWhole(clip, 12, pass))
        return fail("decode pass failed", clip);

    // Conversion as the decoder does it: a fresh image for every frame from its pool
    // of recycled buffers, one converter kept for the whole clip.
    SwsContext *converter = nullptr;
    ffmpeg::ImagePool pool;
    std::vector<QImage> images;
    for (const auto &sample : pass.samples)
        images.push_back(ffmpeg::convertFrame(&converter, sample.get()));
    const size_t n = pass.samples.size();
    // Playback keeps a few frames alive at once (pending, current, the widget's); a
    // ring of three reproduces that. Without the pool each new frame would land in
    // memory just obtained from the system ("no pool").
    QImage held[3];
    const double convertMs = medianMs(24, 300, [&](int i) {
        held[i % 3] = ffmpeg::convertFrame(&converter, pass.samples[size_t(i) % n].get(), &pool);
    });
    for (QImage &image : held)
        image = QImage();
    const double convertNoPoolMs = medianMs(24, 300, [&](int i) {
        held[i % 3] = ffmpeg::convertFrame(&converter, pass.samples[size_t(i) % n].get());
    });
    for (QImage &image : held)
        image = QImage();
    const double convertFreedMs = medianMs(24, 300, [&](int i) {
        const QImage image = ffmpeg::convertFrame(&converter, pass.samples[size_t(i) % n].get());
        Q_UNUSED(image)
    });
    // The same conversion into one reused buffer: what allocating per frame costs.
    const ffmpeg::ImageLayout layout = ffmpeg::imageLayout(pass.width, pass.height);
    std::vector<uint8_t> buffer(layout.size);
    const double convertIntoMs = medianMs(24, 300, [&](int i) {
        ffmpeg::convertFrameInto(&converter, pass.samples[size_t(i) % n].get(), buffer.data());
    });
    sws_freeContext(converter);

    // The widget alone, rendered into an image of its own size.
    const QSize widgetSize(780, 440);
    VideoWidget widget;
    widget.resize(widgetSize);
    QImage target(widgetSize, QImage::Format_ARGB32_Premultiplied);
    const double paintMs = medianMs(24, 300, [&](int i) {
        widget.setFrame(images[size_t(i) % images.size()]);
        widget.render(&target);
    });
    // Inside that paint: the 2x2 averaging done before the painter scales.
    const QSize letterbox = framegeometry::letterboxRect(images.front().size(), widgetSize).size();
    const double reduceMs = medianMs(24, 300, [&](int i) {
        const QImage reduced = framereduction::reducedFor(images[size_t(i) % images.size()], letterbox);
        Q_UNUSED(reduced)
    });
    // For comparison: Qt's own area-averaging downscale straight to the letter-box size.
    const double qtScaleMs = medianMs(24, 300, [&](int i) {
        const QImage scaled = images[size_t(i) % images.size()].scaled(letterbox, Qt::IgnoreAspectRatio,
                                                                        Qt::SmoothTransformation);
        Q_UNUSED(scaled)
    });

    // The widget inside the shown window: the repaint goes through the window's
    // backing store and the shadow effect on the central widget, as in playback.
    ZeltoraWindow window;
    ZeltoraWindowTestAccess access(window);
    window.show();
    settle(300);
    VideoWidget *inWindow = access.videoWidget();
    PaintCounter counter;
    inWindow->installEventFilter(&counter);
    const double windowPaintMs = medianMs(24, 300, [&](int i) {
        inWindow->setFrame(images[size_t(i) % images.size()]);
        inWindow->repaint();
    });
    const QSize windowVideoSize = inWindow->size();
    const int windowPaints = counter.paints;

    ResultLine()
        .add(QStringLiteral("codec"), pass.codec)
        .add(QStringLiteral("pix_fmt"), pass.pixelFormat)
        .add(QStringLiteral("width"), pass.width, 0)
        .add(QStringLiteral("height"), pass.height, 0)
        .add(QStringLiteral("frames"), pass.frames, 0)
        .add(QStringLiteral("decode_ms"), pass.wallSeconds * 1000.0 / pass.frames)
        .add(QStringLiteral("decode_cpu_ms"), pass.cpuSeconds * 1000.0 / pass.frames)
        .add(QStringLiteral("convert_ms"), convertMs)
        .add(QStringLiteral("convert_nopool_ms"), convertNoPoolMs)
        .add(QStringLiteral("convert_freed_ms"), convertFreedMs)
        .add(QStringLiteral("convert_into_ms"), convertIntoMs)
        .add(QStringLiteral("paint_ms"), paintMs)
        .add(QStringLiteral("reduce_ms"), reduceMs)
        .add(QStringLiteral("qt_scale_ms"), qtScaleMs)
        .add(QStringLiteral("paint_size"), QStringLiteral("%1x%2").arg(widgetSize.width()).arg(widgetSize.height()))
        .add(QStringLiteral("window_paint_ms"), windowPaintMs)
        .add(QStringLiteral("window_video_size"),
             QStringLiteral("%1x%2").arg(windowVideoSize.width()).arg(windowVideoSize.height()))
        .add(QStringLiteral("window_paints"), windowPaints, 0)
        .print();
    return 0;
}

// ---------------------------------------------------------------------------------
// play: the real window plays the clip; every paint of the video widget that puts
// a new frame on screen is recorded with its time and the frame's timestamp.

struct ShownFrame {
    qint64 wallNs;
    qint64 pts;
    quint64 newFrames; // frames the window showed since the previous paint (1 unless one was never painted)
};

class FrameRecorder : public QObject
{
public:
    explicit FrameRecorder(ZeltoraWindowTestAccess &access) : access(access) {}

    std::vector<ShownFrame> shown;
    qint64 firstPaintNs = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            const quint64 count = access.framesShown();
            if (count != lastCount) {
                const qint64 now = monotonicNs();
                if (shown.empty())
                    firstPaintNs = now;
                shown.push_back({now, access.lastShownPts(), count - lastCount});
                lastCount = count;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    ZeltoraWindowTestAccess &access;
    quint64 lastCount = 0;
};

// Times chosen event deliveries on the GUI thread: everything the decoder does runs
// inside a queued call to it, every repaint inside an update request to the window.
class TimingApplication : public QApplication
{
public:
    using QApplication::QApplication;

    static constexpr int Slots = 3;
    double totalMs[Slots] = {};
    double calls[Slots] = {};

    void watch(QObject *receiver, QEvent::Type type, int slot)
    {
        if (receiver)
            watched.push_back({receiver, type, slot});
    }

    bool notify(QObject *receiver, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        for (const Watch &w : watched) {
            if (w.receiver == receiver && w.type == type) {
                const qint64 t0 = monotonicNs();
                const bool result = QApplication::notify(receiver, event);
                totalMs[w.slot] += double(monotonicNs() - t0) / 1e6;
                calls[w.slot] += 1;
                return result;
            }
        }
        return QApplication::notify(receiver, event);
    }

private:
    struct Watch {
        QObject *receiver;
        QEvent::Type type;
        int slot;
    };
    std::vector<Watch> watched;
};

// Hover moves over the position slider at 20 Hz, across it and back every 4 s, as a
// pointer sweeping the slider in search of a place; each asks for a preview.
class SliderSweep : public QObject
{
public:
    explicit SliderSweep(QWidget *slider) : slider(slider)
    {
        connect(&timer, &QTimer::timeout, this, [this] { move(); });
        timer.start(50);
    }
    int moves = 0;

private:
    void move()
    {
        const int steps = 40; // there, then back
        const int step = moves % (2 * steps);
        const double along = (step < steps ? step : 2 * steps - step) / double(steps);
        const QPointF at(1 + along * (slider->width() - 3), slider->height() / 2.0);
        QMouseEvent event(QEvent::MouseMove, at, slider->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(slider, &event);
        ++moves;
    }

    QWidget *slider;
    QTimer timer;
};

int runPlay(int argc, char **argv, const QString &clip, double seconds, bool sweep)
{
    TimingApplication app(argc, argv);
    loadStyleSheet(app);
    ZeltoraWindow window;
    ZeltoraWindowTestAccess access(window);
    window.show();
    settle(300);

    FrameRecorder recorder(access);
    access.videoWidget()->installEventFilter(&recorder);
    app.watch(access.player(), QEvent::MetaCall, 0);
    app.watch(access.videoWidget(), QEvent::Paint, 1);
    app.watch(&window, QEvent::UpdateRequest, 2);

    window.loadMedia(clip);
    if (!access.player()->isOpen())
        return fail("cannot open", clip);
    const double fps = access.player()->frameRate();

    const quint64 droppedBefore = access.framesDropped();
    const quint64 shownBefore = access.framesShown();
    const double cpuStart = bench::processCpuSeconds();
    const qint64 startNs = monotonicNs();
    window.play();
    std::unique_ptr<SliderSweep> sweeper;
    if (sweep)
        sweeper = std::make_unique<SliderSweep>(window.findChild<QWidget *>(QStringLiteral("positionSlider")));
    QTimer::singleShot(int(seconds * 1000), &app, &QCoreApplication::quit);
    app.exec();
    const double wallSeconds = bench::secondsSince(startNs);
    const double cpuSeconds = bench::processCpuSeconds() - cpuStart;

    const auto &shown = recorder.shown;
    if (shown.size() < 3)
        return fail("too few frames shown", clip);

    const double ideal = fps > 0 ? 1000.0 / fps : 0;
    std::vector<double> intervals;
    quint64 unpainted = 0;
    for (size_t i = 1; i < shown.size(); ++i) {
        intervals.push_back(double(shown[i].wallNs - shown[i - 1].wallNs) / 1e6);
        unpainted += shown[i].newFrames - 1;
    }
    const double mediaMs = double(shown.back().pts - shown.front().pts);
    const double wallMs = double(shown.back().wallNs - shown.front().wallNs) / 1e6;
    const double expected = ideal > 0 ? mediaMs / ideal + 1.0 : 0;
    const QSize videoSize = access.videoWidget()->size();
    auto perSecond = [&](int slot) { return app.totalMs[slot] / wallSeconds; };

    ResultLine()
        .add(QStringLiteral("fps"), fps)
        .add(QStringLiteral("ideal_ms"), ideal)
        .add(QStringLiteral("speed"), mediaMs / wallMs, 4)
        .add(QStringLiteral("media_ms"), mediaMs, 0)
        .add(QStringLiteral("wall_ms"), wallMs, 1)
        .add(QStringLiteral("first_frame_ms"), double(recorder.firstPaintNs - startNs) / 1e6, 1)
        .add(QStringLiteral("shown"), double(access.framesShown() - shownBefore), 0)
        .add(QStringLiteral("painted"), double(shown.size()), 0)
        .add(QStringLiteral("dropped"), double(access.framesDropped() - droppedBefore), 0)
        .add(QStringLiteral("unpainted"), double(unpainted), 0)
        .add(QStringLiteral("missing"), qMax(0.0, expected - double(shown.size())), 0)
        .add(QStringLiteral("interval_median_ms"), bench::median(intervals), 2)
        .add(QStringLiteral("interval_p99_ms"), bench::percentile(intervals, 99), 2)
        .add(QStringLiteral("interval_max_ms"), bench::percentile(intervals, 100), 2)
        .add(QStringLiteral("cpu_s"), cpuSeconds)
        .add(QStringLiteral("wall_s"), wallSeconds)
        .add(QStringLiteral("cpu_per_s"), cpuSeconds / wallSeconds, 4)
        .add(QStringLiteral("gui_decode_ms_per_s"), perSecond(0), 1)
        .add(QStringLiteral("gui_paint_ms_per_s"), perSecond(1), 1)
        .add(QStringLiteral("gui_update_ms_per_s"), perSecond(2), 1)
        .add(QStringLiteral("decode_requests"), app.calls[0], 0)
        .add(QStringLiteral("decode_request_ms"), app.calls[0] ? app.totalMs[0] / app.calls[0] : 0, 3)
        .add(QStringLiteral("paint_ms"), app.calls[1] ? app.totalMs[1] / app.calls[1] : 0, 3)
        .add(QStringLiteral("update_ms"), app.calls[2] ? app.totalMs[2] / app.calls[2] : 0, 3)
        .add(QStringLiteral("video_size"), QStringLiteral("%1x%2").arg(videoSize.width()).arg(videoSize.height()))
        .add(QStringLiteral("sweep_moves"), sweeper ? sweeper->moves : 0, 0)
        .print();
    return 0;
}

// ---------------------------------------------------------------------------------
// startup: main() as the program has it, with a file on the command line, up to the
// first paint that shows a frame.

class FirstFrameWatcher : public QObject
{
public:
    explicit FirstFrameWatcher(ZeltoraWindowTestAccess &access) : access(access) {}
    qint64 firstFrameNs = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && firstFrameNs == 0 && access.framesShown() > 0) {
            firstFrameNs = monotonicNs();
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    ZeltoraWindowTestAccess &access;
};

int runStartup(qint64 mainNs, int argc, char **argv, const QString &clip, qint64 spawnNs)
{
    QApplication app(argc, argv);
    const bool sheet = loadStyleSheet(app);
    const qint64 appNs = monotonicNs();

    ZeltoraWindow window;
    ZeltoraWindowTestAccess access(window);
    FirstFrameWatcher watcher(access);
    access.videoWidget()->installEventFilter(&watcher);
    const qint64 windowNs = monotonicNs();
    window.show();
    const qint64 shownNs = monotonicNs();
    window.loadMedia(clip);
    const qint64 loadedNs = monotonicNs();
    window.play();

    QTimer::singleShot(20000, &app, &QCoreApplication::quit);
    app.exec();
    if (watcher.firstFrameNs == 0)
        return fail("no frame within 20 s", clip);

    auto ms = [](qint64 from, qint64 to) { return double(to - from) / 1e6; };
    ResultLine line;
    if (spawnNs > 0) {
        line.add(QStringLiteral("spawn_to_main_ms"), ms(spawnNs, mainNs), 2)
            .add(QStringLiteral("total_ms"), ms(spawnNs, watcher.firstFrameNs), 2);
    }
    line.add(QStringLiteral("style_sheet"), sheet ? 1 : 0, 0)
        .add(QStringLiteral("app_ms"), ms(mainNs, appNs), 2)
        .add(QStringLiteral("window_ms"), ms(appNs, windowNs), 2)
        .add(QStringLiteral("show_ms"), ms(windowNs, shownNs), 2)
        .add(QStringLiteral("load_ms"), ms(shownNs, loadedNs), 2)
        .add(QStringLiteral("play_to_frame_ms"), ms(loadedNs, watcher.firstFrameNs), 2)
        .add(QStringLiteral("main_to_frame_ms"), ms(mainNs, watcher.firstFrameNs), 2)
        .print();
    return 0;
}

// ---------------------------------------------------------------------------------
// open: the playlist's thumbnail probe and the window's loadMedia on one file in a
// fresh process. The first call is reported apart from the median of the following
// ones: the first pays for codec set-up and fresh memory, and the model caches
// thumbnails, so in use each file is probed once.

int runOpen(int argc, char **argv, const QString &clip)
{
    QApplication app(argc, argv);
    loadStyleSheet(app);
    ZeltoraWindow window;
    ZeltoraWindowTestAccess access(window);
    window.show();
    settle(200);
    PlaylistModel model;

    auto measure = [](int count, const std::function<bool()> &fn, double &first, double &again) {
        std::vector<double> times;
        for (int i = 0; i < count; ++i) {
            const qint64 t0 = monotonicNs();
            if (!fn())
                return false;
            times.push_back(double(monotonicNs() - t0) / 1e6);
        }
        first = times.front();
        times.erase(times.begin());
        again = bench::median(times);
        return true;
    };

    // Thumbnails first, as at start-up where the playlist's rows are painted before
    // anything is played.
    double first = 0, again = 0;
    ResultLine line;
    if (!measure(5, [&] { return !model.generateThumbnail(clip).isNull(); }, first, again))
        return fail("no thumbnail for", clip);
    line.add(QStringLiteral("thumb_first_ms"), first, 2).add(QStringLiteral("thumb_ms"), again, 2);
    // The probe's two halves, with the same lifetimes as in generateThumbnail: the
    // first frame decoded, then scaled down to the square, then both let go.
    std::vector<double> decodeTimes, cropTimes;
    for (int i = 0; i < 5; ++i) {
        const qint64 t0 = monotonicNs();
        QImage frame = thumbnailprobe::firstFrame(clip);
        const qint64 t1 = monotonicNs();
        const QImage thumbnail = thumbnailprobe::cropThumbnail(frame);
        const qint64 t2 = monotonicNs();
        if (thumbnail.isNull())
            return fail("no first frame in", clip);
        decodeTimes.push_back(double(t1 - t0) / 1e6);
        cropTimes.push_back(double(t2 - t1) / 1e6);
    }
    line.add(QStringLiteral("probe_ms"), bench::median(decodeTimes), 2)
        .add(QStringLiteral("crop_ms"), bench::median(cropTimes), 2);
    if (!measure(5, [&] { window.loadMedia(clip); return access.player()->isOpen(); }, first, again))
        return fail("cannot load", clip);
    line.add(QStringLiteral("load_first_ms"), first, 2).add(QStringLiteral("load_ms"), again, 2);
    line.print();
    return 0;
}

void usage()
{
    std::fprintf(stderr,
                 "usage: bench_player throughput CLIP\n"
                 "       bench_player stages CLIP\n"
                 "       bench_player play CLIP SECONDS [sweep]\n"
                 "       bench_player startup CLIP [SPAWN_MONOTONIC_NS]\n"
                 "       bench_player open CLIP\n");
}

} // namespace

int main(int argc, char **argv)
{
    const qint64 mainNs = monotonicNs();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc < 3) {
        usage();
        return 2;
    }
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString clip = QString::fromLocal8Bit(argv[2]);

    if (mode == QLatin1String("throughput"))
        return runThroughput(clip);
    if (mode == QLatin1String("stages"))
        return runStages(argc, argv, clip);
    if (mode == QLatin1String("play") && argc >= 4)
        return runPlay(argc, argv, clip, QString::fromLocal8Bit(argv[3]).toDouble(),
                       argc >= 5 && QByteArray(argv[4]) == "sweep");
    if (mode == QLatin1String("startup"))
        return runStartup(mainNs, argc, argv, clip, argc >= 4 ? QByteArray(argv[3]).toLongLong() : 0);
    if (mode == QLatin1String("open"))
        return runOpen(argc, argv, clip);
    usage();
    return 2;
}
