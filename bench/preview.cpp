// How long the preview over the position slider takes to appear: from the request (the
// pointer comes to rest) to the picture delivered on the GUI thread, through the real
// FramePreviewer and its worker thread.
//
//   bench_preview latency CLIP KEYFRAME_SECONDS
//
// The first request opens the file and is reported on its own. Then one request in
// the middle of every key-frame interval, in shuffled order, each a cache miss (seek,
// one key frame decoded, scaled); then one more into each interval already seen,
// which the cache answers. Each request waits for its answer, as a resting pointer does.

#include "benchsupport.h"

#include "decoder/ffmpegsupport.h"
#include "preview/framepreviewer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

qint64 clipDurationMs(const QString &clip)
{
    AVFormatContext *opened = nullptr;
    if (ffmpeg::openLocalInput(&opened, clip) < 0)
        return 0;
    const ffmpeg::FormatContextPtr format(opened);
    if (avformat_find_stream_info(format.get(), nullptr) < 0 || format->duration <= 0)
        return 0;
    return format->duration / 1000;
}

struct Answer {
    bool ok = false;
    double ms = 0;
    qint64 frameMs = -1;
};

// One request, waited for (at most 10 s).
Answer ask(FramePreviewer &previewer, const QString &clip, qint64 ms)
{
    Answer answer;
    QEventLoop loop;
    const auto connection = QObject::connect(
        &previewer, &FramePreviewer::previewReady, &loop,
        [&](const QString &, qint64 requested, qint64 frameMs, const QImage &image) {
            if (requested != ms)
                return;
            answer.ok = !image.isNull();
            answer.frameMs = frameMs;
            loop.quit();
        });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    const qint64 start = bench::monotonicNs();
    previewer.request(clip, ms);
    loop.exec();
    answer.ms = double(bench::monotonicNs() - start) / 1e6;
    QObject::disconnect(connection);
    return answer;
}

int runLatency(const QString &clip, double keySeconds)
{
    const qint64 duration = clipDurationMs(clip);
    const qint64 interval = qint64(keySeconds * 1000);
    if (duration <= 0 || interval <= 0) {
        std::fprintf(stderr, "bench_preview: no duration for %s\n", qPrintable(clip));
        return 1;
    }
    std::vector<qint64> middles;
    for (qint64 key = 0; key + interval / 2 < duration; key += interval)
        middles.push_back(key + interval / 2);
    std::shuffle(middles.begin(), middles.end(), std::mt19937(20250303));

    FramePreviewer previewer;
    // The first request pays for opening the file; it starts where no later one goes.
    const Answer first = ask(previewer, clip, 0);
    std::vector<double> misses, hits;
    int failures = first.ok ? 0 : 1;
    for (qint64 ms : middles) {
        const Answer a = ask(previewer, clip, ms);
        a.ok ? misses.push_back(a.ms) : void(++failures);
    }
    for (qint64 ms : middles) {
        const Answer a = ask(previewer, clip, ms + interval / 4);
        a.ok ? hits.push_back(a.ms) : void(++failures);
    }
    bench::ResultLine()
        .add(QStringLiteral("first_ms"), first.ms, 2)
        .add(QStringLiteral("miss_median_ms"), bench::median(misses), 2)
        .add(QStringLiteral("miss_p95_ms"), bench::percentile(misses, 95), 2)
        .add(QStringLiteral("miss_max_ms"), bench::percentile(misses, 100), 2)
        .add(QStringLiteral("hit_median_ms"), bench::median(hits), 3)
        .add(QStringLiteral("requests"), double(misses.size() + hits.size() + 1), 0)
        .add(QStringLiteral("failures"), failures, 0)
        .print();
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc >= 4 && QByteArray(argv[1]) == "latency")
        return runLatency(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]).toDouble());
    std::fprintf(stderr, "usage: bench_preview latency CLIP KEYFRAME_SECONDS\n");
    return 2;
}
