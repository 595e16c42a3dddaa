// The playback engine measured from outside: the real window plays a clip with real
// sound, and what reaches the screen and the speaker is timed. One measurement per
// run; bench/engine.sh starts the sound server and X server, runs it, and sets the
// figures beside mpv.
//
//   bench_engine play CLIP SECONDS    play in the window from the start; one RESULT line:
//                                     speed, frames shown and dropped, the GUI thread's
//                                     busy share, event-loop stalls, CPU, memory, first
//                                     frame and first sound, and, for a clip with a flash
//                                     and a beep every second, the offset between them
//   bench_engine seek CLIP COUNT      exact seeks to random places while paused: time from
//                                     the request to the new picture painted
//
// Sound is timed by recording: with BENCH_MONITOR naming a PulseAudio source (the
// null sink's monitor), parec records it and every chunk is stamped on arrival. The
// earliest arrival relative to its sample count gives the recording's time origin
// (chunks can only arrive late, never early), so each sample's playing time is known
// to within the monitor's latency, a few milliseconds at the requested 5 ms.

#include "benchsupport.h"

#include "app/loadstylesheet.h"
#include "mainwindow/zeltorawindow.h"
#include "playback/playbackcontroller.h"
#include "video/videowidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QEvent>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QSlider>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include <csignal>
#include <ctime>

using bench::monotonicNs;
using bench::ResultLine;

class ZeltoraWindowTestAccess
{
public:
    explicit ZeltoraWindowTestAccess(ZeltoraWindow &w) : w(w) {}
    VideoWidget *videoWidget() const { return w.videoWidget; }
    PlaybackController *player() const { return w.player; }
    QSlider *volumeSlider() const { return w.volumeSlider; }

private:
    ZeltoraWindow &w;
};

namespace {

constexpr int SampleRate = 48000;

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double statusMb(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// Records the monitor source in mono s16 with parec on a thread of its own.
class MonitorRecorder
{
public:
    bool start(const QByteArray &source)
    {
        const QByteArray command = "exec parec --device=" + source
            + " --format=s16le --channels=1 --rate=48000 --latency-msec=5 --raw";
        pipe = popen(command.constData(), "r");
        if (!pipe)
            return false;
        reader = std::thread([this] { read(); });
        return true;
    }

    void stop()
    {
        if (!pipe)
            return;
        stopping = true;
        std::system("pkill -f 'parec --device=' >/dev/null 2>&1");
        reader.join();
        pclose(pipe);
        pipe = nullptr;
    }

    // Playing time (monotonic ns) of sample i.
    qint64 timeOf(qint64 sample) const { return origin + sample * 1000000000 / SampleRate; }

    // Starts of beeps: the first loud sample after at least 200 ms of quiet.
    std::vector<qint64> onsets() const
    {
        std::vector<qint64> found;
        qint64 quietSince = 0;
        for (qint64 i = 0; i < qint64(samples.size()); ++i) {
            if (std::abs(int(samples[size_t(i)])) > 3000) {
                if (i - quietSince > SampleRate / 5)
                    found.push_back(timeOf(i));
                quietSince = i;
            }
        }
        return found;
    }

    qint64 firstSoundAfter(qint64 ns) const
    {
        for (qint64 i = 0; i < qint64(samples.size()); ++i) {
            if (std::abs(int(samples[size_t(i)])) > 300 && timeOf(i) > ns)
                return timeOf(i);
        }
        return -1;
    }

    double rms(qint64 fromNs, qint64 toNs) const
    {
        double sum = 0;
        qint64 n = 0;
        for (qint64 i = 0; i < qint64(samples.size()); ++i) {
            const qint64 t = timeOf(i);
            if (t >= fromNs && t < toNs) {
                sum += double(samples[size_t(i)]) * samples[size_t(i)];
                ++n;
            }
        }
        return n ? std::sqrt(sum / double(n)) : 0;
    }

private:
    void read()
    {
        qint16 chunk[240];
        origin = std::numeric_limits<qint64>::max();
        while (!stopping) {
            const size_t got = fread(chunk, sizeof(qint16), 240, pipe);
            const qint64 now = monotonicNs();
            if (got == 0)
                break;
            samples.insert(samples.end(), chunk, chunk + got);
            const qint64 start = now - qint64(samples.size()) * 1000000000 / SampleRate;
            origin = std::min(origin, start);
        }
    }

    FILE *pipe = nullptr;
    std::thread reader;
    std::atomic<bool> stopping{false};
    std::vector<qint16> samples;
    qint64 origin = 0;
};

// Watches the GUI event loop: a fine timer that should fire every 4 ms; any longer
// gap is the loop being held up.
class LoopWatch : public QObject
{
public:
    explicit LoopWatch(QObject *parent) : QObject(parent)
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(4);
        connect(&timer, &QTimer::timeout, this, [this] {
            const qint64 now = monotonicNs();
            if (last && measuring)
                gapsMs.push_back(double(now - last) / 1e6 - 4.0);
            last = now;
        });
        timer.start();
    }
    bool measuring = false;
    std::vector<double> gapsMs;

private:
    QTimer timer;
    qint64 last = 0;
};

// The event loop as the program runs it: asleep until something happens.
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Paint
{
    qint64 ns;
    qint64 ptsMs;
    bool flash;
};

int play(const QString &clip, double seconds)
{
    ZeltoraWindow window;
    window.show();
    ZeltoraWindowTestAccess access(window);
    PlaybackController *player = access.player();
    VideoWidget *video = access.videoWidget();

    MonitorRecorder recorder;
    const QByteArray monitor = qgetenv("BENCH_MONITOR");
    const bool recording = !monitor.isEmpty() && recorder.start(monitor);

    // Every paint that puts a new frame on screen, with the frame it shows.
    std::vector<Paint> paints;
    bool pending = false;
    Paint next{};
    QObject::connect(player, &PlaybackController::frameReady, video, [&](const QImage &frame) {
        const QPoint centre(frame.width() / 2, frame.height() / 2);
        next = Paint{0, player->lastShownPts(), frame.valid(centre) && qGray(frame.pixel(centre)) > 128};
        pending = true;
    });
    struct PaintFilter : QObject
    {
        std::function<void()> onPaint;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                onPaint();
            return false;
        }
    } filter;
    filter.onPaint = [&] {
        if (!pending)
            return;
        pending = false;
        next.ns = monotonicNs();
        paints.push_back(next);
    };
    video->installEventFilter(&filter);

    // Full volume, so that the beeps stand far above the threshold in the recording.
    access.volumeSlider()->setValue(access.volumeSlider()->maximum());
    LoopWatch watch(&window);
    // Let the window settle and the recorder start before the clock starts.
    runFor(700);

    const qint64 loadNs = monotonicNs();
    window.playFromOutside(clip);

    // The measured stretch starts a second in, when start-up is over.
    double cpu0 = 0, gui0 = 0;
    qint64 t0 = 0;
    double peakMb = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { peakMb = std::max(peakMb, statusMb("VmRSS:")); });
    sampler.start(250);
    QTimer::singleShot(1000, [&] {
        cpu0 = bench::processCpuSeconds();
        gui0 = threadCpuSeconds();
        t0 = monotonicNs();
        watch.measuring = true;
    });
    runFor(int(seconds * 1000));
    watch.measuring = false;
    const qint64 t1 = monotonicNs();
    const double wall = double(t1 - t0) / 1e9;
    const double cpu = bench::processCpuSeconds() - cpu0;
    const double gui = threadCpuSeconds() - gui0;
    const quint64 dropped = player->framesDropped();
    const QSize area = video->size() * video->devicePixelRatioF();
    player->pause();
    recorder.stop();

    ResultLine result;
    result.add(QStringLiteral("video_area"), QStringLiteral("%1x%2").arg(area.width()).arg(area.height()));
    result.add(QStringLiteral("sound_output"), player->hasSoundOutput() ? 1 : 0, 0);

    // Speed from the frames painted inside the measured stretch.
    std::vector<Paint> inside;
    for (const Paint &p : paints) {
        if (p.ns >= t0 && p.ns <= t1)
            inside.push_back(p);
    }
    if (inside.size() > 2) {
        const double media = double(inside.back().ptsMs - inside.front().ptsMs) / 1000.0;
        const double span = double(inside.back().ns - inside.front().ns) / 1e9;
        result.add(QStringLiteral("speed"), media / span, 4);
    }
    // The same once the sound has surely started (a sink may take its time to begin).
    std::vector<Paint> late;
    for (const Paint &p : inside) {
        if (p.ns >= t0 + 4000000000LL)
            late.push_back(p);
    }
    if (late.size() > 2) {
        const double media = double(late.back().ptsMs - late.front().ptsMs) / 1000.0;
        const double span = double(late.back().ns - late.front().ns) / 1e9;
        result.add(QStringLiteral("speed_late"), media / span, 4);
    }
    result.add(QStringLiteral("shown"), double(paints.size()), 0);
    result.add(QStringLiteral("dropped"), double(dropped), 0);
    result.add(QStringLiteral("gui_busy_pct"), 100.0 * gui / wall, 2);
    result.add(QStringLiteral("cpu_per_s"), cpu / wall, 3);
    const std::vector<double> &gaps = watch.gapsMs;
    result.add(QStringLiteral("stalls_over_16ms"),
               double(std::count_if(gaps.begin(), gaps.end(), [](double g) { return g > 16.0; })), 0);
    result.add(QStringLiteral("loop_lag_max_ms"), gaps.empty() ? 0 : *std::max_element(gaps.begin(), gaps.end()), 1);
    result.add(QStringLiteral("loop_lag_p99_ms"), bench::percentile(gaps, 99), 1);
    result.add(QStringLiteral("rss_peak_mb"), peakMb, 1);
    if (!paints.empty())
        result.add(QStringLiteral("first_frame_ms"), double(paints.front().ns - loadNs) / 1e6, 1);

    if (recording) {
        const qint64 sound = recorder.firstSoundAfter(loadNs);
        if (sound > 0)
            result.add(QStringLiteral("first_sound_ms"), double(sound - loadNs) / 1e6, 1);
        // A flash painted against the beep of the same second: positive when the
        // picture comes after the sound.
        std::vector<double> offsets;
        const std::vector<qint64> beeps = recorder.onsets();
        qint64 lastFlashSecond = -1;
        for (const Paint &p : paints) {
            const qint64 second = (p.ptsMs + 500) / 1000;
            if (!p.flash || second == lastFlashSecond || std::llabs(p.ptsMs - second * 1000) > 40)
                continue;
            lastFlashSecond = second;
            qint64 best = -1;
            for (qint64 b : beeps) {
                if (best < 0 || std::llabs(b - p.ns) < std::llabs(best - p.ns))
                    best = b;
            }
            if (best >= 0 && std::llabs(best - p.ns) < 400000000)
                offsets.push_back(double(p.ns - best) / 1e6);
        }
        if (!offsets.empty()) {
            result.add(QStringLiteral("av_pairs"), double(offsets.size()), 0);
            result.add(QStringLiteral("av_offset_median_ms"), bench::median(offsets), 1);
            result.add(QStringLiteral("av_offset_min_ms"), *std::min_element(offsets.begin(), offsets.end()), 1);
            result.add(QStringLiteral("av_offset_max_ms"), *std::max_element(offsets.begin(), offsets.end()), 1);
        }
    }
    result.print();
    return 0;
}

int seek(const QString &clip, int count)
{
    ZeltoraWindow window;
    window.show();
    ZeltoraWindowTestAccess access(window);
    PlaybackController *player = access.player();

    qint64 wanted = -1;
    qint64 askedNs = 0;
    std::vector<double> latencies;
    bool arrived = false;
    QObject::connect(player, &PlaybackController::frameReady, player, [&](const QImage &) {
        if (wanted >= 0 && std::llabs(player->lastShownPts() - wanted) < 40) {
            latencies.push_back(double(monotonicNs() - askedNs) / 1e6);
            arrived = true;
            wanted = -1;
        }
    });
    // Waits in the event loop (sleeping, not polling) until the condition holds.
    auto waitFor = [](const std::function<bool()> &condition, int ms) {
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (condition())
                loop.quit();
        });
        check.start(1);
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        if (!condition())
            loop.exec();
        return condition();
    };
    window.playFromOutside(clip);
    if (!waitFor([&] { return player->isOpen() && player->lastShownPts() > 500; }, 10000)) {
        std::fprintf(stderr, "bench_engine: %s did not start\n", qPrintable(clip));
        return 1;
    }
    player->pause();
    const qint64 duration = player->duration();
    QRandomGenerator random(7);
    int missed = 0;
    for (int i = 0; i < count; ++i) {
        // Whole frames between key frames, never on one.
        const qint64 target = (1000 + random.bounded(int(duration - 3000))) / 40 * 40 + 20;
        runFor(150);
        arrived = false;
        wanted = target;
        askedNs = monotonicNs();
        player->seek(target, PlaybackController::SeekMode::Exact);
        if (!waitFor([&] { return arrived; }, 3000))
            ++missed;
    }
    ResultLine result;
    result.add(QStringLiteral("seeks"), double(latencies.size()), 0);
    result.add(QStringLiteral("missed"), double(missed), 0);
    result.add(QStringLiteral("seek_median_ms"), bench::median(latencies), 1);
    result.add(QStringLiteral("seek_p90_ms"), bench::percentile(latencies, 90), 1);
    result.add(QStringLiteral("seek_max_ms"), latencies.empty() ? 0 : *std::max_element(latencies.begin(), latencies.end()), 1);
    result.print();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    loadStyleSheet(app);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == QLatin1String("play") && argc >= 4)
        return play(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]).toDouble());
    if (mode == QLatin1String("seek") && argc >= 4)
        return seek(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]).toInt());
    std::fprintf(stderr, "usage: bench_engine play CLIP SECONDS | seek CLIP COUNT\n");
    return 2;
}
