#include "preview/framepreviewer.h"

#include "preview/previewdecoder.h"

#include <QThread>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

FramePreviewer::FramePreviewer(QObject *parent)
    : QObject(parent)
{
    worker = QThread::create([this] { run(); });
    worker->setObjectName(QStringLiteral("preview"));
    worker->start(QThread::LowestPriority);
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
    worker->wait();
    delete worker;
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
#ifdef Q_OS_LINUX
    // Linux's normal scheduler ignores QThread's priorities; a nice value of this
    // thread alone is what makes it yield to the playing file on a busy machine.
    if (setpriority(PRIO_PROCESS, gettid(), 10) != 0)
        qDebug("Could not lower the preview thread's priority");
#endif
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
