// Runs bench_player's measurements in fresh processes, runs ffmpeg and mpv on the same
// clips in the same session, and prints medians and ratios as tables.
//
//   bench_report --media DIR --player PATH [--filter PATH] [--preview PATH] [--runs N]
//                [--play-seconds S] [--sections throughput,stages,playback,startup,filter,preview]
//                [--build-type NAME]

#include "benchsupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

extern "C" {
#include <libavutil/avutil.h>
}

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <vector>

extern char **environ;

namespace {

struct Clip {
    QString file;
    QString label;
    bool playback; // played in the window
    bool cpu;      // also compared with mpv for CPU use
};

const std::vector<Clip> clips = {
    {QStringLiteral("720p25.mp4"), QStringLiteral("720p25 H.264"), true, false},
    {QStringLiteral("1080p30.mp4"), QStringLiteral("1080p30 H.264"), true, true},
    {QStringLiteral("1080p60.mp4"), QStringLiteral("1080p60 H.264"), true, true},
    {QStringLiteral("2160p30.mp4"), QStringLiteral("2160p30 H.264"), false, false},
    {QStringLiteral("1080p30-hevc.mp4"), QStringLiteral("1080p30 HEVC"), false, false},
    {QStringLiteral("1080p30-vp9.webm"), QStringLiteral("1080p30 VP9"), false, false},
};

struct PreviewClip {
    QString file;
    QString label;
    int keySeconds;
};

const std::vector<PreviewClip> previewClips = {
    {QStringLiteral("preview-1080p-h264-g2.mp4"), QStringLiteral("1080p H.264, key 2 s"), 2},
    {QStringLiteral("preview-1080p-h264-g10.mp4"), QStringLiteral("1080p H.264, key 10 s"), 10},
    {QStringLiteral("preview-1080p-hevc-g2.mp4"), QStringLiteral("1080p HEVC, key 2 s"), 2},
    {QStringLiteral("preview-1080p-hevc-g10.mp4"), QStringLiteral("1080p HEVC, key 10 s"), 10},
    {QStringLiteral("preview-2160p-h264-g2.mp4"), QStringLiteral("2160p H.264, key 2 s"), 2},
    {QStringLiteral("preview-2160p-h264-g10.mp4"), QStringLiteral("2160p H.264, key 10 s"), 10},
    {QStringLiteral("preview-2160p-hevc-g2.mp4"), QStringLiteral("2160p HEVC, key 2 s"), 2},
    {QStringLiteral("preview-2160p-hevc-g10.mp4"), QStringLiteral("2160p HEVC, key 10 s"), 10},
};

// Makes glibc keep freed memory (no mmap for big blocks, no trimming of the heap).
const char keepMemoryTunables[] =
    "GLIBC_TUNABLES=glibc.malloc.mmap_threshold=268435456:glibc.malloc.trim_threshold=536870912";

struct Options {
    QString media;
    QString player;
    QString filter; // bench_filter

    QString preview;
    int runs = 3;
    double playSeconds = 8;
    QStringList sections;
    QString buildType;
};

QTextStream out(stdout);

// ---------------------------------------------------------------------------------
// Child processes: spawned directly and reaped with wait4, so that their CPU time
// (all threads) comes back with their exit status.

struct ChildRun {
    bool ok = false;
    int exitCode = -1;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    QByteArray output;
};

QString scratchDir;
QString logPath;

ChildRun runChild(QStringList args, bool appendSpawnTime = false, const QString &errPath = QString(),
                  const QStringList &extraEnv = QStringList())
{
    ChildRun run;
    const QString outPath = scratchDir + QStringLiteral("/child.out");
    const int outFd = ::open(QFile::encodeName(outPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (outFd < 0) {
        std::fprintf(stderr, "bench_report: cannot write %s: %s\n", qPrintable(outPath), std::strerror(errno));
        return run;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    const QByteArray log = QFile::encodeName(errPath.isEmpty() ? logPath : errPath);
    posix_spawn_file_actions_addopen(&actions, 2, log.constData(),
                                     O_WRONLY | O_CREAT | (errPath.isEmpty() ? O_APPEND : O_TRUNC), 0644);

    const qint64 startNs = bench::monotonicNs();
    if (appendSpawnTime)
        args << QString::number(startNs);
    std::vector<QByteArray> storage;
    for (const QString &arg : args)
        storage.push_back(arg.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    {
        QFile logFile(logPath);
        if (logFile.open(QIODevice::Append))
            logFile.write("\n$ " + args.join(QLatin1Char(' ')).toLocal8Bit() + '\n');
    }

    std::vector<QByteArray> envStorage;
    for (const QString &entry : extraEnv)
        envStorage.push_back(entry.toLocal8Bit());
    std::vector<char *> envp;
    for (QByteArray &entry : envStorage)
        envp.push_back(entry.data());
    for (char **entry = environ; *entry; ++entry)
        envp.push_back(*entry);
    envp.push_back(nullptr);

    pid_t pid = 0;
    const int err = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outFd);
    if (err != 0) {
        std::fprintf(stderr, "bench_report: cannot start %s: %s\n", argv[0], std::strerror(err));
        return run;
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.wallSeconds = bench::secondsSince(startNs);
    run.cpuSeconds = bench::toSeconds(usage.ru_utime) + bench::toSeconds(usage.ru_stime);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.ok = run.exitCode == 0;
    QFile result(outPath);
    if (result.open(QIODevice::ReadOnly))
        run.output = result.readAll();
    if (!run.ok)
        std::fprintf(stderr, "bench_report: %s failed (status %d); see %s\n",
                     argv[0], status, qPrintable(logPath));
    return run;
}

// ---------------------------------------------------------------------------------
// Collecting several runs of one figure.

class Samples
{
public:
    void add(const QString &key, double value) { values[key].push_back(value); }
    void addAll(const QMap<QString, QString> &result)
    {
        for (auto it = result.cbegin(); it != result.cend(); ++it) {
            bool isNumber = false;
            const double value = it.value().toDouble(&isNumber);
            if (isNumber)
                add(it.key(), value);
            else
                texts[it.key()] = it.value();
        }
    }
    double median(const QString &key) const
    {
        const auto it = values.find(key);
        return it == values.end() ? std::nan("") : bench::median(it->second);
    }
    QString text(const QString &key) const { return texts.value(key); }
    bool has(const QString &key) const { return values.count(key) > 0; }

private:
    std::map<QString, std::vector<double>> values;
    QMap<QString, QString> texts;
};

QString num(double value, int decimals = 1)
{
    return std::isnan(value) ? QStringLiteral("-") : QString::number(value, 'f', decimals);
}

void printTable(const QStringList &header, const QList<QStringList> &rows)
{
    std::vector<int> widths(size_t(header.size()), 0);
    auto measure = [&](const QStringList &row) {
        for (int i = 0; i < row.size() && i < header.size(); ++i)
            widths[size_t(i)] = qMax(widths[size_t(i)], int(row[i].size()));
    };
    measure(header);
    for (const QStringList &row : rows)
        measure(row);
    auto print = [&](const QStringList &row) {
        QString line;
        for (int i = 0; i < row.size(); ++i) {
            // First column left-aligned (names), figures right-aligned.
            line += i == 0 ? row[i].leftJustified(widths[size_t(i)]) : row[i].rightJustified(widths[size_t(i)]);
            line += QStringLiteral("  ");
        }
        out << "  " << line.trimmed() << '\n';
    };
    print(header);
    QStringList rule;
    for (int w : widths)
        rule << QString(w, QLatin1Char('-'));
    print(rule);
    for (const QStringList &row : rows)
        print(row);
    out.flush();
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    const QList<QByteArray> parts = file.readAll().split(' ');
    return parts.size() >= 3 ? QString::fromLatin1(parts[0] + ' ' + parts[1] + ' ' + parts[2]) : QStringLiteral("?");
}

QString cpuModel()
{
    QFile file(QStringLiteral("/proc/cpuinfo"));
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                const int colon = line.indexOf(':');
                return QString::fromLatin1(line.mid(colon + 1).trimmed());
            }
        }
    }
    return QStringLiteral("unknown CPU");
}

void section(const QString &title)
{
    out << '\n' << title << "\n  (load average at start: " << loadAverage() << ")\n";
    out.flush();
}

QString clipPath(const Options &options, const Clip &clip)
{
    return options.media + QLatin1Char('/') + clip.file;
}

// ---------------------------------------------------------------------------------

int ffmpegFrames(const QString &progressPath)
{
    QFile file(progressPath);
    int frames = -1;
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.startsWith("frame="))
                frames = line.mid(6).trimmed().toInt();
        }
    }
    return frames;
}

// ffmpeg -benchmark reports "bench: utime=...s stime=...s rtime=...s": rtime is the
// wall time of its decoding loop, after the input was opened.
double ffmpegRealTime(const QString &errPath)
{
    QFile file(errPath);
    double rtime = -1;
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : file.readAll().split('\n')) {
            const int at = line.indexOf("rtime=");
            if (line.startsWith("bench:") && at >= 0)
                rtime = line.mid(at + 6).replace('s', "").trimmed().toDouble();
        }
    }
    return rtime;
}

void throughputSection(const Options &options)
{
    section(QStringLiteral("1. Decoder throughput: a whole clip decoded and converted to RGB32 as fast as it goes\n"
                           "   ours: FFmpegDecoder::decodeVideoFrame in a loop until playbackFinished\n"
                           "   ffmpeg: ffmpeg -i CLIP -an -pix_fmt bgra -sws_flags bilinear -f null -\n"
                           "   fps: frames / wall time of the decoding loop, after the file was opened (ours: the\n"
                           "   loop above; ffmpeg: the rtime of -benchmark); (process): frames / wall time of the\n"
                           "   whole process, start-up and opening included, for both;\n"
                           "   both decode on all cores (thread_count auto); median of %1 runs, run side by side")
                .arg(options.runs));
    QList<QStringList> rows;
    const QString progress = scratchDir + QStringLiteral("/ffmpeg.progress");
    for (const Clip &clip : clips) {
        Samples ours, ref;
        for (int run = 0; run < options.runs; ++run) {
            // Alternate who goes first, so a drift in the machine's load hits both.
            for (int turn = 0; turn < 2; ++turn) {
                if ((turn == 0) == (run % 2 == 0)) {
                    const ChildRun r = runChild({options.player, QStringLiteral("throughput"), clipPath(options, clip)});
                    const auto result = bench::parseResult(r.output);
                    if (!r.ok || !result.contains(QStringLiteral("frames")))
                        continue;
                    const double frames = result.value(QStringLiteral("frames")).toDouble();
                    ours.add(QStringLiteral("frames"), frames);
                    ours.add(QStringLiteral("fps"), frames / result.value(QStringLiteral("decode_s")).toDouble());
                    ours.add(QStringLiteral("process_fps"), frames / r.wallSeconds);
                    ours.add(QStringLiteral("cpu_ms"), r.cpuSeconds * 1000.0 / frames);
                } else {
                    QFile::remove(progress);
                    const QString err = scratchDir + QStringLiteral("/ffmpeg.err");
                    const ChildRun r = runChild({QStringLiteral("ffmpeg"), QStringLiteral("-nostdin"),
                                                 QStringLiteral("-hide_banner"), QStringLiteral("-nostats"),
                                                 QStringLiteral("-benchmark"), QStringLiteral("-progress"), progress,
                                                 QStringLiteral("-i"), clipPath(options, clip), QStringLiteral("-an"),
                                                 QStringLiteral("-pix_fmt"), QStringLiteral("bgra"),
                                                 QStringLiteral("-sws_flags"), QStringLiteral("bilinear"),
                                                 QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")},
                                                false, err);
                    const int frames = ffmpegFrames(progress);
                    const double rtime = ffmpegRealTime(err);
                    if (!r.ok || frames <= 0 || rtime <= 0)
                        continue;
                    ref.add(QStringLiteral("frames"), frames);
                    ref.add(QStringLiteral("fps"), frames / rtime);
                    ref.add(QStringLiteral("process_fps"), frames / r.wallSeconds);
                    ref.add(QStringLiteral("cpu_ms"), r.cpuSeconds * 1000.0 / frames);
                }
            }
        }
        const double ratio = ours.median(QStringLiteral("fps")) / ref.median(QStringLiteral("fps"));
        rows << QStringList{clip.label,
                            num(ours.median(QStringLiteral("frames")), 0) + QLatin1Char('/')
                                + num(ref.median(QStringLiteral("frames")), 0),
                            num(ours.median(QStringLiteral("fps"))), num(ref.median(QStringLiteral("fps"))),
                            num(ratio, 2), num(ours.median(QStringLiteral("process_fps"))),
                            num(ref.median(QStringLiteral("process_fps"))),
                            num(ours.median(QStringLiteral("process_fps")) / ref.median(QStringLiteral("process_fps")), 2),
                            num(ours.median(QStringLiteral("cpu_ms")), 2), num(ref.median(QStringLiteral("cpu_ms")), 2)};
    }
    printTable({QStringLiteral("clip"), QStringLiteral("frames ours/ffmpeg"), QStringLiteral("ours fps"),
                QStringLiteral("ffmpeg fps"), QStringLiteral("ours/ffmpeg"), QStringLiteral("ours (process)"),
                QStringLiteral("ffmpeg (process)"), QStringLiteral("ratio"),
                QStringLiteral("ours CPU ms/frame"),
                QStringLiteral("ffmpeg CPU ms/frame")},
               rows);
}

void stagesSection(const Options &options)
{
    section(QStringLiteral("2. Cost per frame by stage, ms (median over frames, then over %1 runs)\n"
                           "   decode: demux + decode alone, wall and CPU (all decoder threads) per frame\n"
                           "   convert: ffmpeg::convertFrame (a fresh image each frame from the decoder's pool of\n"
                           "            recycled buffers) with the last three images kept alive, as playback keeps\n"
                           "            pending, current and shown; no pool: the same with fresh memory every frame;\n"
                           "            freed at once: each image dropped before the next conversion;\n"
                           "            into one buffer: convertFrameInto one reused buffer (no allocation at all)\n"
                           "   paint: VideoWidget 780x440 rendered into an image (QWidget::render)\n"
                           "   window: the video widget repainted inside the shown window (backing store, shadow effect)")
                .arg(options.runs));
    QList<QStringList> rows, paintRows;
    QString windowSize;
    for (const Clip &clip : clips) {
        Samples s;
        for (int run = 0; run < options.runs; ++run) {
            const ChildRun r = runChild({options.player, QStringLiteral("stages"), clipPath(options, clip)});
            if (r.ok)
                s.addAll(bench::parseResult(r.output));
        }
        if (!s.has(QStringLiteral("decode_ms"))) {
            rows << QStringList{clip.label, QStringLiteral("failed")};
            continue;
        }
        windowSize = s.text(QStringLiteral("window_video_size"));
        const double perFrame = s.median(QStringLiteral("decode_ms")) + s.median(QStringLiteral("convert_ms"))
            + s.median(QStringLiteral("window_paint_ms"));
        rows << QStringList{clip.label,
                            num(s.median(QStringLiteral("width")), 0) + QLatin1Char('x')
                                + num(s.median(QStringLiteral("height")), 0) + QLatin1Char(' ')
                                + s.text(QStringLiteral("pix_fmt")),
                            num(s.median(QStringLiteral("decode_ms")), 2),
                            num(s.median(QStringLiteral("decode_cpu_ms")), 2),
                            num(s.median(QStringLiteral("convert_ms")), 2),
                            num(s.median(QStringLiteral("convert_nopool_ms")), 2),
                            num(s.median(QStringLiteral("convert_freed_ms")), 2),
                            num(s.median(QStringLiteral("convert_into_ms")), 2),
                            num(s.median(QStringLiteral("paint_ms")), 2),
                            num(s.median(QStringLiteral("window_paint_ms")), 2),
                            num(perFrame, 2)};
        paintRows << QStringList{clip.label, num(s.median(QStringLiteral("paint_ms")), 2),
                                 num(s.median(QStringLiteral("reduce_ms")), 2),
                                 num(s.median(QStringLiteral("paint_ms")) - s.median(QStringLiteral("reduce_ms")), 2),
                                 num(s.median(QStringLiteral("qt_scale_ms")), 2)};
    }
    printTable({QStringLiteral("clip"), QStringLiteral("frame"), QStringLiteral("decode"),
                QStringLiteral("decode CPU"), QStringLiteral("convert"), QStringLiteral("no pool"),
                QStringLiteral("freed at once"),
                QStringLiteral("into one buffer"),
                QStringLiteral("paint 780x440"), QStringLiteral("window ") + windowSize,
                QStringLiteral("sum (decode+convert+window)")},
               rows);
    out << "\n  Inside the 780x440 paint: the 2x2 averaging (framereduction) before the painter's smooth\n"
           "  scale, the rest of the paint, and for comparison Qt's QImage::scaled(SmoothTransformation)\n"
           "  straight to the letter-box size\n";
    printTable({QStringLiteral("clip"), QStringLiteral("paint"), QStringLiteral("reduce"),
                QStringLiteral("rest (scale+fill)"), QStringLiteral("QImage::scaled alone")},
               paintRows);
}

Samples playRuns(const Options &options, const Clip &clip, const QStringList &env, Samples *mpv)
{
    const QString seconds = QString::number(options.playSeconds);
    Samples ours;
    for (int run = 0; run < options.runs; ++run) {
        const ChildRun r = runChild({options.player, QStringLiteral("play"), clipPath(options, clip), seconds},
                                    false, QString(), env);
        if (r.ok)
            ours.addAll(bench::parseResult(r.output));
        if (!mpv)
            continue;
        const ChildRun m = runChild({QStringLiteral("mpv"), QStringLiteral("--no-config"), QStringLiteral("--vo=null"),
                                     QStringLiteral("--ao=null"), QStringLiteral("--hwdec=no"),
                                     QStringLiteral("--really-quiet"), QStringLiteral("--length=") + seconds,
                                     clipPath(options, clip)});
        if (m.ok && m.wallSeconds > 0)
            mpv->add(QStringLiteral("cpu_per_s"), m.cpuSeconds / m.wallSeconds);
    }
    return ours;
}

QStringList accuracyRow(const QString &label, const Samples &s)
{
    return {label, num(s.median(QStringLiteral("speed")), 4), num(s.median(QStringLiteral("shown")), 0),
            num(s.median(QStringLiteral("painted")), 0), num(s.median(QStringLiteral("dropped")), 0),
            num(s.median(QStringLiteral("missing")), 0), num(s.median(QStringLiteral("ideal_ms")), 2),
            num(s.median(QStringLiteral("interval_median_ms")), 2), num(s.median(QStringLiteral("interval_p99_ms")), 2),
            num(s.median(QStringLiteral("interval_max_ms")), 2), num(s.median(QStringLiteral("first_frame_ms")), 0)};
}

QStringList guiRow(const QString &label, const Samples &s, double seconds)
{
    const double decodePerS = s.median(QStringLiteral("gui_decode_ms_per_s"));
    const double updatePerS = s.median(QStringLiteral("gui_update_ms_per_s"));
    return {label, num(s.median(QStringLiteral("decode_requests")) / seconds, 1),
            num(s.median(QStringLiteral("decode_request_ms")), 2), num(s.median(QStringLiteral("update_ms")), 2),
            num(s.median(QStringLiteral("paint_ms")), 2), num(decodePerS, 0), num(updatePerS, 0),
            num(decodePerS + updatePerS, 0)};
}

void playbackSection(const Options &options)
{
    section(QStringLiteral("3. Playback in the real window (offscreen), %1 s per run, median of %2 runs\n"
                           "   speed: media time advanced / wall time between the first and last frame painted\n"
                           "   shown/dropped: the window's own counters; missing: frames the media time covered\n"
                           "   that never reached a paint; intervals: wall time between paints of new frames\n"
                           "4. CPU per second of playback, ours and mpv on the same clip in the same run:\n"
                           "   mpv --no-config --vo=null --ao=null --hwdec=no --length=%1 CLIP\n"
                           "   mpv with --vo=null neither converts to RGB nor paints, so ours/mpv is an upper\n"
                           "   bound of our overhead, not a like-for-like comparison")
                .arg(options.playSeconds)
                .arg(options.runs));
    QList<QStringList> accuracy, cpu, gui;
    for (const Clip &clip : clips) {
        if (!clip.playback)
            continue;
        Samples mpv;
        const Samples ours = playRuns(options, clip, {}, clip.cpu ? &mpv : nullptr);
        accuracy << accuracyRow(clip.label, ours);
        gui << guiRow(clip.label, ours, options.playSeconds);
        if (clip.cpu) {
            const double a = ours.median(QStringLiteral("cpu_per_s"));
            const double b = mpv.median(QStringLiteral("cpu_per_s"));
            cpu << QStringList{clip.label, num(a, 3), num(b, 3), num(a / b, 2),
                               ours.text(QStringLiteral("video_size"))};
        }
    }

    // The 1080p60 playback again with glibc told to keep freed memory: every new frame
    // then reuses pages the process already has instead of faulting in fresh ones,
    // which is what recycling frame buffers would give.
    const auto heaviest = std::find_if(clips.cbegin(), clips.cend(),
                                       [](const Clip &c) { return c.file == QLatin1String("1080p60.mp4"); });
    if (heaviest != clips.cend()) {
        const QString label = heaviest->label + QStringLiteral(" *");
        const Samples kept = playRuns(options, *heaviest, {QString::fromLatin1(keepMemoryTunables)}, nullptr);
        accuracy << accuracyRow(label, kept);
        gui << guiRow(label, kept, options.playSeconds);
        cpu << QStringList{label, num(kept.median(QStringLiteral("cpu_per_s")), 3), QStringLiteral("-"),
                           QStringLiteral("-"), kept.text(QStringLiteral("video_size"))};
    }

    out << "  Accuracy (" << QStringLiteral("window video area as played; intervals in ms") << ")\n";
    printTable({QStringLiteral("clip"), QStringLiteral("speed"), QStringLiteral("shown"), QStringLiteral("painted"),
                QStringLiteral("dropped"), QStringLiteral("missing"), QStringLiteral("ideal"),
                QStringLiteral("interval median"), QStringLiteral("p99"), QStringLiteral("max"),
                QStringLiteral("play->1st frame ms")},
               accuracy);
    out << "  * the same clip with " << keepMemoryTunables << ":\n"
           "    freed memory stays in the process, so new frame images reuse pages instead of faulting\n"
           "    in fresh ones (what recycling frame buffers would give)\n";
    out << "\n  Where the GUI thread's time goes during playback: a decode request is one queued\n"
           "  decodeVideoFrame (demux, decode, convert, and the window's frame handler); a window\n"
           "  update is one repaint of the window, of which the video widget's paint is a part\n";
    printTable({QStringLiteral("clip"), QStringLiteral("requests/s"), QStringLiteral("ms/request"),
                QStringLiteral("ms/update"), QStringLiteral("ms/video paint"), QStringLiteral("decode ms/s"),
                QStringLiteral("update ms/s"), QStringLiteral("busy ms/s")},
               gui);
    out << "\n  CPU seconds per second of playback (user+system, all threads)\n";
    printTable({QStringLiteral("clip"), QStringLiteral("ours"), QStringLiteral("mpv --vo=null"),
                QStringLiteral("ours/mpv (upper bound)"), QStringLiteral("video area")},
               cpu);
}

void startupSection(const Options &options)
{
    const int runs = qMax(options.runs, 5);
    section(QStringLiteral("5. Start-up, median of %1 runs: a fresh process builds the window as main() does, with\n"
                           "   1080p30.mp4 on the command line, until the first frame is painted")
                .arg(runs));
    Samples s;
    const QString clip = options.media + QStringLiteral("/1080p30.mp4");
    for (int run = 0; run < runs; ++run) {
        const ChildRun r = runChild({options.player, QStringLiteral("startup"), clip}, true);
        if (r.ok)
            s.addAll(bench::parseResult(r.output));
    }
    printTable({QStringLiteral("process start -> frame"), QStringLiteral("exec+libs"), QStringLiteral("QApplication"),
                QStringLiteral("window"), QStringLiteral("show"), QStringLiteral("loadMedia"),
                QStringLiteral("play -> painted")},
               {{num(s.median(QStringLiteral("total_ms"))) + QStringLiteral(" ms"),
                 num(s.median(QStringLiteral("spawn_to_main_ms"))), num(s.median(QStringLiteral("app_ms"))),
                 num(s.median(QStringLiteral("window_ms"))), num(s.median(QStringLiteral("show_ms"))),
                 num(s.median(QStringLiteral("load_ms"))), num(s.median(QStringLiteral("play_to_frame_ms")))}});

    out << "\n  Per file, each in a fresh process with the window built (ms): the playlist's thumbnail\n"
           "  probe, then loadMedia. 'first' is the first call in the process, 'again' the median of\n"
           "  four more; the probe split into decoding the first frame and scaling it to 40x40\n";
    QList<QStringList> rows;
    for (const Clip &c : clips) {
        Samples p;
        for (int run = 0; run < options.runs; ++run) {
            const ChildRun r = runChild({options.player, QStringLiteral("open"), clipPath(options, c)});
            if (r.ok)
                p.addAll(bench::parseResult(r.output));
        }
        rows << QStringList{c.label, num(p.median(QStringLiteral("thumb_first_ms")), 2),
                            num(p.median(QStringLiteral("thumb_ms")), 2),
                            num(p.median(QStringLiteral("probe_ms")), 2),
                            num(p.median(QStringLiteral("crop_ms")), 2),
                            num(p.median(QStringLiteral("load_first_ms")), 2),
                            num(p.median(QStringLiteral("load_ms")), 2)};
    }
    printTable({QStringLiteral("clip"), QStringLiteral("thumbnail first"), QStringLiteral("again"),
                QStringLiteral("of which decode"), QStringLiteral("scale+crop"),
                QStringLiteral("loadMedia first"), QStringLiteral("again")},
               rows);
}

// CPU ms per frame and frames of ffmpeg decoding the clip through a filter chain.
std::pair<double, int> ffmpegFilterRun(const QString &clip, const QString &chain, const QString &threads)
{
    const QString progress = scratchDir + QStringLiteral("/ffmpeg.progress");
    const QString err = scratchDir + QStringLiteral("/ffmpeg.err");
    QFile::remove(progress);
    QStringList args{QStringLiteral("ffmpeg"), QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"),
                     QStringLiteral("-nostats"), QStringLiteral("-benchmark"), QStringLiteral("-progress"), progress};
    if (threads != QLatin1String("0"))
        args << QStringLiteral("-filter_threads") << threads;
    args << QStringLiteral("-i") << clip << QStringLiteral("-an") << QStringLiteral("-vf") << chain
         << QStringLiteral("-f") << QStringLiteral("null") << QStringLiteral("-");
    const ChildRun r = runChild(args, false, err);
    const int frames = ffmpegFrames(progress);
    if (!r.ok || frames <= 0)
        return {std::nan(""), 0};
    return {r.cpuSeconds * 1000.0 / frames, frames};
}

void filterSection(const Options &options)
{
    section(QStringLiteral("6. Picture filters on the video worker (VideoFilter), ms per output frame, median of %1 runs\n"
                           "   filter: frames decoded beforehand, then through the filter alone; wall and CPU (slice\n"
                           "           threads included); setup: the first frame, graph built on it\n"
                           "   decode+filter: the whole clip demuxed, decoded (all cores) and filtered in turn, as\n"
                           "           the worker does; real time: clip duration / wall time (1 or more keeps up)\n"
                           "   threads: the graph's slice threads (1: the worker thread alone; auto: FFmpeg's choice)\n"
                           "   budget: one output frame's share of a second (bwdif gives a frame per field)\n"
                           "   reference: ffmpeg -filter_threads N -i CLIP -an -vf CHAIN -f null -, decode included,\n"
                           "           with our chain (ratio: ours / ffmpeg, CPU per frame) and, for HDR, with FFmpeg's\n"
                           "           tonemap filter (zscale to linear float, tonemap=mobius, zscale back)")
                .arg(options.runs));
    struct Case {
        QString file;
        QString label;
        QString target;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("1080i25.mp4"), QStringLiteral("1080i25 H.264, deinterlaced"), QString()},
        {QStringLiteral("2160p30-hdr.mp4"), QStringLiteral("2160p30 HEVC PQ, tone-mapped"), QString()},
        {QStringLiteral("2160p30-hdr.mp4"), QStringLiteral("  the same shown at 1920x1080"), QStringLiteral("1920x1080")},
    };
    QList<QStringList> rows;
    for (const Case &c : cases) {
        for (const QString &threads : {QStringLiteral("1"), QStringLiteral("0")}) {
            Samples f, ref;
            const QString clip = options.media + QLatin1Char('/') + c.file;
            for (int run = 0; run < options.runs; ++run) {
                QStringList args{options.filter, clip, threads};
                if (!c.target.isEmpty())
                    args << c.target;
                const ChildRun r = runChild(args);
                if (!r.ok)
                    continue;
                const auto result = bench::parseResult(r.output);
                f.addAll(result);
                const QString chain = result.value(QStringLiteral("chain"));
                if (chain.isEmpty() || chain == QLatin1String("none"))
                    continue;
                ref.add(QStringLiteral("same"), ffmpegFilterRun(clip, chain, threads).first);
                if (!chain.contains(QLatin1String("lutrgb")))
                    continue;
                // The usual chain with FFmpeg's tonemap filter, at the same size.
                const qsizetype scaled = chain.indexOf(QLatin1String("scale="));
                const QString shrink = scaled == 0 ? chain.section(QLatin1Char(','), 0, 0) + QLatin1Char(',') : QString();
                ref.add(QStringLiteral("tonemap"),
                        ffmpegFilterRun(clip, shrink + QStringLiteral(
                            "zscale=t=linear:npl=203:p=bt709,format=gbrpf32le,"
                            "tonemap=mobius:param=0.5:desat=0:peak=4.926,zscale=t=bt709:m=bt709:r=limited,"
                            "format=yuv420p"), threads).first);
            }
            rows << QStringList{c.label, threads == QLatin1String("0") ? QStringLiteral("auto") : threads,
                                num(f.median(QStringLiteral("frames_out")), 0),
                                num(f.median(QStringLiteral("budget_ms"))),
                                num(f.median(QStringLiteral("filter_ms"))),
                                num(f.median(QStringLiteral("filter_cpu_ms"))),
                                num(f.median(QStringLiteral("first_ms"))),
                                num(f.median(QStringLiteral("whole_ms"))),
                                num(f.median(QStringLiteral("whole_cpu_ms"))),
                                num(ref.median(QStringLiteral("same"))),
                                num(f.median(QStringLiteral("whole_cpu_ms")) / ref.median(QStringLiteral("same")), 2),
                                num(ref.median(QStringLiteral("tonemap"))),
                                num(f.median(QStringLiteral("realtime")), 2)};
        }
    }
    printTable({QStringLiteral("clip"), QStringLiteral("threads"), QStringLiteral("out frames"),
                QStringLiteral("budget"), QStringLiteral("filter"), QStringLiteral("filter CPU"),
                QStringLiteral("setup"), QStringLiteral("decode+filter"), QStringLiteral("decode+filter CPU"),
                QStringLiteral("ffmpeg CPU"), QStringLiteral("ratio"), QStringLiteral("ffmpeg tonemap CPU"),
                QStringLiteral("real time")},
               rows);
}

void previewSection(const Options &options)
{
    section(QStringLiteral("7. Hover preview: from the request (the pointer at rest) to the picture delivered on\n"
                           "   the GUI thread, through FramePreviewer's worker; ms, median of %1 runs of each figure.\n"
                           "   first: the file's first request (open + one key frame); miss: one request in each\n"
                           "   key-frame interval of the minute-long clip, shuffled (seek, one key frame decoded\n"
                           "   on one thread, scaled to 160 px); cached: again into an interval already shown")
                .arg(options.runs));
    QList<QStringList> rows;
    for (const PreviewClip &clip : previewClips) {
        Samples s;
        for (int run = 0; run < options.runs; ++run) {
            const ChildRun r = runChild({options.preview, QStringLiteral("latency"),
                                         options.media + QLatin1Char('/') + clip.file,
                                         QString::number(clip.keySeconds)});
            if (r.ok)
                s.addAll(bench::parseResult(r.output));
        }
        rows << QStringList{clip.label, num(s.median(QStringLiteral("first_ms"))),
                            num(s.median(QStringLiteral("miss_median_ms"))),
                            num(s.median(QStringLiteral("miss_p95_ms"))),
                            num(s.median(QStringLiteral("miss_max_ms"))),
                            num(s.median(QStringLiteral("hit_median_ms")), 2),
                            num(s.median(QStringLiteral("requests")), 0)};
    }
    printTable({QStringLiteral("clip"), QStringLiteral("first"), QStringLiteral("miss median"),
                QStringLiteral("miss p95"), QStringLiteral("miss max"), QStringLiteral("cached median"),
                QStringLiteral("requests")},
               rows);

    out << "\n  Playback while the pointer sweeps the position slider (hover moves at 20 Hz, across and\n"
           "  back every 4 s, each asking for a preview) against plain playback, same clip, runs\n"
           "  alternated; " << options.playSeconds << " s per run, median of " << options.runs << " runs\n";
    QList<QStringList> sweepRows;
    const QString seconds = QString::number(options.playSeconds);
    for (const Clip &clip : clips) {
        if (!clip.cpu)
            continue;
        Samples plain, swept;
        for (int run = 0; run < options.runs; ++run) {
            for (int turn = 0; turn < 2; ++turn) {
                const bool sweep = (turn == 0) == (run % 2 == 0);
                QStringList args{options.player, QStringLiteral("play"), clipPath(options, clip), seconds};
                if (sweep)
                    args << QStringLiteral("sweep");
                const ChildRun r = runChild(args);
                if (r.ok)
                    (sweep ? swept : plain).addAll(bench::parseResult(r.output));
            }
        }
        const auto row = [&](const QString &label, const Samples &x) {
            return QStringList{label, num(x.median(QStringLiteral("speed")), 4),
                               num(x.median(QStringLiteral("shown")), 0), num(x.median(QStringLiteral("dropped")), 0),
                               num(x.median(QStringLiteral("missing")), 0),
                               num(x.median(QStringLiteral("interval_p99_ms")), 2),
                               num(x.median(QStringLiteral("cpu_per_s")), 3),
                               num(x.median(QStringLiteral("sweep_moves")), 0)};
        };
        sweepRows << row(clip.label, plain) << row(clip.label + QStringLiteral(" + sweep"), swept);
    }
    printTable({QStringLiteral("clip"), QStringLiteral("speed"), QStringLiteral("shown"), QStringLiteral("dropped"),
                QStringLiteral("missing"), QStringLiteral("interval p99"), QStringLiteral("CPU s/s"),
                QStringLiteral("hover moves")},
               sweepRows);
}

QString firstLineOf(const QStringList &command)
{
    const ChildRun r = runChild(command);
    return QString::fromLocal8Bit(r.output).section(QLatin1Char('\n'), 0, 0).trimmed();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString &key = args[i];
        const QString &value = args[i + 1];
        if (key == QLatin1String("--media"))
            options.media = QDir(value).absolutePath();
        else if (key == QLatin1String("--player"))
            options.player = QFileInfo(value).absoluteFilePath();
        else if (key == QLatin1String("--filter"))
            options.filter = QFileInfo(value).absoluteFilePath();

        else if (key == QLatin1String("--preview"))
            options.preview = QFileInfo(value).absoluteFilePath();
        else if (key == QLatin1String("--runs"))
            options.runs = qMax(1, value.toInt());
        else if (key == QLatin1String("--play-seconds"))
            options.playSeconds = qMax(1.0, value.toDouble());
        else if (key == QLatin1String("--sections"))
            options.sections = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
        else if (key == QLatin1String("--build-type"))
            options.buildType = value;
    }
    if (options.player.isEmpty())
        options.player = QCoreApplication::applicationDirPath() + QStringLiteral("/bench_player");
    if (options.filter.isEmpty())
        options.filter = QFileInfo(options.player).absolutePath() + QStringLiteral("/bench_filter");
    if (options.preview.isEmpty())
        options.preview = QCoreApplication::applicationDirPath() + QStringLiteral("/bench_preview");
    if (options.media.isEmpty() || !QFileInfo::exists(options.player)) {
        std::fprintf(stderr, "usage: bench_report --media DIR [--player PATH] [--filter PATH] [--preview PATH]\n"
                             "                    [--runs N] [--play-seconds S]\n"
                             "                    [--sections throughput,stages,playback,startup,filter,preview]\n");
        return 2;
    }
    if (options.sections.isEmpty())
        options.sections = QStringList{QStringLiteral("throughput"), QStringLiteral("stages"),
                                       QStringLiteral("playback"), QStringLiteral("startup"),
                                       QStringLiteral("filter"), QStringLiteral("preview")};

    // The measured programs get a home of their own: the window must not pick up a
    // user's playlist or full-screen setting, nor write over them.
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/zeltora-bench-XXXXXX"));
    if (!scratch.isValid()) {
        std::fprintf(stderr, "bench_report: no scratch directory\n");
        return 1;
    }
    scratchDir = scratch.path();
    logPath = options.media + QStringLiteral("/bench.log");
    QFile::remove(logPath);
    const QByteArray home = QFile::encodeName(scratchDir + QStringLiteral("/home"));
    QDir().mkpath(QString::fromLocal8Bit(home + "/.config"));
    QDir().mkpath(QString::fromLocal8Bit(home + "/runtime"));
    QFile::setPermissions(QString::fromLocal8Bit(home + "/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    qputenv("XDG_DATA_HOME", home + "/.local/share");
    qputenv("XDG_CACHE_HOME", home + "/.cache");
    qputenv("XDG_RUNTIME_DIR", home + "/runtime");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");

    const qint64 startNs = bench::monotonicNs();
    out << "Zeltora benchmarks, " << QDateTime::currentDateTime().toString(Qt::ISODate) << '\n'
        << "  machine: " << cpuModel() << ", " << sysconf(_SC_NPROCESSORS_ONLN) << " cores\n"
        << "  build: " << (options.buildType.isEmpty() ? QStringLiteral("?") : options.buildType)
        << "; Qt " << qVersion() << "; FFmpeg libraries " << av_version_info() << '\n'
        << "  references: " << firstLineOf({QStringLiteral("ffmpeg"), QStringLiteral("-version")}) << "; "
        << firstLineOf({QStringLiteral("mpv"), QStringLiteral("--version")}) << '\n'
        << "  clips: " << options.media << "; " << options.runs << " runs per figure\n"
        << "  other load on the machine makes every figure noisier: see the load averages\n";
    out.flush();

    if (options.sections.contains(QLatin1String("throughput")))
        throughputSection(options);
    if (options.sections.contains(QLatin1String("stages")))
        stagesSection(options);
    if (options.sections.contains(QLatin1String("playback")))
        playbackSection(options);
    if (options.sections.contains(QLatin1String("startup")))
        startupSection(options);
    if (options.sections.contains(QLatin1String("filter")))
        filterSection(options);

    if (options.sections.contains(QLatin1String("preview")))
        previewSection(options);

    out << "\nDone in " << num(bench::secondsSince(startNs), 0) << " s; load average at end: " << loadAverage()
        << "\n  child programs' messages: " << logPath << '\n';
    return 0;
}
