#pragma once

// Threads: the object lives on the thread that creates it (the GUI thread), which
// alone calls its public functions; they touch the request queues and the outbox
// under the lock and never wait for a probe. One thread of its own takes requests
// off the queues, looks at files (stat), reads and writes the disk cache, runs the
// probe and puts every answer in the outbox; answersReady() (connect it queued)
// says the outbox has something, once until it is emptied. The destructor
// interrupts a probe in progress and joins the thread.

#include "playlist/thumbnailcache.h"
#include "playlist/thumbnailprobe.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

// What a look at a file found. Only a regular file is available; its stamp is valid.
struct FileCheck {
    QString path;
    bool exists = false;
    bool available = false;
    FileStamp stamp;
};

// One answer of the worker: a look at a file, or a thumbnail made for the file as
// the look found it (a null thumbnail: the file has no picture the probe could find).
struct WorkerAnswer {
    FileCheck check;
    bool hasThumbnail = false;
    QImage thumbnail;
};

class ThumbnailWorker : public QObject
{
    Q_OBJECT

public:
    // The most thumbnail requests waiting at once; beyond it the oldest is dropped
    // (its row asks again when it is painted again).
    static constexpr int maxQueued = 256;

    ThumbnailWorker(thumbnailprobe::Probe probe, const QString &cacheFolder,
                    QObject *parent = nullptr);
    ~ThumbnailWorker() override;

    // A thumbnail is wanted: served before every older request; asking again for a
    // path still waiting moves it to the front.
    void requestThumbnail(const QString &path);
    // These files are looked at again (exists, regular, size, time), before any probe.
    void requestChecks(const QStringList &paths);
    // Requests for these paths are dropped and a probe of one of them is broken off.
    void cancel(const QStringList &paths);
    void cancelAll();

    // Everything answered since the last call, in the order it was found.
    QList<WorkerAnswer> takeAnswers();

signals:
    void answersReady();

private:
    void deliver(QList<WorkerAnswer> answers);
    void run();
    void serveChecks(QStringList paths);
    void serveThumbnail(const QString &path);
    bool interrupted() const;

    const thumbnailprobe::Probe probe;
    ThumbnailCache cache; // worker thread only

    std::mutex lock;
    std::condition_variable wake;
    std::list<QString> queue; // newest first
    QHash<QString, std::list<QString>::iterator> queued;
    QStringList checks;
    QSet<QString> checksQueued;
    QString current;          // the path being probed
    bool stopping = false;
    QList<WorkerAnswer> outbox;
    bool announced = false;   // answersReady() sent, outbox not yet taken

    std::atomic<bool> stopRequested{false};
    std::atomic<bool> currentCancelled{false};
    std::thread thread;
};
