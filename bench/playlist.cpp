// The playlist at size: how long the GUI thread's event loop stalls while a folder of
// a thousand clips is added, shown and scrolled, and while 4K files get their
// thumbnails; what one data() call costs; thumbnails per second beside the ffmpeg
// tool decoding one frame; and how soon a restart shows the visible thumbnails from
// the disk cache. Each measurement runs in a fresh process and prints one
// "RESULT key=value ..." line; the report mode runs them and prints the figures.
//
//   bench_playlist report MEDIA [RUNS]  everything, over the folders bench/playlist.sh makes
//   bench_playlist panel DIR CACHE      add DIR's media, show the panel, scroll, make the rest
//   bench_playlist restart DIR CACHE    the same folder again over the filled cache
//   bench_playlist rate DIR CACHE       thumbnails per second for DIR's files, no view
//   bench_playlist reference DIR        the panel's steps over a plain list of the names
//
// The panel is a QListView of the window's width with the window's style sheet and
// item settings, shown on whatever platform Qt runs (offscreen in bench/playlist.sh).

#include "benchsupport.h"

#include "app/loadstylesheet.h"
#include "playlist/mediapaths.h"
#include "playlist/playlistmodel.h"
#include "playlist/thumbnailworker.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QListView>
#include <QProcess>
#include <QScrollBar>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <vector>

using bench::monotonicNs;
using bench::ResultLine;

namespace {

int fail(const char *what, const QString &detail = QString())
{
    std::fprintf(stderr, "bench_playlist: %s %s\n", what, detail.toLocal8Bit().constData());
    return 1;
}

qint64 threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// A timer that measures its own lateness: whatever held the event loop (a paint, a
// slow data() call, an insertion) shows as a tick that came late. On a busy machine
// a tick also comes late when the thread was not running at all, so the GUI thread's
// CPU time between two ticks is kept too: the longest stretch of our own work.
class LagProbe
{
public:
    static constexpr int intervalMs = 5;

    LagProbe()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(intervalMs);
        QObject::connect(&timer, &QTimer::timeout, [this] { tick(); });
    }
    void start()
    {
        lagsMs.clear();
        busyMs.clear();
        last = monotonicNs();
        lastCpu = threadCpuNs();
        timer.start();
    }
    // What the loop does before the next tick counts too.
    std::vector<double> stop()
    {
        tick();
        timer.stop();
        return lagsMs;
    }
    double maxBusyMs() const { return busyMs.empty() ? 0.0 : *std::max_element(busyMs.begin(), busyMs.end()); }

private:
    void tick()
    {
        const qint64 now = monotonicNs();
        const qint64 cpu = threadCpuNs();
        lagsMs.push_back(std::max(0.0, double(now - last) / 1e6 - intervalMs));
        busyMs.push_back(double(cpu - lastCpu) / 1e6);
        last = now;
        lastCpu = cpu;
    }

    QTimer timer;
    qint64 last = 0;
    qint64 lastCpu = 0;
    std::vector<double> lagsMs;
    std::vector<double> busyMs;
};

// The model as the window has it, with every data() call timed.
class TimedModel : public PlaylistModel
{
public:
    template <typename... Args>
    explicit TimedModel(Args &&...args) : PlaylistModel(std::forward<Args>(args)...)
    {
        // Growing the record inside a call would be timed as the call.
        callsUs.reserve(4000000);
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const qint64 t0 = monotonicNs();
        QVariant value = PlaylistModel::data(index, role);
        callsUs.push_back(double(monotonicNs() - t0) / 1e3);
        return value;
    }
    mutable std::vector<double> callsUs;
};

// Runs the event loop until the condition holds; false after the timeout.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void pause(int ms)
{
    waitUntil([] { return false; }, ms);
}

bool done(const PlaylistModel &model, int row)
{
    return model.thumbnailState(row) != PlaylistModel::Thumbnail::Pending;
}

// Every row the view shows has its final picture.
bool visibleDone(const QListView &view, const PlaylistModel &model)
{
    const QRect area = view.viewport()->rect();
    const int first = view.indexAt(area.topLeft() + QPoint(2, 2)).row();
    int last = view.indexAt(QPoint(2, area.bottom() - 2)).row();
    if (first < 0)
        return model.count() == 0;
    if (last < 0)
        last = model.count() - 1;
    for (int row = first; row <= last; ++row) {
        if (!done(model, row))
            return false;
    }
    return true;
}

bool allDone(const PlaylistModel &model)
{
    for (int row = 0; row < model.count(); ++row) {
        if (!done(model, row))
            return false;
    }
    return true;
}

// Asks for every thumbnail, as scrolling through the whole list would.
void requestAll(PlaylistModel &model)
{
    for (int row = 0; row < model.count(); ++row)
        model.data(model.index(row), Qt::DecorationRole);
}

void setUpView(QListView &view, PlaylistModel &model)
{
    // As the window sets up its playlist view; the panel is at most 300 wide.
    view.setModel(&model);
    view.setUniformItemSizes(true);
    view.setIconSize(QSize(40, 40));
    view.resize(300, 640);
}

void addLag(ResultLine &line, const QString &prefix, double busyMaxMs, std::vector<double> lags)
{
    line.add(prefix + QStringLiteral("busy_max_ms"), busyMaxMs, 2);
    line.add(prefix + QStringLiteral("lag_median_ms"), bench::median(lags), 2)
        .add(prefix + QStringLiteral("lag_p95_ms"), bench::percentile(lags, 95), 2)
        .add(prefix + QStringLiteral("lag_max_ms"), lags.empty() ? 0.0 : *std::max_element(lags.begin(), lags.end()), 2);
}

double maxOf(const std::vector<double> &values)
{
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

void addCalls(ResultLine &line, const TimedModel &model)
{
    line.add(QStringLiteral("data_calls"), double(model.callsUs.size()), 0)
        .add(QStringLiteral("data_median_us"), bench::median(model.callsUs), 2)
        .add(QStringLiteral("data_p99_us"), bench::percentile(model.callsUs, 99), 2)
        .add(QStringLiteral("data_max_us"), maxOf(model.callsUs), 2);
}

// Down three rows per 16 ms (a quick wheel), then back up a page per 50 ms. Between
// the two, waits for the thumbnails of the last screen when asked to.
qint64 scrollThrough(QListView &view, const std::function<bool()> &settled)
{
    QScrollBar *bar = view.verticalScrollBar();
    const qint64 start = monotonicNs();
    while (bar->value() < bar->maximum()) {
        bar->setValue(bar->value() + 3 * bar->singleStep());
        pause(16);
    }
    const qint64 down = monotonicNs() - start;
    waitUntil(settled, 60000);
    while (bar->value() > bar->minimum()) {
        bar->setValue(bar->value() - bar->pageStep());
        pause(50);
    }
    return down;
}

// ---------------------------------------------------------------------------------
// panel: the folder is scanned and added as the window's intake does (one batch),
// the panel is shown, scrolled down a wheel step at a time at 60 steps a second and
// back up a page at a time, then every remaining thumbnail is made (which fills the
// cache for the restart).

int runPanel(int argc, char **argv, const QString &dir, const QString &cache)
{
    QApplication app(argc, argv);
    loadStyleSheet(app);
    TimedModel model(PlaylistModel::defaultProbe(), cache);
    QListView view;
    setUpView(view, model);
    LagProbe probe;
    pause(200);

    probe.start();
    const qint64 addStart = monotonicNs();
    const qint64 addCpu = threadCpuNs();
    const QStringList files = mediapaths::scanFolder(dir);
    const double scanMs = double(monotonicNs() - addStart) / 1e6;
    model.addFiles(files);
    const double addMs = double(monotonicNs() - addStart) / 1e6;
    const double addCpuMs = double(threadCpuNs() - addCpu) / 1e6;
    pause(100);
    const auto addLags = probe.stop();
    const double addBusyMs = probe.maxBusyMs();
    if (files.isEmpty())
        return fail("no media in", dir);

    probe.start();
    const qint64 showStart = monotonicNs();
    const qint64 shownCpu = threadCpuNs();
    view.show();
    if (!waitUntil([&] { return visibleDone(view, model); }, 60000))
        return fail("the first screen of thumbnails did not come");
    const double firstScreenMs = double(monotonicNs() - showStart) / 1e6;

    const double scrollMs = double(scrollThrough(view, [&] { return visibleDone(view, model); })) / 1e6;
    const auto lags = probe.stop();
    const double shownCpuMs = double(threadCpuNs() - shownCpu) / 1e6;
    ResultLine line;
    addCalls(line, model);

    const qint64 restStart = monotonicNs();
    QElapsedTimer sinceAsked;
    sinceAsked.start();
    requestAll(model);
    // The queue keeps the newest requests; ask again for what fell off its end.
    if (!waitUntil([&] {
            if (sinceAsked.elapsed() > 1000) {
                requestAll(model);
                sinceAsked.restart();
            }
            return allDone(model);
        }, 600000))
        return fail("not every thumbnail was made");
    const double restMs = double(monotonicNs() - restStart) / 1e6;

    line.add(QStringLiteral("files"), double(files.size()), 0)
        .add(QStringLiteral("scan_ms"), scanMs, 2)
        .add(QStringLiteral("add_ms"), addMs, 2)
        .add(QStringLiteral("add_cpu_ms"), addCpuMs, 2);
    addLag(line, QStringLiteral("add_"), addBusyMs, addLags);
    line.add(QStringLiteral("first_screen_ms"), firstScreenMs, 1)
        .add(QStringLiteral("scroll_ms"), scrollMs, 0)
        .add(QStringLiteral("gui_cpu_ms"), shownCpuMs, 0);
    addLag(line, QString(), probe.maxBusyMs(), lags);
    line.add(QStringLiteral("rest_ms"), restMs, 0).print();
    return 0;
}

// ---------------------------------------------------------------------------------
// reference: the same view, style sheet and scrolling over a plain list of the same
// names without pictures, so what the machine and the view cost by themselves shows
// beside the playlist's figures.

int runReference(int argc, char **argv, const QString &dir)
{
    QApplication app(argc, argv);
    loadStyleSheet(app);
    QStringList names;
    for (const QString &path : mediapaths::scanFolder(dir))
        names << QFileInfo(path).fileName();
    QStringListModel model(names);
    QListView view;
    view.setModel(&model);
    view.setUniformItemSizes(true);
    view.setIconSize(QSize(40, 40));
    view.resize(300, 640);
    LagProbe probe;
    pause(200);
    probe.start();
    const qint64 cpu = threadCpuNs();
    view.show();
    pause(300);
    scrollThrough(view, [] { return true; });
    ResultLine line;
    line.add(QStringLiteral("files"), double(names.size()), 0)
        .add(QStringLiteral("gui_cpu_ms"), double(threadCpuNs() - cpu) / 1e6, 0);
    const auto lags = probe.stop();
    addLag(line, QString(), probe.maxBusyMs(), lags);
    line.print();
    return 0;
}

// ---------------------------------------------------------------------------------
// restart: a fresh process with the filled cache; the clock runs from the batch
// insertion until every row on the first screen shows its thumbnail.

int runRestart(int argc, char **argv, const QString &dir, const QString &cache)
{
    QApplication app(argc, argv);
    loadStyleSheet(app);
    TimedModel model(PlaylistModel::defaultProbe(), cache);
    QListView view;
    setUpView(view, model);
    view.show();
    LagProbe probe;
    pause(200);
    const QStringList files = mediapaths::scanFolder(dir);

    probe.start();
    const qint64 start = monotonicNs();
    model.addFiles(files);
    if (!waitUntil([&] { return visibleDone(view, model); }, 60000))
        return fail("the first screen of thumbnails did not come");
    const double shownMs = double(monotonicNs() - start) / 1e6;
    int pictures = 0;
    for (int row = 0; row < model.count(); ++row)
        pictures += model.thumbnailState(row) == PlaylistModel::Thumbnail::Picture;
    ResultLine line;
    line.add(QStringLiteral("files"), double(files.size()), 0)
        .add(QStringLiteral("shown_ms"), shownMs, 1)
        .add(QStringLiteral("pictures"), pictures, 0);
    const auto lags = probe.stop();
    addLag(line, QString(), probe.maxBusyMs(), lags);
    line.print();
    return 0;
}

// ---------------------------------------------------------------------------------
// rate: the worker alone, every file asked for at once, an empty cache.

int runRate(int argc, char **argv, const QString &dir, const QString &cache)
{
    QApplication app(argc, argv);
    PlaylistModel model(PlaylistModel::defaultProbe(), cache);
    const QStringList files = mediapaths::scanFolder(dir);
    if (files.size() > ThumbnailWorker::maxQueued)
        return fail("more files than the worker queues at once:", dir);
    model.addFiles(files);
    pause(100); // the availability checks first
    const double cpuStart = bench::processCpuSeconds();
    const qint64 start = monotonicNs();
    requestAll(model);
    if (!waitUntil([&] { return allDone(model); }, 600000))
        return fail("not every thumbnail was made");
    const double seconds = double(monotonicNs() - start) / 1e9;
    int pictures = 0;
    for (int row = 0; row < model.count(); ++row)
        pictures += model.thumbnailState(row) == PlaylistModel::Thumbnail::Picture;
    ResultLine()
        .add(QStringLiteral("files"), double(files.size()), 0)
        .add(QStringLiteral("pictures"), pictures, 0)
        .add(QStringLiteral("per_second"), files.size() / seconds, 2)
        .add(QStringLiteral("ms_each"), seconds * 1e3 / files.size(), 2)
        .add(QStringLiteral("cpu_ms_each"), (bench::processCpuSeconds() - cpuStart) * 1e3 / files.size(), 2)
        .print();
    return 0;
}

// ---------------------------------------------------------------------------------
// report

QTextStream out(stdout);

QMap<QString, QString> runSelf(const QStringList &args)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), args);
    if (!child.waitForFinished(1800000) || child.exitCode() != 0) {
        std::fprintf(stderr, "bench_playlist: %s failed\n", qPrintable(args.join(QLatin1Char(' '))));
        return {};
    }
    return bench::parseResult(child.readAllStandardOutput());
}

// Wall time of `ffmpeg -i F -frames:v 1 -f null -` over the first files of a folder.
double ffmpegOneFrameMs(const QString &dir, int files)
{
    std::vector<double> times;
    const QStringList all = mediapaths::scanFolder(dir);
    for (int i = 0; i < files && i < all.size(); ++i) {
        QProcess ffmpeg;
        const qint64 start = monotonicNs();
        ffmpeg.start(QStringLiteral("ffmpeg"), {QStringLiteral("-nostdin"), QStringLiteral("-loglevel"),
                                               QStringLiteral("error"), QStringLiteral("-i"), all.at(i),
                                               QStringLiteral("-frames:v"), QStringLiteral("1"),
                                               QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")});
        if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
            return std::nan("");
        times.push_back(double(monotonicNs() - start) / 1e6);
    }
    return bench::median(times);
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2)
                                          : QStringLiteral("?");
}

QString cell(const QMap<QString, QString> &r, const QString &key)
{
    return r.value(key, QStringLiteral("-"));
}

void printLag(const QMap<QString, QString> &ours, const QMap<QString, QString> &plain)
{
    out << "  event-loop lag, ms         median    p95     max  longest work  GUI-thread CPU ms\n"
        << "    playlist, shown+scrolled " << cell(ours, "lag_median_ms").rightJustified(6) << " "
        << cell(ours, "lag_p95_ms").rightJustified(6) << " " << cell(ours, "lag_max_ms").rightJustified(7) << "  "
        << cell(ours, "busy_max_ms").rightJustified(12) << "  " << cell(ours, "gui_cpu_ms").rightJustified(17) << "\n"
        << "    plain list, same steps   " << cell(plain, "lag_median_ms").rightJustified(6) << " "
        << cell(plain, "lag_p95_ms").rightJustified(6) << " " << cell(plain, "lag_max_ms").rightJustified(7) << "  "
        << cell(plain, "busy_max_ms").rightJustified(12) << "  " << cell(plain, "gui_cpu_ms").rightJustified(17) << "\n";
}

void printCalls(const QMap<QString, QString> &r)
{
    out << "  data(): " << cell(r, "data_calls") << " calls; wall median " << cell(r, "data_median_us")
        << " us, p99 " << cell(r, "data_p99_us") << " us, max " << cell(r, "data_max_us") << " us\n";
}

int runReport(int argc, char **argv, const QString &media, int runs)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir work;
    if (!work.isValid())
        return fail("no scratch folder");
    const QString folder = media + QStringLiteral("/folder-1000");
    const QString big = media + QStringLiteral("/2160p-60");
    const QString fullHd = media + QStringLiteral("/1080p-20");
    for (const QString &dir : {folder, big, fullHd}) {
        if (mediapaths::scanFolder(dir).isEmpty())
            return fail("no media in (run bench/playlist.sh)", dir);
    }

    out << "Playlist benchmark, " << QDateTime::currentDateTime().toString(Qt::ISODate) << "\n"
        << "  event-loop lag: lateness of a 5 ms timer on the GUI thread; plain list: the same view,\n"
        << "  style sheet and scrolling over a QStringListModel of the names (what the view and the\n"
        << "  machine cost by themselves); longest work: the most CPU time the GUI thread spent\n"
        << "  between two ticks (a tick late with little work means the thread was not running);\n"
        << "  data(): every call the view made\n";

    out << "\n1. A folder of 1,000 generated clips: scanned and added in one batch, the panel shown,\n"
           "   scrolled down 3 rows per 16 ms and back up a page per 50 ms; empty cache\n"
        << "  (load average at start: " << loadAverage() << ")\n";
    out.flush();
    const auto panel = runSelf({QStringLiteral("panel"), folder, work.filePath(QStringLiteral("cache-folder"))});
    const auto plain = runSelf({QStringLiteral("reference"), folder});
    out << "  files " << cell(panel, "files") << "; scan " << cell(panel, "scan_ms") << " ms, scan+add "
        << cell(panel, "add_ms") << " ms (GUI-thread CPU " << cell(panel, "add_cpu_ms")
        << " ms); over it and the next 100 ms: lag max " << cell(panel, "add_lag_max_ms") << " ms, longest work "
        << cell(panel, "add_busy_max_ms") << " ms\n"
        << "  first screen of thumbnails " << cell(panel, "first_screen_ms") << " ms after show; scrolling down took "
        << cell(panel, "scroll_ms") << " ms\n";
    printLag(panel, plain);
    printCalls(panel);
    out << "  the remaining thumbnails, all asked for at once: " << cell(panel, "rest_ms") << " ms\n";

    out << "\n2. Restart: a fresh process adds the same 1,000 entries over the filled cache; time\n"
           "   until every row on the first screen shows its thumbnail (median of " << runs << " runs)\n"
        << "  (load average at start: " << loadAverage() << ")\n";
    out.flush();
    std::vector<double> shown, restartLag;
    QString pictures;
    for (int run = 0; run < runs; ++run) {
        const auto r = runSelf({QStringLiteral("restart"), folder, work.filePath(QStringLiteral("cache-folder"))});
        if (r.isEmpty())
            continue;
        shown.push_back(r.value(QStringLiteral("shown_ms")).toDouble());
        restartLag.push_back(r.value(QStringLiteral("lag_max_ms")).toDouble());
        pictures = r.value(QStringLiteral("pictures"));
    }
    out << "  first screen shown " << QString::number(bench::median(shown), 'f', 1) << " ms (runs: ";
    for (double ms : shown)
        out << QString::number(ms, 'f', 1) << ' ';
    out << "); lag max " << QString::number(bench::median(restartLag), 'f', 2) << " ms; rows with a picture "
        << pictures << "\n";

    out << "\n3. 60 copies of a 2160p clip in the panel, empty cache: shown, scrolled, all made\n"
        << "  (load average at start: " << loadAverage() << ")\n";
    out.flush();
    const auto four = runSelf({QStringLiteral("panel"), big, work.filePath(QStringLiteral("cache-big"))});
    const auto plainFour = runSelf({QStringLiteral("reference"), big});
    out << "  first screen of thumbnails " << cell(four, "first_screen_ms") << " ms after show; all 60 made "
        << cell(four, "rest_ms") << " ms after the scrolling\n";
    printLag(four, plainFour);
    printCalls(four);

    out << "\n4. Thumbnails per second, empty cache, beside ffmpeg -i F -frames:v 1 -f null -\n"
           "   (a fresh ffmpeg process per file, median wall time of 5 files, start-up included;\n"
           "   ours: the worker asked for every file at once, median of " << runs << " runs;\n"
           "   CPU: the whole process, all threads)\n"
        << "  (load average at start: " << loadAverage() << ")\n"
        << "  clip    files  ours/s  ours ms each  ours CPU ms each  ffmpeg ms each  ffmpeg/s  ours/ffmpeg\n";
    out.flush();
    for (const auto &[label, dir] : {std::pair{QStringLiteral("1080p"), fullHd}, std::pair{QStringLiteral("2160p"), big}}) {
        std::vector<double> each, cpu;
        QString files;
        for (int run = 0; run < runs; ++run) {
            const auto r = runSelf({QStringLiteral("rate"), dir,
                                    work.filePath(QStringLiteral("cache-rate-%1-%2").arg(label).arg(run))});
            if (r.isEmpty())
                continue;
            each.push_back(r.value(QStringLiteral("ms_each")).toDouble());
            cpu.push_back(r.value(QStringLiteral("cpu_ms_each")).toDouble());
            files = r.value(QStringLiteral("files"));
        }
        const double ours = bench::median(each);
        const double ffmpeg = ffmpegOneFrameMs(dir, 5);
        out << "  " << label.leftJustified(6) << "  " << files.rightJustified(5) << "  "
            << QString::number(1000.0 / ours, 'f', 1).rightJustified(6) << "  "
            << QString::number(ours, 'f', 1).rightJustified(12) << "  "
            << QString::number(bench::median(cpu), 'f', 1).rightJustified(16) << "  "
            << QString::number(ffmpeg, 'f', 1).rightJustified(14) << "  "
            << QString::number(1000.0 / ffmpeg, 'f', 1).rightJustified(8) << "  "
            << QString::number(ffmpeg / ours, 'f', 2).rightJustified(11) << "\n";
        out.flush();
    }
    out << "\nload average at end: " << loadAverage() << "\n";
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const QStringList args = [&] {
        QStringList list;
        for (int i = 1; i < argc; ++i)
            list << QString::fromLocal8Bit(argv[i]);
        return list;
    }();
    const QString mode = args.value(0);
    if (mode == QLatin1String("panel") && args.size() == 3)
        return runPanel(argc, argv, args.at(1), args.at(2));
    if (mode == QLatin1String("restart") && args.size() == 3)
        return runRestart(argc, argv, args.at(1), args.at(2));
    if (mode == QLatin1String("reference") && args.size() == 2)
        return runReference(argc, argv, args.at(1));
    if (mode == QLatin1String("rate") && args.size() == 3)
        return runRate(argc, argv, args.at(1), args.at(2));
    if (mode == QLatin1String("report") && args.size() >= 2)
        return runReport(argc, argv, args.at(1), args.value(2, QStringLiteral("3")).toInt());
    std::fprintf(stderr, "usage: bench_playlist report MEDIA [RUNS] | panel DIR CACHE | restart DIR CACHE"
                         " | rate DIR CACHE | reference DIR\n");
    return 2;
}
