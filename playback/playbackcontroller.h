#pragma once

// The playback engine, as the window sees it.
//
// Threads and who owns what:
// - GUI thread: this controller. It owns everything below, takes the window's
//   commands (none of them waits for anything), and paces the pictures: a precise
//   timer wakes it when the next converted frame is due on the media clock; a frame
//   whose successor is already due is dropped, never shown late.
// - Demuxer thread (Demuxer): owns the open file, reads it into two bounded packet
//   queues (read-ahead capped in seconds and bytes) and runs the newest open or seek.
//   It decodes the chosen subtitle stream itself, or reads a subtitle file whole,
//   and feeds the file's SubtitleRenderer.
// - Video thread (VideoWorker): decodes the picture, drops what lies before an exact
//   seek's target or far behind the clock, and converts each frame straight to the
//   size it is shown at, into a queue of three frames, subtitles drawn in at the
//   frame's own time (so they follow the picture through seeks and pauses).
// - Audio thread (AudioWorker, a QThread): decodes the sound, trims it to the seek
//   target, resamples it to the output's format and writes it into the output; it
//   tells the clock which moment is being heard.
// - MediaClock: follows the sound while it plays, the wall clock otherwise.
// Every packet, frame and clock report carries the serial number of the play it
// belongs to (a load, seek or stop starts a new one), so nothing from before a flush
// is ever shown or heard. Data crosses threads only through the queues (each locks
// itself), the clock (locked), the serial (atomic) and queued calls.
//
// A play ends (finished()) once, when every stream is done: the picture when its last
// frame has had its time, the sound when the output has played everything written.
// The shorter stream waits for the longer one.

#include "playback/audioworker.h"
#include "playback/framequeue.h"
#include "playback/mediaclock.h"
#include "playback/mediainfo.h"
#include "playback/packetqueue.h"
#include "playback/videoframe.h"
#include "playback/wakeup.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <atomic>
#include <memory>

class Demuxer;
class QThread;
class QTimer;
class VideoWorker;

class PlaybackController : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        // Where sound goes; by default the system's default output through Qt.
        AudioWorker::BackendFactory audioBackend;
    };

    enum class SeekMode {
        Exact, // the picture and the sound start at the target itself
        Fast,  // the nearest earlier key frame: quick feedback while dragging
    };

    explicit PlaybackController(QObject *parent = nullptr, Options options = Options());
    ~PlaybackController() override;

    // Replaces whatever is open. Answers later with loaded() or loadFailed().
    void load(const QString &path);
    void play();
    void pause();
    // Silent and still at once; what is queued is discarded. The file stays open at
    // its place, so play() goes on from there.
    void stop();
    void seek(qint64 ms, SeekMode mode = SeekMode::Exact);
    // Lets go of the file: nothing is open afterwards.
    void close();
    void setVolume(double linear);
    double volume() const { return currentVolume; }
    // The area the picture is shown in, in device pixels; cover: it fills the area
    // and is cropped (full screen). A change while paused converts the picture on
    // screen again.
    void setVideoArea(QSize area, bool cover);

    // Track choice, by stream index as mediaInfo() lists them. Each takes effect at
    // once, at the place playback is: the file is not opened again.
    void setAudioTrack(int streamIndex);
    // -1: no subtitles.
    void setSubtitleTrack(int streamIndex);
    // One of mediaInfo().subtitleFiles, or any other subtitle file.
    void setSubtitleFile(const QString &path);
    // A subtitle file for the open video (dropped on the window): listed among its
    // subtitle files and shown. False when no video is open to show it on.
    bool addSubtitleFile(const QString &path);

    bool isOpen() const { return phase == Phase::Ready; }
    bool isLoading() const { return phase == Phase::Loading; }
    bool isPlaying() const { return playing; }
    QString currentFile() const { return isOpen() ? info.path : QString(); }
    const MediaInfo &mediaInfo() const { return info; }
    qint64 duration() const { return info.durationMs; }
    bool hasVideo() const { return isOpen() && info.hasVideo; }
    bool hasAudio() const { return isOpen() && info.hasAudio; }
    double frameRate() const { return info.frameRate; }
    // Where playback is: the picture on screen, or for sound alone the moment heard.
    qint64 position() const;
    bool hasSoundOutput() const;

    // For tests and benchmarks.
    quint64 framesShown() const { return shownCount; }
    quint64 framesDropped() const;
    qint64 lastShownPts() const { return shownSinceReset ? current.ptsMs : -1; }
    const MediaClock &mediaClock() const { return clock; }

signals:
    void loaded(const MediaInfo &info);
    void loadFailed(const QString &path, const QString &message);
    // The picture to show now.
    void frameReady(const QImage &frame);
    // Every stream of the play has come to its end.
    void finished();
    void soundOutputChanged(bool available);
    // The chosen tracks or the list of subtitle files changed (mediaInfo() says how).
    void tracksChanged();
    // A subtitle track or file could not be shown, or not in full: for the user.
    void subtitleError(const QString &message);

private:
    enum class Phase { Idle, Loading, Ready, Failed };

    int beginPlay(double atMs);
    MediaClock::Master masterFor() const;
    void onOpened(int serial, const MediaInfo &opened);
    void onOpenFailed(int serial, const QString &path, const QString &message);
    void onRefreshed(const VideoFrame &frame);
    void onAudioEnded(int serial);
    void schedulePresent();
    void present();
    void showFrame(const VideoFrame &frame);
    void checkEnd();
    void runPendingFastSeek();
    void restartHere();

    std::atomic<int> serial{0};
    Wakeup demuxWakeup;
    Wakeup videoWakeup;
    PacketQueue videoPackets;
    PacketQueue audioPackets;
    FrameQueue frames;
    MediaClock clock;
    std::unique_ptr<Demuxer> demuxer;
    std::unique_ptr<VideoWorker> video;
    QThread *audioThread = nullptr;
    AudioWorker *audio = nullptr;
    // Set by the audio thread as it finishes, read after joining it: QThread::wait()
    // orders the two only through Qt's own lock, which race checkers cannot see.
    std::atomic<bool> audioThreadDone{false};
    std::atomic<bool> presentPosted{false};

    // GUI thread only.
    Phase phase = Phase::Idle;
    MediaInfo info;
    bool playing = false;
    bool stopped = false;
    double currentVolume = 1.0;
    QTimer *presentTimer = nullptr;
    QTimer *fastSeekTimer = nullptr;
    VideoFrame current;
    bool shownSinceReset = false;
    bool showNext = false;          // the first frame after a seek is shown at once
    qint64 seekTargetMs = 0;
    bool lastSeekFast = false;
    bool videoEnded = false;
    bool audioEnded = false;
    bool finishEmitted = false;
    bool hasPendingSeek = false;    // a seek asked for while the file was still opening
    qint64 pendingSeekMs = 0;
    SeekMode pendingSeekMode = SeekMode::Exact;
    bool hasPendingFastSeek = false;
    qint64 pendingFastSeekMs = 0;
    QElapsedTimer wall;
    qint64 lastShownWallMs = 0;
    quint64 shownCount = 0;
    quint64 droppedCount = 0;
};
