// What drawing subtitles adds to a 1080p frame on the video worker: a busy ASS track
// (many lines and styles, moving, turning, fading, karaoke), one unchanging line (the
// cached case), a picture subtitle, and no track at all; against converting the same
// frame from YUV to RGB32, measured in the same process. Given a 1080p clip, also
// plays it through the engine with the busy track muxed in, shown and turned off,
// and reports how fast it plays and how many frames are dropped.
//
//   bench_subtitles [--runs N] [--frames N] [--clip PATH --seconds N]

#include "benchsupport.h"

#include "decoder/ffmpegsupport.h"
#include "playback/audiobackend.h"
#include "playback/playbackcontroller.h"
#include "subtitles/subtitlerenderer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
}

namespace {

constexpr int Width = 1920;
constexpr int Height = 1080;
constexpr qint64 FrameMs = 40;

const QByteArray busyHeader =
    "[Script Info]\nScriptType: v4.00+\nPlayResX: 1920\nPlayResY: 1080\nScaledBorderAndShadow: yes\n\n"
    "[V4+ Styles]\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, "
    "Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, "
    "Alignment, MarginL, MarginR, MarginV, Encoding\n"
    "Style: Default,Noto Sans CJK SC,64,&H00FFFFFF,&H000000FF,&H00000000,&H80000000,0,0,0,0,100,100,0,0,1,3,2,2,60,60,50,1\n"
    "Style: Top,DejaVu Sans,48,&H0000FFFF,&H000000FF,&H00202020,&H80000000,1,0,0,0,100,100,0,0,1,2,1,8,60,60,40,1\n"
    "Style: Sign,DejaVu Serif,56,&H00FFC080,&H000000FF,&H00400000,&H80000000,0,1,0,0,100,100,0,0,1,2,0,5,0,0,0,1\n"
    "Style: Karaoke,Noto Sans CJK SC,60,&H0000FFFF,&H00FF0000,&H00000000,&H80000000,1,0,0,0,100,100,2,0,1,3,0,2,60,60,160,1\n\n"
    "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

SubtitleEvent line(qint64 start, qint64 end, const QByteArray &styleAndText)
{
    SubtitleEvent event;
    event.startMs = start;
    event.endMs = end;
    event.assLine = "0,0," + styleAndText;
    return event;
}

// Two-second scenes, each with six lines at once: two dialogue lines stacked, a
// fading title, a sign moving across the picture, a turning one, and karaoke.
QList<SubtitleEvent> busyEvents(qint64 lengthMs)
{
    QList<SubtitleEvent> events;
    for (qint64 start = 0, i = 0; start < lengthMs; start += 2000, ++i) {
        const qint64 end = start + 2000;
        const QByteArray n = QByteArray::number(i);
        events << line(start, end, "Default,,0,0,0,,第" + n + "句对白：你看到了吗？那是我的家。\\NLine " + n
                                       + ": did you see it? That is my home.")
               << line(start, end, "Default,,0,0,0,,另一个人同时在说话 Someone else talks too")
               << line(start, end, "Top,,0,0,0,,{\\fad(300,300)}Episode " + n + " 第" + n + "集")
               << line(start, end, "Sign,,0,0,0,,{\\move(100,300,1800,700)\\blur3}移动的标志 Moving sign " + n)
               << line(start, end, "Sign,,0,0,0,,{\\pos(960,540)\\t(\\frz360)\\fscx120}旋转 Turning")
               << line(start, end, "Karaoke,,0,0,0,,{\\k25}卡{\\k25}拉{\\k25}OK {\\k25}karaoke {\\k25}line {\\k25}" + n);
    }
    return events;
}

struct Scenario {
    const char *name;
    std::function<void(SubtitleRenderer &)> setUp;
};

SubtitleFormat textFormat(const QByteArray &header)
{
    SubtitleFormat format;
    format.kind = SubtitleFormat::Kind::Text;
    format.assHeader = header;
    return format;
}

QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("?");
    const QList<QByteArray> fields = file.readAll().split(' ');
    return fields.size() >= 3 ? fields[0] + ' ' + fields[1] + ' ' + fields[2] : QByteArrayLiteral("?");
}

struct Figures {
    double medianMs = 0;
    double p95Ms = 0;
    double maxMs = 0;
    double setUpMs = 0;
};

// A 1080p picture in YUV 4:2:0 with some detail, converted into one reused RGB32
// buffer before every render, as the video worker hands over fresh frames.
class FrameSource
{
public:
    FrameSource()
    {
        frame.reset(av_frame_alloc());
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = Width;
        frame->height = Height;
        if (av_frame_get_buffer(frame.get(), 0) < 0)
            return;
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x)
                frame->data[0][y * frame->linesize[0] + x] = uint8_t((x + y) / 12);
        for (int plane = 1; plane < 3; ++plane)
            for (int y = 0; y < Height / 2; ++y)
                for (int x = 0; x < Width / 2; ++x)
                    frame->data[plane][y * frame->linesize[plane] + x] = uint8_t(96 + plane * 20 + x / 30);
        layout = ffmpeg::imageLayout(Width, Height);
        buffer.resize(layout.size);
    }
    ~FrameSource() { sws_freeContext(converter); }

    // The converted frame, and how long the conversion took.
    QImage next(double *convertMs)
    {
        const qint64 start = bench::monotonicNs();
        if (!ffmpeg::convertFrameInto(&converter, frame.get(), buffer.data()))
            return QImage();
        *convertMs = double(bench::monotonicNs() - start) / 1e6;
        return QImage(buffer.data(), Width, Height, layout.stride, QImage::Format_RGB32);
    }

private:
    ffmpeg::FramePtr frame;
    SwsContext *converter = nullptr;
    ffmpeg::ImageLayout layout;
    std::vector<uint8_t> buffer;
};

Figures measure(const Scenario &scenario, FrameSource &source, int frames, std::vector<double> &convertMs)
{
    SubtitleRenderer renderer;
    Figures figures;
    const qint64 setUpStart = bench::monotonicNs();
    scenario.setUp(renderer);
    renderer.prepare();
    figures.setUpMs = double(bench::monotonicNs() - setUpStart) / 1e6;

    std::vector<double> costs;
    const int warmUp = 10;
    for (int i = 0; i < warmUp + frames; ++i) {
        double convert = 0;
        QImage image = source.next(&convert);
        const qint64 start = bench::monotonicNs();
        renderer.render(image, image.rect(), i * FrameMs);
        const double ms = double(bench::monotonicNs() - start) / 1e6;
        if (i >= warmUp) {
            costs.push_back(ms);
            convertMs.push_back(convert);
        }
    }
    figures.medianMs = bench::median(costs);
    figures.p95Ms = bench::percentile(costs, 95);
    figures.maxMs = *std::max_element(costs.begin(), costs.end());
    return figures;
}

// Sound goes nowhere: the engine follows the wall clock, as on a machine without
// an output, so the figures are the picture's alone.
class NoSound : public AudioBackend
{
public:
    AudioSink *defaultOutput() override { return nullptr; }
    QString describe() const override { return QStringLiteral("none"); }
};

QByteArray assTime(qint64 ms)
{
    return QString::asprintf("%lld:%02lld:%02lld.%02lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms / 10 % 100)
        .toLatin1();
}

// The busy track as an .ass file: "ReadOrder,Layer,Style,..." becomes
// "Dialogue: Layer,Start,End,Style,...".
QByteArray busyScript(qint64 lengthMs)
{
    QByteArray script = busyHeader;
    for (const SubtitleEvent &event : busyEvents(lengthMs)) {
        const QByteArray rest = event.assLine.mid(event.assLine.indexOf(',') + 1);
        const int layerEnd = rest.indexOf(',');
        script += "Dialogue: " + rest.left(layerEnd) + ',' + assTime(event.startMs) + ',' + assTime(event.endMs)
            + rest.mid(layerEnd) + '\n';
    }
    return script;
}

struct PlayFigures {
    double speed = 0;     // media time over wall time
    quint64 shown = 0;
    quint64 dropped = 0;
};

// Runs the event loop until `done` or `ms` have passed.
bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > ms)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

PlayFigures play(const QString &file, bool subtitlesOn, int seconds)
{
    PlaybackController::Options options;
    options.audioBackend = [] { return std::make_unique<NoSound>(); };
    PlaybackController player(nullptr, options);
    player.setVideoArea(QSize(Width, Height), false);
    player.load(file);
    if (!waitFor([&] { return !player.isLoading(); }, 20000) || !player.isOpen())
        return {};
    // The muxed track is neither marked default nor tagged with a language, so it
    // is not chosen by itself.
    const QList<MediaTrack> tracks = player.mediaInfo().subtitleTracks;
    player.setSubtitleTrack(subtitlesOn && !tracks.isEmpty() ? tracks.first().index : -1);
    if (subtitlesOn && player.mediaInfo().subtitleTrack < 0)
        std::printf("  the clip has no subtitle track to show\n");
    waitFor([] { return false; }, 300);
    const qint64 startMs = player.position();
    QElapsedTimer wall;
    wall.start();
    player.play();
    waitFor([&] { return wall.elapsed() >= seconds * 1000; }, seconds * 1000 + 5000);
    PlayFigures figures;
    figures.speed = double(player.position() - startMs) / double(wall.elapsed());
    figures.shown = player.framesShown();
    figures.dropped = player.framesDropped();
    return figures;
}

void playClip(const QString &clip, int runs, int seconds)
{
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("busy.ass"));
    const QString muxed = dir.filePath(QStringLiteral("busy.mkv"));
    QFile file(script);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly) || file.write(busyScript(120000)) < 0) {
        std::printf("  cannot write the subtitle script\n");
        return;
    }
    file.close();
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i", clip,
                                            "-i", script, "-map", "0", "-map", "1", "-c", "copy", muxed});
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitCode() != 0) {
        std::printf("  ffmpeg could not mux the track into %s\n", qPrintable(clip));
        return;
    }
    std::printf("\nPlaying %s with the busy ASS track muxed in, %d s per run, median of %d runs, no sound output\n",
                qPrintable(QFileInfo(clip).fileName()), seconds, runs);
    std::printf("  (load average at start: %s)\n", loadAverage().constData());
    std::printf("  %-16s %8s %8s %8s\n", "subtitles", "speed", "shown", "dropped");
    for (const bool on : {false, true}) {
        std::vector<double> speeds, shown, dropped;
        for (int run = 0; run < runs; ++run) {
            const PlayFigures f = play(muxed, on, seconds);
            speeds.push_back(f.speed);
            shown.push_back(double(f.shown));
            dropped.push_back(double(f.dropped));
        }
        std::printf("  %-16s %8.3f %8.0f %8.0f\n", on ? "busy ASS shown" : "off", bench::median(speeds),
                    bench::median(shown), bench::median(dropped));
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int runs = 3;
    int frames = 250;
    QString clip;
    int seconds = 8;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--runs"))
            runs = qMax(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--frames"))
            frames = qMax(10, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--clip"))
            clip = args[i + 1];
        else if (args[i] == QLatin1String("--seconds"))
            seconds = qMax(1, args[i + 1].toInt());
    }

    QImage picture(1400, 150, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    {
        QPainter painter(&picture);
        painter.fillRect(QRect(0, 20, 1400, 110), QColor(255, 255, 255, 200));
        painter.fillRect(QRect(40, 50, 1320, 50), QColor(0, 0, 0, 255));
    }

    const qint64 length = (frames + 20) * FrameMs;
    const std::vector<Scenario> scenarios = {
        {"no track", [](SubtitleRenderer &) {}},
        {"busy ASS, 6 animated lines", [&](SubtitleRenderer &r) {
             r.setTrack(textFormat(busyHeader));
             r.setVideoSize({Width, Height});
             r.addEvents(busyEvents(length));
         }},
        {"one unchanging line", [&](SubtitleRenderer &r) {
             r.setTrack(textFormat(busyHeader));
             r.setVideoSize({Width, Height});
             r.addEvents({line(0, length, "Default,,0,0,0,,一句不动的对白 A line that stays\\N第二行 Second row")});
         }},
        {"picture 1400x150", [&](SubtitleRenderer &r) {
             SubtitleFormat format;
             format.kind = SubtitleFormat::Kind::Pictures;
             r.setTrack(format);
             SubtitleEvent event;
             event.canvas = QSize(Width, Height);
             event.pictures << SubtitleEvent::Picture{picture, QPoint(260, 880)};
             r.addEvents({event});
         }},
    };

    FrameSource source;
    std::printf("Subtitles drawn onto a %dx%d RGB32 frame, ms per frame (median of %d runs of %d frames)\n",
                Width, Height, runs, frames);
    std::printf("  reference: converting the frame from yuv420p (convertFrameInto, one reused buffer)\n");
    std::printf("  set-up: the renderer made, fed and prepare()d (libass, fontconfig) before the first frame\n");
    std::printf("  median, p95 and max of the frames' wall times; / convert: median over the reference's\n");
    std::printf("  (load average at start: %s)\n", loadAverage().constData());
    std::printf("  %-28s %8s %8s %8s %12s %10s\n", "case", "median", "p95", "max", "/ convert", "set-up ms");
    bench::ResultLine result;
    std::vector<double> convertAll;
    std::vector<std::vector<Figures>> all(scenarios.size());
    for (int run = 0; run < runs; ++run)
        for (size_t s = 0; s < scenarios.size(); ++s)
            all[s].push_back(measure(scenarios[s], source, frames, convertAll));
    const double convert = bench::median(convertAll);
    std::printf("  %-28s %8.3f\n", "convert (reference)", convert);
    for (size_t s = 0; s < scenarios.size(); ++s) {
        std::vector<double> medians, p95s, maxes, setUps;
        for (const Figures &f : all[s]) {
            medians.push_back(f.medianMs);
            p95s.push_back(f.p95Ms);
            maxes.push_back(f.maxMs);
            setUps.push_back(f.setUpMs);
        }
        const double median = bench::median(medians);
        std::printf("  %-28s %8.3f %8.3f %8.3f %12.3f %10.1f\n", scenarios[s].name, median,
                    bench::median(p95s), bench::median(maxes), median / convert, bench::median(setUps));
        result.add(QStringLiteral("case%1_ms").arg(s), median);
    }
    result.add(QStringLiteral("convert_ms"), convert);
    result.print();
    if (!clip.isEmpty())
        playClip(clip, runs, seconds);
    return 0;
}
