#pragma once

// Owning thread: the GUI thread creates, calls and destroys it. It runs one worker
// thread of its own, at a lowered priority, which owns a PreviewDecoder and makes
// one picture at a time. The two threads share only the waiting request and the stop
// flag (under `lock`) and the abort flag the worker's reads poll; answers come back
// as queued calls on the GUI thread.

#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

// Pictures for the preview over the position slider, made off the GUI thread from
// a decoder of their own, so they never hold up the window or the playing file.
class FramePreviewer : public QObject
{
    Q_OBJECT

public:
    explicit FramePreviewer(QObject *parent = nullptr);
    // Stops the worker: a read in progress is interrupted, a decode in progress
    // (one key frame) finishes first.
    ~FramePreviewer() override;

    // Asks for the picture at `ms` into the file at `path`. A request still waiting
    // is replaced by it: when the pointer sweeps, only the newest is made.
    void request(const QString &path, qint64 ms);
    // Drops a request not yet started (the pointer has left the slider).
    void cancel();

signals:
    // The answer to a request: the key frame at or before requestedMs, taken at
    // frameMs; a null image when the file has no picture there.
    void previewReady(const QString &path, qint64 requestedMs, qint64 frameMs, const QImage &image);

private:
    struct Request {
        QString path;
        qint64 ms = 0;
    };

    void run(); // the worker thread's loop

    std::mutex lock;
    std::condition_variable wake;
    std::optional<Request> pending; // under lock
    bool stopping = false;          // under lock
    std::atomic<bool> abort{false};
    // A plain thread: it needs no event loop, and its start and join are ones the
    // thread sanitizer sees.
    std::thread worker;
};
