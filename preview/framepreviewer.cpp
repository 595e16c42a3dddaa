#include "preview/framepreviewer.h"

#include "preview/previewdecoder.h"

#include <QtGlobal>

#if defined(Q_OS_LINUX)
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#define NOMINMAX
#include <windows.h>
#endif

namespace {

// The playing file comes first: on a busy machine this thread waits for it.
void lowerThisThreadsPriority()
{
#if defined(Q_OS_LINUX)
    pthread_setname_np(pthread_self(), "preview");
    // Linux's normal scheduler has no thread priorities; a thread's own nice value
    // is what it weighs.
    if (setpriority(PRIO_PROCESS, gettid(), 10) != 0)
        qDebug("Could not lower the preview thread's priority");
#elif defined(Q_OS_WIN)
    if (!SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST))
        qDebug("Could not lower the preview thread's priority");
#endif
}

} // namespace

FramePreviewer::FramePreviewer(QObject *parent)
    : QObject(parent)
{
    worker = std::thread([this] { run(); });
}

FramePreviewer::~FramePreviewer()
{
    {
        const std::lock_guard<std::mutex> guard(lock);
        stopping = true;
        pending.reset();
    }
    abort = true;
    wake.notify_all();
    // Bounded by one key-frame decode: reads give up at once on the abort flag.
    worker.join();
}

void FramePreviewer::request(const QString &path, qint64 ms)
{
    {
        const std::lock_guard<std::mutex> guard(lock);
        pending = Request{path, ms};
    }
    wake.notify_one();
}

void FramePreviewer::cancel()
{
    const std::lock_guard<std::mutex> guard(lock);
    pending.reset();
}

void FramePreviewer::run()
{
    lowerThisThreadsPriority();
    PreviewDecoder decoder(&abort);
    for (;;) {
        Request next;
        {
            std::unique_lock<std::mutex> guard(lock);
            wake.wait(guard, [this] { return stopping || pending.has_value(); });
            if (stopping)
                return;
            next = std::move(*pending);
            pending.reset();
        }
        const PreviewDecoder::Preview preview = decoder.frameAt(next.path, next.ms);
        if (abort)
            return;
        QMetaObject::invokeMethod(this, [this, next, preview] {
            emit previewReady(next.path, next.ms, preview.frameMs, preview.image);
        }, Qt::QueuedConnection);
    }
}
