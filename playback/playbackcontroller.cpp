#include "playback/playbackcontroller.h"

#include "playback/demuxer.h"
#include "playback/videoworker.h"

#include <QLoggingCategory>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>

Q_LOGGING_CATEGORY(lcPlayback, "zeltora.playback", QtInfoMsg)

namespace {

constexpr int frameQueueCapacity = 3;
// A run of late frames is dropped only while something reached the screen recently,
// so a machine too slow for the file still shows a picture now and then.
constexpr qint64 maxDropSpanMs = 250;
// While nothing is due, the presenter still looks in now and then: the clock may be
// released, a stream may end.
constexpr int idleCheckMs = 20;
// During a drag, a fast seek waits this long at most for the previous one's picture.
constexpr int fastSeekPatienceMs = 150;

} // namespace

PlaybackController::PlaybackController(QObject *parent, Options options)
    : QObject(parent),
      videoPackets(&videoWakeup, &demuxWakeup),
      audioPackets(nullptr, &demuxWakeup),
      frames(frameQueueCapacity, &videoWakeup)
{
    wall.start();

    presentTimer = new QTimer(this);
    presentTimer->setSingleShot(true);
    presentTimer->setTimerType(Qt::PreciseTimer);
    connect(presentTimer, &QTimer::timeout, this, &PlaybackController::present);

    fastSeekTimer = new QTimer(this);
    fastSeekTimer->setSingleShot(true);
    fastSeekTimer->setInterval(fastSeekPatienceMs);
    connect(fastSeekTimer, &QTimer::timeout, this, &PlaybackController::runPendingFastSeek);

    Demuxer::Callbacks demuxerCallbacks;
    demuxerCallbacks.opened = [this](int playSerial, const MediaInfo &opened) {
        QMetaObject::invokeMethod(this, [this, playSerial, opened] { onOpened(playSerial, opened); },
                                  Qt::QueuedConnection);
    };
    demuxerCallbacks.failed = [this](int playSerial, const QString &path, const QString &message) {
        QMetaObject::invokeMethod(this, [this, playSerial, path, message] { onOpenFailed(playSerial, path, message); },
                                  Qt::QueuedConnection);
    };
    demuxerCallbacks.subtitleFailed = [this](const QString &path, const QString &message) {
        QMetaObject::invokeMethod(this, [this, path, message] {
            if (phase != Phase::Idle && path == info.path)
                emit subtitleError(message);
        }, Qt::QueuedConnection);
    };
    demuxer = std::make_unique<Demuxer>(&videoPackets, &audioPackets, &demuxWakeup, std::move(demuxerCallbacks));

    VideoWorker::Callbacks videoCallbacks;
    videoCallbacks.framesQueued = [this] {
        // One wake-up in flight is enough: present() looks at the whole queue.
        if (!presentPosted.exchange(true))
            QMetaObject::invokeMethod(this, [this] { presentPosted = false; present(); }, Qt::QueuedConnection);
    };
    videoCallbacks.refreshed = [this](const VideoFrame &frame) {
        QMetaObject::invokeMethod(this, [this, frame] { onRefreshed(frame); }, Qt::QueuedConnection);
    };
    video = std::make_unique<VideoWorker>(&videoPackets, &frames, &videoWakeup, &clock, &serial,
                                          std::move(videoCallbacks));

    audioThread = new QThread(this);
    audioThread->setObjectName(QStringLiteral("zeltora-audio"));
    audio = new AudioWorker(&audioPackets, &clock, &serial, std::move(options.audioBackend));
    audio->moveToThread(audioThread);
    connect(audioThread, &QThread::started, audio, &AudioWorker::initialise);
    connect(audioThread, &QThread::finished, audio, &QObject::deleteLater);
    connect(audioThread, &QThread::finished, this,
            [this] { audioThreadDone.store(true, std::memory_order_release); }, Qt::DirectConnection);
    connect(audio, &AudioWorker::ended, this, &PlaybackController::onAudioEnded);
    connect(audio, &AudioWorker::outputLost, this, [this] { emit soundOutputChanged(false); });
    connect(audio, &AudioWorker::outputFound, this, [this] { emit soundOutputChanged(true); });
    audioThread->start(QThread::HighPriority);
}

PlaybackController::~PlaybackController()
{
    // Each worker ends its own wait or read promptly when told to stop.
    demuxer.reset();
    video.reset();
    audioThread->quit();
    audioThread->wait();
    // The queues, the clock and the serial the audio worker used go with this object.
    [[maybe_unused]] const bool done = audioThreadDone.load(std::memory_order_acquire);
    Q_ASSERT(done);
}

MediaClock::Master PlaybackController::masterFor() const
{
    // While a file opens its streams are not known yet; the audio worker hands the
    // clock to the wall when the file turns out to have no sound it can play.
    const bool sound = phase == Phase::Loading || info.hasAudio;
    return sound && audio->outputAvailable() ? MediaClock::Master::Audio : MediaClock::Master::Wall;
}

int PlaybackController::beginPlay(double atMs)
{
    lastSeekFast = false;
    const int playSerial = serial.fetch_add(1, std::memory_order_acq_rel) + 1;
    clock.reset(atMs, masterFor(), playSerial);
    frames.clear();
    presentTimer->stop();
    shownSinceReset = false;
    showNext = true;
    seekTargetMs = qint64(atMs);
    videoEnded = false;
    audioEnded = false;
    finishEmitted = false;
    return playSerial;
}

void PlaybackController::load(const QString &path)
{
    // A loaded file waits, as after a stop, for play or a seek to show its picture.
    pause();
    stopped = true;
    phase = Phase::Loading;
    info = MediaInfo();
    info.path = path;
    hasPendingSeek = false;
    hasPendingFastSeek = false;
    fastSeekTimer->stop();
    current = VideoFrame();
    const int playSerial = beginPlay(0.0);
    demuxer->open(path, playSerial);
}

void PlaybackController::onOpened(int playSerial, const MediaInfo &opened)
{
    if (playSerial != serial.load() || phase != Phase::Loading)
        return;
    phase = Phase::Ready;
    info = opened;
    emit loaded(info);
    if (hasPendingSeek) {
        hasPendingSeek = false;
        seek(pendingSeekMs, pendingSeekMode);
    }
    schedulePresent();
}

void PlaybackController::onOpenFailed(int playSerial, const QString &path, const QString &message)
{
    if (playSerial != serial.load() || phase != Phase::Loading)
        return;
    phase = Phase::Failed;
    playing = false;
    clock.setPaused(true);
    emit loadFailed(path, message);
}

void PlaybackController::play()
{
    if (phase != Phase::Ready && phase != Phase::Loading)
        return;
    playing = true;
    stopped = false;
    clock.setPaused(false);
    QMetaObject::invokeMethod(audio, [worker = audio] { worker->setPlaying(true); }, Qt::QueuedConnection);
    schedulePresent();
}

void PlaybackController::pause()
{
    playing = false;
    clock.setPaused(true);
    QMetaObject::invokeMethod(audio, [worker = audio] { worker->setPlaying(false); }, Qt::QueuedConnection);
    presentTimer->stop();
}

void PlaybackController::stop()
{
    pause();
    stopped = true;
    if (phase != Phase::Ready)
        return;
    // Everything queued goes; the file is read again from where it was.
    const qint64 at = position();
    const int playSerial = beginPlay(double(at));
    demuxer->seek(at, true, playSerial);
}

void PlaybackController::close()
{
    pause();
    stopped = false;
    phase = Phase::Idle;
    info = MediaInfo();
    current = VideoFrame();
    hasPendingSeek = false;
    hasPendingFastSeek = false;
    fastSeekTimer->stop();
    demuxer->close(beginPlay(0.0));
}

void PlaybackController::seek(qint64 ms, SeekMode mode)
{
    if (phase == Phase::Loading) {
        hasPendingSeek = true;
        pendingSeekMs = ms;
        pendingSeekMode = mode;
        return;
    }
    if (phase != Phase::Ready)
        return;
    qint64 target = qMax<qint64>(0, ms);
    if (info.durationMs > 0)
        target = qMin(target, info.durationMs);

    if (mode == SeekMode::Fast && !shownSinceReset && fastSeekTimer->isActive()) {
        // The previous drag position has not shown its picture yet: the newest
        // position waits a moment rather than cancelling it over and over.
        hasPendingFastSeek = true;
        pendingFastSeekMs = target;
        return;
    }
    hasPendingFastSeek = false;
    // A seek after a stop shows the picture at the new place, like one while paused.
    stopped = false;
    if (mode == SeekMode::Fast)
        fastSeekTimer->start();
    else
        fastSeekTimer->stop();

    const int playSerial = beginPlay(double(target));
    lastSeekFast = mode == SeekMode::Fast;
    qCDebug(lcPlayback) << "seek" << target << (mode == SeekMode::Exact ? "exact" : "fast") << "play" << playSerial;
    demuxer->seek(target, mode == SeekMode::Exact, playSerial);
    if (playing)
        schedulePresent();
}

void PlaybackController::runPendingFastSeek()
{
    if (!hasPendingFastSeek)
        return;
    hasPendingFastSeek = false;
    seek(pendingFastSeekMs, SeekMode::Fast);
}

void PlaybackController::setVolume(double linear)
{
    currentVolume = linear;
    QMetaObject::invokeMethod(audio, [worker = audio, linear] { worker->setVolume(linear); }, Qt::QueuedConnection);
}

void PlaybackController::setVideoArea(QSize area, bool cover)
{
    video->setTarget(area, cover);
    if (!playing && current.source && current.serial == serial.load())
        video->refresh(current);
}

void PlaybackController::restartHere()
{
    // A seek to where playback is: the same path a seek takes, so everything read
    // ahead for the old choice is thrown away and the new one starts in step.
    const qint64 at = position();
    lastSeekFast = false;
    hasPendingFastSeek = false;
    fastSeekTimer->stop();
    const int playSerial = beginPlay(double(at));
    demuxer->seek(at, true, playSerial);
    if (playing)
        schedulePresent();
}

void PlaybackController::setAudioTrack(int streamIndex)
{
    if (phase != Phase::Ready || streamIndex == info.audioTrack)
        return;
    const bool known = std::any_of(info.audioTracks.cbegin(), info.audioTracks.cend(),
                                   [&](const MediaTrack &track) { return track.index == streamIndex; });
    if (!known)
        return;
    info.audioTrack = streamIndex;
    info.hasAudio = true;
    demuxer->selectAudio(streamIndex);
    restartHere();
    emit tracksChanged();
}

void PlaybackController::setSubtitleTrack(int streamIndex)
{
    if (phase != Phase::Ready || !info.hasVideo)
        return;
    if (streamIndex == info.subtitleTrack && info.subtitleFile.isEmpty())
        return;
    const bool known = streamIndex < 0 || std::any_of(info.subtitleTracks.cbegin(), info.subtitleTracks.cend(),
                                   [&](const MediaTrack &track) { return track.index == streamIndex; });
    if (!known)
        return;
    info.subtitleTrack = qMax(-1, streamIndex);
    info.subtitleFile.clear();
    demuxer->selectSubtitles(info.subtitleTrack, QString());
    // A stream's lines already read past come again with a seek; turning them off
    // while paused needs the picture on screen drawn again.
    if (info.subtitleTrack >= 0 || !playing)
        restartHere();
    emit tracksChanged();
}

void PlaybackController::setSubtitleFile(const QString &path)
{
    if (phase != Phase::Ready || !info.hasVideo || path.isEmpty() || path == info.subtitleFile)
        return;
    info.subtitleTrack = -1;
    info.subtitleFile = path;
    demuxer->selectSubtitles(-1, path);
    // Every line of a file is fed at once; only a still picture needs drawing again.
    if (!playing)
        restartHere();
    emit tracksChanged();
}

bool PlaybackController::addSubtitleFile(const QString &path)
{
    if (phase != Phase::Ready || !info.hasVideo)
        return false;
    const bool listed = std::any_of(info.subtitleFiles.cbegin(), info.subtitleFiles.cend(),
                                    [&](const SubtitleFileTrack &file) { return file.path == path; });
    if (!listed)
        info.subtitleFiles << SubtitleFileTrack{path, QString()};
    if (path == info.subtitleFile)
        emit tracksChanged();
    else
        setSubtitleFile(path);
    return true;
}

void PlaybackController::onRefreshed(const VideoFrame &frame)
{
    if (frame.serial != serial.load() || frame.ptsMs != current.ptsMs || !shownSinceReset)
        return;
    current.image = frame.image;
    if (!stopped)
        emit frameReady(current.image);
}

qint64 PlaybackController::position() const
{
    if (phase != Phase::Ready)
        return 0;
    qint64 at;
    // The frame on screen, but never before the place a seek asked for: the frame
    // shown for an exact seek may begin a little before its target.
    if (info.hasVideo)
        at = shownSinceReset ? qMax(current.ptsMs, seekTargetMs) : seekTargetMs;
    else
        at = qint64(clock.position());
    at = qMax<qint64>(0, at);
    return info.durationMs > 0 ? qMin(at, info.durationMs) : at;
}

bool PlaybackController::hasSoundOutput() const
{
    return audio->outputAvailable();
}

quint64 PlaybackController::framesDropped() const
{
    return droppedCount + video->framesDroppedLate();
}

void PlaybackController::schedulePresent()
{
    if (!presentTimer->isActive() || presentTimer->remainingTime() > 0)
        presentTimer->start(0);
}

void PlaybackController::present()
{
    if (phase != Phase::Ready || stopped)
        return;
    const int playSerial = serial.load();

    // Without sound to follow, time starts moving with the first picture (or at once
    // when there is no picture at all).
    if (playing && clock.isHeld() && clock.master() == MediaClock::Master::Wall
        && (shownSinceReset || !info.hasVideo))
        clock.release();

    qint64 waitMs = idleCheckMs;
    VideoFrame frame;
    while (frames.peek(frame)) {
        if (frame.serial != playSerial) {
            frames.pop();
            continue;
        }
        if (frame.endOfStream) {
            frames.pop();
            videoEnded = true;
            continue;
        }
        if (showNext) {
            // The picture at the new place, shown at once, playing or not.
            showNext = false;
            frames.pop();
            if (lastSeekFast && clock.isHeld()) {
                // A fast seek goes on from the key frame it found, not from where the
                // handle was.
                seekTargetMs = frame.ptsMs;
                clock.reset(double(frame.ptsMs), clock.master(), playSerial);
            }
            showFrame(frame);
            if (playing && clock.isHeld() && clock.master() == MediaClock::Master::Wall)
                clock.release();
            continue;
        }
        if (!playing)
            break;
        const double now = clock.position();
        if (double(frame.ptsMs) > now) {
            waitMs = qMin<qint64>(idleCheckMs, qint64(std::ceil(double(frame.ptsMs) - now)));
            break;
        }
        VideoFrame next;
        const bool superseded = frames.peekSecond(next) && next.serial == playSerial && !next.endOfStream
            && double(next.ptsMs) <= now;
        frames.pop();
        if (superseded && wall.elapsed() - lastShownWallMs < maxDropSpanMs) {
            ++droppedCount;
            continue;
        }
        showFrame(frame);
    }

    checkEnd();
    if (playing && !finishEmitted)
        presentTimer->start(int(qMax<qint64>(1, waitMs)));
}

void PlaybackController::showFrame(const VideoFrame &frame)
{
    current = frame;
    shownSinceReset = true;
    lastShownWallMs = wall.elapsed();
    ++shownCount;
    emit frameReady(frame.image);
    if (hasPendingFastSeek)
        QTimer::singleShot(0, this, &PlaybackController::runPendingFastSeek);
}

void PlaybackController::onAudioEnded(int playSerial)
{
    if (playSerial != serial.load())
        return;
    audioEnded = true;
    checkEnd();
}

void PlaybackController::checkEnd()
{
    if (finishEmitted || phase != Phase::Ready)
        return;
    // The last picture stays until its own time is over.
    const bool videoDone = !info.hasVideo
        || (videoEnded && (!shownSinceReset || clock.position() >= double(current.ptsMs + current.durationMs)));
    const bool audioDone = !info.hasAudio || audioEnded;
    if (!videoDone || !audioDone)
        return;
    finishEmitted = true;
    presentTimer->stop();
    emit finished();
}
