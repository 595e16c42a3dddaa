#include "playlist/thumbnailworker.h"

#include <QFileInfo>

#include <utility>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

// Files looked at in one go before a waiting thumbnail gets its turn: checks are
// cheap, but a thousand of them on a slow disk must not hold back what is on screen.
constexpr int checksPerTurn = 64;

// Thumbnails are background work: on a busy machine the GUI thread (and playback)
// must win the processor whenever both want it. Lowering a thread's own priority
// needs no privilege.
void lowerThisThreadsPriority()
{
#ifdef Q_OS_LINUX
    const auto tid = pid_t(syscall(SYS_gettid));
    const int current = getpriority(PRIO_PROCESS, id_t(tid));
    setpriority(PRIO_PROCESS, id_t(tid), qMin(current + 10, 19));
#endif
}

FileCheck look(const QString &path)
{
    FileCheck check;
    check.path = path;
    if (path.isEmpty())
        return check;
    const QFileInfo info(path);
    check.exists = info.exists();
    check.available = check.exists && info.isFile();
    if (check.available)
        check.stamp = {info.size(), info.lastModified().toMSecsSinceEpoch()};
    return check;
}

} // namespace

ThumbnailWorker::ThumbnailWorker(thumbnailprobe::Probe probe, const QString &cacheFolder,
                                 QObject *parent)
    : QObject(parent), probe(std::move(probe)), cache(cacheFolder)
{
    thread = std::thread([this] { run(); });
}

ThumbnailWorker::~ThumbnailWorker()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    stopRequested = true;
    wake.notify_all();
    thread.join();
}

void ThumbnailWorker::requestThumbnail(const QString &path)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        if (path == current && !currentCancelled)
            return;
        if (auto it = queued.find(path); it != queued.end()) {
            queue.splice(queue.begin(), queue, it.value());
            return;
        }
        queue.push_front(path);
        queued.insert(path, queue.begin());
        if (queue.size() > size_t(maxQueued)) {
            queued.remove(queue.back());
            queue.pop_back();
        }
    }
    wake.notify_one();
}

void ThumbnailWorker::requestChecks(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (const QString &path : paths) {
            if (!checksQueued.contains(path)) {
                checksQueued.insert(path);
                checks.append(path);
            }
        }
    }
    wake.notify_one();
}

void ThumbnailWorker::cancel(const QStringList &paths)
{
    std::lock_guard<std::mutex> guard(lock);
    for (const QString &path : paths) {
        if (auto it = queued.find(path); it != queued.end()) {
            queue.erase(it.value());
            queued.erase(it);
        }
        if (checksQueued.remove(path))
            checks.removeOne(path);
        if (path == current)
            currentCancelled = true;
    }
}

void ThumbnailWorker::cancelAll()
{
    std::lock_guard<std::mutex> guard(lock);
    queue.clear();
    queued.clear();
    checks.clear();
    checksQueued.clear();
    if (!current.isEmpty())
        currentCancelled = true;
}

QList<WorkerAnswer> ThumbnailWorker::takeAnswers()
{
    std::lock_guard<std::mutex> guard(lock);
    announced = false;
    return std::exchange(outbox, {});
}

void ThumbnailWorker::deliver(QList<WorkerAnswer> answers)
{
    bool announce = false;
    {
        std::lock_guard<std::mutex> guard(lock);
        outbox.append(std::move(answers));
        announce = !std::exchange(announced, true);
    }
    // One wake-up for a burst of answers: the receiver takes them all at once.
    if (announce)
        emit answersReady();
}

bool ThumbnailWorker::interrupted() const
{
    return stopRequested.load(std::memory_order_relaxed) || currentCancelled.load(std::memory_order_relaxed);
}

void ThumbnailWorker::run()
{
    lowerThisThreadsPriority();
    for (;;) {
        QStringList someChecks;
        QString path;
        {
            std::unique_lock<std::mutex> guard(lock);
            wake.wait(guard, [this] { return stopping || !checks.isEmpty() || !queue.empty(); });
            if (stopping)
                return;
            someChecks = checks.mid(0, checksPerTurn);
            checks.remove(0, someChecks.size());
            for (const QString &checked : std::as_const(someChecks))
                checksQueued.remove(checked);
            if (!queue.empty()) {
                path = queue.front();
                queue.pop_front();
                queued.remove(path);
                current = path;
                currentCancelled = false;
            }
        }
        if (!someChecks.isEmpty())
            serveChecks(someChecks);
        if (!path.isEmpty()) {
            serveThumbnail(path);
            std::lock_guard<std::mutex> guard(lock);
            current.clear();
        }
    }
}

void ThumbnailWorker::serveChecks(QStringList paths)
{
    QList<WorkerAnswer> found;
    found.reserve(paths.size());
    for (const QString &path : std::as_const(paths)) {
        if (stopRequested)
            return;
        found.append({look(path), false, QImage()});
    }
    deliver(std::move(found));
}

void ThumbnailWorker::serveThumbnail(const QString &path)
{
    const FileCheck check = look(path);
    if (!check.available) {
        // Never handed to the probe: opening a pipe or a device could block for good.
        deliver({{check, false, QImage()}});
        return;
    }
    ThumbnailCache::Entry cached = cache.load(path, check.stamp);
    if (cached.result != ThumbnailCache::Result::Miss) {
        deliver({{check, true, cached.picture}});
        return;
    }

    const QImage frame = probe ? probe(path, [this] { return interrupted(); }) : QImage();
    // A probe broken off says nothing about the file.
    if (interrupted())
        return;
    const QImage thumbnail = thumbnailprobe::cropThumbnail(frame);
    if (thumbnail.isNull())
        cache.storeNoPicture(path, check.stamp);
    else
        cache.storePicture(path, check.stamp, thumbnail);
    deliver({{check, true, thumbnail}});
}
